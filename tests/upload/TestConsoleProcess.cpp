#include "upload/ConsoleProcess.h"

#include <QElapsedTimer>
#include <QTest>
#include <condition_variable>
#include <csignal>
#include <mutex>

using namespace quaddle;

namespace {

// Records what the runner delivers, "E:" for entire lines and "B:" for beginnings.
class LineRecorder {
public:
    explicit LineRecorder(ConsoleProcess& runner) {
        runner.onNewLine = [this](const QString& line, OutputType type) {
            const std::lock_guard lock(m_lock);
            m_lines.append((type == OutputType::EntireLine ? "E:" : "B:") + line);
        };
        runner.onExit = [this] {
            const std::lock_guard lock(m_lock);
            m_ended = true;
            m_changed.notify_all();
        };
    }

    bool waitForEnd(int ms = 10000) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_ended; });
    }

    QStringList delivered() {
        const std::lock_guard lock(m_lock);
        return m_lines;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    QStringList m_lines;
    bool m_ended = false;
};

// While it lives, the system collects ended children itself, and waitpid fails for them.
class IgnoredChildSignal {
public:
    IgnoredChildSignal() {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGCHLD, &ignore, &m_previous);
    }
    ~IgnoredChildSignal() { sigaction(SIGCHLD, &m_previous, nullptr); }
    IgnoredChildSignal(const IgnoredChildSignal&) = delete;
    IgnoredChildSignal& operator=(const IgnoredChildSignal&) = delete;

private:
    struct sigaction m_previous = {};
};

QStringList run(const QString& script) {
    ConsoleProcess runner;
    LineRecorder recorder(runner);
    runner.commandLine = {"/bin/sh", "-c", script};
    runner.startProcess();
    if (!recorder.waitForEnd())
        qFatal("the child did not end");
    runner.stopProcess();
    return recorder.delivered();
}

} // namespace

class TestConsoleProcess : public QObject {
    Q_OBJECT

private slots:
    void cutsLines_data();
    void cutsLines();
    void standardErrorSharesThePipe();
    void inputIsWrittenBetweenReads();
    void stopTerminatesAWaitingChild();
    void missingProgram();
    void endsWhenTheChildCannotBeWaitedFor_data();
    void endsWhenTheChildCannotBeWaitedFor();
};

void TestConsoleProcess::cutsLines_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("delivered");
    QTest::newRow("pending line delivered again from its start")
        << "printf abc; sleep 0.3; printf 'def\\r\\n'" << QStringList{"B:abc", "E:abcdef"};
    QTest::newRow("CR LF split across reads")
        << "printf 'x\\r'; sleep 0.3; printf '\\ny\\n'" << QStringList{"E:x", "E:", "E:y"};
    QTest::newRow("lone CR ends a line") << "printf 'a\\rb\\n'" << QStringList{"E:a", "E:b"};
    QTest::newRow("CR CR LF") << "printf 'a\\r\\r\\n'" << QStringList{"E:a", "E:"};
    QTest::newRow("NUL dropped") << "printf 'n\\000u\\000l\\n'" << QStringList{"E:nul"};
    QTest::newRow("last words without line end") << "printf bye" << QStringList{"B:bye", "E:bye"};
}

void TestConsoleProcess::cutsLines() {
    QFETCH(QString, script);
    QFETCH(QStringList, delivered);
    QCOMPARE(run(script), delivered);
}

void TestConsoleProcess::standardErrorSharesThePipe() {
    QCOMPARE(run("echo out; sleep 0.2; echo err >&2"), (QStringList{"E:out", "E:err"}));
}

void TestConsoleProcess::inputIsWrittenBetweenReads() {
    ConsoleProcess runner;
    LineRecorder recorder(runner);
    runner.commandLine = {"/bin/sh", "-c",
                          "printf 'name? '; read answer; echo \"got:$answer\"; read x; echo $x"};
    runner.startProcess();
    // Answered once asked, as the SFTP driver does.
    QTRY_COMPARE(recorder.delivered(), QStringList{"B:name? "});
    runner.sendInput("Ann", true);
    runner.sendInput("two", true);
    QVERIFY(recorder.waitForEnd());
    runner.stopProcess();
    // The shell keeps the CR of each CR LF written to it; echoed back, CR LF ends one line.
    QCOMPARE(recorder.delivered(), (QStringList{"B:name? ", "E:name? got:Ann", "E:two"}));
}

void TestConsoleProcess::stopTerminatesAWaitingChild() {
    ConsoleProcess runner;
    LineRecorder recorder(runner);
    runner.commandLine = {"/bin/sh", "-c", "printf 'waiting> '; read never"};
    runner.startProcess();
    QTRY_VERIFY(!recorder.delivered().isEmpty());
    QElapsedTimer stop;
    stop.start();
    runner.stopProcess();
    QVERIFY(stop.elapsed() < 5000);
    QVERIFY(!runner.running());
    QCOMPARE(recorder.delivered(), (QStringList{"B:waiting> ", "E:waiting> "}));
    // Stopping again, or sending to a stopped runner, does nothing.
    runner.stopProcess();
    runner.sendInput("ignored", true);
}

void TestConsoleProcess::missingProgram() {
    ConsoleProcess runner;
    runner.commandLine = {"/nonexistent/psftp", "-l", "u", "host"};
    try {
        runner.startProcess();
        QFAIL("started a missing program");
    } catch (const ProcessStartError& error) {
        QCOMPARE(error.message(), QStringLiteral("/nonexistent/psftp -l u host doesn't exist."));
    }
    QVERIFY(!runner.running());
}

void TestConsoleProcess::endsWhenTheChildCannotBeWaitedFor_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("child ends by itself") << "echo bye" << false << QStringList{"E:bye"};
    QTest::newRow("child stopped while waiting")
        << "printf 'waiting> '; read never" << true << QStringList{"B:waiting> ", "E:waiting> "};
}

void TestConsoleProcess::endsWhenTheChildCannotBeWaitedFor() {
    QFETCH(QString, script);
    QFETCH(bool, stop);
    QFETCH(QStringList, lines);
    const IgnoredChildSignal ignored;
    ConsoleProcess runner;
    LineRecorder recorder(runner);
    runner.commandLine = {"/bin/sh", "-c", script};
    runner.startProcess();
    if (stop) {
        QTRY_VERIFY(!recorder.delivered().isEmpty());
        runner.stopProcess();
    }
    QVERIFY(recorder.waitForEnd());
    runner.stopProcess();
    QVERIFY(!runner.running());
    QCOMPARE(recorder.delivered(), lines);
}

QTEST_GUILESS_MAIN(TestConsoleProcess)
#include "TestConsoleProcess.moc"
