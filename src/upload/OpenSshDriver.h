#pragma once

#include "upload/KeyConversion.h"
#include "upload/ProtocolDriver.h"

#include <QHash>
#include <QStringList>
#include <memory>
#include <optional>

namespace quaddle {

class AskpassServer;
struct AskpassPrompt;
class Error;
class SftpClient;

// SFTP through the user's own OpenSSH client: ssh makes the connection with the user's keys,
// agent and known hosts, and asks for passwords, passphrases and unknown host keys through the
// program as its askpass helper, so the questions come up in the session's dialogs.
class OpenSshDriver : public ProtocolDriver {
public:
    explicit OpenSshDriver(UploadSession& session);
    ~OpenSshDriver() override;

    // The ssh program and options put before the others, instead of ssh from PATH.
    void setSshCommand(const QString& program, const QStringList& extraOptions);
    // The askpass helper ssh runs, instead of this program.
    void setAskpassProgram(const QString& program);

    void setKeyFile(const QString& path) override { m_keyFile = path; }
    void setAnswerTimeout(int milliseconds) override;
    bool asksForPassword() const override { return true; }
    bool needsUserName() const override { return false; }
    bool isConnected() const override;
    void abort() override;
    bool connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool changeDir(const QString& dir) override;
    bool fileExists(const QString& name) override;
    std::optional<qint64> remoteFileSize(const QString& name) override;
    void prefetchExistence(const QStringList& names) override;
    void sendFiles(const QList<FileTransfer>& files, const TransferEvents& events) override;
    bool makeDir(const QString& dir) override;
    bool putFileAs(const QString& localPath, const QString& remoteName) override;
    bool renameFile(const QString& oldName, const QString& newName) override;
    bool replaceFile(const QString& oldName, const QString& newName) override;
    bool removeFile(const QString& name) override;
    bool setPermissions(const QString& name, const QString& mode) override;
    QString lastError() override;

private:
    QString sshProgram() const;
    // What ssh is given before the host, for the connection and for showing its settings.
    QStringList options(const QString& port, const QString& user, const QString& keyFile) const;
    QStringList commandLine(const QString& host, const QStringList& options) const;
    // The user and host ssh names in its password prompts for this server, as its
    // configuration makes them (a Host alias's HostName, a HostKeyAlias).
    QString loginOf(const QString& host, const QStringList& options) const;
    // Why the login ended without being refused, as an error that ends the run.
    Error loginError(const QString& host, const QString& port) const;
    // What ssh is told for one of its prompts; nothing declines it.
    std::optional<QString> answer(const AskpassPrompt& prompt);
    // Whether the prompt asks for the password of this server's user at this host, which is
    // the only one the stored password is for.
    bool asksStoredPassword(const AskpassPrompt& prompt) const;
    // Any other prompt, put to the user in ssh's words, which name who asks.
    std::optional<QString> askUser(const AskpassPrompt& prompt);
    std::optional<QString> answerSecret(bool passphrase);
    bool answerHostKey(const QString& prompt);
    // False after Cancel; throws when the connection is gone otherwise.
    bool ensureConnected();
    void logSshErrors();
    // name inside the working directory, unless it is an absolute path.
    QString remotePath(const QString& name) const;

    QString m_sshProgram;
    QStringList m_extraOptions;
    QString m_askpassProgram;
    QString m_keyFile;
    int m_timeoutMs = 15000;
    std::unique_ptr<SftpClient> m_client;
    std::unique_ptr<AskpassServer> m_askpass;
    QString m_user;
    // "USER@HOST" as ssh's password prompts name this server.
    QString m_login;
    QString m_password;
    bool m_passwordOffered = false;
    // The user turned down a question; ssh's further prompts are declined without asking.
    bool m_declined = false;
    // The user refused a key that replaces known ones.
    bool m_changedKeyRefused = false;
    bool m_lossReported = false;
    ProgramKey m_key{ProgramKey::Format::OpenSsh};
    QString m_workingDir;
    // What prefetchExistence learnt, by name in the working directory, until asked.
    QHash<QString, bool> m_knownExistence;
};

} // namespace quaddle
