#include "upload/UploadDrivers.h"

#include "platform/Psftp.h"
#include "upload/FtpDriver.h"
#include "upload/SftpDriver.h"

namespace quaddle {

DriverFactory standardDrivers(const QString& programDir) {
    return [programDir](UploadSession& session, int serverType) -> std::unique_ptr<ProtocolDriver> {
        if (serverType == 0)
            return std::make_unique<FtpDriver>(session);
        if (serverType == 2)
            return std::make_unique<FtpDriver>(session, true);
        if (serverType == 1)
            return std::make_unique<SftpDriver>(session, findPsftp(programDir));
        return nullptr;
    };
}

} // namespace quaddle
