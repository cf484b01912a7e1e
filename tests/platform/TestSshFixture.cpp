#include "SshServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <sys/stat.h>

using quaddle::test::TSshServer;

namespace {

constexpr int TimeoutMs = 30000;

// psftp driven through the fixture's wrapper, with a fresh home so its host-key cache is empty.
class TPsftp {
public:
    TPsftp(const TSshServer& server, const QString& password) {
        QVERIFY(Home.isValid() && Work.isValid());
        server.WritePsftpWrapper(Work.path());
        QFile pwfile(Work.filePath("pw"));
        QVERIFY(pwfile.open(QIODevice::WriteOnly));
        QVERIFY(pwfile.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        pwfile.write(password.toUtf8());
        pwfile.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", Home.path());
        Process.setProcessEnvironment(environment);
        Process.setProcessChannelMode(QProcess::MergedChannels);
        Process.start(Work.filePath("psftp"),
                      {"-pwfile", pwfile.fileName(), server.User() + "@127.0.0.1"});
    }
    ~TPsftp() {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished();
        }
    }

    // Waits until the output since the last wait contains text; false at exit or timeout.
    bool WaitFor(const QByteArray& text) {
        const QDeadlineTimer deadline(TimeoutMs);
        for (;;) {
            Output += Process.readAll();
            const qsizetype at = Output.indexOf(text, Seen);
            if (at >= 0) {
                Seen = at + text.size();
                return true;
            }
            if (deadline.hasExpired() || Process.state() == QProcess::NotRunning)
                return false;
            Process.waitForReadyRead(100);
        }
    }
    void Send(const QString& line) { Process.write(line.toUtf8() + "\n"); }
    // Waits for psftp to end; its exit code, or -1.
    int Finish() {
        if (!Process.waitForFinished(TimeoutMs) || Process.exitStatus() != QProcess::NormalExit)
            return -1;
        Output += Process.readAll();
        return Process.exitCode();
    }
    QStringList Lines() const { return QString::fromUtf8(Output).split('\n'); }
    QString HostKeyCache() const {
        QFile cache(Home.filePath(".putty/sshhostkeys"));
        return cache.open(QIODevice::ReadOnly) ? QString::fromUtf8(cache.readAll()) : QString();
    }
    QString WorkPath(const QString& name) const { return Work.filePath(name); }

    QByteArray Output;

private:
    QTemporaryDir Home;
    QTemporaryDir Work;
    QProcess Process;
    qsizetype Seen = 0;
};

QByteArray SampleBytes() {
    QByteArray bytes;
    for (int i = 0; i < 300000; ++i)
        bytes.append(char((quint32(i) * 7919u + quint32(i) / 251u) & 0xffu));
    bytes.append("\r\n\0end\n", 7);
    return bytes;
}

} // namespace

class TestSshFixture : public QObject {
    Q_OBJECT

private slots:
    void psftpUploadsThroughWrapper_data();
    void psftpUploadsThroughWrapper();
    void wrongPasswordIsRefused();
    void rootBelongsToTestUser();
    void stopsAndRemovesRootAtDestruction();
};

void TestSshFixture::psftpUploadsThroughWrapper_data() {
    QTest::addColumn<TSshServer::TKeyType>("key");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("keyLine");
    QTest::addColumn<QString>("cacheEntry");
    QTest::newRow("rsa") << TSshServer::TKeyType::Rsa << "The server's rsa2 key fingerprint is:"
                         << "^  ssh-rsa 2048 SHA256:[A-Za-z0-9+/]{43}$"
                         << "rsa2@";
    QTest::newRow("ed25519") << TSshServer::TKeyType::Ed25519
                             << "The server's ssh-ed25519 key fingerprint is:"
                             << "^  ssh-ed25519 255 SHA256:[A-Za-z0-9+/]{43}$"
                             << "ssh-ed25519@";
}

void TestSshFixture::psftpUploadsThroughWrapper() {
    QFETCH(TSshServer::TKeyType, key);
    QFETCH(QString, header);
    QFETCH(QString, keyLine);
    QFETCH(QString, cacheEntry);
    TSshServer server(key);
    QUADDLE_REQUIRE_SSH(server);

    TPsftp psftp(server, server.Password());
    const QString local = psftp.WorkPath("sample.bin");
    QFile sample(local);
    QVERIFY(sample.open(QIODevice::WriteOnly));
    const QByteArray bytes = SampleBytes();
    QCOMPARE(sample.write(bytes), bytes.size());
    sample.close();

    QVERIFY2(psftp.WaitFor("Store key in cache? (y/n, Return cancels connection, i for more "
                           "info) "),
             psftp.Output.constData());
    psftp.Send("y");
    QVERIFY2(psftp.WaitFor("psftp> "), psftp.Output.constData());
    psftp.Send("cd " + server.Root());
    QVERIFY2(psftp.WaitFor("psftp> "), psftp.Output.constData());
    psftp.Send("put " + local);
    QVERIFY2(psftp.WaitFor("psftp> "), psftp.Output.constData());
    psftp.Send("quit");
    QCOMPARE(psftp.Finish(), 0);

    const QStringList lines = psftp.Lines();
    const qsizetype headerAt = lines.indexOf(header);
    QVERIFY2(headerAt >= 0, psftp.Output.constData());
    QVERIFY(lines[headerAt].startsWith("The server's "));
    QVERIFY(lines[headerAt].contains("key fingerprint is:"));
    QVERIFY2(headerAt + 1 < lines.size() &&
                 QRegularExpression(keyLine).match(lines[headerAt + 1]).hasMatch(),
             psftp.Output.constData());
    QVERIFY(lines.contains("  127.0.0.1 (port " + QString::number(server.Port()) + ")"));
    QVERIFY(lines.contains("The host key is not cached for this server:"));
    QVERIFY(lines.contains("Store key in cache? (y/n, Return cancels connection, i for more "
                           "info) Using username \"quaddle-test\"."));
    const passwd* account = getpwnam("quaddle-test");
    QVERIFY(account);
    QVERIFY2(
        lines.contains("Remote working directory is " + QString::fromLocal8Bit(account->pw_dir)),
        psftp.Output.constData());
    QVERIFY2(lines.contains("psftp> Remote directory is now " + server.Root()),
             psftp.Output.constData());
    const QString remote = server.Root() + "/sample.bin";
    QVERIFY2(lines.contains("psftp> local:" + local + " => remote:" + remote),
             psftp.Output.constData());
    QCOMPARE(lines.last(), "psftp> ");

    QVERIFY(psftp.HostKeyCache().startsWith(cacheEntry + QString::number(server.Port()) +
                                            ":127.0.0.1 "));
    QFile arrived(remote);
    QVERIFY(arrived.open(QIODevice::ReadOnly));
    QVERIFY(arrived.readAll() == bytes);
    struct stat status {};
    QCOMPARE(stat(QFile::encodeName(remote).constData(), &status), 0);
    QCOMPARE(status.st_uid, account->pw_uid);
}

void TestSshFixture::wrongPasswordIsRefused() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    TPsftp psftp(server, server.Password() + "x");
    QVERIFY2(psftp.WaitFor("Store key in cache? "), psftp.Output.constData());
    psftp.Send("n");
    QCOMPARE(psftp.Finish(), 1);
    const QStringList lines = psftp.Lines();
    QVERIFY2(lines.contains("Access denied"), psftp.Output.constData());
    QVERIFY2(lines.contains("FATAL ERROR: Configured password was not accepted"),
             psftp.Output.constData());
    QVERIFY(!psftp.Output.contains("psftp> "));
    QVERIFY(psftp.HostKeyCache().isEmpty());
}

void TestSshFixture::rootBelongsToTestUser() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    QCOMPARE(server.User(), "quaddle-test");
    QVERIFY(QFileInfo(server.Root()).isAbsolute());
    struct stat status {};
    QCOMPARE(stat(QFile::encodeName(server.Root()).constData(), &status), 0);
    QVERIFY(S_ISDIR(status.st_mode));
    QCOMPARE(status.st_mode & 07777, mode_t(0755));
    const passwd* account = getpwnam("quaddle-test");
    QVERIFY(account);
    QCOMPARE(status.st_uid, account->pw_uid);
    QVERIFY(QDir(server.Root()).isEmpty());
    for (QDir parent = QFileInfo(server.Root()).dir(); !parent.isRoot(); parent.cdUp())
        QVERIFY2(QFileInfo(parent.path()).permissions() & QFile::ExeOther,
                 qPrintable(parent.path()));
}

void TestSshFixture::stopsAndRemovesRootAtDestruction() {
    quint16 port = 0;
    QString root;
    {
        TSshServer server(TSshServer::TKeyType::Ed25519);
        QUADDLE_REQUIRE_SSH(server);
        port = server.Port();
        root = server.Root();
        QFile file(root + "/left-behind");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(!QFileInfo::exists(root));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!socket.waitForConnected(1000));
}

QTEST_GUILESS_MAIN(TestSshFixture)
#include "TestSshFixture.moc"
