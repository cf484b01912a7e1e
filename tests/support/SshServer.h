#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace quaddle::test {

// A real OpenSSH server on 127.0.0.1 with a temporary host key, password login for the test
// account and the internal SFTP subsystem. Stopped at destruction. Needs root.
class TSshServer {
public:
    enum class TKeyType { Rsa, Ed25519 };

    explicit TSshServer(TKeyType key = TKeyType::Rsa);
    ~TSshServer();
    TSshServer(const TSshServer&) = delete;
    TSshServer& operator=(const TSshServer&) = delete;

    // True once sshd accepts connections on Port().
    bool Started() const { return Port_ != 0; }
    // Why it did not start.
    QString Problem() const { return Problem_; }
    // True when this machine lacks what the server needs (root, sshd, the test account), so
    // a test should skip rather than fail.
    bool Unavailable() const { return Unavailable_; }
    quint16 Port() const { return Port_; }
    QString User() const;
    QString Password() const;
    // A fresh directory owned by User(), mode 0755, removed at destruction; SFTP sees the
    // same absolute path.
    QString Root() const { return RootDir.path(); }
    // Writes an executable "psftp" into dir that runs /usr/bin/psftp with "-P <port>" in
    // front of its arguments: the program always lets psftp use its default port.
    void WritePsftpWrapper(const QString& dir) const;

private:
    void Start(TKeyType key);
    bool Fail(const QString& problem);
    bool Lack(const QString& problem);
    QString ReadLog() const;

    QTemporaryDir Work;
    QTemporaryDir RootDir;
    QProcess Process;
    quint16 Port_ = 0;
    QString Problem_;
    bool Unavailable_ = false;
};

} // namespace quaddle::test

// Skips the running test when the machine cannot run an SSH server; fails it, naming why,
// when the server did not start for any other reason.
#define QUADDLE_REQUIRE_SSH(server)                                                                \
    do {                                                                                           \
        if ((server).Unavailable())                                                                \
            QSKIP(qPrintable((server).Problem()));                                                 \
        if (!(server).Started())                                                                   \
            QFAIL(qPrintable((server).Problem()));                                                 \
    } while (false)
