#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace quaddle::test {

// A real FTP server on 127.0.0.1 serving a temporary directory, stopped at destruction.
// Kinds: pyftpdlib as it comes; pyftpdlib misbehaving in one way (see faulty_ftpd.py);
// vsftpd, anonymous, writing into the directory "upload" (needs root).
class TFtpServer {
public:
    enum class TKind { Pyftpdlib, Vsftpd };

    explicit TFtpServer(TKind kind = TKind::Pyftpdlib);
    // A pyftpdlib server with a fault: nosize, stallcwd, closestor, storfull, multiline220,
    // force125, user230, badpasv, silent, diskfull3, refusedata, storclosedata, and
    // close:STEP or 421:STEP for a step of the dialogue (see faulty_ftpd.py).
    explicit TFtpServer(const QString& fault);
    ~TFtpServer();
    TFtpServer(const TFtpServer&) = delete;
    TFtpServer& operator=(const TFtpServer&) = delete;

    bool Started() const { return Port_ != 0; }
    // Why it did not start.
    QString Problem() const { return Problem_; }
    quint16 Port() const { return Port_; }
    QString User() const { return User_; }
    QString Password() const { return Password_; }
    // The directory an upload lands in, as the client names it after login, and on disk.
    QString UploadDir() const { return UploadDir_; }
    QString LocalPath(const QString& name) const;

private:
    void StartPython(const QStringList& arguments);
    void StartVsftpd();
    QString LogPath() const;

    QTemporaryDir Root;
    QProcess Process;
    quint16 Port_ = 0;
    QString Problem_;
    QString User_ = QStringLiteral("tester");
    QString Password_ = QStringLiteral("s3cret");
    QString UploadDir_ = QStringLiteral("/");
};

} // namespace quaddle::test

// Fails the running test, naming why, when its server did not start.
#define QUADDLE_REQUIRE_SERVER(server)                                                             \
    do {                                                                                           \
        if (!(server).Started())                                                                   \
            QFAIL(qPrintable((server).Problem()));                                                 \
    } while (false)
