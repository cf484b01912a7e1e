#include "FtpServer.h"
#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "gui/SuccessWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::control;
using quaddle::test::FtpServer;

namespace {

// Stands for the question whether to go on after a file's error among the run's messages.
const QString ErrorQuestion = QStringLiteral("go on after the error?");

int openDescriptors() {
    // Sockets are released once control is back in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return int(QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

// Upload runs against servers that fail the way real servers do: each ends with a clear
// message, the window idle, log.txt written, no descriptor left open, and the next run works.
class TestUploadFaults : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serverFailsDuringRun_data();
    void serverFailsDuringRun();

private:
    std::unique_ptr<QTemporaryDir> m_local;
};

void TestUploadFaults::init() {
    startTest();
    // The server that never greets is given up soon, not after the real 15 seconds.
    qputenv("QUADDLE_TEST_ANSWER_TIMEOUT_MS", "2000");
    m_local = std::make_unique<QTemporaryDir>();
}

void TestUploadFaults::cleanup() {
    qunsetenv("QUADDLE_TEST_ANSWER_TIMEOUT_MS");
    finishTest();
    m_local.reset();
}

void TestUploadFaults::serverFailsDuringRun_data() {
    QTest::addColumn<QString>("fault");
    // The run's messages, as patterns, and its questions whether to go on after a file's error
    // (ErrorQuestion), answered Yes up to the one at noFrom, No from there on.
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("noFrom"); // -1: every question answered Yes
    QTest::addColumn<int>("uploaded");
    const QString login = "A fatal error occurred: \nThe server ended the login without "
                          "accepting or refusing the user name and password\\. Please check your "
                          "server settings\\.\n127\\.0\\.0\\.1, port \\d+: .+";
    const QString lost = "A fatal error occurred: \nQuaddle lost connection to the server\\. "
                         "Please try again\\.";
    const QString& ignore = ErrorQuestion;
    const QString noConnection = "A fatal error occurred: \nCould not connect to remote "
                                 "server\\. Please check your server settings\\.\n"
                                 "127\\.0\\.0\\.1, port \\d+: .+\n"
                                 "Is the server running, and is the port right\\?";
    QTest::newRow("never greets") << "silent" << QStringList{noConnection} << -1 << 0;
    for (const char* fault : {"close", "421"}) {
        const QString closing = QString::fromLatin1(fault);
        // A greeting other than 220 is no FTP server; a closed connection shows at login, which
        // was then neither accepted nor refused.
        QTest::addRow("%s at the greeting", fault)
            << closing + ":greeting" << QStringList{closing == "421" ? noConnection : login} << -1
            << 0;
        QTest::addRow("%s after USER", fault) << closing + ":USER" << QStringList{login} << -1 << 0;
        QTest::addRow("%s after PASS", fault) << closing + ":PASS" << QStringList{login} << -1 << 0;
        QTest::addRow("%s during CWD", fault) << closing + ":CWD" << QStringList{lost} << -1 << 0;
        QTest::addRow("%s after SIZE", fault) << closing + ":SIZE" << QStringList{lost} << -1 << 0;
        QTest::addRow("%s after EPSV", fault)
            << closing + ":EPSV" << QStringList{ignore, lost} << -1 << 0;
        QTest::addRow("%s after STOR", fault)
            << closing + ":STOR" << QStringList{ignore, lost} << -1 << 0;
        QTest::addRow("%s before 226", fault)
            << closing + ":226" << QStringList{ignore, lost} << -1 << 0;
    }
    QTest::newRow("closed in the middle of STOR")
        << "closestor" << QStringList{ignore, lost} << -1 << 0;
    // The client's own error is asked about, then the file's failure.
    QTest::newRow("data connection refused")
        << "refusedata" << QStringList{ignore, ignore} << 0 << 0;
    QTest::newRow("150, then the data connection closed")
        << "storclosedata" << QStringList{ignore} << 0 << 0;
    QTest::newRow("disk full on the third of five")
        << "diskfull3" << QStringList{ignore} << -1 << 4;
    // The first file's address stays: it is on the server.
    QTest::newRow("connection lost on the second of five")
        << "drop2" << QStringList{ignore, lost} << -1 << 1;
}

void TestUploadFaults::serverFailsDuringRun() {
    QFETCH(QString, fault);
    QFETCH(QStringList, messages);
    QFETCH(int, noFrom);
    QFETCH(int, uploaded);
    FtpServer server(fault);
    QUADDLE_REQUIRE_SERVER(server);
    // A root directory and the rename policy: the run changes directory and asks for sizes.
    test::ServerSetup setup = test::setupFor(server);
    setup.rootDir = "/";
    // One connection, whose every step the faults script.
    test::saveServerConfig(setup, {{"Overwrite", SettingValue::integer(2)},
                                   {"Connections", SettingValue::integer(1)}});
    QStringList files;
    for (int i = 1; i <= 5; ++i) {
        QFile file(m_local->filePath(QStringLiteral("file%1.bin").arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(i == 2 ? (8 << 20) : 1000));
        files.append(file.fileName());
    }

    const int descriptorsBefore = openDescriptors();
    {
        MainWindow form(files);
        for (int i = 0; i < messages.size(); ++i) {
            const bool goOn = noFrom < 0 || i < noFrom;
            if (messages[i] == ErrorQuestion)
                m_dialogs->expectErrorQuestionMatching(".*", goOn);
            else
                m_dialogs->expectMessageMatching(messages[i]);
        }
        form.startUpload();
        QCOMPARE(form.uploadResults().size(), uploaded);
        const auto* results = form.findChild<SuccessWindow*>();
        QCOMPARE(results && results->isVisible(), uploaded > 0);
        QVERIFY(!control<QPushButton>(form, "uploadButton")->isHidden());
        QVERIFY(control<QPushButton>(form, "cancelButton")->isHidden());
        QVERIFY(QFile::exists(m_programDir->filePath("log.txt")));
    }
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    QCOMPARE(openDescriptors(), descriptorsBefore);

    // The next run, against a server that works, goes through.
    FtpServer good;
    QUADDLE_REQUIRE_SERVER(good);
    test::saveServerConfig(test::setupFor(good));
    MainWindow again(files.mid(0, 1));
    again.startUpload();
    QCOMPARE(again.uploadResults().size(), 1);
}

QTEST_MAIN(TestUploadFaults)
#include "TestUploadFaults.moc"
