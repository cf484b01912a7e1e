// The built quaddle-cli's --test-server against real FTP and SSH servers with a real web server
// over the same folder, judged by the server's folder and the web server's log.
#include "FtpServer.h"
#include "LocalServers.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"
#include "WebServer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

using namespace quaddle;
using namespace quaddle::test;

namespace {

enum class Kind { Pyftpdlib, Vsftpd, OpenSsh, Psftp };

// How the server entry and the web server differ from a right setup.
enum class Setup {
    Right,
    WrongRoot,    // the root folder is the one above the web server's
    WrongPattern, // the address pattern has a folder the web server does not know
    Refused,      // the web server may not read the folder
    Redirected,   // the address is redirected to the right one
    Parked        // the address pattern leads to a page the web server gives for every address
};

const QString WebRoot = QStringLiteral("public_html");

QString joined(const QString& folder, const QString& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// One server for uploads, with a folder public_html in the folder it writes into.
struct Site {
    std::unique_ptr<FtpServer> ftp;
    std::unique_ptr<SshServer> ssh;
    // The folder the server writes into, on disk and as the server names it.
    QString diskFolder;
    QString serverFolder;

    QString webFolder() const { return joined(diskFolder, WebRoot); }
};

// The names of the probe's files left in the folder.
QStringList probesIn(const QString& folder) {
    return QDir(folder).entryList({"quaddle-test-*"}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestServerTestE2E : public QObject {
    Q_OBJECT

private slots:
    void reportsEachStepAndCleansUp_data();
    void reportsEachStepAndCleansUp();
    void stopsAtTheStepThatFailed_data();
    void stopsAtTheStepThatFailed();
    void explainsWhatKeptTheAddressFromServing_data();
    void explainsWhatKeptTheAddressFromServing();
    void unknownServerIsUsageError();
};

void TestServerTestE2E::reportsEachStepAndCleansUp_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<int>>("statuses");
    const struct {
        const char* name;
        Kind kind;
    } kinds[] = {{"pyftpdlib", Kind::Pyftpdlib},
                 {"vsftpd", Kind::Vsftpd},
                 {"openssh", Kind::OpenSsh},
                 {"psftp", Kind::Psftp}};
    const struct {
        const char* name;
        Setup setup;
        int code;
        QList<int> statuses;
    } setups[] = {{"right", Setup::Right, 0, {200}},
                  {"wrong root", Setup::WrongRoot, 1, {404}},
                  {"wrong pattern", Setup::WrongPattern, 1, {404}},
                  {"refused", Setup::Refused, 1, {403}},
                  {"redirected", Setup::Redirected, 0, {301, 200}},
                  {"parked", Setup::Parked, 1, {200}}};
    for (const auto& kind : kinds)
        for (const auto& setup : setups)
            QTest::addRow("%s, %s", kind.name, setup.name)
                << kind.kind << setup.setup << setup.code << setup.statuses;
}

void TestServerTestE2E::reportsEachStepAndCleansUp() {
    QFETCH(Kind, kind);
    QFETCH(Setup, setup);
    QFETCH(int, code);
    QFETCH(QList<int>, statuses);

    Site site;
    ServerSetup entry;
    if (kind == Kind::Pyftpdlib || kind == Kind::Vsftpd) {
        site.ftp = std::make_unique<FtpServer>(kind == Kind::Vsftpd ? FtpServer::Kind::Vsftpd
                                                                    : FtpServer::Kind::Pyftpdlib);
        QUADDLE_REQUIRE_SERVER(*site.ftp);
        entry = setupFor(*site.ftp);
        site.diskFolder = QFileInfo(site.ftp->localPath("x")).path();
        site.serverFolder = site.ftp->uploadDir();
    } else {
        site.ssh = std::make_unique<SshServer>();
        QUADDLE_REQUIRE_SSH(*site.ssh);
        entry.type = "1";
        entry.sshClient = kind == Kind::Psftp ? SshClientPsftp : QString();
        entry.port = site.ssh->port();
        entry.user = site.ssh->user();
        entry.password = site.ssh->password();
        site.diskFolder = site.ssh->root();
        site.serverFolder = site.ssh->root();
    }
    // The web folder belongs to whoever the server writes as; Refused keeps others out of it.
    QVERIFY(QDir(site.diskFolder).mkdir(WebRoot));
    const QFileInfo owner(site.diskFolder);
    QCOMPARE(
        chown(QFile::encodeName(site.webFolder()).constData(), owner.ownerId(), owner.groupId()),
        0);
    QVERIFY(QFile::setPermissions(site.webFolder(),
                                  setup == Setup::Refused
                                      ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      : Mode0755));
    const WebServer web(site.webFolder());
    QUADDLE_REQUIRE_WEB_SERVER(web);

    const QString rightRoot = joined(site.serverFolder, WebRoot);
    entry.rootDir = setup == Setup::WrongRoot ? site.serverFolder : rightRoot;
    const QLatin1String prefix(setup == Setup::WrongPattern ? "/files"
                               : setup == Setup::Redirected ? "/moved"
                               : setup == Setup::Parked     ? "/parked"
                                                            : "");
    entry.urlMask = web.address() + prefix + "$dir$file";
    const TempProgramDir programDir;
    saveServerConfig(entry);
    const QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkpath(".putty"));
    QProcessEnvironment environment = programDir.environment();
    environment.insert("HOME", home.path());
    ProgramRun program(QUADDLE_CLI_PROGRAM, {"--test-server", ":0", "--accept-new"}, environment);
    QVERIFY(program.waitForExit(120000));
    const QString output = QString::fromUtf8(program.standardOutput());
    const QString errors = QString::fromUtf8(program.errorOutput());
    const QString context = output + errors;
    QVERIFY2(program.exitCode() == code, qPrintable(context));

    // The web server's log: the probe was asked for, and answered as the setup makes it.
    const QStringList requests = web.requests();
    QVERIFY2(requests.size() == statuses.size(), qPrintable(requests.join('\n')));
    for (qsizetype index = 0; index < requests.size(); ++index) {
        QVERIFY2(requests[index].contains("/quaddle-test-"), qPrintable(requests[index]));
        QVERIFY2(requests[index].endsWith(' ' + QString::number(statuses[index])),
                 qPrintable(requests[index]));
    }
    // Nothing of the probe is left on the server, whatever failed.
    QVERIFY(QFile::setPermissions(site.webFolder(), Mode0755));
    QCOMPARE(probesIn(site.diskFolder), QStringList());
    QCOMPARE(probesIn(site.webFolder()), QStringList());

    for (const QString& step : QStringList{"Reached the server", "Logged in", "Can write"})
        QVERIFY2(output.contains("[ OK ] " + step), qPrintable(context));
    QCOMPARE(output.contains("[ OK ] The address serves the file"), code == 0);
    QCOMPARE(output.contains("[FAIL] The address serves the file"), code != 0);
    const QString sentTo = joined(entry.rootDir, "quaddle-test-");
    const QString tried = entry.urlMask.chopped(QString("$dir$file").size()) + "/quaddle-test-";
    const bool notFound = statuses.last() == 404;
    QCOMPARE(output.contains("(404)"), notFound);
    QVERIFY2(!notFound || (output.contains(sentTo) && output.contains(tried)), qPrintable(output));
    // A web root is suggested only where the server's folders show one.
    QCOMPARE(output.contains(QStringLiteral("The server has a folder \"%1\"").arg(rightRoot)),
             setup == Setup::WrongRoot);
    QCOMPARE(output.contains("\"Permissions\""), setup == Setup::Refused);
    QCOMPARE(output.contains("The address leads to another file than the one sent to \"" + sentTo),
             setup == Setup::Parked);
}

// Where the probe is not even sent, or is refused.
enum class Fault { ClosedPort, WrongPassword, UnwritableFolder };

void TestServerTestE2E::stopsAtTheStepThatFailed_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("lines");
    QTest::newRow("closed port") << Fault::ClosedPort << 3
                                 << "[FAIL] Reached the server\n[ -- ] Logged in: not tried\n"
                                    "[ -- ] Can write: not tried\n"
                                    "[ -- ] The address serves the file: not tried";
    QTest::newRow("wrong password") << Fault::WrongPassword << 3
                                    << "[ OK ] Reached the server\n[FAIL] Logged in\n"
                                       "[ -- ] Can write: not tried\n"
                                       "[ -- ] The address serves the file: not tried";
    QTest::newRow("unwritable folder") << Fault::UnwritableFolder << 1
                                       << "[ OK ] Reached the server\n[ OK ] Logged in\n"
                                          "[FAIL] Can write\n"
                                          "[ -- ] The address serves the file: not tried";
}

void TestServerTestE2E::stopsAtTheStepThatFailed() {
    QFETCH(Fault, fault);
    QFETCH(int, code);
    QFETCH(QString, lines);
    // vsftpd's anonymous users may not write into the folder they log in to.
    FtpServer ftp(fault == Fault::UnwritableFolder ? FtpServer::Kind::Vsftpd
                                                   : FtpServer::Kind::Pyftpdlib);
    QUADDLE_REQUIRE_SERVER(ftp);
    ServerSetup entry = setupFor(ftp);
    if (fault == Fault::WrongPassword)
        entry.password = "wrong";
    if (fault == Fault::ClosedPort)
        entry.port = freePort();
    const TempProgramDir programDir;
    saveServerConfig(entry);
    ProgramRun program(QUADDLE_CLI_PROGRAM, {"--test-server", ":0"}, programDir.environment());
    QVERIFY(program.waitForExit(60000));
    const QString output = QString::fromUtf8(program.standardOutput());
    QVERIFY2(program.exitCode() == code,
             qPrintable(output + QString::fromUtf8(program.errorOutput())));
    QStringList shown;
    // Each step's first line, without what it says beyond whether it was tried.
    for (const QString& line : output.split('\n'))
        if (!line.startsWith(' '))
            shown.append(line.endsWith(": not tried") ? line : line.section(':', 0, 0));
    QVERIFY2(shown.join('\n').startsWith(lines), qPrintable(output));
    const QString loginFolder = QFileInfo(ftp.localPath("x")).path() + "/..";
    QCOMPARE(probesIn(QFileInfo(ftp.localPath("x")).path()), QStringList());
    QCOMPARE(probesIn(loginFolder), QStringList());
}

void TestServerTestE2E::explainsWhatKeptTheAddressFromServing_data() {
    QTest::addColumn<bool>("webServerUp");
    QTest::addColumn<QString>("advice");
    QTest::newRow("no web server") << false
                                   << "is the web server running, and are the host and port in "
                                      "the address pattern right?";
    QTest::newRow("self-signed certificate")
        << true << "The address's host \"127.0.0.1\" could not prove itself over HTTPS";
}

void TestServerTestE2E::explainsWhatKeptTheAddressFromServing() {
    QFETCH(bool, webServerUp);
    QFETCH(QString, advice);
    FtpServer ftp;
    QUADDLE_REQUIRE_SERVER(ftp);
    const QString folder = QFileInfo(ftp.localPath("x")).path();
    std::unique_ptr<WebServer> web;
    QString address = QStringLiteral("http://127.0.0.1:%1").arg(freePort());
    if (webServerUp) {
        web = std::make_unique<WebServer>(folder, WebServer::Scheme::SelfSigned);
        QUADDLE_REQUIRE_WEB_SERVER(*web);
        address = web->address();
    }
    ServerSetup entry = setupFor(ftp);
    entry.urlMask = address + "$dir$file";
    const TempProgramDir programDir;
    saveServerConfig(entry);
    ProgramRun program(QUADDLE_CLI_PROGRAM, {"--test-server", ":0"}, programDir.environment());
    QVERIFY(program.waitForExit(60000));
    const QString output = QString::fromUtf8(program.standardOutput());
    QCOMPARE(program.exitCode(), 1);
    QVERIFY2(output.contains("[ OK ] Can write"), qPrintable(output));
    QVERIFY2(output.contains("[FAIL] The address serves the file"), qPrintable(output));
    QVERIFY2(output.contains(advice), qPrintable(output));
    QCOMPARE(probesIn(folder), QStringList());
}

void TestServerTestE2E::unknownServerIsUsageError() {
    const TempProgramDir programDir;
    saveServerConfig(ServerSetup{});
    for (const QStringList& arguments :
         {QStringList{"--test-server", ":7"}, QStringList{"--test-server=0"},
          QStringList{"--test-server", ":0", "a.txt"}}) {
        ProgramRun program(QUADDLE_CLI_PROGRAM, arguments, programDir.environment());
        QVERIFY(program.waitForExit(30000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(program.standardOutput().isEmpty());
        QVERIFY(!program.errorOutput().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestServerTestE2E)
#include "TestServerTestE2E.moc"
