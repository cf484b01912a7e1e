#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace quaddle::test {

// A real OpenSSH server on 127.0.0.1 with a temporary host key, password login for the test
// account and the internal SFTP subsystem. Stopped at destruction. Needs root.
class SshServer {
public:
    enum class KeyType { Rsa, Ed25519 };

    // banner: the text sshd shows before login (its Banner file); none when empty.
    // subsystem: the command sshd runs for SFTP.
    explicit SshServer(KeyType key = KeyType::Rsa, const QString& banner = QString(),
                       const QString& subsystem = QStringLiteral("internal-sftp"));
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // The subsystem command of an SFTP server that breaks the protocol in the way fault names
    // (see hostile_sftpd.py).
    static QString hostileSubsystem(const QString& fault);

    // True once sshd accepts connections on Port().
    bool started() const { return m_port != 0; }
    // Why it did not start.
    QString problem() const { return m_problem; }
    // True when this machine lacks what the server needs (root, sshd, the test account), so
    // a test should skip rather than fail.
    bool unavailable() const { return m_unavailable; }
    quint16 port() const { return m_port; }
    QString user() const;
    QString password() const;
    // What sshd logged so far ("Accepted password for ...").
    QString log() const;
    // The host key's SHA256 fingerprint as OpenSSH and psftp print it ("SHA256:..."); empty
    // when it cannot be read.
    QString fingerprint() const;
    // Gives the server a new host key, of the same type or another one, and restarts it on the
    // same port, as a reinstalled server (or one pretending to be it) would look; false when
    // that failed.
    bool replaceHostKey();
    bool replaceHostKey(KeyType type);
    // Stops every connection's server processes where they are, as a server that hangs, or
    // lets them go on again.
    void pauseSessions();
    void resumeSessions();
    // Lets the test account log in with the key whose public half is in publicKeyFile;
    // false when that failed.
    bool authorizeKey(const QString& publicKeyFile);
    // OpenSSH's ssh running this server's SFTP subsystem for the test account, with no config
    // file and no known hosts of the machine's; options go before the host.
    QStringList sftpCommand(const QStringList& options) const;
    // A fresh directory owned by User(), mode 0755, removed at destruction; SFTP sees the
    // same absolute path.
    QString root() const { return m_rootDir.path(); }

private:
    void start(const QString& banner, const QString& subsystem);
    bool makeHostKey();
    bool launch(quint16 port);
    void stop();
    void signalSessions(int signal);
    bool fail(const QString& problem);
    bool lack(const QString& problem);

    QTemporaryDir m_work;
    QTemporaryDir m_rootDir;
    // Holds authorized_keys, readable by the test account as sshd requires.
    QTemporaryDir m_keysDir;
    QProcess m_process;
    KeyType m_keyType;
    quint16 m_port = 0;
    QString m_problem;
    bool m_unavailable = false;
};

} // namespace quaddle::test

// Skips the running test when the machine cannot run an SSH server; fails it, naming why,
// when the server did not start for any other reason.
#define QUADDLE_REQUIRE_SSH(server)                                                                \
    do {                                                                                           \
        if ((server).unavailable())                                                                \
            QSKIP(qPrintable((server).problem()));                                                 \
        if (!(server).started())                                                                   \
            QFAIL(qPrintable((server).problem()));                                                 \
    } while (false)
