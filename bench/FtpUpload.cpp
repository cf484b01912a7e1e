// Uploads to one local vsftpd (a) one 256 MiB file and (b) 500 files of 10 KiB, through the
// program's FTP driver and through curl, alternating, and prints the median times, the ratio
// ours/curl, and the program's peak memory while sending a small and a large file; then one
// 512 MiB file through the built quaddle-cli with its history on and off, beside curl.
#include "BenchSupport.h"
#include "FtpServer.h"
#include "ScriptedDialogs.h"
#include "upload/UploadDrivers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace quaddle;

namespace {

constexpr int Runs = 5;

// The resident set's high-water mark of this process, in KiB.
qint64 peakMemoryKiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void resetPeakMemory() {
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

class Bench {
public:
    Bench() : m_server(test::FtpServer::Kind::Vsftpd) {
        if (!m_server.started())
            qFatal("%s", qPrintable(m_server.problem()));
        m_big = m_files.filePath("big.bin");
        bench::writeRandomFile(m_big, qint64(256) << 20);
        for (int i = 0; i < 500; ++i) {
            const QString path =
                m_files.filePath(QStringLiteral("small%1.bin").arg(i, 3, 10, QLatin1Char('0')));
            bench::writeRandomFile(path, 10 * 1024);
            m_small.append({path, QString()});
        }
    }

    double runOurs(const FileList& files) {
        QElapsedTimer timer;
        timer.start();
        UploadSession upload([](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 0,
                             PolicyOverwrite, false, standardDrivers(QString()));
        upload.driver().setOption(ProtocolDriver::PassiveMode);
        if (!upload.login("127.0.0.1", QString::number(m_server.port()), m_server.user(),
                          m_server.password()) ||
            !upload.enterDir(m_server.uploadDir(), false, false) ||
            upload.uploadFiles(files).size() != files.size())
            qFatal("upload through the program failed");
        return timer.elapsed() / 1000.0;
    }

    void compare(const char* what, const FileList& files) {
        QStringList paths;
        for (const FileEntry& entry : files)
            paths.append(entry.path);
        bench::compareAlternating(
            what, "curl", [&] { return runOurs(files); },
            [&] { return bench::curlUpload(m_server, paths); }, Runs);
    }

    void memory() {
        const QString medium = m_files.filePath("medium.bin");
        bench::writeRandomFile(medium, qint64(16) << 20);
        resetPeakMemory();
        runOurs({{medium, QString()}});
        const qint64 small = peakMemoryKiB();
        resetPeakMemory();
        runOurs({{m_big, QString()}});
        const qint64 large = peakMemoryKiB();
        std::printf("peak memory (resident)     16 MiB file %lld KiB   256 MiB file %lld KiB\n",
                    static_cast<long long>(small), static_cast<long long>(large));
    }

    void run() {
        compare("(a) one 256 MiB file", {{m_big, QString()}});
        const QString huge = m_files.filePath("huge.bin");
        bench::writeRandomFile(huge, qint64(512) << 20);
        bench::compareHistoryCost("one 512 MiB file over FTP", QStringLiteral(QUADDLE_CLI_PROGRAM),
                                  m_server, false, huge, {});
        QFile::remove(huge);
        compare("(b) 500 files of 10 KiB", m_small);
        memory();
    }

private:
    QTemporaryDir m_files;
    test::FtpServer m_server;
    QString m_big;
    FileList m_small;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::ScriptedDialogs noQuestions;
    Bench bench;
    bench.run();
    return 0;
}
