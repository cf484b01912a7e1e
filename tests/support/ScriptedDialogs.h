#pragma once

#include "platform/Dialogs.h"

#include <QList>
#include <QVariant>
#include <optional>

namespace quaddle::test {

// A question the program asked, as the scripted dialogs saw it.
struct AskedQuestion {
    QString dialog;
    // The message, or what the question is about: a name, an error, a fingerprint.
    QString text;
    MessageKind kind = MessageKind::Plain;
    MessageButtons buttons = MessageButtons::Ok;
    // What a dialog's field held when it was shown.
    QString given;
    // All there is to a server identity question.
    std::optional<IdentityQuestion> identity;
    // For whom a login prompt or a refused login asked.
    std::optional<LoginTarget> login;
};

// Answers the program's questions from a script, in order, by kind of question. A question
// that is not the next one expected fails the running test and gets the cautious answer (No,
// Cancel, Skip, Abort or no files). Installs itself for its lifetime.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    // A message box of the windows, or a notice.
    void expectMessage(const QString& text, MessageAnswer answer = MessageAnswer::Ok);
    // For messages that carry a system's error text: matched by a regular expression.
    void expectMessageMatching(const QString& pattern, MessageAnswer answer = MessageAnswer::Ok);
    // A question naming its action on a button; the action is kept as the question's given.
    void expectActionConfirmation(const QString& question, bool confirmed);
    // An empty list answers as if the user cancelled the file dialog.
    void expectFileChoice(const QString& title, const QStringList& files);
    // The user leaves the master-password dialog with result, having typed typed.
    void expectMasterPassword(MasterPasswordMode mode, MasterPasswordResult result,
                              const QString& typed = QString());
    void expectLosingLockedLogins(bool confirmed);
    void expectUnencryptedPassword(bool locked, bool confirmed);
    // The login prompt, answered OK with the given credentials (and "Remember password" when
    // remember), or cancelled.
    void expectLogin(const QString& user, const QString& password, bool remember = false);
    void expectLoginCancelled();
    void expectLoginRetry(bool retry);
    // One of ssh's own prompts, matched by a regular expression; answered with answer (yes
    // when confirming), or cancelled (no) without one.
    void expectSshPrompt(SshPromptKind kind, const QString& promptPattern,
                         const std::optional<QString>& answer);
    void expectFileExists(const QString& name, FileExistsAnswer answer);
    void expectMissingDir(const QString& dir, MissingDirAnswer answer);
    // The fingerprint shown is matched by a regular expression.
    void expectIdentity(IdentityKind kind, bool changed, bool trusted,
                        const QString& fingerprintPattern = QStringLiteral(".*"));
    void expectErrorQuestion(const QString& message, bool goOn);
    void expectErrorQuestionMatching(const QString& pattern, bool goOn);
    // The error question about a file that failed with the reply, whatever the folder and
    // server it names.
    void expectFileError(const QString& name, const QString& reply, bool goOn);
    // The error question, left with "Edit Server…".
    void expectErrorQuestionEditingServer(const QString& pattern);
    void expectThumbnailOffer(ThumbnailImages images, bool accepted, bool neverAsk = false);

    // True when every expected question was asked and nothing unexpected was.
    bool done() const { return m_script.isEmpty() && m_unexpected.isEmpty(); }
    // What went wrong, for a failure message.
    QString report() const;
    const QList<AskedQuestion>& asked() const { return m_askedSoFar; }

    MessageAnswer showMessage(const QString& text, MessageKind kind,
                              MessageButtons buttons) override;
    bool confirmAction(const QString& text, const QString& action) override;
    void notify(MessageKind kind, const QString& text) override;
    QStringList chooseFiles(const QString& title) override;
    MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) override;
    bool confirmLosingLockedLogins() override;
    bool confirmUnencryptedPassword(bool locked) override;
    bool askLogin(const LoginTarget& target, LoginAnswer& login) override;
    bool retryLogin(const LoginTarget& target, const QString& user) override;
    bool answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) override;
    FileExistsAnswer askFileExists(const QString& name) override;
    MissingDirAnswer askMissingDir(const QString& dir) override;
    bool trustIdentity(const IdentityQuestion& question) override;
    ErrorAnswer continueAfterError(const QString& message) override;
    ThumbnailAnswer offerThumbnails(ThumbnailImages images) override;

private:
    struct Expectation {
        QString dialog;
        QString text;
        QVariant answer;
        bool isPattern = false;

        bool matches(const AskedQuestion& question) const;
    };

    // The scripted answer to this question, or an invalid value when it was not expected.
    QVariant scriptedAnswer(const AskedQuestion& question);
    // The scripted yes or no to a question; no when it was not expected.
    bool scriptedYes(const QString& dialog, const QString& text = QString());

    QList<Expectation> m_script;
    QList<AskedQuestion> m_askedSoFar;
    QStringList m_unexpected;
};

} // namespace quaddle::test

// Checks at the end of a test that the script was played out exactly.
#define QUADDLE_VERIFY_DIALOGS(dialogs) QVERIFY2((dialogs).done(), qPrintable((dialogs).report()))
