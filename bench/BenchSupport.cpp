#include "BenchSupport.h"

#include "FtpServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cstdio>

namespace quaddle::bench {

void writeRandomFile(const QString& path, qint64 size, QRandomGenerator& random) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block.constData(), std::min<qint64>(left, block.size()));
    }
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QList<QList<double>> secondsInTurns(const QList<std::function<double()>>& tools, int rounds) {
    QList<QList<double>> seconds(tools.size());
    for (int round = 0; round < rounds; ++round)
        for (qsizetype turn = 0; turn < tools.size(); ++turn) {
            const qsizetype tool = (round + turn) % tools.size();
            seconds[tool].append(tools[tool]());
        }
    return seconds;
}

double compareAlternating(const char* what, const char* peer, const std::function<double()>& ours,
                          const std::function<double()>& theirs, int runs) {
    const QList<QList<double>> seconds = secondsInTurns({ours, theirs}, runs);
    const double oursMedian = median(seconds[0]);
    const double theirsMedian = median(seconds[1]);
    const double ratio = oursMedian / theirsMedian;
    std::printf("%-32s ours %8.3f s   %s %8.3f s   ratio %.2f\n", what, oursMedian, peer,
                theirsMedian, ratio);
    std::fflush(stdout);
    return ratio;
}

double curlUpload(const test::FtpServer& server, const QStringList& paths,
                  const QStringList& options) {
    QElapsedTimer timer;
    timer.start();
    const QString url =
        QStringLiteral("ftp://127.0.0.1:%1%2/").arg(server.port()).arg(server.uploadDir());
    QProcess curl;
    curl.start("curl",
               options + QStringList{"-sS", "--user", server.user() + ":" + server.password(), "-T",
                                     "{" + paths.join(',') + "}", url});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        qFatal("curl failed: %s", curl.readAllStandardError().constData());
    return timer.elapsed() / 1000.0;
}

DelayProxy::DelayProxy(quint16 targetPort, int delayMs) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(QUADDLE_DELAY_PROXY),
                    {"--port", "0", "--target", "127.0.0.1:" + QString::number(targetPort),
                     "--delay-ms", QString::number(delayMs)});
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    m_port = m_process.readLine().trimmed().toUShort();
    if (m_port == 0)
        qFatal("the delay proxy did not start");
}

DelayProxy::~DelayProxy() {
    m_process.terminate();
    m_process.waitForFinished();
}

} // namespace quaddle::bench
