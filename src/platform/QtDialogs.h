#pragma once

#include "platform/Dialogs.h"

namespace quaddle {

// Shows real modal windows, parented to whichever window of the program is active.
class TQtDialogs : public TDialogs {
public:
    TMsgAnswer ShowMessage(const QString& text, TMsgKind kind, TMsgButtons buttons) override;
    QStringList ChooseFiles(const QString& title) override;
};

} // namespace quaddle
