#pragma once

#include "platform/QtDialogs.h"

#include <memory>

namespace quaddle {

// The program's dialogs: the platform's message boxes and file dialog, and its own windows.
class TFormDialog;

class TAppDialogs : public TQtDialogs {
public:
    TAppDialogs();
    ~TAppDialogs() override;

    TMasterPassResult AskMasterPassword(TMasterPassMode mode, QString& password) override;
    bool AskLogin(QString& user, QString& password) override;
    int AskUser(TAskMode mode, const QString& name) override;

private:
    // Created on the first question and kept, so its "Remember" tick lasts.
    std::unique_ptr<TFormDialog> FormDialog;
};

} // namespace quaddle
