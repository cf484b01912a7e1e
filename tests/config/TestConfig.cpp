#include "TempProgramDir.h"
#include "config/Config.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QTest>
#include <memory>

using namespace quaddle;

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void init() { ProgramDir = std::make_unique<test::TTempProgramDir>(); }
    void cleanup() { ProgramDir.reset(); }

    void defaults_data();
    void defaults();
    void defaultsAreWrittenInOrder();
    void namesMatchIgnoringCaseAndTakeNewSpelling();
    void emptyTextRemovesValueAndLaterValueMovesToEnd();
    void nullValueOnlyRecordsTheType();
    void typedValuesBecomeTheirTexts();
    void convertsSettingsForCallers();

    void storeServerAppliesDefaults();
    void storeServerGrowsParallelArrays();
    void storeServerKeepsNameAndFoldersOfReplacedServer();
    void deleteServerBlanksWithoutShrinking();
    void currentServerOutsideRangeIsEmpty_data();
    void currentServerOutsideRangeIsEmpty();
    void foldersAreSetAppendedAndBlanked();

    void lockedCredentialsOfLaterServersAreProtected();
    void unlockedOrLastServersChangeFreely();

    void programDirFromStore_data();
    void programDirFromStore();

private:
    std::unique_ptr<test::TTempProgramDir> ProgramDir;
};

void TestConfig::defaults_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("type");
    QTest::newRow("DefaultServer") << "DefaultServer"
                                   << "0" << 3;
    QTest::newRow("Overwrite") << "Overwrite"
                               << "0" << 3;
    QTest::newRow("Passive") << "Passive"
                             << "True" << 11;
    QTest::newRow("Log") << "Log"
                         << "False" << 11;
    QTest::newRow("ThumbWidth") << "ThumbWidth"
                                << "300" << 3;
    QTest::newRow("ThumbHeight") << "ThumbHeight"
                                 << "200" << 3;
    QTest::newRow("ThumbInfo") << "ThumbInfo"
                               << "True" << 11;
    QTest::newRow("ThumbRahmen") << "ThumbRahmen"
                                 << "True" << 11;
    QTest::newRow("Autoclose") << "Autoclose"
                               << "False" << 11;
    QTest::newRow("Context") << "Context"
                             << "False" << 11;
}

void TestConfig::defaults() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(int, type);
    const TCfg cfg;
    QCOMPARE(cfg.GetSetting(name), value);
    QCOMPARE(int(cfg.GetSettingType(name).value()), type);
}

void TestConfig::defaultsAreWrittenInOrder() {
    const TCfg cfg;
    QCOMPARE(cfg.SettingNames(),
             (QStringList{"DefaultServer", "Overwrite", "Passive", "Log", "ThumbWidth",
                          "ThumbHeight", "ThumbInfo", "ThumbRahmen", "Autoclose", "Context"}));
    QCOMPARE(cfg.GetSetting("PH"), QString());
    QVERIFY(!cfg.GetSettingType("PH").has_value());
    QCOMPARE(cfg.CurrentServer, 0);
    QCOMPARE(cfg.ConfigAge, 0);
    QVERIFY(cfg.Servers.isEmpty());
}

void TestConfig::namesMatchIgnoringCaseAndTakeNewSpelling() {
    TCfg cfg;
    QCOMPARE(cfg.GetSetting("passive"), QStringLiteral("True"));
    QCOMPARE(cfg.GetSetting("PASSIVE"), QStringLiteral("True"));

    cfg.SetSetting("passive", TSettingValue::Boolean(false));
    QCOMPARE(cfg.GetSetting("Passive"), QStringLiteral("False"));
    const QStringList names = cfg.SettingNames();
    QCOMPARE(names.size(), 10);
    QCOMPARE(names.at(2), QStringLiteral("passive"));
}

void TestConfig::emptyTextRemovesValueAndLaterValueMovesToEnd() {
    TCfg cfg;
    cfg.SetSetting("Log", TSettingValue::Text(QString()));
    QCOMPARE(cfg.GetSetting("Log"), QString());
    QVERIFY(!cfg.SettingNames().contains("Log"));
    QCOMPARE(cfg.GetSettingType("Log"), TSettingType::Text);

    cfg.SetSetting("log", TSettingValue::Boolean(true));
    QCOMPARE(cfg.SettingNames().last(), QStringLiteral("log"));
    QCOMPARE(cfg.GetSetting("Log"), QStringLiteral("True"));
    QCOMPARE(cfg.GetSettingType("LOG"), TSettingType::Boolean);
}

void TestConfig::nullValueOnlyRecordsTheType() {
    TCfg cfg;
    cfg.SetSetting("ThumbWidth", TSettingValue::Null());
    QCOMPARE(cfg.GetSetting("ThumbWidth"), QStringLiteral("300"));
    QCOMPARE(cfg.GetSettingType("ThumbWidth"), TSettingType::Text);

    cfg.SetSetting("Extra", TSettingValue::Null());
    QVERIFY(!cfg.SettingNames().contains("Extra"));
    QCOMPARE(cfg.GetSettingType("Extra"), TSettingType::Text);
}

void TestConfig::typedValuesBecomeTheirTexts() {
    TCfg cfg;
    cfg.SetSetting("I", TSettingValue::Integer(-42));
    cfg.SetSetting("D", TSettingValue::Double(2.5));
    cfg.SetSetting("B", TSettingValue::Byte(255));
    cfg.SetSetting("W", TSettingValue::WideText("wide"));
    cfg.SetSetting("T", TSettingValue::Text("narrow"));
    QCOMPARE(cfg.GetSetting("I"), QStringLiteral("-42"));
    QCOMPARE(cfg.GetSetting("D"), QStringLiteral("2.5"));
    QCOMPARE(cfg.GetSetting("B"), QStringLiteral("255"));
    QCOMPARE(cfg.GetSetting("W"), QStringLiteral("wide"));
    QCOMPARE(cfg.GetSettingType("I"), TSettingType::Integer);
    QCOMPARE(cfg.GetSettingType("D"), TSettingType::Double);
    QCOMPARE(cfg.GetSettingType("B"), TSettingType::Byte);
    QCOMPARE(cfg.GetSettingType("W"), TSettingType::WideText);
    QCOMPARE(cfg.GetSettingType("T"), TSettingType::Text);
}

void TestConfig::convertsSettingsForCallers() {
    TCfg cfg;
    QCOMPARE(cfg.GetIntSetting("ThumbWidth"), 300);
    QVERIFY(cfg.GetBoolSetting("Passive"));
    QVERIFY(!cfg.GetBoolSetting("Autoclose"));
    cfg.SetSetting("ThumbWidth", TSettingValue::Text("wide"));
    QCOMPARE(cfg.GetIntSetting("ThumbWidth", 7), 7);
    QVERIFY(!cfg.GetBoolSetting("Missing"));
}

void TestConfig::storeServerAppliesDefaults() {
    TCfg cfg;
    const qint32 index = cfg.StoreServer({}, {}, {}, {}, {}, {}, {}, {}, -1, -1);
    QCOMPARE(index, 0);
    const TServer& server = cfg.Servers.at(0);
    QCOMPARE(server[Hostname], QString());
    QCOMPARE(server[Port], QStringLiteral("21"));
    QCOMPARE(server[Type], QStringLiteral("0"));
    QCOMPARE(server[URLMask], QStringLiteral("http://$host$dir$file"));
    QCOMPARE(server[CredentialIndex], QStringLiteral("-1"));
    QCOMPARE(cfg.ServerNames, QStringList{"New Server"});
    QVERIFY(cfg.GetFolders(0).isEmpty());
    QVERIFY(!cfg.ServerExists(0));

    cfg.StoreServer("h", "22", "u", "p", "/r", "/d", "http://%$dom%%$dir%%$file%", "1", -1, 3);
    QCOMPARE(cfg.Servers.at(1)[URLMask], QStringLiteral("http://$host$dir$file"));
    QCOMPARE(cfg.Servers.at(1)[Port], QStringLiteral("22"));
    QCOMPARE(cfg.Servers.at(1)[Type], QStringLiteral("1"));
    QCOMPARE(cfg.Servers.at(1)[CredentialIndex], QStringLiteral("3"));
    QVERIFY(cfg.ServerExists(1));

    cfg.StoreServer("h", "", "", "", "", "", "ftp://$host/x$file", "", -1, -1);
    QCOMPARE(cfg.Servers.at(2)[URLMask], QStringLiteral("ftp://$host/x$file"));
}

void TestConfig::storeServerGrowsParallelArrays() {
    TCfg cfg;
    QCOMPARE(cfg.StoreServer("far", "", "", "", "", "", "", "", 3, -1), 3);
    QCOMPARE(cfg.Servers.size(), 4);
    QCOMPARE(cfg.ServerFolders.size(), 4);
    QCOMPARE(cfg.ServerNames.size(), 4);
    QCOMPARE(cfg.ServerNames.at(3), QStringLiteral("New Server"));
    for (qint32 padding = 0; padding < 3; ++padding) {
        QVERIFY(!cfg.ServerExists(padding));
        QCOMPARE(cfg.ServerNames.at(padding), QString());
    }
    QVERIFY(cfg.ServerExists(3));
    QCOMPARE(cfg.StoreServer("next", "", "", "", "", "", "", "", -1, -1), 4);
}

void TestConfig::storeServerKeepsNameAndFoldersOfReplacedServer() {
    TCfg cfg;
    cfg.StoreServer("old", "", "", "", "", "", "", "", -1, -1);
    cfg.ServerNames[0] = "My site";
    cfg.SetFolder(-1, 0, "/pics");
    QCOMPARE(cfg.StoreServer("new", "2121", "", "", "", "", "", "", 0, -1), 0);
    QCOMPARE(cfg.Servers.size(), 1);
    QCOMPARE(cfg.Servers.at(0)[Hostname], QStringLiteral("new"));
    QCOMPARE(cfg.ServerNames, QStringList{"My site"});
    QCOMPARE(cfg.GetFolders(0), QStringList{"/pics"});
}

void TestConfig::deleteServerBlanksWithoutShrinking() {
    TCfg cfg;
    cfg.StoreServer("a", "", "user", "", "/root", "", "", "", -1, -1);
    cfg.StoreServer("b", "", "", "", "", "", "", "", -1, -1);
    cfg.SetFolder(-1, 0, "/up");
    cfg.DeleteServer(0);
    QVERIFY(!cfg.ServerExists(0));
    QVERIFY(cfg.ServerExists(1));
    QCOMPARE(cfg.Servers.size(), 2);
    QCOMPARE(cfg.ServerNames.size(), 2);
    QCOMPARE(cfg.ServerNames.at(0), QString());
    QCOMPARE(cfg.Servers.at(0)[Username], QStringLiteral("user"));
    QCOMPARE(cfg.Servers.at(0)[RootDir], QStringLiteral("/root"));
    QCOMPARE(cfg.GetFolders(0), QStringList{"/up"});

    cfg.DeleteServer(5);
    cfg.DeleteServer(-1);
    QCOMPARE(cfg.Servers.size(), 2);
    QVERIFY(cfg.ServerExists(1));
}

void TestConfig::currentServerOutsideRangeIsEmpty_data() {
    QTest::addColumn<qint32>("current");
    QTest::addColumn<QString>("hostname");
    QTest::newRow("negative") << -1 << QString();
    QTest::newRow("first") << 0 << QStringLiteral("a");
    QTest::newRow("last") << 1 << QStringLiteral("b");
    QTest::newRow("one beyond") << 2 << QString();
}

void TestConfig::currentServerOutsideRangeIsEmpty() {
    QFETCH(qint32, current);
    QFETCH(QString, hostname);
    TCfg cfg;
    cfg.StoreServer("a", "", "", "", "", "", "", "", -1, -1);
    cfg.StoreServer("b", "", "", "", "", "", "", "", -1, -1);
    cfg.CurrentServer = current;
    const TServer server = cfg.GetCurrentServer();
    QCOMPARE(server[Hostname], hostname);
    if (hostname.isEmpty())
        QCOMPARE(server[Port], QString());
}

void TestConfig::foldersAreSetAppendedAndBlanked() {
    TCfg cfg;
    cfg.StoreServer("a", "", "", "", "", "", "", "", -1, -1);
    cfg.SetFolder(0, 0, "/first");
    cfg.SetFolder(7, 0, "/second");
    cfg.SetFolder(0, 0, "/renamed");
    QCOMPARE(cfg.GetFolders(0), (QStringList{"/renamed", "/second"}));
    cfg.DeleteFolder(0, 0);
    QCOMPARE(cfg.GetFolders(0), (QStringList{QString(), "/second"}));

    cfg.SetFolder(0, 1, "/nowhere");
    cfg.DeleteFolder(0, 1);
    QVERIFY(cfg.GetFolders(1).isEmpty());
    QVERIFY(cfg.GetFolders(-1).isEmpty());
    QCOMPARE(cfg.ServerFolders.size(), 1);
}

namespace {

// Three servers whose ciphertexts are held because the master password was not entered;
// the middle one has none.
void LockWithHeldCredentials(TCfg& cfg) {
    cfg.CredentialsLocked = true;
    cfg.LockedCredentials = {{"AAAA", "BBBB"}, {"", ""}, {"CCCC", ""}};
    for (qint32 i = 0; i < 3; ++i)
        cfg.StoreServer(QStringLiteral("host%1").arg(i), "", "", "", "", "", "", "", -1, i);
}

} // namespace

void TestConfig::lockedCredentialsOfLaterServersAreProtected() {
    TCfg cfg;
    LockWithHeldCredentials(cfg);
    const TServers before = cfg.Servers;

    QVERIFY_THROWS_EXCEPTION(TError, cfg.DeleteServer(0));
    QVERIFY_THROWS_EXCEPTION(TError, cfg.StoreServer("host0", "", "", "", "", "", "", "", 0, -1));
    QVERIFY_THROWS_EXCEPTION(TError,
                             cfg.StoreServer("host0", "", "typed", "", "", "", "", "", 0, 0));
    QCOMPARE(cfg.Servers, before);
    QCOMPARE(cfg.ServerNames.at(0), QStringLiteral("New Server"));

    // Keeping the held ciphertexts in place is fine.
    cfg.StoreServer("renamed", "2121", "", "", "/r", "", "", "", 0, 0);
    QCOMPARE(cfg.Servers.at(0)[Hostname], QStringLiteral("renamed"));
    // A server without held ciphertexts changes freely.
    cfg.StoreServer("host1", "", "user", "pw", "", "", "", "", 1, -1);
    cfg.DeleteServer(1);
    QVERIFY(!cfg.ServerExists(1));
}

void TestConfig::unlockedOrLastServersChangeFreely() {
    TCfg locked;
    LockWithHeldCredentials(locked);
    locked.DeleteServer(2);
    QVERIFY(!locked.ServerExists(2));
    // With the last holder gone, the first one no longer has anything after it to spoil.
    locked.DeleteServer(0);
    QVERIFY(!locked.ServerExists(0));

    TCfg unlocked;
    LockWithHeldCredentials(unlocked);
    unlocked.CredentialsLocked = false;
    unlocked.DeleteServer(0);
    QVERIFY(!unlocked.ServerExists(0));
}

void TestConfig::programDirFromStore_data() {
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    const QString programFolder = QCoreApplication::applicationDirPath() + "/";
    QTest::newRow("absent") << false << QString() << QString();
    QTest::newRow("empty") << true << QString() << programFolder;
    QTest::newRow("folder") << true << "/opt/quaddle"
                            << "/opt/quaddle/";
    QTest::newRow("folder with slash") << true << "/opt/quaddle/"
                                       << "/opt/quaddle/";
}

void TestConfig::programDirFromStore() {
    QFETCH(bool, present);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    ProgramDir->SetStoredProgramDir(present ? std::optional<QString>(stored) : std::nullopt);
    QCOMPARE(TCfg().ProgramDir, expected);
}

QTEST_GUILESS_MAIN(TestConfig)
#include "TestConfig.moc"
