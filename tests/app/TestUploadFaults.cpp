#include "FtpServer.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/FormMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;
using quaddle::test::TFtpServer;

namespace {

int OpenDescriptors() {
    // Sockets are released once control is back in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return int(QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

// Upload runs against servers that fail the way real servers do: each ends with a clear
// message, the window idle, log.txt written, no descriptor left open, and the next run works.
class TestUploadFaults : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serverFailsDuringRun_data();
    void serverFailsDuringRun();

private:
    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Local;
};

void TestUploadFaults::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    Local = std::make_unique<QTemporaryDir>();
}

void TestUploadFaults::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    Local.reset();
    ProgramDir.reset();
}

void TestUploadFaults::serverFailsDuringRun_data() {
    QTest::addColumn<QString>("fault");
    // The questions and messages of the run, as patterns, with the answer given.
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("uploaded");
    const QString lost = "A fatal error occured: \nQuaddle lost connection to the server\\. "
                         "Please try again\\.";
    const QString ignore = "An error occured: \n.*\nIgnore and continue\\?";
    QTest::newRow("closed after the greeting")
        << "closeaftergreeting" << QStringList{"Login incorrect\\. Please try again\\."} << 0;
    QTest::newRow("closed after USER")
        << "closeafteruser" << QStringList{"Login incorrect\\. Please try again\\."} << 0;
    QTest::newRow("closed after PASV") << "closeafterpasv" << QStringList{ignore, lost} << 0;
    QTest::newRow("closed in the middle of STOR") << "closestor" << QStringList{ignore, lost} << 0;
    QTest::newRow("421 to STOR") << "stor421" << QStringList{ignore, lost} << 0;
    QTest::newRow("disk full on the third of five") << "diskfull3" << QStringList{ignore} << 4;
    QTest::newRow("never greets") << "silent"
                                  << QStringList{"A fatal error occured: \nCould not connect to "
                                                 "remote server\\. Please check your server "
                                                 "settings\\."}
                                  << 0;
}

void TestUploadFaults::serverFailsDuringRun() {
    QFETCH(QString, fault);
    QFETCH(QStringList, messages);
    QFETCH(int, uploaded);
    TFtpServer server(fault);
    QUADDLE_REQUIRE_SERVER(server);
    test::SaveServerConfig(test::SetupFor(server), {{"Overwrite", TSettingValue::Integer(1)}});
    QStringList files;
    for (int i = 1; i <= 5; ++i) {
        QFile file(Local->filePath(QStringLiteral("file%1.bin").arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(i == 2 ? (8 << 20) : 1000));
        files.append(file.fileName());
    }

    const int descriptorsBefore = OpenDescriptors();
    {
        TFormMain form(files);
        for (const QString& message : messages)
            Dialogs->ExpectMessageMatching(message, message.startsWith("Login") ? TMsgAnswer::Abort
                                                                                : TMsgAnswer::Yes);
        form.BUploadClick();
        QCOMPARE(form.GetUploadResults().size(), uploaded);
        QVERIFY(!Control<QPushButton>(form, "BUpload")->isHidden());
        QVERIFY(Control<QPushButton>(form, "BCancel")->isHidden());
        QVERIFY(QFile::exists(ProgramDir->FilePath("log.txt")));
    }
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    QCOMPARE(OpenDescriptors(), descriptorsBefore);

    // The next run, against a server that works, goes through.
    TFtpServer good;
    QUADDLE_REQUIRE_SERVER(good);
    test::SaveServerConfig(test::SetupFor(good));
    TFormMain again(files.mid(0, 1));
    again.BUploadClick();
    QCOMPARE(again.GetUploadResults().size(), 1);
}

QTEST_MAIN(TestUploadFaults)
#include "TestUploadFaults.moc"
