// The window and other programs on one program directory: what one saves, the others see and
// keep.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramFixture.h"
#include "ProgramRun.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "config/Config.h"
#include "configwindow/ConfigWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace quaddle;
using namespace quaddle::test;

namespace {

void typeInto(const QWidget& window, const char* edit, const QString& text) {
    auto* field = control<QLineEdit>(window, edit);
    field->clear();
    QTest::keyClicks(field, text);
}

// A quaddle-cli run on the test's program directory; its exit status, -1 when it did not end.
int runCli(const QStringList& arguments, const TempProgramDir& programDir, QByteArray& error) {
    ProgramRun program(QStringLiteral(QUADDLE_CLI_PROGRAM), arguments, programDir.environment());
    if (!program.waitForExit(60000) || program.exitStatus() != QProcess::NormalExit)
        return -1;
    error = program.errorOutput();
    return program.exitCode();
}

// The servers config.xml holds, by name, and the certificate each trusts, as a program that
// starts now reads them.
QStringList storedServers() {
    Config config;
    config.loadConfig(true);
    QStringList servers;
    for (qint32 index = 0; index < config.servers.size(); ++index)
        if (config.serverExists(index))
            servers.append(
                (config.serverNames.value(index) + ' ' + config.servers[index].trustedCert)
                    .trimmed());
    return servers;
}

} // namespace

class TestConfigSharing : public QObject, ProgramFixture {
    Q_OBJECT

private slots:
    void init() { startTest(); }
    void cleanup() { finishTest(); }

    void serverSavedInTheWindowServesTheCommandLineAtOnce();
    void optionChangedInTheWindowServesTheCommandLineAtOnce();
    void closingWindowKeepsWhatOtherProgramsSaved();
    void windowSavesOntoWhatOtherProgramsSaved();
    void numbersBesideTheServersAreWhatTheCommandLineSelects();

private:
    // Fills the server manager's fields with the server's login and saves them.
    void saveServerInManager(const ConfigWindow& manager, const FtpServer& server);
    // "Secure", logging in to the FTPS server, its certificate not yet trusted.
    void saveSecureServer(const FtpServer& tls);
    // A command-line run trusts the FTPS server's certificate as it uploads, and another
    // program adds the server "Other". Says what went wrong, if anything.
    QString othersSaveWhileWindowIsOpen(const FtpServer& tls);

    QTemporaryDir m_local;
};

void TestConfigSharing::saveServerInManager(const ConfigWindow& manager, const FtpServer& server) {
    typeInto(manager, "hostEdit", server.host());
    typeInto(manager, "portEdit", QString::number(server.port()));
    typeInto(manager, "userEdit", server.user());
    typeInto(manager, "passwordEdit", server.password());
    m_dialogs->expectUnencryptedPassword(false, true);
    control<QPushButton>(manager, "saveServerButton")->click();
}

void TestConfigSharing::saveSecureServer(const FtpServer& tls) {
    ServerSetup setup = setupFor(tls);
    setup.name = "Secure";
    setup.type = QString::number(int(ServerType::Ftps));
    saveServerConfig(setup);
}

void TestConfigSharing::serverSavedInTheWindowServesTheCommandLineAtOnce() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString file = localFile(m_local, "shared.txt", "saved at once");
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    m_dialogs->expectMessage("No server is set up yet. Add one now?", MessageAnswer::Yes);
    QTest::mouseClick(control<QLabel>(form, "serverLabel"), Qt::LeftButton);
    auto* manager = form.findChild<ConfigWindow*>();
    QVERIFY(manager);
    saveServerInManager(*manager, server);

    // The window is still open.
    QByteArray error;
    QCOMPARE(runCli({":0", file}, *m_programDir, error), 0);
    QCOMPARE(readFile(server.localPath("shared.txt")), QByteArray("saved at once"));
    manager->close();
    form.close();
}

void TestConfigSharing::optionChangedInTheWindowServesTheCommandLineAtOnce() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    saveServerConfig(setupFor(server));
    const QString file = localFile(m_local, "logged.txt", "with its traffic logged");
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.openOptions();
    auto* options = form.findChild<ConfigWindow*>();
    QVERIFY(options);
    QTest::mouseClick(control<QCheckBox>(*options, "settingLog"), Qt::LeftButton);

    // The window is still open; the run logs the server's traffic as the option asks.
    QByteArray error;
    QVERIFY2(runCli({":0", file}, *m_programDir, error) == 0, error.constData());
    QCOMPARE(readFile(server.localPath("logged.txt")), QByteArray("with its traffic logged"));
    QVERIFY(m_programDir->readFile("log.txt").contains("--> USER " + server.user().toUtf8()));
    options->close();
    form.close();
}

QString TestConfigSharing::othersSaveWhileWindowIsOpen(const FtpServer& tls) {
    const QString file = localFile(m_local, "secure.txt", "over TLS");
    QByteArray error;
    if (runCli({"--accept-new", ":0", file}, *m_programDir, error) != 0)
        return QString::fromUtf8(error);
    if (readFile(tls.localPath("secure.txt")) != "over TLS")
        return QStringLiteral("the file did not arrive");
    Config other;
    other.loadConfig(true);
    const qint32 index = other.storeServer("other.example", "", "", "", "", "", "", "", -1, -1);
    other.serverNames[index] = "Other";
    other.saveConfig();
    return QString();
}

void TestConfigSharing::closingWindowKeepsWhatOtherProgramsSaved() {
    FtpServer tls(FtpServer::Kind::PyftpdlibTls);
    QUADDLE_REQUIRE_SERVER(tls);
    saveSecureServer(tls);
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString problem = othersSaveWhileWindowIsOpen(tls);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QStringList saved{"Secure " + tls.certificateFingerprint(), "Other"};
    QCOMPARE(storedServers(), saved);

    form.close();
    QCOMPARE(storedServers(), saved);
}

void TestConfigSharing::windowSavesOntoWhatOtherProgramsSaved() {
    FtpServer tls(FtpServer::Kind::PyftpdlibTls);
    QUADDLE_REQUIRE_SERVER(tls);
    FtpServer plain;
    QUADDLE_REQUIRE_SERVER(plain);
    saveSecureServer(tls);
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString problem = othersSaveWhileWindowIsOpen(tls);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    form.openServerManager();
    auto* manager = form.findChild<ConfigWindow*>();
    QVERIFY(manager);
    control<QPushButton>(*manager, "newServerButton")->click();
    saveServerInManager(*manager, plain);
    const QStringList all{"Secure " + tls.certificateFingerprint(), "New Server", "Other"};
    QCOMPARE(storedServers(), all);
    // The window shows what the others saved.
    QVERIFY(form.config().serverNames.contains("Other"));
    manager->close();
    form.close();
    QCOMPARE(storedServers(), all);
}

// Servers "Zulu" (0), a deleted one, and "Alpha" with a folder behind a deleted one, each
// uploading into a folder of its own on one FTP server.
void TestConfigSharing::numbersBesideTheServersAreWhatTheCommandLineSelects() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const auto remote = [&server](const QString& dir) {
        // Made here, so the upload asks nothing; a folder missing fails the upload.
        QDir().mkpath(server.localPath(dir));
        return QDir::cleanPath(server.uploadDir() + '/' + dir);
    };
    Config config;
    for (const QString& dir : QStringList{"zulu", "gone", "alpha"})
        config.storeServer(server.host(), QString::number(server.port()), server.user(),
                           server.password(), QString(), remote(dir), QString(), "0", -1, -1);
    config.serverNames = QStringList{"Zulu", "Gone", "Alpha"};
    config.setFolder(-1, 2, remote("alpha/old"));
    config.setFolder(-1, 2, remote("alpha/sub"));
    config.deleteFolder(0, 2);
    config.deleteServer(1);
    config.saveConfig();

    ConfigWindowHost host;
    host.refreshServerDisplay = [] {};
    host.showMain = [] {};
    ConfigWindow manager(config, host);
    manager.show();
    manager.choosePage(ConfigWindow::ServerManagement);
    auto* tree = control<QTreeWidget>(manager, "serverTree");
    // Where the file sent with each node's number must land.
    const QList<std::pair<QString, QString>> nodes{
        {"Zulu", "zulu"}, {"Alpha", "alpha"}, {remote("alpha/sub"), "alpha/sub"}};
    for (const auto& [name, dir] : nodes) {
        const QList<QTreeWidgetItem*> found =
            tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY2(found.size() == 1, qPrintable(name));
        const QString selector = found.first()->text(1);
        const QString fileName = QString(name).remove('/') + ".txt";
        const QString file = localFile(m_local, fileName, name.toUtf8());
        QByteArray error;
        QVERIFY2(runCli({selector, file}, *m_programDir, error) == 0, error.constData());
        QVERIFY2(QFileInfo::exists(server.localPath(dir + '/' + fileName)),
                 qPrintable(name + " as " + selector));
    }
}

QTEST_MAIN(TestConfigSharing)
#include "TestConfigSharing.moc"
