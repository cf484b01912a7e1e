#pragma once

#include "upload/ConsoleProcess.h"
#include "upload/KeyConversion.h"
#include "upload/ProtocolDriver.h"

#include <QEventLoop>
#include <QMutex>
#include <QSet>
#include <atomic>
#include <memory>

namespace quaddle {

// The driver for SFTP servers. It drives PuTTY's psftp through its standard input and output:
// each operation writes one command and waits for the answer that the output handler, on the
// runner's reader thread, recognises in psftp's lines. The state tells the handler which
// answer is awaited.
class SftpDriver : public ProtocolDriver {
public:
    // What the handler awaits. log.txt shows the number beside each line of psftp.
    enum class State : int {
        Idle = 0,
        LoggingIn = 1,
        LoggedIn = 2,
        // psftp named a new working directory right after the login.
        DirChangedAtLogin = 3,
        // The host key's header came; the key follows.
        HostKeyHeader = 5,
        // The key came; the question follows.
        HostKeyRead = 6,
        // The question was answered; the login goes on.
        HostKeyAnswered = 7,
        LoggedInAfterHostKey = 8,
        Uploading = 20,
        // psftp named the transfer; the next prompt ends it.
        Transferring = 21,
        MakingDir = 30,
        ChangingDir = 35,
        // cd was answered, either way.
        DirChanged = 36,
        CheckingFile = 40,
        // dir's listing began; each entry is the file.
        ListingFile = 41,
        Renaming = 50,
        // mv put the file into a folder of the target's name and takes it back.
        RenamingBack = 51,
        Removing = 60,
        ChangingMode = 70
    };
    // Every state, for the harness that feeds the handler output in each. It picks them by
    // their place here, so new ones go at the end: the inputs it keeps stay in their states.
    static constexpr State States[] = {
        State::LoggingIn,   State::LoggedIn,        State::HostKeyHeader,
        State::HostKeyRead, State::HostKeyAnswered, State::LoggedInAfterHostKey,
        State::Uploading,   State::Transferring,    State::MakingDir,
        State::ChangingDir, State::DirChanged,      State::CheckingFile,
        State::ListingFile, State::Renaming,        State::RenamingBack,
        State::Removing,    State::ChangingMode,    State::DirChangedAtLogin,
        State::Idle};

    // Answers: success, failure, an unknown host key, a key that differs from the cached one,
    // and output that fits nothing.
    enum Answer {
        Failure = 0,
        Success = 1,
        UnknownHostKey = 2,
        ChangedHostKey = 3,
        PasswordAsked = 4,
        PassphraseAsked = 5,
        // rm found nothing of the name.
        NothingThere = 6,
        // mv put the file into a folder of the target's name.
        MovedIntoFolder = 7,
        // The folder could not be listed.
        Unlisted = 8,
        // chmod found the mode right already.
        ModeKept = 9,
        Unexpected = 128
    };
    // Every answer, for the harness that checks the handler gives no other.
    static constexpr Answer Answers[] = {Failure,        Success,         UnknownHostKey,
                                         ChangedHostKey, PasswordAsked,   PassphraseAsked,
                                         NothingThere,   MovedIntoFolder, Unlisted,
                                         ModeKept,       Unexpected};

    // psftp: the client's path; empty when there is none.
    SftpDriver(UploadSession& session, QString psftp);
    ~SftpDriver() override;

    void abort() override;
    void setKeyFile(const QString& path) override { m_keyFile = path; }
    bool asksForPassword() const override { return true; }
    bool connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool changeDir(const QString& dir) override;
    bool fileExists(const QString& name) override;
    std::optional<qint64> remoteFileSize(const QString& name) override;
    bool makeDir(const QString& dir) override;
    bool putFileAs(const QString& localPath, const QString& remoteName) override;
    bool renameFile(const QString& oldName, const QString& newName) override;
    // psftp renames refuse an existing target, and psftp has no atomic replace: the target
    // is removed first, and only a file, or nothing, may be in the way.
    bool replaceFile(const QString& oldName, const QString& newName) override;
    bool removeFile(const QString& name) override;
    bool setPermissions(const QString& name, const QString& mode) override;
    QString lastError() override;
    QString sentDigest() override { return m_sentDigest; }

    // The state's number, as log.txt shows it.
    int state() const { return int(m_state.load()); }
    void setAnswerTimeout(int milliseconds) override { m_timeoutMs = milliseconds; }
    // How long a transfer may go on without progress before it is given up.
    void setIdleLimit(int milliseconds) { m_idleLimitMs = milliseconds; }

private:
    // The harness that feeds psftp output to the handler in any state, without a psftp.
    friend class SftpOutputFeed;

    // What the limit of a wait counts: all of it, or the time without progress.
    enum class Limit { Total, WithoutProgress };

    // limitMs: how long to wait without an answer, or without progress.
    int waitForAnswer(int limitMs, Limit limit = Limit::Total);
    // False, with the reason as the error, when the command cannot be sent.
    bool sendable(const QByteArray& command);
    int sendCommand(const QByteArray& command, int limitMs, Limit limit = Limit::Total);
    // Sends the command followed by one whose answer holds a new random word, and takes the
    // command's answer to be all before that: no output of the command can end it early.
    // silentAnswer: the answer when the command printed nothing that gives another.
    int sendMarkedCommand(const QByteArray& command, int silentAnswer);
    // Ends psftp after a transfer that went on too long without progress.
    void giveUpStalled();
    // rm's answer: Success, NothingThere or Failure.
    int remove(const QString& name);
    // mv, with psftp's answer; a file moved into a folder of the new name is put back.
    int rename(const QString& oldName, const QString& newName);
    // Asks the user about the key psftp questions; throws when a changed key is refused.
    int answerHostKey(bool changed);
    // Asks the user for what psftp wants at login and gives it on psftp's input; cancels the
    // session when the user declines.
    int answerSecret(bool passphrase, const QString& user);
    // The key file as psftp reads it: a .ppk as it is, an OpenSSH key converted to a
    // temporary one; empty when the user declined its passphrase. Throws Error when it cannot
    // be read or converted.
    QString puttyKey(const QString& user);
    void newLine(const QString& line, OutputType type);
    void handleLine(const QString& line, OutputType type);
    void giveAnswer(int answer);
    // Marks the awaited answer as given and ends the wait at once.
    void finishWait();
    void setWaitLoop(QEventLoop* loop);
    // Logs a line of psftp once: whole, or as far as a question waiting for input.
    void logLine(const QString& line, OutputType type);
    void setErrorText(const QString& text);
    // The answers to a command sent with sendMarkedCommand.
    void handleMarkedLine(const QString& line);
    void handleRenamed(const QString& line);
    void setRemoteDir(const QString& dir);
    // psftp has ended or is ending: the connection is gone.
    bool gone() const { return m_exited || m_fatalSeen; }
    // Why the login ended before any question, from psftp's last words.
    QString connectFailure() const;

    QString m_psftp;
    ConsoleProcess m_runner;
    std::atomic<bool> m_answered = false;
    std::atomic<int> m_answer = 0;
    std::atomic<State> m_state = State::Idle;
    std::atomic<bool> m_exited = false;
    // psftp printed a fatal error; it ends right after.
    std::atomic<bool> m_fatalSeen = false;
    // psftp said the credentials were refused.
    std::atomic<bool> m_loginRefused = false;
    // The last wait ran into the time-out.
    bool m_timedOut = false;
    // Written by the reader thread, read by the waiting one.
    mutable QMutex m_shared;
    QString m_probeName;
    // The line the last file check listed the file with.
    QString m_listedLine;
    QString m_hostKey;
    // As psftp names it: rsa2, ssh-ed25519, ...
    QString m_hostKeyType;
    QString m_errorText;
    QString m_lastLine;
    // psftp's remote working directory, as it prints it.
    QString m_remoteDir;
    // The target mv should name: the working directory and the new name.
    QString m_renameTarget;
    // The line that ends a command sent with sendMarkedCommand; empty when none is awaited.
    QString m_marker;
    // The loop the waiting thread runs; the reader thread ends it when the answer comes.
    QMutex m_waitLock;
    QEventLoop* m_waitLoop = nullptr;
    // The question already logged before its line ended; the reader thread's alone.
    QString m_loggedPrompt;
    // Inside the server's banner; the reader thread's alone.
    bool m_inBanner = false;
    // The prompt already answered before its line ended; the reader thread's alone.
    QString m_answeredPrompt;
    QString m_keyFile;
    // The OpenSSH key converted for psftp, kept for the session's later logins, and the
    // passphrase the copy keeps too, which psftp asks for.
    ProgramKey m_key{ProgramKey::Format::Putty};
    int m_timeoutMs;
    int m_idleLimitMs;
    // The mode of the local file last put, as octal digits, and whether the put made a new
    // file: one under a temporary name that then took the real one.
    QString m_putLocalMode;
    bool m_putFresh = false;
    QString m_sentDigest; // of the last file put, when it stayed as it was meanwhile
    // The local modes the server was seen to keep for new files, which then need no chmod.
    QSet<QString> m_keptModes;
};

} // namespace quaddle
