// Uploads many files to a local vsftpd over FTP and FTPS: (a) 100 files of 10 KiB and (b) 20
// files of 5 MiB, each directly and through a proxy that holds everything 25 ms each way, on
// the control connection and on every data connection, as a distant server would. Compares
// the built quaddle-cli with 4 connections and with 1 (each overwriting what is there; with 1
// also asking, which has it learn what is there first), lftp's "mirror -R --parallel=4" and,
// over FTPS, curl on one connection. Every round runs each tool once into an emptied upload
// folder, another one going first each round; prints the median and slowest seconds, the
// round trips each file cost through the proxy and the ratios the program aims at. Needs root
// (vsftpd) and, for FTPS, the quaddle-test account.
//
//   bench_parallel_upload [--rounds N] [--case a|b] [--protocol ftp|ftps]
//                         [--route direct|proxy] [--keep-logs DIR]
#include "BenchSupport.h"
#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "upload/UploadSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace quaddle;

namespace {

constexpr int ToolTimeoutMs = 900000;
// vsftpd picks one of these at random for each data connection and tries another when it is
// taken; four connections at once leave most of them free.
constexpr quint16 PassivePortCount = 16;
// Linux answers every address of 127/8 on loopback: the proxy listens on this one, on the
// server's ports, so that a data port the server names on the control connection leads
// through the proxy too.
const QString ProxyHost = QStringLiteral("127.0.0.2");

// Ends the benchmark through main, so that the servers and the proxy stop and the files go.
[[noreturn]] void fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// A tool that could not upload sits out the remaining rounds; the others go on.
struct ToolFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void toolFailed(const QString& message) {
    throw ToolFailure(message.toStdString());
}

bool freeOnBothHosts(quint16 port) {
    for (const QString& host : {QStringLiteral("127.0.0.1"), ProxyHost}) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress(host), port))
            return false;
    }
    return true;
}

// The first of PassivePortCount ports free on the server's and the proxy's address, below the
// range Linux takes the ports of outgoing connections from, which would now and then hold one.
quint16 freePassivePorts() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto first = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        bool allFree = true;
        for (quint16 port = first; allFree && port < first + PassivePortCount; ++port)
            allFree = freeOnBothHosts(port);
        if (allFree)
            return first;
    }
    fail("found no " + QString::number(PassivePortCount) + " free ports for data connections");
}

struct Case {
    QString key;
    const char* name;
    QString dir;
    QStringList paths;
};

// How the server is reached.
struct Route {
    QString key;
    QString host;
    quint16 port;
    bool delayed;
};

enum ToolIndex { Program4, Program1, ProgramAsk, Lftp, Curl };

// The most a ratio should be, where the program aims at one: directly, and through the proxy
// for the small files, whose time is nearly all waiting for round trips.
struct Ratio {
    const char* name;
    ToolIndex over;
    ToolIndex under;
    std::optional<double> directGoal;
    std::optional<double> delayedSmallGoal;
};

// More connections are for the small files through the proxy, and must not cost directly;
// learning which names exist must cost next to nothing per file.
const Ratio Ratios[] = {{"program(4)/lftp(4)", Program4, Lftp, std::nullopt, 1.0},
                        {"program(4)/program(1)", Program4, Program1, 1.05, 0.35},
                        {"program(1)/curl", Program1, Curl, std::nullopt, 1.05},
                        {"ask(1)/overwrite(1)", ProgramAsk, Program1, std::nullopt, 1.05}};

std::optional<double> goalOf(const Ratio& ratio, const Case& each, const Route& route) {
    if (!route.delayed)
        return ratio.directGoal;
    return each.key == u"a" ? ratio.delayedSmallGoal : std::nullopt;
}

// One server, FTP or FTPS, with the proxy in front of it and a program directory per route.
class Site {
public:
    Site(bool tls, const QString& logsDir)
        : m_tls(tls), m_passiveFirst(freePassivePorts()),
          m_server(tls ? test::FtpServer::Kind::VsftpdTls : test::FtpServer::Kind::Vsftpd,
                   {m_passiveFirst, quint16(m_passiveFirst + PassivePortCount - 1)}),
          m_logsDir(logsDir) {
        if (!m_server.started())
            fail(m_server.problem());
        QList<bench::DelayProxy::Forward> forwards{{0, m_server.port()}};
        for (quint16 port = m_passiveFirst; port < m_passiveFirst + PassivePortCount; ++port)
            forwards.append({port, port});
        m_proxy = std::make_unique<bench::DelayProxy>(ProxyHost, forwards, bench::ProxyDelayMs);
        m_routes = {{QStringLiteral("direct"), m_server.host(), m_server.port(), false},
                    {QStringLiteral("proxy"), ProxyHost, m_proxy->port(), true}};
        for (const Route& route : m_routes)
            m_programDirs.push_back(programDirFor(route));
    }

    const char* name() const { return m_tls ? "FTPS" : "FTP"; }
    const QList<Route>& routes() const { return m_routes; }

    struct Tool {
        const char* name;
        std::function<double(const Route&, const Case&)> run;
    };
    // In the order of ToolIndex.
    QList<Tool> tools() {
        QList<Tool> tools{{"program (4 conn.)",
                           [this](const Route& route, const Case& each) {
                               return runProgram(4, Overwrite, route, each);
                           }},
                          {"program (1 conn.)",
                           [this](const Route& route, const Case& each) {
                               return runProgram(1, Overwrite, route, each);
                           }},
                          {"program (1, ask)",
                           [this](const Route& route, const Case& each) {
                               return runProgram(1, Ask, route, each);
                           }},
                          {"lftp mirror -P 4", [this](const Route& route, const Case& each) {
                               return runLftp(route, each);
                           }}};
        if (m_tls)
            tools.append({"curl (1 conn.)", [this](const Route& route, const Case& each) {
                              return runCurl(route, each);
                          }});
        return tools;
    }

    // Every tool finds the upload folder empty and must leave every file there whole; through
    // the proxy, every file's data connection must have come through it too.
    double timed(const Tool& tool, const Route& route, const Case& each) {
        clearRemote();
        m_proxy->takeAccepted();
        const double seconds = tool.run(route, each);
        checkArrived(each);
        if (route.delayed)
            checkThroughProxy(each);
        else if (!m_proxy->takeAccepted().isEmpty())
            fail(QStringLiteral("%1 went through the proxy on the direct route")
                     .arg(QLatin1String(tool.name)));
        return seconds;
    }

private:
    std::unique_ptr<test::TempProgramDir> programDirFor(const Route& route) const {
        auto dir = std::make_unique<test::TempProgramDir>();
        test::ServerSetup setup = test::setupFor(m_server);
        setup.host = route.host;
        setup.port = route.port;
        setup.rootDir = m_server.uploadDir();
        if (m_tls) {
            setup.type = QStringLiteral("2");
            setup.trustedCert = m_server.certificateFingerprint();
        }
        // Every round does the same work, whatever an earlier one left.
        test::saveServerConfig(
            setup, {{QStringLiteral("Overwrite"), SettingValue::integer(PolicyOverwrite)},
                    {QStringLiteral("Passive"), SettingValue::boolean(true)},
                    {QStringLiteral("Log"), SettingValue::boolean(!m_logsDir.isEmpty())}});
        return dir;
    }

    const test::TempProgramDir& programDir(const Route& route) const {
        return *m_programDirs[route.delayed ? 1 : 0];
    }

    // What the program does with a name that exists: the upload folder is emptied before every
    // run, so asking costs only finding out, and no question comes (without a terminal the
    // program would skip the file).
    static constexpr const char* Overwrite = "overwrite";
    static constexpr const char* Ask = "ask";

    double runProgram(int connections, const char* onExists, const Route& route, const Case& each) {
        QElapsedTimer timer;
        timer.start();
        test::ProgramRun program(QStringLiteral(QUADDLE_CLI_PROGRAM),
                                 QStringList{"--connections=" + QString::number(connections),
                                             "--on-exists=" + QLatin1String(onExists)} +
                                     each.paths,
                                 programDir(route).environment());
        if (!program.waitForExit(ToolTimeoutMs) || program.exitStatus() != QProcess::NormalExit ||
            program.exitCode() != 0)
            toolFailed("quaddle-cli failed: " + QString::fromLocal8Bit(program.errorOutput()));
        const double seconds = timer.elapsed() / 1000.0;
        keepLog(route, each, connections, onExists);
        return seconds;
    }

    // With --keep-logs, the last round's log.txt of each run, to see where its time went.
    void keepLog(const Route& route, const Case& each, int connections,
                 const char* onExists) const {
        if (m_logsDir.isEmpty())
            return;
        const QString kept =
            QStringLiteral("%1/%2-%3-%4-%5conn-%6.txt")
                .arg(m_logsDir, QString::fromLatin1(name()).toLower(), each.key, route.key)
                .arg(connections)
                .arg(QLatin1String(onExists));
        QFile::remove(kept);
        if (!QFile::copy(programDir(route).filePath(QStringLiteral("log.txt")), kept))
            fail("cannot keep the log as " + kept);
    }

    // Only the upload is asked for: lftp would otherwise also set each file's permissions and
    // time, which the program does not do. EPSV names a port only, so the data connections go
    // to the host the control connection went to, as the program's do.
    double runLftp(const Route& route, const Case& each) {
        QStringList commands{QStringLiteral("set ftp:prefer-epsv yes"),
                             QStringLiteral("set ftp:ignore-pasv-address yes"),
                             QStringLiteral("set ftp:use-site-utime no"),
                             QStringLiteral("set ftp:use-site-utime2 no"),
                             QStringLiteral("set ftp:use-mdtm-overloaded no"),
                             QStringLiteral("set mirror:set-permissions no")};
        if (m_tls)
            commands << QStringLiteral("set ftp:ssl-force yes")
                     << QStringLiteral("set ftp:ssl-protect-data yes")
                     << QStringLiteral("set ssl:verify-certificate no");
        commands << QStringLiteral("mirror -R --parallel=4 \"%1\" \"%2\"")
                        .arg(each.dir, m_server.uploadDir())
                 << QStringLiteral("quit");
        QProcess lftp;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // lftp keeps its history and bookmarks under HOME.
        environment.insert(QStringLiteral("HOME"), m_lftpHome.path());
        lftp.setProcessEnvironment(environment);
        lftp.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        lftp.start(QStringLiteral("lftp"),
                   {QStringLiteral("-u"), m_server.user() + ',' + m_server.password(),
                    QStringLiteral("-p"), QString::number(route.port), QStringLiteral("-e"),
                    commands.join(QStringLiteral("; ")), route.host});
        if (!lftp.waitForFinished(ToolTimeoutMs) || lftp.exitStatus() != QProcess::NormalExit ||
            lftp.exitCode() != 0)
            toolFailed("lftp failed: " + QString::fromLocal8Bit(lftp.readAll()));
        return timer.elapsed() / 1000.0;
    }

    double runCurl(const Route& route, const Case& each) {
        try {
            return bench::curlUpload(m_server, each.paths,
                                     {QStringLiteral("--ssl-reqd"), QStringLiteral("--insecure"),
                                      QStringLiteral("--tls-max"), QStringLiteral("1.2")},
                                     route.host + ':' + QString::number(route.port));
        } catch (const std::runtime_error& error) {
            toolFailed(QString::fromStdString(error.what()));
        }
    }

    QDir uploadFolder() const { return QFileInfo(m_server.localPath(QStringLiteral("x"))).dir(); }

    void clearRemote() const {
        QDir remote = uploadFolder();
        for (const QString& name : remote.entryList(QDir::Files | QDir::Hidden))
            if (!remote.remove(name))
                fail("cannot remove " + name + " from the server");
    }

    void checkArrived(const Case& each) const {
        for (const QString& path : each.paths) {
            const QFileInfo local(path);
            if (QFileInfo(m_server.localPath(local.fileName())).size() != local.size())
                toolFailed(local.fileName() + " did not arrive whole");
        }
    }

    // Each file needs a data connection of its own; one that went around the proxy would have
    // skipped its delay.
    void checkThroughProxy(const Case& each) const {
        const QList<quint16> accepted = m_proxy->takeAccepted();
        const qsizetype dataConnections = accepted.size() - accepted.count(m_proxy->port());
        if (dataConnections < each.paths.size())
            fail(QStringLiteral("only %1 data connections for %2 files came through the proxy: "
                                "the others bypassed its delay")
                     .arg(dataConnections)
                     .arg(each.paths.size()));
    }

    const bool m_tls;
    const quint16 m_passiveFirst;
    test::FtpServer m_server;
    const QString m_logsDir;
    std::unique_ptr<bench::DelayProxy> m_proxy;
    QList<Route> m_routes;
    std::vector<std::unique_ptr<test::TempProgramDir>> m_programDirs;
    QTemporaryDir m_lftpHome;
};

struct Choice {
    int rounds = 5;
    QString caseKey;
    QString protocol;
    QString route;
    QString logsDir;
};

class Bench {
public:
    explicit Bench(const Choice& choice) : m_choice(choice) { makeFiles(); }

    void run() {
        std::printf("Many files to a local vsftpd: median of %d rounds; the proxy adds %d ms "
                    "each way to every connection\n",
                    m_choice.rounds, bench::ProxyDelayMs);
        std::printf("%-24s %-6s %-5s %-18s %9s %9s %9s\n", "case", "route", "", "tool", "seconds",
                    "slowest", "RTT/file");
        std::fflush(stdout);
        for (const bool tls : {false, true}) {
            if (!m_choice.protocol.isEmpty() && (m_choice.protocol == u"ftps") != tls)
                continue;
            Site site(tls, m_choice.logsDir);
            for (const Case& each : m_cases)
                for (const Route& route : site.routes())
                    if (chosen(m_choice.caseKey, each.key) && chosen(m_choice.route, route.key))
                        measure(site, each, route);
        }
        std::printf("\ngoals:\n%s", qPrintable(m_goals.join(QString())));
    }

private:
    static bool chosen(const QString& choice, const QString& key) {
        return choice.isEmpty() || choice == key;
    }

    void makeFiles() {
        m_cases = {makeCase(QStringLiteral("a"), "(a) 100 files of 10 KiB", 100, 10 * 1024),
                   makeCase(QStringLiteral("b"), "(b) 20 files of 5 MiB", 20, 5 << 20)};
    }

    Case makeCase(const QString& key, const char* name, int count, qint64 size) {
        Case made{key, name, m_files.filePath(key), {}};
        if (!QDir().mkpath(made.dir))
            fail("cannot make " + made.dir);
        for (int index = 0; index < count; ++index) {
            made.paths.append(QDir(made.dir).filePath(
                QStringLiteral("file%1.bin").arg(index, 3, 10, QLatin1Char('0'))));
            bench::writeRandomFile(made.paths.last(), size);
        }
        return made;
    }

    void measure(Site& site, const Case& each, const Route& route) {
        const QList<Site::Tool> tools = site.tools();
        QStringList failures(tools.size());
        QList<std::function<double()>> runs;
        for (qsizetype i = 0; i < tools.size(); ++i)
            runs.append([&, i] {
                return failures[i].isEmpty() ? tryTimed(site, tools[i], route, each, failures[i])
                                             : 0.0;
            });
        const QList<QList<double>> rounds = bench::secondsInTurns(runs, m_choice.rounds);
        QList<std::optional<double>> medians;
        for (qsizetype i = 0; i < tools.size(); ++i) {
            std::printf("%-24s %-6s %-5s %-18s", each.name, qPrintable(route.key), site.name(),
                        tools[i].name);
            if (!failures[i].isEmpty()) {
                std::printf(" failed: %s\n", qPrintable(failures[i].section(u'\n', 0, 0)));
                medians.append(std::nullopt);
                continue;
            }
            medians.append(bench::median(rounds[i]));
            std::printf(" %9.3f %9.3f", *medians[i],
                        *std::max_element(rounds[i].begin(), rounds[i].end()));
            if (route.delayed)
                std::printf(" %9.2f", bench::roundTripsPerFile(*medians[i], each.paths.size()));
            std::printf("\n");
        }
        printRatios(each, route, site.name(), medians);
        std::fflush(stdout);
    }

    void printRatios(const Case& each, const Route& route, const char* protocol,
                     const QList<std::optional<double>>& medians) {
        QStringList shown;
        for (const Ratio& ratio : Ratios) {
            if (ratio.under >= medians.size())
                continue;
            const std::optional<double> goal = goalOf(ratio, each, route);
            if (!medians[ratio.over] || !medians[ratio.under]) {
                shown.append(QStringLiteral("%1 -").arg(QLatin1String(ratio.name)));
                continue;
            }
            const double value = *medians[ratio.over] / *medians[ratio.under];
            QString text =
                QStringLiteral("%1 %2").arg(QLatin1String(ratio.name)).arg(value, 0, 'f', 2);
            if (goal) {
                const QString verdict = bench::goalVerdict(value, *goal);
                text += ' ' + verdict;
                m_goals.append(QStringLiteral("  %1 %2 %3: %4 %5\n")
                                   .arg(each.key, route.key, QLatin1String(protocol),
                                        text.section(' ', 0, 1), verdict));
            }
            shown.append(text);
        }
        std::printf("  %s\n", qPrintable(shown.join(QStringLiteral("   "))));
    }

    // The seconds of one timed run, or 0 with why it failed in failure; the whole story goes
    // to the error output.
    static double tryTimed(Site& site, const Site::Tool& tool, const Route& route, const Case& each,
                           QString& failure) {
        try {
            return site.timed(tool, route, each);
        } catch (const ToolFailure& error) {
            failure = QString::fromUtf8(error.what());
            std::fprintf(stderr, "%s %s through %s failed: %s\n", site.name(), tool.name,
                         qPrintable(route.key), error.what());
            return 0.0;
        }
    }

    const Choice m_choice;
    QTemporaryDir m_files;
    QList<Case> m_cases;
    QStringList m_goals;
};

// The value of option, which must be empty or one of allowed.
QString oneOf(const QCommandLineParser& parser, const QCommandLineOption& option,
              const QStringList& allowed) {
    const QString value = parser.value(option);
    if (!value.isEmpty() && !allowed.contains(value)) {
        std::fprintf(stderr, "bench_parallel_upload: --%s wants %s\n",
                     qPrintable(option.names().first()), qPrintable(allowed.join(u'|')));
        std::exit(2);
    }
    return value;
}

} // namespace

int main(int argc, char** argv) {
    // Over TLS 1.3, curl's data connections do not resume the session as vsftpd demands.
    const QTemporaryDir openssl;
    bench::limitToTls12(openssl);
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds to take the median of."),
                                          QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption caseOption(
        QStringLiteral("case"), QStringLiteral("Only case a (100 small files) or b (20 larger)."),
        QStringLiteral("a|b"));
    const QCommandLineOption protocolOption(QStringLiteral("protocol"),
                                            QStringLiteral("Only FTP or only FTPS."),
                                            QStringLiteral("ftp|ftps"));
    const QCommandLineOption routeOption(QStringLiteral("route"),
                                         QStringLiteral("Only directly or only through the proxy."),
                                         QStringLiteral("direct|proxy"));
    const QCommandLineOption logsOption(
        QStringLiteral("keep-logs"),
        QStringLiteral("Turn the program's log on and keep each run's last log.txt in dir."),
        QStringLiteral("dir"));
    parser.addOptions({roundsOption, caseOption, protocolOption, routeOption, logsOption});
    parser.process(application);
    Choice choice;
    choice.rounds = parser.value(roundsOption).toInt();
    if (choice.rounds < 1) {
        std::fprintf(stderr, "bench_parallel_upload: --rounds wants a whole number above 0\n");
        return 2;
    }
    choice.caseKey = oneOf(parser, caseOption, {QStringLiteral("a"), QStringLiteral("b")});
    choice.protocol =
        oneOf(parser, protocolOption, {QStringLiteral("ftp"), QStringLiteral("ftps")});
    choice.route = oneOf(parser, routeOption, {QStringLiteral("direct"), QStringLiteral("proxy")});
    if (parser.isSet(logsOption)) {
        choice.logsDir = QFileInfo(parser.value(logsOption)).absoluteFilePath();
        if (!QDir().mkpath(choice.logsDir)) {
            std::fprintf(stderr, "bench_parallel_upload: cannot make %s\n",
                         qPrintable(choice.logsDir));
            return 2;
        }
    }
    try {
        Bench bench(choice);
        bench.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_parallel_upload: %s\n", error.what());
        return 1;
    }
    return 0;
}
