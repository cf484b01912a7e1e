#pragma once

#include "platform/Dialogs.h"

#include <QList>
#include <QVariant>

namespace quaddle::test {

// A question the program asked, as the scripted dialogs saw it.
struct AskedQuestion {
    QString dialog;
    QString text;
    MessageKind kind = MessageKind::Plain;
    MessageButtons buttons = MessageButtons::Ok;
    // What a dialog's field held when it was shown.
    QString given;
};

// Answers the program's questions from a script, in order. A question that is not the next
// one expected fails the running test and gets the cautious answer (No, Cancel, Abort or no
// files). Installs itself for its lifetime.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    void expectMessage(const QString& text, MessageAnswer answer = MessageAnswer::Ok);
    // For messages that carry a system's error text: matched by a regular expression.
    void expectMessageMatching(const QString& pattern, MessageAnswer answer = MessageAnswer::Ok);
    // An empty list answers as if the user cancelled the file dialog.
    void expectFileChoice(const QString& title, const QStringList& files);
    // The user leaves the master-password dialog with result, having typed typed.
    void expectMasterPassword(MasterPasswordMode mode, MasterPasswordResult result,
                              const QString& typed = QString());
    // The login prompt, answered OK with the given credentials, or cancelled.
    void expectLogin(const QString& user, const QString& password);
    void expectLoginCancelled();
    void expectAskUser(AskMode mode, const QString& name, int answer);

    // True when every expected question was asked and nothing unexpected was.
    bool done() const { return m_script.isEmpty() && m_unexpected.isEmpty(); }
    // What went wrong, for a failure message.
    QString report() const;
    const QList<AskedQuestion>& asked() const { return m_askedSoFar; }

    MessageAnswer showMessage(const QString& text, MessageKind kind,
                              MessageButtons buttons) override;
    QStringList chooseFiles(const QString& title) override;
    MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) override;
    bool askLogin(QString& user, QString& password) override;
    int askUser(AskMode mode, const QString& name) override;

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

    QList<Expectation> m_script;
    QList<AskedQuestion> m_askedSoFar;
    QStringList m_unexpected;
};

} // namespace quaddle::test

// Checks at the end of a test that the script was played out exactly.
#define QUADDLE_VERIFY_DIALOGS(dialogs) QVERIFY2((dialogs).done(), qPrintable((dialogs).report()))
