#include "SshServer.h"

#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace quaddle::test {

namespace {

const QString Sshd = QStringLiteral("/usr/sbin/sshd");
const QString Keygen = QStringLiteral("/usr/bin/ssh-keygen");
constexpr int StopTimeoutMs = 5000;
// Stands for the hostile server's script in a subsystem command, until start() knows its copy.
const QString HostileScript = QStringLiteral("<hostile_sftpd.py>");

} // namespace

SshServer::SshServer(KeyType key, const QString& banner, const QString& subsystem)
    : m_keyType(key) {
    start(banner, subsystem);
}

QString SshServer::hostileSubsystem(const QString& fault) {
    return QStringLiteral("/usr/bin/python3 ") + HostileScript + QLatin1Char(' ') + fault;
}

SshServer::~SshServer() {
    stop();
}

bool SshServer::replaceHostKey(KeyType type) {
    m_keyType = type;
    return replaceHostKey();
}

void SshServer::pauseSessions() {
    signalSessions(SIGSTOP);
}

void SshServer::resumeSessions() {
    signalSessions(SIGCONT);
}

void SshServer::signalSessions(int signal) {
    // Each connection has an sshd of its own below the listening one, and that one a child
    // for the logged-in user.
    const QList<qint64> family = processFamily(m_process.processId());
    for (qsizetype i = 1; i < family.size(); ++i)
        kill(pid_t(family[i]), signal);
}

bool SshServer::replaceHostKey() {
    if (!started())
        return false;
    stop();
    const quint16 port = m_port;
    m_port = 0;
    return makeHostKey() && launch(port);
}

QString SshServer::fingerprint() const {
    QProcess keygen;
    keygen.start(Keygen, {"-l", "-E", "sha256", "-f", m_work.filePath("host_key.pub")});
    if (!keygen.waitForFinished(StartTimeoutMs) || keygen.exitCode() != 0)
        return {};
    // "<bits> SHA256:<hash> <comment> (<type>)"
    return QString::fromUtf8(keygen.readAllStandardOutput()).section(' ', 1, 1);
}

void SshServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    // A paused connection would outlive the server.
    resumeSessions();
    m_process.terminate();
    if (!m_process.waitForFinished(StopTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished();
    }
    // A child sshd just forked for a connection holds the listening socket until it closes
    // its copy; wait for that so the port is really closed once we return.
    const QDeadlineTimer deadline(StopTimeoutMs);
    while (m_port != 0 && !deadline.hasExpired() && accepts(m_port))
        QThread::msleep(20);
}

QStringList SshServer::sftpCommand(const QStringList& options) const {
    return QStringList{"ssh",
                       "-F",
                       "/dev/null",
                       "-o",
                       "StrictHostKeyChecking=no",
                       "-o",
                       "UserKnownHostsFile=/dev/null"} +
           options +
           QStringList{"-p", QString::number(port()), "-l", user(), "-s", "127.0.0.1", "sftp"};
}

bool SshServer::authorizeKey(const QString& publicKeyFile) {
    QFile key(publicKeyFile);
    QFile authorized(m_keysDir.filePath("authorized_keys"));
    if (!key.open(QIODevice::ReadOnly) || !authorized.open(QIODevice::Append))
        return fail("cannot authorize " + publicKeyFile);
    return authorized.write(key.readAll()) >= 0 && authorized.flush();
}

QString SshServer::user() const {
    return TestAccount;
}

QString SshServer::password() const {
    return TestAccountPassword;
}

bool SshServer::fail(const QString& problem) {
    m_problem = problem;
    return false;
}

bool SshServer::lack(const QString& problem) {
    m_unavailable = true;
    return fail(problem);
}

QString SshServer::log() const {
    QFile log(m_work.filePath("sshd.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll());
}

bool SshServer::makeHostKey() {
    const QString hostKey = m_work.filePath("host_key");
    // ssh-keygen would ask before overwriting.
    QFile::remove(hostKey);
    QFile::remove(hostKey + ".pub");
    QStringList keygenArguments{"-q", "-N", "", "-f", hostKey, "-t"};
    keygenArguments +=
        m_keyType == KeyType::Rsa ? QStringList{"rsa", "-b", "2048"} : QStringList{"ed25519"};
    QProcess keygen;
    keygen.setProcessChannelMode(QProcess::MergedChannels);
    keygen.start(Keygen, keygenArguments);
    if (!keygen.waitForFinished(StartTimeoutMs) || keygen.exitStatus() != QProcess::NormalExit ||
        keygen.exitCode() != 0)
        return fail("ssh-keygen failed: " + keygen.errorString() + " " +
                    QString::fromUtf8(keygen.readAll()));
    return true;
}

bool SshServer::launch(quint16 port) {
    // A file, unlike a pipe, never fills up and stalls the server.
    const QString logPath = m_work.filePath("sshd.log");
    m_process.setStandardErrorFile(logPath, QIODevice::Append);
    m_process.setStandardOutputFile(logPath, QIODevice::Append);
    m_process.start(Sshd, {"-D", "-e", "-f", m_work.filePath("sshd_config")});
    if (waitUntilListening(m_process, port)) {
        m_port = port;
        return true;
    }
    return fail("sshd did not start: " + m_process.errorString() + "\n" + log());
}

void SshServer::start(const QString& banner, const QString& subsystem) {
    if (geteuid() != 0) {
        lack("the SSH server needs root");
        return;
    }
    if (!QFileInfo(Sshd).isExecutable()) {
        lack(Sshd + " is not installed (openssh-server)");
        return;
    }
    const passwd* account = getpwnam(TestAccount.toLocal8Bit().constData());
    if (!account) {
        lack("no such user \"" + TestAccount + "\" (scripts/test creates it)");
        return;
    }
    if (!m_work.isValid() || !m_rootDir.isValid() || !m_keysDir.isValid()) {
        fail("cannot create temporary directories");
        return;
    }
    // sshd refuses to start without its privilege-separation directory; a container may
    // never have run the service that creates it.
    const QString privsep = QStringLiteral("/run/sshd");
    if (!QFileInfo(privsep).isDir() &&
        (!QDir().mkpath(privsep) || !QFile::setPermissions(privsep, Mode0755))) {
        fail("cannot create " + privsep);
        return;
    }
    // The test user must reach Root() through its parents and write into it.
    if (!QFile::setPermissions(root(), Mode0755) ||
        chown(QFile::encodeName(root()).constData(), account->pw_uid, account->pw_gid) != 0) {
        fail("cannot hand " + root() + " to the user \"" + TestAccount + "\"");
        return;
    }

    QFile authorizedKeys(m_keysDir.filePath("authorized_keys"));
    if (!QFile::setPermissions(m_keysDir.path(), Mode0755) ||
        !authorizedKeys.open(QIODevice::WriteOnly) ||
        !authorizedKeys.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                       QFile::ReadOther)) {
        fail("cannot create " + authorizedKeys.fileName());
        return;
    }
    authorizedKeys.close();
    // The test account runs the hostile server from a copy it can reach: the checkout may lie in
    // a folder only root may enter.
    const QString hostileCopy = m_keysDir.filePath("hostile_sftpd.py");
    if (subsystem.contains(HostileScript) &&
        (!QFile::copy(QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/hostile_sftpd.py"), hostileCopy) ||
         !QFile::setPermissions(hostileCopy, Mode0755))) {
        fail("cannot copy the hostile SFTP server to " + hostileCopy);
        return;
    }

    if (!makeHostKey())
        return;
    const QString hostKey = m_work.filePath("host_key");
    QString bannerLine;
    if (!banner.isEmpty()) {
        QFile bannerFile(m_work.filePath("banner.txt"));
        if (!bannerFile.open(QIODevice::WriteOnly) || bannerFile.write(banner.toUtf8()) < 0) {
            fail("cannot write the banner");
            return;
        }
        bannerLine = "Banner " + bannerFile.fileName() + "\n";
    }

    const quint16 port = freePort();
    QFile config(m_work.filePath("sshd_config"));
    if (!config.open(QIODevice::WriteOnly)) {
        fail("cannot write the sshd configuration");
        return;
    }
    config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile %3\n"
                                "UsePAM no\nPasswordAuthentication yes\n"
                                "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                                "PermitRootLogin no\nAllowUsers %4\n"
                                "Subsystem sftp %6\nStrictModes no\n"
                                "AuthorizedKeysFile %5\nPrintMotd no\nUseDNS no\n"
                                "LogLevel INFO\n")
                     .arg(port)
                     .arg(hostKey, m_work.filePath("sshd.pid"), TestAccount,
                          authorizedKeys.fileName(),
                          QString(subsystem).replace(HostileScript, hostileCopy))
                     .toUtf8() +
                 bannerLine.toUtf8());
    config.close();

    launch(port);
}

} // namespace quaddle::test
