// Uploads through the user's own ssh against a real OpenSSH server, with ssh's questions
// answered in the session's dialogs.
#include "LocalFiles.h"
#include "ScriptedDialogs.h"
#include "SshServer.h"
#include "platform/Error.h"
#include "upload/OpenSshDriver.h"
#include "upload/UploadSession.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::SshServer;

namespace {

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestOpenSshDriver : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void login_data();
    void login();
    void unreachableServer();

private:
    std::unique_ptr<UploadSession> makeSession(const QString& knownHosts);

    std::unique_ptr<SshServer> m_server;
    QTemporaryDir m_temp;
    QByteArray m_savedHome;
};

void TestOpenSshDriver::initTestCase() {
    m_server = std::make_unique<SshServer>();
    QUADDLE_REQUIRE_SSH(*m_server);
    // ssh keeps its known hosts in the home folder; the account's own and its agent stay out.
    QVERIFY(QDir(m_temp.path()).mkpath("home/.ssh"));
    m_savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_temp.filePath("home")));
    qunsetenv("SSH_AUTH_SOCK");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
}

void TestOpenSshDriver::cleanupTestCase() {
    qputenv("HOME", m_savedHome);
}

std::unique_ptr<UploadSession> TestOpenSshDriver::makeSession(const QString& knownHosts) {
    return std::make_unique<UploadSession>(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1, PolicyOverwrite, true,
        [knownHosts](UploadSession& owner, int) {
            auto driver = std::make_unique<OpenSshDriver>(owner);
            // ssh finds its home folder in the account database, not in HOME.
            driver->setSshCommand(QStandardPaths::findExecutable("ssh"),
                                  {"-F", "/dev/null", "-o", "UserKnownHostsFile=" + knownHosts,
                                   "-o", "GlobalKnownHostsFile=/dev/null"});
            driver->setAskpassProgram(QUADDLE_CLI_PROGRAM);
            return driver;
        });
}

void TestOpenSshDriver::login_data() {
    QTest::addColumn<bool>("rightPassword");
    QTest::addColumn<bool>("hostKeyTrusted");
    // Whether the user is asked for the login after the given password.
    QTest::addColumn<bool>("loginAsked");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("unknown host key accepted, password") << true << true << false << true;
    QTest::newRow("unknown host key refused") << true << false << false << false;
    QTest::newRow("wrong password, login question declined") << false << true << true << false;
}

void TestOpenSshDriver::login() {
    QFETCH(bool, rightPassword);
    QFETCH(bool, hostKeyTrusted);
    QFETCH(bool, loginAsked);
    QFETCH(bool, loggedIn);
    const QString knownHosts = m_temp.filePath("home/.ssh/known_hosts");
    QFile::remove(knownHosts);
    test::ScriptedDialogs dialogs;
    dialogs.expectIdentity(IdentityKind::HostKey, false, hostKeyTrusted,
                           QRegularExpression::escape(m_server->fingerprint()));
    if (loginAsked)
        dialogs.expectLoginCancelled();
    const std::unique_ptr<UploadSession> made = makeSession(knownHosts);
    UploadSession& session = *made;
    session.setTempNames(true);
    const QString password = rightPassword ? m_server->password() : "wrong-Pa55";
    QCOMPARE(
        session.login("127.0.0.1", QString::number(m_server->port()), m_server->user(), password),
        loggedIn);
    // Only an accepted key is remembered.
    QCOMPARE(contentsOf(knownHosts).contains("127.0.0.1"), hostKeyTrusted);
    QUADDLE_VERIFY_DIALOGS(dialogs);
    if (!loggedIn)
        return;

    const QString remote = m_server->root();
    QVERIFY(session.enterDir(remote, false, false));
    QFile decoy(remote + "/my a.txt");
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.close();
    QVERIFY(!session.driver().fileExists("a.txt"));
    session.setPermissions("604");
    const UploadResults results =
        session.uploadFiles({{test::localFile(m_temp, "a.txt", "first"), QString()},
                             {test::localFile(m_temp, "b c.txt", "second"), QString()}});
    QCOMPARE(results.size(), 2);
    QVERIFY(session.driver().fileExists("a.txt"));
    QCOMPARE(contentsOf(remote + "/a.txt"), QByteArray("first"));
    QCOMPARE(contentsOf(remote + "/b c.txt"), QByteArray("second"));
    const QFile::Permissions ownerGroupOther(0x7077);
    for (const QString& name : QStringList{"a.txt", "b c.txt"}) {
        QVERIFY(!QFile::exists(remote + "/" + name + ".part"));
        QCOMPARE(QFile::permissions(remote + "/" + name) & ownerGroupOther,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    // A file of another name is not there.
    QVERIFY(!session.driver().changeDir("a.txt"));
}

void TestOpenSshDriver::unreachableServer() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString port = QString::number(closed.serverPort());
    closed.close();
    // Nothing is asked of the user.
    test::ScriptedDialogs dialogs;
    const std::unique_ptr<UploadSession> session =
        makeSession(m_temp.filePath("home/.ssh/known_hosts"));
    try {
        session->login("127.0.0.1", port, m_server->user(), "x");
        QFAIL("a server nobody runs was reached");
    } catch (const Error& error) {
        QVERIFY2(error.message().contains("Connection refused"), error.what());
    }
}

QTEST_GUILESS_MAIN(TestOpenSshDriver)
#include "TestOpenSshDriver.moc"
