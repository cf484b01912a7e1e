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

using quaddle::test::SshServer;

namespace {

constexpr int TimeoutMs = 30000;

// The real psftp on the fixture's port, with a fresh home so its host-key cache is empty.
class Psftp {
public:
    Psftp(const SshServer& server, const QString& password) {
        QVERIFY(m_home.isValid() && m_work.isValid());
        QFile pwfile(m_work.filePath("pw"));
        QVERIFY(pwfile.open(QIODevice::WriteOnly));
        QVERIFY(pwfile.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        pwfile.write(password.toUtf8());
        pwfile.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_home.path());
        // Else psftp would take the account's own .putty.
        QDir(m_home.path()).mkpath(".putty");
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("/usr/bin/psftp", {"-P", QString::number(server.port()), "-pwfile",
                                           pwfile.fileName(), server.user() + "@127.0.0.1"});
    }
    ~Psftp() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Waits until the output since the last wait contains text; false at exit or timeout.
    bool waitFor(const QByteArray& text) {
        const QDeadlineTimer deadline(TimeoutMs);
        for (;;) {
            output += m_process.readAll();
            const qsizetype at = output.indexOf(text, m_seen);
            if (at >= 0) {
                m_seen = at + text.size();
                return true;
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
        }
    }
    void send(const QString& line) { m_process.write(line.toUtf8() + "\n"); }
    // Waits for psftp to end; its exit code, or -1.
    int finish() {
        if (!m_process.waitForFinished(TimeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        output += m_process.readAll();
        return m_process.exitCode();
    }
    QStringList lines() const { return QString::fromUtf8(output).split('\n'); }
    QString hostKeyCache() const {
        QFile cache(m_home.filePath(".putty/sshhostkeys"));
        return cache.open(QIODevice::ReadOnly) ? QString::fromUtf8(cache.readAll()) : QString();
    }
    QString workPath(const QString& name) const { return m_work.filePath(name); }

    QByteArray output;

private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QProcess m_process;
    qsizetype m_seen = 0;
};

QByteArray sampleBytes() {
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
    void psftpUploadsToTheFixture_data();
    void psftpUploadsToTheFixture();
    void wrongPasswordIsRefused();
    void rootBelongsToTestUser();
    void stopsAndRemovesRootAtDestruction();
};

void TestSshFixture::psftpUploadsToTheFixture_data() {
    QTest::addColumn<SshServer::KeyType>("key");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("keyLine");
    QTest::addColumn<QString>("cacheEntry");
    QTest::newRow("rsa") << SshServer::KeyType::Rsa << "The server's rsa2 key fingerprint is:"
                         << "^  ssh-rsa 2048 SHA256:[A-Za-z0-9+/]{43}$"
                         << "rsa2@";
    QTest::newRow("ed25519") << SshServer::KeyType::Ed25519
                             << "The server's ssh-ed25519 key fingerprint is:"
                             << "^  ssh-ed25519 255 SHA256:[A-Za-z0-9+/]{43}$"
                             << "ssh-ed25519@";
}

void TestSshFixture::psftpUploadsToTheFixture() {
    QFETCH(SshServer::KeyType, key);
    QFETCH(QString, header);
    QFETCH(QString, keyLine);
    QFETCH(QString, cacheEntry);
    SshServer server(key);
    QUADDLE_REQUIRE_SSH(server);

    Psftp psftp(server, server.password());
    const QString local = psftp.workPath("sample.bin");
    QFile sample(local);
    QVERIFY(sample.open(QIODevice::WriteOnly));
    const QByteArray bytes = sampleBytes();
    QCOMPARE(sample.write(bytes), bytes.size());
    sample.close();

    QVERIFY2(psftp.waitFor("Store key in cache? (y/n, Return cancels connection, i for more "
                           "info) "),
             psftp.output.constData());
    psftp.send("y");
    QVERIFY2(psftp.waitFor("psftp> "), psftp.output.constData());
    psftp.send("cd " + server.root());
    QVERIFY2(psftp.waitFor("psftp> "), psftp.output.constData());
    psftp.send("put " + local);
    QVERIFY2(psftp.waitFor("psftp> "), psftp.output.constData());
    psftp.send("quit");
    QCOMPARE(psftp.finish(), 0);

    const QStringList lines = psftp.lines();
    const qsizetype headerAt = lines.indexOf(header);
    QVERIFY2(headerAt >= 0, psftp.output.constData());
    QVERIFY(lines[headerAt].startsWith("The server's "));
    QVERIFY(lines[headerAt].contains("key fingerprint is:"));
    QVERIFY2(headerAt + 1 < lines.size() &&
                 QRegularExpression(keyLine).match(lines[headerAt + 1]).hasMatch(),
             psftp.output.constData());
    QVERIFY(lines.contains("  127.0.0.1 (port " + QString::number(server.port()) + ")"));
    QVERIFY(lines.contains("The host key is not cached for this server:"));
    QVERIFY(lines.contains("Store key in cache? (y/n, Return cancels connection, i for more "
                           "info) Using username \"quaddle-test\"."));
    const passwd* account = getpwnam("quaddle-test");
    QVERIFY(account);
    QVERIFY2(
        lines.contains("Remote working directory is " + QString::fromLocal8Bit(account->pw_dir)),
        psftp.output.constData());
    QVERIFY2(lines.contains("psftp> Remote directory is now " + server.root()),
             psftp.output.constData());
    const QString remote = server.root() + "/sample.bin";
    QVERIFY2(lines.contains("psftp> local:" + local + " => remote:" + remote),
             psftp.output.constData());
    QCOMPARE(lines.last(), "psftp> ");

    QVERIFY(psftp.hostKeyCache().startsWith(cacheEntry + QString::number(server.port()) +
                                            ":127.0.0.1 "));
    QFile arrived(remote);
    QVERIFY(arrived.open(QIODevice::ReadOnly));
    QVERIFY(arrived.readAll() == bytes);
    struct stat status {};
    QCOMPARE(stat(QFile::encodeName(remote).constData(), &status), 0);
    QCOMPARE(status.st_uid, account->pw_uid);
}

void TestSshFixture::wrongPasswordIsRefused() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    Psftp psftp(server, server.password() + "x");
    QVERIFY2(psftp.waitFor("Store key in cache? "), psftp.output.constData());
    psftp.send("n");
    QCOMPARE(psftp.finish(), 1);
    const QStringList lines = psftp.lines();
    QVERIFY2(lines.contains("Access denied"), psftp.output.constData());
    QVERIFY2(lines.contains("FATAL ERROR: Configured password was not accepted"),
             psftp.output.constData());
    QVERIFY(!psftp.output.contains("psftp> "));
    QVERIFY(psftp.hostKeyCache().isEmpty());
}

void TestSshFixture::rootBelongsToTestUser() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    QCOMPARE(server.user(), "quaddle-test");
    QVERIFY(QFileInfo(server.root()).isAbsolute());
    struct stat status {};
    QCOMPARE(stat(QFile::encodeName(server.root()).constData(), &status), 0);
    QVERIFY(S_ISDIR(status.st_mode));
    QCOMPARE(status.st_mode & 07777, mode_t(0755));
    const passwd* account = getpwnam("quaddle-test");
    QVERIFY(account);
    QCOMPARE(status.st_uid, account->pw_uid);
    QVERIFY(QDir(server.root()).isEmpty());
    for (QDir parent = QFileInfo(server.root()).dir(); !parent.isRoot(); parent.cdUp())
        QVERIFY2(QFileInfo(parent.path()).permissions() & QFile::ExeOther,
                 qPrintable(parent.path()));
}

void TestSshFixture::stopsAndRemovesRootAtDestruction() {
    quint16 port = 0;
    QString root;
    {
        SshServer server(SshServer::KeyType::Ed25519);
        QUADDLE_REQUIRE_SSH(server);
        port = server.port();
        root = server.root();
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
