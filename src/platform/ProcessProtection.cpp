#include "platform/ProcessProtection.h"

#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace quaddle {

void keepSecretsOutOfCoreDumps() {
    // Both: a core_pattern that pipes to a crash collector ignores the size limit.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

void wipe(QByteArray& secret) {
    if (!secret.isDetached())
        return;
    wipe(secret.data(), static_cast<size_t>(secret.size()));
}

void wipe(QString& secret) {
    if (!secret.isDetached())
        return;
    wipe(secret.data(), static_cast<size_t>(secret.size()) * sizeof(QChar));
}

void wipe(void* secret, size_t size) {
    explicit_bzero(secret, size);
}

} // namespace quaddle
