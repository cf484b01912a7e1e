#include "FtpServer.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;
using quaddle::test::TFtpServer;
using quaddle::test::TServerSetup;

namespace {

const QString FatalPrefix = "A fatal error occured: \n";

QString StatusText(const QWidget& form) {
    return Control<QLabel>(form, "StatusServer")->text();
}

bool Idle(const QWidget& form) {
    return !Control<QPushButton>(form, "BUpload")->isHidden() &&
           Control<QPushButton>(form, "BCancel")->isHidden() &&
           Control<QPushButton>(form, "BFileAdd")->isEnabled();
}

} // namespace

class TestMainWindowUpload : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void uploadsIntoRootAndRemoteDirectory();
    void missingDirectoryIsCreatedAfterAsking();
    void logIsEmptyWithoutLoggingAndErrors();
    void wrongPasswordIsReportedAndRunEnds();
    void serverDownIsAFatalError();
    void disappearedFileStopsTheRun();
    void noServerChosen();
    void unknownServerType();
    void unwritableLogIsReportedOnce();
    void cancelDuringTransfer();
    void cancelWhileConnecting();
    void cancelWhileChangingDirectory();
    void successWindowListsTheUploadedFiles();
    void thumbnailsAreMadeAndLinked();
    void thumbnailsDeclined();
    void autocloseClosesAfterUpload();
    void autocloseStaysOpenWhenNothingWasUploaded();

private:
    QString LocalFile(const QString& name, qint64 size);
    // Clicks Cancel once condition holds, checking every few milliseconds.
    void CancelWhen(TFormMain& form, std::function<bool()> condition);
    QByteArray LogFile() const { return ProgramDir->ReadFile("log.txt"); }

    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Local;
    QTimer Watch;
};

void TestMainWindowUpload::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    Local = std::make_unique<QTemporaryDir>();
}

void TestMainWindowUpload::cleanup() {
    Watch.stop();
    Watch.disconnect();
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    Local.reset();
    ProgramDir.reset();
}

QString TestMainWindowUpload::LocalFile(const QString& name, qint64 size) {
    QFile file(Local->filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.resize(size);
    return file.fileName();
}

void TestMainWindowUpload::CancelWhen(TFormMain& form, std::function<bool()> condition) {
    Watch.disconnect();
    connect(&Watch, &QTimer::timeout, this, [this, &form, condition] {
        if (!condition())
            return;
        Watch.stop();
        QTest::mouseClick(Control<QPushButton>(form, "BCancel"), Qt::LeftButton);
    });
    Watch.start(5);
}

void TestMainWindowUpload::uploadsIntoRootAndRemoteDirectory() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.LocalPath("site/pics"));
    TServerSetup setup = test::SetupFor(server);
    setup.RootDir = "/site";
    setup.DefaultDir = "/pics";
    test::SaveServerConfig(setup, {{"Log", TSettingValue::Boolean(true)}});

    TFormMain form({LocalFile("a.png", 3000), LocalFile("b.png", 10)});
    form.show();
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->currentText(), QStringLiteral("/pics"));
    form.BUploadClick();

    QCOMPARE(form.GetUploadResults(), (TUploadResults{{"a.png", ""}, {"b.png", ""}}));
    QCOMPARE(QFileInfo(server.LocalPath("site/pics/a.png")).size(), 3000);
    QVERIFY(QFile::exists(server.LocalPath("site/pics/b.png")));
    QVERIFY(Idle(form));
    QCOMPARE(StatusText(form), QStringLiteral("Test server: Ready"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));

    const QByteArray log = LogFile();
    const qsizetype root = log.indexOf("--> CWD /site\t0\r\n");
    QVERIFY(root >= 0);
    QVERIFY(log.indexOf("--> CWD ./pics\t0\r\n") > root);
    QVERIFY(log.contains("--> (Password)\t0\r\n"));
    QVERIFY(!log.contains(server.Password().toUtf8()));
    QVERIFY(log.endsWith("2 files uploaded.\t0\r\n"));
}

void TestMainWindowUpload::missingDirectoryIsCreatedAfterAsking() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server));
    TFormMain form({LocalFile("a.png", 100)});
    Control<QComboBox>(form, "CSubdir")->setEditText("gallery/2024");
    Dialogs->ExpectAskUser(TAskMode::Directory, "gallery/2024", 1);
    form.BUploadClick();
    QVERIFY(QFile::exists(server.LocalPath("gallery/2024/a.png")));

    Control<QComboBox>(form, "CSubdir")->setEditText("declined");
    Dialogs->ExpectAskUser(TAskMode::Directory, "declined", 128);
    form.BUploadClick();
    QVERIFY(form.GetUploadResults().isEmpty());
    QVERIFY(!QFile::exists(server.LocalPath("declined")));
    QVERIFY(Idle(form));
}

void TestMainWindowUpload::logIsEmptyWithoutLoggingAndErrors() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server));
    ProgramDir->WriteFile("log.txt", "old run\r\n");
    TFormMain form({LocalFile("a.png", 100)});
    form.BUploadClick();
    QCOMPARE(form.GetUploadResults().size(), 1);
    QVERIFY(QFile::exists(ProgramDir->FilePath("log.txt")));
    QCOMPARE(LogFile(), QByteArray());
}

void TestMainWindowUpload::wrongPasswordIsReportedAndRunEnds() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    TServerSetup setup = test::SetupFor(server);
    setup.Password = "wrong";
    test::SaveServerConfig(setup);
    TFormMain form({LocalFile("a.png", 100)});
    Dialogs->ExpectMessage("Login incorrect. Please try again.", TMsgAnswer::Ok);
    Dialogs->ExpectLogin(server.User(), "still wrong");
    Dialogs->ExpectMessage("Login incorrect. Please try again.", TMsgAnswer::Abort);
    form.BUploadClick();
    QVERIFY(form.GetUploadResults().isEmpty());
    QVERIFY(Idle(form));
    QVERIFY(QFile::exists(ProgramDir->FilePath("log.txt")));

    // The right password typed at the prompt gets the upload through.
    Dialogs->ExpectMessage("Login incorrect. Please try again.", TMsgAnswer::Ok);
    Dialogs->ExpectLogin(server.User(), server.Password());
    form.BUploadClick();
    QCOMPARE(form.GetUploadResults().size(), 1);
}

void TestMainWindowUpload::serverDownIsAFatalError() {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    TServerSetup setup;
    setup.Port = closed.serverPort();
    setup.User = "u";
    setup.Password = "p";
    closed.close();
    test::SaveServerConfig(setup, {{"Log", TSettingValue::Boolean(true)}});
    TFormMain form({LocalFile("a.png", 100)});
    Dialogs->ExpectMessage(
        FatalPrefix + "Could not connect to remote server. Please check your server settings.");
    form.BUploadClick();
    QCOMPARE(Dialogs->Asked().first().Kind, TMsgKind::Error);
    QVERIFY(Idle(form));
    QCOMPARE(StatusText(form), QStringLiteral("Test server: Ready"));
    QVERIFY(QFile::exists(ProgramDir->FilePath("log.txt")));
}

void TestMainWindowUpload::disappearedFileStopsTheRun() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server));
    const QString gone = LocalFile("b.png", 100);
    TFormMain form({LocalFile("a.png", 100), gone});
    QFile::remove(gone);
    Dialogs->ExpectMessage(FatalPrefix + "A file you are trying to upload does not exist.");
    form.BUploadClick();
    QVERIFY(form.GetUploadResults().isEmpty());
    QVERIFY(!QFile::exists(server.LocalPath("a.png")));
    QVERIFY(Idle(form));
}

void TestMainWindowUpload::noServerChosen() {
    TFormMain form({LocalFile("a.png", 100)});
    Dialogs->ExpectMessage("Please choose a server in the Servers menu first.");
    form.BUploadClick();
    QVERIFY(Idle(form));
    QVERIFY(form.GetUploadResults().isEmpty());
}

void TestMainWindowUpload::unknownServerType() {
    TServerSetup setup;
    setup.Type = "7";
    test::SaveServerConfig(setup);
    TFormMain form({LocalFile("a.png", 100)});
    Dialogs->ExpectMessage("The server \"Test server\" has the unknown type \"7\". Please choose "
                           "FTP or SFTP for it in the server manager.");
    form.BUploadClick();
    QVERIFY(Idle(form));
}

void TestMainWindowUpload::unwritableLogIsReportedOnce() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server));
    // A program directory that vanished after start-up.
    ProgramDir->SetStoredProgramDir(ProgramDir->FilePath("gone"));
    QDir().mkpath(ProgramDir->FilePath("gone"));
    QFile::copy(ProgramDir->FilePath("config.xml"), ProgramDir->FilePath("gone/config.xml"));
    TFormMain form({LocalFile("a.png", 100)});
    QVERIFY(QDir(ProgramDir->FilePath("gone")).removeRecursively());
    Dialogs->ExpectMessageMatching("The log file \".*/gone/log.txt\" could not be written: .+");
    // The success window saves the configuration there too.
    Dialogs->ExpectMessageMatching("The configuration could not be saved to .*");
    form.BUploadClick();
    QCOMPARE(form.GetUploadResults().size(), 1);
    QVERIFY(Idle(form));
}

void TestMainWindowUpload::cancelDuringTransfer() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server));
    TFormMain form({LocalFile("big.bin", qint64(300) << 20)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString partial = server.LocalPath("big.bin");
    CancelWhen(form, [&] { return QFileInfo(partial).size() > 0; });
    form.BUploadClick();

    QVERIFY(form.GetUploadResults().isEmpty());
    QVERIFY(Idle(form));
    QCOMPARE(StatusText(form), QStringLiteral("Test server: Upload cancelled"));
    QCOMPARE(Control<QLabel>(form, "StatusDetail")->text(), QStringLiteral(" "));
    const QImage panel = Control<QWidget>(form, "StatusProgress")->grab().toImage();
    QCOMPARE(panel.pixelColor(2, 10), panel.pixelColor(98, 10));
    QCOMPARE(panel.pixelColor(2, 2), panel.pixelColor(98, 2));

    // The session is gone; a new run works.
    TFormMain again({LocalFile("small.txt", 10)});
    again.BUploadClick();
    QCOMPARE(again.GetUploadResults().size(), 1);
}

void TestMainWindowUpload::cancelWhileConnecting() {
    // A server that accepts the connection and never greets.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    TServerSetup setup;
    setup.Port = silent.serverPort();
    setup.User = "u";
    setup.Password = "p";
    test::SaveServerConfig(setup);
    TFormMain form({LocalFile("a.png", 100)});
    CancelWhen(form, [&] { return silent.hasPendingConnections(); });
    form.BUploadClick();
    QVERIFY(Idle(form));
    QCOMPARE(StatusText(form), QStringLiteral("Test server: Upload cancelled"));
}

void TestMainWindowUpload::cancelWhileChangingDirectory() {
    TFtpServer server("stallcwd");
    QUADDLE_REQUIRE_SERVER(server);
    TServerSetup setup = test::SetupFor(server);
    setup.RootDir = "/";
    test::SaveServerConfig(setup);
    TFormMain form({LocalFile("a.png", 100)});
    CancelWhen(form, [&] { return StatusText(form).endsWith("Logged in, changing directory"); });
    QElapsedTimer run;
    run.start();
    form.BUploadClick();
    QVERIFY2(run.elapsed() < 10000, "the run waited for the stalled server");
    QVERIFY(Idle(form));
    QCOMPARE(StatusText(form), QStringLiteral("Test server: Upload cancelled"));
}

void TestMainWindowUpload::successWindowListsTheUploadedFiles() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.LocalPath("pics"));
    TServerSetup setup = test::SetupFor(server);
    setup.DefaultDir = "pics";
    test::SaveServerConfig(setup, {{"Overwrite", TSettingValue::Integer(2)}});
    QFile existing(server.LocalPath("pics/my photo.png"));
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("older") == 5);
    existing.close();
    TFormMain form({LocalFile("my photo.png", 500), LocalFile("notes.txt", 20)});
    form.show();
    form.BUploadClick();

    auto* success = form.findChild<QWidget*>("MemoURLs");
    QVERIFY(success);
    QVERIFY(success->window()->isVisible());
    QVERIFY(!form.isVisible());
    QCOMPARE(
        qobject_cast<QPlainTextEdit*>(success)->toPlainText(),
        QStringLiteral("http://127.0.0.1/pics/my%20photo.png\nhttp://127.0.0.1/pics/notes.txt"));
    QVERIFY(QFile::exists(server.LocalPath("pics/my photo_001.png")));
    QCOMPARE(success->window()->findChild<QLabel*>("LInfo")->text(),
             QStringLiteral(" Renamed existing file my photo.png to my photo_001.png"));

    // Back to the main window for a second run: the window is reused, "None" again.
    QTest::mouseDClick(success->window(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 60));
    QVERIFY(form.isVisible());
    success->window()->findChild<QComboBox*>("CTags")->setCurrentIndex(2);
    form.BUploadClick();
    QCOMPARE(form.findChildren<QPlainTextEdit*>("MemoURLs").size(), 1);
    QCOMPARE(success->window()->findChild<QComboBox*>("CTags")->currentIndex(), 0);
    QCOMPARE(success->window()->findChild<QLabel*>("LInfo")->text(),
             QStringLiteral(" Renamed existing file my photo.png to my photo_002.png\n"
                            " Renamed existing file notes.txt to notes_001.txt"));

    // Closing it closes the main window, which saves the configuration.
    QFile::remove(ProgramDir->FilePath("config.xml"));
    success->window()->close();
    QVERIFY(!form.isVisible());
    QVERIFY(QFile::exists(ProgramDir->FilePath("config.xml")));
}

namespace {

const QString ThumbnailQuestion = "Looks like you are uploading some JPEG images. Do you want to "
                                  "create thumbnails for them?";

QString JpegFile(const QTemporaryDir& dir, const QString& name) {
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(EncodeJpeg(image, 90)) <= 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

} // namespace

void TestMainWindowUpload::thumbnailsAreMadeAndLinked() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server), {{"Overwrite", TSettingValue::Integer(1)}});
    TFormMain form({JpegFile(*Local, "photo.JPG"), LocalFile("notes.txt", 20)});
    form.show();
    Dialogs->ExpectMessage(ThumbnailQuestion, TMsgAnswer::Yes);
    form.BUploadClick();
    QCOMPARE(Dialogs->Asked().first().Buttons, TMsgButtons::YesNo);
    QCOMPARE(form.GetUploadResults(),
             (TUploadResults{{"notes.txt", ""}, {"photo.JPG", "photo_thumb.jpg"}}));
    QCOMPARE(QImage(server.LocalPath("photo_thumb.jpg")).size(), QSize(267, 200));
    QVERIFY(QFile::exists(server.LocalPath("photo.JPG")));
    QCOMPARE(form.Files().last().Thumbnail, ThumbnailPath(form.Files().last().Path));

    auto* tags = form.findChild<QComboBox*>("CTags");
    QVERIFY(tags);
    tags->setCurrentIndex(1);
    emit tags->activated(1);
    QCOMPARE(form.findChild<QPlainTextEdit*>("MemoURLs")->toPlainText().split('\n').last(),
             QStringLiteral("[URL=http://127.0.0.1/photo.JPG][IMG]http://127.0.0.1/"
                            "photo_thumb.jpg[/IMG][/URL]"));

    // Entries with thumbnails are not asked about again.
    form.show();
    form.BUploadClick();
    QCOMPARE(Dialogs->Asked().size(), 1);
}

void TestMainWindowUpload::thumbnailsDeclined() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server));
    TFormMain form({JpegFile(*Local, "photo.jpg")});
    Dialogs->ExpectMessage(ThumbnailQuestion, TMsgAnswer::No);
    form.BUploadClick();
    QCOMPARE(form.GetUploadResults(), (TUploadResults{{"photo.jpg", ""}}));
    QVERIFY(!QFile::exists(server.LocalPath("photo_thumb.jpg")));
}

void TestMainWindowUpload::autocloseClosesAfterUpload() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server), {{"Autoclose", TSettingValue::Boolean(true)}});
    TFormMain form({LocalFile("a.png", 100)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QFile::remove(ProgramDir->FilePath("config.xml"));
    form.BUploadClick();
    QVERIFY(!form.isVisible());
    QVERIFY(QFile::exists(ProgramDir->FilePath("config.xml")));
}

void TestMainWindowUpload::autocloseStaysOpenWhenNothingWasUploaded() {
    TFtpServer server("storfull");
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server), {{"Autoclose", TSettingValue::Boolean(true)}});
    TFormMain form({LocalFile("a.png", 100)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Dialogs->ExpectMessageMatching("An error occured: \n552 .*\nIgnore and continue\\?",
                                   TMsgAnswer::No);
    form.BUploadClick();
    QVERIFY(form.isVisible());
    QVERIFY(Idle(form));
}

QTEST_MAIN(TestMainWindowUpload)
#include "TestMainWindowUpload.moc"
