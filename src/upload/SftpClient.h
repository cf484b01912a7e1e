#pragma once

#include "upload/ProtocolDriver.h"
#include "upload/SftpPackets.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QEventLoop;
class QFile;

namespace quaddle {

// An SFTP version 3 client that speaks over the standard input and output of a program which
// makes the connection (OpenSSH's ssh with "-s host sftp"). Operations are synchronous: each
// sends its requests and waits for the replies while the event loop keeps running. Paths are
// sent as UTF-8. An operation that fails returns false or nothing and leaves the reason,
// naming the file, in error().
class SftpClient : public QObject {
    Q_OBJECT

public:
    // An upload keeps this many WRITE requests of this size on the way, so the round trip
    // time does not limit the speed.
    static constexpr qint64 WriteBlock = 32 * 1024;
    static constexpr int WritesInFlight = 64;
    // A batch keeps this many files open at once, so that the round trips of one file's
    // requests overlap with those of the others.
    static constexpr int FilesInFlight = 32;

    // One file of a batch: sent to remotePath, then moved to finalPath (replacing) when that
    // is set, then given mode when set.
    struct BatchFile {
        QString localPath;
        QString remotePath;
        QString finalPath;
        std::optional<quint32> mode;
    };

    SftpClient();
    ~SftpClient() override;

    int timeoutMs = 15000; // without any reply; 0 waits for ever
    // Bytes of the running upload the server has confirmed so far.
    std::function<void(qint64 sent)> onProgress;
    // The program's environment; empty for the program's own.
    QProcessEnvironment environment;
    // Each request and reply in one readable line ("--> OPEN /www/a.jpg"); WRITE requests and
    // their replies only as a sum.
    std::function<void(const QString& line)> onTraffic;

    // Runs the program (its arguments after it) and agrees on the protocol version.
    bool start(const QStringList& commandLine);
    void stop();
    QString error() const { return m_error; }
    // The connection program's process id; 0 while it does not run.
    qint64 processId() const { return m_process.processId(); }
    // The connection ended or was given up; every later operation fails.
    bool isBroken() const { return m_broken; }
    // What the connection program wrote to its standard error, last lines only.
    QStringList errorLines() const { return m_errorLines; }
    // While the user answers a question the connection program passed on, silence is no sign
    // of a dead server.
    void holdDeadline(bool held);
    bool offersPosixRename() const { return m_posixRename; }

    std::optional<QString> realPath(const QString& path);
    // Whether anything by that name is there; nothing when the server could not tell.
    std::optional<bool> exists(const QString& path);
    // The size of the file at path; nothing when it is not there or the server could not tell.
    std::optional<qint64> fileSize(const QString& path);
    // Whether path is a directory (not a link to one); nothing when the server could not tell.
    std::optional<bool> isDirectory(const QString& path);
    // Whether each path is there, all asked at once; nothing where the server could not tell.
    QList<std::optional<bool>> existAll(const QStringList& paths);
    bool makeDir(const QString& path);
    // Uploads the files with their requests in flight together, telling events by index.
    // False when the connection broke with files left untold.
    bool uploadAll(const QList<BatchFile>& files, const TransferEvents& events);
    bool upload(const QString& localPath, const QString& remotePath);
    bool setPermissions(const QString& path, quint32 mode);
    // Fails when the new name is taken.
    bool rename(const QString& from, const QString& to);
    // Puts from in the place of to in one step, whether or not to exists.
    bool replace(const QString& from, const QString& to);
    bool remove(const QString& path);

private:
    // The attributes of path itself, not of what a link points to: nothing inside when there is
    // no such file, nothing at all when the server could not tell.
    std::optional<std::optional<sftp::FileAttributes>> lstat(const QString& path);
    // what and subject name the request in the traffic log; a null what logs nothing.
    quint32 send(const char* what, const QString& subject,
                 const std::function<QByteArray(quint32 id)>& request);
    // The reply to request id; when none comes, the error names subject.
    std::optional<sftp::Packet> reply(quint32 id, const QString& subject);
    void logReply(const sftp::Packet& packet);
    // The status reply to a request that only succeeds or fails.
    bool expectOk(quint32 id, const QString& path);
    bool statusFailure(const sftp::Packet& packet, const QString& path);
    bool unexpected(const sftp::Packet& packet, const QString& path);
    bool writeFile(QFile& file, const QByteArray& handle, const QString& remotePath);
    struct Transfer;
    using Transfers = std::map<qsizetype, std::unique_ptr<Transfer>>;
    // Tells events, in order, how the files on their way ended when the connection broke.
    void tellAfterLoss(Transfers& running, qsizetype told, const TransferEvents& events);
    void startTransfer(Transfers& running, qsizetype index, const BatchFile& file,
                       const TransferEvents& events);
    void sendWrites(Transfer& transfer, int& writesInFlight);
    void takeReplies(Transfer& transfer, int& writesInFlight, const TransferEvents& events);
    void advance(Transfer& transfer, const sftp::Packet& reply);
    // Ends the transfer as failed with the reason the last request gave.
    void failTransfer(Transfer& transfer);
    bool waitFor(const std::function<bool()>& done);
    void readOutput();
    // Takes the packets read so far; false when the server broke the protocol.
    bool takePackets();
    void readErrors();
    void ended();
    void deadlinePassed();
    bool broken(const QString& reason);
    void wake();

    QProcess m_process;
    sftp::PacketReader m_reader;
    std::optional<sftp::Packet> m_version;
    QHash<quint32, sftp::Packet> m_replies;
    // Requests sent and not answered yet; a reply to any other is a protocol violation.
    QSet<quint32> m_outstanding;
    quint32 m_nextId = 1;
    QStringList m_errorLines;
    QByteArray m_partialErrorLine;
    bool m_posixRename = false;
    bool m_broken = false;
    bool m_deadlineHeld = false;
    QString m_error;
    QTimer m_deadline;
    QElapsedTimer m_sinceReply;
    QEventLoop* m_waitLoop = nullptr;
    const std::function<bool()>* m_waitDone = nullptr;
};

} // namespace quaddle
