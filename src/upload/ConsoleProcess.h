#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace quaddle {

// A complete line of output, or the beginning of a line whose end has not arrived yet (such
// as a prompt waiting for input).
enum class OutputType { EntireLine, BeginningOfLine };

// The child program could not be started.
class ProcessStartError : public Error {
public:
    using Error::Error;
};

// Cuts a program's output, read by read, into lines at CR, LF or CR LF. NUL bytes are dropped.
class LineCutter {
public:
    using LineEvent = std::function<void(const QString& line, OutputType type)>;

    // Delivers each line the bytes end, then the unfinished rest, if any, as a beginning.
    void cut(QByteArrayView bytes, const LineEvent& onLine);
    // The output has ended: delivers the unfinished rest as a whole line.
    void finish(const LineEvent& onLine);
    void reset();

private:
    QByteArray m_pending;
};

// A secret handed to a child program through a pipe the child inherits and opens by the name
// path() ("/dev/fd/N"): nothing of it lands on disk, where a crash would leave it, nor on the
// command line, which every local user can read.
class SecretPipe {
public:
    // Throws Error when no pipe can be made or the secret does not fit in one.
    explicit SecretPipe(const QByteArray& secret);
    ~SecretPipe();
    SecretPipe(const SecretPipe&) = delete;
    SecretPipe& operator=(const SecretPipe&) = delete;

    int fd() const { return m_readEnd; }
    QString path() const;
    // For a child started otherwise than by ConsoleProcess: run in the child before exec, it
    // keeps the pipe open there under the same number.
    void keepOpenAcrossExec() const;

private:
    int m_readEnd = -1;
};

// Runs a console program without a terminal, feeds lines to its standard input, and hands
// every line it writes to standard output or standard error to onNewLine, on a reader thread
// of its own. Input is written only while no output waits to be read, and the unfinished
// last line is delivered as it grows and again, from its start, once its end arrives.
class ConsoleProcess {
public:
    using LineEvent = LineCutter::LineEvent;

    ConsoleProcess();
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    // The program, then its arguments, each passed as it is (no shell in between).
    QStringList commandLine;
    // Called on the reader thread, one line at a time, in output order.
    LineEvent onNewLine;
    // Called on the reader thread once the child has ended and all its output is delivered.
    std::function<void()> onExit;
    // Descriptors the child keeps open under their own numbers although they close on exec,
    // such as a SecretPipe's.
    std::vector<int> inheritedFds;

    // Throws ProcessStartError when the program cannot be started.
    void startProcess();
    // The bytes as they are: a command line may name files whose names are no valid text.
    void sendInput(const QByteArray& bytes, bool appendLineEnd);
    // Terminates the child and waits for the reader to end. Not from inside onNewLine.
    void stopProcess();
    bool running() const { return m_reader.joinable(); }
    // How much the child has read and written so far, from and to anything, as the system
    // counts it: it grows while the child works. -1 when the system does not tell.
    qint64 ioBytes() const;

private:
    void readerLoop();
    void writeQueuedInput();
    void closeAll();
    // Ends the reader's wait for output at once: input is queued or a stop requested.
    void wakeReader();

    std::thread m_reader;
    int m_inputFd = -1;
    int m_outputFd = -1;
    // An eventfd for the whole life of the object, so that no writer can ever hit a closed and
    // reused descriptor.
    int m_wakeFd = -1;
    pid_t m_child = -1;
    std::mutex m_inputLock;
    std::deque<QByteArray> m_inputQueue;
    std::atomic<bool> m_stopRequested = false;
    LineCutter m_lines;
};

} // namespace quaddle
