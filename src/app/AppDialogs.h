#pragma once

#include "platform/QtDialogs.h"

namespace quaddle {

// The program's dialogs: the platform's message boxes and file dialog, and its own windows.
class TAppDialogs : public TQtDialogs {
public:
    TMasterPassResult AskMasterPassword(TMasterPassMode mode, QString& password) override;
};

} // namespace quaddle
