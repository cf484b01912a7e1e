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

    // Throws ProcessStartError when the program cannot be started.
    void startProcess();
    void sendInput(const QString& text, bool appendLineEnd);
    // Terminates the child and waits for the reader to end. Not from inside onNewLine.
    void stopProcess();
    bool running() const { return m_reader.joinable(); }

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
