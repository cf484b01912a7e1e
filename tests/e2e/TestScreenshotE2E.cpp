// A screenshot taken and uploaded by the built program: through a screenshot portal this test
// serves on a private session bus, or, without one, with the program's own area picker on an
// X virtual frame buffer, answered through XTest.
#include "FtpServer.h"
#include "PrivateBus.h"
#include "ProgramRun.h"
#include "ScreenshotPortal.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "VirtualDisplay.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;
using namespace quaddle::test;

namespace {

// A forger answers on the portal's behalf first: to every listener, or to the program alone.
enum class Source { Picker, Portal, CancellingPortal, ForgedPortal, DirectlyForgedPortal, Nothing };

} // namespace

class TestScreenshotE2E : public QObject {
    Q_OBJECT

private slots:
    void screenshotIsUploaded_data();
    void screenshotIsUploaded();
};

void TestScreenshotE2E::screenshotIsUploaded_data() {
    QTest::addColumn<QStringList>("program"); // the face and its options before the selector
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("pick"); // how x11_pick.py answers the picker
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QSize>("size"); // of the uploaded PNG; none: nothing uploaded
    QTest::addColumn<QString>("message");
    const QStringList cli{"--cli", "--tags=none", "--screenshot"};
    const QStringList cliProgram{QUADDLE_CLI_PROGRAM, "--tags=none", "--screenshot"};
    QTest::newRow("picker, click")
        << cli << Source::Picker << "click 320 240" << 0 << QSize(640, 480) << "";
    QTest::newRow("picker, drag") << cliProgram << Source::Picker << "drag 100 50 300 200" << 0
                                  << QSize(200, 150) << "";
    QTest::newRow("picker, window") << QStringList{"--screenshot"} << Source::Picker
                                    << "click 320 240" << 0 << QSize(640, 480) << "";
    QTest::newRow("picker, Escape")
        << cli << Source::Picker << "key Escape" << 130 << QSize() << "Screenshot cancelled.";
    QTest::newRow("portal") << cliProgram << Source::Portal << "" << 0 << QSize(32, 24) << "";
    QTest::newRow("portal, window")
        << QStringList{"--screenshot"} << Source::Portal << "" << 0 << QSize(32, 24) << "";
    QTest::newRow("portal, forged answer first")
        << cliProgram << Source::ForgedPortal << "" << 0 << QSize(32, 24) << "";
    QTest::newRow("portal, forged answer to the program first")
        << cliProgram << Source::DirectlyForgedPortal << "" << 0 << QSize(32, 24) << "";
    QTest::newRow("portal cancels")
        << cli << Source::CancellingPortal << "" << 130 << QSize() << "Screenshot cancelled.";
    QTest::newRow("neither") << cli << Source::Nothing << "" << 1 << QSize()
                             << "Install xdg-desktop-portal";
}

void TestScreenshotE2E::screenshotIsUploaded() {
    QFETCH(QStringList, program);
    QFETCH(Source, source);
    QFETCH(QString, pick);
    QFETCH(int, exitCode);
    QFETCH(QSize, size);
    QFETCH(QString, message);
    const PrivateBus bus;
    QVERIFY2(!bus.address().isEmpty(), "dbus-daemon is needed (package dbus-daemon)");
    std::optional<ScreenshotPortal> portal;
    const QTemporaryDir forgedDir;
    const QString forgedFile = forgedDir.filePath("other.png");
    if (source != Source::Picker && source != Source::Nothing) {
        portal.emplace(bus.address(), source == Source::CancellingPortal ? 1 : 0);
        QVERIFY(portal->registered());
    }
    if (source == Source::ForgedPortal || source == Source::DirectlyForgedPortal) {
        // Another file of the user's, which must not go up.
        QImage other(48, 48, QImage::Format_RGB32);
        other.fill(Qt::red);
        QVERIFY(other.save(forgedFile, "png"));
        portal->forgeAnswers(forgedFile, source == Source::DirectlyForgedPortal);
    }
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server), {{"Autoclose", SettingValue::boolean(true)}});
    const QTemporaryDir temp;
    const QTemporaryDir runtime;
    QProcessEnvironment environment = programDir.environment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    // The screenshot's folder must go with the program. The runtime folder holds no bus.
    environment.insert("TMPDIR", temp.path());
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    for (const QString& name : QStringList{"DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    // Under a real display the program loads libxkbcommon-x11, which hands strndup buffers
    // without a final NUL, and D-Bus, which keeps memory to the end: not the program's faults.
    environment.insert("ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") +
                                           ":strict_string_checks=0:detect_leaks=0");
    std::optional<VirtualDisplay> display;
    if (source == Source::Picker) {
        display.emplace();
        if (display->name().isEmpty())
            QSKIP("Xvfb is needed (scripts/install-deps --test)");
        environment.insert("DISPLAY", display->name());
        environment.remove("QT_QPA_PLATFORM");
    }

    const bool window = program.first() == "--screenshot";
    const bool ownProgram = program.first().startsWith('/');
    ProgramRun run(ownProgram ? program.first() : QString(QUADDLE_PROGRAM),
                   program.mid(ownProgram ? 1 : 0) + QStringList{":0"}, environment);
    QVERIFY(run.started());
    if (!pick.isEmpty()) {
        QProcess picker;
        picker.setProcessEnvironment(environment);
        picker.start("/usr/bin/python3",
                     QStringList{QUADDLE_TEST_SUPPORT_DIR "/x11_pick.py"} + pick.split(' '));
        QVERIFY(picker.waitForFinished(60000));
        QVERIFY2(picker.exitCode() == 0, picker.readAllStandardError().constData());
    }
    // The portal answers through this event loop while the program runs.
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    const QByteArray errors = run.errorOutput();
    QVERIFY2(run.exitCode() == exitCode, errors.constData());
    QVERIFY2(errors.contains(message.toUtf8()), errors.constData());
    if (portal) {
        QCOMPARE(portal->requests().size(), 1);
        QCOMPARE(portal->requests()[0].value("interactive"), QVariant(true));
    }
    const QStringList left = QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
    const QStringList uploaded = QDir(server.localPath("")).entryList({"*.png"});
    if (!size.isValid()) {
        QCOMPARE(uploaded, QStringList());
        return;
    }
    QCOMPARE(uploaded.size(), 1);
    QVERIFY2(QRegularExpression("^screenshot-\\d{8}-\\d{6}\\.png$").match(uploaded[0]).hasMatch(),
             qPrintable(uploaded[0]));
    QCOMPARE(QImage(server.localPath(uploaded[0]), "png").size(), size);
    if (portal)
        QCOMPARE(fileChecksum(server.localPath(uploaded[0])), fileChecksum(portal->pngPath()));
    if (!window)
        QCOMPARE(run.standardOutput(), "http://127.0.0.1/" + uploaded[0].toUtf8() + "\n");
}

QTEST_GUILESS_MAIN(TestScreenshotE2E)
#include "TestScreenshotE2E.moc"
