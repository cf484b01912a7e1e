#include "upload/ConsoleProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quaddle {

namespace {

// A child that has gone away must not take the program with it when input is written.
void ignoreBrokenPipes() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The number in the line "name: 123" of a /proc file; -1 when there is none.
qint64 procField(const QByteArray& text, const QByteArray& name) {
    const QByteArray start = name + ": ";
    for (const QByteArray& line : text.split('\n')) {
        if (!line.startsWith(start))
            continue;
        bool ok = false;
        const qint64 value = line.mid(start.size()).toLongLong(&ok);
        return ok ? value : -1;
    }
    return -1;
}

} // namespace

SecretPipe::SecretPipe(const QByteArray& secret) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw Error(QStringLiteral("Cannot create a pipe"));
    m_readEnd = ends[0];
    // A secret larger than the pipe's buffer would block the writer for good.
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const ssize_t written = write(ends[1], secret.constData(), size_t(secret.size()));
    close(ends[1]);
    if (written != secret.size()) {
        closeFd(m_readEnd);
        throw Error(QStringLiteral("Cannot hand a secret over through a pipe"));
    }
}

SecretPipe::~SecretPipe() {
    closeFd(m_readEnd);
}

QString SecretPipe::path() const {
    return QStringLiteral("/dev/fd/%1").arg(m_readEnd);
}

void SecretPipe::keepOpenAcrossExec() const {
    fcntl(m_readEnd, F_SETFD, 0);
}

void LineCutter::cut(QByteArrayView bytes, const LineEvent& onLine) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char byte = bytes[i];
        if (byte == '\0')
            continue;
        if (byte != '\n' && byte != '\r') {
            m_pending.append(byte);
            continue;
        }
        // CR LF within one read is one line end; split between reads, the LF ends an empty
        // line of its own.
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        onLine(QString::fromLocal8Bit(m_pending), OutputType::EntireLine);
        m_pending.clear();
    }
    if (!m_pending.isEmpty())
        onLine(QString::fromLocal8Bit(m_pending), OutputType::BeginningOfLine);
}

void LineCutter::finish(const LineEvent& onLine) {
    if (!m_pending.isEmpty())
        onLine(QString::fromLocal8Bit(m_pending), OutputType::EntireLine);
    reset();
}

void LineCutter::reset() {
    m_pending.clear();
}

ConsoleProcess::ConsoleProcess() : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ConsoleProcess::~ConsoleProcess() {
    stopProcess();
    closeFd(m_wakeFd);
}

void ConsoleProcess::wakeReader() {
    const eventfd_t one = 1;
    [[maybe_unused]] const int written = eventfd_write(m_wakeFd, one);
}

void ConsoleProcess::startProcess() {
    if (commandLine.isEmpty())
        return;
    // Collects a reader whose child has ended by itself.
    stopProcess();
    ignoreBrokenPipes();
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        throw Error(QStringLiteral("Cannot create a pipe for ") + commandLine.first());
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        throw Error(QStringLiteral("Cannot create a pipe for ") + commandLine.first());
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    // Onto itself, dup2 clears close-on-exec for the child alone.
    for (const int fd : inheritedFds)
        posix_spawn_file_actions_adddup2(&actions, fd, fd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: no controlling terminal, so the child's questions come through
    // the pipes rather than the terminal the program may have been started from.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    std::vector<QByteArray> arguments;
    for (const QString& argument : std::as_const(commandLine))
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const int failed = posix_spawn(&m_child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(input[0]);
    close(output[1]);
    m_inputFd = input[1];
    m_outputFd = output[0];
    if (failed != 0) {
        closeAll();
        throw ProcessStartError(commandLine.join(QLatin1Char(' ')) +
                                QStringLiteral(" doesn't exist."));
    }
    m_stopRequested = false;
    m_lines.reset();
    m_reader = std::thread([this] { readerLoop(); });
}

void ConsoleProcess::sendInput(const QByteArray& bytes, bool appendLineEnd) {
    if (!running())
        return;
    {
        const std::lock_guard lock(m_inputLock);
        m_inputQueue.push_back(bytes + (appendLineEnd ? "\r\n" : ""));
    }
    wakeReader();
}

qint64 ConsoleProcess::ioBytes() const {
    if (!running())
        return -1;
    const int fd = open(QByteArray("/proc/" + QByteArray::number(m_child) + "/io").constData(),
                        O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    const QByteArray text(buffer, got > 0 ? got : 0);
    const qint64 read = procField(text, "rchar");
    const qint64 written = procField(text, "wchar");
    return read < 0 || written < 0 ? -1 : read + written;
}

void ConsoleProcess::stopProcess() {
    if (!running())
        return;
    m_stopRequested = true;
    wakeReader();
    m_reader.join();
}

void ConsoleProcess::readerLoop() {
    const LineCutter::LineEvent deliver = [this](const QString& line, OutputType type) {
        if (onNewLine)
            onNewLine(line, type);
    };
    const LineCutter::LineEvent deliverUnlessStopping = [&](const QString& line, OutputType type) {
        if (!m_stopRequested)
            deliver(line, type);
    };
    for (;;) {
        int status = 0;
        const pid_t waited = waitpid(m_child, &status, WNOHANG);
        // A child that cannot be waited for (already collected elsewhere, or SIGCHLD ignored)
        // will never be reported as ended either.
        const bool exited = waited == m_child || waited < 0;
        int waiting = 0;
        if (ioctl(m_outputFd, FIONREAD, &waiting) == 0 && waiting > 0) {
            QByteArray bytes(waiting, Qt::Uninitialized);
            const ssize_t got = read(m_outputFd, bytes.data(), size_t(waiting));
            bytes.truncate(got > 0 ? got : 0);
            m_lines.cut(bytes, deliverUnlessStopping);
        } else {
            writeQueuedInput();
        }
        // The child leads a process group of its own; whatever it started goes with it.
        if (m_stopRequested && !exited)
            kill(-m_child, SIGKILL);
        if (exited)
            break;
        // More output may be waiting; input goes out only once it has been read.
        if (waiting > 0)
            continue;
        // Sleeps until output arrives, input is queued or a stop is requested. The time limit
        // only bounds how late an exit is noticed when the pipe stays open (a grandchild).
        pollfd events[2] = {{m_outputFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = poll(events, 2, 10);
        if (ready > 0 && (events[1].revents & POLLIN)) {
            eventfd_t count = 0;
            [[maybe_unused]] const int drained = eventfd_read(m_wakeFd, &count);
        }
        // Once the child closed its end, poll no longer waits; keep the round at 1 ms.
        if (ready > 0 && (events[0].revents & POLLHUP) && !(events[0].revents & POLLIN))
            usleep(1000);
    }
    m_lines.finish(deliver);
    closeAll();
    {
        const std::lock_guard lock(m_inputLock);
        m_inputQueue.clear();
    }
    if (onExit)
        onExit();
    // The thread object is joined by stopProcess or the next start.
}

void ConsoleProcess::writeQueuedInput() {
    for (;;) {
        QByteArray entry;
        {
            const std::lock_guard lock(m_inputLock);
            if (m_inputQueue.empty() || m_stopRequested)
                return;
            entry = m_inputQueue.front();
            m_inputQueue.pop_front();
        }
        // A child that has exited makes this fail; the output side notices the end.
        [[maybe_unused]] const ssize_t written =
            write(m_inputFd, entry.constData(), size_t(entry.size()));
    }
}

void ConsoleProcess::closeAll() {
    closeFd(m_inputFd);
    closeFd(m_outputFd);
}

} // namespace quaddle
