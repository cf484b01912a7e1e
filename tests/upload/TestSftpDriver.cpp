#include "ScriptedDialogs.h"
#include "platform/Error.h"
#include "upload/UploadSession.h"
#include "upload/UploadErrors.h"
#include "upload/SftpDriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using namespace quaddle;

namespace {

const QString FakePsftp = QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/fake_psftp.sh");

} // namespace

// The driver against a stand-in for psftp that answers as psftp does; the real psftp and
// sshd come in TestSftpDriverServer.
class TestSftpDriver : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void knownHostLogsIn();
    void passwordNeverOnTheCommandLine();
    void refusedAndFailedLogins_data();
    void refusedAndFailedLogins();
    void missingPsftp();
    void changesAndMakesDirectories();
    void existenceTestUsesOneListing();
    void putQuotesThePath();
    void renames();
    void lineBreakIsNeverSent();
    void unexpectedOutputEndsTheRun();
    void silenceTimesOut();
    void psftpEndingMidRunIsALostConnection_data();
    void psftpEndingMidRunIsALostConnection();

private:
    TUploadSFTP& Driver(const QString& psftp = FakePsftp);
    QStringList Recorded() const;

    std::unique_ptr<QTemporaryDir> Temp;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<TUpload> Upload;
};

void TestSftpDriver::init() {
    Temp = std::make_unique<QTemporaryDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    qputenv("FAKE_PSFTP_RECORD", QFile::encodeName(Temp->filePath("record")));
    qunsetenv("FAKE_PSFTP_LOGIN");
}

void TestSftpDriver::cleanup() {
    Upload.reset();
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    Temp.reset();
}

TUploadSFTP& TestSftpDriver::Driver(const QString& psftp) {
    Upload = std::make_unique<TUpload>(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1, PolicyAsk, true,
        [psftp](TUpload& session, int) { return std::make_unique<TUploadSFTP>(session, psftp); });
    return static_cast<TUploadSFTP&>(Upload->Protokoll());
}

QStringList TestSftpDriver::Recorded() const {
    QFile record(Temp->filePath("record"));
    record.open(QIODevice::ReadOnly);
    return QString::fromUtf8(record.readAll()).split('\n', Qt::SkipEmptyParts);
}

void TestSftpDriver::knownHostLogsIn() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("sftp.example.org", "22", "tester", "pw"));
    QCOMPARE(driver.GetState(), 2);
    QVERIFY(Upload->LogLines().contains("Remote working directory is /home/tester|1\t0"));
}

void TestSftpDriver::passwordNeverOnTheCommandLine() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("sftp.example.org", "22", "te ster", "p\"w 'x"));
    const QStringList record = Recorded();
    QVERIFY(record.first().startsWith("args:-pwfile /"));
    QVERIFY(record.first().endsWith(" -l te ster sftp.example.org"));
    QVERIFY(!record.first().contains("p\"w"));
    QCOMPARE(record.at(1), QStringLiteral("password:p\"w 'x"));
    // The password file is gone once the login is decided.
    const QString file = record.first().section(' ', 1, 1);
    QVERIFY(!QFile::exists(file));
    QVERIFY(!Upload->LogLines().join('\n').contains("p\"w"));
}

void TestSftpDriver::refusedAndFailedLogins_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("error");
    QTest::newRow("wrong password") << "denied"
                                    << "Login incorrect.";
    QTest::newRow("connection refused") << "fatal"
                                        << "FATAL ERROR: Connection refused";
    QTest::newRow("psftp quits without an answer") << "quits"
                                                   << "Something went wrong";
}

void TestSftpDriver::refusedAndFailedLogins() {
    QFETCH(QString, login);
    QFETCH(QString, error);
    qputenv("FAKE_PSFTP_LOGIN", login.toUtf8());
    TUploadSFTP& driver = Driver();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!driver.Connect("h", "22", "u", "p"));
    QVERIFY2(timer.elapsed() < 10000, "waited for the time-out");
    QCOMPARE(driver.LastError(), error);
}

void TestSftpDriver::missingPsftp() {
    for (const QString& psftp : {QString(), QStringLiteral("/nonexistent/psftp")}) {
        TUploadSFTP& driver = Driver(psftp);
        try {
            driver.Connect("h", "22", "u", "p");
            QFAIL("no error");
        } catch (const TError& error) {
            QCOMPARE(error.Message(), UploadErrors::HelperMissing);
        }
    }
}

void TestSftpDriver::changesAndMakesDirectories() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    QVERIFY(driver.ChangeDir("pics"));
    QCOMPARE(driver.GetState(), 36);
    QVERIFY(!driver.ChangeDir("missing"));
    QCOMPARE(driver.LastError(), QStringLiteral("Directory does not exist."));
    QVERIFY(!driver.ChangeDir("locked"));
    QCOMPARE(driver.LastError(), QStringLiteral("Permission denied."));
    QVERIFY(driver.MakeDir("new"));
    QVERIFY(!driver.MakeDir("taken"));
    QVERIFY(Recorded().contains("command:cd \"pics\""));
}

void TestSftpDriver::existenceTestUsesOneListing() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    QVERIFY(driver.FileExists("a(1).jpg"));
    QVERIFY(!driver.FileExists("a.jpg"));
    QVERIFY(!driver.FileExists("a(1)"));
    // Another file whose name ends with a blank and the name counts, as listed.
    QVERIFY(driver.FileExists("b.jpg"));
    QCOMPARE(Recorded().filter("command:").size(), 1);
    QCOMPARE(driver.LastError(), QStringLiteral("No error message available. (while uploading "
                                                "file \"b.jpg\")"));

    // What this session puts or renames is known without listing again.
    QFile local(Temp->filePath("new.jpg"));
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.close();
    QVERIFY(driver.PutFile(local.fileName()));
    QVERIFY(driver.FileExists("new.jpg"));
    QVERIFY(driver.RenameFile("a(1).jpg", "a(1)_001.jpg"));
    QVERIFY(driver.FileExists("a(1)_001.jpg"));
    QCOMPARE(Recorded().filter("command:dir").size(), 1);
}

void TestSftpDriver::putQuotesThePath() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    QVERIFY(driver.PutFile("/tmp/say \"hi\".txt"));
    QVERIFY(Recorded().contains("command:put \"/tmp/say \"\"hi\"\".txt\""));
    QCOMPARE(driver.GetState(), 21);
}

void TestSftpDriver::renames() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    QVERIFY(driver.RenameFile("a", "b"));
    QVERIFY(!driver.RenameFile("missing", "other"));
    QCOMPARE(driver.LastError(), QStringLiteral("Renaming file failed."));
}

void TestSftpDriver::lineBreakIsNeverSent() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    QVERIFY(!driver.ChangeDir("a\nrm -r b"));
    QVERIFY(!driver.PutFile("/tmp/a\r\nmkdir x"));
    QVERIFY(Recorded().filter("command:").isEmpty());
    QVERIFY(driver.LastError().startsWith("The name contains a line break"));
    QVERIFY(driver.ChangeDir("fine"));
}

void TestSftpDriver::unexpectedOutputEndsTheRun() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    try {
        driver.ChangeDir("weird");
        QFAIL("no error");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), UploadErrors::UnexpectedResponse);
    }
    QVERIFY(Upload->LogLines().contains("psftp> something strange\t2"));
}

void TestSftpDriver::silenceTimesOut() {
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!driver.ChangeDir("stall"));
    QVERIFY(timer.elapsed() >= 29000);
    QVERIFY(Upload->Cancelled());
    QVERIFY(Upload->LogLines().contains("Time-out, aborting...\t2"));
    // Every further wait of the cancelled session ends at once.
    QVERIFY(!driver.ChangeDir("pics"));
}

void TestSftpDriver::psftpEndingMidRunIsALostConnection_data() {
    QTest::addColumn<QString>("dir");
    QTest::newRow("fatal error") << "dies";
    QTest::newRow("ends without a word") << "quits";
}

void TestSftpDriver::psftpEndingMidRunIsALostConnection() {
    QFETCH(QString, dir);
    TUploadSFTP& driver = Driver();
    QVERIFY(driver.Connect("h", "22", "u", "p"));
    // Not a missing directory, and no further file to be asked about one by one.
    const std::function<void()> operations[] = {[&] { driver.ChangeDir(dir); },
                                                [&] { driver.PutFile("/tmp/next.jpg"); }};
    for (const std::function<void()>& operation : operations) {
        try {
            operation();
            QFAIL("no error");
        } catch (const TError& error) {
            QCOMPARE(error.Message(), UploadErrors::ConnectionLost);
        }
    }
}

QTEST_GUILESS_MAIN(TestSftpDriver)
#include "TestSftpDriver.moc"
