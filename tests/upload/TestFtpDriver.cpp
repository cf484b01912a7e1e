#include "FtpServer.h"
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
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace quaddle;
using quaddle::test::TFtpServer;

namespace {

// Whether this process has the file open, as /proc lists its descriptors.
bool HoldsOpen(const QString& path) {
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
    void emptyRemoteFileCountsAsAbsent_data();
    void emptyRemoteFileCountsAsAbsent();
    void renamesAndMakesDirectories_data();
    void renamesAndMakesDirectories();
    void wholeRunThroughTheSession_data();
    void wholeRunThroughTheSession();
    void refusedLoginIsRetriedOnTheSameConnection();
    void passIsSentAfterUserLogsIn();
    void multiLineGreeting();
    void preliminary125InActiveMode();
    void serverWithoutSizeOverwrites();
    void passwordLikeCommandsAreMasked();
    void lineBreakInNameIsNeverSent();
    void stalledReplyTimesOut();
    void cancelDuringLargeUpload();
    void cancelAtTheLastBlock_data();
    void cancelAtTheLastBlock();
    void connectionClosedDuringStore();
    void refusedStore();
    void brokenPassiveReplyIsAnError();
    void unreachableServer();
    void abortIsHarmlessAnyTime();
    void eventLoopRunsDuringUpload();

private:
    // A session against server, logged in and in its upload folder.
    TUpload& Connected(TFtpServer& server, bool passive = true);
    QString LocalFile(const QString& name, qint64 size);
    QStringList Log() const { return Upload->LogLines(); }

    std::unique_ptr<QTemporaryDir> Local;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<TUpload> Upload;
    QList<qint64> Progress;
    std::function<void(qint64 sent)> OnSent;
};

void TestFtpDriver::init() {
    Local = std::make_unique<QTemporaryDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    Progress.clear();
}

void TestFtpDriver::cleanup() {
    Upload.reset();
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    Local.reset();
}

TUpload& TestFtpDriver::Connected(TFtpServer& server, bool passive) {
    Upload = std::make_unique<TUpload>(
        [this](const QString&, qint64, qint64 sent) {
            Progress.append(sent);
            if (OnSent)
                OnSent(sent);
        },
        [](const QString&, int) {}, 0, PolicyOverwrite, true, StandardDrivers(QString()));
    if (passive)
        Upload->Protokoll().SetOption(TUploadProtokoll::PassiveMode);
    if (!Upload->Login("127.0.0.1", QString::number(server.Port()), server.User(),
                       server.Password()) ||
        !Upload->EnterDir(server.UploadDir(), false, false))
        qFatal("cannot log in to the test server");
    return *Upload;
}

QString TestFtpDriver::LocalFile(const QString& name, qint64 size) {
    QFile file(Local->filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                              block.size() / 4);
        file.write(block.constData(), std::min<qint64>(left, block.size()));
    }
    return file.fileName();
}

namespace {

void AddServerRows(const char* what) {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("passive");
    for (const auto& [kind, name] : {std::pair{TFtpServer::TKind::Pyftpdlib, "pyftpdlib"},
                                     std::pair{TFtpServer::TKind::Vsftpd, "vsftpd"}})
        for (const bool passive : {true, false})
            QTest::addRow("%s %s, %s", what, name, passive ? "passive" : "active")
                << int(kind) << passive;
}

} // namespace

void TestFtpDriver::uploadsFilesByteForByte_data() {
    AddServerRows("upload to");
}

void TestFtpDriver::uploadsFilesByteForByte() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    TFtpServer server{TFtpServer::TKind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server, passive).Protokoll();

    for (const qint64 size : {qint64(1000), qint64(0), qint64(50) << 20}) {
        const QString name = QStringLiteral("file%1.bin").arg(size);
        const QString path = LocalFile(name, size);
        Progress.clear();
        QVERIFY2(driver.PutFile(path), qPrintable(driver.LastError()));
        QCOMPARE(test::FileChecksum(server.LocalPath(name)), test::FileChecksum(path));
        QCOMPARE(QFileInfo(server.LocalPath(name)).size(), size);
        QCOMPARE(Progress.first(), 0);
        QCOMPARE(Progress.last(), size);
        // One report per block, plus the start and the end.
        QCOMPARE(Progress.size(), (size + 1459) / 1460 + 2);
    }
    QVERIFY(Log().contains(passive ? QString("--> PASV\t0") : QString("--> TYPE I\t0")));
    QCOMPARE(Log().filter(QRegularExpression("^--> PORT \\d+,\\d+,\\d+,\\d+,\\d+,\\d+\t0$")).size(),
             passive ? 0 : 3);
}

void TestFtpDriver::emptyRemoteFileCountsAsAbsent_data() {
    AddServerRows("SIZE on");
}

void TestFtpDriver::emptyRemoteFileCountsAsAbsent() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    TFtpServer server{TFtpServer::TKind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server, passive).Protokoll();
    QVERIFY(driver.PutFile(LocalFile("empty.txt", 0)));
    QVERIFY(driver.PutFile(LocalFile("five.txt", 5)));
    QVERIFY(!driver.FileExists("empty.txt"));
    QVERIFY(driver.FileExists("five.txt"));
    QVERIFY(!driver.FileExists("missing.txt"));
}

void TestFtpDriver::renamesAndMakesDirectories_data() {
    AddServerRows("rename and MKD on");
}

void TestFtpDriver::renamesAndMakesDirectories() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    TFtpServer server{TFtpServer::TKind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server, passive).Protokoll();
    QVERIFY(driver.PutFile(LocalFile("photo.jpg", 300)));
    QVERIFY(driver.RenameFile("photo.jpg", "photo_001.jpg"));
    QVERIFY(QFile::exists(server.LocalPath("photo_001.jpg")));
    QVERIFY(!QFile::exists(server.LocalPath("photo.jpg")));
    QVERIFY(!driver.RenameFile("nothing.jpg", "other.jpg"));
    QVERIFY(!driver.LastError().isEmpty());

    QVERIFY(!driver.ChangeDir("gallery"));
    QVERIFY(driver.MakeDir("gallery"));
    QVERIFY(driver.ChangeDir("gallery"));
    QVERIFY(driver.PutFile(LocalFile("inside.jpg", 10)));
    QVERIFY(QFile::exists(server.LocalPath("gallery/inside.jpg")));
}

void TestFtpDriver::wholeRunThroughTheSession_data() {
    AddServerRows("run on");
}

void TestFtpDriver::wholeRunThroughTheSession() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    TFtpServer server{TFtpServer::TKind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    Upload =
        std::make_unique<TUpload>([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                                  0, PolicyRename, true, StandardDrivers(QString()));
    if (passive)
        Upload->Protokoll().SetOption(TUploadProtokoll::PassiveMode);
    QVERIFY(Upload->Login("127.0.0.1", QString::number(server.Port()), server.User(),
                          server.Password()));
    QVERIFY(Upload->EnterDir(server.UploadDir(), false, true));
    Dialogs->ExpectAskUser(TAskMode::Directory, "./gallery/2024", 1);
    QVERIFY(Upload->EnterDir("./gallery/2024", false, true));

    const TFileList files{{LocalFile("a.jpg", 2000), LocalFile("a_thumb.jpg", 200)},
                          {LocalFile("b.zip", 5000), QString()}};
    QCOMPARE(Upload->UploadFiles(files).size(), 2);
    const TUploadResults again = Upload->UploadFiles(files);
    QCOMPARE(again, (TUploadResults{{"a.jpg", "a_thumb.jpg"}, {"b.zip", ""}}));
    QCOMPARE(Upload->RenamedFiles(), (TRenamedFiles{{"a.jpg", "a_001.jpg"},
                                                    {"a_thumb.jpg", "a_thumb_001.jpg"},
                                                    {"b.zip", "b_001.zip"}}));
    for (const QString& name :
         QStringList{"a.jpg", "a_001.jpg", "a_thumb_001.jpg", "b.zip", "b_001.zip"})
        QVERIFY2(QFile::exists(server.LocalPath("gallery/2024/" + name)), qPrintable(name));
    QCOMPARE(Upload->BytesDone(), Upload->BytesTotal());
}

void TestFtpDriver::refusedLoginIsRetriedOnTheSameConnection() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    Upload =
        std::make_unique<TUpload>([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                                  0, PolicyOverwrite, true, StandardDrivers(QString()));
    TUploadProtokoll& driver = Upload->Protokoll();
    const QString port = QString::number(server.Port());
    QVERIFY(!driver.Connect("127.0.0.1", port, server.User(), "wrong"));
    QVERIFY(driver.Connect("127.0.0.1", port, server.User(), server.Password()));
    QCOMPARE(Log().filter(QRegularExpression("^220 ")).size(), 1);
    QCOMPARE(Log().filter("--> USER").size(), 2);
    // TYPE follows every login, also the refused one.
    QCOMPARE(Log().filter("--> TYPE I").size(), 2);
    QVERIFY(driver.PutFile(LocalFile("after.txt", 3)));
}

void TestFtpDriver::passIsSentAfterUserLogsIn() {
    TFtpServer server("user230");
    QUADDLE_REQUIRE_SERVER(server);
    Connected(server);
    const QStringList log = Log();
    const qsizetype user = log.indexOf("--> USER " + server.User() + "\t0");
    QVERIFY(user >= 0);
    QVERIFY(log.at(user + 1).startsWith("230 "));
    QCOMPARE(log.at(user + 2), QStringLiteral("--> (Password)\t0"));
}

void TestFtpDriver::multiLineGreeting() {
    TFtpServer server("multiline220");
    QUADDLE_REQUIRE_SERVER(server);
    Connected(server);
    const QStringList log = Log();
    QCOMPARE(log.at(0), QStringLiteral("220-Welcome to the\t0"));
    QCOMPARE(log.at(2), QStringLiteral(" indented continuation\t0"));
    QCOMPARE(log.at(3), QStringLiteral("220 Ready.\t0"));
    QVERIFY(Upload->Protokoll().PutFile(LocalFile("x.txt", 10)));
}

void TestFtpDriver::preliminary125InActiveMode() {
    TFtpServer server("force125");
    QUADDLE_REQUIRE_SERVER(server);
    QVERIFY(Connected(server, false).Protokoll().PutFile(LocalFile("x.txt", 5000)));
    QVERIFY(!Log().filter(QRegularExpression("^125 ")).isEmpty());
    QCOMPARE(QFileInfo(server.LocalPath("x.txt")).size(), 5000);
}

void TestFtpDriver::serverWithoutSizeOverwrites() {
    TFtpServer server("nosize");
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server).Protokoll();
    QVERIFY(driver.PutFile(LocalFile("a.txt", 10)));
    QVERIFY(!driver.FileExists("a.txt"));
    QVERIFY(driver.LastError().startsWith("502"));
}

void TestFtpDriver::passwordLikeCommandsAreMasked() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QVERIFY(Connected(server).Protokoll().PutFile(LocalFile("PASSPORT.jpg", 10)));
    QVERIFY(!Log().join('\n').contains(server.Password()));
    QCOMPARE(Log().filter("--> (Password)").size(), 2);
    QVERIFY(Log().filter("--> STOR").isEmpty());
}

void TestFtpDriver::lineBreakInNameIsNeverSent() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server).Protokoll();
    QVERIFY(!driver.PutFile(LocalFile("evil\r\nDELE victim.txt", 10)));
    QCOMPARE(driver.LastError(),
             QStringLiteral("The name contains a line break, which cannot be sent to the server."));
    QVERIFY(Log().filter("DELE").isEmpty());
    QVERIFY(!driver.ChangeDir("a\nb"));
    // The session goes on: the connection is still usable.
    QVERIFY(driver.PutFile(LocalFile("fine.txt", 10)));
}

void TestFtpDriver::stalledReplyTimesOut() {
    TFtpServer server("stallcwd");
    QUADDLE_REQUIRE_SERVER(server);
    Upload =
        std::make_unique<TUpload>([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                                  0, PolicyOverwrite, true, StandardDrivers(QString()));
    TUploadProtokoll& driver = Upload->Protokoll();
    QVERIFY(driver.Connect("127.0.0.1", QString::number(server.Port()), server.User(),
                           server.Password()));
    // The time-out closes the connection: no missing directory to offer to create.
    try {
        driver.ChangeDir("somewhere");
        QFAIL("no error on the closed connection");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), UploadErrors::ConnectionLost);
    }
    QCOMPARE(driver.LastError(), QStringLiteral("426 Timeout"));
    QVERIFY_THROWS_EXCEPTION(TError, driver.MakeDir("next"));
}

void TestFtpDriver::cancelDuringLargeUpload() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString path = LocalFile("large.bin", qint64(200) << 20);
    TUpload& upload = Connected(server);
    // The Cancel button, pressed once the transfer is well under way.
    QElapsedTimer sinceCancel;
    QTimer cancelButton;
    cancelButton.setSingleShot(true);
    connect(&cancelButton, &QTimer::timeout, this, [&] {
        sinceCancel.start();
        upload.Cancel();
    });
    OnSent = [&](qint64 sent) {
        if (sent > (8 << 20) && !cancelButton.isActive() && !sinceCancel.isValid())
            cancelButton.start(0);
    };
    QVERIFY(!upload.Protokoll().PutFile(path));
    OnSent = nullptr;
    QVERIFY(sinceCancel.isValid());
    QVERIFY2(sinceCancel.elapsed() < 5000, "the transfer did not stop at Cancel");
    QVERIFY(Progress.last() < (qint64(200) << 20));
    QVERIFY(!HoldsOpen(path));
    QVERIFY(Log().contains("CANCEL\t1"));
    QVERIFY_THROWS_EXCEPTION(TError, upload.Protokoll().FileExists("large.bin"));
}

void TestFtpDriver::cancelAtTheLastBlock_data() {
    QTest::addColumn<qint64>("size");
    QTest::newRow("one block") << qint64(1000);
    QTest::newRow("one batch") << qint64(TFtpClient::SendWindow);
    QTest::newRow("several batches") << qint64(300'000);
}

void TestFtpDriver::cancelAtTheLastBlock() {
    QFETCH(qint64, size);
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString path = LocalFile("last.bin", size);
    TUpload& upload = Connected(server);
    // Cancel pressed when the whole file is queued but not yet sent, or while the server's
    // answer is awaited.
    QTimer cancelButton;
    cancelButton.setSingleShot(true);
    connect(&cancelButton, &QTimer::timeout, this, [&] { upload.Cancel(); });
    OnSent = [&](qint64 sent) {
        if (sent == size && !cancelButton.isActive())
            cancelButton.start(0);
    };
    QVERIFY(!upload.Protokoll().PutFile(path));
    OnSent = nullptr;
    QVERIFY(upload.Cancelled());
    QVERIFY(!HoldsOpen(path));
}

void TestFtpDriver::connectionClosedDuringStore() {
    TFtpServer server("closestor");
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server).Protokoll();
    QVERIFY(!driver.PutFile(LocalFile("big.bin", 20 << 20)));
    QVERIFY(!driver.LastError().isEmpty());
    QVERIFY_THROWS_EXCEPTION(TError, driver.PutFile(LocalFile("next.bin", 10)));
}

void TestFtpDriver::refusedStore() {
    TFtpServer server("storfull");
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server).Protokoll();
    QVERIFY(!driver.PutFile(LocalFile("a.txt", 100)));
    QVERIFY(driver.LastError().startsWith("552 "));
    QVERIFY(driver.ChangeDir("/"));
}

void TestFtpDriver::brokenPassiveReplyIsAnError() {
    TFtpServer server("badpasv");
    QUADDLE_REQUIRE_SERVER(server);
    TUploadProtokoll& driver = Connected(server).Protokoll();
    const QString message = "The server's PASV reply names no address: 227 Entering Passive Mode.";
    Dialogs->ExpectMessage("An error occured: \n" + message + "\nIgnore and continue?",
                           TMsgAnswer::No);
    QVERIFY(!driver.PutFile(LocalFile("a.txt", 100)));
    QVERIFY(Log().contains("FTP Error [227]: " + message + "\t2"));
    // No aborts the connection.
    QVERIFY_THROWS_EXCEPTION(TError, driver.ChangeDir("/"));
}

void TestFtpDriver::unreachableServer() {
    Upload =
        std::make_unique<TUpload>([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                                  0, PolicyOverwrite, true, StandardDrivers(QString()));
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString port = QString::number(closed.serverPort());
    closed.close();
    for (const QString& target : {port, QStringLiteral("no-such-service")}) {
        try {
            Upload->Protokoll().Connect("127.0.0.1", target, "u", "p");
            QFAIL("no error");
        } catch (const TError& error) {
            QCOMPARE(error.Message(), UploadErrors::ConnectFailed);
        }
    }
}

void TestFtpDriver::abortIsHarmlessAnyTime() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    Upload =
        std::make_unique<TUpload>([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                                  0, PolicyOverwrite, true, StandardDrivers(QString()));
    Upload->Protokoll().Abort();
    Upload->Protokoll().Abort();
    QVERIFY(Upload->Protokoll().Connect("127.0.0.1", QString::number(server.Port()), server.User(),
                                        server.Password()));
    Upload->Protokoll().Abort();
    Upload->Protokoll().Abort();
    QVERIFY_THROWS_EXCEPTION(TError, Upload->Protokoll().ChangeDir("/"));
}

void TestFtpDriver::eventLoopRunsDuringUpload() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const QString path = LocalFile("large.bin", qint64(50) << 20);
    TUploadProtokoll& driver = Connected(server).Protokoll();
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
    QVERIFY(driver.PutFile(path));
    timer.stop();
    longestGap = std::max(longestGap, clock.elapsed() - last);
    QVERIFY(ticks > 0);
    QVERIFY2(longestGap <= 100, qPrintable(QString::number(longestGap)));
}

QTEST_GUILESS_MAIN(TestFtpDriver)
#include "TestFtpDriver.moc"
