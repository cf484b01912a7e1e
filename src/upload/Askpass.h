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
class AskpassServer : public QObject {
    Q_OBJECT

public:
    // The answer to a prompt, or nothing to decline it.
    using Answer = std::function<std::optional<QString>(const QString& prompt)>;

    explicit AskpassServer(Answer answer);
    ~AskpassServer() override;

    // Listens on a socket with a random name in privateTempDir(); false with error() when it
    // cannot.
    bool listen();
    QString socketPath() const;
    QString error() const { return m_error; }
    // The environment for ssh: base with program as its askpass helper, used even without a
    // display, and this server's socket.
    QProcessEnvironment
    environment(const QString& program,
                QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

private:
    void accept();
    void answer(QLocalSocket* socket);

    Answer m_answer;
    QLocalServer* m_server;
    QString m_error;
};

// The helper's side: sends the prompt to the session at socketPath and writes the answer with
// a new line to standard output. Returns the exit status ssh expects: 0 with an answer, 1 when
// declined or the session cannot be reached.
int runAskpass(const QString& prompt, const QString& socketPath);

// When ssh started the program as its askpass helper (the socket variable set and the prompt as
// the only argument), answers and returns the exit status; otherwise nothing. Called first
// thing in main, before any application object.
std::optional<int> runAskpassWhenAsked(int argc, char** argv);

} // namespace quaddle
