#include "upload/FtpDriver.h"

#include "platform/Error.h"
#include "upload/UploadSession.h"
#include "upload/UploadErrors.h"

namespace quaddle {

namespace {
constexpr int TimeoutSeconds = 15;
}

TUploadFTP::TUploadFTP(TUpload& session) : TUploadProtokoll(session) {
    Client.OnProgress = [this](qint64 sent) {
        Session.ReportProgress(Client.LocalFileName, Client.HostFileName, sent);
    };
    Client.OnError = [this](const QString& message) { ClientError(message); };
    Client.OnCommand = [this](const QString& line) {
        // Any line with PASS in it may carry the password.
        Session.AddLog(line.contains(QLatin1String("PASS")) ? QStringLiteral("--> (Password)")
                                                            : QStringLiteral("--> ") + line,
                       LogTraffic);
    };
    Client.OnResponse = [this](const QString& line) { Session.AddLog(line, LogTraffic); };
}

TUploadFTP::~TUploadFTP() {
    Abort();
}

void TUploadFTP::Abort() {
    Client.Abort();
}

bool TUploadFTP::Connect(const QString& host, const QString& port, const QString& user,
                         const QString& password) {
    Client.Binary = !(GetOptions() & TextMode);
    Client.Passive = GetOptions() & PassiveMode;
    Client.Timeout = TimeoutSeconds;
    Client.HostName = host;
    Client.Port = port;
    Client.UserName = user;
    Client.PassWord = password;
    // After a refused login the connection is still open and the login is tried on it again.
    if (!Client.Connected() && !Client.Open())
        throw TError(UploadErrors::ConnectFailed);
    const bool loggedIn = Client.User() && Client.Pass();
    Client.Type();
    return loggedIn;
}

bool TUploadFTP::ChangeDir(const QString& dir) {
    EnsureConnected();
    Client.HostDirName = dir;
    if (Client.ChangeDir())
        return true;
    // A connection lost during CWD (not by Cancel) is no missing directory: nothing to offer
    // to create.
    if (!Session.Cancelled())
        EnsureConnected();
    return false;
}

bool TUploadFTP::FileExists(const QString& name) {
    EnsureConnected();
    Client.HostFileName = name;
    // An empty remote file, or a server without SIZE, counts as no file.
    return Client.Size() && Client.SizeResult() > 0;
}

bool TUploadFTP::MakeDir(const QString& dir) {
    EnsureConnected();
    Client.HostFileName = dir;
    return Client.MakeDir();
}

bool TUploadFTP::PutFile(const QString& localPath) {
    EnsureConnected();
    const QString name = FileNameOf(localPath);
    Session.ReportFileStart(name);
    Client.LocalFileName = localPath;
    Client.HostFileName = name;
    return Client.Store() && !Session.Cancelled();
}

bool TUploadFTP::RenameFile(const QString& oldName, const QString& newName) {
    EnsureConnected();
    Client.HostFileName = oldName;
    Client.LocalFileName = newName;
    return Client.Rename();
}

QString TUploadFTP::LastError() {
    return Client.LastResponse();
}

void TUploadFTP::EnsureConnected() const {
    if (!Client.Connected())
        throw TError(UploadErrors::ConnectionLost);
}

void TUploadFTP::ClientError(const QString& message) {
    Session.AddLog(QStringLiteral("FTP Error [%1]: %2").arg(Client.StatusCode()).arg(message),
                   LogError);
    if (!Session.AskIgnoreError(message))
        Abort();
}

} // namespace quaddle
