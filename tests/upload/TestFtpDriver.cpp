#include "FtpServer.h"
#include "LocalFiles.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "platform/Error.h"
#include "upload/FtpClient.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadErrors.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

using namespace quaddle;
using quaddle::test::FtpServer;

namespace {

// For the tests whose server never answers, in place of the real 15 seconds.
constexpr int ShortTimeoutMs = 1000;
// What the server's system and pyftpdlib may hold of a file before it is on disk.
constexpr qint64 MaxAheadOfServer = qint64(1) << 20;

// Whether this process has the file open, as /proc lists its descriptors.
bool holdsOpen(const QString& path) {
    const QDir descriptors("/proc/self/fd");
    for (const QString& entry : descriptors.entryList(QDir::System | QDir::NoDotAndDotDot))
        if (QFile::symLinkTarget(descriptors.filePath(entry)) == path)
            return true;
    return false;
}

} // namespace

class TestFtpDriver : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void uploadsFilesByteForByte_data();
    void uploadsFilesByteForByte();
    void existenceAsTheServerTellsIt_data();
    void existenceAsTheServerTellsIt();
    void renamesAndMakesDirectories_data();
    void renamesAndMakesDirectories();
    void wholeRunThroughTheSession_data();
    void wholeRunThroughTheSession();
    void refusedLoginIsRetriedOnTheSameConnection();
    void passIsSentAfterUserLogsIn();
    void multiLineGreeting();
    void preliminary125InActiveMode();
    void existingFileIsNeverOverwrittenBlindly_data();
    void existingFileIsNeverOverwrittenBlindly();
    void brokenLoginIsNamedNotRefused_data();
    void brokenLoginIsNamedNotRefused();
    void passwordLikeCommandsAreMasked();
    void lineBreakInNameIsNeverSent();
    void stalledReplyTimesOut();
    void cancelDuringLargeUpload();
    void cancelAtTheLastBlock_data();
    void cancelAtTheLastBlock();
    void progressIsWhatTheServerReceived();
    void connectionClosedDuringStore();
    void refusedStore();
    void brokenPassiveReplyIsAnError();
    void unreachableServer_data();
    void unreachableServer();
    void silentServerTimesOutWithReason();
    void cancelDuringLoginEndsQuietly_data();
    void cancelDuringLoginEndsQuietly();
    void activeDataConnectionOnlyFromTheServer();
    void abortIsHarmlessAnyTime();
    void eventLoopRunsDuringUpload();

private:
    // A session against server, logged in and in its upload folder.
    UploadSession& connected(FtpServer& server, bool passive = true);
    QStringList logLines() const { return m_session->logLines(); }

    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
    std::unique_ptr<UploadSession> m_session;
    QList<qint64> m_progressBar;
    std::function<void(qint64 sent)> m_onSent;
};

void TestFtpDriver::init() {
    m_local = std::make_unique<QTemporaryDir>();
    m_dialogs = std::make_unique<test::ScriptedDialogs>();
    m_progressBar.clear();
}

void TestFtpDriver::cleanup() {
    m_session.reset();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_dialogs.reset();
    m_local.reset();
}

UploadSession& TestFtpDriver::connected(FtpServer& server, bool passive) {
    m_session = std::make_unique<UploadSession>(
        [this](const QString&, qint64, qint64 sent) {
            m_progressBar.append(sent);
            if (m_onSent)
                m_onSent(sent);
        },
        [](const QString&, int) {}, 0, PolicyOverwrite, true, standardDrivers(QString()));
    if (passive)
        m_session->driver().setOption(ProtocolDriver::PassiveMode);
    if (!m_session->login("127.0.0.1", QString::number(server.port()), server.user(),
                          server.password()) ||
        !m_session->enterDir(server.uploadDir(), false, false))
        qFatal("cannot log in to the test server");
    return *m_session;
}

namespace {

void addServerRows(const char* what) {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("passive");
    for (const auto& [kind, name] : {std::pair{FtpServer::Kind::Pyftpdlib, "pyftpdlib"},
                                     std::pair{FtpServer::Kind::Vsftpd, "vsftpd"}})
        for (const bool passive : {true, false})
            QTest::addRow("%s %s, %s", what, name, passive ? "passive" : "active")
                << int(kind) << passive;
}

} // namespace

void TestFtpDriver::uploadsFilesByteForByte_data() {
    addServerRows("upload to");
}

void TestFtpDriver::uploadsFilesByteForByte() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    FtpServer server{FtpServer::Kind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    ProtocolDriver& driver = connected(server, passive).driver();

    for (const qint64 size : {qint64(1000), qint64(0), qint64(50) << 20}) {
        const QString name = QStringLiteral("file%1.bin").arg(size);
        const QString path = test::randomLocalFile(*m_local, name, size);
        m_progressBar.clear();
        QVERIFY2(driver.putFile(path), qPrintable(driver.lastError()));
        QCOMPARE(test::fileChecksum(server.localPath(name)), test::fileChecksum(path));
        QCOMPARE(QFileInfo(server.localPath(name)).size(), size);
        // The start twice (the file's, then its transfer's), then more each time, up to all.
        QCOMPARE(m_progressBar.mid(0, 2), (QList<qint64>{0, 0}));
        QCOMPARE(m_progressBar.last(), size);
        QVERIFY(std::adjacent_find(m_progressBar.cbegin() + 1, m_progressBar.cend(),
                                   std::greater_equal<>()) == m_progressBar.cend());
    }
    QVERIFY(logLines().contains(passive ? QString("--> EPSV\t0") : QString("--> TYPE I\t0")));
    QCOMPARE(
        logLines().filter(QRegularExpression("^--> PORT \\d+,\\d+,\\d+,\\d+,\\d+,\\d+\t0$")).size(),
        passive ? 0 : 3);
}

void TestFtpDriver::existenceAsTheServerTellsIt_data() {
    QTest::addColumn<QString>("fault"); // empty: pyftpdlib as it comes; "vsftpd"
    QTest::addColumn<bool>("passive");
    QTest::addColumn<bool>("canTell"); // whether the server lets absent names be told apart
    // Asked in one batch, the names are looked up in one listing (MLSD, else NLST) where the
    // server gives one.
    QTest::addColumn<bool>("batch");
    for (const bool batch : {false, true}) {
        const char* asked = batch ? "batch" : "one by one";
        QTest::addRow("SIZE and MLST, %s", asked) << "" << true << true << batch;
        QTest::addRow("SIZE and NLST, active, %s", asked) << "vsftpd" << false << true << batch;
        QTest::addRow("MLST alone, %s", asked) << "nosize" << true << true << batch;
        QTest::addRow("NLST alone, %s", asked) << "listonly" << true << true << batch;
        QTest::addRow("names kept from view, %s", asked) << "unlistable" << true << false << batch;
    }
}

void TestFtpDriver::existenceAsTheServerTellsIt() {
    QFETCH(QString, fault);
    QFETCH(bool, passive);
    QFETCH(bool, canTell);
    QFETCH(bool, batch);
    const std::unique_ptr<FtpServer> server =
        fault.isEmpty()     ? std::make_unique<FtpServer>()
        : fault == "vsftpd" ? std::make_unique<FtpServer>(FtpServer::Kind::Vsftpd)
                            : std::make_unique<FtpServer>(fault);
    QUADDLE_REQUIRE_SERVER(*server);
    ProtocolDriver& driver = connected(*server, passive).driver();
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, "empty.txt", 0)));
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, "five.txt", 5)));
    // Name lists may leave hidden names out.
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, ".hidden", 5)));
    QVERIFY(driver.makeDir("folder"));
    // A folder of the name is in the way as much as a file.
    const QStringList present{"empty.txt", "five.txt", ".hidden", "folder"};
    const QStringList absent{"missing.txt", "five.tx", "ive.txt", ".gone"};
    const qsizetype linesBefore = logLines().size();
    if (batch)
        driver.prefetchExistence(present + absent);
    for (const QString& name : present)
        QVERIFY2(driver.fileExists(name), qPrintable(name));
    // A server that cannot tell has every name taken, so nothing is overwritten blindly.
    for (const QString& name : absent)
        QVERIFY2(driver.fileExists(name) == !canTell, qPrintable(name));
    // From a listing, only hidden names missing from a name list are asked for one by one.
    const QStringList asked =
        logLines().mid(linesBefore).filter(QRegularExpression("^--> SIZE [^.]"));
    if (batch && canTell)
        QVERIFY2(asked.isEmpty(), qPrintable(asked.join(", ")));
}

void TestFtpDriver::renamesAndMakesDirectories_data() {
    addServerRows("rename and MKD on");
}

void TestFtpDriver::renamesAndMakesDirectories() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    FtpServer server{FtpServer::Kind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    ProtocolDriver& driver = connected(server, passive).driver();
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, "photo.jpg", 300)));
    QVERIFY(driver.renameFile("photo.jpg", "photo_001.jpg"));
    QVERIFY(QFile::exists(server.localPath("photo_001.jpg")));
    QVERIFY(!QFile::exists(server.localPath("photo.jpg")));
    QVERIFY(!driver.renameFile("nothing.jpg", "other.jpg"));
    QVERIFY(!driver.lastError().isEmpty());

    QVERIFY(!driver.changeDir("gallery"));
    QVERIFY(driver.makeDir("gallery"));
    QVERIFY(driver.changeDir("gallery"));
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, "inside.jpg", 10)));
    QVERIFY(QFile::exists(server.localPath("gallery/inside.jpg")));
}

void TestFtpDriver::wholeRunThroughTheSession_data() {
    addServerRows("run on");
}

void TestFtpDriver::wholeRunThroughTheSession() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    FtpServer server{FtpServer::Kind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyRename, true,
                                                standardDrivers(QString()));
    if (passive)
        m_session->driver().setOption(ProtocolDriver::PassiveMode);
    QVERIFY(m_session->login("127.0.0.1", QString::number(server.port()), server.user(),
                             server.password()));
    QVERIFY(m_session->enterDir(server.uploadDir(), false, true));
    m_dialogs->expectMissingDir("./gallery/2024", MissingDirAnswer::Create);
    QVERIFY(m_session->enterDir("./gallery/2024", false, true));

    const FileList files{{test::randomLocalFile(*m_local, "a.jpg", 2000),
                          test::randomLocalFile(*m_local, "a_thumb.jpg", 200)},
                         {test::randomLocalFile(*m_local, "b.zip", 5000), QString()}};
    QCOMPARE(m_session->uploadFiles(files).size(), 2);
    const UploadResults again = m_session->uploadFiles(files);
    QCOMPARE(again, (UploadResults{{"a.jpg", "a_thumb.jpg"}, {"b.zip", ""}}));
    QCOMPARE(m_session->renamedFiles(), (RenamedFiles{{"a.jpg", "a_001.jpg"},
                                                      {"a_thumb.jpg", "a_thumb_001.jpg"},
                                                      {"b.zip", "b_001.zip"}}));
    for (const QString& name :
         QStringList{"a.jpg", "a_001.jpg", "a_thumb_001.jpg", "b.zip", "b_001.zip"})
        QVERIFY2(QFile::exists(server.localPath("gallery/2024/" + name)), qPrintable(name));
    QCOMPARE(m_session->bytesDone(), m_session->bytesTotal());
}

void TestFtpDriver::refusedLoginIsRetriedOnTheSameConnection() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyOverwrite,
                                                true, standardDrivers(QString()));
    ProtocolDriver& driver = m_session->driver();
    const QString port = QString::number(server.port());
    QVERIFY(!driver.connect("127.0.0.1", port, server.user(), "wrong"));
    QVERIFY(driver.connect("127.0.0.1", port, server.user(), server.password()));
    QCOMPARE(logLines().filter(QRegularExpression("^220 ")).size(), 1);
    QCOMPARE(logLines().filter("--> USER").size(), 2);
    // TYPE follows every login, also the refused one.
    QCOMPARE(logLines().filter("--> TYPE I").size(), 2);
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, "after.txt", 3)));
}

void TestFtpDriver::passIsSentAfterUserLogsIn() {
    FtpServer server("user230");
    QUADDLE_REQUIRE_SERVER(server);
    connected(server);
    const QStringList log = logLines();
    const qsizetype user = log.indexOf("--> USER " + server.user() + "\t0");
    QVERIFY(user >= 0);
    QVERIFY(log.at(user + 1).startsWith("230 "));
    QCOMPARE(log.at(user + 2), QStringLiteral("--> (Password)\t0"));
}

void TestFtpDriver::multiLineGreeting() {
    FtpServer server("multiline220");
    QUADDLE_REQUIRE_SERVER(server);
    connected(server);
    const QStringList log = logLines();
    QCOMPARE(log.at(0), QStringLiteral("220-Welcome to the\t0"));
    QCOMPARE(log.at(2), QStringLiteral(" indented continuation\t0"));
    QCOMPARE(log.at(3), QStringLiteral("220 Ready.\t0"));
    QVERIFY(m_session->driver().putFile(test::randomLocalFile(*m_local, "x.txt", 10)));
}

void TestFtpDriver::preliminary125InActiveMode() {
    FtpServer server("force125");
    QUADDLE_REQUIRE_SERVER(server);
    QVERIFY(
        connected(server, false).driver().putFile(test::randomLocalFile(*m_local, "x.txt", 5000)));
    QVERIFY(!logLines().filter(QRegularExpression("^125 ")).isEmpty());
    QCOMPARE(QFileInfo(server.localPath("x.txt")).size(), 5000);
}

void TestFtpDriver::existingFileIsNeverOverwrittenBlindly_data() {
    QTest::addColumn<QString>("fault"); // empty: pyftpdlib as it comes
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<int>("policy");
    QTest::addColumn<QByteArray>("kept");    // what "photo.jpg" holds afterwards
    QTest::addColumn<QByteArray>("renamed"); // what "photo_001.jpg" holds; empty: none
    QTest::newRow("empty file, skip")
        << "" << QByteArray() << int(PolicySkip) << QByteArray() << QByteArray();
    QTest::newRow("without SIZE, asked: skip")
        << "nosize" << QByteArray("old") << int(PolicyAsk) << QByteArray("old") << QByteArray();
    QTest::newRow("without SIZE, rename") << "nosize" << QByteArray("old") << int(PolicyRename)
                                          << QByteArray("new") << QByteArray("old");
    QTest::newRow("names kept from view, skip")
        << "unlistable" << QByteArray("old") << int(PolicySkip) << QByteArray("old")
        << QByteArray();
}

void TestFtpDriver::existingFileIsNeverOverwrittenBlindly() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, old);
    QFETCH(int, policy);
    QFETCH(QByteArray, kept);
    QFETCH(QByteArray, renamed);
    const std::unique_ptr<FtpServer> server =
        fault.isEmpty() ? std::make_unique<FtpServer>() : std::make_unique<FtpServer>(fault);
    QUADDLE_REQUIRE_SERVER(*server);
    QFile remote(server->localPath("photo.jpg"));
    QVERIFY(remote.open(QIODevice::WriteOnly) && remote.write(old) == old.size());
    remote.close();
    QFile local(m_local->filePath("photo.jpg"));
    QVERIFY(local.open(QIODevice::WriteOnly) && local.write("new") == 3);
    local.close();
    if (policy == PolicyAsk)
        m_dialogs->expectFileExists("photo.jpg", {FileExistsChoice::Skip, false});
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, policy, true,
                                                standardDrivers(QString()));
    m_session->driver().setOption(ProtocolDriver::PassiveMode);
    QVERIFY(m_session->login("127.0.0.1", QString::number(server->port()), server->user(),
                             server->password()));
    QVERIFY(m_session->enterDir(server->uploadDir(), false, false));
    QCOMPARE(m_session->uploadFiles({{local.fileName(), QString()}}).size(), 1);
    QVERIFY(remote.open(QIODevice::ReadOnly));
    QCOMPARE(remote.readAll(), kept);
    QFile renamedFile(server->localPath("photo_001.jpg"));
    QCOMPARE(renamedFile.exists(), !renamed.isEmpty());
    if (renamedFile.open(QIODevice::ReadOnly))
        QCOMPARE(renamedFile.readAll(), renamed);
}

void TestFtpDriver::brokenLoginIsNamedNotRefused_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error"); // the error's first line, then "host, port N: " and why
    QTest::addColumn<QString>("reason");
    const QString endless = UploadErrors::ProtocolViolation;
    const QString login = UploadErrors::LoginFailed;
    const QString manyLines = QStringLiteral("The server sent a reply of more than %1 lines.")
                                  .arg(FtpReplyReader::MaxReplyLines);
    QTest::newRow("endless greeting") << "endless:greeting" << endless << manyLines;
    QTest::newRow("endless reply to USER") << "endless:USER" << endless << manyLines;
    QTest::newRow("huge line to PASS")
        << "hugeline:PASS" << endless
        << QStringLiteral("The server sent a reply line of more than %1 bytes.")
               .arg(FtpReplyReader::MaxLine);
    QTest::newRow("421 to USER") << "421:USER" << login
                                 << "421 Service not available, closing control connection.";
    QTest::newRow("closed at PASS")
        << "close:PASS" << login << "The remote host closed the connection";
}

void TestFtpDriver::brokenLoginIsNamedNotRefused() {
    QFETCH(QString, fault);
    QFETCH(QString, error);
    QFETCH(QString, reason);
    FtpServer server(fault);
    QUADDLE_REQUIRE_SERVER(server);
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyOverwrite,
                                                true, standardDrivers(QString()));
    const QString port = QString::number(server.port());
    // No "Login incorrect": the scripted dialogs expect no message.
    try {
        m_session->login("127.0.0.1", port, server.user(), server.password());
        QFAIL("the login went on");
    } catch (const Error& failure) {
        QCOMPARE(failure.message(), error + "\n127.0.0.1, port " + port + ": " + reason);
    }
    // The log keeps one bounded reply, not what the server went on sending.
    QVERIFY(logLines().size() < FtpReplyReader::MaxReplyLines + 10);
}

void TestFtpDriver::passwordLikeCommandsAreMasked() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QVERIFY(
        connected(server).driver().putFile(test::randomLocalFile(*m_local, "PASSPORT.jpg", 10)));
    QVERIFY(!logLines().join('\n').contains(server.password()));
    QCOMPARE(logLines().filter("--> (Password)").size(), 2);
    QVERIFY(logLines().filter("--> STOR").isEmpty());
}

void TestFtpDriver::lineBreakInNameIsNeverSent() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    ProtocolDriver& driver = connected(server).driver();
    QVERIFY(!driver.putFile(test::randomLocalFile(*m_local, "evil\r\nDELE victim.txt", 10)));
    QCOMPARE(driver.lastError(),
             QStringLiteral("The name contains a line break, which cannot be sent to the server."));
    QVERIFY(logLines().filter("DELE").isEmpty());
    QVERIFY(!driver.changeDir("a\nb"));
    // The session goes on: the connection is still usable.
    QVERIFY(driver.putFile(test::randomLocalFile(*m_local, "fine.txt", 10)));
}

void TestFtpDriver::stalledReplyTimesOut() {
    FtpServer server("stallcwd");
    QUADDLE_REQUIRE_SERVER(server);
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyOverwrite,
                                                true, standardDrivers(QString()));
    ProtocolDriver& driver = m_session->driver();
    driver.setAnswerTimeout(ShortTimeoutMs);
    QVERIFY(driver.connect("127.0.0.1", QString::number(server.port()), server.user(),
                           server.password()));
    // The time-out closes the connection: no missing directory to offer to create.
    try {
        driver.changeDir("somewhere");
        QFAIL("no error on the closed connection");
    } catch (const Error& error) {
        QCOMPARE(error.message(), UploadErrors::ConnectionLost);
    }
    QCOMPARE(driver.lastError(), QStringLiteral("426 Timeout"));
    QVERIFY_THROWS_EXCEPTION(Error, driver.makeDir("next"));
}

void TestFtpDriver::cancelDuringLargeUpload() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString path = test::randomLocalFile(*m_local, "large.bin", qint64(200) << 20);
    UploadSession& upload = connected(server);
    // The Cancel button, pressed once the transfer is well under way.
    QElapsedTimer sinceCancel;
    QTimer cancelButton;
    cancelButton.setSingleShot(true);
    connect(&cancelButton, &QTimer::timeout, this, [&] {
        sinceCancel.start();
        upload.cancel();
    });
    m_onSent = [&](qint64 sent) {
        if (sent > (8 << 20) && !cancelButton.isActive() && !sinceCancel.isValid())
            cancelButton.start(0);
    };
    QVERIFY(!upload.driver().putFile(path));
    m_onSent = nullptr;
    QVERIFY(sinceCancel.isValid());
    QVERIFY2(sinceCancel.elapsed() < 5000, "the transfer did not stop at Cancel");
    QVERIFY(m_progressBar.last() < (qint64(200) << 20));
    QVERIFY(!holdsOpen(path));
    QVERIFY(logLines().contains("CANCEL\t1"));
    QVERIFY_THROWS_EXCEPTION(Error, upload.driver().fileExists("large.bin"));
}

void TestFtpDriver::cancelAtTheLastBlock_data() {
    QTest::addColumn<qint64>("size");
    QTest::newRow("one block") << qint64(1000);
    QTest::newRow("one batch") << qint64(FtpClient::SendWindow);
    QTest::newRow("several batches") << qint64(300'000);
}

void TestFtpDriver::cancelAtTheLastBlock() {
    QFETCH(qint64, size);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString path = test::randomLocalFile(*m_local, "last.bin", size);
    UploadSession& upload = connected(server);
    // Cancel pressed as the last bytes arrive: while the server's answer is awaited, or as it
    // comes.
    m_onSent = [&](qint64 sent) {
        if (sent == size && !upload.cancelled())
            upload.cancel();
    };
    QVERIFY(!upload.driver().putFile(path));
    m_onSent = nullptr;
    QVERIFY(upload.cancelled());
    QVERIFY(!holdsOpen(path));
}

void TestFtpDriver::progressIsWhatTheServerReceived() {
    // A server that takes 1 MiB a second: progress that counted what the system holds for
    // sending would reach the end long before the server's file does.
    FtpServer server("slowstor");
    QUADDLE_REQUIRE_SERVER(server);
    const qint64 size = qint64(4) << 20;
    const QString path = test::randomLocalFile(*m_local, "slow.bin", size);
    UploadSession& upload = connected(server);
    const QString arrived = server.localPath("slow.bin");
    qint64 furthestAhead = 0;
    m_onSent = [&](qint64 sent) {
        furthestAhead = std::max(furthestAhead, sent - QFileInfo(arrived).size());
    };
    QVERIFY(upload.driver().putFile(path));
    m_onSent = nullptr;
    QCOMPARE(QFileInfo(arrived).size(), size);
    QCOMPARE(m_progressBar.last(), size);
    QVERIFY(std::is_sorted(m_progressBar.cbegin(), m_progressBar.cend()));
    // Told along the way, never more than the server's own buffers ahead of its disk.
    const auto along = std::count_if(m_progressBar.cbegin(), m_progressBar.cend(),
                                     [size](qint64 sent) { return sent > 0 && sent < size; });
    QVERIFY2(along >= 10, qPrintable(QString::number(along)));
    QVERIFY2(furthestAhead <= MaxAheadOfServer, qPrintable(QString::number(furthestAhead)));
}

void TestFtpDriver::connectionClosedDuringStore() {
    FtpServer server("closestor");
    QUADDLE_REQUIRE_SERVER(server);
    ProtocolDriver& driver = connected(server).driver();
    QVERIFY(!driver.putFile(test::randomLocalFile(*m_local, "big.bin", 20 << 20)));
    QVERIFY(!driver.lastError().isEmpty());
    QVERIFY_THROWS_EXCEPTION(Error,
                             driver.putFile(test::randomLocalFile(*m_local, "next.bin", 10)));
}

void TestFtpDriver::refusedStore() {
    FtpServer server("storfull");
    QUADDLE_REQUIRE_SERVER(server);
    ProtocolDriver& driver = connected(server).driver();
    QVERIFY(!driver.putFile(test::randomLocalFile(*m_local, "a.txt", 100)));
    QVERIFY(driver.lastError().startsWith("552 "));
    QVERIFY(driver.changeDir("/"));
}

void TestFtpDriver::brokenPassiveReplyIsAnError() {
    FtpServer server("badpasv");
    QUADDLE_REQUIRE_SERVER(server);
    ProtocolDriver& driver = connected(server).driver();
    const QString message = "The server's PASV reply names no address: 227 Entering Passive Mode.";
    m_dialogs->expectErrorQuestion(message, false);
    QVERIFY(!driver.putFile(test::randomLocalFile(*m_local, "a.txt", 100)));
    QVERIFY(logLines().contains("FTP Error [227]: " + message + "\t2"));
    // No aborts the connection.
    QVERIFY_THROWS_EXCEPTION(Error, driver.changeDir("/"));
}

void TestFtpDriver::unreachableServer_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");  // empty: a port nothing listens on
    QTest::addColumn<QString>("fault"); // a faulty server to connect to instead
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused") << "127.0.0.1"
                             << ""
                             << ""
                             << "Connection refused";
    QTest::newRow("unknown service") << "127.0.0.1"
                                     << "no-such-service"
                                     << ""
                                     << "The port \"no-such-service\" is no port number.";
    QTest::newRow("invalid host name") << "bad host"
                                       << "21"
                                       << ""
                                       << "Host not found";
    QTest::newRow("421 greeting") << "127.0.0.1"
                                  << ""
                                  << "421:greeting"
                                  << "421 Service not available, closing control connection.";
}

void TestFtpDriver::unreachableServer() {
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    std::unique_ptr<FtpServer> server;
    if (!fault.isEmpty()) {
        server = std::make_unique<FtpServer>(fault);
        QUADDLE_REQUIRE_SERVER(*server);
        port = QString::number(server->port());
    } else if (port.isEmpty()) {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        port = QString::number(closed.serverPort());
    }
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyOverwrite,
                                                true, standardDrivers(QString()));
    try {
        m_session->driver().connect(host, port, "u", "p");
        QFAIL("no error");
    } catch (const Error& error) {
        // A name that is not found is no server that is down.
        const QString check =
            host == "bad host"
                ? QStringLiteral("Is the host name right? No server of that name could be found.")
                : QStringLiteral("Is the server running, and is the port right?");
        QCOMPARE(error.message(), "Could not connect to remote server. Please check your server "
                                  "settings.\n" +
                                      host + ", port " + port + ": " + reason + "\n" + check);
    }
}

void TestFtpDriver::silentServerTimesOutWithReason() {
    FtpServer server("silent");
    QUADDLE_REQUIRE_SERVER(server);
    FtpClient client;
    client.hostName = "127.0.0.1";
    client.port = QString::number(server.port());
    client.timeoutMs = ShortTimeoutMs;
    QVERIFY(!client.open());
    QCOMPARE(client.lastResponse(), QStringLiteral("The server sent no greeting (timed out)"));
}

void TestFtpDriver::cancelDuringLoginEndsQuietly_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("cancelAfter"); // the log line the login waits after
    QTest::newRow("before the greeting") << "silent"
                                         << "";
    QTest::newRow("at USER") << "stall:USER"
                             << "--> USER";
    QTest::newRow("at PASS") << "stall:PASS"
                             << "--> (Password)";
    QTest::newRow("at TYPE") << "stall:TYPE"
                             << "--> TYPE";
}

void TestFtpDriver::cancelDuringLoginEndsQuietly() {
    QFETCH(QString, fault);
    QFETCH(QString, cancelAfter);
    FtpServer server(fault);
    QUADDLE_REQUIRE_SERVER(server);
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyOverwrite,
                                                true, standardDrivers(QString()));
    // The server never answers that step, so the login is still waiting when Cancel comes.
    QTimer cancel;
    connect(&cancel, &QTimer::timeout, this, [&] {
        if (cancelAfter.isEmpty() ||
            !logLines()
                 .filter(QRegularExpression("^" + QRegularExpression::escape(cancelAfter)))
                 .isEmpty()) {
            cancel.stop();
            m_session->cancel();
        }
    });
    cancel.start(5);
    bool loggedIn = true;
    try {
        loggedIn = m_session->login("127.0.0.1", QString::number(server.port()), server.user(),
                                    server.password());
    } catch (const Error& error) {
        QFAIL(qPrintable("an error after Cancel: " + error.message()));
    }
    QVERIFY(!loggedIn);
    QVERIFY(m_session->cancelled());
    // One connection only: no second attempt after Cancel.
    QVERIFY(logLines().filter("--> USER").size() <= 1);
}

void TestFtpDriver::activeDataConnectionOnlyFromTheServer() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    FtpClient client;
    client.hostName = "127.0.0.1";
    client.port = QString::number(server.port());
    client.userName = server.user();
    client.password = server.password();
    // Another local address stands for a stranger who connects to the announced port first.
    QTcpSocket stranger;
    client.onCommand = [&](const QString& line) {
        if (!line.startsWith("PORT "))
            return;
        const QStringList numbers = line.mid(5).split(',');
        QVERIFY(stranger.bind(QHostAddress("127.0.0.2")));
        stranger.connectToHost(QHostAddress::LocalHost,
                               quint16(numbers[4].toUInt() * 256 + numbers[5].toUInt()));
        QVERIFY(stranger.waitForConnected());
    };
    const QString path = test::randomLocalFile(*m_local, "a.bin", 300000);
    QVERIFY(client.open() && client.user() && client.pass() && client.type());
    client.localFileName = path;
    client.hostFileName = "a.bin";
    QVERIFY2(client.store(), qPrintable(client.lastResponse()));
    QCOMPARE(test::fileChecksum(server.localPath("a.bin")), test::fileChecksum(path));
    // Turned away without a byte of the file.
    QVERIFY(stranger.state() == QAbstractSocket::UnconnectedState ||
            stranger.waitForDisconnected());
    QVERIFY(stranger.readAll().isEmpty());
}

void TestFtpDriver::abortIsHarmlessAnyTime() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, 0, PolicyOverwrite,
                                                true, standardDrivers(QString()));
    m_session->driver().abort();
    m_session->driver().abort();
    QVERIFY(m_session->driver().connect("127.0.0.1", QString::number(server.port()), server.user(),
                                        server.password()));
    m_session->driver().abort();
    m_session->driver().abort();
    QVERIFY_THROWS_EXCEPTION(Error, m_session->driver().changeDir("/"));
}

void TestFtpDriver::eventLoopRunsDuringUpload() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString path = test::randomLocalFile(*m_local, "large.bin", qint64(50) << 20);
    ProtocolDriver& driver = connected(server).driver();
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
        ++ticks;
    });
    timer.start(10);
    QVERIFY(driver.putFile(path));
    timer.stop();
    longestGap = std::max(longestGap, clock.elapsed() - last);
    QVERIFY(ticks > 0);
    QVERIFY2(longestGap <= 100, qPrintable(QString::number(longestGap)));
}

QTEST_GUILESS_MAIN(TestFtpDriver)
#include "TestFtpDriver.moc"
