#pragma once

#include <QString>
#include <optional>

namespace quaddle {

// Standard error and input as a run without windows uses them: messages (kept to errors when
// quiet), the progress line on a terminal, and questions typed on the terminal. What it writes
// has its control characters escaped (see printableText), so names and server replies in it
// cannot steer the terminal. Questions wait with the event loop running, so a termination
// signal ends them.
class Terminal {
public:
    // program: the name messages begin with.
    Terminal(QString program, bool quiet);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Whether questions can be typed: standard input is a terminal.
    bool interactive() const { return m_interactive; }
    bool showsProgress() const { return m_progressShown; }
    int width() const;

    void error(const QString& text);
    void notice(const QString& text);
    // Replaces the progress line; clear() removes it.
    void progress(const QString& line);
    void clear();

    // The typed line without its line feed; nothing when there is no terminal, the input ended
    // or the run was interrupted. Without echo for secrets.
    std::optional<QString> ask(const QString& prompt, bool echo);
    // Ends any question waiting and keeps later ones from being asked.
    void interrupt() { m_interrupted = true; }
    bool interrupted() const { return m_interrupted; }

private:
    void write(const QString& text);
    std::optional<QByteArray> readLine();

    const QString m_program;
    const bool m_quiet;
    const bool m_interactive;
    const bool m_progressShown;
    bool m_progressOnScreen = false;
    bool m_interrupted = false;
};

} // namespace quaddle
