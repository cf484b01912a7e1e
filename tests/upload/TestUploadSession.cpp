#include "ScriptedDialogs.h"
#include "ScriptedDriver.h"
#include "platform/Error.h"
#include "upload/UploadSession.h"
#include "upload/UploadErrors.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

using namespace quaddle;
using quaddle::test::TDriverScript;

namespace {

struct TStatus {
    QString Text;
    int Index;
    friend bool operator==(const TStatus&, const TStatus&) = default;
};

QStringList Names(const TUploadResults& results) {
    QStringList names;
    for (const TUploadResult& result : results)
        names.append(result.File + "|" + result.Thumbnail);
    return names;
}

} // namespace

class TestUploadSession : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unknownServerTypeHasNoDriver();
    void optionsToggle();
    void loginAsksForMissingCredentials();
    void loginPromptCancelled();
    void refusedLoginIsRetriedAsOftenAsWanted();
    void refusedLoginAbandoned_data();
    void refusedLoginAbandoned();
    void unreachableServerIsAnError();

    void emptyDirectoryIsEnteredAtOnce();
    void missingDirectoryIsCreatedWhenConfirmed();
    void missingDirectoryDeclined();
    void missingDirectoryWithoutCreateIsAnError();
    void directoryPathsAreCreatedSegmentBySegment_data();
    void directoryPathsAreCreatedSegmentBySegment();
    void directoryThatCannotBeMadeIsAnError();
    void cancelledDirectoryChangeAsksNothing();
    void cancelStopsCreatingDirectories();

    void clashAnsweredSkip();
    void rememberedOverwriteLastsForTheSessionOnly();
    void renameMovesExistingFileAside();
    void renameGivesUpCountingAfter999();
    void overwritePolicyTestsNothing();
    void skipAndRenamePoliciesAskNothing();
    void failedRenameCountsAsFailedFile();

    void missingFileStopsBeforeAnythingIsSent();
    void missingThumbnailAbortsTheRun();
    void failedThumbnailIsNotReported();
    void failedFileAnsweredNoEndsTheLoop();
    void failedFileAnsweredYesGoesOn();
    void cancelDuringFirstFile();
    void cancelDuringExistenceTest();

    void eventsAndByteCounters();
    void unreadableFileAddsNothingToTotal();
    void logKeepsOnlyErrorsWhenOff();
    void concurrentLogLinesAreAllKept();
    void zeroPad();

private:
    TUpload& Session(int overwrite = PolicyAsk, bool log = true, int serverType = 0);
    QString LocalFile(const QString& name, qint64 size = 100);
    TFileList Files(const QStringList& names);

    std::unique_ptr<QTemporaryDir> Local;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    TDriverScript Script;
    std::unique_ptr<TUpload> Upload;
    QList<TStatus> Statuses;
    QStringList Progress;
};

void TestUploadSession::init() {
    Local = std::make_unique<QTemporaryDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    Script = TDriverScript();
    Statuses.clear();
    Progress.clear();
}

void TestUploadSession::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Upload.reset();
    Dialogs.reset();
    Local.reset();
}

TUpload& TestUploadSession::Session(int overwrite, bool log, int serverType) {
    Upload = std::make_unique<TUpload>(
        [this](const QString& name, qint64 size, qint64 sent) {
            Progress.append(QStringLiteral("%1 %2 %3").arg(name).arg(size).arg(sent));
        },
        [this](const QString& text, int index) {
            Statuses.append({text, index});
        },
        serverType, overwrite, log, test::ScriptedDrivers(Script));
    return *Upload;
}

QString TestUploadSession::LocalFile(const QString& name, qint64 size) {
    QFile file(Local->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(size, 'x')) != size)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

TFileList TestUploadSession::Files(const QStringList& names) {
    TFileList files;
    for (const QString& name : names)
        files.append({LocalFile(name), QString()});
    return files;
}

void TestUploadSession::unknownServerTypeHasNoDriver() {
    QVERIFY_THROWS_EXCEPTION(TError, Session(PolicyAsk, true, 2));
    QVERIFY(Script.Calls.isEmpty());
}

void TestUploadSession::optionsToggle() {
    TUploadProtokoll& driver = Session().Protokoll();
    QCOMPARE(driver.GetOptions(), 0);
    driver.SetOption(TUploadProtokoll::PassiveMode);
    QCOMPARE(driver.GetOptions(), 2);
    driver.SetOption(TUploadProtokoll::TextMode);
    driver.SetOption(TUploadProtokoll::PassiveMode);
    QCOMPARE(driver.GetOptions(), 4);
}

void TestUploadSession::loginAsksForMissingCredentials() {
    Dialogs->ExpectLogin("user", "password");
    QVERIFY(Session().Login("ftp.example.org", "21", "user", QString()));
    QCOMPARE(Dialogs->Asked().first().Given, QStringLiteral("user"));
    QCOMPARE(Script.Calls, QStringList{"Connect ftp.example.org 21 user password"});
    QVERIFY(Upload->LogLines().contains("Connected to ftp.example.org\t0"));
}

void TestUploadSession::loginPromptCancelled() {
    Dialogs->ExpectLoginCancelled();
    QVERIFY(!Session().Login("h", "21", QString(), QString()));
    QVERIFY(Script.Calls.isEmpty());
}

void TestUploadSession::refusedLoginIsRetriedAsOftenAsWanted() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Dialogs->ExpectMessage("Login incorrect. Please try again.", TMsgAnswer::Ok);
        Dialogs->ExpectLogin("user", attempt < 2 ? QString("wrong") : QString("password"));
    }
    QVERIFY(Session().Login("h", "2121", "user", "typo"));
    QCOMPARE(Script.Calls.size(), 4);
    QCOMPARE(Script.Calls.last(), QStringLiteral("Connect h 2121 user password"));
    QCOMPARE(Dialogs->Asked().first().Buttons, TMsgButtons::OkAbort);
    QCOMPARE(Dialogs->Asked().first().Kind, TMsgKind::Error);
}

void TestUploadSession::refusedLoginAbandoned_data() {
    QTest::addColumn<bool>("abort");
    QTest::newRow("Abort") << true;
    QTest::newRow("OK, then login prompt cancelled") << false;
}

void TestUploadSession::refusedLoginAbandoned() {
    QFETCH(bool, abort);
    Dialogs->ExpectMessage("Login incorrect. Please try again.",
                           abort ? TMsgAnswer::Abort : TMsgAnswer::Ok);
    if (!abort)
        Dialogs->ExpectLoginCancelled();
    QVERIFY(!Session().Login("h", "21", "user", "typo"));
    QCOMPARE(Script.Calls.size(), 1);
}

void TestUploadSession::unreachableServerIsAnError() {
    Script.Unreachable = true;
    try {
        Session().Login("h", "21", "user", "password");
        QFAIL("no error");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), UploadErrors::ConnectFailed);
    }
}

void TestUploadSession::emptyDirectoryIsEnteredAtOnce() {
    QVERIFY(Session().EnterDir(QString(), false, true));
    QVERIFY(Script.Calls.isEmpty());
    Script.Directories = {"/htdocs"};
    QVERIFY(Upload->EnterDir("/htdocs", false, false));
    QCOMPARE(Script.Calls, QStringList{"ChangeDir /htdocs"});
}

void TestUploadSession::missingDirectoryIsCreatedWhenConfirmed() {
    Dialogs->ExpectAskUser(TAskMode::Directory, "/htdocs", PolicyOverwrite);
    QVERIFY(Session().EnterDir("/htdocs", false, true));
    QCOMPARE(Script.Calls, (QStringList{"ChangeDir /htdocs", "ChangeDir /htdocs", "MakeDir /htdocs",
                                        "ChangeDir /htdocs"}));
}

void TestUploadSession::missingDirectoryDeclined() {
    // Remember is never part of a directory answer; anything but Create declines.
    Dialogs->ExpectAskUser(TAskMode::Directory, "gallery", PolicySkip);
    QVERIFY(!Session().EnterDir("gallery", false, true));
    QCOMPARE(Script.Calls, QStringList{"ChangeDir gallery"});

    Script.Calls.clear();
    QVERIFY(Upload->EnterDir("gallery", true, true));
    QCOMPARE(Script.Calls, (QStringList{"ChangeDir gallery", "ChangeDir gallery", "MakeDir gallery",
                                        "ChangeDir gallery"}));
}

void TestUploadSession::missingDirectoryWithoutCreateIsAnError() {
    try {
        Session().EnterDir("/nowhere", false, false);
        QFAIL("no error");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), UploadErrors::ChangeDirFailed);
    }
}

void TestUploadSession::directoryPathsAreCreatedSegmentBySegment_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("entered");
    QTest::newRow("relative with dot") << "./a/b" << QStringList{"a", "b"};
    QTest::newRow("absolute") << "/htdocs/x" << QStringList{"/htdocs", "x"};
    QTest::newRow("plain relative") << "gallery/2024" << QStringList{"gallery", "2024"};
    QTest::newRow("doubled slash") << "a//b" << QStringList{"a", "b"};
    QTest::newRow("trailing slash") << "/web/" << QStringList{"/web"};
    QTest::newRow("one character") << "./z" << QStringList{"z"};
}

void TestUploadSession::directoryPathsAreCreatedSegmentBySegment() {
    QFETCH(QString, path);
    QFETCH(QStringList, entered);
    QVERIFY(Session().EnterDir(path, true, true));
    QStringList expected{"ChangeDir " + path};
    for (const QString& segment : entered)
        expected << "ChangeDir " + segment << "MakeDir " + segment << "ChangeDir " + segment;
    QCOMPARE(Script.Calls, expected);

    // Segments that exist are entered without being made.
    Script.Calls.clear();
    QVERIFY(Upload->EnterDir(path + "/new", true, true));
    QCOMPARE(Script.Calls.count("MakeDir new"), 1);
    QCOMPARE(Script.Calls.filter("MakeDir").size(), 1);
}

void TestUploadSession::directoryThatCannotBeMadeIsAnError() {
    Script.Directories = {"a"};
    Script.FailingMakeDirs = {"b"};
    try {
        Session().EnterDir("a/b/c", true, true);
        QFAIL("no error");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), UploadErrors::MakeDirFailed);
    }
    QCOMPARE(Script.Calls.last(), QStringLiteral("MakeDir b"));
}

void TestUploadSession::cancelledDirectoryChangeAsksNothing() {
    Script.OnCall = [this](const QString& call) {
        if (call == "ChangeDir /htdocs")
            Upload->Cancel();
    };
    QVERIFY(!Session().EnterDir("/htdocs", false, true));
    QCOMPARE(Script.Calls, (QStringList{"ChangeDir /htdocs", "Abort"}));
}

void TestUploadSession::cancelStopsCreatingDirectories() {
    Script.OnCall = [this](const QString& call) {
        if (call == "MakeDir a")
            Upload->Cancel();
    };
    QVERIFY(Session().EnterDir("a/b/c", true, true));
    QCOMPARE(Script.Calls.last(), QStringLiteral("ChangeDir a"));
    QVERIFY(!Script.Calls.contains("ChangeDir b"));
    QVERIFY(Script.Calls.contains("Abort"));
}

void TestUploadSession::clashAnsweredSkip() {
    Script.RemoteFiles = {"a.jpg"};
    Dialogs->ExpectAskUser(TAskMode::File, "a.jpg", PolicySkip);
    const TFileList files = Files({"a.jpg"});
    const TUploadResults results = Session().UploadFiles(files);
    QCOMPARE(Names(results), QStringList{"a.jpg|"});
    QVERIFY(Script.Uploaded.isEmpty());
    QVERIFY(Upload->LogLines().contains("Skipping " + files[0].Path + " [overwrite = 128]\t0"));
}

void TestUploadSession::rememberedOverwriteLastsForTheSessionOnly() {
    Script.RemoteFiles = {"a.jpg", "b.jpg", "c.jpg"};
    Dialogs->ExpectAskUser(TAskMode::File, "a.jpg", PolicyOverwrite + RememberBit);
    const TFileList files = Files({"a.jpg", "b.jpg", "c.jpg"});
    QCOMPARE(Session().UploadFiles(files).size(), 3);
    QCOMPARE(Script.Uploaded.size(), 3);
    QVERIFY(Upload->LogLines().contains("Uploading file " + files[0].Path + " [overwrite = 1]\t0"));
    QVERIFY(Upload->LogLines().contains("Uploading file " + files[2].Path + "\t0"));
    // Once remembered, later clashes are not even looked for.
    QCOMPARE(Script.Calls.filter("FileExists").size(), 1);

    Dialogs->ExpectAskUser(TAskMode::File, "a.jpg", PolicySkip);
    QCOMPARE(Session().UploadFiles(Files({"a.jpg"})).size(), 1);
}

void TestUploadSession::renameMovesExistingFileAside() {
    Script.RemoteFiles = {"photo.jpg", "photo_001.jpg"};
    Dialogs->ExpectAskUser(TAskMode::File, "photo.jpg", PolicyRename);
    const TFileList files = Files({"photo.jpg"});
    QCOMPARE(Names(Session().UploadFiles(files)), QStringList{"photo.jpg|"});
    QCOMPARE(Script.Calls.mid(1, 4),
             (QStringList{"FileExists photo_001.jpg", "FileExists photo_002.jpg",
                          "RenameFile photo.jpg photo_002.jpg", "PutFile " + files[0].Path}));
    QCOMPARE(Upload->RenamedFiles(), (TRenamedFiles{{"photo.jpg", "photo_002.jpg"}}));
    QVERIFY(Upload->LogLines().contains("Uploading file " + files[0].Path + " [overwrite = 2]\t0"));
}

void TestUploadSession::renameGivesUpCountingAfter999() {
    Script.RemoteFiles = {"a.tar.gz"};
    for (int n = 1; n <= 999; ++n)
        Script.RemoteFiles.insert(QStringLiteral("a.tar_%1.gz").arg(n, 3, 10, QLatin1Char('0')));
    Session(PolicyRename).UploadFiles(Files({"a.tar.gz"}));
    QCOMPARE(Script.Calls.filter("FileExists").size(), 1000);
    QVERIFY(Script.Calls.contains("RenameFile a.tar.gz a.tar_1000.gz"));

    Script.RemoteFiles = {"README"};
    Script.Calls.clear();
    Session(PolicyRename).UploadFiles(Files({"README"}));
    QVERIFY(Script.Calls.contains("RenameFile README README_001"));
}

void TestUploadSession::overwritePolicyTestsNothing() {
    Script.RemoteFiles = {"a.jpg"};
    const TFileList files = Files({"a.jpg", "b.jpg"});
    QCOMPARE(Session(PolicyOverwrite).UploadFiles(files).size(), 2);
    QVERIFY(Script.Calls.filter("FileExists").isEmpty());
    QVERIFY(Upload->LogLines().contains("Uploading file " + files[0].Path + "\t0"));
}

void TestUploadSession::skipAndRenamePoliciesAskNothing() {
    Script.RemoteFiles = {"a.jpg"};
    const TFileList files = Files({"a.jpg", "b.jpg"});
    QCOMPARE(Names(Session(PolicySkip).UploadFiles(files)), (QStringList{"a.jpg|", "b.jpg|"}));
    QCOMPARE(Script.Uploaded, QStringList{files[1].Path});

    Script.Uploaded.clear();
    QCOMPARE(Session(PolicyRename).UploadFiles(files).size(), 2);
    QCOMPARE(Script.Uploaded.size(), 2);
    QCOMPARE(Upload->RenamedFiles(),
             (TRenamedFiles{{"a.jpg", "a_001.jpg"}, {"b.jpg", "b_001.jpg"}}));
}

void TestUploadSession::failedRenameCountsAsFailedFile() {
    Script.RemoteFiles = {"a.jpg"};
    Script.FailingRenames = {"a.jpg"};
    Dialogs->ExpectMessage("An error occured: \n\nIgnore and continue?", TMsgAnswer::No);
    QVERIFY(Session(PolicyRename).UploadFiles(Files({"a.jpg"})).isEmpty());
    QVERIFY(Script.Uploaded.isEmpty());
    QVERIFY(Upload->RenamedFiles().isEmpty());
}

void TestUploadSession::missingFileStopsBeforeAnythingIsSent() {
    TFileList files = Files({"a.jpg", "b.jpg", "c.jpg"});
    QFile::remove(files[1].Path);
    try {
        Session().UploadFiles(files);
        QFAIL("no error");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), UploadErrors::FileMissing);
    }
    QVERIFY(Script.Calls.isEmpty());
}

void TestUploadSession::missingThumbnailAbortsTheRun() {
    TFileList files = Files({"a.jpg", "b.jpg"});
    files[0].Thumbnail = Local->filePath("gone_thumb.jpg");
    QVERIFY_THROWS_EXCEPTION(TError, Session(PolicyOverwrite).UploadFiles(files));
    QCOMPARE(Script.Uploaded, QStringList{files[0].Path});
}

void TestUploadSession::failedThumbnailIsNotReported() {
    TFileList files = Files({"a.jpg"});
    files[0].Thumbnail = LocalFile("a_thumb.jpg", 10);
    Script.FailingPuts = {"a_thumb.jpg"};
    QCOMPARE(Names(Session(PolicyOverwrite).UploadFiles(files)), QStringList{"a.jpg|"});

    Script.FailingPuts.clear();
    QCOMPARE(Names(Session(PolicyOverwrite).UploadFiles(files)), QStringList{"a.jpg|a_thumb.jpg"});
}

void TestUploadSession::failedFileAnsweredNoEndsTheLoop() {
    Script.FailingPuts = {"b.jpg"};
    const QString message = "550 b.jpg: Permission denied";
    Dialogs->ExpectMessage("An error occured: \n" + message + "\nIgnore and continue?",
                           TMsgAnswer::No);
    QCOMPARE(Names(Session(PolicyOverwrite, false).UploadFiles(Files({"a.jpg", "b.jpg", "c.jpg"}))),
             QStringList{"a.jpg|"});
    QCOMPARE(Dialogs->Asked().first().Buttons, TMsgButtons::YesNo);
    QCOMPARE(Upload->LogLines(), QStringList{message + "\t2"});

    Session(PolicyOverwrite, true);
    Dialogs->ExpectMessage("An error occured: \n" + message + "\nIgnore and continue?",
                           TMsgAnswer::No);
    Upload->UploadFiles(Files({"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(Upload->LogLines().last(), QStringLiteral("1 files uploaded.\t0"));
}

void TestUploadSession::failedFileAnsweredYesGoesOn() {
    Script.FailingPuts = {"b.jpg"};
    Dialogs->ExpectMessage("An error occured: \n550 b.jpg: Permission denied\nIgnore and continue?",
                           TMsgAnswer::Yes);
    QCOMPARE(Names(Session(PolicyOverwrite).UploadFiles(Files({"a.jpg", "b.jpg", "c.jpg"}))),
             (QStringList{"a.jpg|", "c.jpg|"}));
    QCOMPARE(Upload->LogLines().last(), QStringLiteral("3 files uploaded.\t0"));
}

void TestUploadSession::cancelDuringFirstFile() {
    const TFileList files = Files({"a.jpg", "b.jpg", "c.jpg"});
    Script.OnCall = [this](const QString& call) {
        if (call.startsWith("PutFile"))
            Upload->Cancel();
    };
    QVERIFY(Session(PolicyOverwrite).UploadFiles(files).isEmpty());
    QCOMPARE(Script.Calls.filter("PutFile").size(), 1);
    QVERIFY(Script.Calls.contains("Abort"));
    const QStringList log = Upload->LogLines();
    QVERIFY(log.contains("CANCEL\t1"));
    QCOMPARE(log.last(), QStringLiteral("0 files uploaded.\t0"));
    QCOMPARE(Statuses.last(), (TStatus{QString(), -1}));
}

void TestUploadSession::cancelDuringExistenceTest() {
    const TFileList files = Files({"a.jpg", "b.jpg"});
    Script.OnCall = [this](const QString& call) {
        if (call.startsWith("FileExists"))
            Upload->Cancel();
    };
    QVERIFY(Session(PolicyAsk).UploadFiles(files).isEmpty());
    QVERIFY(Script.Calls.filter("PutFile").isEmpty());
    QVERIFY(Upload->LogLines().contains("Skipping " + files[0].Path + " [cancel]\t0"));
    QVERIFY(!Script.Calls.contains("FileExists b.jpg"));
}

void TestUploadSession::eventsAndByteCounters() {
    TFileList files{{LocalFile("a.jpg", 1000), LocalFile("a_thumb.jpg", 30)},
                    {LocalFile("b.png", 3000), QString()}};
    TUpload& upload = Session(PolicyOverwrite);
    upload.UploadFiles(files);
    QCOMPARE(Statuses,
             (QList<TStatus>{
                 {"a.jpg", 0}, {"Uploading thumbnail...", -2}, {"b.png", 1}, {QString(), -1}}));
    QCOMPARE(Progress, (QStringList{"a.jpg 0 0", "a.jpg 1000 500", "a.jpg 1000 1000",
                                    "a_thumb.jpg 0 0", "a_thumb.jpg 0 15", "a_thumb.jpg 0 30",
                                    "b.png 0 0", "b.png 3000 1500", "b.png 3000 3000"}));
    QCOMPARE(upload.BytesTotal(), 4000);
    QCOMPARE(upload.BytesDone(), 4000);
}

void TestUploadSession::unreadableFileAddsNothingToTotal() {
    QVERIFY(QDir(Local->path()).mkdir("folder.jpg"));
    const QString folder = Local->filePath("folder.jpg");
    QCOMPARE(TUpload::LocalFileSize(folder), -1);
    QCOMPARE(TUpload::LocalFileSize(Local->filePath("missing")), -1);
    QCOMPARE(TUpload::LocalFileSize(LocalFile("five", 5)), 5);

    Script.FailingPuts = {"folder.jpg"};
    Dialogs->ExpectMessage("An error occured: \n550 folder.jpg: Permission denied\nIgnore and "
                           "continue?",
                           TMsgAnswer::Yes);
    TUpload& upload = Session(PolicyOverwrite);
    upload.UploadFiles({{folder, QString()}, {LocalFile("b.jpg", 200), QString()}});
    QCOMPARE(upload.BytesTotal(), 200);
    QCOMPARE(upload.BytesDone(), 200);
}

void TestUploadSession::logKeepsOnlyErrorsWhenOff() {
    TUpload& quiet = Session(PolicyAsk, false);
    quiet.AddLog("traffic", LogTraffic);
    quiet.AddLog("cancel", LogCancel);
    quiet.AddLog("error", LogError);
    QCOMPARE(quiet.LogLines(), QStringList{"error\t2"});

    TUpload& verbose = Session(PolicyAsk, true);
    verbose.AddLog("traffic", LogTraffic);
    verbose.AddLog("error", LogError);
    QCOMPARE(verbose.LogLines(), (QStringList{"traffic\t0", "error\t2"}));
}

void TestUploadSession::concurrentLogLinesAreAllKept() {
    TUpload& upload = Session();
    constexpr int PerThread = 20000;
    std::unique_ptr<QThread> reader(QThread::create([&upload] {
        for (int i = 0; i < PerThread; ++i)
            upload.AddLog(QStringLiteral("reader %1").arg(i), LogTraffic);
    }));
    reader->start();
    for (int i = 0; i < PerThread; ++i)
        upload.AddLog(QStringLiteral("ui %1").arg(i), LogTraffic);
    reader->wait();
    const QStringList lines = upload.LogLines();
    QCOMPARE(lines.size(), 2 * PerThread);
    QCOMPARE(lines.filter("reader").size(), PerThread);
    QVERIFY(lines.contains(QStringLiteral("reader %1\t0").arg(PerThread - 1)));
}

void TestUploadSession::zeroPad() {
    QCOMPARE(TUpload::ZeroPad("5", 3), QStringLiteral("005"));
    QCOMPARE(TUpload::ZeroPad("42", 3), QStringLiteral("042"));
    QCOMPARE(TUpload::ZeroPad("1000", 3), QStringLiteral("1000"));
    QCOMPARE(TUpload::ZeroPad("", 2), QStringLiteral("00"));
}

QTEST_GUILESS_MAIN(TestUploadSession)
#include "TestUploadSession.moc"
