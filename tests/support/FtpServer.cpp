#include "FtpServer.h"

#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace quaddle::test {

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");

// The arguments of "openssl req" that make a new P-256 key for the subject.
QStringList newKeyRequest(const QString& subject, const QString& keyFile) {
    return {"req",    "-newkey", "ec",    "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-subj",   subject, "-keyout",  keyFile};
}

} // namespace

FtpServer::FtpServer(Kind kind) : FtpServer(kind, PassivePorts{}) {}

FtpServer::FtpServer(Kind kind, PassivePorts passivePorts) : m_passivePorts(passivePorts) {
    if (kind == Kind::PyftpdlibIpv6)
        m_host = "::1";
    const bool issued = kind == Kind::PyftpdlibTlsIssued;
    if ((kind == Kind::VsftpdTls || kind == Kind::PyftpdlibTls || issued) &&
        !makeCertificate(issued))
        return;
    if (kind == Kind::Vsftpd || kind == Kind::VsftpdTls)
        startVsftpd(kind == Kind::VsftpdTls);
    else if (kind == Kind::PyftpdlibTls || issued)
        startPython({QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/tls_ftpd.py"), m_host, m_root.path(),
                     m_user, m_password, m_root.filePath("cert.pem"), m_root.filePath("key.pem")});
    else
        startPython({"-m", "pyftpdlib", "-i", m_host, "-p", "0", "-w", "-d", m_root.path(), "-u",
                     m_user, "-P", m_password});
}

FtpServer::FtpServer(const QString& fault) {
    startPython({QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/faulty_ftpd.py"), fault, m_root.path(),
                 m_user, m_password});
}

FtpServer::~FtpServer() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString FtpServer::localPath(const QString& name) const {
    const QString root = m_uploadDir == "/" ? m_root.path() : m_root.filePath("root");
    return QDir(root + m_uploadDir).filePath(name);
}

void FtpServer::startPython(const QStringList& arguments) {
    // The server logs every command; a file, unlike a pipe, never fills up and stalls it.
    const QString logFile = logPath();
    m_process.setStandardErrorFile(logFile);
    m_process.setStandardOutputFile(logFile, QIODevice::Append);
    m_process.start(Python, arguments);
    const QRegularExpression listening(QRegularExpression::escape(m_host) + ":(\\d+)");
    const QDeadlineTimer deadline(StartTimeoutMs);
    QString output;
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        output = log();
        const QRegularExpressionMatch match = listening.match(output);
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return;
        }
        m_process.waitForFinished(50);
    }
    m_problem = "the FTP server did not start: " + output;
}

QString FtpServer::log() const {
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString FtpServer::authorityCertificate() const {
    return m_root.filePath("authority.pem");
}

bool FtpServer::issueCertificate(const QString& key, const QString& certificate) {
    const QString authorityKey = m_root.filePath("authority-key.pem");
    const QString request = m_root.filePath("request.pem");
    return runOpenssl(newKeyRequest("/CN=Quaddle test authority", authorityKey) +
                      QStringList{"-x509", "-days", "2", "-out", authorityCertificate()}) &&
           runOpenssl(newKeyRequest("/CN=localhost", key) +
                      QStringList{"-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-out",
                                  request}) &&
           runOpenssl({"x509", "-req", "-days", "2", "-in", request, "-CA", authorityCertificate(),
                       "-CAkey", authorityKey, "-copy_extensions", "copy", "-out", certificate});
}

bool FtpServer::runOpenssl(const QStringList& arguments) {
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", arguments);
    if (openssl.waitForFinished() && openssl.exitCode() == 0)
        return true;
    m_problem = "openssl failed: " + QString::fromUtf8(openssl.readAll());
    return false;
}

bool FtpServer::makeCertificate(bool issued) {
    const QString key = m_root.filePath("key.pem");
    const QString certificate = m_root.filePath("cert.pem");
    const bool made = issued ? issueCertificate(key, certificate)
                             : runOpenssl(newKeyRequest("/CN=localhost", key) +
                                          QStringList{"-x509", "-days", "2", "-out", certificate});
    if (!made)
        return false;
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificate);
    if (certificates.isEmpty()) {
        m_problem = "openssl made no certificate";
        return false;
    }
    m_fingerprint =
        QString::fromLatin1(certificates.first().digest(QCryptographicHash::Sha256).toHex())
            .toUpper();
    return true;
}

QString FtpServer::logPath() const {
    return m_root.filePath("server.log");
}

void FtpServer::startVsftpd(bool tls) {
    // Anonymous users are chrooted into a root-owned folder they cannot write, and vsftpd drops
    // to the "ftp" user, who owns the upload folder. The TLS server takes the local logins the
    // force_local settings are about, and they may change modes: the test account owns the
    // upload folder there.
    const passwd* owner = getpwnam(tls ? qPrintable(TestAccount) : "ftp");
    if (geteuid() != 0 || !owner) {
        m_problem = tls ? "vsftpd over TLS needs root and the account " + TestAccount +
                              " (scripts/test creates it)"
                        : "vsftpd needs root and the user \"ftp\"";
        return;
    }
    const QString root = m_root.filePath("root");
    const QString upload = root + "/upload";
    QDir().mkpath(upload);
    QDir().mkpath(m_root.filePath("empty"));
    QFile::setPermissions(m_root.path(), Mode0755);
    QFile::setPermissions(root, Mode0755);
    if (chown(QFile::encodeName(upload).constData(), owner->pw_uid, owner->pw_gid) != 0) {
        m_problem = "cannot hand the upload folder to its user";
        return;
    }
    m_user = tls ? TestAccount : QStringLiteral("anonymous");
    m_password = tls ? TestAccountPassword : QStringLiteral("tester@example.org");
    m_uploadDir = "/upload";

    const quint16 port = freePort();
    QFile config(m_root.filePath("vsftpd.conf"));
    if (!config.open(QIODevice::WriteOnly)) {
        m_problem = "cannot write the vsftpd configuration";
        return;
    }
    config.write(QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                                "listen_port=%1\nbackground=NO\nwrite_enable=YES\n"
                                "secure_chroot_dir=%2\npasv_enable=YES\nport_enable=YES\n"
                                "connect_from_port_20=NO\nseccomp_sandbox=NO\nisolate=NO\n"
                                "isolate_network=NO\nxferlog_enable=NO\nsyslog_enable=NO\n"
                                "hide_ids=YES\n")
                     .arg(port)
                     .arg(m_root.filePath("empty"))
                     .toUtf8());
    if (!tls)
        config.write(QStringLiteral("anonymous_enable=YES\nlocal_enable=NO\n"
                                    "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                                    "anon_other_write_enable=YES\nanon_world_readable_only=NO\n"
                                    "anon_root=%1\nanon_umask=022\n")
                         .arg(root)
                         .toUtf8());
    // vsftpd's own cipher list for TLS 1.2 is 3DES alone, which current clients refuse; hosts
    // name stronger ones.
    if (tls)
        config.write(QStringLiteral("anonymous_enable=NO\nlocal_enable=YES\nlocal_root=%1\n"
                                    "chroot_local_user=YES\nlocal_umask=022\n"
                                    "pam_service_name=vsftpd\nssl_enable=YES\n"
                                    "require_ssl_reuse=YES\nssl_ciphers=HIGH\n"
                                    "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
                                    "rsa_cert_file=%2\nrsa_private_key_file=%3\n")
                         .arg(root, m_root.filePath("cert.pem"), m_root.filePath("key.pem"))
                         .toUtf8());
    if (m_passivePorts.first != 0)
        config.write(QStringLiteral("pasv_min_port=%1\npasv_max_port=%2\n")
                         .arg(m_passivePorts.first)
                         .arg(m_passivePorts.last)
                         .toUtf8());
    config.close();

    m_process.setStandardErrorFile(logPath());
    m_process.setStandardOutputFile(logPath(), QIODevice::Append);
    m_process.start("/usr/sbin/vsftpd", {config.fileName()});
    if (waitUntilListening(m_process, port)) {
        m_port = port;
        return;
    }
    QFile log(logPath());
    log.open(QIODevice::ReadOnly);
    m_problem = "vsftpd did not start: " + QString::fromUtf8(log.readAll());
}

} // namespace quaddle::test
