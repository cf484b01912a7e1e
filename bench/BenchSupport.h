#pragma once

#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <functional>

namespace quaddle::test {
class FtpServer;
}

namespace quaddle::bench {

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

// Seconds curl takes to upload the files to the server's upload folder in one invocation,
// with further curl options.
double curlUpload(const test::FtpServer& server, const QStringList& paths,
                  const QStringList& options = {});

// The delay-proxy program forwarding a loopback port to 127.0.0.1:targetPort with delayMs each
// way, as long as this object lives.
class DelayProxy {
public:
    DelayProxy(quint16 targetPort, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace quaddle::bench
