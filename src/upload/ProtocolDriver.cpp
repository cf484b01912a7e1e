#include "upload/ProtocolDriver.h"

#include "upload/UploadSession.h"

namespace quaddle {

void ProtocolDriver::sendFiles(const QList<FileTransfer>& files, const TransferEvents& events) {
    bool goOn = true;
    for (qsizetype index = 0; index < files.size() && goOn; ++index) {
        const FileTransfer& file = files[index];
        events.started(index);
        TransferResult result;
        result.sent = putFileAs(file.localPath, file.remoteName) &&
                      (file.finalName.isEmpty() || m_session.lastStep([&] {
                          return replaceFile(file.remoteName, file.finalName);
                      }));
        if (!result.sent) {
            result.error = lastError();
            result.refused = lastFailureRefused();
        } else {
            result.sha256 = sentDigest();
            if (!file.mode.isEmpty() &&
                !setPermissions(file.finalName.isEmpty() ? file.remoteName : file.finalName,
                                file.mode))
                result.modeError = lastError();
        }
        goOn = events.finished(index, result);
    }
}

} // namespace quaddle
