#include "BenchSupport.h"

#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "upload/UploadSession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <memory>
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

namespace {

std::unique_ptr<test::TempProgramDir> programDirFor(const test::FtpServer& server, bool tls,
                                                    bool history) {
    auto dir = std::make_unique<test::TempProgramDir>();
    test::ServerSetup setup = test::setupFor(server);
    setup.rootDir = server.uploadDir();
    if (tls) {
        setup.type = QStringLiteral("2");
        setup.trustedCert = server.certificateFingerprint();
    }
    test::saveServerConfig(setup,
                           {{QStringLiteral("Overwrite"), SettingValue::integer(PolicyOverwrite)},
                            {QStringLiteral("Passive"), SettingValue::boolean(true)},
                            {QStringLiteral("History"), SettingValue::boolean(history)}});
    return dir;
}

double programUpload(const QString& program, const QString& path, const test::TempProgramDir& dir) {
    QElapsedTimer timer;
    timer.start();
    test::ProgramRun run(program, {path}, dir.environment());
    if (!run.waitForExit(-1) || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0)
        throw std::runtime_error("quaddle-cli failed: " + run.errorOutput().toStdString());
    return timer.elapsed() / 1000.0;
}

} // namespace

void compareHistoryCost(const char* what, const QString& program, const test::FtpServer& server,
                        bool tls, const QString& path, const QStringList& curlOptions, int rounds) {
    const std::unique_ptr<test::TempProgramDir> withHistory = programDirFor(server, tls, true);
    const std::unique_ptr<test::TempProgramDir> without = programDirFor(server, tls, false);
    const QList<QList<double>> seconds =
        secondsInTurns({[&] { return programUpload(program, path, *withHistory); },
                        [&] { return programUpload(program, path, *without); },
                        [&] { return curlUpload(server, {path}, curlOptions); }},
                       rounds);
    const double on = median(seconds[0]);
    const double off = median(seconds[1]);
    const double curl = median(seconds[2]);
    std::printf("%s through quaddle-cli: history on %.3f s, off %.3f s, curl %.3f s\n"
                "  history on/off %.2f %s   history on/curl %.2f %s\n",
                what, on, off, curl, on / off, qPrintable(goalVerdict(on / off, 1.05)), on / curl,
                qPrintable(goalVerdict(on / curl, 1.0)));
    std::fflush(stdout);
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
