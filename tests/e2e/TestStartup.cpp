#include "ProgramRun.h"
#include "TempProgramDir.h"

#include <QTest>
#include <signal.h>

using namespace quaddle::test;

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void closesNormallyOnSignal_data();
    void closesNormallyOnSignal();
    void saysHowToStartWithoutDisplay();
};

void TestStartup::closesNormallyOnSignal_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM at logout") << int(SIGTERM);
    QTest::newRow("SIGINT from a terminal") << int(SIGINT);
}

void TestStartup::closesNormallyOnSignal() {
    QFETCH(int, signalNumber);
    const TempProgramDir programDir;
    ProgramRun program({programDir.filePath("picture.jpg")}, programDir.environment());
    QVERIFY(program.started());
    QVERIFY(program.waitUntilCatchingSignals(30000));
    program.sendSignal(signalNumber);
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // Closing the window the normal way saves the configuration.
    QVERIFY(programDir.readFile("config.xml").contains("<qdConfig>"));
}

void TestStartup::saysHowToStartWithoutDisplay() {
    const TempProgramDir programDir;
    QProcessEnvironment environment = programDir.environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    ProgramRun program({}, environment);
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitCode(), 1);
    const QByteArray message = program.errorOutput();
    QCOMPARE(message.count('\n'), 1);
    QVERIFY2(message.contains("xvfb-run"), message.constData());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "TestStartup.moc"
