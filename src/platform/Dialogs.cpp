#include "platform/Dialogs.h"

#include <QtGlobal>
#include <utility>

namespace quaddle {

namespace {
TDialogs* installed = nullptr;
}

TDialogs& Dialogs() {
    Q_ASSERT_X(installed, "Dialogs", "no dialogs implementation installed");
    return *installed;
}

TDialogs* InstallDialogs(TDialogs* dialogs) {
    return std::exchange(installed, dialogs);
}

} // namespace quaddle
