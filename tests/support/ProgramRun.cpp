#include "ProgramRun.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <signal.h>

namespace quaddle::test {

namespace {

// The signals a process catches, from the SigCgt line of /proc/<pid>/status.
quint64 caughtSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}

quint64 signalBit(int signalNumber) {
    return quint64(1) << (signalNumber - 1);
}

} // namespace

ProgramRun::ProgramRun(const QStringList& arguments, const QProcessEnvironment& environment,
                       const QString& standardInput)
    : ProgramRun(QStringLiteral(QUADDLE_PROGRAM), arguments, environment, standardInput) {}

ProgramRun::ProgramRun(const QString& program, const QStringList& arguments,
                       const QProcessEnvironment& environment, const QString& standardInput) {
    m_process.setProcessEnvironment(environment);
    if (!standardInput.isEmpty())
        m_process.setStandardInputFile(standardInput);
    m_process.start(program, arguments);
    m_process.waitForStarted();
}

ProgramRun::~ProgramRun() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool ProgramRun::waitUntilCatchingSignals(int timeoutMs) {
    const quint64 wanted = signalBit(SIGTERM) | signalBit(SIGINT);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if ((caughtSignals(m_process.processId()) & wanted) == wanted)
            return true;
        QThread::msleep(10);
    }
    return false;
}

void ProgramRun::sendSignal(int signalNumber) {
    ::kill(m_process.processId(), signalNumber);
}

bool ProgramRun::waitForExit(int timeoutMs) {
    return m_process.waitForFinished(timeoutMs);
}

} // namespace quaddle::test
