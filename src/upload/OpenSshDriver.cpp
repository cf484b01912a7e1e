#include "upload/OpenSshDriver.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "upload/Askpass.h"
#include "upload/SftpClient.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStandardPaths>

namespace quaddle {

namespace {

// Ports stored with a server that never had one of its own: ssh's default applies then.
bool defaultPort(const QString& port) {
    return port.isEmpty() || port == QLatin1String("21");
}

bool isHostKeyPrompt(const QString& prompt) {
    return prompt.contains(QLatin1String("continue connecting"));
}

bool isPassphrasePrompt(const QString& prompt) {
    return prompt.contains(QLatin1String("passphrase"), Qt::CaseInsensitive);
}

} // namespace

OpenSshDriver::OpenSshDriver(UploadSession& session)
    : ProtocolDriver(session), m_askpassProgram(QCoreApplication::applicationFilePath()) {}

OpenSshDriver::~OpenSshDriver() = default;

void OpenSshDriver::setSshCommand(const QString& program, const QStringList& extraOptions) {
    m_sshProgram = program;
    m_extraOptions = extraOptions;
}

void OpenSshDriver::setAskpassProgram(const QString& program) {
    m_askpassProgram = program;
}

void OpenSshDriver::setAnswerTimeout(int milliseconds) {
    m_timeoutMs = milliseconds;
    if (m_client)
        m_client->timeoutMs = milliseconds;
}

void OpenSshDriver::abort() {
    if (m_client)
        m_client->stop();
}

QStringList OpenSshDriver::commandLine(const QString& host, const QString& port,
                                       const QString& user) const {
    const QString program = m_sshProgram.isEmpty()
                                ? QStandardPaths::findExecutable(QStringLiteral("ssh"))
                                : m_sshProgram;
    if (program.isEmpty())
        throw Error(QStringLiteral("OpenSSH's ssh (package openssh-client) is needed for SFTP."));
    QStringList command{program};
    command += m_extraOptions;
    if (!defaultPort(port))
        command += {QStringLiteral("-p"), port};
    if (!user.isEmpty())
        command += {QStringLiteral("-l"), user};
    if (!m_keyFile.isEmpty())
        command += {QStringLiteral("-i"), m_keyFile};
    for (const char* option :
         {"ForwardX11=no", "ForwardAgent=no", "ServerAliveInterval=15", "ServerAliveCountMax=4"})
        command += {QStringLiteral("-o"), QString::fromLatin1(option)};
    command += {QStringLiteral("-T"), QStringLiteral("-s"), host, QStringLiteral("sftp")};
    return command;
}

bool OpenSshDriver::connect(const QString& host, const QString& port, const QString& user,
                            const QString& password) {
    abort();
    const QStringList command = commandLine(host, port, user);
    m_user = user;
    m_password = password;
    m_passwordOffered = false;
    m_declined = false;
    m_workingDir.clear();
    m_askpass =
        std::make_unique<AskpassServer>([this](const QString& prompt) { return answer(prompt); });
    if (!m_askpass->listen())
        throw Error(UploadErrors::connectFailed(host, port, m_askpass->error()));
    m_client = std::make_unique<SftpClient>();
    m_client->timeoutMs = m_timeoutMs;
    m_client->environment = m_askpass->environment(m_askpassProgram);
    if (m_client->start(command))
        return true;
    // Turning down a question ends the login as Cancel does: nothing to retry.
    if (m_declined)
        m_session.cancel();
    if (m_declined || m_session.cancelled() ||
        m_client->error().contains(QLatin1String("Permission denied")))
        return false;
    throw Error(UploadErrors::connectFailed(host, port, m_client->error()));
}

std::optional<QString> OpenSshDriver::answer(const QString& prompt) {
    if (m_declined || m_session.cancelled())
        return std::nullopt;
    if (isHostKeyPrompt(prompt))
        return answerHostKey(prompt) ? QStringLiteral("yes") : QStringLiteral("no");
    return answerSecret(isPassphrasePrompt(prompt));
}

std::optional<QString> OpenSshDriver::answerSecret(bool passphrase) {
    if (!passphrase && !m_passwordOffered && !m_password.isEmpty()) {
        m_passwordOffered = true;
        m_session.addLog(QStringLiteral("Password given"), LogTraffic);
        return m_password;
    }
    QString name = m_user;
    QString secret;
    if (!dialogs().askLogin(name, secret)) {
        m_declined = true;
        return std::nullopt;
    }
    m_session.addLog(passphrase ? QStringLiteral("Passphrase given")
                                : QStringLiteral("Password given"),
                     LogTraffic);
    return secret;
}

bool OpenSshDriver::answerHostKey(const QString& prompt) {
    // "ED25519 key fingerprint is SHA256:...."
    static const QRegularExpression keyLine(
        QStringLiteral(R"((\S+) key fingerprint is (\S+?)\.?(\s|$))"));
    const QRegularExpressionMatch key = keyLine.match(prompt);
    const bool trusted = dialogs().trustIdentity(
        {IdentityKind::HostKey, false, false, key.captured(1), key.captured(2), QString()});
    m_declined = !trusted;
    return trusted;
}

QString OpenSshDriver::remotePath(const QString& name) const {
    if (name.startsWith(QLatin1Char('/')) || m_workingDir.isEmpty())
        return name;
    const QString separator =
        m_workingDir.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    return m_workingDir + separator + name;
}

bool OpenSshDriver::connected() const {
    return m_client != nullptr;
}

bool OpenSshDriver::changeDir(const QString& dir) {
    if (!connected())
        return false;
    const std::optional<QString> real = m_client->realPath(remotePath(dir));
    if (!real || m_client->isDirectory(*real) != true)
        return false;
    m_workingDir = *real;
    return true;
}

bool OpenSshDriver::fileExists(const QString& name) {
    return connected() && m_client->exists(remotePath(name)).value_or(false);
}

bool OpenSshDriver::makeDir(const QString& dir) {
    return connected() && m_client->makeDir(remotePath(dir));
}

bool OpenSshDriver::putFileAs(const QString& localPath, const QString& remoteName) {
    if (!connected())
        return false;
    m_client->onProgress = [&](qint64 sent) {
        m_session.reportProgress(localPath, remoteName, sent);
    };
    const bool uploaded = m_client->upload(localPath, remotePath(remoteName));
    m_client->onProgress = nullptr;
    return uploaded;
}

bool OpenSshDriver::renameFile(const QString& oldName, const QString& newName) {
    return connected() && m_client->rename(remotePath(oldName), remotePath(newName));
}

bool OpenSshDriver::replaceFile(const QString& oldName, const QString& newName) {
    return connected() && m_client->replace(remotePath(oldName), remotePath(newName));
}

bool OpenSshDriver::removeFile(const QString& name) {
    return connected() && m_client->remove(remotePath(name));
}

bool OpenSshDriver::setPermissions(const QString& name, const QString& mode) {
    // The session has checked that mode holds octal digits.
    return connected() && m_client->setPermissions(remotePath(name), mode.toUInt(nullptr, 8));
}

QString OpenSshDriver::lastError() {
    return m_client ? m_client->error() : QStringLiteral("Not connected.");
}

} // namespace quaddle
