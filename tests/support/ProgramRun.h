#pragma once

#include <QProcess>

namespace quaddle::test {

// The built program (or another one), started with the given arguments and environment, and
// standard input read from the file standardInput when one is named (a terminal, say). Killed at
// destruction if it is still running.
class ProgramRun {
public:
    ProgramRun(const QStringList& arguments, const QProcessEnvironment& environment,
               const QString& standardInput = QString());
    ProgramRun(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment, const QString& standardInput = QString());
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool started() const { return m_process.state() == QProcess::Running; }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // Waits until the program has installed its handlers for SIGTERM and SIGINT.
    bool waitUntilCatchingSignals(int timeoutMs);
    void sendSignal(int signalNumber);
    qint64 processId() const { return m_process.processId(); }
    bool waitForExit(int timeoutMs);

    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    int exitCode() const { return m_process.exitCode(); }
    QByteArray errorOutput() { return m_process.readAllStandardError(); }
    QByteArray standardOutput() { return m_process.readAllStandardOutput(); }

private:
    QProcess m_process;
};

} // namespace quaddle::test
