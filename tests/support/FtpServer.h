#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace quaddle::test {

// A real FTP server on 127.0.0.1 serving a temporary directory, stopped at destruction.
// Kinds: pyftpdlib as it comes; pyftpdlib misbehaving in one way (see faulty_ftpd.py);
// vsftpd writing into the directory "upload" (needs root), anonymous; each of them demanding
// TLS on both connections with a self-signed certificate for "localhost" made with openssl
// (vsftpd then for the local logins of the test account); pyftpdlib demanding TLS with a
// certificate for 127.0.0.1 that a certificate authority made for it issued; pyftpdlib on ::1
// only.
class FtpServer {
public:
    enum class Kind {
        Pyftpdlib,
        Vsftpd,
        PyftpdlibTls,
        VsftpdTls,
        PyftpdlibIpv6,
        PyftpdlibTlsIssued
    };

    // The ports vsftpd may open for passive data connections; none set: any free one.
    struct PassivePorts {
        quint16 first = 0;
        quint16 last = 0;
    };

    explicit FtpServer(Kind kind = Kind::Pyftpdlib);
    // A vsftpd kind opening data connections only on the given ports, so that a proxy can
    // stand in front of them.
    FtpServer(Kind kind, PassivePorts passivePorts);
    // A pyftpdlib server with a fault: nosize, listonly, unlistable, stallcwd, closestor,
    // storfull, lockedfolder (the folder "locked" not writable for the account), multiline220,
    // force125, user230, badpasv, silent, diskfull3, drop2, refusedata, storclosedata, escapes,
    // maxcons2 (two connections per address), hold and hold:COUNT (the uploads of files named hold*
    // kept waiting), slowstor (uploads taken at about 3 MB/s), and close:STEP, 421:STEP,
    // stall:STEP, endless:STEP or hugeline:STEP for a step of the dialogue (see faulty_ftpd.py).
    explicit FtpServer(const QString& fault);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool started() const { return m_port != 0; }
    // Why it did not start.
    QString problem() const { return m_problem; }
    quint16 port() const { return m_port; }
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    // The directory an upload lands in, as the client names it after login, and on disk.
    QString uploadDir() const { return m_uploadDir; }
    QString localPath(const QString& name) const;
    // The address it listens on.
    QString host() const { return m_host; }
    // What a pyftpdlib server has logged so far.
    QString log() const;
    // The SHA-256 fingerprint of its certificate, as 64 upper-case hex digits.
    QString certificateFingerprint() const { return m_fingerprint; }
    // The file of the authority that issued its certificate, if one did.
    QString authorityCertificate() const;

private:
    void startPython(const QStringList& arguments);
    void startVsftpd(bool tls);
    bool makeCertificate(bool issued);
    // A certificate for 127.0.0.1 from a certificate authority made for it.
    bool issueCertificate(const QString& key, const QString& certificate);
    bool runOpenssl(const QStringList& arguments);
    QString logPath() const;

    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_problem;
    QString m_user = QStringLiteral("tester");
    QString m_password = QStringLiteral("s3cret");
    QString m_uploadDir = QStringLiteral("/");
    QString m_host = QStringLiteral("127.0.0.1");
    QString m_fingerprint;
    PassivePorts m_passivePorts;
};

} // namespace quaddle::test

// Fails the running test, naming why, when its server did not start.
#define QUADDLE_REQUIRE_SERVER(server)                                                             \
    do {                                                                                           \
        if (!(server).started())                                                                   \
            QFAIL(qPrintable((server).problem()));                                                 \
    } while (false)
