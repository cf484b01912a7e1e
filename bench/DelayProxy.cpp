// Forwards every connection accepted on a port of 127.0.0.1 to one target, holding each chunk
// for a fixed time in both directions, so that a local server looks like a distant one.
// Bandwidth is not limited: a chunk read at t is written at t + delay, in the order read, while
// reading goes on. Prints the listening port on its first line. A side that half-closes ends
// the whole connection (Qt's sockets cannot half-close), which SSH never relies on.
//
//   delay-proxy --port 0 --target 127.0.0.1:PORT --delay-ms 25
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <functional>

namespace {

struct Endpoint {
    QHostAddress address;
    quint16 port = 0;
};

// One direction of a connection: what the source sends reaches the sink delay later, in
// order; the source's end closes the sink once everything before it has arrived, and then
// ended() is called.
class DelayedPipe : public QObject {
public:
    DelayedPipe(QTcpSocket* source, QTcpSocket* sink, int delayMs, std::function<void()> ended,
                QObject* parent)
        : QObject(parent), m_source(source), m_sink(sink), m_delayMs(delayMs),
          m_ended(std::move(ended)) {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &DelayedPipe::deliverDue);
        connect(source, &QTcpSocket::readyRead, this, &DelayedPipe::take);
        connect(source, &QTcpSocket::disconnected, this, &DelayedPipe::takeEnd);
        if (source->state() == QAbstractSocket::ConnectedState)
            take();
        else
            takeEnd();
    }

private:
    struct Chunk {
        QDeadlineTimer due;
        QByteArray data;
        bool end = false;
    };

    void take() {
        const QByteArray data = m_source->readAll();
        if (!data.isEmpty())
            queue({QDeadlineTimer(m_delayMs, Qt::PreciseTimer), data});
    }

    void takeEnd() {
        take();
        queue({QDeadlineTimer(m_delayMs, Qt::PreciseTimer), {}, true});
    }

    void queue(Chunk chunk) {
        m_pending.push_back(std::move(chunk));
        scheduleNext();
    }

    void deliverDue() {
        while (!m_pending.empty() && m_pending.front().due.hasExpired()) {
            const Chunk chunk = std::move(m_pending.front());
            m_pending.pop_front();
            if (!chunk.end) {
                m_sink->write(chunk.data);
                continue;
            }
            m_pending.clear();
            m_sink->disconnectFromHost();
            m_ended();
            return;
        }
        scheduleNext();
    }

    void scheduleNext() {
        if (!m_pending.empty() && !m_timer.isActive())
            m_timer.start(std::chrono::milliseconds(m_pending.front().due.remainingTime()));
    }

    QTcpSocket* m_source;
    QTcpSocket* m_sink;
    int m_delayMs;
    std::function<void()> m_ended;
    std::deque<Chunk> m_pending;
    QTimer m_timer;
};

// One client joined to the target by two delayed pipes; owns both sockets and goes away once
// both directions have ended.
class Link : public QObject {
public:
    Link(QTcpSocket* client, const Endpoint& target, int delayMs, QObject* parent)
        : QObject(parent), m_client(client), m_target(new QTcpSocket(this)), m_delayMs(delayMs) {
        client->setParent(this);
        // The client's bytes wait in the kernel until the target answers.
        connect(m_target, &QTcpSocket::connected, this, &Link::join);
        connect(m_target, &QTcpSocket::errorOccurred, this, [this] {
            if (m_target->state() != QAbstractSocket::ConnectedState && m_openPipes == 0)
                deleteLater();
        });
        m_target->connectToHost(target.address, target.port);
    }

private:
    void join() {
        for (QTcpSocket* socket : {m_client, m_target})
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_openPipes = 2;
        const auto ended = [this] {
            if (--m_openPipes == 0)
                deleteLater();
        };
        new DelayedPipe(m_client, m_target, m_delayMs, ended, this);
        new DelayedPipe(m_target, m_client, m_delayMs, ended, this);
    }

    QTcpSocket* m_client;
    QTcpSocket* m_target;
    int m_delayMs;
    int m_openPipes = 0;
};

class DelayProxy : public QObject {
public:
    DelayProxy(const Endpoint& target, int delayMs) : m_target(target), m_delayMs(delayMs) {
        connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* client = m_server.nextPendingConnection())
                new Link(client, m_target, m_delayMs, this);
        });
    }

    // Only on loopback: the proxy is for local benchmarks and lets anyone through.
    bool listen(quint16 port) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.serverPort(); }
    QString problem() const { return m_server.errorString(); }

private:
    QTcpServer m_server;
    Endpoint m_target;
    int m_delayMs;
};

bool parseEndpoint(const QString& text, Endpoint& endpoint) {
    const qsizetype colon = text.lastIndexOf(u':');
    bool portOk = false;
    endpoint.port = text.mid(colon + 1).toUShort(&portOk);
    return colon > 0 && portOk && endpoint.address.setAddress(text.left(colon));
}

int fail(const QString& message) {
    std::fprintf(stderr, "delay-proxy: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Forwards connections to one target, delaying every chunk in both directions.");
    parser.addHelpOption();
    const QCommandLineOption portOption(
        "port", "Port of 127.0.0.1 to listen on; 0 for any free one.", "port", "0");
    const QCommandLineOption targetOption("target", "Address and port to forward to.", "host:port");
    const QCommandLineOption delayOption("delay-ms", "Delay each way in milliseconds.", "ms", "25");
    parser.addOptions({portOption, targetOption, delayOption});
    parser.process(application);

    bool portOk = false;
    const quint16 port = parser.value(portOption).toUShort(&portOk);
    Endpoint target;
    bool delayOk = false;
    const int delayMs = parser.value(delayOption).toInt(&delayOk);
    if (!portOk)
        return fail("--port wants a port number, got \"" + parser.value(portOption) + "\"");
    if (!parseEndpoint(parser.value(targetOption), target) || target.port == 0)
        return fail("--target wants host:port, got \"" + parser.value(targetOption) + "\"");
    if (!delayOk || delayMs < 0)
        return fail("--delay-ms wants a whole number of milliseconds, got \"" +
                    parser.value(delayOption) + "\"");

    DelayProxy proxy(target, delayMs);
    if (!proxy.listen(port))
        return fail("cannot listen on port " + parser.value(portOption) + ": " + proxy.problem());
    std::printf("%u\n", unsigned(proxy.port()));
    std::fflush(stdout);
    return application.exec();
}
