#include "FtpServer.h"

#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace quaddle::test {

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");

} // namespace

TFtpServer::TFtpServer(TKind kind) {
    if (kind == TKind::Vsftpd)
        StartVsftpd();
    else
        StartPython({"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "0", "-w", "-d", Root.path(), "-u",
                     User_, "-P", Password_});
}

TFtpServer::TFtpServer(const QString& fault) {
    StartPython({QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/faulty_ftpd.py"), fault, Root.path(),
                 User_, Password_});
}

TFtpServer::~TFtpServer() {
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished();
    }
}

QString TFtpServer::LocalPath(const QString& name) const {
    const QString root = UploadDir_ == "/" ? Root.path() : Root.filePath("root");
    return QDir(root + UploadDir_).filePath(name);
}

void TFtpServer::StartPython(const QStringList& arguments) {
    // The server logs every command; a file, unlike a pipe, never fills up and stalls it.
    const QString logPath = LogPath();
    Process.setStandardErrorFile(logPath);
    Process.setStandardOutputFile(logPath, QIODevice::Append);
    Process.start(Python, arguments);
    static const QRegularExpression listening(QStringLiteral("127\\.0\\.0\\.1:(\\d+)"));
    const QDeadlineTimer deadline(StartTimeoutMs);
    QString output;
    while (!deadline.hasExpired() && Process.state() != QProcess::NotRunning) {
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly))
            output = QString::fromUtf8(log.readAll());
        const QRegularExpressionMatch match = listening.match(output);
        if (match.hasMatch()) {
            Port_ = quint16(match.captured(1).toUInt());
            return;
        }
        Process.waitForFinished(50);
    }
    Problem_ = "the FTP server did not start: " + output;
}

QString TFtpServer::LogPath() const {
    return Root.filePath("server.log");
}

void TFtpServer::StartVsftpd() {
    // vsftpd chroots anonymous users into a root-owned folder they cannot write, and drops
    // to the "ftp" user, who owns the upload folder.
    const passwd* ftp = getpwnam("ftp");
    if (geteuid() != 0 || !ftp) {
        Problem_ = "vsftpd needs root and the user \"ftp\"";
        return;
    }
    const QString root = Root.filePath("root");
    const QString upload = root + "/upload";
    QDir().mkpath(upload);
    QDir().mkpath(Root.filePath("empty"));
    QFile::setPermissions(Root.path(), Mode0755);
    QFile::setPermissions(root, Mode0755);
    if (chown(QFile::encodeName(upload).constData(), ftp->pw_uid, ftp->pw_gid) != 0) {
        Problem_ = "cannot hand the upload folder to the user \"ftp\"";
        return;
    }
    User_ = "anonymous";
    Password_ = "tester@example.org";
    UploadDir_ = "/upload";

    const quint16 port = FreePort();
    QFile config(Root.filePath("vsftpd.conf"));
    if (!config.open(QIODevice::WriteOnly)) {
        Problem_ = "cannot write the vsftpd configuration";
        return;
    }
    config.write(QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                                "listen_port=%1\nbackground=NO\nanonymous_enable=YES\n"
                                "local_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\n"
                                "anon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
                                "anon_world_readable_only=NO\nanon_root=%2\nanon_umask=022\n"
                                "secure_chroot_dir=%3\npasv_enable=YES\nport_enable=YES\n"
                                "connect_from_port_20=NO\nseccomp_sandbox=NO\nisolate=NO\n"
                                "isolate_network=NO\nxferlog_enable=NO\nsyslog_enable=NO\n"
                                "hide_ids=YES\n")
                     .arg(port)
                     .arg(root, Root.filePath("empty"))
                     .toUtf8());
    config.close();

    Process.setStandardErrorFile(LogPath());
    Process.setStandardOutputFile(LogPath(), QIODevice::Append);
    Process.start("/usr/sbin/vsftpd", {config.fileName()});
    if (WaitUntilListening(Process, port)) {
        Port_ = port;
        return;
    }
    QFile log(LogPath());
    log.open(QIODevice::ReadOnly);
    Problem_ = "vsftpd did not start: " + QString::fromUtf8(log.readAll());
}

} // namespace quaddle::test
