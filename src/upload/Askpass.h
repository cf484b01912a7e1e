#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace quaddle {

// Tells the program, started by ssh as its SSH_ASKPASS, where the running session listens.
inline constexpr char AskpassSocketVariable[] = "QUADDLE_ASKPASS_SOCKET";

// Answers ssh's questions (passwords, passphrases, host keys) in the running session: ssh
// starts the program as its askpass helper, which hands the prompt over a socket in the
// program's owner-only folder and prints the answer for ssh. Nothing is written to disk and no
// secret is passed on a command line or in an environment.
// One of ssh's prompts as the helper passed it on.
struct AskpassPrompt {
    QString text;
    // ssh's SSH_ASKPASS_PROMPT: "confirm" for a yes or no, "none" for a notice that wants no
    // answer, empty for a typed answer.
    QString hint;
    // Asked by the connection program itself, not by a program it started (such as the ssh of
    // a ProxyJump, which logs in to another host).
    bool fromConnectionProgram = false;
};

class AskpassServer : public QObject {
    Q_OBJECT

public:
    // The answer to a prompt, or nothing to decline it.
    using Answer = std::function<std::optional<QString>(const AskpassPrompt& prompt)>;
    // The process id of the connection program whose helpers are answered; 0 while there is
    // none.
    using ConnectionProgram = std::function<qint64()>;

    // Only helpers started by the connection program or by the programs below it are
    // answered; anybody else who finds the socket gets nothing.
    AskpassServer(Answer answer, ConnectionProgram connectionProgram);
    ~AskpassServer() override;

    // Listens on a socket with a random name in privateTempDir(); false with error() when it
    // cannot.
    bool listen();
    QString socketPath() const;
    // Stops answering and removes the socket, once nothing more may be asked.
    void close();
    QString error() const { return m_error; }
    // The environment for ssh: base with program as its askpass helper, used even without a
    // display, and this server's socket.
    QProcessEnvironment
    environment(const QString& program,
                QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

private:
    void accept();
    void answer(QLocalSocket* socket);
    // How far the peer of socket is below the connection program: 1 for its child; nothing
    // when it is not below it.
    std::optional<int> generationOf(const QLocalSocket& socket) const;

    Answer m_answer;
    ConnectionProgram m_connectionProgram;
    QLocalServer* m_server;
    QString m_error;
};

// The helper's side: sends the prompt and ssh's hint for it to the session at socketPath and
// writes the answer with a new line to standard output. Returns the exit status ssh expects: 0
// with an answer, 1 when declined or the session cannot be reached.
int runAskpass(const QString& prompt, const QString& hint, const QString& socketPath);

// When ssh started the program as its askpass helper (the socket variable set and the prompt as
// the only argument), answers and returns the exit status; otherwise nothing. Called first
// thing in main, before any application object.
std::optional<int> runAskpassWhenAsked(int argc, char** argv);

} // namespace quaddle
