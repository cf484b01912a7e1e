#include "platform/Dialogs.h"

#include <QtGlobal>
#include <utility>

namespace quaddle {

namespace {
Dialogs* installed = nullptr;
}

MessageAnswer closingAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        return MessageAnswer::No;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::OkAbort:
        return MessageAnswer::Abort;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

MessageAnswer Dialogs::showMessage(const QString& text, MessageKind kind, MessageButtons buttons) {
    notify(kind, text);
    return closingAnswer(buttons);
}

Dialogs& dialogs() {
    Q_ASSERT_X(installed, "Dialogs", "no dialogs implementation installed");
    return *installed;
}

Dialogs* installDialogs(Dialogs* dialogs) {
    return std::exchange(installed, dialogs);
}

} // namespace quaddle
