#include "app/AppDialogs.h"

#include "config/MasterPasswordDialog.h"
#include "upload/FileExistsDialog.h"
#include "upload/LoginDialog.h"

#include <QApplication>

namespace quaddle {

TAppDialogs::TAppDialogs() = default;

TAppDialogs::~TAppDialogs() = default;

TMasterPassResult TAppDialogs::AskMasterPassword(TMasterPassMode mode, QString& password) {
    TFMasterPass dialog(QApplication::activeWindow());
    dialog.SetMode(mode);
    dialog.SetPassword(password);
    dialog.exec();
    password = dialog.Password();
    return dialog.Outcome();
}

bool TAppDialogs::AskLogin(QString& user, QString& password) {
    TFormLogin dialog(QApplication::activeWindow());
    return dialog.Ask(user, password);
}

int TAppDialogs::AskUser(TAskMode mode, const QString& name) {
    if (!FormDialog)
        FormDialog = std::make_unique<TFormDialog>();
    return FormDialog->Ask(mode, name);
}

} // namespace quaddle
