#include "BenchSupport.h"

#include "FtpServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

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

double curlUpload(const test::FtpServer& server, const QStringList& paths) {
    QElapsedTimer timer;
    timer.start();
    const QString url =
        QStringLiteral("ftp://127.0.0.1:%1%2/").arg(server.port()).arg(server.uploadDir());
    QProcess curl;
    curl.start("curl", {"-sS", "--user", server.user() + ":" + server.password(), "-T",
                        "{" + paths.join(',') + "}", url});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        qFatal("curl failed: %s", curl.readAllStandardError().constData());
    return timer.elapsed() / 1000.0;
}

} // namespace quaddle::bench
