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
#include <pwd.h>
#include <unistd.h>

namespace quaddle::test {

namespace {

const QString Sshd = QStringLiteral("/usr/sbin/sshd");
const QString Keygen = QStringLiteral("/usr/bin/ssh-keygen");
const QString TestUser = QStringLiteral("quaddle-test");
// scripts/test gives the account this password; keep both in sync. The "!" makes callers
// quote it for a shell.
const QString TestPassword = QStringLiteral("Qu4ddle-test!");
constexpr int StopTimeoutMs = 5000;

} // namespace

TSshServer::TSshServer(TKeyType key) {
    Start(key);
}

TSshServer::~TSshServer() {
    if (Process.state() == QProcess::NotRunning)
        return;
    Process.terminate();
    if (!Process.waitForFinished(StopTimeoutMs)) {
        Process.kill();
        Process.waitForFinished();
    }
    // A child sshd just forked for a connection holds the listening socket until it closes
    // its copy; wait for that so the port is really closed once we return.
    const QDeadlineTimer deadline(StopTimeoutMs);
    while (Port_ != 0 && !deadline.hasExpired() && Accepts(Port_))
        QThread::msleep(20);
}

QString TSshServer::User() const {
    return TestUser;
}

QString TSshServer::Password() const {
    return TestPassword;
}

void TSshServer::WritePsftpWrapper(const QString& dir) const {
    QFile script(QDir(dir).filePath("psftp"));
    QVERIFY2(script.open(QIODevice::WriteOnly | QIODevice::Truncate),
             qPrintable("cannot write " + script.fileName()));
    const QByteArray text =
        QStringLiteral("#!/bin/sh\nexec /usr/bin/psftp -P %1 \"$@\"\n").arg(Port_).toUtf8();
    QVERIFY(script.write(text) == text.size());
    script.close();
    QVERIFY(script.setPermissions(Mode0755));
}

bool TSshServer::Fail(const QString& problem) {
    Problem_ = problem;
    return false;
}

bool TSshServer::Lack(const QString& problem) {
    Unavailable_ = true;
    return Fail(problem);
}

QString TSshServer::ReadLog() const {
    QFile log(Work.filePath("sshd.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll());
}

void TSshServer::Start(TKeyType key) {
    if (geteuid() != 0) {
        Lack("the SSH server needs root");
        return;
    }
    if (!QFileInfo(Sshd).isExecutable()) {
        Lack(Sshd + " is not installed (openssh-server)");
        return;
    }
    const passwd* account = getpwnam(TestUser.toLocal8Bit().constData());
    if (!account) {
        Lack("no such user \"" + TestUser + "\" (scripts/test creates it)");
        return;
    }
    if (!Work.isValid() || !RootDir.isValid()) {
        Fail("cannot create temporary directories");
        return;
    }
    // sshd refuses to start without its privilege-separation directory; a container may
    // never have run the service that creates it.
    const QString privsep = QStringLiteral("/run/sshd");
    if (!QFileInfo(privsep).isDir() &&
        (!QDir().mkpath(privsep) || !QFile::setPermissions(privsep, Mode0755))) {
        Fail("cannot create " + privsep);
        return;
    }
    // The test user must reach Root() through its parents and write into it.
    if (!QFile::setPermissions(Root(), Mode0755) ||
        chown(QFile::encodeName(Root()).constData(), account->pw_uid, account->pw_gid) != 0) {
        Fail("cannot hand " + Root() + " to the user \"" + TestUser + "\"");
        return;
    }

    const QString hostKey = Work.filePath("host_key");
    QStringList keygenArguments{"-q", "-N", "", "-f", hostKey, "-t"};
    keygenArguments +=
        key == TKeyType::Rsa ? QStringList{"rsa", "-b", "2048"} : QStringList{"ed25519"};
    QProcess keygen;
    keygen.setProcessChannelMode(QProcess::MergedChannels);
    keygen.start(Keygen, keygenArguments);
    if (!keygen.waitForFinished(StartTimeoutMs) || keygen.exitStatus() != QProcess::NormalExit ||
        keygen.exitCode() != 0) {
        Fail("ssh-keygen failed: " + keygen.errorString() + " " +
             QString::fromUtf8(keygen.readAll()));
        return;
    }

    const quint16 port = FreePort();
    QFile config(Work.filePath("sshd_config"));
    if (!config.open(QIODevice::WriteOnly)) {
        Fail("cannot write the sshd configuration");
        return;
    }
    config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile %3\n"
                                "UsePAM no\nPasswordAuthentication yes\n"
                                "KbdInteractiveAuthentication no\nPubkeyAuthentication no\n"
                                "PermitRootLogin no\nAllowUsers %4\n"
                                "Subsystem sftp internal-sftp\nStrictModes no\n"
                                "AuthorizedKeysFile none\nPrintMotd no\nUseDNS no\n"
                                "LogLevel INFO\n")
                     .arg(port)
                     .arg(hostKey, Work.filePath("sshd.pid"), TestUser)
                     .toUtf8());
    config.close();

    // A file, unlike a pipe, never fills up and stalls the server.
    const QString logPath = Work.filePath("sshd.log");
    Process.setStandardErrorFile(logPath);
    Process.setStandardOutputFile(logPath, QIODevice::Append);
    Process.start(Sshd, {"-D", "-e", "-f", config.fileName()});
    if (WaitUntilListening(Process, port)) {
        Port_ = port;
        return;
    }
    Fail("sshd did not start: " + Process.errorString() + "\n" + ReadLog());
}

} // namespace quaddle::test
