#pragma once

#include "platform/Dialogs.h"

namespace quaddle {

class Terminal;

// The dialogs seam without windows: messages go to standard error, and each question is
// answered by its own rule:
// - a file that exists: typed on the terminal (o/r/s, upper case for every further file);
//   without a terminal it is skipped;
// - a missing remote directory: created;
// - the login and the master password: typed on the terminal, three tries at most; the master
//   password may come from a file instead; none is set or changed here;
// - another of ssh's prompts (a ProxyJump host's password, a security key's PIN): typed on the
//   terminal, its confirmations answered y or n; without a terminal it is declined;
// - a login the server refused: typed again while there is a terminal, unless the server's
//   identity was refused, which says why already;
// - a server's identity: a new one only with --accept-new, a changed one never;
// - whether the other files go on after a failed one: they do, and the exit status tells;
// - thumbnails: made when --thumbnails asks for them;
// - whatever else only the windows ask: the answer that risks nothing.
class ConsoleDialogs : public Dialogs {
public:
    struct Choices {
        // Trust an unknown host key or certificate; a changed one is never trusted.
        bool acceptNew = false;
        // Make thumbnails of the pictures that can have one.
        bool thumbnails = false;
        // The first line of this file is the master password; empty: ask on the terminal.
        QString masterPasswordFile;
    };

    ConsoleDialogs(Terminal& terminal, Choices choices);

    void notify(MessageKind kind, const QString& text) override;
    QStringList chooseFiles(const QString& title) override;
    MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) override;
    bool confirmLosingLockedLogins() override { return false; }
    bool confirmUnencryptedPassword(bool) override { return false; }
    bool askLogin(const LoginTarget& target, LoginAnswer& login) override;
    bool retryLogin(const LoginTarget& target, const QString& user) override;
    bool answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) override;
    FileExistsAnswer askFileExists(const QString& name) override;
    MissingDirAnswer askMissingDir(const QString& dir) override;
    bool trustIdentity(const IdentityQuestion& question) override;
    ErrorAnswer continueAfterError(const QString& message) override;
    ThumbnailAnswer offerThumbnails(ThumbnailImages) override {
        return {m_choices.thumbnails, false};
    }

    // Whether a server's identity was refused, so its login failed for that.
    bool identityRefused() const { return m_identityRefused; }

private:
    Terminal& m_terminal;
    const Choices m_choices;
    int m_masterPasswordTries = 0;
    int m_loginRetries = 0;
    bool m_identityRefused = false;
};

} // namespace quaddle
