#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "config/Config.h"
#include "config/Cipher.h"
#include "platform/Error.h"

#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace quaddle;

namespace {

const QString DamagedMessage =
    "The configuration file contains errors. Reverting back to defaults.\n\n"
    "If you did not edit the file manually, please report a bug to the author.";

QByteArray ConfigWith(const QByteArray& settings, const QByteArray& servers) {
    return "<?xml version=\"1.0\"?>\n<qdConfig><Settings>" + settings + "</Settings><Servers>" +
           servers + "</Servers></qdConfig>\n";
}

// The attribute names of every Server element, in the order the file has them.
QList<QStringList> ServerAttributeOrder(const QByteArray& xml) {
    QList<QStringList> servers;
    static const QRegularExpression serverTag(QStringLiteral("<Server ([^>]*)>"));
    static const QRegularExpression attribute(QStringLiteral("(\\w+)=\""));
    for (const QRegularExpressionMatch& tag : serverTag.globalMatch(QString::fromUtf8(xml))) {
        QStringList names;
        for (const QRegularExpressionMatch& match : attribute.globalMatch(tag.captured(1)))
            names.append(match.captured(1));
        servers.append(names);
    }
    return servers;
}

QDomDocument Parsed(const QByteArray& xml) {
    QDomDocument document;
    document.setContent(xml);
    return document;
}

QStringList ChildNames(const QDomElement& element) {
    QStringList names;
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement())
        names.append(child.tagName());
    return names;
}

QString Attribute(const QByteArray& xml, int server, const QString& name) {
    const QDomDocument document = Parsed(xml);
    QDomElement element =
        document.documentElement().firstChildElement("Servers").firstChildElement("Server");
    for (int i = 0; i < server; ++i)
        element = element.nextSiblingElement("Server");
    return element.attribute(name, "<absent>");
}

int FileMode(const QString& path) {
    struct stat info = {};
    stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 07777);
}

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void missingFileIsNoError();
    void roundTripKeepsTheModel();
    void writesElementsAndAttributesInOrder();
    void leavesDeletedServersAndFoldersOut();
    void readsOlderLayouts();
    void readsFileInDeclaredEncoding();
    void readsSettingsByTypeCode();
    void skipsCommentsInSettings();
    void keepsIndexesOfServersWithoutHostname();
    void damagedFileIsReportedOnce_data();
    void damagedFileIsReportedOnce();
    void failedSaveKeepsOldFile();
    void savedFileIsPrivate();

    void rightMasterPasswordUnlocks();
    void wrongMasterPasswordAsksAgain();
    void verifierInLowerCaseNeverMatches();
    void lockedSaveKeepsCiphertexts();
    void credentialsTypedWhileLockedAreEncryptedLater();
    void withoutMasterPasswordCredentialsAreStillEncrypted();
    void emptyMasterPasswordUnlocksWithEmptyText();

private:
    TCfg& Loaded(bool force = false);
    void WriteConfig(const QByteArray& xml) { ProgramDir->WriteFile("config.xml", xml); }
    QByteArray SavedConfig() const { return ProgramDir->ReadFile("config.xml"); }

    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<TCfg> Cfg;
};

void TestConfigFile::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
}

void TestConfigFile::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Cfg.reset();
    Dialogs.reset();
    ProgramDir.reset();
}

TCfg& TestConfigFile::Loaded(bool force) {
    Cfg = std::make_unique<TCfg>();
    Cfg->LoadConfig(force);
    return *Cfg;
}

void TestConfigFile::missingFileIsNoError() {
    TCfg cfg;
    cfg.CurrentServer = 5;
    cfg.LoadConfig(false);
    QCOMPARE(cfg.CurrentServer, 0);
    QVERIFY(cfg.Servers.isEmpty());
    QCOMPARE(cfg.GetSetting("ThumbWidth"), QStringLiteral("300"));
    QVERIFY(!QFileInfo::exists(ProgramDir->FilePath("config.xml")));
}

void TestConfigFile::roundTripKeepsTheModel() {
    TCfg saved;
    saved.SetSetting("thumbwidth", TSettingValue::Integer(640));
    saved.SetSetting("Log", TSettingValue::Text(QString()));
    saved.SetSetting("Log", TSettingValue::Boolean(true));
    saved.SetSetting("Signature", TSettingValue::Text("<b>me & you</b>"));
    saved.SetSetting("DefaultServer", TSettingValue::Integer(1));
    saved.StoreServer("ftp.example.org", "2121", "alice", "s3cr\"et", "/htdocs", "/pics",
                      "https://$host$dir$file", "0", -1, -1);
    saved.StoreServer("sftp.example.org", "22", "bob", "", "", "", "", "1", -1, -1);
    saved.ServerNames = QStringList{"My FTP", "Über SFTP"};
    saved.SetFolder(-1, 0, "/pics");
    saved.SetFolder(-1, 0, "/pics/2024 & more");
    saved.SaveConfig();

    const QDomDocument document = Parsed(SavedConfig());
    const QStringList written =
        ChildNames(document.documentElement().firstChildElement("Settings"));
    QCOMPARE(written, saved.SettingNames());
    QCOMPARE(written.at(3), QStringLiteral("thumbwidth"));
    QCOMPARE(written.mid(written.size() - 2), (QStringList{"Log", "Signature"}));

    // Reading overlays the settings in memory: known ones keep their places.
    TCfg& cfg = Loaded();
    QCOMPARE(cfg.SettingNames().size(), saved.SettingNames().size());
    for (const QString& name : saved.SettingNames())
        QCOMPARE(cfg.GetSetting(name), saved.GetSetting(name));
    QCOMPARE(cfg.GetSettingType("Signature"), TSettingType::WideText);
    QCOMPARE(cfg.SettingNames().at(4), QStringLiteral("thumbwidth"));
    QCOMPARE(cfg.CurrentServer, 1);
    QCOMPARE(cfg.ServerNames, saved.ServerNames);
    QCOMPARE(cfg.ServerFolders, saved.ServerFolders);
    QCOMPARE(cfg.Servers.size(), 2);
    for (int i = 0; i < 2; ++i)
        for (int slot : {Hostname, Username, Password, RootDir, DefaultDir, URLMask, Port, Type})
            QCOMPARE(cfg.Servers[i][slot], saved.Servers[i][slot]);
    QCOMPARE(cfg.Servers[0][CredentialIndex], QStringLiteral("-1"));
    QVERIFY(!cfg.MasterPasswordActive);
    QVERIFY(!cfg.CredentialsLocked);
}

void TestConfigFile::writesElementsAndAttributesInOrder() {
    TCfg cfg;
    cfg.StoreServer("h", "21", "u", "p", "/r", "/d", "", "0", -1, -1);
    cfg.SaveConfig();
    const QByteArray xml = SavedConfig();

    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    const QDomDocument document = Parsed(xml);
    const QDomElement root = document.documentElement();
    QCOMPARE(root.tagName(), QStringLiteral("qdConfig"));
    QCOMPARE(ChildNames(root), (QStringList{"Settings", "Servers"}));
    QCOMPARE(ChildNames(root.firstChildElement("Settings")), TCfg().SettingNames());
    QCOMPARE(root.firstChildElement("Settings").firstChildElement("Passive").attribute("type"),
             QStringLiteral("11"));
    QCOMPARE(root.firstChildElement("Settings").firstChildElement("ThumbWidth").text(),
             QStringLiteral("300"));
    const QDomElement server = root.firstChildElement("Servers").firstChildElement("Server");
    QCOMPARE(ChildNames(server), (QStringList{"Folders", "Autosort"}));
    QCOMPARE(ServerAttributeOrder(xml),
             (QList<QStringList>{{"Name", "Hostname", "Type", "Port", "RootDir", "DefaultDir",
                                  "URLMask", "U", "P"}}));
    QCOMPARE(server.attribute("U"), TCipher(QString()).EncryptString("u"));
    QVERIFY(!xml.contains("\"p\""));
}

void TestConfigFile::leavesDeletedServersAndFoldersOut() {
    TCfg saved;
    for (const char* host : {"zero", "one", "two"})
        saved.StoreServer(QString::fromLatin1(host), "", "", "", "", "", "", "", -1, -1);
    saved.ServerNames = QStringList{"Zero", "One", "Two"};
    saved.SetFolder(-1, 2, "/a");
    saved.SetFolder(-1, 2, "/b");
    saved.SetFolder(-1, 2, "/c");
    saved.DeleteFolder(1, 2);
    saved.DeleteServer(0);
    saved.SaveConfig();

    QCOMPARE(ServerAttributeOrder(SavedConfig()).size(), 2);
    const TCfg& cfg = Loaded();
    QCOMPARE(cfg.ServerNames, (QStringList{"One", "Two"}));
    QCOMPARE(cfg.Servers[1][Hostname], QStringLiteral("two"));
    QCOMPARE(cfg.GetFolders(1), (QStringList{"/a", "/c"}));
    QVERIFY(cfg.ServerExists(0) && cfg.ServerExists(1));
}

void TestConfigFile::readsOlderLayouts() {
    WriteConfig("<qdConfig><Settings/><Servers>"
                "<Server Name=\"Old\" Hostname=\"old.example\" Docroot=\"/web\" Username=\"u\" "
                "Password=\"p\" URLMask=\"http://%$dom%%$dir%%$file%\">"
                "<Folder>/one</Folder><Folder/><Folder>/two</Folder></Server>"
                "<Server Hostname=\"new.example\" RootDir=\"/root\" Docroot=\"/ignored\"/>"
                "</Servers></qdConfig>");
    TCfg& cfg = Loaded();
    QCOMPARE(cfg.ServerNames, (QStringList{"Old", "New Server"}));
    const TServer& old = cfg.Servers[0];
    QCOMPARE(old[RootDir], QStringLiteral("/web"));
    QCOMPARE(old[Username], QStringLiteral("u"));
    QCOMPARE(old[Password], QStringLiteral("p"));
    QCOMPARE(old[URLMask], QStringLiteral("http://$host$dir$file"));
    QCOMPARE(old[Port], QStringLiteral("21"));
    QCOMPARE(old[Type], QStringLiteral("0"));
    QCOMPARE(cfg.GetFolders(0), (QStringList{"/one", "", "/two"}));
    QCOMPARE(cfg.Servers[1][RootDir], QStringLiteral("/root"));

    cfg.SaveConfig();
    const QByteArray xml = SavedConfig();
    const QDomDocument document = Parsed(xml);
    QCOMPARE(ChildNames(document.documentElement().firstChildElement("Servers").firstChildElement(
                 "Server")),
             (QStringList{"Folders", "Autosort"}));
    QCOMPARE(Attribute(xml, 0, "Username"), QStringLiteral("<absent>"));
    QCOMPARE(Attribute(xml, 0, "RootDir"), QStringLiteral("/web"));
    QCOMPARE(Loaded().GetFolders(0), (QStringList{"/one", "/two"}));
}

void TestConfigFile::readsFileInDeclaredEncoding() {
    WriteConfig("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
                "<qdConfig><Servers><Server Name=\"Caf\xe9\" Hostname=\"h\">"
                "<Folders><Folder>/\xe4pfel</Folder></Folders></Server></Servers></qdConfig>");
    const TCfg& cfg = Loaded();
    QCOMPARE(cfg.ServerNames, QStringList{"Café"});
    QCOMPARE(cfg.GetFolders(0), QStringList{"/äpfel"});
}

void TestConfigFile::readsSettingsByTypeCode() {
    WriteConfig(ConfigWith("<Passive type=\"11\">FALSE</Passive>"
                           "<ThumbInfo type=\"11\">yes</ThumbInfo>"
                           "<Autoclose type=\"11\">TRUE</Autoclose>"
                           "<ThumbWidth type=\"5\">640</ThumbWidth>"
                           "<ThumbHeight type=\"17\">$10</ThumbHeight>"
                           "<Overwrite type=\"256\"/>"
                           "<Extra type=\"256\">value</Extra>"
                           "<DEFAULTSERVER type=\"3\"> 2</DEFAULTSERVER>",
                           ""));
    const TCfg& cfg = Loaded();
    QCOMPARE(cfg.GetSetting("Passive"), QStringLiteral("False"));
    QCOMPARE(cfg.GetSetting("ThumbInfo"), QStringLiteral("False"));
    QCOMPARE(cfg.GetSetting("Autoclose"), QStringLiteral("True"));
    QCOMPARE(cfg.GetSetting("ThumbWidth"), QStringLiteral("640"));
    QCOMPARE(cfg.GetSettingType("ThumbWidth"), TSettingType::Integer);
    QCOMPARE(cfg.GetSetting("ThumbHeight"), QStringLiteral("16"));
    QCOMPARE(cfg.GetSettingType("ThumbHeight"), TSettingType::Integer);
    QCOMPARE(cfg.GetSetting("Overwrite"), QStringLiteral("0"));
    QCOMPARE(cfg.GetSettingType("Overwrite"), TSettingType::Text);
    QCOMPARE(cfg.GetSetting("Extra"), QStringLiteral("value"));
    QCOMPARE(cfg.GetSettingType("Extra"), TSettingType::WideText);
    QCOMPARE(cfg.SettingNames().at(0), QStringLiteral("DEFAULTSERVER"));
    QCOMPARE(cfg.CurrentServer, 2);
}

void TestConfigFile::skipsCommentsInSettings() {
    WriteConfig(ConfigWith("<!-- edited by hand --><Log type=\"11\">True</Log><?note x?>", ""));
    QCOMPARE(Loaded().GetSetting("Log"), QStringLiteral("True"));
}

void TestConfigFile::keepsIndexesOfServersWithoutHostname() {
    WriteConfig(ConfigWith("",
                           "<!-- first --><Server Name=\"Broken\"><Folder>/x</Folder></Server>"
                           "<Server Name=\"Good\" Hostname=\"g\"><Folder>/g</Folder></Server>"));
    const TCfg& cfg = Loaded();
    QCOMPARE(cfg.ServerNames, (QStringList{"Broken", "Good"}));
    QVERIFY(!cfg.ServerExists(0));
    QVERIFY(cfg.ServerExists(1));
    QCOMPARE(cfg.Servers[1][Hostname], QStringLiteral("g"));
    QCOMPARE(cfg.GetFolders(0), QStringList{"/x"});
    QCOMPARE(cfg.GetFolders(1), QStringList{"/g"});
}

void TestConfigFile::damagedFileIsReportedOnce_data() {
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("readLog"); // "Log" as read before the damage
    QTest::addColumn<bool>("passwordAsked");
    const QByteArray server = "<Server Hostname=\"h\"/>";
    QTest::newRow("malformed XML") << QByteArray("<qdConfig><Settings>") << "False" << false;
    QTest::newRow("other root") << QByteArray("<config><Settings/></config>") << "False" << false;
    QTest::newRow("type missing") << ConfigWith(
                                         "<Log type=\"11\">True</Log><ThumbWidth>5</ThumbWidth>",
                                         server)
                                  << "True" << false;
    QTest::newRow("type not a number")
        << ConfigWith("<Log type=\"11\">True</Log><ThumbWidth type=\"x\">5</ThumbWidth>", server)
        << "True" << false;
    QTest::newRow("integer not a number")
        << ConfigWith("<Log type=\"11\">True</Log><ThumbWidth type=\"3\">wide</ThumbWidth>"
                      "<Autoclose type=\"11\">True</Autoclose>",
                      server)
        << "True" << false;
    QTest::newRow("unknown type code")
        << ConfigWith("<Log type=\"11\">True</Log><ThumbWidth type=\"4\">5</ThumbWidth>", server)
        << "True" << false;
    QTest::newRow("text in settings")
        << ConfigWith("<Log type=\"11\">True</Log>stray", server) << "True" << false;
}

void TestConfigFile::damagedFileIsReportedOnce() {
    QFETCH(QByteArray, xml);
    QFETCH(QString, readLog);
    WriteConfig(xml);
    Dialogs->ExpectMessage(DamagedMessage);
    TCfg& cfg = Loaded();
    QCOMPARE(Dialogs->Asked().size(), 1);
    QCOMPARE(Dialogs->Asked().first().Kind, TMsgKind::Error);
    QCOMPARE(cfg.GetSetting("Log"), readLog);
    QCOMPARE(cfg.GetSetting("ThumbWidth"), QStringLiteral("300"));
    QCOMPARE(cfg.GetSetting("Autoclose"), QStringLiteral("False"));
    QVERIFY(cfg.Servers.isEmpty());
    QCOMPARE(cfg.CurrentServer, 0);
    QCOMPARE(SavedConfig(), xml);
}

void TestConfigFile::failedSaveKeepsOldFile() {
    const QByteArray old = ConfigWith("<Log type=\"11\">True</Log>", "");
    WriteConfig(old);
    TCfg cfg;
    for (int i = 0; i < 50; ++i)
        cfg.StoreServer(QStringLiteral("host%1.example.org").arg(i), "", "", "", "", "", "", "", -1,
                        -1);

    // A file size limit lets the write fail half-way, even for root.
    struct rlimit saved = {};
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limited = saved;
    limited.rlim_cur = 1024;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    bool failed = false;
    try {
        cfg.SaveConfig();
    } catch (const TError& error) {
        failed = error.Message().contains(ProgramDir->FilePath("config.xml"));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);

    QVERIFY(failed);
    QCOMPARE(SavedConfig(), old);
    QCOMPARE(QDir(ProgramDir->Path()).entryList(QDir::Files), QStringList{"config.xml"});
}

void TestConfigFile::savedFileIsPrivate() {
    WriteConfig(ConfigWith("", ""));
    QFile::setPermissions(ProgramDir->FilePath("config.xml"), QFile::ReadOwner | QFile::WriteOwner |
                                                                  QFile::ReadGroup |
                                                                  QFile::ReadOther);
    QCOMPARE(FileMode(ProgramDir->FilePath("config.xml")), 0644);
    TCfg().SaveConfig();
    QCOMPARE(FileMode(ProgramDir->FilePath("config.xml")), 0600);
    QFile::remove(ProgramDir->FilePath("config.xml"));
    TCfg().SaveConfig();
    QCOMPARE(FileMode(ProgramDir->FilePath("config.xml")), 0600);
}

void TestConfigFile::rightMasterPasswordUnlocks() {
    TCfg saved;
    saved.MasterPassword = "master";
    saved.SetSetting("PH", TSettingValue::Text(saved.HashPassword("master")));
    saved.StoreServer("h", "", "alice", "wonderland", "", "", "", "", -1, -1);
    saved.StoreServer("i", "", "alice", "", "", "", "", "", -1, -1);
    saved.SaveConfig();
    const QByteArray xml = SavedConfig();
    QVERIFY(Attribute(xml, 0, "U") != Attribute(xml, 1, "U"));
    QCOMPARE(Attribute(xml, 1, "P"), QString());

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "master");
    const TCfg& cfg = Loaded();
    QVERIFY(cfg.MasterPasswordActive);
    QVERIFY(!cfg.CredentialsLocked);
    QCOMPARE(cfg.MasterPassword, QStringLiteral("master"));
    QCOMPARE(cfg.Servers[0][Username], QStringLiteral("alice"));
    QCOMPARE(cfg.Servers[0][Password], QStringLiteral("wonderland"));
    QCOMPARE(cfg.Servers[1][Username], QStringLiteral("alice"));
}

void TestConfigFile::wrongMasterPasswordAsksAgain() {
    TCfg saved;
    saved.MasterPassword = "master";
    saved.SetSetting("PH", TSettingValue::Text(saved.HashPassword("master")));
    saved.StoreServer("h", "", "alice", "pw", "", "", "", "", -1, -1);
    saved.SaveConfig();

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "Master");
    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "master");
    const TCfg& cfg = Loaded();
    QCOMPARE(Dialogs->Asked().at(0).Given, QString());
    QCOMPARE(Dialogs->Asked().at(1).Given, QStringLiteral("Master"));
    QVERIFY(cfg.MasterPasswordActive);
    QCOMPARE(cfg.Servers[0][Password], QStringLiteral("pw"));
}

void TestConfigFile::verifierInLowerCaseNeverMatches() {
    WriteConfig(ConfigWith("<PH type=\"8\">" + PasswordHash("m").toLower().toLatin1() + "</PH>",
                           "<Server Hostname=\"h\" U=\"abcd\" P=\"\"/>"));
    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "m");
    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "m");
    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Cancel, "m");
    const TCfg& cfg = Loaded();
    QVERIFY(cfg.CredentialsLocked);
    QVERIFY(!cfg.MasterPasswordActive);
    QCOMPARE(cfg.MasterPassword, QString());
    QCOMPARE(cfg.Servers[0][Username], QString());
    QCOMPARE(cfg.LockedCredentials.size(), 1);
    QCOMPARE(cfg.LockedCredentials[0].User, QStringLiteral("abcd"));
    QCOMPARE(cfg.Servers[0][CredentialIndex], QStringLiteral("0"));
}

void TestConfigFile::lockedSaveKeepsCiphertexts() {
    TCfg saved;
    saved.MasterPassword = "master";
    saved.SetSetting("PH", TSettingValue::Text(saved.HashPassword("master")));
    saved.StoreServer("a", "", "alice", "one", "", "", "", "", -1, -1);
    saved.StoreServer("b", "", "", "two", "", "", "", "", -1, -1);
    saved.StoreServer("c", "", "carol", "three", "", "", "", "", -1, -1);
    saved.SaveConfig();
    const QByteArray before = SavedConfig();

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Cancel);
    TCfg& locked = Loaded();
    QVERIFY(locked.CredentialsLocked);
    locked.SaveConfig();
    const auto servers = [](const QByteArray& xml) { return xml.mid(xml.indexOf("<Servers>")); };
    QCOMPARE(servers(SavedConfig()), servers(before));

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "master");
    const TCfg& unlocked = Loaded();
    QCOMPARE(unlocked.Servers[2][Username], QStringLiteral("carol"));
    QCOMPARE(unlocked.Servers[2][Password], QStringLiteral("three"));
}

void TestConfigFile::credentialsTypedWhileLockedAreEncryptedLater() {
    TCfg saved;
    saved.MasterPassword = "master";
    saved.SetSetting("PH", TSettingValue::Text(saved.HashPassword("master")));
    saved.StoreServer("a", "", "alice", "one", "", "", "", "", -1, -1);
    saved.SaveConfig();

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Cancel);
    TCfg& locked = Loaded();
    locked.StoreServer("b", "", "bob", "typed", "", "", "", "", -1, -1);
    locked.SaveConfig();
    QByteArray xml = SavedConfig();
    QCOMPARE(Attribute(xml, 1, "Username"), QStringLiteral("bob"));
    QCOMPARE(Attribute(xml, 1, "Password"), QStringLiteral("typed"));
    QCOMPARE(Attribute(xml, 1, "U"), QStringLiteral("<absent>"));
    QVERIFY(Attribute(xml, 0, "U") != QStringLiteral("<absent>"));
    QCOMPARE(ServerAttributeOrder(xml).at(1).mid(7), (QStringList{"Username", "Password"}));

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "master");
    TCfg& unlocked = Loaded();
    QCOMPARE(unlocked.Servers[0][Password], QStringLiteral("one"));
    QCOMPARE(unlocked.Servers[1][Username], QStringLiteral("bob"));
    unlocked.SaveConfig();
    xml = SavedConfig();
    QCOMPARE(Attribute(xml, 1, "Username"), QStringLiteral("<absent>"));
    QVERIFY(!xml.contains("typed"));

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "master");
    QCOMPARE(Loaded().Servers[1][Password], QStringLiteral("typed"));
}

void TestConfigFile::withoutMasterPasswordCredentialsAreStillEncrypted() {
    TCfg saved;
    saved.StoreServer("a", "", "alice", "secret", "", "", "", "", -1, -1);
    saved.SaveConfig();
    const QByteArray xml = SavedConfig();
    QVERIFY(!xml.contains("alice") && !xml.contains("secret"));
    TCipher cipher{QString()};
    QCOMPARE(Attribute(xml, 0, "U"), cipher.EncryptString("alice"));
    QCOMPARE(Attribute(xml, 0, "P"), cipher.EncryptString("secret"));
    QCOMPARE(Loaded().Servers[0][Password], QStringLiteral("secret"));
}

void TestConfigFile::emptyMasterPasswordUnlocksWithEmptyText() {
    TCfg saved;
    saved.SetSetting("PH", TSettingValue::Text(saved.HashPassword(QString())));
    saved.StoreServer("a", "", "alice", "secret", "", "", "", "", -1, -1);
    saved.SaveConfig();
    QCOMPARE(Attribute(SavedConfig(), 0, "U"), TCipher(QString()).EncryptString("alice"));

    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, QString());
    const TCfg& cfg = Loaded();
    QVERIFY(cfg.MasterPasswordActive);
    QCOMPARE(cfg.Servers[0][Username], QStringLiteral("alice"));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "TestConfigFile.moc"
