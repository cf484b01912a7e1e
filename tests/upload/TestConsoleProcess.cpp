#include "upload/ConsoleProcess.h"

#include <QElapsedTimer>
#include <QTest>
#include <condition_variable>
#include <mutex>

using namespace quaddle;

namespace {

// Records what the runner delivers, "E:" for entire lines and "B:" for beginnings.
class TRecorder {
public:
    explicit TRecorder(TDosCommand& runner) {
        runner.OnNewLine = [this](const QString& line, TOutputType type) {
            const std::lock_guard lock(Lock);
            Lines.append((type == TOutputType::EntireLine ? "E:" : "B:") + line);
        };
        runner.OnExit = [this] {
            const std::lock_guard lock(Lock);
            Ended = true;
            Changed.notify_all();
        };
    }

    bool WaitForEnd(int ms = 10000) {
        std::unique_lock lock(Lock);
        return Changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Ended; });
    }

    QStringList Delivered() {
        const std::lock_guard lock(Lock);
        return Lines;
    }

private:
    std::mutex Lock;
    std::condition_variable Changed;
    QStringList Lines;
    bool Ended = false;
};

QStringList Run(const QString& script) {
    TDosCommand runner;
    TRecorder recorder(runner);
    runner.CommandLine = {"/bin/sh", "-c", script};
    runner.StartProcess();
    if (!recorder.WaitForEnd())
        qFatal("the child did not end");
    runner.StopProcess();
    return recorder.Delivered();
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
    QCOMPARE(Run(script), delivered);
}

void TestConsoleProcess::standardErrorSharesThePipe() {
    QCOMPARE(Run("echo out; sleep 0.2; echo err >&2"), (QStringList{"E:out", "E:err"}));
}

void TestConsoleProcess::inputIsWrittenBetweenReads() {
    TDosCommand runner;
    TRecorder recorder(runner);
    runner.CommandLine = {"/bin/sh", "-c",
                          "printf 'name? '; read answer; echo \"got:$answer\"; read x; echo $x"};
    runner.StartProcess();
    // Answered once asked, as the SFTP driver does.
    QTRY_COMPARE(recorder.Delivered(), QStringList{"B:name? "});
    runner.SendInput("Ann", true);
    runner.SendInput("two", true);
    QVERIFY(recorder.WaitForEnd());
    runner.StopProcess();
    // The shell keeps the CR of each CR LF written to it; echoed back, CR LF ends one line.
    QCOMPARE(recorder.Delivered(), (QStringList{"B:name? ", "E:name? got:Ann", "E:two"}));
}

void TestConsoleProcess::stopTerminatesAWaitingChild() {
    TDosCommand runner;
    TRecorder recorder(runner);
    runner.CommandLine = {"/bin/sh", "-c", "printf 'waiting> '; read never"};
    runner.StartProcess();
    QTRY_VERIFY(!recorder.Delivered().isEmpty());
    QElapsedTimer stop;
    stop.start();
    runner.StopProcess();
    QVERIFY(stop.elapsed() < 5000);
    QVERIFY(!runner.Running());
    QCOMPARE(recorder.Delivered(), (QStringList{"B:waiting> ", "E:waiting> "}));
    // Stopping again, or sending to a stopped runner, does nothing.
    runner.StopProcess();
    runner.SendInput("ignored", true);
}

void TestConsoleProcess::missingProgram() {
    TDosCommand runner;
    runner.CommandLine = {"/nonexistent/psftp", "-l", "u", "host"};
    try {
        runner.StartProcess();
        QFAIL("started a missing program");
    } catch (const TCreateProcessError& error) {
        QCOMPARE(error.Message(), QStringLiteral("/nonexistent/psftp -l u host doesn't exist."));
    }
    QVERIFY(!runner.Running());
}

QTEST_GUILESS_MAIN(TestConsoleProcess)
#include "TestConsoleProcess.moc"
