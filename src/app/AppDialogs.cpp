#include "app/AppDialogs.h"

#include "gui/FileExistsDialog.h"
#include "gui/LoginDialog.h"
#include "gui/MasterPasswordDialog.h"

namespace quaddle {

AppDialogs::AppDialogs() = default;

AppDialogs::~AppDialogs() = default;

MasterPasswordResult AppDialogs::askMasterPassword(MasterPasswordMode mode, QString& password) {
    QWidget* asking = askingWindow();
    MasterPasswordDialog dialog(asking);
    dialog.setMode(mode);
    // Before the program shows a window, declining is not the only way out.
    dialog.setQuitOffered(!asking && mode != MasterPasswordMode::Set);
    dialog.setPassword(password);
    dialog.exec();
    password = dialog.password();
    return dialog.outcome();
}

bool AppDialogs::askLogin(const LoginTarget& target, LoginAnswer& login) {
    LoginDialog dialog(askingWindow());
    return dialog.ask(target, login);
}

FileExistsAnswer AppDialogs::askFileExists(const QString& name) {
    return fileExistsDialog().askFileExists(name);
}

MissingDirAnswer AppDialogs::askMissingDir(const QString& dir) {
    return fileExistsDialog().askMissingDir(dir);
}

FileExistsDialog& AppDialogs::fileExistsDialog() {
    if (!m_fileExistsDialog)
        m_fileExistsDialog = std::make_unique<FileExistsDialog>();
    // Kept without a parent, as it outlives the windows; it still shows over the one asking.
    m_fileExistsDialog->setCentredOver(askingWindow());
    return *m_fileExistsDialog;
}

} // namespace quaddle
