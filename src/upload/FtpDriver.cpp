#include "upload/FtpDriver.h"

#include "platform/Error.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

namespace quaddle {

namespace {
constexpr int TimeoutSeconds = 15;
}

FtpDriver::FtpDriver(UploadSession& session) : ProtocolDriver(session) {
    m_client.onProgress = [this](qint64 sent) {
        m_session.reportProgress(m_client.localFileName, m_client.hostFileName, sent);
    };
    m_client.onError = [this](const QString& message) { clientError(message); };
    m_client.onCommand = [this](const QString& line) {
        // Any line with PASS in it may carry the password.
        m_session.addLog(line.contains(QLatin1String("PASS")) ? QStringLiteral("--> (Password)")
                                                              : QStringLiteral("--> ") + line,
                         LogTraffic);
    };
    m_client.onResponse = [this](const QString& line) { m_session.addLog(line, LogTraffic); };
}

FtpDriver::~FtpDriver() {
    abort();
}

void FtpDriver::abort() {
    m_client.abort();
}

bool FtpDriver::connect(const QString& host, const QString& port, const QString& user,
                        const QString& password) {
    m_client.binary = !(options() & TextMode);
    m_client.passive = options() & PassiveMode;
    m_client.timeout = TimeoutSeconds;
    m_client.hostName = host;
    m_client.port = port;
    m_client.userName = user;
    m_client.password = password;
    // After a refused login the connection is still open and the login is tried on it again.
    if (!m_client.connected() && !m_client.open()) {
        if (m_session.cancelled())
            return false;
        throw Error(UploadErrors::connectFailed(host, port, m_client.lastResponse()));
    }
    const bool loggedIn = m_client.user() && m_client.pass();
    m_client.type();
    return loggedIn && !m_session.cancelled();
}

bool FtpDriver::changeDir(const QString& dir) {
    ensureConnected();
    m_client.hostDirName = dir;
    if (m_client.changeDir())
        return true;
    // A connection lost during CWD (not by Cancel) is no missing directory: nothing to offer
    // to create.
    if (!m_session.cancelled())
        ensureConnected();
    return false;
}

bool FtpDriver::fileExists(const QString& name) {
    ensureConnected();
    m_client.hostFileName = name;
    // An empty remote file, or a server without SIZE, counts as no file.
    return m_client.size() && m_client.sizeResult() > 0;
}

bool FtpDriver::makeDir(const QString& dir) {
    ensureConnected();
    m_client.hostFileName = dir;
    return m_client.makeDir();
}

bool FtpDriver::putFileAs(const QString& localPath, const QString& remoteName) {
    ensureConnected();
    m_session.reportFileStart(remoteName);
    m_client.localFileName = localPath;
    m_client.hostFileName = remoteName;
    return m_client.store() && !m_session.cancelled();
}

bool FtpDriver::renameFile(const QString& oldName, const QString& newName) {
    ensureConnected();
    m_client.hostFileName = oldName;
    m_client.localFileName = newName;
    return m_client.rename();
}

bool FtpDriver::removeFile(const QString& name) {
    ensureConnected();
    m_client.hostFileName = name;
    return m_client.deleteFile();
}

bool FtpDriver::setPermissions(const QString& name, const QString& mode) {
    ensureConnected();
    m_client.hostFileName = name;
    return m_client.changeMode(mode);
}

QString FtpDriver::lastError() {
    return m_client.lastResponse();
}

void FtpDriver::ensureConnected() const {
    if (!m_client.connected())
        throw Error(UploadErrors::ConnectionLost);
}

void FtpDriver::clientError(const QString& message) {
    m_session.addLog(QStringLiteral("FTP Error [%1]: %2").arg(m_client.statusCode()).arg(message),
                     LogError);
    if (!m_session.askIgnoreError(message))
        abort();
}

} // namespace quaddle
