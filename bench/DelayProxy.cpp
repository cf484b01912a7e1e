// Forwards every connection accepted on a loopback port to a target, holding each chunk for a
// fixed time in both directions, so that a local server looks like a distant one. Several
// ports may be forwarded at once, each to its own target: FTP's data connections then take
// the same delay as its control connection. Bandwidth is not limited: a chunk read at t is
// written at t + delay, in the order read, while reading goes on. TCP's own handshake is not
// delayed, so a new connection costs a round trip less than over a real network. Prints the
// listening ports, in the order given, on its first line, then for every connection accepted
// a line "accepted PORT" naming the port it came in on. A side that half-closes ends the whole
// connection (Qt's sockets cannot half-close), which neither SSH nor FTP relies on.
//
//   delay-proxy --port 0 --target 127.0.0.1:PORT --delay-ms 25
//   delay-proxy --listen-host 127.0.0.2 --forward 0:127.0.0.1:21 --forward 30000:127.0.0.1:30000
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
#include <memory>
#include <vector>

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

// A listening port and where its connections go.
struct Forward {
    quint16 listenPort = 0;
    Endpoint target;
};

class DelayProxy : public QObject {
public:
    explicit DelayProxy(int delayMs) : m_delayMs(delayMs) {}

    // Only on loopback: the proxy is for local benchmarks and lets anyone through.
    bool listen(const QHostAddress& host, const Forward& forward) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(host, forward.listenPort)) {
            m_problem = QStringLiteral("cannot listen on %1 port %2: %3")
                            .arg(host.toString())
                            .arg(forward.listenPort)
                            .arg(server->errorString());
            return false;
        }
        QTcpServer* accepting = server.get();
        connect(accepting, &QTcpServer::pendingConnectionAvailable, this,
                [this, accepting, target = forward.target] {
                    while (QTcpSocket* client = accepting->nextPendingConnection()) {
                        std::printf("accepted %u\n", unsigned(accepting->serverPort()));
                        std::fflush(stdout);
                        new Link(client, target, m_delayMs, this);
                    }
                });
        m_servers.push_back(std::move(server));
        return true;
    }

    QString ports() const {
        QStringList ports;
        for (const auto& server : m_servers)
            ports.append(QString::number(server->serverPort()));
        return ports.join(u' ');
    }
    QString problem() const { return m_problem; }

private:
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    int m_delayMs;
    QString m_problem;
};

bool parseEndpoint(const QString& text, Endpoint& endpoint) {
    const qsizetype colon = text.lastIndexOf(u':');
    bool portOk = false;
    endpoint.port = text.mid(colon + 1).toUShort(&portOk);
    return colon > 0 && portOk && endpoint.port != 0 &&
           endpoint.address.setAddress(text.left(colon));
}

// LISTENPORT:HOST:PORT
bool parseForward(const QString& text, Forward& forward) {
    const qsizetype colon = text.indexOf(u':');
    bool portOk = false;
    forward.listenPort = text.left(colon).toUShort(&portOk);
    return colon > 0 && portOk && parseEndpoint(text.mid(colon + 1), forward.target);
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
        "Forwards connections to targets, delaying every chunk in both directions.");
    parser.addHelpOption();
    const QCommandLineOption hostOption("listen-host", "Loopback address to listen on.", "address",
                                        "127.0.0.1");
    const QCommandLineOption portOption(
        "port", "Port to listen on for --target; 0 for any free one.", "port", "0");
    const QCommandLineOption targetOption("target", "Address and port to forward to.", "host:port");
    const QCommandLineOption forwardOption(
        "forward",
        "A further port to listen on (0 for any free one) and where it forwards to; "
        "may be repeated.",
        "port:host:port");
    const QCommandLineOption delayOption("delay-ms", "Delay each way in milliseconds.", "ms", "25");
    parser.addOptions({hostOption, portOption, targetOption, forwardOption, delayOption});
    parser.process(application);

    const QHostAddress host(parser.value(hostOption));
    if (!host.isLoopback())
        return fail("--listen-host wants a loopback address, got \"" + parser.value(hostOption) +
                    "\"");
    QList<Forward> forwards;
    if (parser.isSet(targetOption)) {
        Forward forward;
        bool portOk = false;
        forward.listenPort = parser.value(portOption).toUShort(&portOk);
        if (!portOk)
            return fail("--port wants a port number, got \"" + parser.value(portOption) + "\"");
        if (!parseEndpoint(parser.value(targetOption), forward.target))
            return fail("--target wants host:port, got \"" + parser.value(targetOption) + "\"");
        forwards.append(forward);
    }
    for (const QString& text : parser.values(forwardOption)) {
        Forward forward;
        if (!parseForward(text, forward))
            return fail("--forward wants port:host:port, got \"" + text + "\"");
        forwards.append(forward);
    }
    if (forwards.isEmpty())
        return fail("nothing to forward: give --target or --forward");
    bool delayOk = false;
    const int delayMs = parser.value(delayOption).toInt(&delayOk);
    if (!delayOk || delayMs < 0)
        return fail("--delay-ms wants a whole number of milliseconds, got \"" +
                    parser.value(delayOption) + "\"");

    DelayProxy proxy(delayMs);
    for (const Forward& forward : forwards)
        if (!proxy.listen(host, forward))
            return fail(proxy.problem());
    std::printf("%s\n", qPrintable(proxy.ports()));
    std::fflush(stdout);
    return application.exec();
}
