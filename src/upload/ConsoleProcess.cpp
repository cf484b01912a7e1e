#include "upload/ConsoleProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quaddle {

namespace {

// A child that has gone away must not take the program with it when input is written.
void IgnoreBrokenPipes() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

void TLineCutter::Cut(QByteArrayView bytes, const TLineEvent& onLine) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char byte = bytes[i];
        if (byte == '\0')
            continue;
        if (byte != '\n' && byte != '\r') {
            Pending.append(byte);
            continue;
        }
        // CR LF within one read is one line end; split between reads, the LF ends an empty
        // line of its own.
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        onLine(QString::fromLocal8Bit(Pending), TOutputType::EntireLine);
        Pending.clear();
    }
    if (!Pending.isEmpty())
        onLine(QString::fromLocal8Bit(Pending), TOutputType::BeginningOfLine);
}

void TLineCutter::Finish(const TLineEvent& onLine) {
    if (!Pending.isEmpty())
        onLine(QString::fromLocal8Bit(Pending), TOutputType::EntireLine);
    Reset();
}

void TLineCutter::Reset() {
    Pending.clear();
}

TDosCommand::~TDosCommand() {
    StopProcess();
}

void TDosCommand::StartProcess() {
    if (CommandLine.isEmpty())
        return;
    // Collects a reader whose child has ended by itself.
    StopProcess();
    IgnoreBrokenPipes();
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        throw TError(QStringLiteral("Cannot create a pipe for ") + CommandLine.first());
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        throw TError(QStringLiteral("Cannot create a pipe for ") + CommandLine.first());
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: no controlling terminal, so the child's questions come through
    // the pipes rather than the terminal the program may have been started from.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    std::vector<QByteArray> arguments;
    for (const QString& argument : std::as_const(CommandLine))
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const int failed = posix_spawn(&Child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(input[0]);
    close(output[1]);
    InputFd = input[1];
    OutputFd = output[0];
    if (failed != 0) {
        CloseAll();
        throw TCreateProcessError(CommandLine.join(QLatin1Char(' ')) +
                                  QStringLiteral(" doesn't exist."));
    }
    StopRequested = false;
    Lines.Reset();
    Reader = std::thread([this] { ReaderLoop(); });
}

void TDosCommand::SendInput(const QString& text, bool appendLineEnd) {
    if (!Running())
        return;
    const std::lock_guard lock(InputLock);
    InputQueue.push_back(text.toLocal8Bit() + (appendLineEnd ? "\r\n" : ""));
}

void TDosCommand::StopProcess() {
    if (!Running())
        return;
    StopRequested = true;
    Reader.join();
}

void TDosCommand::ReaderLoop() {
    const TLineCutter::TLineEvent deliver = [this](const QString& line, TOutputType type) {
        if (OnNewLine)
            OnNewLine(line, type);
    };
    const TLineCutter::TLineEvent deliverUnlessStopping = [&](const QString& line,
                                                              TOutputType type) {
        if (!StopRequested)
            deliver(line, type);
    };
    for (;;) {
        int status = 0;
        const bool exited = waitpid(Child, &status, WNOHANG) == Child;
        int waiting = 0;
        if (ioctl(OutputFd, FIONREAD, &waiting) == 0 && waiting > 0) {
            QByteArray bytes(waiting, Qt::Uninitialized);
            const ssize_t got = read(OutputFd, bytes.data(), size_t(waiting));
            bytes.truncate(got > 0 ? got : 0);
            Lines.Cut(bytes, deliverUnlessStopping);
        } else {
            WriteQueuedInput();
        }
        // Instead of sleeping a fixed time, wait at most as long for output to arrive.
        pollfd output = {OutputFd, POLLIN, 0};
        // Once the child closed its end, poll no longer waits; keep the round at 1 ms.
        if (poll(&output, 1, 1) > 0 && (output.revents & POLLHUP) && waiting == 0)
            usleep(1000);
        // The child leads a process group of its own; whatever it started goes with it.
        if (StopRequested && !exited)
            kill(-Child, SIGKILL);
        if (exited)
            break;
    }
    Lines.Finish(deliver);
    CloseAll();
    {
        const std::lock_guard lock(InputLock);
        InputQueue.clear();
    }
    if (OnExit)
        OnExit();
    // The thread object is joined by StopProcess or the next start.
}

void TDosCommand::WriteQueuedInput() {
    for (;;) {
        QByteArray entry;
        {
            const std::lock_guard lock(InputLock);
            if (InputQueue.empty() || StopRequested)
                return;
            entry = InputQueue.front();
            InputQueue.pop_front();
        }
        // A child that has exited makes this fail; the output side notices the end.
        [[maybe_unused]] const ssize_t written =
            write(InputFd, entry.constData(), size_t(entry.size()));
    }
}

void TDosCommand::CloseAll() {
    CloseFd(InputFd);
    CloseFd(OutputFd);
}

} // namespace quaddle
