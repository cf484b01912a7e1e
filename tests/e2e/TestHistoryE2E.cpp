// The upload history through the built program's command line: what uploads record, how
// --history shows it, and --delete against real FTP, FTPS and SFTP servers.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using namespace quaddle;
using namespace quaddle::test;

namespace {

struct Outcome {
    int code = -1;
    QByteArray output;
    QByteArray error;
};

// What the history file holds before the upload.
enum class Before { Nothing, Garbage, Folder };

struct UploadRow {
    QStringList arguments;
    // Files on the server beforehand, as the upload's names.
    QStringList onServer{};
    bool history = true;
    Before before = Before::Nothing;
    // The names recorded, newest first, and what standard error says.
    QStringList recorded{};
    QString said{};
};

// A server of one kind, with the setup that logs in to it and where its files land on disk.
class Target {
public:
    explicit Target(const QString& kind) {
        if (kind == "sshd" || kind == "psftp") {
            m_ssh = std::make_unique<SshServer>();
            m_setup.type = "1";
            if (kind == "psftp")
                m_setup.sshClient = SshClientPsftp;
            m_setup.port = m_ssh->port();
            m_setup.user = m_ssh->user();
            m_setup.password = m_ssh->password();
            m_setup.rootDir = m_ssh->root();
            return;
        }
        m_ftp = kind == "vsftpd-tls" ? std::make_unique<FtpServer>(FtpServer::Kind::VsftpdTls)
                : kind == "slowstor" ? std::make_unique<FtpServer>(kind)
                                     : std::make_unique<FtpServer>();
        m_setup = setupFor(*m_ftp);
        m_setup.rootDir = m_ftp->uploadDir();
        if (kind == "vsftpd-tls") {
            m_setup.type = "2";
            m_setup.trustedCert = m_ftp->certificateFingerprint();
        }
    }
    QString problem() const {
        if (m_ssh)
            return m_ssh->started() ? QString() : m_ssh->problem();
        return m_ftp->started() ? QString() : m_ftp->problem();
    }
    bool unavailable() const { return m_ssh && m_ssh->unavailable(); }
    // Stops the server's side of the connections where they are (OpenSSH), or lets it go on.
    void holdSessions(bool held) {
        if (m_ssh)
            held ? m_ssh->pauseSessions() : m_ssh->resumeSessions();
    }
    const ServerSetup& setup() const { return m_setup; }
    QString onDisk(const QString& name) const {
        return m_ssh ? m_ssh->root() + '/' + name : m_ftp->localPath(name);
    }
    // ssh reads the test's own configuration and known hosts, never the account's.
    QProcessEnvironment environment(const TempProgramDir& programDir) const {
        QProcessEnvironment environment = programDir.environment();
        if (!m_ssh)
            return environment;
        const QString home = m_home.path();
        // Else psftp would take the account's own .putty.
        QDir().mkpath(home + "/.putty");
        QDir().mkpath(home + "/bin");
        writeFile(home + "/config", "Host *\n  UserKnownHostsFile " + QFile::encodeName(home) +
                                        "/known_hosts\n  GlobalKnownHostsFile /dev/null\n");
        const QString wrapper =
            writeFile(home + "/bin/ssh", "#!/bin/sh\nexec /usr/bin/ssh -F \"" +
                                             QFile::encodeName(home) + "/config\" \"$@\"\n");
        QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("HOME", home);
        environment.insert("PATH", home + "/bin:" + environment.value("PATH"));
        return environment;
    }

private:
    std::unique_ptr<FtpServer> m_ftp;
    std::unique_ptr<SshServer> m_ssh;
    ServerSetup m_setup;
    QTemporaryDir m_home;
};

Outcome runCli(const QStringList& arguments, const QProcessEnvironment& environment) {
    ProgramRun program(QStringList{"--cli", "--accept-new"} + arguments, environment);
    Outcome outcome;
    if (!program.waitForExit(90000) || program.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.code = program.exitCode();
    outcome.output = program.standardOutput();
    outcome.error = program.errorOutput();
    return outcome;
}

// The rows of the history file, newest first: name, then each column asked for.
QList<QStringList> storedRows(const QString& path, const QString& columns) {
    QList<QStringList> rows;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "check");
        database.setDatabaseName(path);
        QSqlQuery query(database);
        if (database.open() &&
            query.exec("SELECT name, " + columns + " FROM uploads ORDER BY id DESC"))
            while (query.next()) {
                QStringList row;
                for (int column = 0; column < query.record().count(); ++column)
                    row.append(query.value(column).toString());
                rows.append(row);
            }
    }
    QSqlDatabase::removeDatabase("check");
    return rows;
}

// Runs a statement on the history file, as another program would.
bool changeHistory(const QString& path, const QString& statement) {
    bool done = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "change");
        database.setDatabaseName(path);
        done = database.open() && QSqlQuery(database).exec(statement);
    }
    QSqlDatabase::removeDatabase("change");
    return done;
}

// config.xml with these server entries, in their order.
void saveServers(const QList<ServerSetup>& servers) {
    Config config;
    for (const ServerSetup& server : servers) {
        const qint32 index = config.storeServer(server.host, QString::number(server.port),
                                                server.user, server.password, server.rootDir,
                                                QString(), QString(), server.type, -1, -1);
        config.serverNames[index] = server.name;
    }
    config.saveConfig();
}

QString sha256Of(const QString& path) {
    return QString::fromLatin1(
        QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256).toHex());
}

// Changes every byte of the file in place, as a program writing over it would.
bool invertBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    for (qint64 offset = 0; offset < file.size();) {
        QByteArray block = file.read(1 << 20);
        for (char& byte : block)
            byte = char(~byte);
        if (block.isEmpty() || !file.seek(offset) || file.write(block) != block.size())
            return false;
        offset += block.size();
    }
    return true;
}

// Two server entries, "Home" and "Home again", of one login and folder.
void saveTwinEntries(const FtpServer& server) {
    ServerSetup first = setupFor(server);
    first.name = "Home";
    ServerSetup twin = setupFor(server);
    twin.name = "Home again";
    saveServers({first, twin});
}

} // namespace

Q_DECLARE_METATYPE(UploadRow)

class TestHistoryE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsUploads_data();
    void recordsUploads();
    void deletesFromServers_data();
    void deletesFromServers();
    void renamedFileKeepsItsEntry_data();
    void renamedFileKeepsItsEntry();
    void deletesOnlyTheFileUploaded_data();
    void deletesOnlyTheFileUploaded();
    void mirrorEntriesAreDeletedApart();
    void renameFollowedByTwinEntries();
    void overwriteSeenThroughTwinEntries();
    void keepsThumbnailALaterUploadReplaced();
    void sameNameTwiceInOneUpload_data();
    void sameNameTwiceInOneUpload();
    void recordsWhatWasSent_data();
    void recordsWhatWasSent();

private:
    QTemporaryDir m_local;
};

void TestHistoryE2E::initTestCase() {
    writeFile(m_local.filePath("a.txt"), "alpha");
    writeFile(m_local.filePath("b.txt"), "bravo!");
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(picture.save(m_local.filePath("photo.jpg"), "JPEG"));
}

void TestHistoryE2E::recordsUploads_data() {
    QTest::addColumn<UploadRow>("row");
    QTest::newRow("files and a thumbnail") << UploadRow{
        .arguments = {"--thumbnails", "photo.jpg", "a.txt"}, .recorded = {"a.txt", "photo.jpg"}};
    QTest::newRow("skipped file is no upload")
        << UploadRow{.arguments = {"--on-exists=skip", "a.txt", "b.txt"},
                     .onServer = {"a.txt"},
                     .recorded = {"b.txt"}};
    QTest::newRow("history off writes nothing")
        << UploadRow{.arguments = {"a.txt"}, .history = false};
    QTest::newRow("damaged file set aside") << UploadRow{.arguments = {"a.txt"},
                                                         .before = Before::Garbage,
                                                         .recorded = {"a.txt"},
                                                         .said = "was damaged"};
    QTest::newRow("history that cannot be written")
        << UploadRow{.arguments = {"a.txt"}, .before = Before::Folder, .said = "history"};
}

void TestHistoryE2E::recordsUploads() {
    QFETCH(UploadRow, row);
    const Target server("pyftpdlib");
    QVERIFY2(server.problem().isEmpty(), qPrintable(server.problem()));
    const TempProgramDir programDir;
    saveServerConfig(server.setup(), {{"History", SettingValue::boolean(row.history)}});
    for (const QString& name : row.onServer)
        writeFile(server.onDisk(name), "old");
    const QString path = programDir.filePath("history.sqlite");
    const QByteArray garbage(5000, 'x');
    if (row.before == Before::Garbage)
        programDir.writeFile("history.sqlite", garbage);
    if (row.before == Before::Folder)
        QVERIFY(QDir().mkpath(path));
    QStringList arguments = row.arguments;
    for (QString& word : arguments)
        if (!word.startsWith('-'))
            word = m_local.filePath(word);

    const Outcome upload = runCli(arguments, programDir.environment());
    QVERIFY2(upload.code == 0, upload.error.constData());
    QVERIFY2(upload.error.contains(row.said.toUtf8()), upload.error.constData());
    QCOMPARE(QFileInfo(path).isFile(), row.history && row.before != Before::Folder);
    QCOMPARE(readFile(programDir.filePath("history.sqlite.damaged")),
             row.before == Before::Garbage ? garbage : QByteArray());
    QList<QStringList> expected;
    for (const QString& name : row.recorded) {
        const QString local = m_local.filePath(name);
        const QString thumbnail =
            name == "photo.jpg" ? QString("http://127.0.0.1/photo_thumb.jpg") : QString();
        expected.append({name, "http://127.0.0.1/" + name, thumbnail,
                         QString::number(QFileInfo(local).size()), sha256Of(local), "Test server",
                         "FTP"});
    }
    QCOMPARE(storedRows(path, "url, thumbnail_url, size, sha256, server, protocol"), expected);
    if (expected.isEmpty())
        return;
    struct stat status = {};
    QCOMPARE(stat(QFile::encodeName(path).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, mode_t(0600));

    const Outcome listed = runCli({"--history", "--json"}, programDir.environment());
    QCOMPARE(listed.code, 0);
    QList<QStringList> shown;
    for (const QByteArray& line : listed.output.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        shown.append({object["remotePath"].toString().section('/', -1), object["url"].toString(),
                      object["thumbnailUrl"].toString(),
                      QString::number(object["size"].toInteger()), object["sha256"].toString(),
                      object["server"].toString(), object["protocol"].toString()});
        QCOMPARE(object["user"].toString(), QString("tester"));
        QCOMPARE(object["port"].toString(), QString::number(server.setup().port));
        QVERIFY(QDateTime::fromString(object["time"].toString(), Qt::ISODateWithMs).isValid());
    }
    QCOMPARE(shown, expected);
    const Outcome newest = runCli({"--history=1"}, programDir.environment());
    QVERIFY2(newest.output.count('\n') == 1 &&
                 newest.output.contains("  Test server  " + expected[0][1].toUtf8() + '\n'),
             newest.output.constData());
}

void TestHistoryE2E::deletesFromServers_data() {
    QTest::addColumn<QString>("kind");
    // Removed from the server before --delete.
    QTest::addColumn<bool>("goneBefore");
    // Replaced on the server by a file of another size before --delete.
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("unknownToo");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    QTest::newRow("pyftpdlib") << "pyftpdlib" << false << false << false << 0 << "";
    QTest::newRow("vsftpd with TLS") << "vsftpd-tls" << false << false << false << 0 << "";
    QTest::newRow("OpenSSH") << "sshd" << false << false << false << 0 << "";
    QTest::newRow("psftp") << "psftp" << false << false << false << 0 << "";
    QTest::newRow("file gone already")
        << "pyftpdlib" << true << false << false << 1 << "\"/photo.jpg\" is not on the server";
    const QString replaced = "it is not the file uploaded (5 bytes there,";
    QTest::newRow("file replaced, OpenSSH") << "sshd" << false << true << false << 1 << replaced;
    QTest::newRow("file replaced, psftp") << "psftp" << false << true << false << 1 << replaced;
    QTest::newRow("address not in the history")
        << "pyftpdlib" << false << false << true << 2 << "\"http://127.0.0.1/z.txt\" is no upload";
}

void TestHistoryE2E::deletesFromServers() {
    QFETCH(QString, kind);
    QFETCH(bool, goneBefore);
    QFETCH(bool, replaced);
    QFETCH(bool, unknownToo);
    QFETCH(int, code);
    QFETCH(QString, said);
    const Target server(kind);
    if (server.unavailable())
        QSKIP(qPrintable(server.problem()));
    QVERIFY2(server.problem().isEmpty(), qPrintable(server.problem()));
    const TempProgramDir programDir;
    saveServerConfig(server.setup());
    const QProcessEnvironment environment = server.environment(programDir);
    const Outcome upload = runCli(
        {"--thumbnails", m_local.filePath("photo.jpg"), m_local.filePath("a.txt")}, environment);
    QVERIFY2(upload.code == 0, upload.error.constData());
    QVERIFY(QFile::exists(server.onDisk("photo_thumb.jpg")));
    if (goneBefore)
        QVERIFY(QFile::remove(server.onDisk("photo.jpg")));
    if (replaced)
        writeFile(server.onDisk("photo.jpg"), "other");

    const QString url = "http://127.0.0.1/photo.jpg";
    QStringList urls{url};
    if (unknownToo)
        urls.append("http://127.0.0.1/z.txt");
    const Outcome deleted = runCli(QStringList{"--delete"} + urls, environment);
    QVERIFY2(deleted.code == code, deleted.error.constData());
    QVERIFY2(deleted.error.contains(said.toUtf8()), deleted.error.constData());
    const bool done = code == 0;
    QCOMPARE(deleted.output, done ? url.toUtf8() + '\n' : QByteArray());
    QCOMPARE(QFile::exists(server.onDisk("photo.jpg")), !done && !goneBefore);
    QCOMPARE(QFile::exists(server.onDisk("photo_thumb.jpg")), !done);
    QVERIFY(QFile::exists(server.onDisk("a.txt")));
    const QList<QStringList> rows =
        storedRows(programDir.filePath("history.sqlite"), "deleted_time IS NOT NULL");
    QCOMPARE(rows, (QList<QStringList>{{"a.txt", "0"}, {"photo.jpg", done ? "1" : "0"}}));
}

void TestHistoryE2E::renamedFileKeepsItsEntry_data() {
    // Whether the second upload, the one that renames, is recorded.
    QTest::addColumn<bool>("recorded");
    QTest::newRow("history on") << true;
    QTest::newRow("history off for the second upload") << false;
}

void TestHistoryE2E::renamedFileKeepsItsEntry() {
    QFETCH(bool, recorded);
    const Target server("pyftpdlib");
    QVERIFY2(server.problem().isEmpty(), qPrintable(server.problem()));
    const TempProgramDir programDir;
    saveServerConfig(server.setup());
    const QProcessEnvironment environment = programDir.environment();
    const QTemporaryDir later;
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    const QString second = later.filePath("photo.jpg");
    QVERIFY(picture.save(second, "JPEG"));
    const QString first = m_local.filePath("photo.jpg");
    QVERIFY(runCli({"--thumbnails", first}, environment).code == 0);
    saveServerConfig(server.setup(), {{"History", SettingValue::boolean(recorded)}});
    const Outcome again = runCli({"--thumbnails", "--on-exists=rename", second}, environment);
    QVERIFY2(again.code == 0, again.error.constData());
    // The first upload moved aside, thumbnail and all.
    QCOMPARE(readFile(server.onDisk("photo_001.jpg")), readFile(first));
    QVERIFY(QFile::exists(server.onDisk("photo_thumb_001.jpg")));
    const QString path = programDir.filePath("history.sqlite");
    QList<QStringList> rows{{"photo_001.jpg", "http://127.0.0.1/photo_001.jpg",
                             "photo_thumb_001.jpg", "http://127.0.0.1/photo_thumb_001.jpg"}};
    if (recorded)
        rows.prepend({"photo.jpg", "http://127.0.0.1/photo.jpg", "photo_thumb.jpg",
                      "http://127.0.0.1/photo_thumb.jpg"});
    QCOMPARE(storedRows(path, "url, thumbnail, thumbnail_url"), rows);

    // Deleting the first upload deletes it, not the second.
    const Outcome deleted = runCli({"--delete", "http://127.0.0.1/photo_001.jpg"}, environment);
    QVERIFY2(deleted.code == 0, deleted.error.constData());
    QVERIFY(!QFile::exists(server.onDisk("photo_001.jpg")));
    QVERIFY(!QFile::exists(server.onDisk("photo_thumb_001.jpg")));
    QCOMPARE(readFile(server.onDisk("photo.jpg")), readFile(second));
    QVERIFY(QFile::exists(server.onDisk("photo_thumb.jpg")));
}

void TestHistoryE2E::deletesOnlyTheFileUploaded_data() {
    // How the server entry or the server changed between upload and delete.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("said");
    QTest::newRow("another user") << "user"
                                  << "uploaded as the user \"tester\"";
    QTest::newRow("another port") << "port"
                                  << "uploaded through port";
    QTest::newRow("another file of the same name")
        << "size"
        << "it is not the file uploaded (14 bytes there, 8 bytes uploaded)";
    QTest::newRow("login not recorded") << "unrecorded"
                                        << "does not know which login";
    QTest::newRow("size not told") << "nosize"
                                   << "does not tell its size";
}

void TestHistoryE2E::deletesOnlyTheFileUploaded() {
    QFETCH(QString, change);
    QFETCH(QString, said);
    FtpServer server(change == "nosize" ? QString("nosize") : QString("seconduser"));
    const FtpServer other;
    QUADDLE_REQUIRE_SERVER(server);
    QUADDLE_REQUIRE_SERVER(other);
    const TempProgramDir programDir;
    ServerSetup setup = setupFor(server);
    saveServerConfig(setup);
    const QProcessEnvironment environment = programDir.environment();
    const QString report = writeFile(m_local.filePath("report.txt"), "report-1");
    const Outcome upload = runCli({report}, environment);
    QVERIFY2(upload.code == 0, upload.error.constData());

    // The file that a delete must leave: another one of the same name, or the one uploaded.
    QString kept = server.localPath("report.txt");
    if (change == "user") {
        kept = server.localPath("bob/report.txt");
        writeFile(kept, "bobs-own");
        setup.user = "bob";
    } else if (change == "port") {
        kept = other.localPath("report.txt");
        writeFile(kept, "others-1");
        setup.port = other.port();
    } else if (change == "size") {
        writeFile(kept, "someone else's");
    } else if (change == "unrecorded") {
        QVERIFY(changeHistory(programDir.filePath("history.sqlite"),
                              "UPDATE uploads SET user = NULL, port = NULL"));
    }
    saveServerConfig(setup);
    const QByteArray before = readFile(kept);
    const Outcome deleted = runCli({"--delete", "http://127.0.0.1/report.txt"}, environment);
    QVERIFY2(deleted.code == 1, deleted.error.constData());
    QVERIFY2(
        deleted.error.contains("\"report.txt\" on the server \"Test server\" was not deleted") &&
            deleted.error.contains(said.toUtf8()),
        deleted.error.constData());
    QCOMPARE(deleted.output, QByteArray());
    QCOMPARE(readFile(kept), before);
    QCOMPARE(storedRows(programDir.filePath("history.sqlite"), "deleted_time IS NOT NULL"),
             (QList<QStringList>{{"report.txt", "0"}}));
}

void TestHistoryE2E::mirrorEntriesAreDeletedApart() {
    const FtpServer main;
    const FtpServer mirror;
    QUADDLE_REQUIRE_SERVER(main);
    QUADDLE_REQUIRE_SERVER(mirror);
    const TempProgramDir programDir;
    ServerSetup mainSetup = setupFor(main);
    mainSetup.name = "Main";
    ServerSetup mirrorSetup = setupFor(mirror);
    mirrorSetup.name = "Mirror";
    saveServers({mainSetup, mirrorSetup});
    const QProcessEnvironment environment = programDir.environment();
    const QString report = writeFile(m_local.filePath("report.txt"), "report-1");
    for (const QString& selector : QStringList{":0", ":1"}) {
        const Outcome upload = runCli({selector, report}, environment);
        QVERIFY2(upload.code == 0, upload.error.constData());
    }

    // Each delete reaches one of the two files, and marks that one's entry only.
    const QString url = "http://127.0.0.1/report.txt";
    const Outcome first = runCli({"--delete", url}, environment);
    QVERIFY2(first.code == 0, first.error.constData());
    QVERIFY(!QFile::exists(mirror.localPath("report.txt")));
    QVERIFY(QFile::exists(main.localPath("report.txt")));
    const QString path = programDir.filePath("history.sqlite");
    QCOMPARE(storedRows(path, "server, deleted_time IS NOT NULL"),
             (QList<QStringList>{{"report.txt", "Mirror", "1"}, {"report.txt", "Main", "0"}}));
    const Outcome second = runCli({"--delete", url}, environment);
    QVERIFY2(second.code == 0, second.error.constData());
    QVERIFY(!QFile::exists(main.localPath("report.txt")));
    QCOMPARE(storedRows(path, "server, deleted_time IS NOT NULL"),
             (QList<QStringList>{{"report.txt", "Mirror", "1"}, {"report.txt", "Main", "1"}}));
}

void TestHistoryE2E::renameFollowedByTwinEntries() {
    // Two entries of one login and folder: the second renames what the first uploaded.
    const FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveTwinEntries(server);
    const QProcessEnvironment environment = programDir.environment();
    const QString report = m_local.filePath("report.txt");
    for (const QString& selector : QStringList{":0", ":1"}) {
        writeFile(report, selector == ":0" ? "report-1" : "report-2");
        const Outcome upload = runCli({selector, "--on-exists=rename", report}, environment);
        QVERIFY2(upload.code == 0, upload.error.constData());
    }
    QCOMPARE(readFile(server.localPath("report_001.txt")), QByteArray("report-1"));
    QCOMPARE(storedRows(programDir.filePath("history.sqlite"), "server, url"),
             (QList<QStringList>{{"report.txt", "Home again", "http://127.0.0.1/report.txt"},
                                 {"report_001.txt", "Home", "http://127.0.0.1/report_001.txt"}}));

    // Deleting the first upload deletes it, not the second one of the same size.
    const Outcome deleted = runCli({"--delete", "http://127.0.0.1/report_001.txt"}, environment);
    QVERIFY2(deleted.code == 0, deleted.error.constData());
    QVERIFY(!QFile::exists(server.localPath("report_001.txt")));
    QCOMPARE(readFile(server.localPath("report.txt")), QByteArray("report-2"));
}

void TestHistoryE2E::overwriteSeenThroughTwinEntries() {
    // Two entries of one login and folder, with their own addresses: the second overwrites what
    // the first uploaded with a file of the same size.
    const FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveTwinEntries(server);
    {
        Config config;
        config.loadConfig(true);
        config.servers[1].urlMask = "http://localhost/$file";
        config.saveConfig();
    }
    const QProcessEnvironment environment = programDir.environment();
    const QString report = m_local.filePath("report.txt");
    for (const QString& selector : QStringList{":0", ":1"}) {
        writeFile(report, selector == ":0" ? "report-1" : "report-2");
        const Outcome upload = runCli({selector, "--on-exists=overwrite", report}, environment);
        QVERIFY2(upload.code == 0, upload.error.constData());
    }

    // Deleting the first upload leaves the second, which took its place.
    const Outcome deleted = runCli({"--delete", "http://127.0.0.1/report.txt"}, environment);
    QVERIFY2(deleted.code == 1, deleted.error.constData());
    QVERIFY2(deleted.error.contains("a later upload of the history replaced it there"),
             deleted.error.constData());
    QCOMPARE(readFile(server.localPath("report.txt")), QByteArray("report-2"));
    const Outcome second = runCli({"--delete", "http://localhost/report.txt"}, environment);
    QVERIFY2(second.code == 0, second.error.constData());
    QVERIFY(!QFile::exists(server.localPath("report.txt")));
    QCOMPARE(storedRows(programDir.filePath("history.sqlite"), "server, deleted_time IS NOT NULL"),
             (QList<QStringList>{{"report.txt", "Home again", "1"}, {"report.txt", "Home", "1"}}));
}

void TestHistoryE2E::keepsThumbnailALaterUploadReplaced() {
    const FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server));
    const QProcessEnvironment environment = programDir.environment();
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString photo = m_local.filePath("photo.jpg");
    QVERIFY(picture.save(photo, "JPEG"));
    const QString own = writeFile(m_local.filePath("photo_thumb.jpg"), "my own file");
    const Outcome first = runCli({"--thumbnails", photo}, environment);
    QVERIFY2(first.code == 0, first.error.constData());
    const Outcome second = runCli({"--on-exists=overwrite", own}, environment);
    QVERIFY2(second.code == 0, second.error.constData());

    // The photo goes; the file uploaded in its thumbnail's place stays, with its entry.
    const Outcome deleted = runCli({"--delete", "http://127.0.0.1/photo.jpg"}, environment);
    QVERIFY2(deleted.code == 0, deleted.error.constData());
    QVERIFY(!QFile::exists(server.localPath("photo.jpg")));
    QCOMPARE(readFile(server.localPath("photo_thumb.jpg")), QByteArray("my own file"));
    QCOMPARE(storedRows(programDir.filePath("history.sqlite"), "deleted_time IS NOT NULL"),
             (QList<QStringList>{{"photo_thumb.jpg", "0"}, {"photo.jpg", "1"}}));
}

void TestHistoryE2E::sameNameTwiceInOneUpload_data() {
    QTest::addColumn<QString>("connections");
    QTest::addColumn<QString>("onExists");
    QTest::newRow("one connection, rename") << "1"
                                            << "rename";
    QTest::newRow("three connections, overwrite") << "3"
                                                  << "overwrite";
}

void TestHistoryE2E::sameNameTwiceInOneUpload() {
    QFETCH(QString, connections);
    QFETCH(QString, onExists);
    const FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server));
    const QProcessEnvironment environment = programDir.environment();
    const QTemporaryDir other;
    const QString first = writeFile(m_local.filePath("same.txt"), "first");
    const QString second = writeFile(other.filePath("same.txt"), "later");
    const Outcome upload = runCli(
        {"--connections=" + connections, "--on-exists=" + onExists, first, second}, environment);

    // The first goes up and keeps its address; the second, which would replace it, stays home.
    QVERIFY2(upload.code == 1, upload.error.constData());
    QVERIFY2(upload.error.contains(("\"" + second +
                                    "\" was not uploaded: another file of this upload goes to "
                                    "the server as \"same.txt\".")
                                       .toUtf8()),
             upload.error.constData());
    QCOMPARE(upload.output, QByteArray("http://127.0.0.1/same.txt\n"));
    QCOMPARE(QDir(server.localPath("")).entryList({"same*"}, QDir::Files), QStringList{"same.txt"});
    QCOMPARE(readFile(server.localPath("same.txt")), QByteArray("first"));
    QCOMPARE(storedRows(programDir.filePath("history.sqlite"), "size"),
             (QList<QStringList>{{"same.txt", "5"}}));
}

void TestHistoryE2E::recordsWhatWasSent_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint64>("size");
    // Every byte of the local file changed while it goes.
    QTest::addColumn<bool>("rewritten");
    QTest::newRow("FTP, rewritten while it goes") << "slowstor" << (qint64(8) << 20) << true;
    QTest::newRow("SFTP, rewritten while it goes") << "sshd" << (qint64(64) << 20) << true;
    QTest::newRow("FTPS") << "vsftpd-tls" << (qint64(8) << 20) << false;
}

void TestHistoryE2E::recordsWhatWasSent() {
    QFETCH(QString, kind);
    QFETCH(qint64, size);
    QFETCH(bool, rewritten);
    Target server(kind);
    if (server.unavailable())
        QSKIP(qPrintable(server.problem()));
    QVERIFY2(server.problem().isEmpty(), qPrintable(server.problem()));
    const TempProgramDir programDir;
    saveServerConfig(server.setup());
    const QTemporaryDir local;
    const QString path = randomLocalFile(local, "big.bin", size);
    const QString original = sha256Of(path);
    const QString arrived = server.onDisk("big.bin");
    ProgramRun program(QStringList{"--cli", "--accept-new", path}, server.environment(programDir));
    if (rewritten) {
        while (program.running() && QFileInfo(arrived).size() == 0)
            QTest::qWait(2);
        server.holdSessions(true);
        const qint64 partial = QFileInfo(arrived).size();
        const bool changed = invertBytes(path);
        server.holdSessions(false);
        QVERIFY(changed);
        QVERIFY2(partial > 0 && partial < size, qPrintable(QString::number(partial)));
    }
    QVERIFY(program.waitForExit(90000));
    QVERIFY2(program.exitCode() == 0, program.errorOutput().constData());
    const QString sent = sha256Of(arrived);
    QCOMPARE(QFileInfo(arrived).size(), size);
    QCOMPARE(storedRows(programDir.filePath("history.sqlite"), "sha256"),
             (QList<QStringList>{{"big.bin", sent}}));
    // The server got some of each: the file changed in the middle of sending.
    if (rewritten)
        QVERIFY(sent != original && sent != sha256Of(path));
}

QTEST_GUILESS_MAIN(TestHistoryE2E)
#include "TestHistoryE2E.moc"
