#include "ProgramRun.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <signal.h>

namespace quaddle::test {

namespace {

// The signals a process catches, from the SigCgt line of /proc/<pid>/status.
quint64 CaughtSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}

quint64 SignalBit(int signalNumber) {
    return quint64(1) << (signalNumber - 1);
}

} // namespace

TProgramRun::TProgramRun(const QStringList& arguments, const QProcessEnvironment& environment) {
    Process.setProcessEnvironment(environment);
    Process.start(QStringLiteral(QUADDLE_PROGRAM), arguments);
    Process.waitForStarted();
}

TProgramRun::~TProgramRun() {
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished();
    }
}

bool TProgramRun::WaitUntilCatchingSignals(int timeoutMs) {
    const quint64 wanted = SignalBit(SIGTERM) | SignalBit(SIGINT);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && Process.state() == QProcess::Running) {
        if ((CaughtSignals(Process.processId()) & wanted) == wanted)
            return true;
        QThread::msleep(10);
    }
    return false;
}

void TProgramRun::SendSignal(int signalNumber) {
    ::kill(Process.processId(), signalNumber);
}

bool TProgramRun::WaitForExit(int timeoutMs) {
    return Process.waitForFinished(timeoutMs);
}

} // namespace quaddle::test
