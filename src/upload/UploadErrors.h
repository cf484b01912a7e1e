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
// The error for a server that cannot be reached: where, and the system's reason.
inline QString connectFailed(const QString& host, const QString& port, const QString& reason) {
    return ConnectFailed + atServer(host, port, reason);
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
