#include "ScriptedDialogs.h"

#include <QRegularExpression>
#include <QTest>

namespace quaddle::test {

namespace {

const QString MessageDialog = QStringLiteral("message");
const QString FileDialog = QStringLiteral("files");
const QString MasterPassDialog = QStringLiteral("master password");
const QString LoginDialog = QStringLiteral("login");

QString AskDialog(TAskMode mode) {
    return mode == TAskMode::File ? QStringLiteral("file exists")
                                  : QStringLiteral("directory missing");
}

QString ModeName(TMasterPassMode mode) {
    return mode == TMasterPassMode::Eingabe ? QStringLiteral("enter") : QStringLiteral("set");
}

TMsgAnswer CautiousAnswer(TMsgButtons buttons) {
    switch (buttons) {
    case TMsgButtons::YesNo:
        return TMsgAnswer::No;
    case TMsgButtons::OkCancel:
        return TMsgAnswer::Cancel;
    case TMsgButtons::OkAbort:
        return TMsgAnswer::Abort;
    case TMsgButtons::Ok:
        break;
    }
    return TMsgAnswer::Ok;
}

} // namespace

TScriptedDialogs::TScriptedDialogs() {
    InstallDialogs(this);
}

TScriptedDialogs::~TScriptedDialogs() {
    // After a failed test its successor may already be installed; that one stays.
    TDialogs* const current = InstallDialogs(nullptr);
    if (current != this)
        InstallDialogs(current);
}

void TScriptedDialogs::ExpectMessage(const QString& text, TMsgAnswer answer) {
    Script.append({MessageDialog, text, QVariant::fromValue(answer)});
}

void TScriptedDialogs::ExpectMessageMatching(const QString& pattern, TMsgAnswer answer) {
    Script.append({MessageDialog, pattern, QVariant::fromValue(answer), true});
}

bool TScriptedDialogs::TExpectation::Matches(const TAskedQuestion& question) const {
    if (Dialog != question.Dialog)
        return false;
    if (!IsPattern)
        return Text == question.Text;
    const QRegularExpression expression(QRegularExpression::anchoredPattern(Text),
                                        QRegularExpression::DotMatchesEverythingOption);
    return expression.match(question.Text).hasMatch();
}

void TScriptedDialogs::ExpectFileChoice(const QString& title, const QStringList& files) {
    Script.append({FileDialog, title, files});
}

void TScriptedDialogs::ExpectMasterPassword(TMasterPassMode mode, TMasterPassResult result,
                                            const QString& typed) {
    Script.append({MasterPassDialog, ModeName(mode), QVariantList{int(result), typed}});
}

void TScriptedDialogs::ExpectLogin(const QString& user, const QString& password) {
    Script.append({LoginDialog, QString(), QStringList{user, password}});
}

void TScriptedDialogs::ExpectLoginCancelled() {
    Script.append({LoginDialog, QString(), QStringList{}});
}

void TScriptedDialogs::ExpectAskUser(TAskMode mode, const QString& name, int answer) {
    Script.append({AskDialog(mode), name, answer});
}

QString TScriptedDialogs::Report() const {
    QStringList lines = Unexpected;
    for (const TExpectation& pending : Script)
        lines.append(QStringLiteral("never asked: %1 \"%2\"").arg(pending.Dialog, pending.Text));
    return lines.join(QLatin1Char('\n'));
}

QVariant TScriptedDialogs::Answer(const TAskedQuestion& question) {
    AskedSoFar.append(question);
    if (!Script.isEmpty() && Script.first().Matches(question))
        return Script.takeFirst().Answer;

    const QString expected = Script.isEmpty() ? QStringLiteral("nothing")
                                              : Script.first().Dialog + QStringLiteral(" \"") +
                                                    Script.first().Text + QLatin1Char('"');
    Unexpected.append(QStringLiteral("unexpected: %1 \"%2\" (expected %3)")
                          .arg(question.Dialog, question.Text, expected));
    QTest::qFail(qPrintable(Unexpected.last()), __FILE__, __LINE__);
    return {};
}

TMsgAnswer TScriptedDialogs::ShowMessage(const QString& text, TMsgKind kind, TMsgButtons buttons) {
    const QVariant answer = Answer({MessageDialog, text, kind, buttons, QString()});
    return answer.isValid() ? answer.value<TMsgAnswer>() : CautiousAnswer(buttons);
}

QStringList TScriptedDialogs::ChooseFiles(const QString& title) {
    return Answer({FileDialog, title, TMsgKind::Plain, TMsgButtons::OkCancel, QString()})
        .toStringList();
}

} // namespace quaddle::test

namespace quaddle::test {

TMasterPassResult TScriptedDialogs::AskMasterPassword(TMasterPassMode mode, QString& password) {
    const QVariantList answer =
        Answer({MasterPassDialog, ModeName(mode), TMsgKind::Plain, TMsgButtons::OkCancel, password})
            .toList();
    if (answer.size() != 2)
        return mode == TMasterPassMode::Setzen ? TMasterPassResult::Abort
                                               : TMasterPassResult::Cancel;
    password = answer.at(1).toString();
    return TMasterPassResult(answer.at(0).toInt());
}

bool TScriptedDialogs::AskLogin(QString& user, QString& password) {
    const QStringList answer =
        Answer({LoginDialog, QString(), TMsgKind::Plain, TMsgButtons::OkCancel, user})
            .toStringList();
    if (answer.size() != 2)
        return false;
    user = answer.at(0);
    password = answer.at(1);
    return true;
}

int TScriptedDialogs::AskUser(TAskMode mode, const QString& name) {
    const QVariant answer =
        Answer({AskDialog(mode), name, TMsgKind::Plain, TMsgButtons::OkCancel, QString()});
    return answer.isValid() ? answer.toInt() : 128;
}

} // namespace quaddle::test
