// Uploads to one local OpenSSH server (a) 100 files of 10 KiB and (b) one 128 MiB file,
// through the program's SFTP driver and through "psftp -b" running the same commands (cd, one
// put per file), alternating, and prints the median times and the ratio ours/psftp. Both
// include logging in. Needs root and the quaddle-test account.
#include "BenchSupport.h"
#include "ScriptedDialogs.h"
#include "SshServer.h"
#include "upload/UploadDrivers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace quaddle;

namespace {

constexpr int Runs = 5;
constexpr int PsftpTimeoutMs = 600000;

class Bench {
public:
    explicit Bench(test::ScriptedDialogs& dialogs) : m_dialogs(dialogs) {
        if (!m_server.started())
            qFatal("%s", qPrintable(m_server.problem()));
        // psftp keeps its host-key cache in HOME; a fresh one leaves the user's alone.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        m_big = m_files.filePath("big.bin");
        bench::writeRandomFile(m_big, qint64(128) << 20);
        for (int i = 0; i < 100; ++i) {
            const QString path =
                m_files.filePath(QStringLiteral("small%1.bin").arg(i, 3, 10, QLatin1Char('0')));
            bench::writeRandomFile(path, 10 * 1024);
            m_small.append({path, QString()});
        }
        QFile password(m_home.filePath("pw"));
        if (!password.open(QIODevice::WriteOnly) ||
            password.write(m_server.password().toUtf8()) < 0)
            qFatal("cannot write the password file");
        // The first login stores the host key; every timed one finds it known.
        m_dialogs.expectMessageMatching(QStringLiteral(".*host key.*"), MessageAnswer::Ok);
        runOurs({m_small.first()});
        if (!m_dialogs.done())
            qFatal("the host key was not asked about");
    }

    double runOurs(const FileList& files) {
        QElapsedTimer timer;
        timer.start();
        UploadSession upload([](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1,
                             PolicyOverwrite, false, standardDrivers(QString()));
        if (!upload.login(QStringLiteral("127.0.0.1"), QString::number(m_server.port()),
                          m_server.user(), m_server.password()) ||
            !upload.enterDir(m_server.root(), false, false) ||
            upload.uploadFiles(files).size() != files.size())
            qFatal("upload through the program failed");
        return timer.elapsed() / 1000.0;
    }

    double runPsftp(const FileList& files) {
        QFile batch(m_home.filePath("batch"));
        if (!batch.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the batch file");
        batch.write("cd \"" + m_server.root().toUtf8() + "\"\n");
        for (const FileEntry& entry : files)
            batch.write("put \"" + entry.path.toUtf8() + "\"\n");
        batch.close();
        QElapsedTimer timer;
        timer.start();
        QProcess psftp;
        psftp.setProcessChannelMode(QProcess::MergedChannels);
        psftp.start(QStringLiteral("/usr/bin/psftp"),
                    {QStringLiteral("-batch"), QStringLiteral("-P"),
                     QString::number(m_server.port()), QStringLiteral("-pwfile"),
                     m_home.filePath("pw"), QStringLiteral("-l"), m_server.user(),
                     QStringLiteral("-b"), batch.fileName(), QStringLiteral("127.0.0.1")});
        if (!psftp.waitForFinished(PsftpTimeoutMs) || psftp.exitCode() != 0)
            qFatal("psftp failed: %s", psftp.readAll().constData());
        return timer.elapsed() / 1000.0;
    }

    double compare(const char* what, const FileList& files) {
        return bench::compareAlternating(
            what, "psftp", [&] { return runOurs(files); }, [&] { return runPsftp(files); }, Runs);
    }

    void run() {
        const double small = compare("(a) 100 files of 10 KiB", m_small);
        const double big = compare("(b) one 128 MiB file", {{m_big, QString()}});
        std::printf("ratios: 100 x 10 KiB %.2f (goal 2.0), 128 MiB %.2f (goal 1.2)\n", small, big);
    }

private:
    test::ScriptedDialogs& m_dialogs;
    QTemporaryDir m_files;
    QTemporaryDir m_home;
    test::SshServer m_server;
    QString m_big;
    FileList m_small;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::ScriptedDialogs dialogs;
    Bench bench(dialogs);
    bench.run();
    return 0;
}
