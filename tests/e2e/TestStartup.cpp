#include "ProgramRun.h"
#include "TempProgramDir.h"
#include "VirtualDisplay.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <signal.h>

using namespace quaddle::test;

namespace {

QByteArray output(const QString& program, const QStringList& arguments,
                  const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(20000);
    return process.readAllStandardOutput();
}

// The id of the display's window whose title starts with that text, as xwininfo lists them;
// empty when there is none.
QByteArray windowTitled(const VirtualDisplay& display, const QString& title) {
    const QRegularExpression line("^\\s*(0x[0-9a-f]+) \"" + QRegularExpression::escape(title) +
                                      "[^\"]*\": \\(\"quaddle\"",
                                  QRegularExpression::MultilineOption);
    const QString tree =
        QString::fromUtf8(output("xwininfo", {"-root", "-tree"}, display.environment()));
    return line.match(tree).captured(1).toLatin1();
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void closesNormallyOnSignal_data();
    void closesNormallyOnSignal();
    void endsOnSignalWhileStartupQuestionWaits();
    void saysHowToStartWithoutDisplay();
    void writesNoCoreDump();
    void historyOptionOpensTheHistory();
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

void TestStartup::historyOptionOpensTheHistory() {
    const VirtualDisplay display;
    if (display.name().isEmpty() || QStandardPaths::findExecutable("xwininfo").isEmpty())
        QSKIP("Xvfb and xwininfo are needed (scripts/install-deps --test)");
    const TempProgramDir programDir;
    QProcessEnvironment environment = programDir.environment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("DISPLAY", display.name());
    // libxkbcommon-x11 hands strndup buffers without a final NUL: not the program's fault.
    environment.insert("ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") +
                                           ":strict_string_checks=0:detect_leaks=0");
    ProgramRun program({"--history"}, environment);
    QVERIFY(program.waitUntilCatchingSignals(30000));
    QTRY_VERIFY_WITH_TIMEOUT(!windowTitled(display, "History").isEmpty(), 30000);
    QVERIFY(!windowTitled(display, "Quaddle").isEmpty());
    program.sendSignal(SIGTERM);
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "TestStartup.moc"
