#include "upload/UploadDrivers.h"

#include "upload/UploadFTP.h"

namespace quaddle {

TDriverFactory StandardDrivers() {
    return [](TUpload& session, int serverType) -> std::unique_ptr<TUploadProtokoll> {
        if (serverType == 0)
            return std::make_unique<TUploadFTP>(session);
        return nullptr;
    };
}

} // namespace quaddle
