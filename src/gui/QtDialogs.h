#pragma once

#include "platform/Dialogs.h"

class QWidget;

namespace quaddle {

// The window a question belongs to, so that its box is centred over it: the open modal
// dialog, else the active window, else a visible window of the program; none before the
// program shows any window. Never a hidden window.
QWidget* askingWindow();

// Shows the platform's message boxes and file dialog as real modal windows, parented to
// the window that asks, and words as message boxes the questions that need no more. The
// program's own dialogs are added by the program's subclass.
class QtDialogs : public Dialogs {
public:
    MessageAnswer showMessage(const QString& text, MessageKind kind,
                              MessageButtons buttons) override;
    bool confirmAction(const QString& question, const QString& action) override;
    void notify(MessageKind kind, const QString& text) override;
    QStringList chooseFiles(const QString& title) override;
    bool confirmLosingLockedLogins() override;
    bool confirmUnencryptedPassword(bool locked) override;
    bool retryLogin(const LoginTarget& target, const QString& user) override;
    bool answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) override;
    bool trustIdentity(const IdentityQuestion& question) override;
    ErrorAnswer continueAfterError(const QString& message) override;
    ThumbnailAnswer offerThumbnails(ThumbnailImages images) override;
};

} // namespace quaddle
