#include "LocalFiles.h"
#include "ScriptedDialogs.h"
#include "ScriptedDriver.h"
#include "platform/Error.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <memory>

using namespace quaddle;
using quaddle::test::DriverScript;

namespace {

struct StatusRecord {
    QString text;
    int index;
    friend bool operator==(const StatusRecord&, const StatusRecord&) = default;
};

QStringList names(const UploadResults& results) {
    QStringList names;
    for (const UploadResult& result : results)
        names.append(result.file + "|" + result.thumbnail);
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
    void cancelledLoginEndsQuietly_data();
    void cancelledLoginEndsQuietly();

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
    void tempNamesAndPermissions();

    void missingFileStopsBeforeAnythingIsSent();
    void missingThumbnailAbortsTheRun();
    void failedThumbnailIsAnErrorOfItsFile_data();
    void failedThumbnailIsAnErrorOfItsFile();
    void logCountsEachOutcome_data();
    void logCountsEachOutcome();
    void failedFileAnsweredNoEndsTheLoop();
    void failedFileAnsweredYesGoesOn();
    void cancelDuringFirstFile();
    void cancelDuringExistenceTest();

    void eventsAndByteCounters();
    void unreadableFileAddsNothingToTotal();
    void logKeepsOnlyErrorsWhenOff();
    void concurrentLogLinesAreAllKept();
    void logIsCutPastItsBudget();
    void zeroPad();

private:
    UploadSession& session(int overwrite = PolicyAsk, bool log = true, int serverType = 0);
    FileList fileList(const QStringList& names);

    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
    DriverScript m_script;
    std::unique_ptr<UploadSession> m_session;
    QList<StatusRecord> m_statuses;
    QStringList m_progressBar;
};

void TestUploadSession::init() {
    m_local = std::make_unique<QTemporaryDir>();
    m_dialogs = std::make_unique<test::ScriptedDialogs>();
    m_script = DriverScript();
    m_statuses.clear();
    m_progressBar.clear();
}

void TestUploadSession::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_session.reset();
    m_dialogs.reset();
    m_local.reset();
}

UploadSession& TestUploadSession::session(int overwrite, bool log, int serverType) {
    m_session = std::make_unique<UploadSession>(
        [this](const QString& name, qint64 size, qint64 sent) {
            m_progressBar.append(QStringLiteral("%1 %2 %3").arg(name).arg(size).arg(sent));
        },
        [this](const QString& text, int index) {
            m_statuses.append({text, index});
        },
        serverType, overwrite, log, test::scriptedDrivers(m_script));
    return *m_session;
}

FileList TestUploadSession::fileList(const QStringList& names) {
    FileList files;
    for (const QString& name : names)
        files.append({test::sparseLocalFile(*m_local, name, 100), QString()});
    return files;
}

void TestUploadSession::unknownServerTypeHasNoDriver() {
    QVERIFY_THROWS_EXCEPTION(Error, session(PolicyAsk, true, 2));
    QVERIFY(m_script.calls.isEmpty());
}

void TestUploadSession::optionsToggle() {
    ProtocolDriver& driver = session().driver();
    QCOMPARE(driver.options(), 0);
    driver.setOption(ProtocolDriver::PassiveMode);
    QCOMPARE(driver.options(), 2);
    driver.setOption(ProtocolDriver::TextMode);
    driver.setOption(ProtocolDriver::PassiveMode);
    QCOMPARE(driver.options(), 4);
}

void TestUploadSession::loginAsksForMissingCredentials() {
    m_dialogs->expectLogin("user", "password");
    QVERIFY(session().login("ftp.example.org", "21", "user", QString()));
    QCOMPARE(m_dialogs->asked().first().given, QStringLiteral("user"));
    QCOMPARE(m_script.calls, QStringList{"Connect ftp.example.org 21 user password"});
    QVERIFY(m_session->logLines().contains("Connected to ftp.example.org\t0"));
}

void TestUploadSession::loginPromptCancelled() {
    m_dialogs->expectLoginCancelled();
    QVERIFY(!session().login("h", "21", QString(), QString()));
    QVERIFY(m_script.calls.isEmpty());
}

void TestUploadSession::refusedLoginIsRetriedAsOftenAsWanted() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_dialogs->expectLoginRetry(true);
        m_dialogs->expectLogin("user", attempt < 2 ? QString("wrong") : QString("password"));
    }
    QVERIFY(session().login("h", "2121", "user", "typo"));
    QCOMPARE(m_script.calls.size(), 4);
    QCOMPARE(m_script.calls.last(), QStringLiteral("Connect h 2121 user password"));
}

void TestUploadSession::refusedLoginAbandoned_data() {
    QTest::addColumn<bool>("abort");
    QTest::newRow("Abort") << true;
    QTest::newRow("OK, then login prompt cancelled") << false;
}

void TestUploadSession::refusedLoginAbandoned() {
    QFETCH(bool, abort);
    m_dialogs->expectLoginRetry(!abort);
    if (!abort)
        m_dialogs->expectLoginCancelled();
    QVERIFY(!session().login("h", "21", "user", "typo"));
    QCOMPARE(m_script.calls.size(), 1);
}

void TestUploadSession::unreachableServerIsAnError() {
    m_script.unreachable = true;
    try {
        session().login("h", "21", "user", "password");
        QFAIL("no error");
    } catch (const Error& error) {
        QCOMPARE(error.message(), UploadErrors::ConnectFailed);
    }
}

void TestUploadSession::cancelledLoginEndsQuietly_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("beforeLogin");
    QTest::newRow("refused while cancelling") << "wrong" << false;
    QTest::newRow("accepted while cancelling") << "password" << false;
    QTest::newRow("cancelled before the login") << "password" << true;
}

void TestUploadSession::cancelledLoginEndsQuietly() {
    QFETCH(QString, password);
    QFETCH(bool, beforeLogin);
    m_script.onCall = [this](const QString& call) {
        if (call.startsWith("Connect"))
            m_session->cancel();
    };
    UploadSession& run = session();
    if (beforeLogin)
        run.cancel();
    // No "Login incorrect" question (the scripted dialogs expect none) and no new attempt.
    QVERIFY(!run.login("h", "21", "user", password));
    QCOMPARE(m_script.calls.filter("Connect").size(), beforeLogin ? 0 : 1);
    QVERIFY(!run.logLines().contains("Connected to h\t0"));
}

void TestUploadSession::emptyDirectoryIsEnteredAtOnce() {
    QVERIFY(session().enterDir(QString(), false, true));
    QVERIFY(m_script.calls.isEmpty());
    m_script.directories = {"/htdocs"};
    QVERIFY(m_session->enterDir("/htdocs", false, false));
    QCOMPARE(m_script.calls, QStringList{"ChangeDir /htdocs"});
}

void TestUploadSession::missingDirectoryIsCreatedWhenConfirmed() {
    m_dialogs->expectMissingDir("/htdocs", MissingDirAnswer::Create);
    QVERIFY(session().enterDir("/htdocs", false, true));
    QCOMPARE(m_script.calls, (QStringList{"ChangeDir /htdocs", "ChangeDir /htdocs",
                                          "MakeDir /htdocs", "ChangeDir /htdocs"}));
}

void TestUploadSession::missingDirectoryDeclined() {
    m_dialogs->expectMissingDir("gallery", MissingDirAnswer::Cancel);
    QVERIFY(!session().enterDir("gallery", false, true));
    QCOMPARE(m_script.calls, QStringList{"ChangeDir gallery"});

    m_script.calls.clear();
    QVERIFY(m_session->enterDir("gallery", true, true));
    QCOMPARE(m_script.calls, (QStringList{"ChangeDir gallery", "ChangeDir gallery",
                                          "MakeDir gallery", "ChangeDir gallery"}));
}

void TestUploadSession::missingDirectoryWithoutCreateIsAnError() {
    try {
        session().enterDir("/nowhere", false, false);
        QFAIL("no error");
    } catch (const Error& error) {
        QCOMPARE(error.message(), UploadErrors::ChangeDirFailed);
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
    QVERIFY(session().enterDir(path, true, true));
    QStringList expected{"ChangeDir " + path};
    for (const QString& segment : entered)
        expected << "ChangeDir " + segment << "MakeDir " + segment << "ChangeDir " + segment;
    QCOMPARE(m_script.calls, expected);

    // Segments that exist are entered without being made.
    m_script.calls.clear();
    QVERIFY(m_session->enterDir(path + "/new", true, true));
    QCOMPARE(m_script.calls.count("MakeDir new"), 1);
    QCOMPARE(m_script.calls.filter("MakeDir").size(), 1);
}

void TestUploadSession::directoryThatCannotBeMadeIsAnError() {
    m_script.directories = {"a"};
    m_script.failingMakeDirs = {"b"};
    try {
        session().enterDir("a/b/c", true, true);
        QFAIL("no error");
    } catch (const Error& error) {
        QVERIFY2(error.message().startsWith(UploadErrors::MakeDirFailed + "\n") &&
                     error.message().contains(": \"b\": "),
                 qPrintable(error.message()));
    }
    QCOMPARE(m_script.calls.last(), QStringLiteral("MakeDir b"));
}

void TestUploadSession::cancelledDirectoryChangeAsksNothing() {
    m_script.onCall = [this](const QString& call) {
        if (call == "ChangeDir /htdocs")
            m_session->cancel();
    };
    QVERIFY(!session().enterDir("/htdocs", false, true));
    QCOMPARE(m_script.calls, (QStringList{"ChangeDir /htdocs", "Abort"}));
}

void TestUploadSession::cancelStopsCreatingDirectories() {
    m_script.onCall = [this](const QString& call) {
        if (call == "MakeDir a")
            m_session->cancel();
    };
    QVERIFY(session().enterDir("a/b/c", true, true));
    QCOMPARE(m_script.calls.last(), QStringLiteral("ChangeDir a"));
    QVERIFY(!m_script.calls.contains("ChangeDir b"));
    QVERIFY(m_script.calls.contains("Abort"));
}

void TestUploadSession::clashAnsweredSkip() {
    m_script.remoteFiles = {"a.jpg"};
    m_dialogs->expectFileExists("a.jpg", {FileExistsChoice::Skip, false});
    const FileList files = fileList({"a.jpg"});
    const UploadResults results = session().uploadFiles(files);
    QCOMPARE(names(results), QStringList{"a.jpg|"});
    QVERIFY(m_script.uploaded.isEmpty());
    QVERIFY(m_session->logLines().contains("Skipping " + files[0].path + " [overwrite = 128]\t0"));
}

void TestUploadSession::rememberedOverwriteLastsForTheSessionOnly() {
    m_script.remoteFiles = {"a.jpg", "b.jpg", "c.jpg"};
    m_dialogs->expectFileExists("a.jpg", {FileExistsChoice::Overwrite, true});
    const FileList files = fileList({"a.jpg", "b.jpg", "c.jpg"});
    QCOMPARE(session().uploadFiles(files).size(), 3);
    QCOMPARE(m_script.uploaded.size(), 3);
    QVERIFY(
        m_session->logLines().contains("Uploading file " + files[0].path + " [overwrite = 1]\t0"));
    QVERIFY(m_session->logLines().contains("Uploading file " + files[2].path + "\t0"));
    // Once remembered, later clashes are not even looked for.
    QCOMPARE(m_script.calls.filter("FileExists").size(), 1);

    m_dialogs->expectFileExists("a.jpg", {FileExistsChoice::Skip, false});
    QCOMPARE(session().uploadFiles(fileList({"a.jpg"})).size(), 1);
}

void TestUploadSession::renameMovesExistingFileAside() {
    m_script.remoteFiles = {"photo.jpg", "photo_001.jpg"};
    m_dialogs->expectFileExists("photo.jpg", {FileExistsChoice::Rename, false});
    const FileList files = fileList({"photo.jpg"});
    QCOMPARE(names(session().uploadFiles(files)), QStringList{"photo.jpg|"});
    QCOMPARE(m_script.calls.mid(1, 4),
             (QStringList{"FileExists photo_001.jpg", "FileExists photo_002.jpg",
                          "RenameFile photo.jpg photo_002.jpg", "PutFile " + files[0].path}));
    QCOMPARE(m_session->renamedFiles(), (RenamedFiles{{"photo.jpg", "photo_002.jpg"}}));
    QVERIFY(
        m_session->logLines().contains("Uploading file " + files[0].path + " [overwrite = 2]\t0"));
}

void TestUploadSession::renameGivesUpCountingAfter999() {
    m_script.remoteFiles = {"a.tar.gz"};
    for (int n = 1; n <= 999; ++n)
        m_script.remoteFiles.insert(QStringLiteral("a.tar_%1.gz").arg(n, 3, 10, QLatin1Char('0')));
    session(PolicyRename).uploadFiles(fileList({"a.tar.gz"}));
    QCOMPARE(m_script.calls.filter("FileExists").size(), 1000);
    QVERIFY(m_script.calls.contains("RenameFile a.tar.gz a.tar_1000.gz"));

    m_script.remoteFiles = {"README"};
    m_script.calls.clear();
    session(PolicyRename).uploadFiles(fileList({"README"}));
    QVERIFY(m_script.calls.contains("RenameFile README README_001"));
}

void TestUploadSession::overwritePolicyTestsNothing() {
    m_script.remoteFiles = {"a.jpg"};
    const FileList files = fileList({"a.jpg", "b.jpg"});
    QCOMPARE(session(PolicyOverwrite).uploadFiles(files).size(), 2);
    QVERIFY(m_script.calls.filter("FileExists").isEmpty());
    QVERIFY(m_session->logLines().contains("Uploading file " + files[0].path + "\t0"));
}

void TestUploadSession::skipAndRenamePoliciesAskNothing() {
    m_script.remoteFiles = {"a.jpg"};
    const FileList files = fileList({"a.jpg", "b.jpg"});
    QCOMPARE(names(session(PolicySkip).uploadFiles(files)), (QStringList{"a.jpg|", "b.jpg|"}));
    QCOMPARE(m_script.uploaded, QStringList{files[1].path});

    m_script.uploaded.clear();
    QCOMPARE(session(PolicyRename).uploadFiles(files).size(), 2);
    QCOMPARE(m_script.uploaded.size(), 2);
    QCOMPARE(m_session->renamedFiles(),
             (RenamedFiles{{"a.jpg", "a_001.jpg"}, {"b.jpg", "b_001.jpg"}}));
}

void TestUploadSession::failedRenameCountsAsFailedFile() {
    m_script.remoteFiles = {"a.jpg"};
    m_script.failingRenames = {"a.jpg"};
    m_dialogs->expectErrorQuestion("", false);
    QVERIFY(session(PolicyRename).uploadFiles(fileList({"a.jpg"})).isEmpty());
    QVERIFY(m_script.uploaded.isEmpty());
    QVERIFY(m_session->renamedFiles().isEmpty());
}

void TestUploadSession::tempNamesAndPermissions() {
    // The existence test and the rename aside see the real names; only the transfer does not.
    m_script.remoteFiles = {"a.jpg"};
    m_script.failingPuts = {"b.jpg"};
    m_script.failingModes = {"c.jpg"};
    const FileList files = fileList({"a.jpg", "b.jpg", "c.jpg"});
    UploadSession& upload = session(PolicyRename);
    QVERIFY_THROWS_EXCEPTION(Error, upload.setPermissions("0o644"));
    upload.setPermissions("644");
    upload.setTempNames(true);
    // The question names why the transfer failed, not why its remains could not be removed.
    m_dialogs->expectFileError("b.jpg", "550 b.jpg.part: Permission denied", true);
    QCOMPARE(names(upload.uploadFiles(files)), (QStringList{"a.jpg|", "c.jpg|"}));
    QCOMPARE(
        m_script.calls,
        (QStringList{"FileExists a.jpg", "FileExists a_001.jpg", "RenameFile a.jpg a_001.jpg",
                     "FileExists b.jpg", "FileExists c.jpg",
                     "PutFile " + files[0].path + " as a.jpg.part", "RenameFile a.jpg.part a.jpg",
                     "SetPermissions a.jpg 644", "PutFile " + files[1].path + " as b.jpg.part",
                     "RemoveFile b.jpg.part", "PutFile " + files[2].path + " as c.jpg.part",
                     "RenameFile c.jpg.part c.jpg", "SetPermissions c.jpg 644"}));
    QCOMPARE(m_script.remoteFiles, (QSet<QString>{"a.jpg", "a_001.jpg", "c.jpg"}));
    QVERIFY(upload.logLines().contains(
        "Could not set the permissions 644 of c.jpg: 550 c.jpg: Operation not permitted\t2"));
}

void TestUploadSession::missingFileStopsBeforeAnythingIsSent() {
    FileList files = fileList({"a.jpg", "b.jpg", "c.jpg"});
    QFile::remove(files[1].path);
    try {
        session().uploadFiles(files);
        QFAIL("no error");
    } catch (const Error& error) {
        QCOMPARE(error.message(), UploadErrors::FileMissing + "\n" + files[1].path);
    }
    QVERIFY(m_script.calls.isEmpty());
}

// Every file's fate is decided before the first is sent.
void TestUploadSession::missingThumbnailAbortsTheRun() {
    FileList files = fileList({"a.jpg", "b.jpg"});
    files[0].thumbnail = m_local->filePath("gone_thumb.jpg");
    try {
        session(PolicyOverwrite).uploadFiles(files);
        QFAIL("no error");
    } catch (const Error& error) {
        QCOMPARE(error.message(), UploadErrors::FileMissing + "\n" + files[0].thumbnail);
    }
    QVERIFY(m_script.uploaded.isEmpty());
}

void TestUploadSession::failedThumbnailIsAnErrorOfItsFile_data() {
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("go on") << true << QStringList{"a.jpg|", "b.jpg|"};
    QTest::newRow("stop") << false << QStringList{"a.jpg|"};
}

void TestUploadSession::failedThumbnailIsAnErrorOfItsFile() {
    QFETCH(bool, goOn);
    QFETCH(QStringList, results);
    FileList files = fileList({"a.jpg", "b.jpg"});
    files[0].thumbnail = test::sparseLocalFile(*m_local, "a_thumb.jpg", 10);
    m_script.failingPuts = {"a_thumb.jpg"};
    m_dialogs->expectFileError("a_thumb.jpg", "550 a_thumb.jpg: Permission denied", goOn);
    QCOMPARE(names(session(PolicyOverwrite).uploadFiles(files)), results);
    const QStringList log = m_session->logLines();
    QVERIFY(std::any_of(log.cbegin(), log.cend(), [](const QString& line) {
        return line.endsWith("\n550 a_thumb.jpg: Permission denied\t2");
    }));
}

void TestUploadSession::logCountsEachOutcome_data() {
    QTest::addColumn<int>("policy");
    QTest::addColumn<QStringList>("remote");
    QTest::addColumn<QStringList>("failingPuts");
    QTest::addColumn<QStringList>("counts");
    QTest::newRow("all uploaded") << int(PolicyOverwrite) << QStringList() << QStringList()
                                  << QStringList{"3 files uploaded.\t0"};
    QTest::newRow("one skipped") << int(PolicySkip) << QStringList{"a.jpg"} << QStringList()
                                 << QStringList{"2 files uploaded.\t0", "1 files skipped.\t0"};
    QTest::newRow("one failed") << int(PolicyOverwrite) << QStringList() << QStringList{"b.jpg"}
                                << QStringList{"2 files uploaded.\t0", "1 files failed.\t0"};
    QTest::newRow("a thumbnail failed")
        << int(PolicyOverwrite) << QStringList() << QStringList{"c_thumb.jpg"}
        << QStringList{"3 files uploaded.\t0", "1 thumbnails failed.\t0"};
}

void TestUploadSession::logCountsEachOutcome() {
    QFETCH(int, policy);
    QFETCH(QStringList, remote);
    QFETCH(QStringList, failingPuts);
    QFETCH(QStringList, counts);
    FileList files = fileList({"a.jpg", "b.jpg", "c.jpg"});
    files[2].thumbnail = test::sparseLocalFile(*m_local, "c_thumb.jpg", 10);
    m_script.remoteFiles = QSet<QString>(remote.begin(), remote.end());
    m_script.failingPuts = QSet<QString>(failingPuts.begin(), failingPuts.end());
    if (!failingPuts.isEmpty())
        m_dialogs->expectErrorQuestionMatching(".*", true);
    session(policy).uploadFiles(files);
    const QStringList log = m_session->logLines();
    QCOMPARE(log.mid(log.size() - counts.size()), counts);
}

void TestUploadSession::failedFileAnsweredNoEndsTheLoop() {
    m_script.failingPuts = {"b.jpg"};
    // No login here: the server is unnamed.
    const QString message = "\"b.jpg\" could not be uploaded to the folder \"(where the login "
                            "starts)\" on , port :\n550 b.jpg: Permission denied";
    m_dialogs->expectErrorQuestion(message, false);
    QCOMPARE(
        names(session(PolicyOverwrite, false).uploadFiles(fileList({"a.jpg", "b.jpg", "c.jpg"}))),
        QStringList{"a.jpg|"});
    QCOMPARE(m_session->logLines(), QStringList{message + "\t2"});

    session(PolicyOverwrite, true);
    m_dialogs->expectErrorQuestion(message, false);
    m_session->uploadFiles(fileList({"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(m_session->logLines().mid(m_session->logLines().size() - 2),
             (QStringList{"1 files uploaded.\t0", "1 files failed.\t0"}));
}

void TestUploadSession::failedFileAnsweredYesGoesOn() {
    m_script.failingPuts = {"b.jpg"};
    m_dialogs->expectFileError("b.jpg", "550 b.jpg: Permission denied", true);
    QCOMPARE(names(session(PolicyOverwrite).uploadFiles(fileList({"a.jpg", "b.jpg", "c.jpg"}))),
             (QStringList{"a.jpg|", "c.jpg|"}));
}

void TestUploadSession::cancelDuringFirstFile() {
    const FileList files = fileList({"a.jpg", "b.jpg", "c.jpg"});
    m_script.onCall = [this](const QString& call) {
        if (call.startsWith("PutFile"))
            m_session->cancel();
    };
    QVERIFY(session(PolicyOverwrite).uploadFiles(files).isEmpty());
    QCOMPARE(m_script.calls.filter("PutFile").size(), 1);
    QVERIFY(m_script.calls.contains("Abort"));
    const QStringList log = m_session->logLines();
    QVERIFY(log.contains("CANCEL\t1"));
    QCOMPARE(log.last(), QStringLiteral("0 files uploaded.\t0"));
    QCOMPARE(m_statuses.last(), (StatusRecord{QString(), -1}));
}

void TestUploadSession::cancelDuringExistenceTest() {
    const FileList files = fileList({"a.jpg", "b.jpg"});
    m_script.onCall = [this](const QString& call) {
        if (call.startsWith("FileExists"))
            m_session->cancel();
    };
    QVERIFY(session(PolicyAsk).uploadFiles(files).isEmpty());
    QVERIFY(m_script.calls.filter("PutFile").isEmpty());
    QVERIFY(m_session->logLines().contains("Skipping " + files[0].path + " [cancel]\t0"));
    QVERIFY(!m_script.calls.contains("FileExists b.jpg"));
}

void TestUploadSession::eventsAndByteCounters() {
    FileList files{{test::sparseLocalFile(*m_local, "a.jpg", 1000),
                    test::sparseLocalFile(*m_local, "a_thumb.jpg", 30)},
                   {test::sparseLocalFile(*m_local, "b.png", 3000), QString()}};
    UploadSession& upload = session(PolicyOverwrite);
    upload.uploadFiles(files);
    QCOMPARE(m_statuses,
             (QList<StatusRecord>{
                 {"a.jpg", 0}, {"Uploading thumbnail...", -2}, {"b.png", 1}, {QString(), -1}}));
    QCOMPARE(m_progressBar, (QStringList{"a.jpg 0 0", "a.jpg 1000 500", "a.jpg 1000 1000",
                                         "a_thumb.jpg 0 0", "a_thumb.jpg 0 15", "a_thumb.jpg 0 30",
                                         "b.png 0 0", "b.png 3000 1500", "b.png 3000 3000"}));
    QCOMPARE(upload.bytesTotal(), 4000);
    QCOMPARE(upload.bytesDone(), 4000);
}

void TestUploadSession::unreadableFileAddsNothingToTotal() {
    QVERIFY(QDir(m_local->path()).mkdir("folder.jpg"));
    const QString folder = m_local->filePath("folder.jpg");
    QCOMPARE(UploadSession::localFileSize(folder), -1);
    QCOMPARE(UploadSession::localFileSize(m_local->filePath("missing")), -1);
    QCOMPARE(UploadSession::localFileSize(test::sparseLocalFile(*m_local, "five", 5)), 5);

    m_script.failingPuts = {"folder.jpg"};
    m_dialogs->expectFileError("folder.jpg", "550 folder.jpg: Permission denied", true);
    UploadSession& upload = session(PolicyOverwrite);
    upload.uploadFiles(
        {{folder, QString()}, {test::sparseLocalFile(*m_local, "b.jpg", 200), QString()}});
    QCOMPARE(upload.bytesTotal(), 200);
    QCOMPARE(upload.bytesDone(), 200);
}

void TestUploadSession::logKeepsOnlyErrorsWhenOff() {
    UploadSession& quiet = session(PolicyAsk, false);
    quiet.addLog("traffic", LogTraffic);
    quiet.addLog("cancel", LogCancel);
    quiet.addLog("error", LogError);
    QCOMPARE(quiet.logLines(), QStringList{"error\t2"});

    UploadSession& verbose = session(PolicyAsk, true);
    verbose.addLog("traffic", LogTraffic);
    verbose.addLog("error", LogError);
    QCOMPARE(verbose.logLines(), (QStringList{"traffic\t0", "error\t2"}));
}

void TestUploadSession::concurrentLogLinesAreAllKept() {
    UploadSession& upload = session();
    constexpr int PerThread = 20000;
    std::unique_ptr<QThread> reader(QThread::create([&upload] {
        for (int i = 0; i < PerThread; ++i)
            upload.addLog(QStringLiteral("reader %1").arg(i), LogTraffic);
    }));
    reader->start();
    for (int i = 0; i < PerThread; ++i)
        upload.addLog(QStringLiteral("ui %1").arg(i), LogTraffic);
    reader->wait();
    const QStringList lines = upload.logLines();
    QCOMPARE(lines.size(), 2 * PerThread);
    QCOMPARE(lines.filter("reader").size(), PerThread);
    QVERIFY(lines.contains(QStringLiteral("reader %1\t0").arg(PerThread - 1)));
}

void TestUploadSession::logIsCutPastItsBudget() {
    UploadSession& upload = session();
    const QString line(998, QLatin1Char('x'));
    const qsizetype kept = UploadSession::LogBudget / (1000 + UploadSession::LogLineCost);
    for (qsizetype i = 0; i < kept + 100; ++i)
        upload.addLog(line, LogTraffic);
    upload.addLog("error", LogError);
    const QStringList lines = upload.logLines();
    QCOMPARE(lines.size(), kept + 1);
    QCOMPARE(lines.filter(line).size(), kept);
    QVERIFY2(lines.last().startsWith("The log is cut here"), qPrintable(lines.last()));
}

void TestUploadSession::zeroPad() {
    QCOMPARE(UploadSession::zeroPad("5", 3), QStringLiteral("005"));
    QCOMPARE(UploadSession::zeroPad("42", 3), QStringLiteral("042"));
    QCOMPARE(UploadSession::zeroPad("1000", 3), QStringLiteral("1000"));
    QCOMPARE(UploadSession::zeroPad("", 2), QStringLiteral("00"));
}

QTEST_GUILESS_MAIN(TestUploadSession)
#include "TestUploadSession.moc"
