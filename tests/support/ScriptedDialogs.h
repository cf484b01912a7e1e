#pragma once

#include "platform/Dialogs.h"

#include <QList>
#include <QVariant>

namespace quaddle::test {

// A question the program asked, as the scripted dialogs saw it.
struct TAskedQuestion {
    QString Dialog;
    QString Text;
    TMsgKind Kind = TMsgKind::Plain;
    TMsgButtons Buttons = TMsgButtons::Ok;
    // What a dialog's field held when it was shown.
    QString Given;
};

// Answers the program's questions from a script, in order. A question that is not the next
// one expected fails the running test and gets the cautious answer (No, Cancel, Abort or no
// files). Installs itself for its lifetime.
class TScriptedDialogs : public TDialogs {
public:
    TScriptedDialogs();
    ~TScriptedDialogs() override;
    TScriptedDialogs(const TScriptedDialogs&) = delete;
    TScriptedDialogs& operator=(const TScriptedDialogs&) = delete;

    void ExpectMessage(const QString& text, TMsgAnswer answer = TMsgAnswer::Ok);
    // For messages that carry a system's error text: matched by a regular expression.
    void ExpectMessageMatching(const QString& pattern, TMsgAnswer answer = TMsgAnswer::Ok);
    // An empty list answers as if the user cancelled the file dialog.
    void ExpectFileChoice(const QString& title, const QStringList& files);
    // The user leaves the master-password dialog with result, having typed typed.
    void ExpectMasterPassword(TMasterPassMode mode, TMasterPassResult result,
                              const QString& typed = QString());
    // The login prompt, answered OK with the given credentials, or cancelled.
    void ExpectLogin(const QString& user, const QString& password);
    void ExpectLoginCancelled();
    void ExpectAskUser(TAskMode mode, const QString& name, int answer);

    // True when every expected question was asked and nothing unexpected was.
    bool Done() const { return Script.isEmpty() && Unexpected.isEmpty(); }
    // What went wrong, for a failure message.
    QString Report() const;
    const QList<TAskedQuestion>& Asked() const { return AskedSoFar; }

    TMsgAnswer ShowMessage(const QString& text, TMsgKind kind, TMsgButtons buttons) override;
    QStringList ChooseFiles(const QString& title) override;
    TMasterPassResult AskMasterPassword(TMasterPassMode mode, QString& password) override;
    bool AskLogin(QString& user, QString& password) override;
    int AskUser(TAskMode mode, const QString& name) override;

private:
    struct TExpectation {
        QString Dialog;
        QString Text;
        QVariant Answer;
        bool IsPattern = false;

        bool Matches(const TAskedQuestion& question) const;
    };

    // The scripted answer to this question, or an invalid value when it was not expected.
    QVariant Answer(const TAskedQuestion& question);

    QList<TExpectation> Script;
    QList<TAskedQuestion> AskedSoFar;
    QStringList Unexpected;
};

} // namespace quaddle::test

// Checks at the end of a test that the script was played out exactly.
#define QUADDLE_VERIFY_DIALOGS(dialogs) QVERIFY2((dialogs).Done(), qPrintable((dialogs).Report()))
