#include "cli/Terminal.h"

#include "upload/UploadRunSupport.h"

#include <QCoreApplication>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace quaddle {

namespace {

constexpr int DefaultWidth = 80;
constexpr int PollMs = 100;

// Turns echo off for as long as it lives, and back on however the question ends.
class EchoOff {
public:
    EchoOff() : m_saved(), m_changed(tcgetattr(STDIN_FILENO, &m_saved) == 0) {
        if (!m_changed)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        m_changed = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_changed)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios m_saved;
    bool m_changed;
};

// A message keeps its own line breaks, each further line indented under the first so that
// nothing in it passes for a message of its own; every other control character is escaped.
QString printableMessage(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = printableText(line);
    return lines.join(QStringLiteral("\n  "));
}

} // namespace

Terminal::Terminal(QString program, bool quiet)
    : m_program(std::move(program)), m_quiet(quiet), m_interactive(isatty(STDIN_FILENO) == 1),
      m_progressShown(!quiet && isatty(STDERR_FILENO) == 1) {}

Terminal::~Terminal() {
    clear();
}

int Terminal::width() const {
    winsize size = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DefaultWidth;
}

void Terminal::write(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::write(STDERR_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += written;
    }
}

void Terminal::error(const QString& text) {
    clear();
    write(m_program + QStringLiteral(": ") + printableMessage(text) + QLatin1Char('\n'));
}

void Terminal::notice(const QString& text) {
    if (m_quiet)
        return;
    clear();
    write(m_program + QStringLiteral(": ") + printableMessage(text) + QLatin1Char('\n'));
}

void Terminal::progress(const QString& line) {
    if (!m_progressShown)
        return;
    write(QStringLiteral("\r\033[K") + printableText(line));
    m_progressOnScreen = true;
}

void Terminal::clear() {
    if (!m_progressOnScreen)
        return;
    write(QStringLiteral("\r\033[K"));
    m_progressOnScreen = false;
}

std::optional<QString> Terminal::ask(const QString& prompt, bool echo) {
    if (!m_interactive || m_interrupted)
        return std::nullopt;
    clear();
    write(printableMessage(prompt));
    std::optional<QByteArray> line;
    if (echo) {
        line = readLine();
    } else {
        const EchoOff echoOff;
        line = readLine();
        // The user's Enter was not echoed either.
        write(QStringLiteral("\n"));
    }
    if (!line)
        return std::nullopt;
    return QString::fromLocal8Bit(*line);
}

std::optional<QByteArray> Terminal::readLine() {
    QByteArray line;
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, PollMs);
        // The termination handler runs from the event loop and interrupts the question.
        QCoreApplication::processEvents();
        if (m_interrupted)
            return std::nullopt;
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        char byte = 0;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        if (byte == '\n')
            return line;
        line.append(byte);
    }
}

} // namespace quaddle
