#include "BenchSupport.h"

#include "FtpServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

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

double roundTripsPerFile(double seconds, qsizetype files) {
    return seconds / (2 * ProxyDelayMs / 1000.0) / double(files);
}

QString goalVerdict(double ratio, double goal) {
    return QStringLiteral("(<= %1: goal %2)")
        .arg(goal, 0, 'f', 2)
        .arg(QLatin1String(ratio <= goal ? "met" : "missed"));
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

void limitToTls12(const QTemporaryDir& dir) {
    const QString path = dir.filePath("openssl.cnf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("openssl_conf = default_conf\n[default_conf]\nssl_conf = ssl_sect\n"
                   "[ssl_sect]\nsystem_default = tls12\n[tls12]\nMaxProtocol = TLSv1.2\n") < 0)
        qFatal("cannot write %s", qPrintable(path));
    qputenv("OPENSSL_CONF", QFile::encodeName(path));
}

double curlUpload(const test::FtpServer& server, const QStringList& paths,
                  const QStringList& options, const QString& hostPort) {
    QElapsedTimer timer;
    timer.start();
    const QString url =
        QStringLiteral("ftp://%1%2/")
            .arg(hostPort.isEmpty() ? "127.0.0.1:" + QString::number(server.port()) : hostPort,
                 server.uploadDir());
    QProcess curl;
    curl.start("curl",
               options + QStringList{"-sS", "--user", server.user() + ":" + server.password(), "-T",
                                     "{" + paths.join(',') + "}", url});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
    return timer.elapsed() / 1000.0;
}

DelayProxy::DelayProxy(quint16 targetPort, int delayMs) {
    start({"--port", "0", "--target", "127.0.0.1:" + QString::number(targetPort), "--delay-ms",
           QString::number(delayMs)});
}

DelayProxy::DelayProxy(const QString& listenHost, const QList<Forward>& forwards, int delayMs) {
    QStringList arguments{"--listen-host", listenHost, "--delay-ms", QString::number(delayMs)};
    for (const Forward& forward : forwards)
        arguments
            << "--forward"
            << QStringLiteral("%1:127.0.0.1:%2").arg(forward.listenPort).arg(forward.targetPort);
    start(arguments);
}

void DelayProxy::start(const QStringList& arguments) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(QUADDLE_DELAY_PROXY), arguments);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    for (const QByteArray& port : m_process.readLine().simplified().split(' '))
        m_ports.append(port.toUShort());
    if (m_ports.contains(0))
        qFatal("the delay proxy did not start");
}

QList<quint16> DelayProxy::takeAccepted() {
    while (m_process.waitForReadyRead(0)) {
    }
    QList<quint16> ports;
    while (m_process.canReadLine()) {
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("accepted "))
            ports.append(line.mid(9).toUShort());
    }
    return ports;
}

DelayProxy::~DelayProxy() {
    m_process.terminate();
    m_process.waitForFinished();
}

} // namespace quaddle::bench
