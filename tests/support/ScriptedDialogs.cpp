#include "ScriptedDialogs.h"

#include <QRegularExpression>
#include <QTest>

namespace quaddle::test {

namespace {

const QString MessageDialog = QStringLiteral("message");
const QString FileDialog = QStringLiteral("files");
const QString MasterPassDialog = QStringLiteral("master password");
const QString LoginPrompt = QStringLiteral("login");

QString askDialog(AskMode mode) {
    return mode == AskMode::File ? QStringLiteral("file exists")
                                 : QStringLiteral("directory missing");
}

QString modeName(MasterPasswordMode mode) {
    switch (mode) {
    case MasterPasswordMode::Enter:
        return QStringLiteral("enter");
    case MasterPasswordMode::EnterAgain:
        return QStringLiteral("enter again");
    case MasterPasswordMode::Set:
        break;
    }
    return QStringLiteral("set");
}

MessageAnswer cautiousAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        return MessageAnswer::No;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::OkAbort:
        return MessageAnswer::Abort;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

} // namespace

ScriptedDialogs::ScriptedDialogs() {
    installDialogs(this);
}

ScriptedDialogs::~ScriptedDialogs() {
    // After a failed test its successor may already be installed; that one stays.
    Dialogs* const current = installDialogs(nullptr);
    if (current != this)
        installDialogs(current);
}

void ScriptedDialogs::expectMessage(const QString& text, MessageAnswer answer) {
    m_script.append({MessageDialog, text, QVariant::fromValue(answer)});
}

void ScriptedDialogs::expectMessageMatching(const QString& pattern, MessageAnswer answer) {
    m_script.append({MessageDialog, pattern, QVariant::fromValue(answer), true});
}

bool ScriptedDialogs::Expectation::matches(const AskedQuestion& question) const {
    if (dialog != question.dialog)
        return false;
    if (!isPattern)
        return text == question.text;
    const QRegularExpression expression(QRegularExpression::anchoredPattern(text),
                                        QRegularExpression::DotMatchesEverythingOption);
    return expression.match(question.text).hasMatch();
}

void ScriptedDialogs::expectFileChoice(const QString& title, const QStringList& files) {
    m_script.append({FileDialog, title, files});
}

void ScriptedDialogs::expectMasterPassword(MasterPasswordMode mode, MasterPasswordResult result,
                                           const QString& typed) {
    m_script.append({MasterPassDialog, modeName(mode), QVariantList{int(result), typed}});
}

void ScriptedDialogs::expectLogin(const QString& user, const QString& password) {
    m_script.append({LoginPrompt, QString(), QStringList{user, password}});
}

void ScriptedDialogs::expectLoginCancelled() {
    m_script.append({LoginPrompt, QString(), QStringList{}});
}

void ScriptedDialogs::expectAskUser(AskMode mode, const QString& name, int answer) {
    m_script.append({askDialog(mode), name, answer});
}

QString ScriptedDialogs::report() const {
    QStringList lines = m_unexpected;
    for (const Expectation& pending : m_script)
        lines.append(QStringLiteral("never asked: %1 \"%2\"").arg(pending.dialog, pending.text));
    return lines.join(QLatin1Char('\n'));
}

QVariant ScriptedDialogs::scriptedAnswer(const AskedQuestion& question) {
    m_askedSoFar.append(question);
    if (!m_script.isEmpty() && m_script.first().matches(question))
        return m_script.takeFirst().answer;

    const QString expected = m_script.isEmpty() ? QStringLiteral("nothing")
                                                : m_script.first().dialog + QStringLiteral(" \"") +
                                                      m_script.first().text + QLatin1Char('"');
    m_unexpected.append(QStringLiteral("unexpected: %1 \"%2\" (expected %3)")
                            .arg(question.dialog, question.text, expected));
    QTest::qFail(qPrintable(m_unexpected.last()), __FILE__, __LINE__);
    return {};
}

MessageAnswer ScriptedDialogs::showMessage(const QString& text, MessageKind kind,
                                           MessageButtons buttons) {
    const QVariant answer = scriptedAnswer({MessageDialog, text, kind, buttons, QString()});
    return answer.isValid() ? answer.value<MessageAnswer>() : cautiousAnswer(buttons);
}

QStringList ScriptedDialogs::chooseFiles(const QString& title) {
    return scriptedAnswer(
               {FileDialog, title, MessageKind::Plain, MessageButtons::OkCancel, QString()})
        .toStringList();
}

} // namespace quaddle::test

namespace quaddle::test {

MasterPasswordResult ScriptedDialogs::askMasterPassword(MasterPasswordMode mode,
                                                        QString& password) {
    const QVariantList answer =
        scriptedAnswer({MasterPassDialog, modeName(mode), MessageKind::Plain,
                        MessageButtons::OkCancel, password})
            .toList();
    if (answer.size() != 2)
        return mode == MasterPasswordMode::Set ? MasterPasswordResult::Abort
                                               : MasterPasswordResult::Cancel;
    password = answer.at(1).toString();
    return MasterPasswordResult(answer.at(0).toInt());
}

bool ScriptedDialogs::askLogin(QString& user, QString& password) {
    const QStringList answer =
        scriptedAnswer({LoginPrompt, QString(), MessageKind::Plain, MessageButtons::OkCancel, user})
            .toStringList();
    if (answer.size() != 2)
        return false;
    user = answer.at(0);
    password = answer.at(1);
    return true;
}

int ScriptedDialogs::askUser(AskMode mode, const QString& name) {
    const QVariant answer = scriptedAnswer(
        {askDialog(mode), name, MessageKind::Plain, MessageButtons::OkCancel, QString()});
    return answer.isValid() ? answer.toInt() : 128;
}

} // namespace quaddle::test
