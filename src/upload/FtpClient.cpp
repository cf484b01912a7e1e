#include "upload/FtpClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <netdb.h>
#include <utility>

namespace quaddle {

namespace {

quint16 PortNumber(const QString& port) {
    bool numeric = false;
    const uint number = port.toUInt(&numeric);
    if (numeric)
        return number <= 65535 ? quint16(number) : 0;
    const servent* service = getservbyname(port.toLocal8Bit().constData(), "tcp");
    return service ? ntohs(quint16(service->s_port)) : 0;
}

} // namespace

TFtpClient::TFtpClient() {
    Deadline.setSingleShot(true);
    connect(&Deadline, &QTimer::timeout, this, &TFtpClient::TimedOut);
    connect(&Control, &QTcpSocket::connected, this, &TFtpClient::Wake);
    connect(&Control, &QTcpSocket::readyRead, this, &TFtpClient::ReadReplies);
    connect(&Control, &QTcpSocket::disconnected, this, [this] {
        Broken = true;
        Wake();
    });
    connect(&Control, &QTcpSocket::errorOccurred, this, [this] {
        Fail(Control.errorString());
        Broken = true;
        Wake();
    });
    connect(&Listener, &QTcpServer::newConnection, this, &TFtpClient::Wake);
}

TFtpClient::~TFtpClient() {
    Abort();
}

bool TFtpClient::Open() {
    Broken = false;
    Replies.clear();
    Reader.Reset();
    Response.clear();
    const quint16 port = PortNumber(Port);
    if (port == 0) {
        Fail(QStringLiteral("The port \"%1\" is no port number.").arg(Port));
        return false;
    }
    Control.connectToHost(HostName, port);
    if (!WaitFor([this] { return Connected(); }))
        return false;
    TFtpReply greeting;
    return WaitReply(greeting) && greeting.Code == 220;
}

bool TFtpClient::User() {
    return Command(QStringLiteral("USER ") + UserName, {331, 230});
}

bool TFtpClient::Pass() {
    return Command(QStringLiteral("PASS ") + PassWord, {230, 332});
}

bool TFtpClient::Type() {
    return Command(Binary ? QStringLiteral("TYPE I") : QStringLiteral("TYPE A"), {200});
}

bool TFtpClient::ChangeDir() {
    return Command(QStringLiteral("CWD ") + HostDirName, {200, 250, 257});
}

bool TFtpClient::Size() {
    Size_ = -1;
    if (!Command(QStringLiteral("SIZE ") + HostFileName, {213}))
        return false;
    bool numeric = false;
    const qint64 size = Response.mid(4).trimmed().toLongLong(&numeric);
    Size_ = numeric ? size : -1;
    return true;
}

bool TFtpClient::MakeDir() {
    return Command(QStringLiteral("MKD ") + HostFileName, {200, 250, 257});
}

bool TFtpClient::Rename() {
    return Command(QStringLiteral("RNFR ") + HostFileName, {350}) &&
           Command(QStringLiteral("RNTO ") + LocalFileName, {200, 250, 257});
}

bool TFtpClient::Store() {
    QFile file(LocalFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(QStringLiteral("Cannot read \"%1\": %2").arg(LocalFileName, file.errorString()));
        return false;
    }
    if (!OpenDataChannel())
        return false;
    TFtpReply reply;
    if (!Send(QStringLiteral("STOR ") + HostFileName) || !WaitReply(reply) ||
        (reply.Code != 150 && reply.Code != 125)) {
        CloseData();
        return false;
    }
    const bool replyDecides = Transfer(file);
    CloseData();
    return replyDecides && WaitReply(reply) && (reply.Code == 226 || reply.Code == 250);
}

void TFtpClient::Abort() {
    Broken = true;
    CloseData();
    Control.abort();
    Wake();
}

bool TFtpClient::Command(const QString& line, std::initializer_list<int> accepted) {
    TFtpReply reply;
    if (!Send(line) || !WaitReply(reply))
        return false;
    return std::find(accepted.begin(), accepted.end(), reply.Code) != accepted.end();
}

bool TFtpClient::Send(const QString& line) {
    if (!Connected()) {
        Fail(QStringLiteral("Not connected."));
        return false;
    }
    // A line break inside a name would end the command early and start another one.
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
        Fail(QStringLiteral("The name contains a line break, which cannot be sent to the "
                            "server."));
        return false;
    }
    // Replies nobody asked for must not be taken for the answer to this command.
    Replies.clear();
    if (OnCommand)
        OnCommand(line);
    Control.write(line.toUtf8() + "\r\n");
    return true;
}

bool TFtpClient::WaitReply(TFtpReply& reply) {
    if (!WaitFor([this] { return !Replies.isEmpty(); }))
        return false;
    reply = Replies.dequeue();
    Status = reply.Code;
    Response = reply.Line;
    return true;
}

bool TFtpClient::WaitFor(const std::function<bool()>& done) {
    if (done())
        return true;
    if (Broken)
        return false;
    QEventLoop loop;
    QEventLoop* const outerLoop = WaitLoop;
    const std::function<bool()>* const outerDone = WaitDone;
    WaitLoop = &loop;
    WaitDone = &done;
    SinceActivity.start();
    if (Timeout > 0)
        Deadline.start(Timeout * 1000);
    // Quitting the application ends the wait like a time-out.
    const QMetaObject::Connection quitting = connect(
        QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(quitting);
    Deadline.stop();
    WaitLoop = outerLoop;
    WaitDone = outerDone;
    return done();
}

void TFtpClient::Wake() {
    if (WaitLoop && (Broken || (*WaitDone)()))
        WaitLoop->quit();
}

void TFtpClient::TimedOut() {
    // Progress moves the deadline on; it is checked here rather than by restarting the timer
    // for every block sent.
    const qint64 quiet = SinceActivity.elapsed();
    if (quiet < Timeout * 1000) {
        Deadline.start(int(Timeout * 1000 - quiet));
        return;
    }
    CloseData();
    Control.abort();
    Broken = true;
    Status = 426;
    Response = QStringLiteral("426 Timeout");
    Wake();
}

void TFtpClient::Fail(const QString& response) {
    Status = 0;
    Response = response;
}

void TFtpClient::LocalFailure(const QString& message) {
    // The status code stays that of the last reply, which the error event reports.
    Response = message;
    if (OnError)
        OnError(message);
}

void TFtpClient::ReadReplies() {
    Reader.Append(Control.readAll());
    while (std::optional<TFtpReply> reply = Reader.Next(OnResponse)) {
        Replies.enqueue(*reply);
        // 421: the server is closing the connection; later operations must not use it.
        if (reply->Code == 421) {
            CloseData();
            Control.abort();
            Reader.Reset();
            break;
        }
    }
    if (Reader.LineTooLong()) {
        Fail(QStringLiteral("The server sent a reply line that does not end."));
        Abort();
        return;
    }
    Wake();
}

bool TFtpClient::OpenDataChannel() {
    CloseData();
    return Passive ? ConnectPassive() : ListenActive();
}

bool TFtpClient::ConnectPassive() {
    if (!Command(QStringLiteral("PASV"), {200, 227}))
        return false;
    const std::optional<quint16> port = PasvPort(Response);
    if (!port) {
        LocalFailure(QStringLiteral("The server's PASV reply names no address: ") + Response);
        return false;
    }
    // Servers behind NAT often name a private address; the control connection's peer is the
    // address that is known to reach the server.
    Data = new QTcpSocket(this);
    connect(Data, &QTcpSocket::connected, this, &TFtpClient::Wake);
    connect(Data, &QTcpSocket::errorOccurred, this, [this] {
        DataClosed = true;
        Wake();
    });
    Data->connectToHost(Control.peerAddress(), *port);
    // An abort while connecting (Cancel, time-out) takes the socket away.
    const bool connected =
        WaitFor([this] {
            return !Data || DataClosed || Data->state() == QAbstractSocket::ConnectedState;
        }) &&
        Data && !DataClosed;
    if (!connected) {
        if (Data)
            LocalFailure(QStringLiteral("Could not open the data connection: ") +
                         Data->errorString());
        CloseData();
        return false;
    }
    return true;
}

bool TFtpClient::ListenActive() {
    bool ipv4 = false;
    const quint32 local = Control.localAddress().toIPv4Address(&ipv4);
    if (!ipv4) {
        LocalFailure(
            QStringLiteral("Active mode needs an IPv4 connection; please use passive mode."));
        return false;
    }
    if (!Listener.listen(QHostAddress(local), 0)) {
        LocalFailure(QStringLiteral("Could not open a port for the data connection: ") +
                     Listener.errorString());
        return false;
    }
    const quint16 port = Listener.serverPort();
    return Command(QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                       .arg(local >> 24)
                       .arg((local >> 16) & 0xFF)
                       .arg((local >> 8) & 0xFF)
                       .arg(local & 0xFF)
                       .arg(port >> 8)
                       .arg(port & 0xFF),
                   {200, 227});
}

bool TFtpClient::Transfer(QFile& file) {
    if (!Data && !AcceptActive())
        return !Replies.isEmpty();
    connect(Data, &QTcpSocket::disconnected, this, [this] {
        DataClosed = true;
        Wake();
    });
    connect(Data, &QTcpSocket::bytesWritten, this, [this, &file] { Pump(file); });

    Sent = 0;
    SendFinished = false;
    ReadFailed = false;
    Pump(file);
    // An abort (Cancel, time-out, 421) takes the socket away while waiting.
    const auto drained = [this] { return SendFinished && Data && Data->bytesToWrite() == 0; };
    WaitFor([&] { return DataClosed || !Replies.isEmpty() || drained(); });
    if (!DataClosed && drained()) {
        Data->disconnectFromHost();
        return true;
    }
    // Stopped early: a reply from the server tells why; without one the connection broke.
    if (!Replies.isEmpty())
        return true;
    if (!Broken && !ReadFailed)
        Fail(QStringLiteral("The data connection was closed during the transfer."));
    return false;
}

bool TFtpClient::AcceptActive() {
    if (!WaitFor([this] { return Listener.hasPendingConnections() || !Replies.isEmpty(); }) ||
        !Listener.hasPendingConnections()) {
        if (Replies.isEmpty() && !Broken)
            LocalFailure(QStringLiteral("The server did not open the data connection."));
        return false;
    }
    Data = Listener.nextPendingConnection();
    Data->setParent(this);
    Listener.close();
    connect(Data, &QTcpSocket::errorOccurred, this, [this] {
        DataClosed = true;
        Wake();
    });
    return true;
}

void TFtpClient::Pump(QFile& file) {
    // Blocks are reported one by one but handed to the socket in batches, which saves a
    // system call per block; the batch and the socket's queue bound the memory used.
    while (!SendFinished && !DataClosed && Data && Data->bytesToWrite() < SendWindow) {
        QByteArray batch(SendWindow, Qt::Uninitialized);
        qint64 filled = 0;
        while (filled + BlockSize <= SendWindow) {
            SinceActivity.start();
            if (OnProgress)
                OnProgress(Sent);
            if (Broken || !Data)
                return;
            const qint64 read = file.read(batch.data() + filled, BlockSize);
            if (read < 0) {
                LocalFailure(QStringLiteral("Cannot read \"%1\": %2")
                                 .arg(file.fileName(), file.errorString()));
                ReadFailed = true;
                DataClosed = true;
                break;
            }
            if (read == 0) {
                SendFinished = true;
                break;
            }
            filled += read;
            Sent += read;
        }
        batch.truncate(filled);
        if (!batch.isEmpty() && Data)
            Data->write(batch);
    }
    Wake();
}

void TFtpClient::CloseData() {
    Listener.close();
    if (Data) {
        Data->disconnect(this);
        Data->abort();
        // It may be emitting the signal that led here, so it goes at the next close. A
        // deleteLater would wait for the whole run to end: the run's nested event loops
        // never reach the level it was posted at, and every file's socket would pile up.
        RetiredData.reset(std::exchange(Data, nullptr));
    }
    DataClosed = false;
}

} // namespace quaddle
