// Soak run: 2,000 files of mixed sizes (0 bytes to 50 MiB, about 2 GiB in all) uploaded by
// the built program to a local vsftpd with "Autoclose" on, first the first 200 of them, then
// all, three times. Checks that every file arrives byte-identical, prints the program's peak
// resident memory for each run and its time next to curl uploading the same files in one
// invocation.
#include "BenchSupport.h"
#include "FtpServer.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace quaddle;

namespace {

constexpr int FileCount = 2000;
constexpr int FirstRun = 200;
constexpr int RunTimeoutMs = 60 * 60 * 1000;
constexpr int Rounds = 3;

// Mostly small files, some of 5 MiB, a few of 50 MiB, and empty ones: about 2 GiB.
qint64 sizeOf(int index, QRandomGenerator& random) {
    if (index % 100 == 0)
        return qint64(50) << 20;
    if (index % 20 == 5)
        return qint64(5) << 20;
    if (index % 50 == 7)
        return 0;
    return random.bounded(600 * 1024);
}

struct CommandRun {
    double seconds = 0;
    qint64 peakKiB = 0;
};

class Soak {
public:
    Soak() : m_server(test::FtpServer::Kind::Vsftpd) {
        if (!m_server.started())
            qFatal("%s", qPrintable(m_server.problem()));
        QRandomGenerator random(20261207);
        for (int i = 0; i < FileCount; ++i) {
            const QString path =
                m_files.filePath(QStringLiteral("soak%1.bin").arg(i, 4, 10, QLatin1Char('0')));
            const qint64 size = sizeOf(i, random);
            bench::writeRandomFile(path, size, random);
            m_paths.append(path);
            m_totalBytes += size;
        }
        test::ServerSetup setup = test::setupFor(m_server);
        setup.defaultDir = m_server.uploadDir();
        test::saveServerConfig(setup, {{"Autoclose", SettingValue::boolean(true)},
                                       {"Overwrite", SettingValue::integer(1)}});
    }

    // The built program, with the server and the files on its command line: it uploads them
    // at once and closes when done. GNU time reports its peak resident set.
    CommandRun runOurs(const QStringList& paths) {
        QProcess program;
        program.setProcessEnvironment(m_programDir.environment());
        QElapsedTimer timer;
        timer.start();
        program.start("/usr/bin/time",
                      QStringList{"-f", "peak %M", QUADDLE_PROGRAM, ":0"} << paths);
        if (!program.waitForFinished(RunTimeoutMs) || program.exitCode() != 0)
            qFatal("the program failed: %s", program.readAllStandardError().constData());
        CommandRun run;
        run.seconds = timer.elapsed() / 1000.0;
        for (const QByteArray& line : program.readAllStandardError().split('\n'))
            if (line.startsWith("peak "))
                run.peakKiB = line.mid(5).toLongLong();
        return run;
    }

    // Compares every file with its copy on the server, then removes the copies.
    int mismatches(const QStringList& paths) {
        int mismatches = 0;
        for (const QString& path : paths) {
            const QString copy = m_server.localPath(QFileInfo(path).fileName());
            if (!QFile::exists(copy) || test::fileChecksum(copy) != test::fileChecksum(path)) {
                std::printf("  differs or missing: %s\n", qPrintable(QFileInfo(path).fileName()));
                ++mismatches;
            }
            QFile::remove(copy);
        }
        return mismatches;
    }

    int run() {
        std::printf("%d files, %.2f GiB\n", FileCount, m_totalBytes / double(qint64(1) << 30));
        const QStringList first = m_paths.mid(0, FirstRun);
        const CommandRun small = runOurs(first);
        const int smallMismatches = mismatches(first);
        std::printf("program, %4d files: %8.1f s  peak %lld KiB  %d differing\n", FirstRun,
                    small.seconds, static_cast<long long>(small.peakKiB), smallMismatches);
        // The whole set, three times each, alternating with curl; times are medians.
        int allMismatches = 0;
        QList<double> ours;
        QList<double> curl;
        for (int round = 0; round < Rounds; ++round) {
            const CommandRun all = runOurs(m_paths);
            allMismatches += mismatches(m_paths);
            std::printf("program, %4d files: %8.1f s  peak %lld KiB  %d differing\n", FileCount,
                        all.seconds, static_cast<long long>(all.peakKiB), allMismatches);
            ours.append(all.seconds);
            curl.append(bench::curlUpload(m_server, m_paths));
            mismatches(m_paths);
            std::printf("curl,    %4d files: %8.1f s\n", FileCount, curl.last());
        }
        std::printf("median program %.1f s, curl %.1f s, ratio program/curl %.2f\n",
                    bench::median(ours), bench::median(curl),
                    bench::median(ours) / bench::median(curl));
        return smallMismatches + allMismatches == 0 ? 0 : 1;
    }

private:
    QTemporaryDir m_files;
    test::TempProgramDir m_programDir;
    test::FtpServer m_server;
    QStringList m_paths;
    qint64 m_totalBytes = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // A long run: each figure shows as soon as it is known, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Soak soak;
    return soak.run();
}
