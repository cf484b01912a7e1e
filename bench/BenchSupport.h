#pragma once

#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

namespace quaddle::test {
class FtpServer;
}

namespace quaddle::bench {

// What the delay proxy holds everything each way in the benchmarks that make a server look
// distant.
constexpr int ProxyDelayMs = 25;

// The round trips through that proxy each of files cost, seconds in all.
double roundTripsPerFile(double seconds, qsizetype files);

// Beside a ratio that should be at most goal: "(<= goal: goal met)", or missed.
QString goalVerdict(double ratio, double goal);

// A file of size random bytes.
void writeRandomFile(const QString& path, qint64 size,
                     QRandomGenerator& random = *QRandomGenerator::global());

// The middle value (the upper one of an even count).
double median(QList<double> values);

// Times each tool (each returns its seconds) rounds times, a different one going first in each
// round so that caches warming up and drift favour none; returns each tool's seconds.
QList<QList<double>> secondsInTurns(const QList<std::function<double()>>& tools, int rounds);

// Times ours and theirs (each returns its seconds) runs times each, alternating which goes first
// so that caches warming up favour neither; prints what, both medians and their ratio, and
// returns the ratio ours/theirs.
double compareAlternating(const char* what, const char* peer, const std::function<double()>& ours,
                          const std::function<double()>& theirs, int runs = 5);

// OpenSSL's configuration for this process and its children (vsftpd, curl, the program): TLS
// 1.2 at most, so that all speak the same version, and vsftpd's demand that data connections
// resume the control connection's session works with every client. Written into dir; read when
// OpenSSL starts, so call it before.
void limitToTls12(const QTemporaryDir& dir);

// Seconds curl takes to upload the files to the server's upload folder in one invocation,
// with further curl options; through host:port (a proxy's) when given. Throws
// std::runtime_error when curl fails.
double curlUpload(const test::FtpServer& server, const QStringList& paths,
                  const QStringList& options = {}, const QString& hostPort = {});

// Uploads the file at path to the server through the built console program (program), once with
// the setting History on and once with it off, and through curl with curlOptions (FTPS with
// tls), alternating, rounds times; prints the medians, the program's time with the history over
// its time without (goal 1.05) and over curl's (goal 1.00).
void compareHistoryCost(const char* what, const QString& program, const test::FtpServer& server,
                        bool tls, const QString& path, const QStringList& curlOptions,
                        int rounds = 5);

// The delay-proxy program, forwarding with delayMs each way as long as this object lives.
class DelayProxy {
public:
    // A listening port (0: any free one) and the port of 127.0.0.1 it forwards to.
    struct Forward {
        quint16 listenPort;
        quint16 targetPort;
    };

    // A free port of 127.0.0.1 forwarded to 127.0.0.1:targetPort.
    DelayProxy(quint16 targetPort, int delayMs);
    // Each forward listening on listenHost, a loopback address.
    DelayProxy(const QString& listenHost, const QList<Forward>& forwards, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // The first forward's listening port.
    quint16 port() const { return m_ports.first(); }
    // The listening ports of the connections accepted since the last call. The proxy tells
    // them through a pipe, which a caller that forwards many connections must empty now and
    // then.
    QList<quint16> takeAccepted();

private:
    void start(const QStringList& arguments);

    QProcess m_process;
    QList<quint16> m_ports;
};

} // namespace quaddle::bench
