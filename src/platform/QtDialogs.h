#pragma once

#include "platform/Dialogs.h"

namespace quaddle {

// Shows the platform's message boxes and file dialog as real modal windows, parented to
// whichever window of the program is active. The program's own dialogs are added by the
// program's subclass.
class QtDialogs : public Dialogs {
public:
    MessageAnswer showMessage(const QString& text, MessageKind kind,
                              MessageButtons buttons) override;
    QStringList chooseFiles(const QString& title) override;
};

} // namespace quaddle
