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
    const TTempProgramDir programDir;
    TProgramRun program({programDir.FilePath("picture.jpg")}, programDir.Environment());
    QVERIFY(program.Started());
    QVERIFY(program.WaitUntilCatchingSignals(30000));
    program.SendSignal(signalNumber);
    QVERIFY(program.WaitForExit(30000));
    QCOMPARE(program.ExitStatus(), QProcess::NormalExit);
    QCOMPARE(program.ExitCode(), 0);
    // Closing the window the normal way saves the configuration.
    QVERIFY(programDir.ReadFile("config.xml").contains("<qdConfig>"));
}

void TestStartup::saysHowToStartWithoutDisplay() {
    const TTempProgramDir programDir;
    QProcessEnvironment environment = programDir.Environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    TProgramRun program({}, environment);
    QVERIFY(program.WaitForExit(30000));
    QCOMPARE(program.ExitCode(), 1);
    const QByteArray message = program.ErrorOutput();
    QCOMPARE(message.count('\n'), 1);
    QVERIFY2(message.contains("xvfb-run"), message.constData());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "TestStartup.moc"
