#include "platform/Dialogs.h"

#include <QtGlobal>
#include <utility>

namespace quaddle {

namespace {
Dialogs* installed = nullptr;
}

Dialogs& dialogs() {
    Q_ASSERT_X(installed, "Dialogs", "no dialogs implementation installed");
    return *installed;
}

Dialogs* installDialogs(Dialogs* dialogs) {
    return std::exchange(installed, dialogs);
}

} // namespace quaddle
