#pragma once

#include "platform/Dialogs.h"

namespace quaddle {

class Terminal;

// The dialogs seam without windows: messages go to standard error, questions are typed on the
// terminal when there is one and otherwise get the answer that risks nothing.
class ConsoleDialogs : public Dialogs {
public:
    struct Choices {
        // Trust an unknown host key or certificate; a changed one is never trusted.
        bool acceptNew = false;
        // The first line of this file is the master password; empty: ask on the terminal.
        QString masterPasswordFile;
    };

    ConsoleDialogs(Terminal& terminal, Choices choices);

    MessageAnswer showMessage(const QString& text, MessageKind kind,
                              MessageButtons buttons) override;
    QStringList chooseFiles(const QString& title) override;
    MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) override;
    bool askLogin(QString& user, QString& password) override;
    int askUser(AskMode mode, const QString& name) override;
    bool trustIdentity(const IdentityQuestion& question) override;

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
