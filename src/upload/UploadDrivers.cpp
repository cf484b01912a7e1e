#include "upload/UploadDrivers.h"

#include "config/Config.h"
#include "platform/Psftp.h"
#include "upload/FtpDriver.h"
#include "upload/OpenSshDriver.h"
#include "upload/SftpDriver.h"

#include <optional>

namespace quaddle {

namespace {

std::unique_ptr<ProtocolDriver> sftpDriver(UploadSession& session, const QString& programDir,
                                           const QString& sshClient) {
    if (sshClient == SshClientPsftp)
        return std::make_unique<SftpDriver>(session, findPsftp(programDir));
    return std::make_unique<OpenSshDriver>(session);
}

std::unique_ptr<ProtocolDriver> driverFor(UploadSession& session, int serverType,
                                          const QString& programDir, const QString& sshClient) {
    switch (ServerType{serverType}) {
    case ServerType::Ftp:
        return std::make_unique<FtpDriver>(session);
    case ServerType::Ftps:
        return std::make_unique<FtpDriver>(session, true);
    case ServerType::Sftp:
        return sftpDriver(session, programDir, sshClient);
    }
    return nullptr;
}

// Tests that run the program against servers that never answer set this, so that none waits
// out the real time-out.
std::optional<int> answerTimeoutForTests() {
    bool set = false;
    const int milliseconds = qEnvironmentVariableIntValue("QUADDLE_TEST_ANSWER_TIMEOUT_MS", &set);
    return set && milliseconds > 0 ? std::optional<int>(milliseconds) : std::nullopt;
}

} // namespace

DriverFactory standardDrivers(const QString& programDir, const QString& sshClient) {
    return [programDir, sshClient](UploadSession& session, int serverType) {
        std::unique_ptr<ProtocolDriver> driver =
            driverFor(session, serverType, programDir, sshClient);
        if (const std::optional<int> timeout = answerTimeoutForTests(); driver && timeout)
            driver->setAnswerTimeout(*timeout);
        return driver;
    };
}

} // namespace quaddle
