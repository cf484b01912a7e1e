#include "upload/UploadDrivers.h"

#include "platform/Psftp.h"
#include "upload/FtpDriver.h"
#include "upload/SftpDriver.h"

namespace quaddle {

TDriverFactory StandardDrivers(const QString& programDir) {
    return [programDir](TUpload& session, int serverType) -> std::unique_ptr<TUploadProtokoll> {
        if (serverType == 0)
            return std::make_unique<TUploadFTP>(session);
        if (serverType == 1)
            return std::make_unique<TUploadSFTP>(session, FindPsftp(programDir));
        return nullptr;
    };
}

} // namespace quaddle
