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
enum class TOutputType { EntireLine, BeginningOfLine };

// The child program could not be started.
class TCreateProcessError : public TError {
public:
    using TError::TError;
};

// Cuts a program's output, read by read, into lines at CR, LF or CR LF. NUL bytes are dropped.
class TLineCutter {
public:
    using TLineEvent = std::function<void(const QString& line, TOutputType type)>;

    // Delivers each line the bytes end, then the unfinished rest, if any, as a beginning.
    void Cut(QByteArrayView bytes, const TLineEvent& onLine);
    // The output has ended: delivers the unfinished rest as a whole line.
    void Finish(const TLineEvent& onLine);
    void Reset();

private:
    QByteArray Pending;
};

// Runs a console program without a terminal, feeds lines to its standard input, and hands
// every line it writes to standard output or standard error to OnNewLine, on a reader thread
// of its own. Input is written only while no output waits to be read, and the unfinished
// last line is delivered as it grows and again, from its start, once its end arrives.
class TDosCommand {
public:
    using TNewLineEvent = TLineCutter::TLineEvent;

    TDosCommand() = default;
    ~TDosCommand();
    TDosCommand(const TDosCommand&) = delete;
    TDosCommand& operator=(const TDosCommand&) = delete;

    // The program, then its arguments, each passed as it is (no shell in between).
    QStringList CommandLine;
    // Called on the reader thread, one line at a time, in output order.
    TNewLineEvent OnNewLine;
    // Called on the reader thread once the child has ended and all its output is delivered.
    std::function<void()> OnExit;

    // Throws TCreateProcessError when the program cannot be started.
    void StartProcess();
    void SendInput(const QString& text, bool appendLineEnd);
    // Terminates the child and waits for the reader to end. Not from inside OnNewLine.
    void StopProcess();
    bool Running() const { return Reader.joinable(); }

private:
    void ReaderLoop();
    void WriteQueuedInput();
    void CloseAll();

    std::thread Reader;
    int InputFd = -1;
    int OutputFd = -1;
    pid_t Child = -1;
    std::mutex InputLock;
    std::deque<QByteArray> InputQueue;
    std::atomic<bool> StopRequested = false;
    TLineCutter Lines;
};

} // namespace quaddle
