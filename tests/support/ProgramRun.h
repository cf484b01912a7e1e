#pragma once

#include <QProcess>

namespace quaddle::test {

// The built program, started with the given arguments and environment. Killed at destruction
// if it is still running.
class TProgramRun {
public:
    TProgramRun(const QStringList& arguments, const QProcessEnvironment& environment);
    ~TProgramRun();
    TProgramRun(const TProgramRun&) = delete;
    TProgramRun& operator=(const TProgramRun&) = delete;

    bool Started() const { return Process.state() == QProcess::Running; }
    // Waits until the program has installed its handlers for SIGTERM and SIGINT.
    bool WaitUntilCatchingSignals(int timeoutMs);
    void SendSignal(int signalNumber);
    bool WaitForExit(int timeoutMs);

    QProcess::ExitStatus ExitStatus() const { return Process.exitStatus(); }
    int ExitCode() const { return Process.exitCode(); }
    QByteArray ErrorOutput() { return Process.readAllStandardError(); }
    QByteArray StandardOutput() { return Process.readAllStandardOutput(); }

private:
    QProcess Process;
};

} // namespace quaddle::test
