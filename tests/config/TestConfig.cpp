#include "TempProgramDir.h"
#include "config/Config.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using namespace quaddle;

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path())); }
    void init() { m_programDir = std::make_unique<test::TempProgramDir>(); }
    void cleanup() { m_programDir.reset(); }

    void defaults_data();
    void defaults();
    void defaultsAreWrittenInOrder();
    void namesMatchIgnoringCaseAndTakeNewSpelling();
    void emptyTextRemovesValueAndLaterValueMovesToEnd();
    void nullValueOnlyRecordsTheType();
    void typedValuesBecomeTheirTexts();
    void convertsSettingsForCallers();
    void integerSettingThatIsNoNumberReadsAsDefault_data();
    void integerSettingThatIsNoNumberReadsAsDefault();

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
    QTemporaryDir m_dataHome;
    std::unique_ptr<test::TempProgramDir> m_programDir;
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
    QTest::newRow("TagStyle") << "TagStyle"
                              << "0" << 3;
    QTest::newRow("AutoCopy") << "AutoCopy"
                              << "False" << 11;
    QTest::newRow("TempNames") << "TempNames"
                               << "False" << 11;
    QTest::newRow("Connections") << "Connections"
                                 << "3" << 3;
    QTest::newRow("History") << "History"
                             << "True" << 11;
}

void TestConfig::defaults() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(int, type);
    const Config config;
    QCOMPARE(config.setting(name), value);
    QCOMPARE(int(config.settingType(name).value()), type);
}

void TestConfig::defaultsAreWrittenInOrder() {
    const Config config;
    QCOMPARE(config.settingNames(),
             (QStringList{"DefaultServer", "Overwrite", "Passive", "Log", "ThumbWidth",
                          "ThumbHeight", "ThumbInfo", "ThumbRahmen", "Autoclose", "Context",
                          "TagStyle", "AutoCopy", "TempNames", "Connections", "History", "Notify",
                          "StripMetadata", "MakeThumbnails"}));
    QCOMPARE(config.setting("PH"), QString());
    QVERIFY(!config.settingType("PH").has_value());
    QCOMPARE(config.currentServer, 0);
    QCOMPARE(config.configAge, 0);
    QVERIFY(config.servers.isEmpty());
}

void TestConfig::namesMatchIgnoringCaseAndTakeNewSpelling() {
    Config config;
    QCOMPARE(config.setting("passive"), QStringLiteral("True"));
    QCOMPARE(config.setting("PASSIVE"), QStringLiteral("True"));

    config.setSetting("passive", SettingValue::boolean(false));
    QCOMPARE(config.setting("Passive"), QStringLiteral("False"));
    const QStringList names = config.settingNames();
    QCOMPARE(names.size(), Config().settingNames().size());
    QCOMPARE(names.at(2), QStringLiteral("passive"));
}

void TestConfig::emptyTextRemovesValueAndLaterValueMovesToEnd() {
    Config config;
    config.setSetting("Log", SettingValue::text(QString()));
    QCOMPARE(config.setting("Log"), QString());
    QVERIFY(!config.settingNames().contains("Log"));
    QCOMPARE(config.settingType("Log"), SettingType::Text);

    config.setSetting("log", SettingValue::boolean(true));
    QCOMPARE(config.settingNames().last(), QStringLiteral("log"));
    QCOMPARE(config.setting("Log"), QStringLiteral("True"));
    QCOMPARE(config.settingType("LOG"), SettingType::Boolean);
}

void TestConfig::nullValueOnlyRecordsTheType() {
    Config config;
    config.setSetting("ThumbWidth", SettingValue::null());
    QCOMPARE(config.setting("ThumbWidth"), QStringLiteral("300"));
    QCOMPARE(config.settingType("ThumbWidth"), SettingType::Text);

    config.setSetting("Extra", SettingValue::null());
    QVERIFY(!config.settingNames().contains("Extra"));
    QCOMPARE(config.settingType("Extra"), SettingType::Text);
}

void TestConfig::typedValuesBecomeTheirTexts() {
    Config config;
    config.setSetting("I", SettingValue::integer(-42));
    config.setSetting("D", SettingValue::fromDouble(2.5));
    config.setSetting("B", SettingValue::byte(255));
    config.setSetting("W", SettingValue::wideText("wide"));
    config.setSetting("T", SettingValue::text("narrow"));
    QCOMPARE(config.setting("I"), QStringLiteral("-42"));
    QCOMPARE(config.setting("D"), QStringLiteral("2.5"));
    QCOMPARE(config.setting("B"), QStringLiteral("255"));
    QCOMPARE(config.setting("W"), QStringLiteral("wide"));
    QCOMPARE(config.settingType("I"), SettingType::Integer);
    QCOMPARE(config.settingType("D"), SettingType::Double);
    QCOMPARE(config.settingType("B"), SettingType::Byte);
    QCOMPARE(config.settingType("W"), SettingType::WideText);
    QCOMPARE(config.settingType("T"), SettingType::Text);
}

void TestConfig::convertsSettingsForCallers() {
    Config config;
    QCOMPARE(config.intSetting("ThumbWidth"), 300);
    QVERIFY(config.boolSetting("Passive"));
    QVERIFY(!config.boolSetting("Autoclose"));
    QVERIFY(!config.boolSetting("Missing"));
    QCOMPARE(config.intSetting("Missing", 7), 7);
}

void TestConfig::integerSettingThatIsNoNumberReadsAsDefault_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("width as text") << "ThumbWidth"
                                   << "abc" << 300;
    QTest::newRow("height with unit") << "thumbheight"
                                      << "120px" << 200;
    QTest::newRow("overwrite") << "Overwrite"
                               << "?" << 0;
    QTest::newRow("beyond 32 bits") << "ThumbWidth"
                                    << "99999999999" << 300;
    QTest::newRow("number") << "ThumbWidth"
                            << " 640" << 640;
    QTest::newRow("no default") << "Extra"
                                << "abc" << 7;
}

void TestConfig::integerSettingThatIsNoNumberReadsAsDefault() {
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(int, expected);
    Config config;
    config.setSetting(name, SettingValue::text(stored));
    QCOMPARE(config.intSetting(name, 7), expected);
    QCOMPARE(config.setting(name), stored);
}

void TestConfig::storeServerAppliesDefaults() {
    Config config;
    const qint32 index = config.storeServer({}, {}, {}, {}, {}, {}, {}, {}, -1, -1);
    QCOMPARE(index, 0);
    const ServerRecord& server = config.servers.at(0);
    QCOMPARE(server.host, QString());
    QCOMPARE(server.port, QStringLiteral("21"));
    QCOMPARE(server.type, QStringLiteral("0"));
    QCOMPARE(server.urlMask, QStringLiteral("http://$host$dir$file"));
    QCOMPARE(server.credentialIndex, -1);
    QCOMPARE(config.serverNames, QStringList{"New Server"});
    QVERIFY(config.folders(0).isEmpty());
    QVERIFY(!config.serverExists(0));

    config.storeServer("h", "22", "u", "p", "/r", "/d", "http://%$dom%%$dir%%$file%", "1", -1, 3);
    QCOMPARE(config.servers.at(1).urlMask, QStringLiteral("http://$host$dir$file"));
    QCOMPARE(config.servers.at(1).port, QStringLiteral("22"));
    QCOMPARE(config.servers.at(1).type, QStringLiteral("1"));
    QCOMPARE(config.servers.at(1).credentialIndex, 3);
    QVERIFY(config.serverExists(1));

    config.storeServer("h", "", "", "", "", "", "ftp://$host/x$file", "", -1, -1);
    QCOMPARE(config.servers.at(2).urlMask, QStringLiteral("ftp://$host/x$file"));
}

void TestConfig::storeServerGrowsParallelArrays() {
    Config config;
    QCOMPARE(config.storeServer("far", "", "", "", "", "", "", "", 3, -1), 3);
    QCOMPARE(config.servers.size(), 4);
    QCOMPARE(config.serverFolders.size(), 4);
    QCOMPARE(config.serverNames.size(), 4);
    QCOMPARE(config.serverNames.at(3), QStringLiteral("New Server"));
    for (qint32 padding = 0; padding < 3; ++padding) {
        QVERIFY(!config.serverExists(padding));
        QCOMPARE(config.serverNames.at(padding), QString());
    }
    QVERIFY(config.serverExists(3));
    QCOMPARE(config.storeServer("next", "", "", "", "", "", "", "", -1, -1), 4);
}

void TestConfig::storeServerKeepsNameAndFoldersOfReplacedServer() {
    Config config;
    config.storeServer("old", "", "", "", "", "", "", "", -1, -1);
    config.serverNames[0] = "My site";
    config.setFolder(-1, 0, "/pics");
    QCOMPARE(config.storeServer("new", "2121", "", "", "", "", "", "", 0, -1), 0);
    QCOMPARE(config.servers.size(), 1);
    QCOMPARE(config.servers.at(0).host, QStringLiteral("new"));
    QCOMPARE(config.serverNames, QStringList{"My site"});
    QCOMPARE(config.folders(0), QStringList{"/pics"});
}

void TestConfig::deleteServerBlanksWithoutShrinking() {
    Config config;
    config.storeServer("a", "", "user", "", "/root", "", "", "", -1, -1);
    config.storeServer("b", "", "", "", "", "", "", "", -1, -1);
    config.setFolder(-1, 0, "/up");
    config.deleteServer(0);
    QVERIFY(!config.serverExists(0));
    QVERIFY(config.serverExists(1));
    QCOMPARE(config.servers.size(), 2);
    QCOMPARE(config.serverNames.size(), 2);
    QCOMPARE(config.serverNames.at(0), QString());
    QCOMPARE(config.servers.at(0).user, QStringLiteral("user"));
    QCOMPARE(config.servers.at(0).rootDir, QStringLiteral("/root"));
    QCOMPARE(config.folders(0), QStringList{"/up"});

    config.deleteServer(5);
    config.deleteServer(-1);
    QCOMPARE(config.servers.size(), 2);
    QVERIFY(config.serverExists(1));
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
    Config config;
    config.storeServer("a", "", "", "", "", "", "", "", -1, -1);
    config.storeServer("b", "", "", "", "", "", "", "", -1, -1);
    config.currentServer = current;
    const ServerRecord server = config.currentServerRecord();
    QCOMPARE(server.host, hostname);
    if (hostname.isEmpty())
        QCOMPARE(server.port, QString());
}

void TestConfig::foldersAreSetAppendedAndBlanked() {
    Config config;
    config.storeServer("a", "", "", "", "", "", "", "", -1, -1);
    config.setFolder(0, 0, "/first");
    config.setFolder(7, 0, "/second");
    config.setFolder(0, 0, "/renamed");
    QCOMPARE(config.folders(0), (QStringList{"/renamed", "/second"}));
    config.deleteFolder(0, 0);
    QCOMPARE(config.folders(0), (QStringList{QString(), "/second"}));

    config.setFolder(0, 1, "/nowhere");
    config.deleteFolder(0, 1);
    QVERIFY(config.folders(1).isEmpty());
    QVERIFY(config.folders(-1).isEmpty());
    QCOMPARE(config.serverFolders.size(), 1);
}

namespace {

// Three servers whose ciphertexts are held because the master password was not entered;
// the middle one has none.
void lockWithHeldCredentials(Config& config) {
    config.credentialsLocked = true;
    config.lockedCredentials = {{"AAAA", "BBBB"}, {"", ""}, {"CCCC", ""}};
    for (qint32 i = 0; i < 3; ++i)
        config.storeServer(QStringLiteral("host%1").arg(i), "", "", "", "", "", "", "", -1, i);
}

} // namespace

void TestConfig::lockedCredentialsOfLaterServersAreProtected() {
    Config config;
    lockWithHeldCredentials(config);
    const ServerList before = config.servers;

    QVERIFY_THROWS_EXCEPTION(Error, config.deleteServer(0));
    QVERIFY_THROWS_EXCEPTION(Error, config.storeServer("host0", "", "", "", "", "", "", "", 0, -1));
    QVERIFY_THROWS_EXCEPTION(Error,
                             config.storeServer("host0", "", "typed", "", "", "", "", "", 0, 0));
    QCOMPARE(config.servers, before);
    QCOMPARE(config.serverNames.at(0), QStringLiteral("New Server"));

    // Keeping the held ciphertexts in place is fine.
    config.storeServer("renamed", "2121", "", "", "/r", "", "", "", 0, 0);
    QCOMPARE(config.servers.at(0).host, QStringLiteral("renamed"));
    // A server without held ciphertexts changes freely.
    config.storeServer("host1", "", "user", "pw", "", "", "", "", 1, -1);
    config.deleteServer(1);
    QVERIFY(!config.serverExists(1));
}

void TestConfig::unlockedOrLastServersChangeFreely() {
    Config locked;
    lockWithHeldCredentials(locked);
    locked.deleteServer(2);
    QVERIFY(!locked.serverExists(2));
    // With the last holder gone, the first one no longer has anything after it to spoil.
    locked.deleteServer(0);
    QVERIFY(!locked.serverExists(0));

    Config unlocked;
    lockWithHeldCredentials(unlocked);
    unlocked.credentialsLocked = false;
    unlocked.deleteServer(0);
    QVERIFY(!unlocked.serverExists(0));
}

void TestConfig::programDirFromStore_data() {
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    const QString programFolder = QCoreApplication::applicationDirPath() + "/";
    QTest::newRow("absent") << false << QString() << m_dataHome.filePath("Quaddle") + "/";
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
    m_programDir->setStoredProgramDir(present ? std::optional<QString>(stored) : std::nullopt);
    Config config;
    QCOMPARE(config.programDir, expected);
    if (present)
        return;
    // The data folder appears with the first save, for the user alone.
    const QString dataFolder = m_dataHome.filePath("Quaddle");
    QVERIFY(!QFileInfo::exists(dataFolder));
    config.saveConfig();
    struct stat info = {};
    QCOMPARE(stat(QFile::encodeName(dataFolder).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
    QVERIFY(QFileInfo(dataFolder + "/config.xml").isFile());
    QVERIFY(QDir(dataFolder).removeRecursively());
}

QTEST_GUILESS_MAIN(TestConfig)
#include "TestConfig.moc"
