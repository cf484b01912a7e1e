#pragma once

#include "upload/FtpReplies.h"
#include "upload/SendDigest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QQueue>
#include <QSslError>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

class QEventLoop;

namespace quaddle {

// Hands out every connection it accepts as a QSslSocket, so an active data connection can be
// encrypted like a passive one.
class DataListener : public QTcpServer {
    Q_OBJECT

protected:
    void incomingConnection(qintptr descriptor) override;
};

// How securing the control connection failed.
enum class TlsFailure { None, Refused, Handshake, Untrusted };

// An FTP client (RFC 959, SIZE and MLST of RFC 3659, RFC 2428 for IPv6, RFC 4217 explicit TLS)
// whose operations are synchronous: each sends its commands and waits for the final reply while the
// event loop keeps running, so windows repaint and a Cancel button can call abort() in the middle
// of it. An operation returns true when the final reply carries one of the codes it accepts.
class FtpClient : public QObject {
    Q_OBJECT

public:
    FtpClient();
    ~FtpClient() override;

    // What the next operation works with.
    QString hostName;
    QString port; // a number or a service name
    QString userName;
    QString password;
    QString hostDirName;
    QString hostFileName;
    QString localFileName; // also the new name for Rename
    bool binary = true;
    bool passive = false;
    int timeoutMs = 15000; // without an answer or a sent block; 0 waits for ever
    // AUTH TLS after the greeting, then every data connection encrypted; never clear text.
    bool tls = false;

    int statusCode() const { return m_status; }
    // The last reply line, or what went wrong locally.
    QString lastResponse() const { return m_response; }
    bool connected() const { return m_control.state() == QAbstractSocket::ConnectedState; }
    // Why the last open() did not get a secure connection.
    TlsFailure tlsFailure() const { return m_tlsFailure; }
    // Whether the system's certificate authorities vouched for the server's certificate at the
    // last open(), rather than the user's trust.
    bool certificateVerified() const { return m_certificateVerified; }
    // How the server broke the protocol, which closed the connection; empty if it did not.
    QString protocolViolation() const { return m_reader.violation(); }
    // Whether the connection ended because the server kept silent too long.
    bool timedOut() const { return m_timedOut; }

    // The SHA-256 of the bytes the last store() sent, as lower-case hex; empty when it failed.
    QString sentDigest() const { return m_sentDigest; }

    // Events: bytes of the current transfer the server has taken so far; a failure the client
    // detected itself; each command line before it is sent; each reply line as received.
    std::function<void(qint64 sent)> onProgress;
    std::function<void(const QString& message)> onError;
    std::function<void(const QString& line)> onCommand;
    std::function<void(const QString& line)> onResponse;
    // A line about the connection itself (the TLS version and cipher).
    std::function<void(const QString& line)> onNotice;
    // The server's certificate failed verification for the reasons given: true trusts it for
    // this connection. Asked outside any socket signal, so it may wait for the user.
    std::function<bool(const QSslCertificate& certificate, const QList<QSslError>& errors)>
        onUntrustedCertificate;

    bool open();
    bool user();
    bool pass();
    // PBSZ 0 and PROT P: data connections encrypted from now on.
    bool protect();
    bool type();
    bool changeDir();
    // SIZE: true when the server names the file's size.
    bool size();
    // MLST: true when the server describes the name, file or folder.
    bool describe();
    // NLST of the working directory into listing, one name a line.
    bool listNames(QByteArray& listing);
    // MLSD of the working directory into listing: facts and name, one entry a line.
    bool listFacts(QByteArray& listing);
    bool makeDir();
    bool store();
    bool rename();
    bool deleteFile();
    // SITE CHMOD: mode is octal digits such as 644.
    bool changeMode(const QString& mode);
    // Closes both connections at once; an operation waiting now returns false.
    void abort();

    // Bytes kept queued on the data connection while sending; bounds memory per transfer.
    static constexpr qint64 SendWindow = 64 * 1024;
    // How often the progress looks at what the server has taken while the system sends.
    static constexpr int ProgressTickMs = 100;
    // A name list longer than this is no folder a person uploads to (a million long names).
    static constexpr qsizetype MaxListing = 64 * 1024 * 1024;

private:
    bool command(const QString& line, std::initializer_list<int> accepted);
    // Sends a command that moves a file over a data connection, moveData doing the moving: true
    // when it returns true and the server confirms the transfer.
    bool dataCommand(const QString& line, const std::function<bool()>& moveData);
    bool startTls();
    // Encrypts the data connection as a TLS client resuming the control connection's session.
    bool secureData();
    // Closes an encrypted data connection in order: see the definition.
    void closeSecureData();
    // Closes the data connection's socket held open after Qt closed it.
    void releaseHeldData();
    void prepareDataSocket(QSslSocket* socket);
    // Bytes given to the data connection and not yet handed to the system.
    qint64 queued() const;
    bool send(const QString& line);
    bool waitReply(FtpReply& reply);
    bool waitFor(const std::function<bool()>& done);
    void wake();
    void deadlinePassed();
    void fail(const QString& response);
    // A failure found here rather than reported by the server: also an error event.
    void localFailure(const QString& message);
    void readReplies();
    bool openDataChannel();
    bool connectPassive();
    bool listenActive();
    // Sends the file; true when done or when the server's reply is to decide.
    bool transfer(QFile& file);
    // Reads the data connection to its end; true when done or when the server's reply is to
    // decide.
    bool receive(QByteArray& into);
    // A listing command of the working directory (NLST, MLSD) into listing, within MaxListing.
    bool list(const QString& listCommand, QByteArray& listing);
    bool acceptActive();
    void pump(QFile& file);
    // Bytes of the file the server's system has acknowledged: those given to the data
    // connection less those still in its queues and in the system's unacknowledged ones.
    qint64 taken() const;
    void reportTaken();
    // Tells of arrived bytes when more than told so far.
    void report(qint64 arrived);
    void closeData();

    QSslSocket m_control;
    DataListener m_listener;
    QSslSocket* m_data = nullptr;
    std::unique_ptr<QSslSocket> m_retiredData;
    int m_heldData = -1; // the data socket, duplicated to outlive Qt's close; -1 for none
    QTimer m_deadline;
    QElapsedTimer m_sinceActivity; // since the wait began or the last block was sent
    QEventLoop* m_waitLoop = nullptr;
    const std::function<bool()>* m_waitDone = nullptr;
    QQueue<FtpReply> m_replies;
    FtpReplyReader m_reader;
    bool m_broken = false; // the wait ended by abort, time-out or a lost connection
    bool m_dataClosed = false;
    bool m_sendFinished = false;
    bool m_readFailed = false;
    bool m_timedOut = false;
    bool m_epsvRefused = false;
    QList<QSslError> m_certificateErrors; // of a handshake waiting for the verdict
    TlsFailure m_tlsFailure = TlsFailure::None;
    bool m_certificateVerified = false;
    qint64 m_sent = 0; // read from the file and given to the data connection
    qint64 m_reported = 0;
    QTimer m_progressTick;
    std::optional<SendDigest> m_digest;
    QString m_sentDigest;
    int m_status = 0;
    QString m_response;
};

} // namespace quaddle
