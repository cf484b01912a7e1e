#include "LocalFiles.h"
#include "ScriptedDialogs.h"
#include "SshServer.h"
#include "config/Config.h"
#include "upload/SftpDriver.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <unistd.h>

using namespace quaddle;
using quaddle::test::SshServer;

namespace {

// Runs a key tool; its output when it failed, empty when it worked.
QString runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.setStandardInputFile(QProcess::nullDevice());
    tool.start(program, arguments);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0)
        return program + ": " + tool.errorString() + " " + QString::fromLocal8Bit(tool.readAll());
    return {};
}

// The files under dir that hold secret.
QStringList filesHolding(const QString& dir, const QByteArray& secret) {
    QStringList holding;
    QDirIterator files(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret))
            holding.append(file.fileName());
    }
    return holding;
}

// Scripted dialogs that run a check whenever a server's identity is asked about, while psftp
// waits for the answer.
class WatchingDialogs : public test::ScriptedDialogs {
public:
    std::function<void()> onIdentity;

    bool trustIdentity(const IdentityQuestion& question) override {
        if (onIdentity)
            onIdentity();
        return ScriptedDialogs::trustIdentity(question);
    }
};

// psftp shows a key as its type, size and fingerprint.
const QString ShownKey = "  ssh-.*";
const QString Banner = "Welcome to the test server.\nAuthorised uploads only.\n";

} // namespace

// The SFTP driver with the real psftp against a real OpenSSH server.
class TestSftpDriverServer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unknownHostAcceptedThenKnown_data();
    void unknownHostAcceptedThenKnown();
    void unknownHostRefused();
    void changedHostKey_data();
    void changedHostKey();
    void existenceIsExact_data();
    void existenceIsExact();
    void folderInTheWay_data();
    void folderInTheWay();
    void replaceRemovesOnlyATakenName_data();
    void replaceRemovesOnlyATakenName();
    void stalledTransferFails();
    void bannerIsLogged_data();
    void bannerIsLogged();
    void wrongPassword();
    void missingDirectoryIsCreated();
    void uploadsWithExistenceTestAndRename();
    void namesTakenLiterally_data();
    void namesTakenLiterally();
    void permissionDenied();
    void failedFileAsksAndGoesOn_data();
    void failedFileAsksAndGoesOn();
    void loginWithoutPassword_data();
    void loginWithoutPassword();

private:
    UploadSession& session(int overwrite = PolicyOverwrite);
    SftpDriver& driver() { return static_cast<SftpDriver&>(m_session->driver()); }
    bool login(const SshServer& server) {
        return m_session->login("127.0.0.1", QString::number(server.port()), server.user(),
                                server.password());
    }
    void acceptKey() { m_dialogs->expectIdentity(IdentityKind::HostKey, false, true, ShownKey); }
    // Sets a variable for the running test; empty unsets it.
    void setEnvironment(const char* name, const QString& value) {
        m_savedEnvironment.append({name, qgetenv(name)});
        setVariable(name, QFile::encodeName(value));
    }
    static void setVariable(const char* name, const QByteArray& value) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    // The converted keys in the program's own temporary folder.
    QStringList convertedKeys() const {
        return QDir(m_temp->filePath("runtime/quaddle")).entryList({"*.ppk"}, QDir::Files);
    }

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<WatchingDialogs> m_dialogs;
    std::unique_ptr<UploadSession> m_session;
    // The variables a test changes, as they were.
    QList<QPair<const char*, QByteArray>> m_savedEnvironment;
    QString m_savedCurrentDir;
    QProcess m_agent;
};

void TestSftpDriverServer::init() {
    m_temp = std::make_unique<QTemporaryDir>();
    // psftp's host-key cache in a fresh home starts empty; without a .putty folder there psftp
    // would take the account's own.
    for (const QString& dir : QStringList{"home/.putty", "program", "runtime", "tmp", "bin"})
        QVERIFY(QDir(m_temp->path()).mkpath(dir));
    QVERIFY(QFile::setPermissions(m_temp->filePath("runtime"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    setEnvironment("HOME", m_temp->filePath("home"));
    setEnvironment("XDG_RUNTIME_DIR", m_temp->filePath("runtime"));
    // Only an agent a test starts may log in for it.
    setEnvironment("SSH_AUTH_SOCK", QString());
    m_savedCurrentDir = QDir::currentPath();
    m_dialogs = std::make_unique<WatchingDialogs>();
}

void TestSftpDriverServer::cleanup() {
    m_session.reset();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_dialogs.reset();
    QDir::setCurrent(m_savedCurrentDir);
    // Backwards: a variable set twice gets its first value back.
    while (!m_savedEnvironment.isEmpty()) {
        const auto [name, value] = m_savedEnvironment.takeLast();
        setVariable(name, value);
    }
    if (m_agent.state() != QProcess::NotRunning) {
        m_agent.kill();
        m_agent.waitForFinished();
    }
    m_temp.reset();
}

UploadSession& TestSftpDriverServer::session(int overwrite) {
    m_session = std::make_unique<UploadSession>(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1, overwrite, true,
        standardDrivers(m_temp->filePath("program") + "/", SshClientPsftp));
    return *m_session;
}

void TestSftpDriverServer::unknownHostAcceptedThenKnown_data() {
    QTest::addColumn<int>("key");
    // The key's type and its line as psftp words them.
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("keyLine");
    QTest::newRow("rsa") << int(SshServer::KeyType::Rsa) << "rsa2"
                         << "  ssh-rsa 2048 ";
    QTest::newRow("ed25519") << int(SshServer::KeyType::Ed25519) << "ssh-ed25519"
                             << "  ssh-ed25519 255 ";
}

void TestSftpDriverServer::unknownHostAcceptedThenKnown() {
    QFETCH(int, key);
    QFETCH(QString, type);
    QFETCH(QString, keyLine);
    SshServer server{SshServer::KeyType(key)};
    QUADDLE_REQUIRE_SSH(server);
    const QString fingerprint = server.fingerprint();
    QVERIFY(fingerprint.startsWith("SHA256:"));
    // While psftp waits for the answer about the key, no file holds the password.
    setEnvironment("TMPDIR", m_temp->filePath("tmp"));
    QStringList holding{"(never looked)"};
    m_dialogs->onIdentity = [&] {
        holding = filesHolding(m_temp->path(), server.password().toUtf8());
    };
    session();
    acceptKey();
    QVERIFY(login(server));
    QCOMPARE(holding, QStringList());
    QCOMPARE(driver().state(), 8);
    QCOMPARE(m_dialogs->asked().size(), 1);
    QCOMPARE(m_dialogs->asked()[0].identity->keyType, type);
    QCOMPARE(m_dialogs->asked()[0].identity->fingerprint, keyLine + fingerprint);
    // psftp writes its question a few bytes at a time; the log holds it, and every line, once.
    QStringList psftpLines;
    for (const QString& line : m_session->logLines())
        if (line.endsWith("\t0") && line.contains('|'))
            psftpLines.append(line.section('|', 0, -2));
    QCOMPARE(psftpLines.filter("Store key in cache?").size(), 1);
    QCOMPARE(psftpLines.filter(QRegularExpression("^The server's .+ key fingerprint is:$")).size(),
             1);
    for (qsizetype i = 1; i < psftpLines.size(); ++i)
        QVERIFY2(!psftpLines[i].startsWith(psftpLines[i - 1]), qPrintable(psftpLines[i]));

    session();
    QVERIFY(login(server));
    QCOMPARE(driver().state(), 2);
    QVERIFY(!m_session->logLines().join('\n').contains(server.password()));
}

void TestSftpDriverServer::unknownHostRefused() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    session();
    m_dialogs->expectIdentity(IdentityKind::HostKey, false, false);
    m_dialogs->expectLoginRetry(false);
    QVERIFY(!login(server));
    QVERIFY(!QFile::exists(m_temp->filePath("home/.putty/sshhostkeys")));
}

void TestSftpDriverServer::changedHostKey_data() {
    // The key known, the key offered later and its type as psftp names it.
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("newKey");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("trusted");
    const int rsa = int(SshServer::KeyType::Rsa);
    const int ed25519 = int(SshServer::KeyType::Ed25519);
    QTest::newRow("rsa, refused") << rsa << rsa << "rsa2" << false;
    QTest::newRow("rsa, trusted") << rsa << rsa << "rsa2" << true;
    QTest::newRow("ed25519, refused") << ed25519 << ed25519 << "ssh-ed25519" << false;
    QTest::newRow("ed25519, trusted") << ed25519 << ed25519 << "ssh-ed25519" << true;
    // psftp keeps a key per type and asks about one of another type as about a new server.
    QTest::newRow("ed25519 known, rsa offered, refused") << ed25519 << rsa << "rsa2" << false;
    QTest::newRow("ed25519 known, rsa offered, trusted") << ed25519 << rsa << "rsa2" << true;
    QTest::newRow("rsa known, ed25519 offered, refused")
        << rsa << ed25519 << "ssh-ed25519" << false;
}

void TestSftpDriverServer::changedHostKey() {
    QFETCH(int, key);
    QFETCH(int, newKey);
    QFETCH(QString, type);
    QFETCH(bool, trusted);
    SshServer server{SshServer::KeyType(key)};
    QUADDLE_REQUIRE_SSH(server);
    session();
    acceptKey();
    QVERIFY(login(server));
    const QString cache = m_temp->filePath("home/.putty/sshhostkeys");
    QFile oldCache(cache);
    QVERIFY(oldCache.open(QIODevice::ReadOnly));
    const QByteArray cachedBefore = oldCache.readAll();
    oldCache.close();

    const QString oldFingerprint = server.fingerprint();
    QVERIFY2(server.replaceHostKey(SshServer::KeyType(newKey)), qPrintable(server.problem()));
    const QString newFingerprint = server.fingerprint();
    QVERIFY(newFingerprint.startsWith("SHA256:") && newFingerprint != oldFingerprint);
    session();
    m_dialogs->expectIdentity(IdentityKind::HostKey, true, trusted, ShownKey);
    if (trusted) {
        QVERIFY(login(server));
        QCOMPARE(driver().state(), 8);
    } else {
        QString error;
        try {
            login(server);
        } catch (const Error& thrown) {
            error = thrown.message();
        }
        QCOMPARE(error, UploadErrors::HostKeyChanged);
        QVERIFY(!error.contains("Login incorrect"));
    }
    const IdentityQuestion& warning = *m_dialogs->asked().last().identity;
    QCOMPARE(warning.keyType, type);
    QVERIFY2(warning.fingerprint.contains(newFingerprint), qPrintable(warning.fingerprint));
    QFile newCache(cache);
    QVERIFY(newCache.open(QIODevice::ReadOnly));
    QCOMPARE(newCache.readAll() != cachedBefore, trusted);

    // Trusted, the new key is known from now on; refused, it is still the stranger.
    session();
    if (!trusted)
        m_dialogs->expectIdentity(IdentityKind::HostKey, true, true);
    QVERIFY(login(server));
    QCOMPARE(driver().state(), trusted ? 2 : 8);
}

void TestSftpDriverServer::existenceIsExact_data() {
    // What the folder holds ("/" ends a folder's name), the name asked about, and whether it
    // is there.
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::newRow("the name") << QStringList{"a.txt"} << "a.txt" << true;
    QTest::newRow("another name ending in it") << QStringList{"my a.txt"} << "a.txt" << false;
    QTest::newRow("a name listed like a link") << QStringList{"b -> a.txt"} << "a.txt" << false;
    QTest::newRow("with a blank") << QStringList{"my a.txt"} << "my a.txt" << true;
    QTest::newRow("a folder") << QStringList{"a.txt/"} << "a.txt" << true;
    // psftp drops control characters from what it lists.
    QTest::newRow("a tab the listing drops") << QStringList{"a\t.txt"} << "a.txt" << false;
    QTest::newRow("with a tab") << QStringList{"a\t.txt"} << "a\t.txt" << true;
    // Listed before "a.txt", the name looks like the end of the listing.
    QTest::newRow("a line feed and a prompt in a name")
        << QStringList{"0\npsftp> ", "a.txt"} << "a.txt" << true;
    QTest::newRow("a quote, with two") << QStringList{"\"\""} << "\"" << false;
    QTest::newRow("a quote") << QStringList{"\"", "\"\""} << "\"" << true;
}

void TestSftpDriverServer::existenceIsExact() {
    QFETCH(QStringList, present);
    QFETCH(QString, name);
    QFETCH(bool, exists);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    for (const QString& entry : present) {
        if (entry.endsWith('/')) {
            QVERIFY(QDir(server.root()).mkdir(entry));
        } else {
            QFile file(server.root() + "/" + entry);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    session(PolicySkip);
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, false));
    QCOMPARE(driver().fileExists(name), exists);
    // The answer ended where it should: the next one is this command's.
    QVERIFY(m_session->enterDir(server.root(), false, false));
}

void TestSftpDriverServer::folderInTheWay_data() {
    QTest::addColumn<bool>("replace");
    QTest::newRow("rename") << false;
    QTest::newRow("replace") << true;
}

void TestSftpDriverServer::folderInTheWay() {
    QFETCH(bool, replace);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    // The user's own folder, into which mv would move the file.
    const QString folder = server.root() + "/a.jpg";
    QVERIFY(QDir().mkdir(folder));
    const QFileInfo owner(server.root());
    QVERIFY(chown(QFile::encodeName(folder).constData(), owner.ownerId(), owner.groupId()) == 0);
    session();
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, false));
    QVERIFY(driver().putFileAs(test::localFile(*m_temp, "a.jpg", "new"), "a.jpg.part"));
    QVERIFY(!(replace ? driver().replaceFile("a.jpg.part", "a.jpg")
                      : driver().renameFile("a.jpg.part", "a.jpg")));
    QVERIFY2(driver().lastError().contains("a.jpg"), qPrintable(driver().lastError()));
    QVERIFY(QDir(folder).isEmpty());
    QFile part(server.root() + "/a.jpg.part");
    QVERIFY(part.open(QIODevice::ReadOnly));
    QCOMPARE(part.readAll(), QByteArray("new"));
}

void TestSftpDriverServer::replaceRemovesOnlyATakenName_data() {
    QTest::addColumn<bool>("taken");
    QTest::newRow("free name") << false;
    QTest::newRow("name taken") << true;
}

// A free name costs the rename alone; a taken one the removal of the old file too.
void TestSftpDriverServer::replaceRemovesOnlyATakenName() {
    QFETCH(bool, taken);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const QString real = server.root() + "/a.jpg";
    if (taken)
        test::writeFile(real, "old");
    session();
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, false));
    QVERIFY(driver().putFileAs(test::localFile(*m_temp, "a.jpg", "new"), "a.jpg.part"));
    QVERIFY2(driver().replaceFile("a.jpg.part", "a.jpg"), qPrintable(driver().lastError()));
    QCOMPARE(test::readFile(real), QByteArray("new"));
    QVERIFY(!QFile::exists(real + ".part"));
    QCOMPARE(m_session->logLines().filter(QRegularExpression("^psftp> rm ")).size(), taken ? 1 : 0);
}

void TestSftpDriverServer::stalledTransferFails() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    // Large enough to be on its way when the server stops; sparse, so quick to make.
    QFile big(m_temp->filePath("big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(1) << 30));
    big.close();
    session();
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, false));
    driver().setIdleLimit(2000);
    // The server hangs once the file has begun to arrive.
    const QFileInfo arriving(server.root() + "/big.bin");
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QFileInfo(arriving.filePath()).size() > 0) {
            server.pauseSessions();
            watch.stop();
        }
    });
    watch.start(5);
    QVERIFY(!driver().putFile(big.fileName()));
    server.resumeSessions();
    QVERIFY2(driver().lastError().startsWith("The transfer stalled"),
             qPrintable(driver().lastError()));
    QVERIFY(QFileInfo(arriving.filePath()).size() < big.size());
    // psftp is ended: the connection is gone for what follows.
    QVERIFY_THROWS_EXCEPTION(Error, driver().fileExists("big.bin"));
}

void TestSftpDriverServer::bannerIsLogged_data() {
    // Whether psftp asks about the key first, and whether the password is right.
    QTest::addColumn<bool>("knownKey");
    QTest::addColumn<bool>("rightPassword");
    QTest::newRow("first connection") << false << true;
    QTest::newRow("known key") << true << true;
    QTest::newRow("wrong password") << true << false;
}

void TestSftpDriverServer::bannerIsLogged() {
    QFETCH(bool, knownKey);
    QFETCH(bool, rightPassword);
    SshServer server{SshServer::KeyType::Rsa, Banner};
    QUADDLE_REQUIRE_SSH(server);
    if (knownKey) {
        session();
        acceptKey();
        QVERIFY(login(server));
    }
    session();
    if (!knownKey)
        acceptKey();
    if (!rightPassword)
        m_dialogs->expectLoginRetry(false);
    QCOMPARE(m_session->login("127.0.0.1", QString::number(server.port()), server.user(),
                              rightPassword ? server.password() : "wrong"),
             rightPassword);
    if (rightPassword)
        QCOMPARE(driver().state(), knownKey ? 2 : 8);
    const QStringList log = m_session->logLines();
    for (const QString& line : Banner.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(log.filter("| " + line + "|").size() == 1, qPrintable(log.join('\n')));
}

void TestSftpDriverServer::wrongPassword() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    session();
    acceptKey();
    m_dialogs->expectLoginRetry(false);
    QVERIFY(!m_session->login("127.0.0.1", QString::number(server.port()), server.user(), "wrong"));
    QVERIFY(driver().lastError().startsWith("Login incorrect."));
}

void TestSftpDriverServer::missingDirectoryIsCreated() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    session();
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, true));
    m_dialogs->expectMissingDir("./gallery/2024", MissingDirAnswer::Create);
    QVERIFY(m_session->enterDir("./gallery/2024", false, true));
    QVERIFY(QFileInfo(server.root() + "/gallery/2024").isDir());
    QVERIFY(m_session->logLines().filter("Directory does not exist").isEmpty());
    QCOMPARE(driver().state(), 36);
}

void TestSftpDriverServer::uploadsWithExistenceTestAndRename() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    session(PolicyRename);
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, true));
    // The mode the files arrive with: chmod says nothing, and what follows is not its answer.
    m_session->setPermissions("644");
    const FileList files{{test::localFile(*m_temp, "a(1).jpg", "first"), QString()},
                         {test::localFile(*m_temp, "my notes.txt", "spaced"), QString()}};
    QCOMPARE(m_session->uploadFiles(files).size(), 2);
    // The same names again: they are found, so they are renamed aside.
    QCOMPARE(m_session->uploadFiles(files).size(), 2);
    QVERIFY(!m_session->cancelled());
    QCOMPARE(m_session->renamedFiles(),
             (RenamedFiles{{"a(1).jpg", "a(1)_001.jpg"}, {"my notes.txt", "my notes_001.txt"}}));
    QVERIFY(QFile::exists(server.root() + "/a(1)_001.jpg"));
    QVERIFY(QFile::exists(server.root() + "/my notes_001.txt"));

    // A local path with a double quote in it.
    const QString quoted = test::localFile(*m_temp, "say \"hi\".txt", "quoted");
    QVERIFY(driver().putFile(quoted));
    QFile uploaded(server.root() + "/say \"hi\".txt");
    QVERIFY(uploaded.open(QIODevice::ReadOnly));
    QCOMPARE(uploaded.readAll(), QByteArray("quoted"));
    QCOMPARE(m_session->logLines().filter(QRegularExpression("^psftp> dir\\|")).size(), 0);
}

void TestSftpDriverServer::namesTakenLiterally_data() {
    QTest::addColumn<QString>("name");
    // A file the name would match as a wildcard pattern; it must stay as it is.
    QTest::addColumn<QString>("decoy");
    QTest::newRow("[ and ]") << "a[1].jpg"
                             << "a1.jpg";
    QTest::newRow("] alone") << "b]x.jpg"
                             << "";
    QTest::newRow("*") << "c*.jpg"
                       << "cX.jpg";
    QTest::newRow("?") << "d?.jpg"
                       << "dX.jpg";
    QTest::newRow("backslash") << "e\\f.jpg"
                               << "ef.jpg";
    QTest::newRow("double quote") << "g\"h.jpg"
                                  << "";
    QTest::newRow("single quote") << "i'j.jpg"
                                  << "";
    QTest::newRow("all, with a blank") << "[*?] \\ \"'.jpg"
                                       << "X.jpg";
    // Two quotes in a row are read as one, also where a quoted word begins.
    QTest::newRow("a double quote alone") << "\""
                                          << "\"\"";
    QTest::newRow("two double quotes alone") << "\"\""
                                             << "\"";
    // Read as an option if psftp saw it as it is.
    QTest::newRow("leading dash") << "-r.jpg"
                                  << "";
}

void TestSftpDriverServer::namesTakenLiterally() {
    QFETCH(QString, name);
    QFETCH(QString, decoy);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    auto remote = [&](const QString& file) {
        QFile stored(server.root() + "/" + file);
        return stored.open(QIODevice::ReadOnly) ? stored.readAll() : QByteArray("(missing)");
    };
    if (!decoy.isEmpty()) {
        QFile file(server.root() + "/" + decoy);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("decoy") == 5);
    }
    test::localFile(*m_temp, name, "first");
    // Given as the user gave it, relative to the working directory.
    QVERIFY(QDir::setCurrent(m_temp->path()));
    const QString path = name;
    session(PolicyRename);
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, false));
    QVERIFY(!driver().fileExists(name));
    QCOMPARE(m_session->uploadFiles({{path, QString()}}).size(), 1);
    QCOMPARE(remote(name), QByteArray("first"));

    // A new session lists the folder afresh, finds the file and renames it aside.
    test::localFile(*m_temp, name, "second");
    session(PolicyRename);
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(server.root(), false, false));
    QVERIFY(driver().fileExists(name));
    QCOMPARE(m_session->uploadFiles({{path, QString()}}).size(), 1);
    const qsizetype dot = name.contains('.') ? name.lastIndexOf('.') : name.size();
    const QString aside = name.left(dot) + "_001" + name.mid(dot);
    QCOMPARE(m_session->renamedFiles(), (RenamedFiles{{name, aside}}));
    QCOMPARE(remote(name), QByteArray("second"));
    QCOMPARE(remote(aside), QByteArray("first"));
    if (!decoy.isEmpty())
        QCOMPARE(remote(decoy), QByteArray("decoy"));
    QStringList expected{name, aside};
    if (!decoy.isEmpty())
        expected.append(decoy);
    expected.sort();
    QStringList present = QDir(server.root()).entryList(QDir::Files);
    present.sort();
    QCOMPARE(present, expected);
}

void TestSftpDriverServer::permissionDenied() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    // A folder that belongs to root: the test user may enter it but not write.
    const QString locked = server.root() + "/locked";
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(chown(QFile::encodeName(locked).constData(), 0, 0) == 0);
    session(PolicyAsk);
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(locked, false, false));
    const QString path = test::localFile(*m_temp, "x.jpg", "data");
    m_dialogs->expectFileError("x.jpg", "Permission denied. (while uploading file \"x.jpg\")",
                               false);
    QVERIFY(m_session->uploadFiles({{path, QString()}}).isEmpty());
}

void TestSftpDriverServer::failedFileAsksAndGoesOn_data() {
    // What happens to the upload folder once entered: locked (owned by root), gone, nothing.
    QTest::addColumn<QString>("folder");
    // Whether the first local file is a folder, which psftp cannot read as a file.
    QTest::addColumn<bool>("localFolder");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("uploaded");
    // Both files fail there: each is asked about on its own.
    QTest::newRow("remote folder not writable")
        << "locked" << false << "Permission denied." << QStringList{};
    QTest::newRow("remote folder removed")
        << "gone" << false << "Cannot write the file on the server: no such file or directory."
        << QStringList{};
    // The second file still goes.
    QTest::newRow("local file unreadable")
        << "" << true << "The transfer failed: error while reading local file."
        << QStringList{"b.jpg"};
}

void TestSftpDriverServer::failedFileAsksAndGoesOn() {
    QFETCH(QString, folder);
    QFETCH(bool, localFolder);
    QFETCH(QString, error);
    QFETCH(QStringList, uploaded);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const QString target = server.root() + "/target";
    QVERIFY(QDir().mkdir(target));
    // Made by root; the test user may enter a locked one but write only into its own.
    const QFileInfo owner(server.root());
    if (folder != "locked")
        QVERIFY(chown(QFile::encodeName(target).constData(), owner.ownerId(), owner.groupId()) ==
                0);
    const QString first =
        localFolder ? m_temp->filePath("a.jpg") : test::localFile(*m_temp, "a.jpg", "first");
    if (localFolder)
        QVERIFY(QDir().mkdir(first));
    const QString second = test::localFile(*m_temp, "b.jpg", "second");
    session();
    acceptKey();
    QVERIFY(login(server));
    QVERIFY(m_session->enterDir(target, false, false));
    if (folder == "gone")
        QVERIFY(QDir(target).removeRecursively());
    m_dialogs->expectFileError("a.jpg", error, true);
    if (uploaded.isEmpty())
        m_dialogs->expectFileError("b.jpg", error, true);
    QStringList names;
    for (const UploadResult& result :
         m_session->uploadFiles({{first, QString()}, {second, QString()}}))
        names.append(result.file);
    QCOMPARE(names, uploaded);
    for (const QString& name : uploaded) {
        QFile file(target + "/" + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("second"));
    }
    QVERIFY(!m_session->cancelled());
}

QTEST_GUILESS_MAIN(TestSftpDriverServer)
#include "TestSftpDriverServer.moc"

void TestSftpDriverServer::loginWithoutPassword_data() {
    // How the login is made without a stored password, and the passphrase the key has.
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("passphrase");
    QTest::newRow("agent") << "agent"
                           << "";
    QTest::newRow("OpenSSH key") << "openssh"
                                 << "";
    QTest::newRow("OpenSSH key with passphrase") << "openssh"
                                                 << "Key phrase 1";
    QTest::newRow("ppk with passphrase") << "ppk"
                                         << "Key phrase 2";
    QTest::newRow("server asks for the password") << "password"
                                                  << "";
}

void TestSftpDriverServer::loginWithoutPassword() {
    QFETCH(QString, method);
    QFETCH(QString, passphrase);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const QString key = m_temp->filePath("id_test");
    QString problem = runTool(
        "ssh-keygen", {"-q", "-t", "ed25519", "-N", passphrase, "-C", "test key", "-f", key});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(method == "password" || server.authorizeKey(key + ".pub"),
             qPrintable(server.problem()));
    QString keyFile;
    if (method == "openssh") {
        keyFile = key;
    } else if (method == "ppk") {
        // The .ppk gets the OpenSSH key's passphrase, read from a file as puttygen allows.
        const QString phraseFile = test::localFile(*m_temp, "phrase", passphrase.toUtf8() + "\n");
        keyFile = key + ".ppk";
        problem = runTool("puttygen", {key, "-O", "private", "-o", keyFile, "--old-passphrase",
                                       phraseFile, "--new-passphrase", phraseFile});
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    } else if (method == "agent") {
        const QString socket = m_temp->filePath("agent.sock");
        m_agent.start("ssh-agent", {"-D", "-a", socket});
        QVERIFY(m_agent.waitForStarted());
        QTRY_VERIFY(QFileInfo::exists(socket));
        qputenv("SSH_AUTH_SOCK", QFile::encodeName(socket));
        problem = runTool("ssh-add", {key});
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    // Keys earlier runs left: one whose process is gone (no process has that number), one
    // whose process still runs (this one).
    const QString keyDir = m_temp->filePath("runtime/quaddle");
    QVERIFY(QDir().mkdir(keyDir) &&
            QFile::setPermissions(keyDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString living =
        QString("quaddle-key-%1-AbCdEf.ppk").arg(QCoreApplication::applicationPid());
    for (const QString& left : {QString("quaddle-key-2147483647-AbCdEf.ppk"), living}) {
        QFile file(keyDir + "/" + left);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // puttygen as the program finds it, noting while it runs any file holding the passphrase.
    setEnvironment("TMPDIR", m_temp->filePath("tmp"));
    setEnvironment("PATH", m_temp->filePath("bin") + ":" + qEnvironmentVariable("PATH"));
    const QString record = m_temp->filePath("holding");
    QFile wrapper(m_temp->filePath("bin/puttygen"));
    QVERIFY(wrapper.open(QIODevice::WriteOnly));
    wrapper.write(QString("#!/bin/sh\n[ -z '%1' ] || grep -rlF -e '%1' '%2' >>'%3'\n"
                          "exec /usr/bin/puttygen \"$@\"\n")
                      .arg(passphrase, m_temp->filePath("tmp"), record)
                      .toUtf8());
    wrapper.close();
    QVERIFY(wrapper.setPermissions(wrapper.permissions() | QFile::ExeOwner));

    session();
    QCOMPARE(convertedKeys(), QStringList{living});
    // The one question asked, if any: the passphrase, before connecting when an OpenSSH key
    // is converted and when psftp reads a .ppk otherwise, or the password the server wants.
    if (method == "openssh" && !passphrase.isEmpty())
        m_dialogs->expectLogin(server.user(), passphrase);
    acceptKey();
    if (method == "ppk")
        m_dialogs->expectLogin(server.user(), passphrase);
    else if (method == "password")
        m_dialogs->expectLogin(server.user(), server.password());
    QVERIFY(m_session->login("127.0.0.1", QString::number(server.port()), server.user(), QString(),
                             keyFile));
    QCOMPARE(driver().state(), 8);
    QVERIFY(m_session->enterDir(server.root(), false, false));
    const QString log = m_session->logLines().join('\n');
    QVERIFY(!log.contains(server.password()));
    QVERIFY(passphrase.isEmpty() || !log.contains(passphrase));
    QFile holding(record);
    QVERIFY(!holding.open(QIODevice::ReadOnly) || holding.readAll().isEmpty());
    // A converted key lives as long as the session, and keeps the passphrase of its original.
    const QStringList converted = convertedKeys();
    QCOMPARE(converted.size(), method == "openssh" ? 2 : 1);
    if (method == "openssh") {
        QFile copy(keyDir + "/" + (converted[0] == living ? converted[1] : converted[0]));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll().contains("\nEncryption: none\n"), passphrase.isEmpty());
    }
    m_session.reset();
    QCOMPARE(convertedKeys(), QStringList{living});
}
