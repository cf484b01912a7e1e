#include "platform/ContextRegistration.h"

namespace quaddle {

bool IsContextRegistered(const QString& programDir) {
    // The desktop entry is not installed by this version, so it is never registered.
    Q_UNUSED(programDir);
    return false;
}

} // namespace quaddle
