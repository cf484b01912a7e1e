#pragma once

#include "gui/QtDialogs.h"

#include <memory>

namespace quaddle {

// The program's dialogs: the platform's message boxes and file dialog, and its own windows.
class FileExistsDialog;

class AppDialogs : public QtDialogs {
public:
    AppDialogs();
    ~AppDialogs() override;

    MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) override;
    bool askLogin(const LoginTarget& target, LoginAnswer& login) override;
    FileExistsAnswer askFileExists(const QString& name) override;
    MissingDirAnswer askMissingDir(const QString& dir) override;

private:
    FileExistsDialog& fileExistsDialog();

    // Created on the first question and kept, so its "Remember" tick lasts.
    std::unique_ptr<FileExistsDialog> m_fileExistsDialog;
};

} // namespace quaddle
