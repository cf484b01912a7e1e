// Uploads to one local OpenSSH server (a) 100 files of 10 KiB and (b) one 128 MiB file,
// through the program's SFTP driver and through "psftp -b" running the same commands (cd, one
// put per file), alternating, and prints the median times and the ratio ours/psftp. Then does
// the same through a proxy that delays everything 25 ms each way, as a distant server would,
// and also next to OpenSSH's "sftp -b" (which logs in with a key, as batch mode must). All
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
#include <memory>

using namespace quaddle;

namespace {

constexpr int Runs = 5;
constexpr int ToolTimeoutMs = 600000;
constexpr int DelayMs = 25;

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
        makeKey();
        m_proxy = std::make_unique<bench::DelayProxy>(m_server.port(), DelayMs);
        trustHostKey(m_server.port());
        trustHostKey(m_proxy->port());
    }

    // The host-key cache is per port, so the first login through each port stores the key and
    // every timed one finds it known.
    void trustHostKey(quint16 port) {
        m_dialogs.expectMessageMatching(QStringLiteral(".*host key.*"), MessageAnswer::Ok);
        runOurs(port, {m_small.first()});
        if (!m_dialogs.done())
            qFatal("the host key was not asked about");
    }

    // OpenSSH's batch mode asks for no password, so sftp logs in with a key of its own.
    void makeKey() {
        QProcess keygen;
        keygen.start(QStringLiteral("ssh-keygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                      QStringLiteral("-N"), QString(), QStringLiteral("-f"), keyFile()});
        if (!keygen.waitForFinished() || keygen.exitCode() != 0 ||
            !m_server.authorizeKey(keyFile() + ".pub"))
            qFatal("cannot make a key for sftp");
    }

    QString keyFile() const { return m_home.filePath("id_ed25519"); }

    double runOurs(quint16 port, const FileList& files) {
        QElapsedTimer timer;
        timer.start();
        UploadSession upload([](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1,
                             PolicyOverwrite, false, standardDrivers(QString()));
        if (!upload.login(QStringLiteral("127.0.0.1"), QString::number(port), m_server.user(),
                          m_server.password()) ||
            !upload.enterDir(m_server.root(), false, false) ||
            upload.uploadFiles(files).size() != files.size())
            qFatal("upload through the program failed");
        return timer.elapsed() / 1000.0;
    }

    // A batch of the same commands for psftp and sftp: cd, one put per file.
    QString writeBatch(const FileList& files) {
        QFile batch(m_home.filePath("batch"));
        if (!batch.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the batch file");
        batch.write("cd \"" + m_server.root().toUtf8() + "\"\n");
        for (const FileEntry& entry : files)
            batch.write("put \"" + entry.path.toUtf8() + "\"\n");
        return batch.fileName();
    }

    static double runTool(const QString& program, const QStringList& arguments) {
        QElapsedTimer timer;
        timer.start();
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(program, arguments);
        if (!tool.waitForFinished(ToolTimeoutMs) || tool.exitCode() != 0)
            qFatal("%s failed: %s", qPrintable(program), tool.readAll().constData());
        return timer.elapsed() / 1000.0;
    }

    double runPsftp(quint16 port, const FileList& files) {
        const QString batch = writeBatch(files);
        return runTool(QStringLiteral("/usr/bin/psftp"),
                       {QStringLiteral("-batch"), QStringLiteral("-P"), QString::number(port),
                        QStringLiteral("-pwfile"), m_home.filePath("pw"), QStringLiteral("-l"),
                        m_server.user(), QStringLiteral("-b"), batch, QStringLiteral("127.0.0.1")});
    }

    // OpenSSH reads the account's own home, not HOME: its configuration and known hosts are
    // set aside explicitly.
    double runSftp(quint16 port, const FileList& files) {
        const QString batch = writeBatch(files);
        return runTool(
            QStringLiteral("/usr/bin/sftp"),
            {QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-b"), batch,
             QStringLiteral("-P"), QString::number(port), QStringLiteral("-i"), keyFile(),
             QStringLiteral("-o"), QStringLiteral("IdentitiesOnly=yes"), QStringLiteral("-o"),
             "UserKnownHostsFile=" + m_home.filePath("known_hosts"), QStringLiteral("-o"),
             QStringLiteral("StrictHostKeyChecking=accept-new"), m_server.user() + "@127.0.0.1"});
    }

    using Tool = double (Bench::*)(quint16, const FileList&);

    double compare(const char* what, const char* peer, Tool theirs, quint16 port,
                   const FileList& files) {
        return bench::compareAlternating(
            what, peer, [&] { return runOurs(port, files); },
            [&] { return (this->*theirs)(port, files); }, Runs);
    }

    void run() {
        const FileList big{{m_big, QString()}};
        const double small =
            compare("(a) 100 files of 10 KiB", "psftp", &Bench::runPsftp, m_server.port(), m_small);
        const double large =
            compare("(b) one 128 MiB file", "psftp", &Bench::runPsftp, m_server.port(), big);
        std::printf("ratios: 100 x 10 KiB %.2f (goal 2.0), 128 MiB %.2f (goal 1.2)\n", small,
                    large);
        std::printf("through a proxy delaying %d ms each way:\n", DelayMs);
        for (const auto& [name, tool] :
             {std::pair{"psftp", &Bench::runPsftp}, std::pair{"sftp", &Bench::runSftp}}) {
            compare("(a) 100 files of 10 KiB", name, tool, m_proxy->port(), m_small);
            compare("(b) one 128 MiB file", name, tool, m_proxy->port(), big);
        }
    }

private:
    test::ScriptedDialogs& m_dialogs;
    QTemporaryDir m_files;
    QTemporaryDir m_home;
    test::SshServer m_server;
    std::unique_ptr<bench::DelayProxy> m_proxy;
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
