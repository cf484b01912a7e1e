#include "ProgramRun.h"
#include "TempProgramDir.h"

#include <QFile>
#include <QTest>
#include <signal.h>

using namespace quaddle::test;

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void closesNormallyOnSignal_data();
    void closesNormallyOnSignal();
    void endsOnSignalWhileStartupQuestionWaits();
    void saysHowToStartWithoutDisplay();
    void writesNoCoreDump();
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

void TestStartup::endsOnSignalWhileStartupQuestionWaits() {
    const TempProgramDir programDir;
    // Damaged: its message waits for an answer before the window exists.
    const QByteArray damaged = "<qdConfig><Settings>";
    programDir.writeFile("config.xml", damaged);
    ProgramRun program({}, programDir.environment());
    QVERIFY(program.waitUntilCatchingSignals(30000));
    program.sendSignal(SIGTERM);
    QVERIFY(program.waitForExit(10000));
    QCOMPARE(programDir.readFile("config.xml"), damaged);
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

void TestStartup::writesNoCoreDump() {
    const TempProgramDir programDir;
    ProgramRun program({}, programDir.environment());
    QVERIFY(program.waitUntilCatchingSignals(30000));
    QFile limits(QStringLiteral("/proc/%1/limits").arg(program.processId()));
    QVERIFY(limits.open(QIODevice::ReadOnly));
    QByteArray coreLimits;
    for (const QByteArray& line : limits.readAll().split('\n'))
        if (line.startsWith("Max core file size"))
            coreLimits = line.simplified();
    // Soft and hard limit.
    QCOMPARE(coreLimits.split(' ').mid(4, 2), QList<QByteArray>({"0", "0"}));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "TestStartup.moc"
