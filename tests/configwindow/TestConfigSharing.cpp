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

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

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
    void windowKeepsWhatOtherProgramsSaved();

private:
    // Fills the server manager's fields with the server's login and saves them.
    void saveServerInManager(const ConfigWindow& manager, const FtpServer& server);

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

void TestConfigSharing::windowKeepsWhatOtherProgramsSaved() {
    FtpServer tls(FtpServer::Kind::PyftpdlibTls);
    QUADDLE_REQUIRE_SERVER(tls);
    FtpServer plain;
    QUADDLE_REQUIRE_SERVER(plain);
    ServerSetup setup = setupFor(tls);
    setup.name = "Secure";
    setup.type = QString::number(int(ServerType::Ftps));
    saveServerConfig(setup);
    const QString file = localFile(m_local, "secure.txt", "over TLS");

    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // While the window is open, a command-line run trusts the server's certificate, and
    // another program adds a server.
    QByteArray error;
    QVERIFY2(runCli({"--accept-new", ":0", file}, *m_programDir, error) == 0, error.constData());
    QCOMPARE(readFile(tls.localPath("secure.txt")), QByteArray("over TLS"));
    const QString certificate = "Secure " + tls.certificateFingerprint();
    QCOMPARE(storedServers(), QStringList{certificate});
    {
        Config other;
        other.loadConfig(true);
        const qint32 index = other.storeServer("other.example", "", "", "", "", "", "", "", -1, -1);
        other.serverNames[index] = "Other";
        other.saveConfig();
    }

    // The window saves a server of its own, then closes.
    form.openServerManager();
    auto* manager = form.findChild<ConfigWindow*>();
    QVERIFY(manager);
    control<QPushButton>(*manager, "newServerButton")->click();
    saveServerInManager(*manager, plain);
    const QStringList all{certificate, "New Server", "Other"};
    QCOMPARE(storedServers(), all);
    QCOMPARE(form.config().serverNames.size(), 3);
    manager->close();
    form.close();
    QCOMPARE(storedServers(), all);
}

QTEST_MAIN(TestConfigSharing)
#include "TestConfigSharing.moc"
