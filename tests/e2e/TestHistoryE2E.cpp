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
        if (kind == "sshd") {
            m_ssh = std::make_unique<SshServer>();
            m_setup.type = "1";
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
    QTest::addColumn<bool>("unknownToo");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    QTest::newRow("pyftpdlib") << "pyftpdlib" << false << false << 0 << "";
    QTest::newRow("vsftpd with TLS") << "vsftpd-tls" << false << false << 0 << "";
    QTest::newRow("OpenSSH") << "sshd" << false << false << 0 << "";
    QTest::newRow("file gone already")
        << "pyftpdlib" << true << false << 1 << "\"/photo.jpg\" is not on the server";
    QTest::newRow("address not in the history")
        << "pyftpdlib" << false << true << 2 << "\"http://127.0.0.1/z.txt\" is no upload";
}

void TestHistoryE2E::deletesFromServers() {
    QFETCH(QString, kind);
    QFETCH(bool, goneBefore);
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
