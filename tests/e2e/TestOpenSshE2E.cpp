#include "LocalFiles.h"
#include "LocalServers.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quaddle;
using namespace quaddle::test;

namespace {

const QString Passphrase = QStringLiteral("open sesame 42");
// Marks a directory among a server folder's entries.
const QByteArray Dir = QByteArrayLiteral("<dir>");
constexpr int RunTimeoutMs = 90000;

// A server folder's entries, each with its contents.
using ServerFiles = QMap<QString, QByteArray>;

// What the test's known_hosts holds before a run.
enum class KnownHosts {
    Empty,
    ServerKey,
    OtherType, // an ed25519 key, while the server has only an RSA one
    Replaced,  // the server's key, after which the server gets a new one
};

// One run of "quaddle --cli" with ssh reading the test's own configuration.
struct Row {
    // Host blocks of the test's ~/.ssh/config; %PORT%, %USER% and %KEY% are filled in.
    QString sshConfig{};
    QString host = QStringLiteral("127.0.0.1");
    // Else left to ssh.
    bool portStored = true;
    bool userStored = true;
    bool password = true;
    QString keyFile{}; // %ENCRYPTED% and %PUTTY% are keys that need Passphrase
    QString chmod{};
    bool tempNames = false;
    bool agent = false;
    // Through a proxy that stops forwarding once the upload is under way.
    bool stalling = false;
    KnownHosts knownHosts = KnownHosts::ServerKey;
    QStringList arguments{};
    QString file = QStringLiteral("a.txt");
    ServerFiles before{};
    // Answers typed on a terminal, one per question; none: there is no terminal.
    QStringList typed{};
    int code = 0;
    QStringList words{}; // on standard error
    // The server folder afterwards, when checked.
    std::optional<ServerFiles> after = ServerFiles{{"a.txt", "alpha"}};
    int mode = 0; // of the uploaded file on the server, when not 0
    // known_hosts gains the server's key; else it stays as it was.
    bool keyLearned = false;
};

QByteArray
runTool(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    if (!tool.waitForFinished(StartTimeoutMs) || tool.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), tool.readAllStandardError().constData());
    return tool.readAllStandardOutput();
}

QByteArray makeKey(const QString& path, const QString& passphrase) {
    runTool("/usr/bin/ssh-keygen", {"-q", "-t", "ed25519", "-N", passphrase, "-f", path});
    return readFile(path + ".pub");
}

QFileInfoList entries(const QString& dir) {
    return QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                   QDir::NoDotAndDotDot);
}

ServerFiles serverFiles(const QString& root) {
    ServerFiles files;
    for (const QFileInfo& entry : entries(root))
        files[entry.fileName()] = entry.isDir() ? Dir : readFile(entry.filePath());
    return files;
}

// Made as the server's account, which must be free to replace or rename them.
void putServerFiles(const QString& root, const ServerFiles& files, const QString& account) {
    for (const QFileInfo& entry : entries(root))
        entry.isDir() ? QDir(entry.filePath()).removeRecursively()
                      : QFile::remove(entry.filePath());
    const passwd* owner = getpwnam(account.toLocal8Bit().constData());
    for (auto file = files.begin(); file != files.end(); ++file) {
        const QString path = root + '/' + file.key();
        if (file.value() == Dir)
            QDir().mkpath(path);
        else
            writeFile(path, file.value());
        if (chown(QFile::encodeName(path).constData(), owner->pw_uid, owner->pw_gid) != 0)
            qFatal("cannot hand %s over", qPrintable(path));
    }
}

struct stat fileStatus(const QString& path) {
    struct stat status = {};
    stat(QFile::encodeName(path).constData(), &status);
    return status;
}

// Forwards connections to the server until one has carried Limit bytes towards it; from then
// on it swallows everything both ways and keeps the connection open, as a server that hangs in
// the middle of an upload.
class StallingProxy {
public:
    static constexpr qint64 Limit = 1 << 20;

    explicit StallingProxy(quint16 target) {
        m_listener.listen(QHostAddress::LocalHost);
        QObject::connect(&m_listener, &QTcpServer::newConnection, [this, target] {
            while (QTcpSocket* client = m_listener.nextPendingConnection())
                forward(client, target);
        });
    }
    quint16 port() const { return m_listener.serverPort(); }

private:
    static void forward(QTcpSocket* client, quint16 target) {
        auto* server = new QTcpSocket(client);
        server->connectToHost(QHostAddress::LocalHost, target);
        auto sent = std::make_shared<qint64>(0);
        QObject::connect(client, &QTcpSocket::readyRead, server, [=] {
            const QByteArray data = client->readAll();
            *sent += data.size();
            if (*sent <= Limit)
                server->write(data);
        });
        QObject::connect(server, &QTcpSocket::readyRead, client, [=] {
            const QByteArray data = server->readAll();
            if (*sent <= Limit)
                client->write(data);
        });
    }

    QTcpServer m_listener;
};

// The controlling side of a pseudo terminal the program reads its answers from.
class PseudoTerminal {
public:
    PseudoTerminal() : m_master(posix_openpt(O_RDWR | O_NOCTTY)) {
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            qFatal("no pseudo terminal");
    }
    ~PseudoTerminal() { ::close(m_master); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    QString device() const { return QString::fromLocal8Bit(ptsname(m_master)); }
    void type(const QString& line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        if (::write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qFatal("cannot type on the terminal");
    }

private:
    int m_master;
};

struct Outcome {
    int code = -1;
    QByteArray output;
    QByteArray error;
    qsizetype answered = 0;
    QStringList leaks;
    bool sshSeen = false;
};

// The places that hold a secret: among the command lines and environments of the process and
// those below it (none for pid 0), and the files under folders.
QStringList holdingSecrets(qint64 pid, const QStringList& folders, const QStringList& secrets,
                           bool& sshSeen) {
    QStringList places;
    for (const qint64 member : pid != 0 ? processFamily(pid) : QList<qint64>()) {
        const QString proc = QStringLiteral("/proc/%1/").arg(member);
        sshSeen = sshSeen || readFile(proc + "cmdline").startsWith("/usr/bin/ssh");
        places << proc + "cmdline" << proc + "environ";
    }
    for (const QString& folder : folders)
        for (QDirIterator file(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             file.hasNext();)
            places << file.next();
    QStringList found;
    for (const QString& place : places)
        for (const QString& secret : secrets)
            if (readFile(place).contains(secret.toUtf8()))
                found << place;
    return found;
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestOpenSshE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadsThroughOpenSsh_data();
    void uploadsThroughOpenSsh();
    void cleanupTestCase();

private:
    QString fill(QString text) const;
    QByteArray serverKey() const;
    void writeSshHome(const Row& row, const QString& home, const QByteArray& knownHosts) const;
    void saveServer(const Row& row, quint16 port) const;
    QStringList secrets() const { return {m_server->password(), Passphrase}; }
    QProcessEnvironment environment(const Row& row, const TempProgramDir& programDir,
                                    const QString& home, const QString& runtime) const;
    Outcome run(const Row& row, const QProcessEnvironment& environment,
                const QStringList& watched) const;

    std::unique_ptr<SshServer> m_server;
    QTemporaryDir m_local;
    QString m_key;
    QString m_encryptedKey;
    QString m_puttyKey;
    QByteArray m_otherTypeKey;
    QProcess m_agent;
    QString m_agentSocket;
};

void TestOpenSshE2E::initTestCase() {
    m_server = std::make_unique<SshServer>(SshServer::KeyType::Rsa);
    QUADDLE_REQUIRE_SSH(*m_server);
    writeFile(m_local.filePath("a.txt"), "alpha");
    QFile big(m_local.filePath("big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(16 * StallingProxy::Limit));
    m_key = m_local.filePath("key");
    m_encryptedKey = m_local.filePath("encrypted");
    // Any ed25519 public key will do as a host key the server does not have.
    m_otherTypeKey = makeKey(m_key, QString()).split(' ').mid(0, 2).join(' ');
    makeKey(m_encryptedKey, Passphrase);
    QVERIFY(m_server->authorizeKey(m_key + ".pub"));
    QVERIFY(m_server->authorizeKey(m_encryptedKey + ".pub"));
    m_puttyKey = m_local.filePath("putty.ppk");
    const QString phrase = writeFile(m_local.filePath("phrase"), Passphrase.toUtf8() + '\n');
    // Else puttygen would make the account's own .putty for its random seed.
    QProcessEnvironment puttyUser = QProcessEnvironment::systemEnvironment();
    puttyUser.insert("HOME", m_local.path());
    runTool("/usr/bin/puttygen", {"-t", "ed25519", "-o", m_puttyKey, "--new-passphrase", phrase},
            puttyUser);
    writeFile(
        m_puttyKey + ".pub",
        runTool("/usr/bin/puttygen", {m_puttyKey, "-L", "--old-passphrase", phrase}, puttyUser));
    QVERIFY(m_server->authorizeKey(m_puttyKey + ".pub"));

    m_agentSocket = m_local.filePath("agent");
    m_agent.start("/usr/bin/ssh-agent", {"-D", "-a", m_agentSocket});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_agentSocket), StartTimeoutMs);
    QProcessEnvironment agentUser = QProcessEnvironment::systemEnvironment();
    agentUser.insert("SSH_AUTH_SOCK", m_agentSocket);
    runTool("/usr/bin/ssh-add", {"-q", m_key}, agentUser);
    QVERIFY(runTool("/usr/bin/ssh-add", {"-L"}, agentUser).startsWith("ssh-ed25519 "));
}

void TestOpenSshE2E::uploadsThroughOpenSsh_data() {
    QTest::addColumn<Row>("row");
    const QString identity = "  HostName 127.0.0.1\n  Port %PORT%\n  User %USER%\n"
                             "  IdentityFile %KEY%\n";
    const ServerFiles old{{"a.txt", "old"}};
    const ServerFiles decoys{{"my a.txt", "decoy"}, {"b.txt", Dir}, {"x\na.txt", "decoy"}};
    ServerFiles decoysAndUploaded = decoys;
    decoysAndUploaded.insert("a.txt", "alpha");
    const QStringList acceptNew{"--accept-new"};

    QTest::newRow("password through askpass")
        << Row{.arguments = {"--on-exists=ask"}, .before = old, .typed = {"o"}};
    QTest::newRow("agent, nothing asked") << Row{.password = false, .agent = true};
    QTest::newRow("IdentityFile of a Host alias")
        << Row{.sshConfig = "Host quaddle-test-alias\n" + identity,
               .host = "quaddle-test-alias",
               .portStored = false,
               .userStored = false,
               .password = false};
    QTest::newRow("passphrase typed") << Row{.password = false,
                                             .keyFile = "%ENCRYPTED%",
                                             .arguments = {"--on-exists=ask"},
                                             .before = old,
                                             .typed = {Passphrase, "o"}};
    QTest::newRow("PuTTY key") << Row{.password = false,
                                      .keyFile = "%PUTTY%",
                                      .arguments = {"--on-exists=ask"},
                                      .before = old,
                                      .typed = {Passphrase, "o"}};
    // ssh alone would look for the target on ::1, where nobody listens.
    QTest::newRow("ProxyJump") << Row{
        .sshConfig = "Host quaddle-jump\n" + identity +
                     "Host quaddle-behind\n  HostName localhost\n  Port %PORT%\n"
                     "  User %USER%\n  IdentityFile %KEY%\n  AddressFamily inet6\n"
                     "  ProxyJump quaddle-jump\n",
        .host = "quaddle-behind",
        .portStored = false,
        .password = false};
    // The run starts a master connection that outlives it; the login of the next is instant.
    QTest::newRow("ControlMaster") << Row{.sshConfig = "Host quaddle-shared\n" + identity +
                                                       "  ControlMaster auto\n"
                                                       "  ControlPath %LOCAL%/cm-%C\n"
                                                       "  ControlPersist 5\n",
                                          .host = "quaddle-shared",
                                          .portStored = false,
                                          .userStored = false,
                                          .password = false};
    // The server's own port is taken, so the forwarding would fail and end ssh.
    QTest::newRow("LocalCommand and LocalForward of the user's configuration")
        << Row{.sshConfig = "Host 127.0.0.1\n  PermitLocalCommand yes\n"
                            "  LocalCommand echo Hello from LocalCommand\n"
                            "  ExitOnForwardFailure yes\n"
                            "  LocalForward 127.0.0.1:%PORT% 127.0.0.1:%PORT%\n"};
    QTest::newRow("unknown key refused") << Row{.knownHosts = KnownHosts::Empty,
                                                .code = 3,
                                                .words = {"run again with --accept-new"},
                                                .after = ServerFiles()};
    QTest::newRow("unknown key accepted")
        << Row{.knownHosts = KnownHosts::Empty, .arguments = acceptNew, .keyLearned = true};
    QTest::newRow("key of another type") << Row{.knownHosts = KnownHosts::OtherType,
                                                .arguments = acceptNew,
                                                .code = 3,
                                                .words = {"has changed"},
                                                .after = ServerFiles()};
    QTest::newRow("changed key") << Row{
        .knownHosts = KnownHosts::Replaced,
        .arguments = acceptNew,
        .code = 3,
        .words = {"REMOTE HOST IDENTIFICATION HAS CHANGED", "ssh-keygen", "-R \"[127.0.0.1]:"},
        .after = ServerFiles()};
    QTest::newRow("skip sees no decoys")
        << Row{.arguments = {"--on-exists=skip"}, .before = decoys, .after = decoysAndUploaded};
    QTest::newRow("skip keeps the file")
        << Row{.arguments = {"--on-exists=skip"}, .before = old, .after = old};
    QTest::newRow("temporary name replaces") << Row{.chmod = "604",
                                                    .tempNames = true,
                                                    .arguments = {"--on-exists=overwrite"},
                                                    .before = old,
                                                    .mode = 0604};
    QTest::newRow("renamed aside")
        << Row{.arguments = {"--on-exists=rename"},
               .before = old,
               .words = {"renamed to \"a_001.txt\""},
               .after = ServerFiles{{"a.txt", "alpha"}, {"a_001.txt", "old"}}};
    QTest::newRow("stalled server") << Row{.stalling = true,
                                           .file = "big.bin",
                                           .code = 1,
                                           .words = {"big.bin"},
                                           .after = std::nullopt};
}

void TestOpenSshE2E::cleanupTestCase() {
    m_agent.kill();
    m_agent.waitForFinished();
}

QString TestOpenSshE2E::fill(QString text) const {
    return text.replace("%PORT%", QString::number(m_server->port()))
        .replace("%USER%", m_server->user())
        .replace("%KEY%", m_key)
        .replace("%ENCRYPTED%", m_encryptedKey)
        .replace("%PUTTY%", m_puttyKey)
        .replace("%LOCAL%", m_local.path());
}

QProcessEnvironment TestOpenSshE2E::environment(const Row& row, const TempProgramDir& programDir,
                                                const QString& home, const QString& runtime) const {
    QProcessEnvironment environment = programDir.environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "SSH_AUTH_SOCK"})
        environment.remove(QString::fromLatin1(name));
    if (row.agent)
        environment.insert("SSH_AUTH_SOCK", m_agentSocket);
    if (row.stalling)
        environment.insert("QUADDLE_TEST_ANSWER_TIMEOUT_MS", "3000");
    // The program's private folder, to look into.
    environment.insert("XDG_RUNTIME_DIR", runtime);
    environment.insert("HOME", home);
    environment.insert("TESTHOME", home);
    environment.insert("PATH", home + "/bin:" + environment.value("PATH"));
    return environment;
}

Outcome TestOpenSshE2E::run(const Row& row, const QProcessEnvironment& environment,
                            const QStringList& watched) const {
    PseudoTerminal terminal;
    ProgramRun program(QStringList{"--cli"} + row.arguments +
                           QStringList{m_local.filePath(row.file)},
                       environment, row.typed.isEmpty() ? QString() : terminal.device());
    Outcome outcome;
    qsizetype askedAt = 0;
    const QDeadlineTimer deadline(RunTimeoutMs);
    while (program.running() && !deadline.hasExpired()) {
        QTest::qWait(20);
        outcome.error += program.errorOutput();
        // A question ends in a blank, every message in a new line.
        if (outcome.answered < row.typed.size() && outcome.error.size() > askedAt &&
            outcome.error.endsWith(' ')) {
            outcome.leaks << holdingSecrets(program.processId(), watched, secrets(),
                                            outcome.sshSeen);
            terminal.type(row.typed[outcome.answered++]);
            askedAt = outcome.error.size();
        }
    }
    if (!program.running() && program.exitStatus() == QProcess::NormalExit)
        outcome.code = program.exitCode();
    outcome.output = program.standardOutput();
    outcome.error += program.errorOutput();
    return outcome;
}

QByteArray TestOpenSshE2E::serverKey() const {
    // "[127.0.0.1]:PORT ssh-rsa AAAA..."
    const QByteArray scanned =
        runTool("/usr/bin/ssh-keyscan", {"-p", QString::number(m_server->port()), "127.0.0.1"});
    return QString::fromUtf8(scanned).section('\n', 0, 0).section(' ', 1, 2).toUtf8();
}

// The test's ~/.ssh/config, with its known_hosts file, and an ssh first on PATH that reads it
// (ssh would take ~ from the account, not from HOME).
void TestOpenSshE2E::writeSshHome(const Row& row, const QString& home,
                                  const QByteArray& knownHosts) const {
    QDir().mkpath(home + "/.ssh");
    QDir().mkpath(home + "/bin");
    writeFile(home + "/.ssh/known_hosts", knownHosts);
    writeFile(home + "/.ssh/config", fill(row.sshConfig).toUtf8() +
                                         "Host *\n  UserKnownHostsFile " + QFile::encodeName(home) +
                                         "/.ssh/known_hosts\n  GlobalKnownHostsFile /dev/null\n");
    const QString wrapper = writeFile(
        home + "/bin/ssh", "#!/bin/sh\nexec /usr/bin/ssh -F \"$TESTHOME/.ssh/config\" \"$@\"\n");
    QFile::setPermissions(wrapper, Mode0755);
}

void TestOpenSshE2E::saveServer(const Row& row, quint16 port) const {
    ServerSetup setup;
    setup.type = "1";
    setup.host = row.host;
    if (row.portStored)
        setup.port = port;
    if (row.userStored)
        setup.user = m_server->user();
    setup.password = row.password ? m_server->password() : QString();
    setup.keyFile = fill(row.keyFile);
    setup.rootDir = m_server->root();
    setup.chmod = row.chmod;
    saveServerConfig(setup, {{"Log", SettingValue::boolean(true)},
                             {"TempNames", SettingValue::boolean(row.tempNames)}});
}

void TestOpenSshE2E::uploadsThroughOpenSsh() {
    QFETCH(Row, row);
    const QTemporaryDir home;
    const QTemporaryDir runtime;
    const TempProgramDir programDir;
    putServerFiles(m_server->root(), row.before, m_server->user());
    const auto proxy = row.stalling ? std::make_unique<StallingProxy>(m_server->port()) : nullptr;
    const quint16 port = proxy ? proxy->port() : m_server->port();
    const QByteArray key = serverKey();
    QVERIFY(!key.isEmpty());
    const QByteArray hosts = QStringLiteral("[127.0.0.1]:%1,[localhost]:%1 ").arg(port).toUtf8();
    const QByteArray knownBefore =
        row.knownHosts == KnownHosts::Empty
            ? QByteArray()
            : hosts + (row.knownHosts == KnownHosts::OtherType ? m_otherTypeKey : key) + '\n';
    writeSshHome(row, home.path(), knownBefore);
    if (row.knownHosts == KnownHosts::Replaced)
        QVERIFY(m_server->replaceHostKey());
    saveServer(row, port);
    const ino_t oldInode = fileStatus(m_server->root() + "/a.txt").st_ino;

    const QStringList watched{runtime.path(), programDir.path()};
    Outcome outcome = run(row, environment(row, programDir, home.path(), runtime.path()), watched);
    outcome.leaks << holdingSecrets(0, watched, secrets(), outcome.sshSeen);
    const QByteArray context = QTest::currentDataTag() + QByteArray(": ") + outcome.error;
    QVERIFY2(outcome.code == row.code, context.constData());
    for (const QString& word : row.words)
        QVERIFY2(outcome.error.contains(word.toUtf8()), context.constData());
    if (row.code == 0)
        QVERIFY2(outcome.output.contains(row.file.toUtf8()), outcome.output.constData());
    QCOMPARE(outcome.answered, row.typed.size());
    QVERIFY2(outcome.leaks.isEmpty(), qPrintable(outcome.leaks.join(' ')));
    QVERIFY(row.typed.isEmpty() || outcome.sshSeen);
    if (row.after)
        QCOMPARE(serverFiles(m_server->root()), *row.after);
    const struct stat uploadedStatus = fileStatus(m_server->root() + "/a.txt");
    if (row.mode != 0)
        QCOMPARE(uploadedStatus.st_mode & 0777, mode_t(row.mode));
    // Put in place by a rename, not written over.
    if (row.tempNames)
        QVERIFY(uploadedStatus.st_ino != oldInode);
    const QByteArray knownAfter = readFile(home.filePath(".ssh/known_hosts"));
    if (row.keyLearned)
        QVERIFY2(knownAfter.contains(key), knownAfter.constData());
    else
        QCOMPARE(knownAfter, knownBefore);
}

QTEST_GUILESS_MAIN(TestOpenSshE2E)
#include "TestOpenSshE2E.moc"
