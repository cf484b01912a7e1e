#pragma once

#include "upload/FtpReplies.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <initializer_list>
#include <memory>

class QEventLoop;

namespace quaddle {

// An FTP client (RFC 959 and SIZE) whose operations are synchronous: each sends its commands
// and waits for the final reply while the event loop keeps running, so windows repaint and a
// Cancel button can call Abort in the middle of it. An operation returns true when the final
// reply carries one of the codes it accepts.
class TFtpClient : public QObject {
    Q_OBJECT

public:
    TFtpClient();
    ~TFtpClient() override;

    // What the next operation works with.
    QString HostName;
    QString Port; // a number or a service name
    QString UserName;
    QString PassWord;
    QString HostDirName;
    QString HostFileName;
    QString LocalFileName; // also the new name for Rename
    bool Binary = true;
    bool Passive = false;
    int Timeout = 15; // seconds without an answer or a sent block; 0 waits for ever

    int StatusCode() const { return Status; }
    // The last reply line, or what went wrong locally.
    QString LastResponse() const { return Response; }
    qint64 SizeResult() const { return Size_; }
    bool Connected() const { return Control.state() == QAbstractSocket::ConnectedState; }

    // Events: bytes of the current transfer so far; a failure the client detected itself;
    // each command line before it is sent; each reply line as received.
    std::function<void(qint64 sent)> OnProgress;
    std::function<void(const QString& message)> OnError;
    std::function<void(const QString& line)> OnCommand;
    std::function<void(const QString& line)> OnResponse;

    bool Open();
    bool User();
    bool Pass();
    bool Type();
    bool ChangeDir();
    bool Size();
    bool MakeDir();
    bool Store();
    bool Rename();
    // Closes both connections at once; an operation waiting now returns false.
    void Abort();

    // Bytes kept queued on the data connection while sending; bounds memory per transfer.
    static constexpr qint64 SendWindow = 64 * 1024;
    static constexpr qint64 BlockSize = 1460;

private:
    bool Command(const QString& line, std::initializer_list<int> accepted);
    bool Send(const QString& line);
    bool WaitReply(TFtpReply& reply);
    bool WaitFor(const std::function<bool()>& done);
    void Wake();
    void TimedOut();
    void Fail(const QString& response);
    // A failure found here rather than reported by the server: also an error event.
    void LocalFailure(const QString& message);
    void ReadReplies();
    bool OpenDataChannel();
    bool ConnectPassive();
    bool ListenActive();
    // Sends the file; true when done or when the server's reply is to decide.
    bool Transfer(QFile& file);
    bool AcceptActive();
    void Pump(QFile& file);
    void CloseData();

    QTcpSocket Control;
    QTcpServer Listener;
    QTcpSocket* Data = nullptr;
    std::unique_ptr<QTcpSocket> RetiredData;
    QTimer Deadline;
    QElapsedTimer SinceActivity; // since the wait began or the last block was sent
    QEventLoop* WaitLoop = nullptr;
    const std::function<bool()>* WaitDone = nullptr;
    QQueue<TFtpReply> Replies;
    TFtpReplyReader Reader;
    bool Broken = false; // the wait ended by abort, time-out or a lost connection
    bool DataClosed = false;
    bool SendFinished = false;
    bool ReadFailed = false;
    qint64 Sent = 0;
    int Status = 0;
    QString Response;
    qint64 Size_ = -1;
};

} // namespace quaddle
