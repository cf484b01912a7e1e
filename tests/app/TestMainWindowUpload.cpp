#include "FileDrop.h"
#include "FtpServer.h"
#include "LocalFiles.h"
#include "PrivateBus.h"
#include "ProgramFixture.h"
#include "ScreenshotPortal.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "gui/ThumbnailWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadRunSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <functional>
#include <memory>

using namespace quaddle;
using quaddle::test::control;
using quaddle::test::dropFiles;
using quaddle::test::FtpServer;
using quaddle::test::ServerSetup;

namespace {

// What the server's system and pyftpdlib may hold of a file before it is on disk.
constexpr qint64 MaxAheadOfServer = qint64(1) << 20;

const QString FatalPrefix = "A fatal error occurred: \n";

QString statusText(const QWidget& form) {
    return control<QLabel>(form, "serverLabel")->text();
}

// log.txt holds user and host names and the server dialogue.
bool ownerOnly(const QString& path) {
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    const QFile::Permissions permissions = QFile::permissions(path);
    return (permissions & QFile::ReadOwner) && (permissions & QFile::WriteOwner) &&
           !(permissions & others);
}

bool idle(const QWidget& form) {
    return !control<QPushButton>(form, "uploadButton")->isHidden() &&
           control<QPushButton>(form, "cancelButton")->isHidden() &&
           control<QPushButton>(form, "addFilesButton")->isEnabled();
}

} // namespace

class TestMainWindowUpload : public QObject, test::ProgramFixture {
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
    void ftpsCertificateIsTrustedOnce();
    void unwritableLogIsReportedOnce();
    void cancelDuringTransfer();
    void overallProgressFollowsTheServer();
    void dropDuringTransferWaitsForTheNextRun();
    void cancelWhileConnecting();
    void cancelWhileChangingDirectory();
    void successWindowListsTheUploadedFiles();
    void thumbnailsAreMadeAndLinked();
    void thumbnailWindowGoesOnceThumbnailsAreMade();
    void markdownLinesCopiedBeforeAutoclose();
    void thumbnailsDeclined_data();
    void thumbnailsDeclined();
    void autocloseClosesAfterUpload();
    void autocloseStaysOpenWhenNothingWasUploaded();
    void errorLeadsToTheServerSettings();
    void screenshotIsAddedAndUploaded();

private:
    // Clicks Cancel once condition holds, checking every few milliseconds.
    void cancelWhen(MainWindow& form, std::function<bool()> condition);
    QByteArray logFile() const { return m_programDir->readFile("log.txt"); }

    std::unique_ptr<QTemporaryDir> m_local;
    QTimer m_watch;
};

void TestMainWindowUpload::init() {
    startTest();
    m_local = std::make_unique<QTemporaryDir>();
}

void TestMainWindowUpload::cleanup() {
    m_watch.stop();
    m_watch.disconnect();
    finishTest();
    m_local.reset();
    removeMadeThumbnails();
}

void TestMainWindowUpload::cancelWhen(MainWindow& form, std::function<bool()> condition) {
    m_watch.disconnect();
    connect(&m_watch, &QTimer::timeout, this, [this, &form, condition] {
        if (!condition())
            return;
        m_watch.stop();
        QTest::mouseClick(control<QPushButton>(form, "cancelButton"), Qt::LeftButton);
    });
    m_watch.start(5);
}

void TestMainWindowUpload::uploadsIntoRootAndRemoteDirectory() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.localPath("site/pics"));
    ServerSetup setup = test::setupFor(server);
    setup.rootDir = "/site";
    setup.defaultDir = "/pics";
    test::saveServerConfig(setup, {{"Log", SettingValue::boolean(true)}});

    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 3000),
                     test::sparseLocalFile(*m_local, "b.png", 10)});
    form.show();
    QCOMPARE(control<QComboBox>(form, "remoteDirBox")->currentText(), QStringLiteral("/pics"));
    form.startUpload();

    QCOMPARE(form.uploadResults(), (UploadResults{{"a.png", ""}, {"b.png", ""}}));
    QCOMPARE(QFileInfo(server.localPath("site/pics/a.png")).size(), 3000);
    QVERIFY(QFile::exists(server.localPath("site/pics/b.png")));
    QVERIFY(idle(form));
    QCOMPARE(statusText(form), QStringLiteral("Test server: Ready"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));

    const QByteArray log = logFile();
    const qsizetype root = log.indexOf("--> CWD /site\t0\r\n");
    QVERIFY(root >= 0);
    QVERIFY(log.indexOf("--> CWD ./pics\t0\r\n") > root);
    QVERIFY(log.contains("--> (Password)\t0\r\n"));
    QVERIFY(!log.contains(server.password().toUtf8()));
    QVERIFY(log.endsWith("2 files uploaded.\t0\r\n"));
    QVERIFY(ownerOnly(m_programDir->filePath("log.txt")));
}

void TestMainWindowUpload::missingDirectoryIsCreatedAfterAsking() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    control<QComboBox>(form, "remoteDirBox")->setEditText("gallery/2024");
    m_dialogs->expectMissingDir("gallery/2024", MissingDirAnswer::Create);
    form.startUpload();
    QVERIFY(QFile::exists(server.localPath("gallery/2024/a.png")));

    control<QComboBox>(form, "remoteDirBox")->setEditText("declined");
    m_dialogs->expectMissingDir("declined", MissingDirAnswer::Cancel);
    form.startUpload();
    QVERIFY(form.uploadResults().isEmpty());
    QVERIFY(!QFile::exists(server.localPath("declined")));
    QVERIFY(idle(form));
}

void TestMainWindowUpload::logIsEmptyWithoutLoggingAndErrors() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    m_programDir->writeFile("log.txt", "old run\r\n");
    // A log left readable to all by an earlier version.
    QVERIFY(QFile::setPermissions(m_programDir->filePath("log.txt"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                      QFile::ReadOther));
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    form.startUpload();
    QCOMPARE(form.uploadResults().size(), 1);
    QVERIFY(QFile::exists(m_programDir->filePath("log.txt")));
    QCOMPARE(logFile(), QByteArray());
    QVERIFY(ownerOnly(m_programDir->filePath("log.txt")));
    QCOMPARE(QDir(m_programDir->filePath("")).entryList({"log.txt*"}), QStringList{"log.txt"});
}

void TestMainWindowUpload::wrongPasswordIsReportedAndRunEnds() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    ServerSetup setup = test::setupFor(server);
    setup.password = "wrong";
    test::saveServerConfig(setup);
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    m_dialogs->expectLoginRetry(true);
    m_dialogs->expectLogin(server.user(), "still wrong");
    m_dialogs->expectLoginRetry(false);
    form.startUpload();
    QVERIFY(form.uploadResults().isEmpty());
    QVERIFY(idle(form));
    QVERIFY(QFile::exists(m_programDir->filePath("log.txt")));

    // The right password typed at the prompt gets the upload through.
    m_dialogs->expectLoginRetry(true);
    m_dialogs->expectLogin(server.user(), server.password());
    form.startUpload();
    QCOMPARE(form.uploadResults().size(), 1);
}

void TestMainWindowUpload::serverDownIsAFatalError() {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    ServerSetup setup;
    setup.port = closed.serverPort();
    setup.user = "u";
    setup.password = "p";
    closed.close();
    test::saveServerConfig(setup, {{"Log", SettingValue::boolean(true)}});
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    m_dialogs->expectMessage(
        FatalPrefix + "Could not connect to remote server. Please check your server settings.\n" +
        QString("127.0.0.1, port %1: Connection refused\n").arg(setup.port) +
        "Is the server running, and is the port right?");
    form.startUpload();
    QCOMPARE(m_dialogs->asked().first().kind, MessageKind::Error);
    QVERIFY(idle(form));
    QCOMPARE(statusText(form), QStringLiteral("Test server: Nothing was uploaded"));
    // The log ends with why the run stopped, at the error level, its line break escaped.
    const QString shown = m_dialogs->asked().first().text.mid(FatalPrefix.size());
    QVERIFY2(logFile().endsWith((printableText(shown) + "\t2\r\n").toLocal8Bit()),
             logFile().constData());
}

void TestMainWindowUpload::disappearedFileStopsTheRun() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    const QString gone = test::sparseLocalFile(*m_local, "b.png", 100);
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100), gone});
    QFile::remove(gone);
    m_dialogs->expectMessageMatching(
        QRegularExpression::escape(FatalPrefix + "A file you are trying to upload does not exist") +
        ".*");
    form.startUpload();
    QVERIFY(form.uploadResults().isEmpty());
    QVERIFY(!QFile::exists(server.localPath("a.png")));
    QVERIFY(idle(form));
    // Without the setting "Log" only errors are kept: here the one that ended the run.
    const QString shown = m_dialogs->asked().first().text.mid(FatalPrefix.size());
    QCOMPARE(logFile(), (printableText(shown) + "\t2\r\n").toLocal8Bit());
}

void TestMainWindowUpload::noServerChosen() {
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    // With none at all, adding one is offered; with servers, one is to be chosen.
    m_dialogs->expectMessage("No server is set up yet. Add one now?", MessageAnswer::No);
    form.startUpload();
    QVERIFY(idle(form));
    form.config().storeServer("ftp.example.org", "", "", "", "", "", "", "", -1, -1);
    form.config().currentServer = -1;
    m_dialogs->expectMessage("Please choose a server in the Servers menu first.");
    form.startUpload();
    QVERIFY(idle(form));
    QVERIFY(form.uploadResults().isEmpty());
}

void TestMainWindowUpload::unknownServerType() {
    ServerSetup setup;
    setup.type = "7";
    test::saveServerConfig(setup);
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    m_dialogs->expectMessage("The server \"Test server\" has the unknown type \"7\". Please choose "
                             "FTP, SFTP or FTPS for it in the server manager.");
    form.startUpload();
    QVERIFY(idle(form));
}

void TestMainWindowUpload::ftpsCertificateIsTrustedOnce() {
    FtpServer server(FtpServer::Kind::VsftpdTls);
    QUADDLE_REQUIRE_SERVER(server);
    ServerSetup setup = test::setupFor(server);
    setup.type = "2";
    setup.rootDir = server.uploadDir();
    test::saveServerConfig(setup, {{"Log", SettingValue::boolean(true)}});
    const QString trusted = "TrustedCert=\"" + server.certificateFingerprint() + "\"";

    // The first run asks and keeps the answer in config.xml; the second asks nothing.
    m_dialogs->expectIdentity(IdentityKind::Certificate, false, true,
                              server.certificateFingerprint());
    for (const QString& name : QStringList{"a.png", "b.png"}) {
        MainWindow form({test::sparseLocalFile(*m_local, name, 70000)});
        form.startUpload();
        QCOMPARE(form.uploadResults(), (UploadResults{{name, ""}}));
        QCOMPARE(QFileInfo(server.localPath(name)).size(), 70000);
        QVERIFY(m_programDir->readFile("config.xml").contains(trusted.toUtf8()));
        QVERIFY(logFile().contains("--> PROT P\t0\r\n"));
        QVERIFY(idle(form));
    }
}

void TestMainWindowUpload::unwritableLogIsReportedOnce() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    // A program directory that vanished after start-up.
    m_programDir->setStoredProgramDir(m_programDir->filePath("gone"));
    QDir().mkpath(m_programDir->filePath("gone"));
    QFile::copy(m_programDir->filePath("config.xml"), m_programDir->filePath("gone/config.xml"));
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    QVERIFY(QDir(m_programDir->filePath("gone")).removeRecursively());
    m_dialogs->expectMessageMatching(
        "The upload history \".*/gone/history.sqlite\" could not be created: .+");
    m_dialogs->expectMessageMatching("The log file \".*/gone/log.txt\" could not be written: .+");
    // The success window saves the configuration there too.
    m_dialogs->expectMessageMatching("The configuration could not be saved to .*");
    form.startUpload();
    QCOMPARE(form.uploadResults().size(), 1);
    QVERIFY(idle(form));
}

void TestMainWindowUpload::cancelDuringTransfer() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    MainWindow form({test::sparseLocalFile(*m_local, "big.bin", qint64(300) << 20)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString partial = server.localPath("big.bin");
    cancelWhen(form, [&] { return QFileInfo(partial).size() > 0; });
    form.startUpload();

    QVERIFY(form.uploadResults().isEmpty());
    QVERIFY(idle(form));
    QCOMPARE(statusText(form), QStringLiteral("Test server: Upload cancelled"));
    QCOMPARE(control<QLabel>(form, "detailLabel")->text(), QStringLiteral(" "));
    const QImage panel = control<QWidget>(form, "progressPanel")->grab().toImage();
    QCOMPARE(panel.pixelColor(2, 10), panel.pixelColor(98, 10));
    QCOMPARE(panel.pixelColor(2, 2), panel.pixelColor(98, 2));

    // The session is gone; a new run works.
    MainWindow again({test::sparseLocalFile(*m_local, "small.txt", 10)});
    again.startUpload();
    QCOMPARE(again.uploadResults().size(), 1);
}

void TestMainWindowUpload::overallProgressFollowsTheServer() {
    // Three connections to a server that takes each at 1 MiB/s.
    FtpServer server("slowstor");
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Connections", SettingValue::integer(3)}});
    const qint64 size = qint64(3) << 20;
    QStringList paths;
    for (int i = 0; i < 6; ++i)
        paths.append(test::randomLocalFile(*m_local, QStringLiteral("part%1.bin").arg(i), size));
    MainWindow form(paths);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The overall share the caption shows, beside what is on the server's disk meanwhile. The
    // caption changes only when the file's bar does.
    static const QRegularExpression overallShown(R"(\| (\d+)% \)$)");
    QList<std::pair<int, qint64>> samples;
    connect(&m_watch, &QTimer::timeout, this, [&] {
        const QRegularExpressionMatch shown = overallShown.match(form.windowTitle());
        qint64 arrived = 0;
        for (const QString& path : std::as_const(paths))
            arrived += QFileInfo(server.localPath(QFileInfo(path).fileName())).size();
        if (shown.hasMatch())
            samples.append({shown.captured(1).toInt(), arrived});
    });
    m_watch.start(5);
    form.startUpload();
    m_watch.stop();

    QCOMPARE(form.uploadResults().size(), paths.size());
    // The bars moved on as the files went.
    QSet<int> shares;
    for (const auto& [percent, arrived] : std::as_const(samples))
        shares.insert(percent);
    QVERIFY2(shares.size() >= 5, qPrintable(QString::number(shares.size())));
    const qint64 total = size * paths.size();
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const auto [percent, arrived] = samples[i];
        // Each connection's share never more than the server's own buffers ahead of its disk.
        QVERIFY2(percent * total / 100 - arrived <= 3 * MaxAheadOfServer,
                 qPrintable(
                     QStringLiteral("%1% with %2 bytes on the server").arg(percent).arg(arrived)));
        QVERIFY(i == 0 || percent >= samples[i - 1].first);
    }
}

void TestMainWindowUpload::cancelWhileConnecting() {
    // A server that accepts the connection and never greets.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    ServerSetup setup;
    setup.port = silent.serverPort();
    setup.user = "u";
    setup.password = "p";
    test::saveServerConfig(setup);
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    cancelWhen(form, [&] { return silent.hasPendingConnections(); });
    form.startUpload();
    QVERIFY(idle(form));
    QCOMPARE(statusText(form), QStringLiteral("Test server: Upload cancelled"));
}

void TestMainWindowUpload::cancelWhileChangingDirectory() {
    FtpServer server("stallcwd");
    QUADDLE_REQUIRE_SERVER(server);
    ServerSetup setup = test::setupFor(server);
    setup.rootDir = "/";
    test::saveServerConfig(setup);
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    cancelWhen(form, [&] { return statusText(form).endsWith("Logged in, changing directory"); });
    QElapsedTimer run;
    run.start();
    form.startUpload();
    QVERIFY2(run.elapsed() < 10000, "the run waited for the stalled server");
    QVERIFY(idle(form));
    QCOMPARE(statusText(form), QStringLiteral("Test server: Upload cancelled"));
}

void TestMainWindowUpload::dropDuringTransferWaitsForTheNextRun() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    // One connection: z.bin goes only after big.bin, so after the drop.
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(1)},
                                                    {"Connections", SettingValue::integer(1)}});
    MainWindow form({test::sparseLocalFile(*m_local, "big.bin", qint64(300) << 20),
                     test::sparseLocalFile(*m_local, "z.bin", 30)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Sorted in before the files of the run, while the first is being sent.
    QStringList dropped;
    for (int i = 0; i < 20; ++i)
        dropped.append(test::sparseLocalFile(
            *m_local, QStringLiteral("a%1.png").arg(i, 2, 10, QLatin1Char('0')), 10));
    const QString partial = server.localPath("big.bin");
    bool droppedMidRun = false;
    bool settingsLocked = false;
    connect(&m_watch, &QTimer::timeout, this, [&] {
        if (QFileInfo(partial).size() <= 0)
            return;
        m_watch.stop();
        droppedMidRun = dropFiles(&form, dropped);
        settingsLocked = !control<QComboBox>(form, "remoteDirBox")->isEnabled() &&
                         !control<QMenu>(form, "serversMenu")->menuAction()->isEnabled();
    });
    m_watch.start(5);
    form.startUpload();

    QVERIFY(droppedMidRun);
    QVERIFY(settingsLocked);
    QCOMPARE(form.uploadResults(), (UploadResults{{"big.bin", ""}, {"z.bin", ""}}));
    QVERIFY(!QFile::exists(server.localPath("a00.png")));
    QCOMPARE(form.files().size(), 22);
    // The list was scrolled to the row of the run's last file, below the dropped ones.
    auto* grid = control<QTableWidget>(form, "fileTable");
    QCOMPARE(grid->item(21, 0)->text(), QStringLiteral("z.bin"));
    QVERIFY(
        grid->viewport()->rect().contains(grid->visualRect(grid->model()->index(21, 0)).center()));
    QVERIFY(idle(form));
    QVERIFY(control<QComboBox>(form, "remoteDirBox")->isEnabled());

    form.startUpload();
    QCOMPARE(form.uploadResults().size(), 22);
    QCOMPARE(QFileInfo(server.localPath("a19.png")).size(), 10);
}

void TestMainWindowUpload::successWindowListsTheUploadedFiles() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.localPath("pics"));
    ServerSetup setup = test::setupFor(server);
    setup.defaultDir = "pics";
    test::saveServerConfig(setup, {{"Overwrite", SettingValue::integer(2)}});
    QFile existing(server.localPath("pics/my photo.png"));
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("older") == 5);
    existing.close();
    MainWindow form({test::sparseLocalFile(*m_local, "my photo.png", 500),
                     test::sparseLocalFile(*m_local, "notes.txt", 20)});
    form.show();
    form.startUpload();

    auto* success = form.findChild<QWidget*>("urlEdit");
    QVERIFY(success);
    QVERIFY(success->window()->isVisible());
    QVERIFY(!form.isVisible());
    QCOMPARE(
        qobject_cast<QPlainTextEdit*>(success)->toPlainText(),
        QStringLiteral("http://127.0.0.1/pics/my%20photo.png\nhttp://127.0.0.1/pics/notes.txt"));
    QVERIFY(QFile::exists(server.localPath("pics/my photo_001.png")));
    QCOMPARE(success->window()->findChild<QLabel*>("infoLabel")->text(),
             QStringLiteral(" Renamed existing file my photo.png to my photo_001.png"));

    // Back to the main window for a second run: the window is reused, "None" again.
    QTest::mouseDClick(success->window(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 60));
    QVERIFY(form.isVisible());
    success->window()->findChild<QComboBox*>("tagStyleBox")->setCurrentIndex(2);
    form.startUpload();
    QCOMPARE(form.findChildren<QPlainTextEdit*>("urlEdit").size(), 1);
    QCOMPARE(success->window()->findChild<QComboBox*>("tagStyleBox")->currentIndex(), 0);
    QCOMPARE(success->window()->findChild<QLabel*>("infoLabel")->text(),
             QStringLiteral(" Renamed existing file my photo.png to my photo_002.png\n"
                            " Renamed existing file notes.txt to notes_001.txt"));

    // Closing it closes the main window, which saves the configuration.
    QFile::remove(m_programDir->filePath("config.xml"));
    success->window()->close();
    QVERIFY(!form.isVisible());
    QVERIFY(QFile::exists(m_programDir->filePath("config.xml")));
}

namespace {

QString jpegFile(const QTemporaryDir& dir, const QString& name) {
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(encodeJpeg(image, 90)) <= 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

// Answers from the script; before it answers whether a file may be overwritten, the test
// looks at the windows while the run waits.
class PausingDialogs : public test::ScriptedDialogs {
public:
    std::function<void()> beforeFileExists;

    FileExistsAnswer askFileExists(const QString& name) override {
        beforeFileExists();
        return ScriptedDialogs::askFileExists(name);
    }
};

} // namespace

void TestMainWindowUpload::thumbnailWindowGoesOnceThumbnailsAreMade() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(0)},
                                                    {"Connections", SettingValue::integer(1)}});
    // Already on the server: the run stops to ask about it before the thumbnails go up.
    test::writeFile(server.localPath("later.txt"), "older");
    MainWindow form({jpegFile(*m_local, "first.jpg"), jpegFile(*m_local, "second.jpg"),
                     test::sparseLocalFile(*m_local, "later.txt", 20)});
    form.show();
    PausingDialogs dialogs;
    dialogs.expectThumbnailOffer(ThumbnailImages::Jpeg, true);
    dialogs.expectFileExists("later.txt", {FileExistsChoice::Overwrite, false});
    QString titleWhenGone;
    dialogs.beforeFileExists = [&] {
        const auto* thumbnails = form.findChild<ThumbnailWindow*>();
        QVERIFY(thumbnails);
        // The thumbnails are made while the run waits here; then nothing is left to abort.
        QTRY_VERIFY(!thumbnails->isVisible());
        titleWhenGone = thumbnails->windowTitle();
    };
    form.startUpload();
    QCOMPARE(titleWhenGone, QStringLiteral("Creating Thumbnails... 2 of 2 done"));
    QCOMPARE(form.uploadResults(), (UploadResults{{"first.jpg", "first_thumb.jpg"},
                                                  {"later.txt", ""},
                                                  {"second.jpg", "second_thumb.jpg"}}));
    QCOMPARE(QImage(server.localPath("second_thumb.jpg")).size(), QSize(267, 200));
    QCOMPARE(QFileInfo(server.localPath("later.txt")).size(), 20);
    QVERIFY(!form.findChild<ThumbnailWindow*>());
    QUADDLE_VERIFY_DIALOGS(dialogs);
}

void TestMainWindowUpload::thumbnailsAreMadeAndLinked() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(1)},
                                                    {"Connections", SettingValue::integer(1)}});
    MainWindow form({jpegFile(*m_local, "photo.JPG"), jpegFile(*m_local, "zebra.jpg"),
                     test::sparseLocalFile(*m_local, "notes.txt", 20)});
    form.show();
    m_dialogs->expectThumbnailOffer(ThumbnailImages::Jpeg, true);
    form.startUpload();
    QCOMPARE(form.uploadResults(), (UploadResults{{"notes.txt", ""},
                                                  {"photo.JPG", "photo_thumb.jpg"},
                                                  {"zebra.jpg", "zebra_thumb.jpg"}}));
    QCOMPARE(QImage(server.localPath("photo_thumb.jpg")).size(), QSize(267, 200));
    // The files go while their thumbnails are made; the thumbnails follow them.
    QStringList stored;
    for (const QString& line : QString::fromUtf8(test::readFile(server.localPath("server.log")))
                                   .split('\n', Qt::SkipEmptyParts))
        if (line.contains(" STOR ") && line.contains("completed=1"))
            stored.append(line.section(" STOR ", 1).section(' ', 0, 0).section('/', -1));
    QCOMPARE(stored, (QStringList{"notes.txt", "photo.JPG", "zebra.jpg", "photo_thumb.jpg",
                                  "zebra_thumb.jpg"}));
    QVERIFY(QFile::exists(server.localPath("photo.JPG")));
    QCOMPARE(form.files().last().thumbnail, thumbnailPath(form.files().last().path));

    auto* tags = form.findChild<QComboBox*>("tagStyleBox");
    QVERIFY(tags);
    tags->setCurrentIndex(1);
    emit tags->activated(1);
    QCOMPARE(form.findChild<QPlainTextEdit*>("urlEdit")->toPlainText().split('\n').at(1),
             QStringLiteral("[URL=http://127.0.0.1/photo.JPG][IMG]http://127.0.0.1/"
                            "photo_thumb.jpg[/IMG][/URL]"));

    // Entries with thumbnails are not asked about again.
    form.show();
    form.startUpload();
    QCOMPARE(m_dialogs->asked().size(), 1);
}

void TestMainWindowUpload::markdownLinesCopiedBeforeAutoclose() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    ServerSetup setup = test::setupFor(server);
    setup.chmod = "604";
    test::saveServerConfig(setup, {{"AutoCopy", SettingValue::boolean(true)},
                                   {"Autoclose", SettingValue::boolean(true)},
                                   {"TagStyle", SettingValue::integer(5)},
                                   {"TempNames", SettingValue::boolean(true)}});
    MainWindow form({jpegFile(*m_local, "photo.jpg")});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* copied = new QMimeData;
    copied->setUrls({QUrl::fromLocalFile(test::sparseLocalFile(*m_local, "notes [v2].txt", 20))});
    QApplication::clipboard()->setMimeData(copied);
    control<QAction>(form, "pasteAction")->trigger();
    QApplication::clipboard()->setImage(QImage(5, 5, QImage::Format_RGB32));
    control<QAction>(form, "pasteAction")->trigger();
    const QString pasted = QFileInfo(form.files().first().path).fileName();
    QVERIFY(pasted.startsWith("clipboard-"));

    m_dialogs->expectThumbnailOffer(ThumbnailImages::Jpeg, true);
    form.startUpload();
    QVERIFY(!form.isVisible());
    QCOMPARE(QApplication::clipboard()->text(),
             "![" + pasted + "](http://127.0.0.1/" + pasted +
                 ")\r\n[notes \\[v2\\].txt](http://127.0.0.1/notes%20%5Bv2%5D.txt)\r\n"
                 "[![photo.jpg](http://127.0.0.1/photo_thumb.jpg)](http://127.0.0.1/photo.jpg)");
    const QDir remote(server.localPath(""));
    QStringList uploaded = remote.entryList(QDir::Files, QDir::Name);
    uploaded.removeOne("server.log");
    QCOMPARE(uploaded, (QStringList{pasted, "notes [v2].txt", "photo.jpg", "photo_thumb.jpg"}));
    for (const QString& name : std::as_const(uploaded))
        // The "user" flags are this process's view and repeat the owner's here.
        QCOMPARE(QFile::permissions(remote.filePath(name)) &
                     ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
}

void TestMainWindowUpload::thumbnailsDeclined_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("images");
    const int jpeg = int(ThumbnailImages::Jpeg);
    const int mixed = int(ThumbnailImages::Mixed);
    QTest::newRow("JPEG") << QStringList{"photo.jpg"} << jpeg;
    QTest::newRow("JPEG and text") << QStringList{"notes.txt", "photo.jpeg"} << jpeg;
    QTest::newRow("BMP") << QStringList{"photo.BMP"} << mixed;
    QTest::newRow("BMP and JPEG") << QStringList{"a.bmp", "b.JPG"} << mixed;
}

void TestMainWindowUpload::thumbnailsDeclined() {
    QFETCH(QStringList, names);
    QFETCH(int, images);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    QStringList paths;
    UploadResults expected;
    for (const QString& name : names) {
        paths.append(jpegFile(*m_local, name));
        expected.append({name, ""});
    }
    MainWindow form(paths);
    m_dialogs->expectThumbnailOffer(ThumbnailImages(images), false);
    form.startUpload();
    QCOMPARE(form.uploadResults(), expected);
    QVERIFY(QDir(server.localPath("")).entryList({"*_thumb*"}).isEmpty());
}

void TestMainWindowUpload::autocloseClosesAfterUpload() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Autoclose", SettingValue::boolean(true)}});
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QFile::remove(m_programDir->filePath("config.xml"));
    form.startUpload();
    QVERIFY(!form.isVisible());
    QVERIFY(QFile::exists(m_programDir->filePath("config.xml")));
}

void TestMainWindowUpload::autocloseStaysOpenWhenNothingWasUploaded() {
    FtpServer server("storfull");
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Autoclose", SettingValue::boolean(true)}});
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    m_dialogs->expectErrorQuestionMatching("\"a.png\" could not be uploaded .*\n552 .*", false);
    form.startUpload();
    QVERIFY(form.isVisible());
    QVERIFY(idle(form));
}

// "Edit Server…" at a failed file stops the run and shows the server's settings to mend them.
void TestMainWindowUpload::errorLeadsToTheServerSettings() {
    FtpServer server("storfull");
    QUADDLE_REQUIRE_SERVER(server);
    Config config;
    for (const QString& name : QStringList{"Other server", "Failing server"}) {
        const qint32 index =
            config.storeServer(server.host(), QString::number(server.port()), server.user(),
                               server.password(), QString(), QString(), QString(), "0", -1, -1);
        config.serverNames[index] = name;
    }
    config.saveConfig();
    MainWindow form({test::sparseLocalFile(*m_local, "a.png", 100),
                     test::sparseLocalFile(*m_local, "b.png", 100)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.config().currentServer = 1;
    m_dialogs->expectErrorQuestionEditingServer("\"a.png\" could not be uploaded .*\n552 .*");
    form.startUpload();
    QVERIFY2(m_dialogs->done(), qPrintable(m_dialogs->report()));
    QVERIFY(idle(form));
    // Nothing more went after the answer.
    QVERIFY(!QFile::exists(server.localPath("b.png")));
    auto* tree = form.findChild<QTreeWidget*>("serverTree");
    QVERIFY(tree && tree->isVisible());
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Failing server"));
    QCOMPARE(form.findChild<QLineEdit*>("hostEdit")->text(), server.host());
}

void TestMainWindowUpload::screenshotIsAddedAndUploaded() {
    const test::PrivateBus bus;
    QVERIFY2(!bus.address().isEmpty(), "dbus-daemon is needed (package dbus-daemon)");
    // Named before the window's first use of the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    test::ScreenshotPortal portal(bus.address(), 0);
    QVERIFY(portal.registered());
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    // The screenshot that went up already goes again without a question.
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(1)}});
    // A file left in the list by an earlier attempt.
    const QString left = test::sparseLocalFile(*m_local, "left.txt", 100);
    MainWindow form({left});
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));

    // The screenshot goes alone; the file stays in the list for later.
    QTest::keySequence(&form, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QCOMPARE(portal.requests().size(), 1);
    QCOMPARE(form.files().size(), 2);
    const qsizetype shot = form.files()[0].path == left ? 1 : 0;
    QCOMPARE(form.files()[1 - shot].path, left);
    const QString name = QFileInfo(form.files()[shot].path).fileName();
    QVERIFY2(QRegularExpression("^screenshot-\\d{8}-\\d{6}\\.png$").match(name).hasMatch(),
             qPrintable(name));
    QCOMPARE(form.uploadResults(), (UploadResults{{name, ""}}));
    QCOMPARE(test::fileChecksum(server.localPath(name)), test::fileChecksum(portal.pngPath()));
    // The server's folder holds the uploads, beside what the test server keeps there.
    const QStringList uploads{"*.png", "*.txt"};
    QCOMPARE(QDir(server.localPath("")).entryList(uploads, QDir::Files), QStringList{name});

    // Asked for, it goes with the files of the list.
    control<QAction>(form, "screenshotWithFilesAction")->trigger();
    QCOMPARE(portal.requests().size(), 2);
    QCOMPARE(form.files().size(), 3);
    QStringList listed;
    for (const FileEntry& entry : form.files())
        listed.append(QFileInfo(entry.path).fileName());
    listed.sort();
    QCOMPARE(QDir(server.localPath("")).entryList(uploads, QDir::Files, QDir::Name), listed);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

QTEST_MAIN(TestMainWindowUpload)
#include "TestMainWindowUpload.moc"
