#include "app/AppDialogs.h"

#include "config/MasterPasswordDialog.h"
#include "upload/FileExistsDialog.h"
#include "upload/LoginDialog.h"

#include <QApplication>

namespace quaddle {

AppDialogs::AppDialogs() = default;

AppDialogs::~AppDialogs() = default;

MasterPasswordResult AppDialogs::askMasterPassword(MasterPasswordMode mode, QString& password) {
    MasterPasswordDialog dialog(QApplication::activeWindow());
    dialog.setMode(mode);
    dialog.setPassword(password);
    dialog.exec();
    password = dialog.password();
    return dialog.outcome();
}

bool AppDialogs::askLogin(QString& user, QString& password) {
    LoginDialog dialog(QApplication::activeWindow());
    return dialog.ask(user, password);
}

int AppDialogs::askUser(AskMode mode, const QString& name) {
    if (!m_fileExistsDialog)
        m_fileExistsDialog = std::make_unique<FileExistsDialog>();
    return m_fileExistsDialog->ask(mode, name);
}

} // namespace quaddle
