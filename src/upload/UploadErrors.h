#pragma once

#include <QString>

namespace quaddle {

// The errors that end an upload run, as the user reads them.
namespace UploadErrors {
const QString FileMissing = QStringLiteral("A file you are trying to upload does not exist.");
const QString ChangeDirFailed =
    QStringLiteral("Could not change working directory. Please make sure that the directory "
                   "exists and is writable.");
const QString ConnectFailed =
    QStringLiteral("Could not connect to remote server. Please check your server settings.");
const QString MakeDirFailed = QStringLiteral(
    "Could not create directory. Please create the directory manually and try again.");
const QString ConnectionLost =
    QStringLiteral("Quaddle lost connection to the server. Please try again.");
const QString UnexpectedResponse = QStringLiteral("Unexpected response.");
const QString HostKeyChanged = QStringLiteral(
    "The server's host key has changed, so the connection was not made: someone may be "
    "intercepting it, or the server was reinstalled. Ask the server's administrator whether "
    "the new key is right before you connect again.");
const QString TlsRefused = QStringLiteral(
    "The server does not offer TLS, so the connection was not made and nothing was sent in "
    "clear text. Choose the server type FTP only if you accept an unencrypted connection.");
const QString TlsFailed = QStringLiteral("The secure connection (TLS) to the server failed.");
const QString CertificateRefused =
    QStringLiteral("The server's certificate was not trusted, so the connection was not made.");
const QString HelperMissing =
    QStringLiteral("Some required files are missing. Please reinstall Quaddle.");
const QString LoginFailed =
    QStringLiteral("The server ended the login without accepting or refusing the user name and "
                   "password. Please check your server settings.");
const QString ProtocolViolation =
    QStringLiteral("The server broke the FTP protocol, so the connection was closed.");

// What to check, after an error's reason.
const QString CheckFolder =
    QStringLiteral("Check that the folder is writable, or the root folder in the server manager.");
const QString CheckServerRunning = QStringLiteral("Is the server running, and is the port right?");
const QString CheckHostName =
    QStringLiteral("Is the host name right? No server of that name could be found.");

// Where it happened and why, after an error's first line.
inline QString atServer(const QString& host, const QString& port, const QString& reason) {
    return QLatin1Char('\n') + QStringLiteral("%1, port %2: %3").arg(host, port, reason);
}

// The error for a file that is gone, naming it.
inline QString fileMissing(const QString& path) {
    return FileMissing + QLatin1Char('\n') + path;
}
// The error for a second file of one upload going to the same name, which would replace the
// first one on the server while both addresses are handed out.
inline QString sameNameTwice(const QString& path, const QString& name) {
    return QStringLiteral("\"%1\" was not uploaded: another file of this upload goes to the "
                          "server as \"%2\".")
        .arg(path, name);
}
// Whether the system's reason for a failed connection says that the host name is unknown, in
// the words of Qt, OpenSSH or psftp.
inline bool hostNameUnknown(const QString& reason) {
    for (const char* words :
         {"Host not found", "Could not resolve hostname", "Host does not exist"})
        if (reason.contains(QLatin1String(words), Qt::CaseInsensitive))
            return true;
    return false;
}
// The error for a server that cannot be reached: where, the system's reason, and what to check.
inline QString connectFailed(const QString& host, const QString& port, const QString& reason) {
    return ConnectFailed + atServer(host, port, reason) + QLatin1Char('\n') +
           (hostNameUnknown(reason) ? CheckHostName : CheckServerRunning);
}
// The error for a file the server did not take: which file, into which folder of which server,
// and why; when the server refused it, what to check.
inline QString uploadFailed(const QString& name, const QString& folder, const QString& host,
                            const QString& port, const QString& reason, bool refused) {
    const QString failed = QStringLiteral("\"%1\" could not be uploaded to the folder \"%2\" on "
                                          "%3, port %4:\n%5")
                               .arg(name, folder, host, port, reason);
    return refused ? failed + QLatin1Char('\n') + CheckFolder : failed;
}
// The error for a folder that could not be made: which, where, and the server's reply.
inline QString makeDirFailed(const QString& dir, const QString& host, const QString& port,
                             const QString& reason) {
    return MakeDirFailed + atServer(host, port, QStringLiteral("\"%1\": %2").arg(dir, reason));
}
// The error for a login that neither succeeded nor was refused.
inline QString loginFailed(const QString& host, const QString& port, const QString& reason) {
    return LoginFailed + atServer(host, port, reason);
}
// The error for a server that broke the protocol, saying how.
inline QString protocolViolation(const QString& host, const QString& port, const QString& what) {
    return ProtocolViolation + atServer(host, port, what);
}
} // namespace UploadErrors

} // namespace quaddle
