#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "config/Cipher.h"
#include "config/Config.h"
#include "platform/Error.h"

#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace quaddle;

extern "C" int fchmod(int fd, mode_t mode) noexcept;
extern "C" int chmod(const char* path, mode_t mode) noexcept;

namespace {

QString damagedMessage(const QString& copy) {
    return "The configuration file contains errors. Reverting back to defaults.\n\n"
           "If you did not edit the file manually, please report a bug to the author.\n\n"
           "Before the configuration is saved again, the damaged file is copied to \"" +
           copy + "\".";
}

// A file system that refuses permission changes, as some mounted ones do, even for root.
std::atomic<bool> refuseChmod = false;

template <typename Function> Function realFunction(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

QByteArray configWith(const QByteArray& settings, const QByteArray& servers) {
    return "<?xml version=\"1.0\"?>\n<qdConfig><Settings>" + settings + "</Settings><Servers>" +
           servers + "</Servers></qdConfig>\n";
}

// The attribute names of every Server element, in the order the file has them.
QList<QStringList> serverAttributeOrder(const QByteArray& xml) {
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

QDomDocument parsed(const QByteArray& xml) {
    QDomDocument document;
    document.setContent(xml);
    return document;
}

QStringList childNames(const QDomElement& element) {
    QStringList names;
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement())
        names.append(child.tagName());
    return names;
}

QString attribute(const QByteArray& xml, int server, const QString& name) {
    const QDomDocument document = parsed(xml);
    QDomElement element =
        document.documentElement().firstChildElement("Servers").firstChildElement("Server");
    for (int i = 0; i < server; ++i)
        element = element.nextSiblingElement("Server");
    return element.attribute(name, "<absent>");
}

int fileMode(const QString& path) {
    struct stat info = {};
    stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 07777);
}

// A change one program makes to its configuration in memory.
using ConfigChange = std::function<void(Config&)>;

// Each server the file holds: name, host, port, certificate and folders.
QStringList serverSummary(const Config& config) {
    QStringList summary;
    for (qint32 index = 0; index < config.servers.size(); ++index)
        if (config.serverExists(index)) {
            const ServerRecord& server = config.servers[index];
            summary.append(QStringList{config.serverNames.value(index), server.host, server.port,
                                       server.trustedCert, config.folders(index).join(',')}
                               .join(' ')
                               .trimmed());
        }
    return summary;
}

void addServer(Config& config, const QString& name, const QString& host) {
    const qint32 index = config.storeServer(host, "", "", "", "", "", "", "", -1, -1);
    config.serverNames[index] = name;
}

} // namespace

Q_DECLARE_METATYPE(ConfigChange)

extern "C" int fchmod(int fd, mode_t mode) noexcept {
    if (refuseChmod) {
        errno = EPERM;
        return -1;
    }
    static const auto real = realFunction<int (*)(int, mode_t)>("fchmod");
    return real(fd, mode);
}

extern "C" int chmod(const char* path, mode_t mode) noexcept {
    if (refuseChmod) {
        errno = EPERM;
        return -1;
    }
    static const auto real = realFunction<int (*)(const char*, mode_t)>("chmod");
    return real(path, mode);
}

class TestConfigFile : public QObject, test::ProgramFixture {
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
    void damagedFileStaysWhenItCannotBeKept();
    void failedSaveKeepsOldFile();
    void savedFileIsPrivate();

    void rightMasterPasswordUnlocks();
    void wrongMasterPasswordAsksAgain();
    void verifierInLowerCaseNeverMatches();
    void lockedSaveKeepsCiphertexts();
    void credentialsTypedWhileLockedAreEncryptedLater();
    void withoutMasterPasswordCredentialsAreStillEncrypted();
    void emptyMasterPasswordUnlocksWithEmptyText();

    void savingKeepsAnotherProgramsChanges_data();
    void savingKeepsAnotherProgramsChanges();
    void unchangedProgramLeavesNewerFileAlone();
    void mergedCredentialsStayEncryptedWithOneKey();
    void credentialsThatCannotBeMergedKeepTheFile_data();
    void credentialsThatCannotBeMergedKeepTheFile();
    void saveWaitsForAnotherProgramsSave();

private:
    Config& loaded(bool force = false);
    void writeConfig(const QByteArray& xml) { m_programDir->writeFile("config.xml", xml); }
    QByteArray savedConfig() const { return m_programDir->readFile("config.xml"); }

    std::unique_ptr<Config> m_config;
};

void TestConfigFile::init() {
    startTest();
}

void TestConfigFile::cleanup() {
    finishTest();
    m_config.reset();
}

Config& TestConfigFile::loaded(bool force) {
    m_config = std::make_unique<Config>();
    m_config->loadConfig(force);
    return *m_config;
}

void TestConfigFile::missingFileIsNoError() {
    Config config;
    config.currentServer = 5;
    config.loadConfig(false);
    QCOMPARE(config.currentServer, 0);
    QVERIFY(config.servers.isEmpty());
    QCOMPARE(config.setting("ThumbWidth"), QStringLiteral("300"));
    QVERIFY(!QFileInfo::exists(m_programDir->filePath("config.xml")));
}

void TestConfigFile::roundTripKeepsTheModel() {
    Config saved;
    saved.setSetting("thumbwidth", SettingValue::integer(640));
    saved.setSetting("Log", SettingValue::text(QString()));
    saved.setSetting("Log", SettingValue::boolean(true));
    saved.setSetting("Signature", SettingValue::text("<b>me & you</b>"));
    saved.setSetting("DefaultServer", SettingValue::integer(1));
    saved.storeServer("ftp.example.org", "2121", "alice", "s3cr\"et", "/htdocs", "/pics",
                      "https://$host$dir$file", "0", -1, -1);
    saved.storeServer("sftp.example.org", "22", "bob", "", "", "", "", "1", -1, -1);
    saved.servers[1].keyFile = "/home/bob/.ssh/id & key.ppk";
    saved.servers[0].chmod = "604";
    saved.servers[1].sshClient = SshClientPsftp;
    saved.servers[0].trustedCert = QString(64, QLatin1Char('F'));
    saved.serverNames = QStringList{"My FTP", "Über SFTP"};
    saved.setFolder(-1, 0, "/pics");
    saved.setFolder(-1, 0, "/pics/2024 & more");
    saved.saveConfig();

    const QDomDocument document = parsed(savedConfig());
    const QStringList written =
        childNames(document.documentElement().firstChildElement("Settings"));
    QCOMPARE(written, saved.settingNames());
    QCOMPARE(written.at(3), QStringLiteral("thumbwidth"));
    QCOMPARE(written.mid(written.size() - 2), (QStringList{"Log", "Signature"}));

    // Reading overlays the settings in memory: known ones keep their places.
    Config& config = loaded();
    QCOMPARE(config.settingNames().size(), saved.settingNames().size());
    for (const QString& name : saved.settingNames())
        QCOMPARE(config.setting(name), saved.setting(name));
    QCOMPARE(config.settingType("Signature"), SettingType::WideText);
    QCOMPARE(config.settingNames().at(4), QStringLiteral("thumbwidth"));
    QCOMPARE(config.currentServer, 1);
    QCOMPARE(config.serverNames, saved.serverNames);
    QCOMPARE(config.serverFolders, saved.serverFolders);
    QCOMPARE(config.servers.size(), 2);
    QCOMPARE(config.servers, saved.servers);
    QCOMPARE(config.servers[0].credentialIndex, -1);
    // Only a server with a key file names one.
    QCOMPARE(attribute(savedConfig(), 0, "KeyFile"), QStringLiteral("<absent>"));
    QCOMPARE(attribute(savedConfig(), 1, "KeyFile"), saved.servers[1].keyFile);
    QCOMPARE(attribute(savedConfig(), 0, "Chmod"), QStringLiteral("604"));
    QCOMPARE(attribute(savedConfig(), 1, "Chmod"), QStringLiteral("<absent>"));
    QCOMPARE(attribute(savedConfig(), 0, "TrustedCert"), saved.servers[0].trustedCert);
    QCOMPARE(attribute(savedConfig(), 1, "TrustedCert"), QStringLiteral("<absent>"));
    QCOMPARE(attribute(savedConfig(), 0, "SshClient"), QStringLiteral("<absent>"));
    QCOMPARE(attribute(savedConfig(), 1, "SshClient"), QStringLiteral("psftp"));
    QVERIFY(!config.masterPasswordActive);
    QVERIFY(!config.credentialsLocked);
}

void TestConfigFile::writesElementsAndAttributesInOrder() {
    Config config;
    config.storeServer("h", "21", "u", "p", "/r", "/d", "", "0", -1, -1);
    config.saveConfig();
    const QByteArray xml = savedConfig();

    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    const QDomDocument document = parsed(xml);
    const QDomElement root = document.documentElement();
    QCOMPARE(root.tagName(), QStringLiteral("qdConfig"));
    QCOMPARE(childNames(root), (QStringList{"Settings", "Servers"}));
    QCOMPARE(childNames(root.firstChildElement("Settings")), Config().settingNames());
    QCOMPARE(root.firstChildElement("Settings").firstChildElement("Passive").attribute("type"),
             QStringLiteral("11"));
    QCOMPARE(root.firstChildElement("Settings").firstChildElement("ThumbWidth").text(),
             QStringLiteral("300"));
    const QDomElement server = root.firstChildElement("Servers").firstChildElement("Server");
    QCOMPARE(childNames(server), (QStringList{"Folders", "Autosort"}));
    QCOMPARE(serverAttributeOrder(xml),
             (QList<QStringList>{{"Name", "Hostname", "Type", "Port", "RootDir", "DefaultDir",
                                  "URLMask", "U", "P"}}));
    QCOMPARE(server.attribute("U"), Cipher(QString()).encryptString("u"));
    QVERIFY(!xml.contains("\"p\""));
}

void TestConfigFile::leavesDeletedServersAndFoldersOut() {
    Config saved;
    for (const char* host : {"zero", "one", "two"})
        saved.storeServer(QString::fromLatin1(host), "", "", "", "", "", "", "", -1, -1);
    saved.serverNames = QStringList{"Zero", "One", "Two"};
    saved.setFolder(-1, 2, "/a");
    saved.setFolder(-1, 2, "/b");
    saved.setFolder(-1, 2, "/c");
    saved.deleteFolder(1, 2);
    saved.deleteServer(0);
    saved.saveConfig();

    QCOMPARE(serverAttributeOrder(savedConfig()).size(), 2);
    const Config& config = loaded();
    QCOMPARE(config.serverNames, (QStringList{"One", "Two"}));
    QCOMPARE(config.servers[1].host, QStringLiteral("two"));
    QCOMPARE(config.folders(1), (QStringList{"/a", "/c"}));
    QVERIFY(config.serverExists(0) && config.serverExists(1));
}

void TestConfigFile::readsOlderLayouts() {
    writeConfig("<qdConfig><Settings/><Servers>"
                "<Server Name=\"Old\" Hostname=\"old.example\" Docroot=\"/web\" Username=\"u\" "
                "Password=\"p\" URLMask=\"http://%$dom%%$dir%%$file%\">"
                "<Folder>/one</Folder><Folder/><Folder>/two</Folder></Server>"
                "<Server Hostname=\"new.example\" RootDir=\"/root\" Docroot=\"/ignored\"/>"
                "</Servers></qdConfig>");
    Config& config = loaded();
    QCOMPARE(config.serverNames, (QStringList{"Old", "New Server"}));
    const ServerRecord& old = config.servers[0];
    QCOMPARE(old.rootDir, QStringLiteral("/web"));
    QCOMPARE(old.user, QStringLiteral("u"));
    QCOMPARE(old.password, QStringLiteral("p"));
    QCOMPARE(old.urlMask, QStringLiteral("http://$host$dir$file"));
    QCOMPARE(old.port, QStringLiteral("21"));
    QCOMPARE(old.type, QStringLiteral("0"));
    QCOMPARE(config.folders(0), (QStringList{"/one", "", "/two"}));
    QCOMPARE(config.servers[1].rootDir, QStringLiteral("/root"));

    config.saveConfig();
    const QByteArray xml = savedConfig();
    const QDomDocument document = parsed(xml);
    QCOMPARE(childNames(document.documentElement().firstChildElement("Servers").firstChildElement(
                 "Server")),
             (QStringList{"Folders", "Autosort"}));
    QCOMPARE(attribute(xml, 0, "Username"), QStringLiteral("<absent>"));
    QCOMPARE(attribute(xml, 0, "RootDir"), QStringLiteral("/web"));
    QCOMPARE(loaded().folders(0), (QStringList{"/one", "/two"}));
}

void TestConfigFile::readsFileInDeclaredEncoding() {
    writeConfig("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
                "<qdConfig><Servers><Server Name=\"Caf\xe9\" Hostname=\"h\">"
                "<Folders><Folder>/\xe4pfel</Folder></Folders></Server></Servers></qdConfig>");
    const Config& config = loaded();
    QCOMPARE(config.serverNames, QStringList{"Café"});
    QCOMPARE(config.folders(0), QStringList{"/äpfel"});
}

void TestConfigFile::readsSettingsByTypeCode() {
    writeConfig(configWith("<Passive type=\"11\">FALSE</Passive>"
                           "<ThumbInfo type=\"11\">yes</ThumbInfo>"
                           "<Autoclose type=\"11\">TRUE</Autoclose>"
                           "<ThumbWidth type=\"5\">640</ThumbWidth>"
                           "<ThumbHeight type=\"17\">$10</ThumbHeight>"
                           "<Overwrite type=\"256\"/>"
                           "<Extra type=\"256\">value</Extra>"
                           "<DEFAULTSERVER type=\"3\"> 2</DEFAULTSERVER>",
                           ""));
    const Config& config = loaded();
    QCOMPARE(config.setting("Passive"), QStringLiteral("False"));
    QCOMPARE(config.setting("ThumbInfo"), QStringLiteral("False"));
    QCOMPARE(config.setting("Autoclose"), QStringLiteral("True"));
    QCOMPARE(config.setting("ThumbWidth"), QStringLiteral("640"));
    QCOMPARE(config.settingType("ThumbWidth"), SettingType::Integer);
    QCOMPARE(config.setting("ThumbHeight"), QStringLiteral("16"));
    QCOMPARE(config.settingType("ThumbHeight"), SettingType::Integer);
    QCOMPARE(config.setting("Overwrite"), QStringLiteral("0"));
    QCOMPARE(config.settingType("Overwrite"), SettingType::Text);
    QCOMPARE(config.setting("Extra"), QStringLiteral("value"));
    QCOMPARE(config.settingType("Extra"), SettingType::WideText);
    QCOMPARE(config.settingNames().at(0), QStringLiteral("DEFAULTSERVER"));
    QCOMPARE(config.currentServer, 2);
}

void TestConfigFile::skipsCommentsInSettings() {
    writeConfig(configWith("<!-- edited by hand --><Log type=\"11\">True</Log><?note x?>", ""));
    QCOMPARE(loaded().setting("Log"), QStringLiteral("True"));
}

void TestConfigFile::keepsIndexesOfServersWithoutHostname() {
    writeConfig(configWith("",
                           "<!-- first --><Server Name=\"Broken\"><Folder>/x</Folder></Server>"
                           "<Server Name=\"Good\" Hostname=\"g\"><Folder>/g</Folder></Server>"));
    const Config& config = loaded();
    QCOMPARE(config.serverNames, (QStringList{"Broken", "Good"}));
    QVERIFY(!config.serverExists(0));
    QVERIFY(config.serverExists(1));
    QCOMPARE(config.servers[1].host, QStringLiteral("g"));
    QCOMPARE(config.folders(0), QStringList{"/x"});
    QCOMPARE(config.folders(1), QStringList{"/g"});
}

void TestConfigFile::damagedFileIsReportedOnce_data() {
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("readLog"); // "Log" as read before the damage
    QTest::addColumn<bool>("passwordAsked");
    const QByteArray server = "<Server Hostname=\"h\"/>";
    QTest::newRow("malformed XML") << QByteArray("<qdConfig><Settings>") << "False" << false;
    QTest::newRow("other root") << QByteArray("<config><Settings/></config>") << "False" << false;
    QTest::newRow("type missing") << configWith(
                                         "<Log type=\"11\">True</Log><ThumbWidth>5</ThumbWidth>",
                                         server)
                                  << "True" << false;
    QTest::newRow("type not a number")
        << configWith("<Log type=\"11\">True</Log><ThumbWidth type=\"x\">5</ThumbWidth>", server)
        << "True" << false;
    QTest::newRow("integer not a number")
        << configWith("<Log type=\"11\">True</Log><ThumbWidth type=\"3\">wide</ThumbWidth>"
                      "<Autoclose type=\"11\">True</Autoclose>",
                      server)
        << "True" << false;
    QTest::newRow("unknown type code")
        << configWith("<Log type=\"11\">True</Log><ThumbWidth type=\"4\">5</ThumbWidth>", server)
        << "True" << false;
    // Deeper than the format goes: refused before the parser, which slows down with the
    // square of the nesting.
    QTest::newRow("nested too deeply")
        << configWith("<Log type=\"11\">True</Log>", server + QByteArray("<x>").repeated(20000) +
                                                         QByteArray("</x>").repeated(20000))
        << "False" << false;
    QTest::newRow("text in settings")
        << configWith("<Log type=\"11\">True</Log>stray", server) << "True" << false;
}

void TestConfigFile::damagedFileIsReportedOnce() {
    QFETCH(QByteArray, xml);
    QFETCH(QString, readLog);
    writeConfig(xml);
    const QString copy = m_programDir->filePath("config.xml.damaged");
    m_programDir->writeFile("config.xml.damaged", "an older copy");
    m_dialogs->expectMessage(damagedMessage(copy));
    Config& config = loaded();
    QCOMPARE(m_dialogs->asked().size(), 1);
    QCOMPARE(m_dialogs->asked().first().kind, MessageKind::Error);
    QCOMPARE(config.setting("Log"), readLog);
    QCOMPARE(config.setting("ThumbWidth"), QStringLiteral("300"));
    QCOMPARE(config.setting("Autoclose"), QStringLiteral("False"));
    QVERIFY(config.servers.isEmpty());
    QCOMPARE(config.currentServer, 0);
    QCOMPARE(savedConfig(), xml);

    // The first save keeps the damaged file aside, owner-only, before replacing it.
    config.saveConfig();
    QCOMPARE(m_programDir->readFile("config.xml.damaged"), xml);
    QCOMPARE(fileMode(copy), 0600);
    QVERIFY(savedConfig() != xml);
    config.setSetting("Log", SettingValue::boolean(readLog == "False"));
    config.saveConfig();
    QCOMPARE(m_programDir->readFile("config.xml.damaged"), xml);
}

void TestConfigFile::damagedFileStaysWhenItCannotBeKept() {
    const QByteArray xml =
        configWith("<Log type=\"11\">True</Log><X type=\"4\">5</X>", "<Server Hostname=\"h\"/>");
    writeConfig(xml);
    QVERIFY(QDir(m_programDir->path()).mkdir("config.xml.damaged"));
    m_dialogs->expectMessage(damagedMessage(m_programDir->filePath("config.xml.damaged")));
    Config& config = loaded();
    QVERIFY_THROWS_EXCEPTION(Error, config.saveConfig());
    QCOMPARE(savedConfig(), xml);
    QCOMPARE(QDir(m_programDir->path()).entryList(QDir::Files), QStringList{"config.xml"});
}

void TestConfigFile::failedSaveKeepsOldFile() {
    const QByteArray old = configWith("<Log type=\"11\">True</Log>", "");
    writeConfig(old);
    Config config;
    for (int i = 0; i < 50; ++i)
        config.storeServer(QStringLiteral("host%1.example.org").arg(i), "", "", "", "", "", "", "",
                           -1, -1);

    // A file size limit lets the write fail half-way, even for root.
    struct rlimit saved = {};
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limited = saved;
    limited.rlim_cur = 1024;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    bool failed = false;
    try {
        config.saveConfig();
    } catch (const Error& error) {
        failed = error.message().contains(m_programDir->filePath("config.xml"));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);

    QVERIFY(failed);
    QCOMPARE(savedConfig(), old);
    QCOMPARE(QDir(m_programDir->path()).entryList(QDir::Files), QStringList{"config.xml"});
}

void TestConfigFile::savedFileIsPrivate() {
    // Private from the start: neither the umask nor a later permission change is relied on.
    const mode_t umaskBefore = umask(0);
    refuseChmod = true;
    Config().saveConfig();
    refuseChmod = false;
    umask(umaskBefore);
    QCOMPARE(fileMode(m_programDir->filePath("config.xml")), 0600);
    QCOMPARE(QDir(m_programDir->path()).entryList(QDir::Files), QStringList{"config.xml"});

    writeConfig(configWith("", ""));
    QFile::setPermissions(m_programDir->filePath("config.xml"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                              QFile::ReadOther);
    QCOMPARE(fileMode(m_programDir->filePath("config.xml")), 0644);
    Config().saveConfig();
    QCOMPARE(fileMode(m_programDir->filePath("config.xml")), 0600);
    QFile::remove(m_programDir->filePath("config.xml"));
    Config().saveConfig();
    QCOMPARE(fileMode(m_programDir->filePath("config.xml")), 0600);
}

void TestConfigFile::rightMasterPasswordUnlocks() {
    Config saved;
    saved.masterPassword = "master";
    saved.setSetting("PH", SettingValue::text(saved.hashPassword("master")));
    saved.storeServer("h", "", "alice", "wonderland", "", "", "", "", -1, -1);
    saved.storeServer("i", "", "alice", "", "", "", "", "", -1, -1);
    saved.saveConfig();
    const QByteArray xml = savedConfig();
    QVERIFY(attribute(xml, 0, "U") != attribute(xml, 1, "U"));
    QCOMPARE(attribute(xml, 1, "P"), QString());

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "master");
    const Config& config = loaded();
    QVERIFY(config.masterPasswordActive);
    QVERIFY(!config.credentialsLocked);
    QCOMPARE(config.masterPassword, QStringLiteral("master"));
    QCOMPARE(config.servers[0].user, QStringLiteral("alice"));
    QCOMPARE(config.servers[0].password, QStringLiteral("wonderland"));
    QCOMPARE(config.servers[1].user, QStringLiteral("alice"));
}

void TestConfigFile::wrongMasterPasswordAsksAgain() {
    Config saved;
    saved.masterPassword = "master";
    saved.setSetting("PH", SettingValue::text(saved.hashPassword("master")));
    saved.storeServer("h", "", "alice", "pw", "", "", "", "", -1, -1);
    saved.saveConfig();

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "Master");
    // The dialog says the password was wrong and starts empty.
    m_dialogs->expectMasterPassword(MasterPasswordMode::EnterAgain, MasterPasswordResult::Ok,
                                    "master");
    const Config& config = loaded();
    QCOMPARE(m_dialogs->asked().at(0).given, QString());
    QCOMPARE(m_dialogs->asked().at(1).given, QString());
    QVERIFY(config.masterPasswordActive);
    QCOMPARE(config.servers[0].password, QStringLiteral("pw"));
}

void TestConfigFile::verifierInLowerCaseNeverMatches() {
    writeConfig(configWith("<PH type=\"8\">" + passwordHash("m").toLower().toLatin1() + "</PH>",
                           "<Server Hostname=\"h\" U=\"abcd\" P=\"\"/>"));
    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "m");
    m_dialogs->expectMasterPassword(MasterPasswordMode::EnterAgain, MasterPasswordResult::Ok, "m");
    m_dialogs->expectMasterPassword(MasterPasswordMode::EnterAgain, MasterPasswordResult::Cancel,
                                    "m");
    const Config& config = loaded();
    QVERIFY(config.credentialsLocked);
    QVERIFY(!config.quitRequested);
    QVERIFY(!config.masterPasswordActive);
    QCOMPARE(config.masterPassword, QString());
    QCOMPARE(config.servers[0].user, QString());
    QCOMPARE(config.lockedCredentials.size(), 1);
    QCOMPARE(config.lockedCredentials[0].user, QStringLiteral("abcd"));
    QCOMPARE(config.servers[0].credentialIndex, 0);
}

void TestConfigFile::lockedSaveKeepsCiphertexts() {
    Config saved;
    saved.masterPassword = "master";
    saved.setSetting("PH", SettingValue::text(saved.hashPassword("master")));
    saved.storeServer("a", "", "alice", "one", "", "", "", "", -1, -1);
    saved.storeServer("b", "", "", "two", "", "", "", "", -1, -1);
    saved.storeServer("c", "", "carol", "three", "", "", "", "", -1, -1);
    saved.saveConfig();
    const QByteArray before = savedConfig();

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Cancel);
    Config& locked = loaded();
    QVERIFY(locked.credentialsLocked);
    locked.saveConfig();
    const auto servers = [](const QByteArray& xml) { return xml.mid(xml.indexOf("<Servers>")); };
    QCOMPARE(servers(savedConfig()), servers(before));

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "master");
    const Config& unlocked = loaded();
    QCOMPARE(unlocked.servers[2].user, QStringLiteral("carol"));
    QCOMPARE(unlocked.servers[2].password, QStringLiteral("three"));
}

void TestConfigFile::credentialsTypedWhileLockedAreEncryptedLater() {
    Config saved;
    saved.masterPassword = "master";
    saved.setSetting("PH", SettingValue::text(saved.hashPassword("master")));
    saved.storeServer("a", "", "alice", "one", "", "", "", "", -1, -1);
    saved.saveConfig();

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Cancel);
    Config& locked = loaded();
    locked.storeServer("b", "", "bob", "typed", "", "", "", "", -1, -1);
    locked.saveConfig();
    QByteArray xml = savedConfig();
    QCOMPARE(attribute(xml, 1, "Username"), QStringLiteral("bob"));
    QCOMPARE(attribute(xml, 1, "Password"), QStringLiteral("typed"));
    QCOMPARE(attribute(xml, 1, "U"), QStringLiteral("<absent>"));
    QVERIFY(attribute(xml, 0, "U") != QStringLiteral("<absent>"));
    QCOMPARE(serverAttributeOrder(xml).at(1).mid(7), (QStringList{"Username", "Password"}));

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "master");
    Config& unlocked = loaded();
    QCOMPARE(unlocked.servers[0].password, QStringLiteral("one"));
    QCOMPARE(unlocked.servers[1].user, QStringLiteral("bob"));
    unlocked.saveConfig();
    xml = savedConfig();
    QCOMPARE(attribute(xml, 1, "Username"), QStringLiteral("<absent>"));
    QVERIFY(!xml.contains("typed"));

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "master");
    QCOMPARE(loaded().servers[1].password, QStringLiteral("typed"));
}

void TestConfigFile::withoutMasterPasswordCredentialsAreStillEncrypted() {
    Config saved;
    saved.storeServer("a", "", "alice", "secret", "", "", "", "", -1, -1);
    saved.saveConfig();
    const QByteArray xml = savedConfig();
    QVERIFY(!xml.contains("alice") && !xml.contains("secret"));
    Cipher cipher{QString()};
    QCOMPARE(attribute(xml, 0, "U"), cipher.encryptString("alice"));
    QCOMPARE(attribute(xml, 0, "P"), cipher.encryptString("secret"));
    QCOMPARE(loaded().servers[0].password, QStringLiteral("secret"));
}

void TestConfigFile::emptyMasterPasswordUnlocksWithEmptyText() {
    Config saved;
    saved.setSetting("PH", SettingValue::text(saved.hashPassword(QString())));
    saved.storeServer("a", "", "alice", "secret", "", "", "", "", -1, -1);
    saved.saveConfig();
    QCOMPARE(attribute(savedConfig(), 0, "U"), Cipher(QString()).encryptString("alice"));

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, QString());
    const Config& config = loaded();
    QVERIFY(config.masterPasswordActive);
    QCOMPARE(config.servers[0].user, QStringLiteral("alice"));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "TestConfigFile.moc"

void TestConfigFile::savingKeepsAnotherProgramsChanges_data() {
    QTest::addColumn<ConfigChange>("there");
    QTest::addColumn<ConfigChange>("here");
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<QString>("tagStyle");
    QTest::addColumn<QString>("notice");
    const ConfigChange none = [](Config&) {};
    const ConfigChange tagStyle2 = [](Config& config) { config.setTagStyle(2); };
    const ConfigChange tagStyle3 = [](Config& config) { config.setTagStyle(3); };
    const QString one = "One one.example 21  /a";
    const QString two = "Two two.example 22";
    const QString cert(64, QLatin1Char('C'));

    QTest::newRow("server added there, setting changed here")
        << ConfigChange([](Config& config) { addServer(config, "Three", "three.example"); })
        << tagStyle2 << QStringList{one, two, "Three three.example 21"} << "2" << QString();
    QTest::newRow("servers added on both sides")
        << ConfigChange([](Config& config) { addServer(config, "There", "there.example"); })
        << ConfigChange([](Config& config) { addServer(config, "Here", "here.example"); })
        << QStringList{one, two, "Here here.example 21", "There there.example 21"} << "0"
        << QString();
    QTest::newRow("certificate stored there, folder added here")
        << ConfigChange([cert](Config& config) { config.servers[1].trustedCert = cert; })
        << ConfigChange([](Config& config) { config.setFolder(-1, 0, "/b"); })
        << QStringList{"One one.example 21  /a,/b", "Two two.example 22 " + cert} << "0"
        << QString();
    QTest::newRow("one server, other fields on each side")
        << ConfigChange([cert](Config& config) { config.servers[0].trustedCert = cert; })
        << ConfigChange([](Config& config) {
               config.servers[0].port = "2121";
               config.deleteFolder(0, 0);
           })
        << QStringList{"One one.example 2121 " + cert, two} << "0" << QString();
    QTest::newRow("one field changed on both sides")
        << ConfigChange([](Config& config) { config.servers[1].port = "2200"; })
        << ConfigChange([](Config& config) { config.servers[1].port = "2300"; })
        << QStringList{one, "Two two.example 2200", "Two two.example 2300"} << "0"
        << "The server \"Two\" was changed here and by another program at the same time; both "
           "versions are kept, the one changed here as the last server.";
    QTest::newRow("deleted here, changed there")
        << ConfigChange([](Config& config) { config.setFolder(-1, 1, "/t"); })
        << ConfigChange([](Config& config) { config.deleteServer(1); })
        << QStringList{one, two + "  /t"} << "0"
        << "The server \"Two\" was deleted here, but another program changed it meanwhile; it is "
           "kept with those changes.";
    QTest::newRow("changed here, deleted there")
        << ConfigChange([](Config& config) { config.deleteServer(0); })
        << ConfigChange([](Config& config) { config.serverNames[0] = "Uno"; })
        << QStringList{"Uno one.example 21  /a", two} << "0"
        << "The server \"Uno\" was changed here, but another program deleted it meanwhile; it is "
           "kept with the changes made here.";
    QTest::newRow("deleted and renamed there, setting changed here")
        << ConfigChange([](Config& config) {
               config.deleteServer(0);
               config.serverNames[1] = "Dos";
           })
        << tagStyle2 << QStringList{"Dos two.example 22"} << "2" << QString();
    QTest::newRow("deleted on both sides")
        << ConfigChange([](Config& config) { config.deleteServer(1); })
        << ConfigChange([](Config& config) { config.deleteServer(1); }) << QStringList{one} << "0"
        << QString();
    QTest::newRow("one setting on both sides: the later choice")
        << tagStyle3 << tagStyle2 << QStringList{one, two} << "2" << QString();
    QTest::newRow("setting changed there, server renamed here")
        << tagStyle3 << ConfigChange([](Config& config) { config.serverNames[1] = "Dos"; })
        << QStringList{one, "Dos two.example 22"} << "3" << QString();
    QTest::newRow("nothing changed here")
        << tagStyle3 << none << QStringList{one, two} << "3" << QString();
}

// Two programs read one config.xml; the other one saves its change first.
void TestConfigFile::savingKeepsAnotherProgramsChanges() {
    QFETCH(ConfigChange, there);
    QFETCH(ConfigChange, here);
    QFETCH(QStringList, servers);
    QFETCH(QString, tagStyle);
    QFETCH(QString, notice);
    {
        Config first;
        addServer(first, "One", "one.example");
        first.setFolder(-1, 0, "/a");
        addServer(first, "Two", "two.example");
        first.servers[1].port = "22";
        first.saveConfig();
    }
    Config thisProgram;
    thisProgram.loadConfig(true);
    Config otherProgram;
    otherProgram.loadConfig(true);
    there(otherProgram);
    otherProgram.saveConfig();

    here(thisProgram);
    if (!notice.isEmpty())
        m_dialogs->expectMessage(notice);
    thisProgram.saveConfig();
    QCOMPARE(serverSummary(loaded(true)), servers);
    QCOMPARE(m_config->setting("TagStyle"), tagStyle);
    // What shows this program's configuration shows the merged one.
    QCOMPARE(serverSummary(thisProgram), servers);

    // Saved again, nothing is added twice.
    thisProgram.saveConfig();
    QCOMPARE(serverSummary(loaded(true)), servers);
}

void TestConfigFile::unchangedProgramLeavesNewerFileAlone() {
    Config().saveConfig();
    Config reader;
    reader.loadConfig(true);
    Config writer;
    writer.loadConfig(true);
    addServer(writer, "New", "new.example");
    writer.saveConfig();
    const QByteArray newer = savedConfig();

    reader.saveConfig();
    QCOMPARE(savedConfig(), newer);
}

void TestConfigFile::mergedCredentialsStayEncryptedWithOneKey() {
    {
        Config first;
        first.masterPassword = "master";
        first.setSetting("PH", SettingValue::text(first.hashPassword("master")));
        first.storeServer("a", "", "alice", "one", "", "", "", "", -1, -1);
        first.saveConfig();
    }
    const auto unlocked = [this] {
        m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok,
                                        "master");
        auto config = std::make_unique<Config>();
        config->loadConfig(true);
        return config;
    };
    const std::unique_ptr<Config> thisProgram = unlocked();
    const std::unique_ptr<Config> otherProgram = unlocked();
    otherProgram->storeServer("b", "", "bob", "two", "", "", "", "", -1, -1);
    otherProgram->saveConfig();
    thisProgram->storeServer("c", "", "carol", "three", "", "", "", "", -1, -1);
    thisProgram->saveConfig();
    QVERIFY(!savedConfig().contains("two") && !savedConfig().contains("three"));

    QStringList logins;
    const std::unique_ptr<Config> merged = unlocked();
    for (const ServerRecord& server : merged->servers)
        logins.append(server.host + ' ' + server.user + ' ' + server.password);
    QCOMPARE(logins, (QStringList{"a alice one", "c carol three", "b bob two"}));
}

void TestConfigFile::credentialsThatCannotBeMergedKeepTheFile_data() {
    QTest::addColumn<bool>("lockedHere");
    QTest::addColumn<QString>("otherMasterPassword");
    QTest::addColumn<QString>("reason");
    QTest::newRow("another master password there") << false << "other"
                                                   << "protected it with another master password";
    QTest::newRow("credentials locked here") << true << "master"
                                             << "after you enter your master password";
}

void TestConfigFile::credentialsThatCannotBeMergedKeepTheFile() {
    QFETCH(bool, lockedHere);
    QFETCH(QString, otherMasterPassword);
    QFETCH(QString, reason);
    {
        Config first;
        first.masterPassword = "master";
        first.setSetting("PH", SettingValue::text(first.hashPassword("master")));
        first.storeServer("a", "", "alice", "one", "", "", "", "", -1, -1);
        first.saveConfig();
    }
    m_dialogs->expectMasterPassword(
        MasterPasswordMode::Enter,
        lockedHere ? MasterPasswordResult::Cancel : MasterPasswordResult::Ok, "master");
    Config thisProgram;
    thisProgram.loadConfig(true);
    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "master");
    Config otherProgram;
    otherProgram.loadConfig(true);
    otherProgram.masterPassword = otherMasterPassword;
    otherProgram.setSetting("PH",
                            SettingValue::text(otherProgram.hashPassword(otherMasterPassword)));
    otherProgram.storeServer("b", "", "bob", "two", "", "", "", "", -1, -1);
    otherProgram.saveConfig();
    const QByteArray newer = savedConfig();

    thisProgram.setTagStyle(2);
    try {
        thisProgram.saveConfig();
        QFAIL("saved over a file it could not merge with");
    } catch (const Error& error) {
        QVERIFY2(error.message().contains(reason), qPrintable(error.message()));
    }
    QCOMPARE(savedConfig(), newer);
}

void TestConfigFile::saveWaitsForAnotherProgramsSave() {
    Config().saveConfig();
    Config config;
    config.loadConfig(true);
    config.setTagStyle(2);
    const QByteArray before = savedConfig();
    QLockFile otherProgramSaving(m_programDir->filePath("config.xml.lock"));
    QVERIFY(otherProgramSaving.lock());
    try {
        config.saveConfig();
        QFAIL("saved while another program was saving");
    } catch (const Error& error) {
        QVERIFY2(error.message().contains("another program has been saving it for too long"),
                 qPrintable(error.message()));
    }
    QCOMPARE(savedConfig(), before);

    otherProgramSaving.unlock();
    config.saveConfig();
    QCOMPARE(loaded(true).tagStyle(), 2);
}
