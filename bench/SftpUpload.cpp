// Uploads to a local OpenSSH server (a) one 128 MiB file and (b) 100 files of 10 KiB, each
// directly and through a proxy that holds everything 25 ms each way, as a distant server
// would. Compares the program's SFTP engine over OpenSSH's ssh with OpenSSH's own "sftp -b"
// running the same commands (cd, one put per file) with the same ssh options, and, for
// reference, the program's psftp engine, plain and with temporary names and permissions 644
// (what those cost beside it). Every round runs each tool once, another one going first each
// round; prints the median and slowest seconds, the ratio to sftp -b and, through the proxy,
// the round trips each small file cost. All include logging in (by key; psftp by password).
// Needs root and the quaddle-test account.
//
//   bench_sftp_upload [--rounds N] [--case a|b]
#include "BenchSupport.h"
#include "ScriptedDialogs.h"
#include "SshServer.h"
#include "config/Config.h"
#include "platform/Error.h"
#include "upload/OpenSshDriver.h"
#include "upload/UploadDrivers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

using namespace quaddle;

namespace {

constexpr int ToolTimeoutMs = 600000;
constexpr qsizetype LogLinesShown = 40;

// Ends the benchmark through main, so that sshd and the proxy stop and the files go.
[[noreturn]] void fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// How the server is reached.
struct Route {
    const char* name;
    quint16 port;
    bool delayed;
};

struct Case {
    QString key;
    const char* name;
    FileList files;
    // What the program should reach: its time over sftp -b's, directly and through the proxy.
    double directGoal;
    double delayedGoal;
};

// Through the proxy, what temporary names and permissions may cost psftp's many small files:
// a rename and a chmod beside each put.
constexpr double CarefulPsftpGoal = 2.0;

class Bench {
public:
    Bench(test::ScriptedDialogs& dialogs, int rounds) : m_dialogs(dialogs), m_rounds(rounds) {
        if (!m_server.started())
            fail(m_server.problem());
        // psftp keeps its host-key cache in HOME/.putty, and falls back to the account's own
        // when that folder is missing.
        if (!QDir(m_home.path()).mkpath(QStringLiteral(".putty")))
            fail("cannot make a home for psftp");
        qputenv("HOME", QFile::encodeName(m_home.path()));
        // Only the key made here logs in, and ssh's questions come from no desktop.
        qunsetenv("SSH_AUTH_SOCK");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        makeFiles();
        makeKey();
        m_proxy = std::make_unique<bench::DelayProxy>(m_server.port(), bench::ProxyDelayMs);
        m_routes = {{"direct", m_server.port(), false}, {"proxy", m_proxy->port(), true}};
        for (const Route& route : m_routes)
            warmUp(route.port);
    }

    // caseKey: "a" or "b" for that case alone, empty for both.
    void run(const QString& caseKey) {
        std::printf("SFTP uploads to a local sshd: median of %d rounds; the proxy adds %d ms "
                    "each way\n",
                    m_rounds, bench::ProxyDelayMs);
        std::printf("%-24s %-7s %-26s %9s %9s %10s %9s\n", "case", "route", "tool", "seconds",
                    "slowest", "x sftp -b", "RTT/file");
        std::fflush(stdout);
        QStringList goals;
        for (const Case& each : m_cases) {
            if (!caseKey.isEmpty() && caseKey != each.key)
                continue;
            for (const Route& route : m_routes) {
                const QList<std::optional<double>> medians = measure(each, route);
                const QString where =
                    QStringLiteral("(%1) %2: ").arg(each.key, QLatin1String(route.name));
                goals.append(where + ratio("program/sftp -b", medians[ProgramSsh], medians[Sftp],
                                           route.delayed ? each.delayedGoal : each.directGoal));
                goals.append(where + ratio("psftp .part+644/psftp", medians[PsftpCareful],
                                           medians[Psftp],
                                           route.delayed && each.files.size() > 1
                                               ? std::optional(CarefulPsftpGoal)
                                               : std::nullopt));
            }
        }
        std::printf("\nratios:\n  %s\n", qPrintable(goals.join(QStringLiteral("\n  "))));
    }

private:
    using Tool = double (Bench::*)(quint16 port, const FileList& files);
    struct NamedTool {
        const char* name;
        Tool run;
    };
    // In the order of tools().
    enum ToolIndex { ProgramSsh, Sftp, Psftp, PsftpCareful };
    static QList<NamedTool> tools() {
        return {{"program (ssh)", &Bench::runOpenSsh},
                {"sftp -b", &Bench::runSftp},
                {"program (psftp)", &Bench::runPsftp},
                {"program (psftp, .part+644)", &Bench::runCarefulPsftp}};
    }

    void makeFiles() {
        const QString big = m_files.filePath(QStringLiteral("big.bin"));
        bench::writeRandomFile(big, qint64(128) << 20);
        FileList small;
        for (int i = 0; i < 100; ++i) {
            const QString path =
                m_files.filePath(QStringLiteral("small%1.bin").arg(i, 3, 10, QLatin1Char('0')));
            bench::writeRandomFile(path, 10 * 1024);
            small.append({path, QString()});
        }
        m_cases = {{QStringLiteral("a"), "(a) one 128 MiB file", {{big, QString()}}, 1.0, 1.0},
                   {QStringLiteral("b"), "(b) 100 files of 10 KiB", small, 1.0, 0.3}};
    }

    // sftp's batch mode asks for no password, so ssh and sftp log in with a key.
    void makeKey() {
        QProcess keygen;
        keygen.start(QStringLiteral("/usr/bin/ssh-keygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                      QStringLiteral("-N"), QString(), QStringLiteral("-f"), keyFile()});
        if (!keygen.waitForFinished() || keygen.exitCode() != 0 ||
            !m_server.authorizeKey(keyFile() + ".pub"))
            fail("cannot make a key for ssh");
    }

    QString keyFile() const { return m_home.filePath(QStringLiteral("id_ed25519")); }

    // What both ssh and sftp get. ssh reads the account's own configuration and known hosts
    // whatever HOME says, so both are set aside; the host-key cache is per port, and the
    // first login through each stores the key.
    QStringList sshOptions() const {
        return {QStringLiteral("-F"),
                QStringLiteral("/dev/null"),
                QStringLiteral("-o"),
                "UserKnownHostsFile=" + m_home.filePath(QStringLiteral("known_hosts")),
                QStringLiteral("-o"),
                QStringLiteral("GlobalKnownHostsFile=/dev/null"),
                QStringLiteral("-o"),
                QStringLiteral("StrictHostKeyChecking=accept-new"),
                QStringLiteral("-o"),
                QStringLiteral("IdentitiesOnly=yes"),
                QStringLiteral("-i"),
                keyFile()};
    }

    // One untimed upload per tool: ssh and sftp store the host key, psftp asks about it in the
    // session's dialogs, and a tool that cannot upload at all stops the benchmark here.
    void warmUp(quint16 port) {
        const FileList one{m_cases.last().files.first()};
        m_dialogs.expectIdentity(IdentityKind::HostKey, false, true);
        for (const NamedTool& tool : tools())
            timed(tool.run, port, one);
        if (!m_dialogs.done())
            fail("psftp's host-key question: " + m_dialogs.report());
    }

    // Every tool finds the upload folder empty, and must leave every file there whole.
    double timed(Tool tool, quint16 port, const FileList& files) {
        clearRemote();
        const double seconds = (this->*tool)(port, files);
        checkArrived(files);
        return seconds;
    }

    void clearRemote() {
        QDir remote(m_server.root());
        for (const QString& name : remote.entryList(QDir::Files | QDir::Hidden))
            if (!remote.remove(name))
                fail("cannot remove " + name + " from the server");
    }

    void checkArrived(const FileList& files) const {
        for (const FileEntry& entry : files) {
            const QFileInfo local(entry.path);
            if (QFileInfo(m_server.root() + '/' + local.fileName()).size() != local.size())
                fail(local.fileName() + " did not arrive whole");
        }
    }

    // Prints a row per tool; returns the median seconds of each, none for a tool that failed.
    QList<std::optional<double>> measure(const Case& each, const Route& route) {
        const QList<NamedTool> all = tools();
        // A tool that failed once sits out the remaining rounds; the others go on.
        QStringList failures(all.size());
        QList<std::function<double()>> runs;
        for (qsizetype i = 0; i < all.size(); ++i)
            runs.append([&, i] {
                return failures[i].isEmpty() ? tryTimed(all[i], route, each.files, failures[i])
                                             : 0.0;
            });
        const QList<QList<double>> rounds = bench::secondsInTurns(runs, m_rounds);
        QList<std::optional<double>> medians;
        for (qsizetype i = 0; i < all.size(); ++i)
            medians.append(failures[i].isEmpty() ? std::optional(bench::median(rounds[i]))
                                                 : std::nullopt);
        for (qsizetype i = 0; i < all.size(); ++i) {
            std::printf("%-24s %-7s %-26s", each.name, route.name, all[i].name);
            if (!medians[i]) {
                std::printf(" failed: %s\n", qPrintable(failures[i].section(u'\n', 0, 0)));
                continue;
            }
            // The slowest round shows a stall that the median hides.
            std::printf(" %9.3f %9.3f %10s", *medians[i],
                        *std::max_element(rounds[i].begin(), rounds[i].end()),
                        medians[Sftp]
                            ? qPrintable(QString::number(*medians[i] / *medians[Sftp], 'f', 2))
                            : "-");
            if (route.delayed && each.files.size() > 1)
                std::printf(" %9.2f", bench::roundTripsPerFile(*medians[i], each.files.size()));
            std::printf("\n");
        }
        std::fflush(stdout);
        return medians;
    }

    // "name value", with the goal's verdict when there is one; "name -" when a side failed.
    static QString ratio(const char* name, std::optional<double> over, std::optional<double> under,
                         std::optional<double> goal) {
        if (!over || !under)
            return QLatin1String(name) + QStringLiteral(" -");
        const double value = *over / *under;
        QString text = QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(value, 0, 'f', 2);
        if (goal)
            text += ' ' + bench::goalVerdict(value, *goal);
        return text;
    }

    // The seconds of one timed run, or 0 with why it failed in failure; the whole story, with
    // the end of the session's log, goes to the error output.
    double tryTimed(const NamedTool& tool, const Route& route, const FileList& files,
                    QString& failure) {
        try {
            return timed(tool.run, route.port, files);
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
            std::fprintf(stderr, "%s through %s failed: %s\n", tool.name, route.name, error.what());
            return 0.0;
        }
    }

    // careful: each file under a temporary name first, and given permissions 644.
    double runSession(const DriverFactory& drivers, quint16 port, const QString& password,
                      const FileList& files, bool careful = false) {
        QElapsedTimer timer;
        timer.start();
        // The log keeps the traffic, as for users who have it on, so a failure shows where it
        // stopped.
        UploadSession upload([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                             int(ServerType::Sftp), PolicyOverwrite, true, drivers);
        upload.setTempNames(careful);
        if (careful)
            upload.setPermissions(QStringLiteral("644"));
        bool uploaded = false;
        QString error = QStringLiteral("upload through the program failed");
        try {
            uploaded = upload.login(QStringLiteral("127.0.0.1"), QString::number(port),
                                    m_server.user(), password) &&
                       upload.enterDir(m_server.root(), false, false) &&
                       upload.uploadFiles(files).size() == files.size();
        } catch (const Error& thrown) {
            error = thrown.message();
        }
        if (!uploaded) {
            const QStringList log = upload.logLines();
            fail(error + '\n' +
                 log.mid(std::max<qsizetype>(0, log.size() - LogLinesShown)).join(u'\n'));
        }
        return timer.elapsed() / 1000.0;
    }

    // The program's engine over ssh, told the same options as sftp; no password, so only the
    // key logs in.
    double runOpenSsh(quint16 port, const FileList& files) {
        const QStringList options = sshOptions();
        const auto drivers = [options](UploadSession& session, int) {
            auto driver = std::make_unique<OpenSshDriver>(session);
            driver->setSshCommand(QStringLiteral("/usr/bin/ssh"), options);
            driver->setAskpassProgram(QStringLiteral(QUADDLE_CLI_PROGRAM));
            return std::unique_ptr<ProtocolDriver>(std::move(driver));
        };
        return runSession(drivers, port, QString(), files);
    }

    // psftp from PATH, as the program finds it when it has none of its own.
    double runPsftp(quint16 port, const FileList& files) {
        return runSession(standardDrivers(QString(), SshClientPsftp), port, m_server.password(),
                          files);
    }

    double runCarefulPsftp(quint16 port, const FileList& files) {
        return runSession(standardDrivers(QString(), SshClientPsftp), port, m_server.password(),
                          files, true);
    }

    double runSftp(quint16 port, const FileList& files) {
        QFile batch(m_home.filePath(QStringLiteral("batch")));
        if (!batch.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the batch file");
        batch.write("cd \"" + QFile::encodeName(m_server.root()) + "\"\n");
        for (const FileEntry& entry : files)
            batch.write("put \"" + QFile::encodeName(entry.path) + "\"\n");
        batch.close();
        QElapsedTimer timer;
        timer.start();
        QProcess sftp;
        sftp.setProcessChannelMode(QProcess::MergedChannels);
        sftp.start(QStringLiteral("/usr/bin/sftp"),
                   sshOptions() + QStringList{QStringLiteral("-q"), QStringLiteral("-P"),
                                              QString::number(port), QStringLiteral("-b"),
                                              batch.fileName(), m_server.user() + "@127.0.0.1"});
        if (!sftp.waitForFinished(ToolTimeoutMs) || sftp.exitCode() != 0)
            fail("sftp failed: " + QString::fromLocal8Bit(sftp.readAll()));
        return timer.elapsed() / 1000.0;
    }

    test::ScriptedDialogs& m_dialogs;
    const int m_rounds;
    QTemporaryDir m_files;
    QTemporaryDir m_home;
    test::SshServer m_server{test::SshServer::KeyType::Ed25519};
    std::unique_ptr<bench::DelayProxy> m_proxy;
    QList<Route> m_routes;
    QList<Case> m_cases;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds to take the median of."),
                                          QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption caseOption(QStringLiteral("case"),
                                        QStringLiteral("Only case a (one large file) or b (many "
                                                       "small ones)."),
                                        QStringLiteral("a|b"));
    parser.addOptions({roundsOption, caseOption});
    parser.process(application);
    const QString caseKey = parser.value(caseOption);
    if (!caseKey.isEmpty() && caseKey != u"a" && caseKey != u"b") {
        std::fprintf(stderr, "bench_sftp_upload: --case wants a or b\n");
        return 2;
    }
    const int rounds = parser.value(roundsOption).toInt();
    if (rounds < 1) {
        std::fprintf(stderr, "bench_sftp_upload: --rounds wants a whole number above 0\n");
        return 2;
    }
    test::ScriptedDialogs dialogs;
    try {
        Bench bench(dialogs, rounds);
        bench.run(caseKey);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_sftp_upload: %s\n", error.what());
        return 1;
    }
    return 0;
}
