#include "ScriptedDialogs.h"
#include "platform/Error.h"
#include "upload/SftpDriver.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace quaddle;

namespace {

const QString FakePsftp = QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/fake_psftp.sh");
// For the tests whose psftp never answers, in place of the real half minute.
constexpr int ShortTimeoutMs = 1000;

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
    void portGoesToPsftp_data();
    void portGoesToPsftp();
    void refusedAndFailedLogins_data();
    void refusedAndFailedLogins();
    void cancelDuringLoginEndsQuietly();
    void missingPsftp();
    void changesAndMakesDirectories();
    void putQuotesThePath();
    void failedPutIsThatFilesError_data();
    void failedPutIsThatFilesError();
    void renames();
    void lineBreakIsNeverSent();
    void unexpectedOutputEndsTheRun();
    void silenceTimesOut();
    void psftpEndingMidRunIsALostConnection_data();
    void psftpEndingMidRunIsALostConnection();

private:
    SftpDriver& sftpDriver(const QString& psftp = FakePsftp);
    QStringList recorded() const;

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
    std::unique_ptr<UploadSession> m_session;
};

void TestSftpDriver::init() {
    m_temp = std::make_unique<QTemporaryDir>();
    m_dialogs = std::make_unique<test::ScriptedDialogs>();
    qputenv("FAKE_PSFTP_RECORD", QFile::encodeName(m_temp->filePath("record")));
    qunsetenv("FAKE_PSFTP_LOGIN");
}

void TestSftpDriver::cleanup() {
    m_session.reset();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_dialogs.reset();
    m_temp.reset();
}

SftpDriver& TestSftpDriver::sftpDriver(const QString& psftp) {
    m_session = std::make_unique<UploadSession>(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1, PolicyAsk, true,
        [psftp](UploadSession& session, int) {
            return std::make_unique<SftpDriver>(session, psftp);
        });
    return static_cast<SftpDriver&>(m_session->driver());
}

QStringList TestSftpDriver::recorded() const {
    QFile record(m_temp->filePath("record"));
    record.open(QIODevice::ReadOnly);
    return QString::fromUtf8(record.readAll()).split('\n', Qt::SkipEmptyParts);
}

void TestSftpDriver::knownHostLogsIn() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("sftp.example.org", "22", "tester", "pw"));
    QCOMPARE(driver.state(), 2);
    QVERIFY(m_session->logLines().contains("Remote working directory is /home/tester|1\t0"));
}

void TestSftpDriver::passwordNeverOnTheCommandLine() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("sftp.example.org", "22", "te ster", "p\"w 'x"));
    const QStringList record = recorded();
    // A pipe psftp inherits: nothing on disk.
    QVERIFY(record.first().startsWith("args:-pwfile /dev/fd/"));
    QVERIFY(record.first().endsWith(" -l te ster sftp.example.org"));
    QVERIFY(!record.first().contains("p\"w"));
    QCOMPARE(record.at(1), QStringLiteral("password:p\"w 'x"));
    QVERIFY(!m_session->logLines().join('\n').contains("p\"w"));
}

void TestSftpDriver::portGoesToPsftp_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("passed");
    QTest::newRow("own port") << "2222"
                              << "2222";
    QTest::newRow("SSH default") << "22"
                                 << "22";
    // Older settings hold the FTP default for every server.
    QTest::newRow("FTP default") << "21"
                                 << "22";
    QTest::newRow("none") << ""
                          << "22";
}

void TestSftpDriver::portGoesToPsftp() {
    QFETCH(QString, stored);
    QFETCH(QString, passed);
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("sftp.example.org", stored, "tester", "pw"));
    const QStringList arguments = recorded().first().split(' ');
    const qsizetype option = arguments.indexOf("-P");
    QVERIFY(option > 0);
    QCOMPARE(arguments.value(option + 1), passed);
    QCOMPARE(arguments.count("-P"), 1);
}

void TestSftpDriver::refusedAndFailedLogins_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("error");
    // Whether the server was out of reach: then an error names host, port and reason.
    QTest::addColumn<bool>("unreachable");
    QTest::newRow("wrong password") << "denied"
                                    << "Login incorrect." << false;
    QTest::newRow("connection refused") << "fatal"
                                        << "Connection refused" << true;
    QTest::newRow("psftp quits without an answer") << "quits"
                                                   << "Something went wrong" << true;
    QTest::newRow("no answer at all") << "silent"
                                      << "Connection timed out" << true;
}

void TestSftpDriver::refusedAndFailedLogins() {
    QFETCH(QString, login);
    QFETCH(QString, error);
    QFETCH(bool, unreachable);
    qputenv("FAKE_PSFTP_LOGIN", login.toUtf8());
    SftpDriver& driver = sftpDriver();
    driver.setAnswerTimeout(ShortTimeoutMs);
    if (!unreachable) {
        QVERIFY(!driver.connect("h", "22", "u", "p"));
        QCOMPARE(driver.lastError(), error);
        return;
    }
    try {
        driver.connect("sftp.example.org", "2222", "u", "p");
        QFAIL("no error");
    } catch (const Error& thrown) {
        QCOMPARE(thrown.message(), "Could not connect to remote server. Please check your server "
                                   "settings.\nsftp.example.org, port 2222: " +
                                       error + "\nIs the server running, and is the port right?");
    }
}

void TestSftpDriver::cancelDuringLoginEndsQuietly() {
    qputenv("FAKE_PSFTP_LOGIN", "silent");
    sftpDriver();
    QTimer::singleShot(0, this, [this] { m_session->cancel(); });
    // Neither "Login incorrect" (the scripted dialogs expect nothing) nor a connection error.
    QVERIFY(!m_session->login("h", "22", "u", "p"));
    QVERIFY(m_session->cancelled());
}

void TestSftpDriver::missingPsftp() {
    for (const QString& psftp : {QString(), QStringLiteral("/nonexistent/psftp")}) {
        SftpDriver& driver = sftpDriver(psftp);
        try {
            driver.connect("h", "22", "u", "p");
            QFAIL("no error");
        } catch (const Error& error) {
            QCOMPARE(error.message(), UploadErrors::HelperMissing);
        }
    }
}

void TestSftpDriver::changesAndMakesDirectories() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    QVERIFY(driver.changeDir("pics"));
    QCOMPARE(driver.state(), 36);
    QVERIFY(!driver.changeDir("missing"));
    QCOMPARE(driver.lastError(), QStringLiteral("Directory does not exist."));
    QVERIFY(!driver.changeDir("locked"));
    QCOMPARE(driver.lastError(), QStringLiteral("Permission denied."));
    QVERIFY(driver.makeDir("new"));
    QVERIFY(!driver.makeDir("taken"));
    QVERIFY(recorded().contains("command:cd pics"));
}

void TestSftpDriver::putQuotesThePath() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    QVERIFY(driver.putFile("/tmp/say \"hi\".txt"));
    QVERIFY(recorded().contains("command:put \"/tmp/say \"\"hi\"\".txt\" \"say \"\"hi\"\".txt\""));
    QCOMPARE(driver.state(), 21);
}

void TestSftpDriver::failedPutIsThatFilesError_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::newRow("local file") << "/tmp/unreadable.jpg"
                                << "Cannot read the local file.";
    QTest::newRow("remote file") << "/tmp/unwritable.jpg"
                                 << "Cannot write the file on the server: failure.";
    QTest::newRow("during the transfer") << "/tmp/broken.jpg"
                                         << "The transfer failed: error while writing: "
                                            "connection reset.";
}

void TestSftpDriver::failedPutIsThatFilesError() {
    QFETCH(QString, path);
    QFETCH(QString, error);
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    QVERIFY(!driver.putFile(path));
    QCOMPARE(driver.lastError(), error);
    // psftp goes on: the next file is put as usual.
    QVERIFY(driver.putFile("/tmp/fine.jpg"));
    QVERIFY(recorded().contains("command:put /tmp/fine.jpg fine.jpg"));
}

void TestSftpDriver::renames() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    QVERIFY(driver.renameFile("a", "b"));
    QVERIFY(!driver.renameFile("missing", "other"));
    QCOMPARE(driver.lastError(), QStringLiteral("Renaming file failed."));
}

void TestSftpDriver::lineBreakIsNeverSent() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    QVERIFY(!driver.changeDir("a\nrm -r b"));
    QVERIFY(!driver.putFile("/tmp/a\r\nmkdir x"));
    QVERIFY(recorded().filter("command:").isEmpty());
    QVERIFY(driver.lastError().startsWith("The name contains a line break"));
    QVERIFY(driver.changeDir("fine"));
}

void TestSftpDriver::unexpectedOutputEndsTheRun() {
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    try {
        driver.changeDir("weird");
        QFAIL("no error");
    } catch (const Error& error) {
        QCOMPARE(error.message(), UploadErrors::UnexpectedResponse);
    }
    QVERIFY(m_session->logLines().contains("psftp> something strange\t2"));
}

void TestSftpDriver::silenceTimesOut() {
    SftpDriver& driver = sftpDriver();
    driver.setAnswerTimeout(ShortTimeoutMs);
    QVERIFY(driver.connect("h", "22", "u", "p"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!driver.changeDir("stall"));
    QVERIFY(timer.elapsed() >= ShortTimeoutMs);
    QVERIFY(m_session->cancelled());
    QVERIFY(m_session->logLines().contains("Time-out, aborting...\t2"));
    // Every further wait of the cancelled session ends at once.
    QVERIFY(!driver.changeDir("pics"));
}

void TestSftpDriver::psftpEndingMidRunIsALostConnection_data() {
    QTest::addColumn<QString>("dir");
    QTest::newRow("fatal error") << "dies";
    QTest::newRow("ends without a word") << "quits";
}

void TestSftpDriver::psftpEndingMidRunIsALostConnection() {
    QFETCH(QString, dir);
    SftpDriver& driver = sftpDriver();
    QVERIFY(driver.connect("h", "22", "u", "p"));
    // Not a missing directory, and no further file to be asked about one by one.
    const std::function<void()> operations[] = {[&] { driver.changeDir(dir); },
                                                [&] { driver.putFile("/tmp/next.jpg"); }};
    for (const std::function<void()>& operation : operations) {
        try {
            operation();
            QFAIL("no error");
        } catch (const Error& error) {
            QCOMPARE(error.message(), UploadErrors::ConnectionLost);
        }
    }
}

QTEST_GUILESS_MAIN(TestSftpDriver)
#include "TestSftpDriver.moc"
