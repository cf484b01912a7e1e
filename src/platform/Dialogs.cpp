#include "platform/Dialogs.h"

#include <QtGlobal>
#include <utility>

namespace quaddle {

namespace {
Dialogs* installed = nullptr;
}

bool Dialogs::trustIdentity(const IdentityQuestion& question) {
    const MessageAnswer answer = showMessage(question.text, question.icon, question.buttons);
    return answer == MessageAnswer::Ok || answer == MessageAnswer::Yes;
}

Dialogs& dialogs() {
    Q_ASSERT_X(installed, "Dialogs", "no dialogs implementation installed");
    return *installed;
}

Dialogs* installDialogs(Dialogs* dialogs) {
    return std::exchange(installed, dialogs);
}

} // namespace quaddle
