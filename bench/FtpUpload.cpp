// Uploads to one local vsftpd (a) one 256 MiB file and (b) 500 files of 10 KiB, through the
// program's FTP driver and through curl, alternating, and prints the median times, the ratio
// ours/curl, and the program's peak memory while sending a small and a large file.
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
qint64 PeakMemoryKiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void ResetPeakMemory() {
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class TBench {
public:
    TBench() : Server(test::TFtpServer::TKind::Vsftpd) {
        if (!Server.Started())
            qFatal("%s", qPrintable(Server.Problem()));
        Big = Files.filePath("big.bin");
        bench::WriteRandomFile(Big, qint64(256) << 20);
        for (int i = 0; i < 500; ++i) {
            const QString path =
                Files.filePath(QStringLiteral("small%1.bin").arg(i, 3, 10, QLatin1Char('0')));
            bench::WriteRandomFile(path, 10 * 1024);
            Small.append({path, QString()});
        }
    }

    double Ours(const TFileList& files) {
        QElapsedTimer timer;
        timer.start();
        TUpload upload([](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 0,
                       PolicyOverwrite, false, StandardDrivers(QString()));
        upload.Protokoll().SetOption(TUploadProtokoll::PassiveMode);
        if (!upload.Login("127.0.0.1", QString::number(Server.Port()), Server.User(),
                          Server.Password()) ||
            !upload.EnterDir(Server.UploadDir(), false, false) ||
            upload.UploadFiles(files).size() != files.size())
            qFatal("upload through the program failed");
        return timer.elapsed() / 1000.0;
    }

    void Compare(const char* what, const TFileList& files) {
        QStringList paths;
        for (const TFileEntry& entry : files)
            paths.append(entry.Path);
        QList<double> ours;
        QList<double> theirs;
        for (int run = 0; run < Runs; ++run) {
            // Alternating the order evens out caches warming up.
            if (run % 2 == 0) {
                ours.append(Ours(files));
                theirs.append(bench::CurlUpload(Server, paths));
            } else {
                theirs.append(bench::CurlUpload(Server, paths));
                ours.append(Ours(files));
            }
        }
        std::printf("%-26s ours %8.3f s   curl %8.3f s   ratio %.2f\n", what, Median(ours),
                    Median(theirs), Median(ours) / Median(theirs));
    }

    void Memory() {
        const QString medium = Files.filePath("medium.bin");
        bench::WriteRandomFile(medium, qint64(16) << 20);
        ResetPeakMemory();
        Ours({{medium, QString()}});
        const qint64 small = PeakMemoryKiB();
        ResetPeakMemory();
        Ours({{Big, QString()}});
        const qint64 large = PeakMemoryKiB();
        std::printf("peak memory (resident)     16 MiB file %lld KiB   256 MiB file %lld KiB\n",
                    static_cast<long long>(small), static_cast<long long>(large));
    }

    void Run() {
        Compare("(a) one 256 MiB file", {{Big, QString()}});
        Compare("(b) 500 files of 10 KiB", Small);
        Memory();
    }

private:
    QTemporaryDir Files;
    test::TFtpServer Server;
    QString Big;
    TFileList Small;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::TScriptedDialogs noQuestions;
    TBench bench;
    bench.Run();
    return 0;
}
