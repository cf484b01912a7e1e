#include "upload/SftpDriver.h"

#include "platform/Dialogs.h"
#include "platform/PrivateFile.h"
#include "platform/Psftp.h"
#include "upload/KeyConversion.h"
#include "upload/SendDigest.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace quaddle {

namespace {

constexpr int TimeoutMs = 30000;
// How often a wait looks whether the session was cancelled by other means than abort().
constexpr int CancelCheckMs = 100;

const QString Prompt = QStringLiteral("psftp> ");

// Logging in, before or after a host-key question: the states that meet login prompts.
bool atLogin(SftpDriver::State state) {
    return state == SftpDriver::State::LoggingIn || state == SftpDriver::State::HostKeyAnswered;
}

// psftp's answers, as it prints them after its prompt.
// Newer releases also say why a rename failed.
const QRegularExpression
    RenameFailed(QStringLiteral("^psftp> mv (.+?): (failure|no such file or directory)$"));
const QRegularExpression Renamed(QStringLiteral("^psftp> (.+?) -> (.+?)$"));
const QRegularExpression PromptAlone(QStringLiteral("^psftp> $"));
const QRegularExpression Removed(QStringLiteral("^psftp> rm (.+): ([^:]+)$"));
// chmod names the old and new modes, or says nothing when the mode was right already.
const QRegularExpression ModeChanged(QStringLiteral("^psftp> .+: [0-7]{4} -> [0-7]{4}$"));
const QRegularExpression ModeRefused(QStringLiteral("^psftp> (get|set) attrs for .+: (.+?)$"));
const QRegularExpression ListingHeader(QStringLiteral("^psftp> Listing directory (.+?)$"));
// The folder listed is ".", named so by the pattern "./...".
const QRegularExpression
    ListingFailed(QStringLiteral("^(psftp> )?(Unable to open|Reading directory) \\.: (.+)$"));
const QRegularExpression MadeDir(QStringLiteral("^psftp> mkdir (.+?): (.+?)$"));
const QRegularExpression Put(QStringLiteral("^psftp> local:(.+?) => remote:(.+?)$"));
const QRegularExpression
    NoSuchDir(QStringLiteral("^psftp> Directory (.+?): no such file or directory$"));
const QRegularExpression DirIsNow(QStringLiteral("^psftp> Remote directory is now (.+)$"));
const QRegularExpression WorkingDir(QStringLiteral("^Remote working directory is (.+)$"));
const QRegularExpression
    WorkingDirAfterKey(QStringLiteral("^.+? Remote working directory is (.+)$"));
// Older releases name only rsa2 keys; newer ones every key type. A key that differs from the
// cached one is the "new" key.
const QRegularExpression
    Fingerprint(QStringLiteral("^The (server's|new) (.+) key fingerprint is:$"));
// The questions' wording grew over releases; their beginnings stayed.
const QRegularExpression StoreKey(QStringLiteral("^Store key in cache\\? \\(y/n"));
const QRegularExpression UpdateKey(QStringLiteral("^Update cached key\\? \\(y/n"));
// sshd's Banner text, each line behind "| ", may come before any login answer.
const QString BannerStart = QStringLiteral("Pre-authentication banner message from server:");
const QString BannerEnd = QStringLiteral("End of banner message from server");
const QRegularExpression PermissionDenied(QStringLiteral(": permission denied$"));
// One file of a put failed; psftp goes on with the next command.
const QRegularExpression LocalUnreadable(QStringLiteral("^psftp> local: unable to open (.+)$"));
const QRegularExpression RemoteUnwritable(QStringLiteral("^psftp> (.+?): open for write: (.+)$"));
// Reading or writing fails only once the transfer runs (a local folder, a full disk).
const QRegularExpression TransferFailed(QStringLiteral("^(psftp> )?(error while .+)$"));
// A question that waits for input, so its line ends only after the answer.
const QRegularExpression
    Question(QStringLiteral("(\\(y/n[^)]*\\) |[Pp]assword: |^Passphrase for key .*: )$"));
// Asked only when neither the agent nor a key file logged in.
const QRegularExpression PasswordPrompt(QStringLiteral("[Pp]assword: $"));
const QRegularExpression PassphrasePrompt(QStringLiteral("^Passphrase for key .*: $"));
// At login it begins the line; during a command it follows the prompt psftp printed before.
const QRegularExpression Fatal(QStringLiteral("^(psftp> )?(Fatal:|FATAL ERROR:)"));

bool hasLineBreak(const QByteArray& text) {
    return text.contains('\r') || text.contains('\n');
}

// psftp splits its commands at blanks and tabs, outside double quotes; two double quotes in a
// row, inside or outside, are one literal double quote. So any run of quotes is read pairwise,
// and the quotes around a word must not meet the doubled ones of a name made only of quotes:
// a word is put in quotes only when it holds a blank.
QByteArray quoted(QByteArray word) {
    const bool blank = word.contains(' ') || word.contains('\t');
    word.replace('"', "\"\"");
    return blank ? '"' + word + '"' : word;
}

// mv, rm, chmod and dir take their names as wildcards, in which a backslash takes the next
// character as it is; put, mkdir, cd and mv's destination take their names literally.
QByteArray wildcardEscaped(const QByteArray& name) {
    QByteArray escaped;
    escaped.reserve(name.size() * 2);
    for (const char c : name) {
        if (c == '[' || c == ']' || c == '*' || c == '?' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// A wildcard that matches the name alone: the brackets around its first byte make it a
// pattern, which dir compares with the real names rather than listing a folder.
QByteArray exactPattern(const QByteArray& name) {
    return "[\\" + name.left(1) + ']' + wildcardEscaped(name.mid(1));
}

QString joinedPath(const QString& dir, const QString& name) {
    return dir.endsWith(QLatin1Char('/')) ? QString(dir + name)
                                          : QString(dir + QLatin1Char('/') + name);
}

// psftp drops from the paths it prints what its locale cannot show (control characters; in
// the C locale all but ASCII). Printable ASCII always stays, so paths are compared on that.
QString printableAscii(const QString& text) {
    QString kept;
    for (const QChar c : text)
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
            kept += c;
    return kept;
}

// psftp keeps one key per key type, and asks about a key of a type it has none of as about
// a server it never saw.
bool knownByAnotherKey(const QString& host, const QString& port) {
    QFile cache(psftpHostKeyCache());
    if (!cache.open(QIODevice::ReadOnly))
        return false;
    const QByteArray place = '@' + port.toLocal8Bit() + ':' + host.toLocal8Bit() + ' ';
    while (!cache.atEnd()) {
        const QByteArray line = cache.readLine();
        const qsizetype at = line.indexOf('@');
        if (at > 0 && line.mid(at, place.size()) == place)
            return true;
    }
    return false;
}

// A mode as octal digits without leading zeros ("644"), to compare modes however written.
QString octalMode(const QString& text) {
    bool numeric = false;
    const int mode = text.toInt(&numeric, 8);
    return numeric ? QString::number(mode, 8) : text;
}

QString octalMode(QFileDevice::Permissions permissions) {
    const std::pair<QFileDevice::Permission, int> bits[] = {
        {QFileDevice::ReadOwner, 0400}, {QFileDevice::WriteOwner, 0200},
        {QFileDevice::ExeOwner, 0100},  {QFileDevice::ReadGroup, 040},
        {QFileDevice::WriteGroup, 020}, {QFileDevice::ExeGroup, 010},
        {QFileDevice::ReadOther, 04},   {QFileDevice::WriteOther, 02},
        {QFileDevice::ExeOther, 01}};
    int mode = 0;
    for (const auto& [permission, bit] : bits)
        mode |= permissions.testFlag(permission) ? bit : 0;
    return QString::number(mode, 8);
}

} // namespace

SftpDriver::SftpDriver(UploadSession& session, QString psftp)
    : ProtocolDriver(session), m_psftp(std::move(psftp)), m_timeoutMs(TimeoutMs),
      m_idleLimitMs(TimeoutMs) {
    ProgramKey::removeLeftovers();
    m_runner.onNewLine = [this](const QString& line, OutputType type) { newLine(line, type); };
    // psftp gone without an answer (connection refused, crash): the wait ends at once.
    m_runner.onExit = [this] {
        m_exited = true;
        if (!m_answered) {
            // psftp ends after refused credentials too; the refusal is what went wrong.
            if (!m_loginRefused)
                setErrorText(m_lastLine);
            giveAnswer(Failure);
        }
    };
}

SftpDriver::~SftpDriver() {
    abort();
}

void SftpDriver::abort() {
    m_answer = Failure;
    finishWait();
    m_runner.stopProcess();
}

bool SftpDriver::connect(const QString& host, const QString& port, const QString& user,
                         const QString& password) {
    m_state = State::LoggingIn;
    m_answered = false;
    m_answer = Failure;
    m_exited = false;
    m_fatalSeen = false;
    m_loginRefused = false;
    m_timedOut = false;
    if (m_psftp.isEmpty())
        throw Error(UploadErrors::HelperMissing);
    QStringList credentials;
    if (!m_keyFile.isEmpty()) {
        const QString key = puttyKey(user);
        // The user declined to give the key's passphrase.
        if (key.isEmpty())
            return false;
        credentials << QStringLiteral("-i") << key;
    }
    // Without a password the agent or the key may log in; psftp asks only if they do not.
    std::optional<SecretPipe> passwordPipe;
    if (!password.isEmpty()) {
        passwordPipe.emplace(password.toLocal8Bit() + '\n');
        credentials << QStringLiteral("-pwfile") << passwordPipe->path();
    }
    // Older settings hold the FTP default for every server.
    const QString sshPort =
        port.isEmpty() || port == QLatin1String("21") ? QStringLiteral("22") : port;
    // The reader thread of an earlier psftp must not see the reset.
    m_runner.stopProcess();
    m_loggedPrompt.clear();
    m_inBanner = false;
    m_answeredPrompt.clear();
    m_runner.commandLine =
        QStringList{m_psftp} + credentials +
        QStringList{QStringLiteral("-P"), sshPort, QStringLiteral("-l"), user, host};
    if (passwordPipe)
        m_runner.inheritedFds = {passwordPipe->fd()};
    try {
        m_runner.startProcess();
    } catch (const ProcessStartError&) {
        m_runner.inheritedFds.clear();
        throw Error(UploadErrors::HelperMissing);
    }
    // psftp has its own copy; the number may soon name something else.
    m_runner.inheritedFds.clear();
    passwordPipe.reset();

    int result = waitForAnswer(m_timeoutMs);
    if (result == UnknownHostKey && knownByAnotherKey(host, sshPort))
        result = ChangedHostKey;
    // A host-key answer may bring a password question, which may follow a passphrase one.
    for (;;) {
        if (result == UnknownHostKey || result == ChangedHostKey)
            result = answerHostKey(result == ChangedHostKey);
        else if (result == PasswordAsked || result == PassphraseAsked)
            result = answerSecret(result == PassphraseAsked, user);
        else
            break;
    }
    // psftp gave up (or the wait did) before the credentials were judged: the server is the
    // problem. Judged before stopping psftp, whose end would look the same.
    const bool unreachable =
        result != Success && !m_loginRefused && (m_timedOut || (gone() && !m_session.cancelled()));
    if (result != Success)
        m_runner.stopProcess();
    if (unreachable)
        throw Error(UploadErrors::connectFailed(host, port, connectFailure()));
    return result == Success;
}

int SftpDriver::answerHostKey(bool changed) {
    QString type;
    QString key;
    {
        const QMutexLocker lock(&m_shared);
        type = m_hostKeyType;
        key = m_hostKey;
    }
    if (!dialogs().trustIdentity({IdentityKind::HostKey, changed, false, type, key, QString()})) {
        if (!changed)
            return Failure;
        // psftp must not connect, nor keep the new key, once the user said no.
        m_runner.stopProcess();
        throw Error(UploadErrors::HostKeyChanged);
    }
    m_state = State::HostKeyAnswered;
    return sendCommand("y", m_timeoutMs);
}

int SftpDriver::answerSecret(bool passphrase, const QString& user) {
    LoginAnswer typed{user, QString(), false};
    // The converted key's passphrase, asked before converting, is not asked again.
    const std::optional<QString> known = passphrase ? m_key.takePassphrase() : std::nullopt;
    if (known) {
        typed.password = *known;
    } else if (!dialogs().askLogin(m_session.loginTarget(!passphrase), typed)) {
        m_session.cancel();
        return Failure;
    } else if (!passphrase) {
        m_session.typedLogin(typed);
    }
    const QString& secret = typed.password;
    m_session.addLog(passphrase ? QStringLiteral("Passphrase given")
                                : QStringLiteral("Password given"),
                     LogTraffic);
    // Never logged, never on a command line: only psftp's input sees it.
    const QByteArray bytes = secret.toLocal8Bit();
    if (hasLineBreak(bytes) || m_session.cancelled() || gone())
        return Failure;
    // psftp keeps a carriage return as part of the answer.
    m_runner.sendInput(bytes + '\n', false);
    return waitForAnswer(m_timeoutMs);
}

QString SftpDriver::puttyKey(const QString& user) {
    return m_key.pathFor(m_keyFile, [this, &user]() -> std::optional<QString> {
        LoginAnswer typed{user, QString(), false};
        if (dialogs().askLogin(m_session.loginTarget(false), typed))
            return typed.password;
        m_session.cancel();
        return std::nullopt;
    });
}

bool SftpDriver::changeDir(const QString& dir) {
    m_state = State::ChangingDir;
    if (sendCommand("cd " + quoted(dir.toLocal8Bit()), m_timeoutMs) == Success)
        return true;
    // psftp ended during cd (the network went): no missing directory to offer to create.
    if (!m_session.cancelled() && gone())
        throw Error(UploadErrors::ConnectionLost);
    return false;
}

bool SftpDriver::fileExists(const QString& name) {
    m_state = State::CheckingFile;
    {
        const QMutexLocker lock(&m_shared);
        m_probeName = name;
    }
    // Only what dir lists of this pattern is the file: a folder listing shows names as the
    // server words its lines, and psftp drops control characters from them.
    const int answer =
        sendMarkedCommand("dir " + quoted("./" + exactPattern(name.toLocal8Bit())), Failure);
    // Whether the file is there is not known: nothing may be overwritten, nor taken for it.
    if (answer == Unlisted)
        throw Error(lastError());
    return answer == Success;
}

std::optional<qint64> SftpDriver::remoteFileSize(const QString& name) {
    {
        const QMutexLocker lock(&m_shared);
        m_listedLine.clear();
    }
    if (!fileExists(name))
        return std::nullopt;
    QString line;
    {
        const QMutexLocker lock(&m_shared);
        line = m_listedLine;
    }
    // psftp lists a file as "ls -l" does: mode, links, owner, group, size, time, name.
    constexpr qsizetype SizeField = 4;
    bool number = false;
    const qint64 size =
        line.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(SizeField).toLongLong(&number);
    return number ? std::optional(size) : std::nullopt;
}

bool SftpDriver::makeDir(const QString& dir) {
    m_state = State::MakingDir;
    return sendCommand("mkdir " + quoted(dir.toLocal8Bit()), m_timeoutMs) == Success;
}

bool SftpDriver::putFileAs(const QString& localPath, const QString& remoteName) {
    m_state = State::Uploading;
    m_putLocalMode = octalMode(QFileInfo(localPath).permissions());
    m_putFresh = false;
    // A relative name beginning with "-" would be read as an option.
    const QByteArray local = QFileInfo(localPath).absoluteFilePath().toLocal8Bit();
    // psftp reads the file itself; it is hashed beside it, and counts only when the file stayed
    // as it was while psftp sent it.
    const QFileInfo before(localPath);
    std::future<QString> digest = digestOfFile(localPath);
    m_sentDigest.clear();
    const bool sent = sendCommand("put " + quoted(local) + ' ' + quoted(remoteName.toLocal8Bit()),
                                  m_idleLimitMs, Limit::WithoutProgress) == Success;
    const QFileInfo after(localPath);
    const QString hex = digest.get();
    if (sent && after.size() == before.size() && after.lastModified() == before.lastModified())
        m_sentDigest = hex;
    return sent;
}

bool SftpDriver::renameFile(const QString& oldName, const QString& newName) {
    return rename(oldName, newName) == Success;
}

int SftpDriver::rename(const QString& oldName, const QString& newName) {
    m_state = State::Renaming;
    {
        const QMutexLocker lock(&m_shared);
        m_renameTarget = joinedPath(m_remoteDir, newName);
    }
    const QByteArray source = oldName.toLocal8Bit();
    const QByteArray target = newName.toLocal8Bit();
    const int answer =
        sendCommand("mv " + quoted(wildcardEscaped(source)) + ' ' + quoted(target), m_timeoutMs);
    if (answer != MovedIntoFolder)
        return answer;
    // mv moves into a folder of the target's name; the file goes back to where it was.
    m_state = State::RenamingBack;
    sendCommand("mv " + quoted(wildcardEscaped(target + '/' + source)) + ' ' + quoted(source),
                m_timeoutMs);
    setErrorText(QStringLiteral("A folder on the server has the name ") + newName +
                 QLatin1Char('.'));
    return MovedIntoFolder;
}

bool SftpDriver::replaceFile(const QString& oldName, const QString& newName) {
    // Most names are free: the rename alone does, and only a name taken costs the removal
    // (the server refuses to rename onto an existing file).
    const int renamed = rename(oldName, newName);
    m_putFresh = renamed == Success;
    if (renamed == Success || renamed == MovedIntoFolder)
        return renamed == Success;
    const int removed = remove(newName);
    if (removed != Success && removed != NothingThere) {
        // A folder of that name, or a file that may not go: the new one must not end up
        // elsewhere, nor the old one be half replaced.
        QString reason;
        {
            const QMutexLocker lock(&m_shared);
            reason = m_errorText;
        }
        setErrorText(QStringLiteral("Cannot replace %1 on the server. %2").arg(newName, reason));
        return false;
    }
    return renameFile(oldName, newName);
}

bool SftpDriver::removeFile(const QString& name) {
    return remove(name) == Success;
}

int SftpDriver::remove(const QString& name) {
    m_state = State::Removing;
    return sendCommand("rm " + quoted(wildcardEscaped(name.toLocal8Bit())), m_timeoutMs);
}

bool SftpDriver::setPermissions(const QString& name, const QString& mode) {
    // psftp makes a new file with the local file's mode; where the server kept that mode once,
    // its umask keeps it for every new file of the session, and chmod's round trips are saved.
    const bool asLocal = m_putFresh && octalMode(mode) == m_putLocalMode;
    if (asLocal && m_keptModes.contains(m_putLocalMode))
        return true;
    m_state = State::ChangingMode;
    // chmod says nothing when the mode was right already.
    const int answer = sendMarkedCommand("chmod " + mode.toLocal8Bit() + ' ' +
                                             quoted(wildcardEscaped(name.toLocal8Bit())),
                                         ModeKept);
    if (answer == ModeKept && asLocal)
        m_keptModes.insert(m_putLocalMode);
    return answer == Success || answer == ModeKept;
}

QString SftpDriver::lastError() {
    const QMutexLocker lock(&m_shared);
    QString error =
        m_errorText.isEmpty() ? QStringLiteral("No error message available.") : m_errorText;
    if (!m_probeName.isEmpty())
        error += QStringLiteral(" (while uploading file \"") + m_probeName + QStringLiteral("\")");
    return error;
}

QString SftpDriver::connectFailure() const {
    if (m_timedOut)
        return QStringLiteral("Connection timed out");
    const QMutexLocker lock(&m_shared);
    QString reason = m_errorText;
    reason.remove(Fatal);
    reason = reason.trimmed();
    return reason.isEmpty() ? QStringLiteral("psftp ended without saying why") : reason;
}

int SftpDriver::waitForAnswer(int limitMs, Limit limit) {
    // Progress is psftp reading and writing, whatever from and to. Where the system does not
    // tell, no limit is kept: a slow transfer must not be taken for a stalled one.
    const bool watchProgress = limit == Limit::WithoutProgress;
    qint64 work = watchProgress ? m_runner.ioBytes() : 0;
    const bool limited = work >= 0;
    QElapsedTimer quiet;
    quiet.start();
    // The reader thread quits this loop the moment the answer is recognised; the event loop
    // keeps windows alive and Cancel working meanwhile.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(CancelCheckMs);
    setWaitLoop(&loop);
    while (!m_answered.load(std::memory_order_acquire)) {
        if (watchProgress) {
            const qint64 now = m_runner.ioBytes();
            if (now != work)
                quiet.restart();
            work = now;
        }
        if (limited && quiet.hasExpired(limitMs)) {
            if (watchProgress) {
                giveUpStalled();
                break;
            }
            m_timedOut = true;
            m_session.addLog(QStringLiteral("Time-out, aborting..."), LogError);
            m_session.cancel();
            break;
        }
        if (m_session.cancelled())
            break;
        loop.exec();
    }
    setWaitLoop(nullptr);
    const int result = m_answer;
    m_answer = Failure;
    m_answered = false;
    if (result == Unexpected)
        throw Error(UploadErrors::UnexpectedResponse);
    return result;
}

void SftpDriver::setWaitLoop(QEventLoop* loop) {
    const QMutexLocker lock(&m_waitLock);
    m_waitLoop = loop;
}

void SftpDriver::finishWait() {
    m_answered.store(true, std::memory_order_release);
    const QMutexLocker lock(&m_waitLock);
    if (m_waitLoop)
        QMetaObject::invokeMethod(m_waitLoop, &QEventLoop::quit, Qt::QueuedConnection);
}

void SftpDriver::giveUpStalled() {
    m_runner.stopProcess();
    // After stopping: psftp's end would name its last line as the reason.
    const QString reason = QStringLiteral("The transfer stalled: nothing moved for %1 seconds.")
                               .arg(qMax(1, m_idleLimitMs / 1000));
    m_session.addLog(reason, LogError);
    setErrorText(reason);
}

bool SftpDriver::sendable(const QByteArray& command) {
    if (m_session.cancelled())
        return false;
    // A line break would end the command early and start another one.
    if (hasLineBreak(command)) {
        setErrorText(QStringLiteral("The name contains a line break, which cannot be sent to "
                                    "the server."));
        return false;
    }
    // Without psftp every further command would fail, each asked about on its own.
    if (gone())
        throw Error(UploadErrors::ConnectionLost);
    return true;
}

int SftpDriver::sendCommand(const QByteArray& command, int limitMs, Limit limit) {
    if (!sendable(command))
        return Failure;
    m_runner.sendInput(command, true);
    return waitForAnswer(limitMs, limit);
}

int SftpDriver::sendMarkedCommand(const QByteArray& command, int silentAnswer) {
    if (!sendable(command))
        return Failure;
    // An unknown command, which psftp names in its answer; no server ever sees it.
    const QByteArray word = "quaddle-" +
                            QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                            QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    {
        const QMutexLocker lock(&m_shared);
        m_marker = QStringLiteral("psftp: unknown command \"%1\"").arg(QString::fromLatin1(word));
    }
    m_answer = silentAnswer;
    m_runner.sendInput(command + "\r\n" + word, true);
    const int answer = waitForAnswer(m_timeoutMs);
    const QMutexLocker lock(&m_shared);
    m_marker.clear();
    return answer;
}

void SftpDriver::newLine(const QString& line, OutputType type) {
    logLine(line, type);
    {
        const QMutexLocker lock(&m_shared);
        m_lastLine = line;
    }
    if (!m_answered.load(std::memory_order_acquire))
        handleLine(line, type);
}

void SftpDriver::logLine(const QString& line, OutputType type) {
    QString logged;
    if (type == OutputType::EntireLine) {
        // A question logged before its answer: only what followed it is new.
        logged = !m_loggedPrompt.isEmpty() && line.startsWith(m_loggedPrompt)
                     ? line.mid(m_loggedPrompt.size()).trimmed()
                     : line;
        m_loggedPrompt.clear();
    } else if (m_loggedPrompt.isEmpty() && Question.match(line).hasMatch()) {
        // It ends only once answered, so it is logged while it waits.
        logged = line;
        m_loggedPrompt = line;
    }
    if (!logged.isEmpty())
        m_session.addLog(logged + QLatin1Char('|') + QString::number(state()), LogTraffic);
}

void SftpDriver::giveAnswer(int answer) {
    m_answer = answer;
    finishWait();
}

void SftpDriver::setErrorText(const QString& text) {
    const QMutexLocker lock(&m_shared);
    m_errorText = text;
}

void SftpDriver::setRemoteDir(const QString& dir) {
    const QMutexLocker lock(&m_shared);
    m_remoteDir = dir;
}

void SftpDriver::handleRenamed(const QString& line) {
    QString target;
    {
        const QMutexLocker lock(&m_shared);
        target = m_renameTarget;
    }
    // Into a folder of the target's name, mv names the path inside it.
    const bool inPlace =
        printableAscii(line).endsWith(printableAscii(QStringLiteral(" -> ") + target));
    giveAnswer(inPlace ? Success : MovedIntoFolder);
}

void SftpDriver::handleMarkedLine(const QString& line) {
    QString marker;
    {
        const QMutexLocker lock(&m_shared);
        marker = m_marker;
    }
    if (line.endsWith(marker)) {
        finishWait();
        return;
    }
    const State state = m_state;
    if (Fatal.match(line).hasMatch()) {
        // psftp ends now; its end gives the answer.
        setErrorText(line);
        m_fatalSeen = true;
    } else if (state == State::CheckingFile && ListingHeader.match(line).hasMatch()) {
        m_state = State::ListingFile;
    } else if (const QRegularExpressionMatch failed = ListingFailed.match(line);
               state == State::ListingFile && failed.hasMatch()) {
        setErrorText(QStringLiteral("The folder on the server cannot be listed: ") +
                     failed.captured(3) + QLatin1Char('.'));
        m_answer = Unlisted;
    } else if (state == State::ListingFile) {
        // The pattern matches the name alone: any entry is the file.
        if (m_answer != Unlisted) {
            m_answer = Success;
            const QMutexLocker lock(&m_shared);
            m_listedLine = line;
        }
    } else if (const QRegularExpressionMatch refused = ModeRefused.match(line);
               state == State::ChangingMode && refused.hasMatch()) {
        setErrorText(QStringLiteral("Changing the permissions failed: ") + refused.captured(2) +
                     QLatin1Char('.'));
        m_answer = Failure;
    } else if (state == State::ChangingMode && ModeChanged.match(line).hasMatch()) {
        m_answer = Success;
    } else {
        m_session.addLog(line, LogError);
        m_answer = Unexpected;
    }
}

void SftpDriver::handleLine(const QString& line, OutputType type) {
    const State state = m_state;
    // The banner is the server's text, not an answer; it is only logged.
    if (m_inBanner) {
        if (type == OutputType::EntireLine && line == BannerEnd)
            m_inBanner = false;
        return;
    }
    if (atLogin(state) && type == OutputType::EntireLine && line == BannerStart) {
        m_inBanner = true;
        return;
    }
    bool marked = false;
    {
        const QMutexLocker lock(&m_shared);
        marked = !m_marker.isEmpty();
    }
    if (marked) {
        // A piece of a line may still become the marker.
        if (type == OutputType::EntireLine)
            handleMarkedLine(line);
        return;
    }
    if (type == OutputType::EntireLine) {
        m_answeredPrompt.clear();
    } else if (atLogin(state) && line != m_answeredPrompt) {
        const bool passphrase = PassphrasePrompt.match(line).hasMatch();
        if (passphrase || PasswordPrompt.match(line).hasMatch()) {
            m_answeredPrompt = line;
            giveAnswer(passphrase ? PassphraseAsked : PasswordAsked);
            return;
        }
    }
    if ((state == State::Renaming || state == State::RenamingBack) &&
        RenameFailed.match(line).hasMatch()) {
        setErrorText(QStringLiteral("Renaming file failed."));
        giveAnswer(Failure);
    } else if (state == State::Renaming && Renamed.match(line).hasMatch()) {
        handleRenamed(line);
    } else if (state == State::RenamingBack && Renamed.match(line).hasMatch()) {
        giveAnswer(Success);
    } else if (const QRegularExpressionMatch removed = Removed.match(line);
               state == State::Removing && removed.hasMatch()) {
        const QString result = removed.captured(2);
        if (result != QLatin1String("OK"))
            setErrorText(QStringLiteral("Removing file failed: ") + result + QLatin1Char('.'));
        giveAnswer(result == QLatin1String("OK")                          ? Success
                   : result == QLatin1String("no such file or directory") ? NothingThere
                                                                          : Failure);
    } else if (const QRegularExpressionMatch made = MadeDir.match(line);
               state == State::MakingDir && made.hasMatch()) {
        giveAnswer(made.captured(2) == QLatin1String("OK") ? Success : Failure);
    } else if (state == State::Uploading && Put.match(line).hasMatch()) {
        // psftp names the transfer before it runs; the next prompt says it is over.
        m_state = State::Transferring;
    } else if (state == State::Transferring && PromptAlone.match(line).hasMatch()) {
        giveAnswer(Success);
    } else if (const QRegularExpressionMatch broken = TransferFailed.match(line);
               state == State::Transferring && broken.hasMatch()) {
        setErrorText(QStringLiteral("The transfer failed: ") + broken.captured(2) +
                     QLatin1Char('.'));
        giveAnswer(Failure);
    } else if (state == State::Uploading && LocalUnreadable.match(line).hasMatch()) {
        setErrorText(QStringLiteral("Cannot read the local file."));
        giveAnswer(Failure);
    } else if (const QRegularExpressionMatch refused = RemoteUnwritable.match(line);
               state == State::Uploading && refused.hasMatch()) {
        setErrorText(refused.captured(2) == QLatin1String("permission denied")
                         ? QStringLiteral("Permission denied.")
                         : QStringLiteral("Cannot write the file on the server: ") +
                               refused.captured(2) + QLatin1Char('.'));
        giveAnswer(Failure);
    } else if (state == State::ChangingDir && NoSuchDir.match(line).hasMatch()) {
        setErrorText(QStringLiteral("Directory does not exist."));
        m_state = State::DirChanged;
        giveAnswer(Failure);
    } else if (const QRegularExpressionMatch now = DirIsNow.match(line);
               (state == State::LoggedIn || state == State::ChangingDir) && now.hasMatch()) {
        m_state = state == State::LoggedIn ? State::DirChangedAtLogin : State::DirChanged;
        setRemoteDir(now.captured(1));
        giveAnswer(Success);
    } else if (const QRegularExpressionMatch home = WorkingDir.match(line);
               atLogin(state) && home.hasMatch()) {
        // After "y" newer releases print the working directory on a line of its own.
        m_state = state == State::LoggingIn ? State::LoggedIn : State::LoggedInAfterHostKey;
        setRemoteDir(home.captured(1));
        giveAnswer(Success);
    } else if (const QRegularExpressionMatch home = WorkingDirAfterKey.match(line);
               state == State::HostKeyAnswered && home.hasMatch()) {
        m_state = State::LoggedInAfterHostKey;
        setRemoteDir(home.captured(1));
        giveAnswer(Success);
    } else if (atLogin(state) && line == QLatin1String("Access denied")) {
        // After a stored key a wrong password is no unexpected answer either.
        m_loginRefused = true;
        setErrorText(QStringLiteral("Login incorrect."));
        giveAnswer(Failure);
    } else if (const QRegularExpressionMatch header = Fingerprint.match(line);
               state == State::LoggingIn && header.hasMatch()) {
        m_state = State::HostKeyHeader;
        const QMutexLocker lock(&m_shared);
        m_hostKeyType = header.captured(2);
    } else if (state == State::HostKeyHeader) {
        // psftp writes its questions unbuffered, so a line may come in pieces; the key is
        // the whole line after the header.
        if (type != OutputType::EntireLine || Fingerprint.match(line).hasMatch())
            return;
        m_state = State::HostKeyRead;
        const QMutexLocker lock(&m_shared);
        m_hostKey = line;
    } else if (state == State::HostKeyRead) {
        if (StoreKey.match(line).hasMatch())
            giveAnswer(UnknownHostKey);
        else if (UpdateKey.match(line).hasMatch())
            giveAnswer(ChangedHostKey);
    } else if (PermissionDenied.match(line).hasMatch()) {
        setErrorText(QStringLiteral("Permission denied."));
        giveAnswer(Failure);
    } else if (Fatal.match(line).hasMatch()) {
        if (!m_loginRefused)
            setErrorText(line);
        m_fatalSeen = true;
        giveAnswer(Failure);
    } else if (state != State::Idle && !atLogin(state) && line != Prompt &&
               type == OutputType::EntireLine) {
        // Lines of the login after a host key (the user name, the key or agent tried, an
        // answered question) are chatter, as before one.
        // Only a whole line can be judged unexpected: a piece may still become an answer.
        m_session.addLog(line, LogError);
        giveAnswer(Unexpected);
    }
}

} // namespace quaddle
