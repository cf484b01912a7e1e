#include "upload/FtpClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslEllipticCurve>
#include <QSslKey>
#include <cerrno>
#include <linux/sockios.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace quaddle {

namespace {

// The curve of a server's ephemeral key; nothing for another kind of key exchange (X25519).
std::optional<QSslEllipticCurve> curveOf(const QSslKey& key) {
    if (key.isNull() || key.algorithm() != QSsl::Ec)
        return std::nullopt;
    const QSslEllipticCurve curve =
        QSslEllipticCurve::fromShortName(key.length() == 256   ? QStringLiteral("prime256v1")
                                         : key.length() == 384 ? QStringLiteral("secp384r1")
                                                               : QStringLiteral("secp521r1"));
    return curve.isValid() ? std::optional(curve) : std::nullopt;
}

quint16 portNumber(const QString& port) {
    bool numeric = false;
    const uint number = port.toUInt(&numeric);
    if (numeric)
        return number <= 65535 ? quint16(number) : 0;
    const servent* service = getservbyname(port.toLocal8Bit().constData(), "tcp");
    return service ? ntohs(quint16(service->s_port)) : 0;
}

QString protocolName(QSsl::SslProtocol protocol) {
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    default:
        return QStringLiteral("TLS");
    }
}

} // namespace

void DataListener::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (socket->setSocketDescriptor(descriptor))
        addPendingConnection(socket);
    else
        delete socket;
}

FtpClient::FtpClient() {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &FtpClient::deadlinePassed);
    connect(&m_control, &QSslSocket::connected, this, &FtpClient::wake);
    connect(&m_control, &QSslSocket::encrypted, this, &FtpClient::wake);
    connect(&m_control, &QSslSocket::readyRead, this, &FtpClient::readReplies);
    connect(&m_control, &QSslSocket::disconnected, this, [this] {
        m_broken = true;
        wake();
    });
    connect(&m_control, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        m_certificateErrors = errors;
        wake();
    });
    connect(&m_control, &QSslSocket::errorOccurred, this, [this] {
        fail(m_control.errorString());
        m_broken = true;
        wake();
    });
    connect(&m_listener, &QTcpServer::newConnection, this, &FtpClient::wake);
    m_progressTick.setInterval(ProgressTickMs);
    connect(&m_progressTick, &QTimer::timeout, this, &FtpClient::reportTaken);
}

FtpClient::~FtpClient() {
    abort();
}

bool FtpClient::open() {
    m_broken = false;
    m_epsvRefused = false;
    m_tlsFailure = TlsFailure::None;
    m_certificateVerified = false;
    m_certificateErrors.clear();
    m_replies.clear();
    m_reader.reset();
    m_response.clear();
    const quint16 number = portNumber(port);
    if (number == 0) {
        fail(QStringLiteral("The port \"%1\" is no port number.").arg(port));
        return false;
    }
    m_timedOut = false;
    if (tls) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
        // Data connections resume this session: servers refuse those that do not.
        configuration.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
        m_control.setSslConfiguration(configuration);
        m_control.setPeerVerifyName(hostName);
    }
    // The handshake waits on a certificate the system does not trust until it is judged.
    m_control.setPauseMode(tls ? QAbstractSocket::PauseOnSslErrors : QAbstractSocket::PauseNever);
    m_control.connectToHost(hostName, number);
    if (!waitFor([this] { return connected(); })) {
        // The socket's own error text says why (refused, host not found); a time-out is ours.
        if (m_timedOut)
            fail(QStringLiteral("Connection timed out"));
        return false;
    }
    FtpReply greeting;
    if (waitReply(greeting))
        return greeting.code == 220 && (!tls || startTls());
    if (m_timedOut)
        fail(QStringLiteral("The server sent no greeting (timed out)"));
    return false;
}

bool FtpClient::user() {
    return command(QStringLiteral("USER ") + userName, {331, 230});
}

bool FtpClient::pass() {
    return command(QStringLiteral("PASS ") + password, {230, 332});
}

bool FtpClient::startTls() {
    if (!command(QStringLiteral("AUTH TLS"), {234})) {
        // Refused: nothing more goes over this connection, the password least of all.
        if (connected()) {
            m_tlsFailure = TlsFailure::Refused;
            abort();
        }
        return false;
    }
    m_control.startClientEncryption();
    bool judgedByUser = false;
    for (;;) {
        waitFor([this] { return m_control.isEncrypted() || !m_certificateErrors.isEmpty(); });
        if (m_certificateErrors.isEmpty())
            break;
        judgedByUser = true;
        const QList<QSslError> errors = std::exchange(m_certificateErrors, {});
        if (!onUntrustedCertificate ||
            !onUntrustedCertificate(m_control.peerCertificate(), errors)) {
            m_tlsFailure = TlsFailure::Untrusted;
            abort();
            return false;
        }
        m_control.ignoreSslErrors();
        m_control.resume();
    }
    if (!m_control.isEncrypted()) {
        m_tlsFailure = TlsFailure::Handshake;
        abort();
        return false;
    }
    m_certificateVerified = !judgedByUser;
    if (onNotice)
        onNotice(
            QStringLiteral("TLS connection: %1, cipher %2")
                .arg(protocolName(m_control.sessionProtocol()), m_control.sessionCipher().name()));
    return true;
}

bool FtpClient::protect() {
    return command(QStringLiteral("PBSZ 0"), {200}) && command(QStringLiteral("PROT P"), {200});
}

bool FtpClient::type() {
    return command(binary ? QStringLiteral("TYPE I") : QStringLiteral("TYPE A"), {200});
}

bool FtpClient::changeDir() {
    return command(QStringLiteral("CWD ") + hostDirName, {200, 250, 257});
}

bool FtpClient::size() {
    return command(QStringLiteral("SIZE ") + hostFileName, {213});
}

bool FtpClient::describe() {
    return command(QStringLiteral("MLST ") + hostFileName, {250});
}

bool FtpClient::listNames(QByteArray& listing) {
    return list(QStringLiteral("NLST"), listing);
}

bool FtpClient::listFacts(QByteArray& listing) {
    return list(QStringLiteral("MLSD"), listing);
}

bool FtpClient::list(const QString& listCommand, QByteArray& listing) {
    listing.clear();
    if (!dataCommand(listCommand, [this, &listing] { return receive(listing); }))
        return false;
    if (listing.size() <= MaxListing)
        return true;
    fail(QStringLiteral("The server's list of names is longer than %1 bytes.").arg(MaxListing));
    listing.clear();
    return false;
}

bool FtpClient::makeDir() {
    return command(QStringLiteral("MKD ") + hostFileName, {200, 250, 257});
}

bool FtpClient::rename() {
    return command(QStringLiteral("RNFR ") + hostFileName, {350}) &&
           command(QStringLiteral("RNTO ") + localFileName, {200, 250, 257});
}

bool FtpClient::deleteFile() {
    return command(QStringLiteral("DELE ") + hostFileName, {200, 250});
}

bool FtpClient::changeMode(const QString& mode) {
    return command(QStringLiteral("SITE CHMOD ") + mode + QLatin1Char(' ') + hostFileName, {200});
}

bool FtpClient::store() {
    QFile file(localFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("Cannot read \"%1\": %2").arg(localFileName, file.errorString()));
        return false;
    }
    m_sentDigest.clear();
    m_digest.emplace();
    const bool stored = dataCommand(QStringLiteral("STOR ") + hostFileName,
                                    [this, &file] { return transfer(file); });
    m_progressTick.stop();
    releaseHeldData();
    if (stored) {
        m_sentDigest = m_digest->finish();
        // The server confirmed the file: all of it has arrived.
        report(m_sent);
    }
    m_digest.reset();
    return stored;
}

bool FtpClient::dataCommand(const QString& line, const std::function<bool()>& moveData) {
    if (!openDataChannel())
        return false;
    // A passive data connection is up already: its handshake overlaps the wait for the reply.
    if (tls && m_data)
        m_data->startClientEncryption();
    FtpReply reply;
    if (!send(line) || !waitReply(reply) || (reply.code != 150 && reply.code != 125)) {
        closeData();
        return false;
    }
    const bool replyDecides = moveData();
    closeData();
    return replyDecides && waitReply(reply) && (reply.code == 226 || reply.code == 250);
}

void FtpClient::abort() {
    m_broken = true;
    closeData();
    m_control.abort();
    wake();
}

bool FtpClient::command(const QString& line, std::initializer_list<int> accepted) {
    FtpReply reply;
    if (!send(line) || !waitReply(reply))
        return false;
    return std::find(accepted.begin(), accepted.end(), reply.code) != accepted.end();
}

bool FtpClient::send(const QString& line) {
    if (!connected()) {
        fail(QStringLiteral("Not connected."));
        return false;
    }
    // A line break inside a name would end the command early and start another one.
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
        fail(QStringLiteral("The name contains a line break, which cannot be sent to the "
                            "server."));
        return false;
    }
    // Replies nobody asked for must not be taken for the answer to this command.
    m_replies.clear();
    if (onCommand)
        onCommand(line);
    m_control.write(line.toUtf8() + "\r\n");
    return true;
}

bool FtpClient::waitReply(FtpReply& reply) {
    if (!waitFor([this] { return !m_replies.isEmpty(); }))
        return false;
    reply = m_replies.dequeue();
    m_status = reply.code;
    m_response = reply.line;
    return true;
}

bool FtpClient::waitFor(const std::function<bool()>& done) {
    if (done())
        return true;
    if (m_broken)
        return false;
    QEventLoop loop;
    QEventLoop* const outerLoop = m_waitLoop;
    const std::function<bool()>* const outerDone = m_waitDone;
    m_waitLoop = &loop;
    m_waitDone = &done;
    m_sinceActivity.start();
    if (timeoutMs > 0)
        m_deadline.start(timeoutMs);
    // Quitting the application ends the wait like a time-out.
    const QMetaObject::Connection quitting = connect(
        QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(quitting);
    m_deadline.stop();
    m_waitLoop = outerLoop;
    m_waitDone = outerDone;
    return done();
}

void FtpClient::wake() {
    if (m_waitLoop && (m_broken || (*m_waitDone)()))
        m_waitLoop->quit();
}

void FtpClient::deadlinePassed() {
    // Progress moves the deadline on; it is checked here rather than by restarting the timer
    // for every block sent.
    const qint64 quiet = m_sinceActivity.elapsed();
    if (quiet < timeoutMs) {
        m_deadline.start(int(timeoutMs - quiet));
        return;
    }
    closeData();
    m_control.abort();
    m_broken = true;
    m_timedOut = true;
    m_status = 426;
    m_response = QStringLiteral("426 Timeout");
    wake();
}

void FtpClient::fail(const QString& response) {
    m_status = 0;
    m_response = response;
}

void FtpClient::localFailure(const QString& message) {
    // The status code stays that of the last reply, which the error event reports.
    m_response = message;
    if (onError)
        onError(message);
}

void FtpClient::readReplies() {
    // In pieces, so that a server sending without end is stopped before much is held.
    while (m_control.bytesAvailable() > 0) {
        m_reader.append(m_control.read(FtpReplyReader::MaxLine));
        while (std::optional<FtpReply> reply = m_reader.next(onResponse)) {
            m_replies.enqueue(*reply);
            // 421: the server is closing the connection; later operations must not use it.
            if (reply->code == 421) {
                closeData();
                m_control.abort();
                m_reader.reset();
                break;
            }
        }
        if (!m_reader.violation().isEmpty()) {
            fail(m_reader.violation());
            abort();
            return;
        }
    }
    wake();
}

bool FtpClient::openDataChannel() {
    closeData();
    return passive ? connectPassive() : listenActive();
}

bool FtpClient::connectPassive() {
    std::optional<quint16> port;
    // EPSV names only a port, so it serves IPv6 too; servers that do not know it get PASV.
    if (!m_epsvRefused) {
        if (command(QStringLiteral("EPSV"), {229})) {
            port = epsvPort(m_response);
            if (!port) {
                localFailure(QStringLiteral("The server's EPSV reply names no port: ") +
                             m_response);
                return false;
            }
        } else if (!connected() || m_status < 500) {
            return false;
        } else {
            m_epsvRefused = true;
        }
    }
    if (!port) {
        if (!command(QStringLiteral("PASV"), {200, 227}))
            return false;
        port = pasvPort(m_response);
        if (!port) {
            localFailure(QStringLiteral("The server's PASV reply names no address: ") + m_response);
            return false;
        }
    }
    // Servers behind NAT often name a private address; the control connection's peer is the
    // address that is known to reach the server.
    m_data = new QSslSocket(this);
    prepareDataSocket(m_data);
    connect(m_data, &QSslSocket::connected, this, &FtpClient::wake);
    connect(m_data, &QSslSocket::errorOccurred, this, [this] {
        m_dataClosed = true;
        wake();
    });
    m_data->connectToHost(m_control.peerAddress(), *port);
    // An abort while connecting (Cancel, time-out) takes the socket away.
    const bool connected =
        waitFor([this] {
            return !m_data || m_dataClosed || m_data->state() == QAbstractSocket::ConnectedState;
        }) &&
        m_data && !m_dataClosed;
    if (!connected) {
        if (m_data)
            localFailure(QStringLiteral("Could not open the data connection: ") +
                         m_data->errorString());
        closeData();
        return false;
    }
    return true;
}

bool FtpClient::listenActive() {
    bool ipv4 = false;
    const quint32 local = m_control.localAddress().toIPv4Address(&ipv4);
    QHostAddress address = ipv4 ? QHostAddress(local) : m_control.localAddress();
    address.setScopeId(QString());
    if (!m_listener.listen(address, 0)) {
        localFailure(QStringLiteral("Could not open a port for the data connection: ") +
                     m_listener.errorString());
        return false;
    }
    const quint16 port = m_listener.serverPort();
    if (!ipv4)
        return command(QStringLiteral("EPRT |2|%1|%2|").arg(address.toString()).arg(port), {200});
    return command(QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                       .arg(local >> 24)
                       .arg((local >> 16) & 0xFF)
                       .arg((local >> 8) & 0xFF)
                       .arg(local & 0xFF)
                       .arg(port >> 8)
                       .arg(port & 0xFF),
                   {200, 227});
}

bool FtpClient::transfer(QFile& file) {
    if ((!m_data && !acceptActive()) || !secureData())
        return !m_replies.isEmpty();
    connect(m_data, &QSslSocket::disconnected, this, [this] {
        m_dataClosed = true;
        wake();
    });
    connect(m_data, &QSslSocket::bytesWritten, this, [this, &file] { pump(file); });
    connect(m_data, &QSslSocket::encryptedBytesWritten, this, [this, &file] { pump(file); });

    m_sent = 0;
    m_reported = 0;
    m_sendFinished = false;
    m_readFailed = false;
    if (onProgress)
        onProgress(0);
    // The system sends and the server acknowledges without a signal to tell of it.
    m_progressTick.start();
    pump(file);
    // An abort (Cancel, time-out, 421) takes the socket away while waiting.
    const auto drained = [this] { return m_sendFinished && m_data && queued() == 0; };
    // Over TLS the bytes move between the socket's buffers in steps, and both queues can look
    // empty for a moment: the wait goes on until the end is certain.
    while (!waitFor([&] { return m_dataClosed || !m_replies.isEmpty() || drained(); }) &&
           !m_broken && m_data) {
    }
    if (!m_dataClosed && drained()) {
        // Much of the file may still be in the system's hands, on its way: the socket is held
        // open past Qt's close to watch it go until the server's reply (see taken()).
        const qintptr descriptor = m_data->socketDescriptor();
        m_heldData = descriptor >= 0 ? ::dup(int(descriptor)) : -1;
        if (tls) {
            closeSecureData();
        } else {
            m_data->disconnectFromHost();
            // Held open, the socket would not end the data without this.
            if (m_heldData >= 0)
                ::shutdown(m_heldData, SHUT_WR);
        }
        return true;
    }
    // Stopped early: a reply from the server tells why; without one the connection broke. A
    // server that cuts the data connection still answers the command, and its reply may come
    // after the close: read before any other command, it cannot be taken for that one's.
    if (m_dataClosed)
        waitFor([this] { return !m_replies.isEmpty(); });
    if (!m_replies.isEmpty())
        return true;
    if (!m_broken && !m_readFailed)
        fail(QStringLiteral("The data connection was closed during the transfer."));
    return false;
}

bool FtpClient::receive(QByteArray& into) {
    if ((!m_data && !acceptActive()) || !secureData())
        return !m_replies.isEmpty();
    const auto take = [this, &into] {
        into += m_data->readAll();
        m_sinceActivity.start();
        // Past the bound the rest is not read; the server's reply then ends the command.
        if (into.size() > MaxListing)
            closeData();
        wake();
    };
    connect(m_data, &QSslSocket::disconnected, this, [this] {
        m_dataClosed = true;
        wake();
    });
    connect(m_data, &QSslSocket::readyRead, this, take);
    // Bytes may have come while the server's preliminary reply was awaited.
    take();
    // The server ends the data by closing the connection; its final reply may come first.
    waitFor([this] { return !m_data || m_dataClosed; });
    if (m_data)
        into += m_data->readAll();
    return m_data || into.size() > MaxListing;
}

bool FtpClient::acceptActive() {
    for (;;) {
        if (!waitFor(
                [this] { return m_listener.hasPendingConnections() || !m_replies.isEmpty(); }) ||
            !m_listener.hasPendingConnections()) {
            if (m_replies.isEmpty() && !m_broken)
                localFailure(QStringLiteral("The server did not open the data connection."));
            return false;
        }
        auto* const incoming = static_cast<QSslSocket*>(m_listener.nextPendingConnection());
        // Anyone may connect to the announced port; the file goes to the server only.
        if (incoming->peerAddress().isEqual(m_control.peerAddress(),
                                            QHostAddress::ConvertV4MappedToIPv4)) {
            m_data = incoming;
            break;
        }
        incoming->abort();
        delete incoming;
    }
    m_data->setParent(this);
    m_listener.close();
    prepareDataSocket(m_data);
    connect(m_data, &QSslSocket::errorOccurred, this, [this] {
        m_dataClosed = true;
        wake();
    });
    return true;
}

void FtpClient::pump(QFile& file) {
    // The socket is handed a bounded batch at a time: what it holds unsent is memory, and
    // progress must not count it as arrived.
    while (!m_sendFinished && !m_dataClosed && m_data && queued() < SendWindow) {
        QByteArray batch(SendWindow, Qt::Uninitialized);
        const qint64 read = file.read(batch.data(), SendWindow);
        if (read < 0) {
            localFailure(
                QStringLiteral("Cannot read \"%1\": %2").arg(file.fileName(), file.errorString()));
            m_readFailed = true;
            m_dataClosed = true;
            break;
        }
        if (read == 0) {
            m_sendFinished = true;
            break;
        }
        batch.truncate(read);
        m_sent += read;
        m_digest->add(batch);
        m_data->write(batch);
        m_sinceActivity.start();
    }
    reportTaken();
    wake();
}

qint64 FtpClient::taken() const {
    // Over TLS the queues hold encrypted bytes, a little more than the plain ones they carry:
    // the count errs on the side of too little. A socket no longer there tells nothing: the
    // server's reply will.
    const qintptr open = m_data ? m_data->socketDescriptor() : -1;
    const int descriptor = open >= 0 ? int(open) : m_heldData;
    int unacknowledged = 0;
    if (descriptor < 0 || ::ioctl(descriptor, SIOCOUTQ, &unacknowledged) != 0)
        return m_reported;
    return std::max<qint64>(0, m_sent - (m_data ? queued() : 0) - unacknowledged);
}

void FtpClient::reportTaken() {
    report(taken());
}

void FtpClient::report(qint64 arrived) {
    if (arrived <= m_reported)
        return;
    m_reported = arrived;
    // The server taking bytes is the activity the time-out waits for.
    m_sinceActivity.start();
    if (onProgress)
        onProgress(arrived);
}

void FtpClient::prepareDataSocket(QSslSocket* socket) {
    if (!tls)
        return;
    // The control connection's configuration carries the session to resume.
    QSslConfiguration configuration = m_control.sslConfiguration();
    // Offering first the key exchange group the server chose for the control connection
    // spares the round trip in which a server that takes no other asks for it again.
    if (const std::optional<QSslEllipticCurve> agreed = curveOf(configuration.ephemeralServerKey()))
        configuration.setEllipticCurves({*agreed});
    socket->setSslConfiguration(configuration);
    socket->setPeerVerifyName(hostName);
    connect(socket, &QSslSocket::encrypted, this, &FtpClient::wake);
    // The certificate was judged on the control connection; that one passes here, no other.
    connect(socket, &QSslSocket::sslErrors, this, [this, socket] {
        if (socket->peerCertificate() == m_control.peerCertificate())
            socket->ignoreSslErrors();
    });
}

bool FtpClient::secureData() {
    if (!tls)
        return true;
    if (m_data->mode() == QSslSocket::UnencryptedMode)
        m_data->startClientEncryption();
    // An abort (Cancel, time-out) takes the socket away; a reply (such as a refused session
    // reuse) ends the attempt.
    waitFor([this] {
        return !m_data || m_dataClosed || m_data->isEncrypted() || !m_replies.isEmpty();
    });
    if (m_data && m_data->isEncrypted())
        return true;
    if (m_data && m_replies.isEmpty() && !m_broken)
        localFailure(QStringLiteral("The data connection could not be secured: ") +
                     m_data->errorString());
    return false;
}

void FtpClient::closeSecureData() {
    // Closing a socket over bytes not yet read makes the system reset the connection, and a
    // reset makes the server's system drop what the server has not read yet: the end of the
    // file. Over TLS 1.3 the server sends a session ticket after the handshake, which may
    // still be unread. So the socket, held open past Qt's close, has its sending side shut
    // after close_notify, and everything the server sends is read until it closes.
    m_data->disconnectFromHost();
    if (m_heldData < 0)
        return;
    waitFor([this] {
        return !m_data || m_data->state() == QAbstractSocket::UnconnectedState ||
               !m_replies.isEmpty();
    });
    ::shutdown(m_heldData, SHUT_WR);
    bool ended = false;
    QSocketNotifier notifier(m_heldData, QSocketNotifier::Read);
    connect(&notifier, &QSocketNotifier::activated, this, [this, &ended, &notifier] {
        char discarded[4096];
        const ssize_t got = ::read(m_heldData, discarded, sizeof discarded);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            ended = true;
            notifier.setEnabled(false);
            wake();
        }
    });
    waitFor([this, &ended] { return ended || !m_replies.isEmpty(); });
    notifier.setEnabled(false);
}

void FtpClient::releaseHeldData() {
    if (m_heldData >= 0)
        ::close(std::exchange(m_heldData, -1));
}

qint64 FtpClient::queued() const {
    return m_data->bytesToWrite() + m_data->encryptedBytesToWrite();
}

void FtpClient::closeData() {
    m_listener.close();
    if (m_data) {
        m_data->disconnect(this);
        m_data->abort();
        // It may be emitting the signal that led here, so it goes at the next close. A
        // deleteLater would wait for the whole run to end: the run's nested event loops
        // never reach the level it was posted at, and every file's socket would pile up.
        m_retiredData.reset(std::exchange(m_data, nullptr));
    }
    m_dataClosed = false;
}

} // namespace quaddle
