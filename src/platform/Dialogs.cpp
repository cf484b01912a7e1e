#include "platform/Dialogs.h"

#include <QtGlobal>

namespace quaddle {

namespace {
TDialogs* installed = nullptr;
}

TDialogs& Dialogs() {
    Q_ASSERT_X(installed, "Dialogs", "no dialogs implementation installed");
    return *installed;
}

void InstallDialogs(TDialogs* dialogs) {
    installed = dialogs;
}

} // namespace quaddle
