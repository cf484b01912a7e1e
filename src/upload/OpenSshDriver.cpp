#include "upload/OpenSshDriver.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "upload/Askpass.h"
#include "upload/SftpClient.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace quaddle {

namespace {

// Ports stored with a server that never had one of its own: ssh's default applies then.
bool defaultPort(const QString& port) {
    return port.isEmpty() || port == QLatin1String("21");
}

// ssh shows a server's keyboard-interactive question as "(USER@HOST) ...": whatever it says,
// it is no question of ssh's own.
bool isServerQuestion(const QString& prompt) {
    return prompt.startsWith(QLatin1Char('('));
}

bool isHostKeyPrompt(const QString& prompt) {
    return !isServerQuestion(prompt) && prompt.contains(QLatin1String("continue connecting"));
}

// ssh's own question for the key it was given. A server's question may speak of a passphrase
// too: that one goes to the user in its own words, never gets the key's passphrase.
bool isPassphrasePrompt(const AskpassPrompt& prompt) {
    return prompt.fromConnectionProgram &&
           prompt.text.startsWith(QLatin1String("Enter passphrase for key '"));
}

// OpenSSH asks about a new key although others are known for the host: the key the server
// shows now replaces those.
bool othersKnown(const QString& prompt) {
    return prompt.contains(QLatin1String("keys of different type are already known"));
}

// OpenSSH's own advice names the known-hosts file and the host as it stores them.
QString removeKeyCommand(const QStringList& sshErrors, const QString& host, const QString& port) {
    static const QRegularExpression advice(QStringLiteral(R"(ssh-keygen\b.*-R\s+\S+)"));
    for (const QString& line : sshErrors)
        if (const QRegularExpressionMatch match = advice.match(line); match.hasMatch())
            return match.captured(0);
    return QStringLiteral("ssh-keygen -R ") +
           (defaultPort(port) ? host : QStringLiteral("'[%1]:%2'").arg(host, port));
}

// Holds the connection's time-out while the user answers a question ssh passed on.
class QuestionOpen {
public:
    explicit QuestionOpen(SftpClient& client) : m_client(client) { m_client.holdDeadline(true); }
    ~QuestionOpen() { m_client.holdDeadline(false); }
    QuestionOpen(const QuestionOpen&) = delete;
    QuestionOpen& operator=(const QuestionOpen&) = delete;

private:
    SftpClient& m_client;
};

} // namespace

OpenSshDriver::OpenSshDriver(UploadSession& session)
    : ProtocolDriver(session), m_askpassProgram(QCoreApplication::applicationFilePath()) {
    ProgramKey::removeLeftovers();
}

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

bool OpenSshDriver::isConnected() const {
    return m_client && !m_client->isBroken();
}

void OpenSshDriver::abort() {
    if (m_client)
        m_client->stop();
}

QString OpenSshDriver::sshProgram() const {
    const QString program = m_sshProgram.isEmpty()
                                ? QStandardPaths::findExecutable(QStringLiteral("ssh"))
                                : m_sshProgram;
    if (program.isEmpty())
        throw Error(QStringLiteral("OpenSSH's ssh (package openssh-client) is needed for SFTP."));
    return program;
}

QStringList OpenSshDriver::options(const QString& port, const QString& user,
                                   const QString& keyFile) const {
    QStringList options = m_extraOptions;
    if (!defaultPort(port))
        options += {QStringLiteral("-p"), port};
    if (!user.isEmpty())
        options += {QStringLiteral("-l"), user};
    if (!keyFile.isEmpty())
        options += {QStringLiteral("-i"), keyFile};
    // As OpenSSH's own sftp starts ssh: a LocalCommand would print into the SFTP stream, a
    // forwarding of the user's configuration could keep the connection from coming up, and ssh
    // refuses a RemoteCommand beside the SFTP subsystem.
    for (const char* option :
         {"ForwardX11=no", "ForwardAgent=no", "PermitLocalCommand=no", "ClearAllForwardings=yes",
          "RemoteCommand=none", "ServerAliveInterval=15", "ServerAliveCountMax=4"})
        options += {QStringLiteral("-o"), QString::fromLatin1(option)};
    return options;
}

QStringList OpenSshDriver::commandLine(const QString& host, const QStringList& options) const {
    return QStringList{sshProgram()} + options +
           QStringList{QStringLiteral("-T"), QStringLiteral("-s"), host, QStringLiteral("sftp")};
}

QString OpenSshDriver::loginOf(const QString& host, const QStringList& options) const {
    // "ssh -G" prints the settings that apply without connecting, one "name value" a line.
    QProcess settings;
    settings.start(sshProgram(), options + QStringList{QStringLiteral("-G"), host});
    QHash<QString, QString> value;
    if (settings.waitForFinished() && settings.exitCode() == 0)
        for (const QString& line :
             QString::fromUtf8(settings.readAllStandardOutput()).split(QLatin1Char('\n')))
            value.insert(line.section(QLatin1Char(' '), 0, 0),
                         line.section(QLatin1Char(' '), 1).trimmed());
    const QString shownHost =
        value.value(QStringLiteral("hostkeyalias"), value.value(QStringLiteral("hostname"), host));
    return value.value(QStringLiteral("user"), m_user) + QLatin1Char('@') + shownHost;
}

bool OpenSshDriver::connect(const QString& host, const QString& port, const QString& user,
                            const QString& password) {
    abort();
    m_user = user;
    m_password = password;
    m_passwordOffered = false;
    m_declined = false;
    m_changedKeyRefused = false;
    m_lossReported = false;
    m_workingDir.clear();
    m_knownExistence.clear();
    const QString keyFile = m_keyFile.isEmpty()
                                ? QString()
                                : m_key.pathFor(m_keyFile, [this] { return answerSecret(true); });
    // The user declined to give the key's passphrase.
    if (!m_keyFile.isEmpty() && keyFile.isEmpty()) {
        m_session.cancel();
        return false;
    }
    const QStringList sshOptions = options(port, user, keyFile);
    m_login = loginOf(host, sshOptions);
    m_askpass = std::make_unique<AskpassServer>(
        [this](const AskpassPrompt& prompt) { return answer(prompt); },
        [this] { return m_client ? m_client->processId() : 0; });
    if (!m_askpass->listen())
        throw Error(UploadErrors::connectFailed(host, port, m_askpass->error()));
    m_client = std::make_unique<SftpClient>();
    m_client->timeoutMs = m_timeoutMs;
    m_client->environment = m_askpass->environment(m_askpassProgram);
    m_client->onTraffic = [this](const QString& line) { m_session.addLog(line, LogTraffic); };
    const bool started = m_client->start(commandLine(host, sshOptions));
    // Once SFTP runs, ssh asks nothing more: nobody is answered from then on.
    m_askpass->close();
    if (started)
        return true;
    logSshErrors();
    if (m_changedKeyRefused)
        throw Error(UploadErrors::HostKeyChanged);
    // Turning down a question ends the login as Cancel does: nothing to retry.
    if (m_declined)
        m_session.cancel();
    if (m_declined || m_session.cancelled() ||
        m_client->error().contains(QLatin1String("Permission denied")))
        return false;
    throw loginError(host, port);
}

Error OpenSshDriver::loginError(const QString& host, const QString& port) const {
    const QStringList said = m_client->errorLines();
    if (said.join(QLatin1Char(' '))
            .contains(QLatin1String("REMOTE HOST IDENTIFICATION HAS CHANGED")))
        return Error(UploadErrors::HostKeyChanged + LineBreak +
                     QStringLiteral("OpenSSH says: REMOTE HOST IDENTIFICATION HAS CHANGED. If the "
                                    "new key is right, remove the old one with this command, "
                                    "then connect again:") +
                     LineBreak + removeKeyCommand(said, host, port));
    return Error(UploadErrors::connectFailed(host, port, m_client->error()));
}

void OpenSshDriver::logSshErrors() {
    for (const QString& line : m_client->errorLines())
        m_session.addLog(line, LogError);
}

bool OpenSshDriver::ensureConnected() {
    if (!m_client || m_session.cancelled())
        return false;
    if (!m_client->isBroken())
        return true;
    if (!m_lossReported) {
        m_lossReported = true;
        logSshErrors();
    }
    throw Error(UploadErrors::ConnectionLost + LineBreak + m_client->error());
}

std::optional<QString> OpenSshDriver::answer(const AskpassPrompt& prompt) {
    if (m_declined || m_session.cancelled())
        return std::nullopt;
    const QuestionOpen open(*m_client);
    // ssh shows such a notice (touch the security key) while it waits, and ends it itself.
    if (prompt.hint == QLatin1String("none")) {
        m_session.addLog(prompt.text, LogTraffic);
        dialogs().notify(MessageKind::Information, prompt.text);
        return std::nullopt;
    }
    if (prompt.hint == QLatin1String("confirm"))
        return askUser(prompt);
    if (isHostKeyPrompt(prompt.text))
        return answerHostKey(prompt.text) ? QStringLiteral("yes") : QStringLiteral("no");
    if (isPassphrasePrompt(prompt))
        return answerSecret(true);
    if (asksStoredPassword(prompt))
        return answerSecret(false);
    return askUser(prompt);
}

bool OpenSshDriver::asksStoredPassword(const AskpassPrompt& prompt) const {
    // Another program's prompt (the ssh of a ProxyJump) may name the same user and host.
    if (!prompt.fromConnectionProgram)
        return false;
    const QString text = prompt.text.trimmed();
    return text == m_login + QLatin1String("'s password:") ||
           text == QStringLiteral("(%1) Password:").arg(m_login);
}

std::optional<QString> OpenSshDriver::askUser(const AskpassPrompt& prompt) {
    const bool confirming = prompt.hint == QLatin1String("confirm");
    QString typed;
    if (!dialogs().answerSshPrompt(prompt.text.trimmed(),
                                   confirming ? SshPromptKind::Confirmation : SshPromptKind::Secret,
                                   typed)) {
        // No to a confirmation is an answer; a typed answer refused ends the login.
        m_declined = !confirming;
        return std::nullopt;
    }
    m_session.addLog(confirming ? QStringLiteral("Confirmed: %1").arg(prompt.text.trimmed())
                                : QStringLiteral("Answered: %1").arg(prompt.text.trimmed()),
                     LogTraffic);
    return confirming ? QStringLiteral("yes") : typed;
}

std::optional<QString> OpenSshDriver::answerSecret(bool passphrase) {
    if (!passphrase && !m_passwordOffered && !m_password.isEmpty()) {
        m_passwordOffered = true;
        m_session.addLog(QStringLiteral("Password given"), LogTraffic);
        return m_password;
    }
    // The passphrase a converted key was made with, asked before converting.
    if (const std::optional<QString> known = passphrase ? m_key.takePassphrase() : std::nullopt)
        return known;
    LoginAnswer typed{m_user, QString(), false};
    if (!dialogs().askLogin(m_session.loginTarget(!passphrase), typed)) {
        m_declined = true;
        return std::nullopt;
    }
    if (!passphrase)
        m_session.typedLogin(typed);
    m_session.addLog(passphrase ? QStringLiteral("Passphrase given")
                                : QStringLiteral("Password given"),
                     LogTraffic);
    return typed.password;
}

bool OpenSshDriver::answerHostKey(const QString& prompt) {
    // "ED25519 key fingerprint is SHA256:...."
    static const QRegularExpression keyLine(
        QStringLiteral(R"((\S+) key fingerprint is (\S+?)\.?(\s|$))"));
    const QRegularExpressionMatch key = keyLine.match(prompt);
    const bool changed = othersKnown(prompt);
    const bool trusted = dialogs().trustIdentity(
        {IdentityKind::HostKey, changed, false, key.captured(1), key.captured(2), QString()});
    m_declined = !trusted;
    m_changedKeyRefused = changed && !trusted;
    return trusted;
}

QString OpenSshDriver::remotePath(const QString& name) const {
    if (name.startsWith(QLatin1Char('/')) || m_workingDir.isEmpty())
        return name;
    const QString separator =
        m_workingDir.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    return m_workingDir + separator + name;
}

bool OpenSshDriver::changeDir(const QString& dir) {
    if (!ensureConnected())
        return false;
    const std::optional<QString> real = m_client->realPath(remotePath(dir));
    if (!real || m_client->isDirectory(*real) != true)
        return false;
    m_workingDir = *real;
    m_knownExistence.clear();
    return true;
}

void OpenSshDriver::prefetchExistence(const QStringList& names) {
    if (!ensureConnected())
        return;
    QStringList paths;
    for (const QString& name : names)
        paths.append(remotePath(name));
    const QList<std::optional<bool>> found = m_client->existAll(paths);
    for (qsizetype index = 0; index < names.size(); ++index)
        if (found[index])
            m_knownExistence.insert(names[index], *found[index]);
    ensureConnected();
}

bool OpenSshDriver::fileExists(const QString& name) {
    if (const auto known = m_knownExistence.constFind(name); known != m_knownExistence.cend()) {
        const bool there = *known;
        m_knownExistence.erase(known);
        return there;
    }
    if (!ensureConnected())
        return false;
    const std::optional<bool> found = m_client->exists(remotePath(name));
    // A server that cannot tell gets no chance to have a file replaced: unknown counts as
    // there, unless the connection is gone.
    return found.value_or(ensureConnected());
}

std::optional<qint64> OpenSshDriver::remoteFileSize(const QString& name) {
    if (!ensureConnected())
        return std::nullopt;
    return m_client->fileSize(remotePath(name));
}

bool OpenSshDriver::makeDir(const QString& dir) {
    return ensureConnected() && m_client->makeDir(remotePath(dir));
}

bool OpenSshDriver::putFileAs(const QString& localPath, const QString& remoteName) {
    if (!ensureConnected())
        return false;
    m_client->onProgress = [&](qint64 sent) {
        m_session.reportProgress(localPath, remoteName, sent);
    };
    const bool uploaded = m_client->upload(localPath, remotePath(remoteName));
    m_client->onProgress = nullptr;
    return uploaded;
}

void OpenSshDriver::sendFiles(const QList<FileTransfer>& files, const TransferEvents& events) {
    if (!ensureConnected())
        return;
    QList<SftpClient::BatchFile> batch;
    for (const FileTransfer& file : files)
        batch.append(
            {file.localPath, remotePath(file.remoteName),
             file.finalName.isEmpty() ? QString() : remotePath(file.finalName),
             // The session has checked that mode holds octal digits.
             file.mode.isEmpty() ? std::nullopt : std::optional(file.mode.toUInt(nullptr, 8))});
    if (!m_client->uploadAll(batch, events))
        ensureConnected();
}

bool OpenSshDriver::renameFile(const QString& oldName, const QString& newName) {
    return ensureConnected() && m_client->rename(remotePath(oldName), remotePath(newName));
}

bool OpenSshDriver::replaceFile(const QString& oldName, const QString& newName) {
    return ensureConnected() && m_client->replace(remotePath(oldName), remotePath(newName));
}

bool OpenSshDriver::removeFile(const QString& name) {
    return ensureConnected() && m_client->remove(remotePath(name));
}

bool OpenSshDriver::setPermissions(const QString& name, const QString& mode) {
    // The session has checked that mode holds octal digits.
    return ensureConnected() && m_client->setPermissions(remotePath(name), mode.toUInt(nullptr, 8));
}

QString OpenSshDriver::lastError() {
    return m_client ? m_client->error() : QStringLiteral("Not connected.");
}

} // namespace quaddle
