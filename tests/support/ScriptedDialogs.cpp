#include "ScriptedDialogs.h"

#include <QRegularExpression>
#include <QTest>

namespace quaddle::test {

namespace {

const QString MessageDialog = QStringLiteral("message");
const QString ActionQuestion = QStringLiteral("action");
const QString FileDialog = QStringLiteral("files");
const QString MasterPassDialog = QStringLiteral("master password");
const QString LosingLoginsQuestion = QStringLiteral("losing locked logins");
const QString UnencryptedQuestion = QStringLiteral("unencrypted password");
const QString LoginPrompt = QStringLiteral("login");
const QString LoginRetryQuestion = QStringLiteral("login again");
const QString SshSecretPrompt = QStringLiteral("ssh secret");
const QString SshConfirmation = QStringLiteral("ssh confirmation");
const QString FileExistsQuestion = QStringLiteral("file exists");
const QString MissingDirQuestion = QStringLiteral("directory missing");
const QString ErrorQuestion = QStringLiteral("continue after error");
const QString ThumbnailQuestion = QStringLiteral("thumbnails");

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

QString identityDialog(IdentityKind kind, bool changed) {
    return (changed ? QStringLiteral("changed ") : QStringLiteral("new ")) +
           (kind == IdentityKind::HostKey ? QStringLiteral("host key")
                                          : QStringLiteral("certificate"));
}

QString sshDialog(SshPromptKind kind) {
    return kind == SshPromptKind::Secret ? SshSecretPrompt : SshConfirmation;
}

QString lockedName(bool locked) {
    return locked ? QStringLiteral("locked") : QStringLiteral("no master password");
}

QString imagesName(ThumbnailImages images) {
    return images == ThumbnailImages::Jpeg ? QStringLiteral("JPEG images")
                                           : QStringLiteral("images");
}

AskedQuestion question(const QString& dialog, const QString& text,
                       MessageKind kind = MessageKind::Plain,
                       MessageButtons buttons = MessageButtons::OkCancel,
                       const QString& given = QString()) {
    AskedQuestion asked;
    asked.dialog = dialog;
    asked.text = text;
    asked.kind = kind;
    asked.buttons = buttons;
    asked.given = given;
    return asked;
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

void ScriptedDialogs::expectActionConfirmation(const QString& question, bool confirmed) {
    m_script.append({ActionQuestion, question, confirmed});
}

void ScriptedDialogs::expectFileChoice(const QString& title, const QStringList& files) {
    m_script.append({FileDialog, title, files});
}

void ScriptedDialogs::expectMasterPassword(MasterPasswordMode mode, MasterPasswordResult result,
                                           const QString& typed) {
    m_script.append({MasterPassDialog, modeName(mode), QVariantList{int(result), typed}});
}

void ScriptedDialogs::expectLosingLockedLogins(bool confirmed) {
    m_script.append({LosingLoginsQuestion, QString(), confirmed});
}

void ScriptedDialogs::expectUnencryptedPassword(bool locked, bool confirmed) {
    m_script.append({UnencryptedQuestion, lockedName(locked), confirmed});
}

void ScriptedDialogs::expectLogin(const QString& user, const QString& password, bool remember) {
    m_script.append({LoginPrompt, QString(), QVariantList{user, password, remember}});
}

void ScriptedDialogs::expectLoginCancelled() {
    m_script.append({LoginPrompt, QString(), QVariantList{}});
}

void ScriptedDialogs::expectLoginRetry(bool retry) {
    m_script.append({LoginRetryQuestion, QString(), retry});
}

void ScriptedDialogs::expectSshPrompt(SshPromptKind kind, const QString& promptPattern,
                                      const std::optional<QString>& answer) {
    m_script.append(
        {sshDialog(kind), promptPattern, answer ? QVariant(*answer) : QVariant(), true});
}

void ScriptedDialogs::expectFileExists(const QString& name, FileExistsAnswer answer) {
    m_script.append({FileExistsQuestion, name, QVariantList{int(answer.choice), answer.remember}});
}

void ScriptedDialogs::expectMissingDir(const QString& dir, MissingDirAnswer answer) {
    m_script.append({MissingDirQuestion, dir, int(answer)});
}

void ScriptedDialogs::expectIdentity(IdentityKind kind, bool changed, bool trusted,
                                     const QString& fingerprintPattern) {
    m_script.append({identityDialog(kind, changed), fingerprintPattern, trusted, true});
}

void ScriptedDialogs::expectErrorQuestion(const QString& message, bool goOn) {
    m_script.append({ErrorQuestion, message, goOn});
}

void ScriptedDialogs::expectErrorQuestionMatching(const QString& pattern, bool goOn) {
    m_script.append({ErrorQuestion, pattern, goOn, true});
}

void ScriptedDialogs::expectFileError(const QString& name, const QString& reply, bool goOn) {
    expectErrorQuestionMatching(
        QRegularExpression::escape("\"" + name + "\"") +
            " could not be uploaded to the folder \".*\" on .*, port .*:\n" +
            QRegularExpression::escape(reply) + "(\n.*)?",
        goOn);
}

void ScriptedDialogs::expectErrorQuestionEditingServer(const QString& pattern) {
    m_script.append({ErrorQuestion, pattern, QVariant::fromValue(ErrorAnswer::EditServer), true});
}

void ScriptedDialogs::expectThumbnailOffer(ThumbnailImages images, bool accepted, bool neverAsk) {
    m_script.append({ThumbnailQuestion, imagesName(images), QVariantList{accepted, neverAsk}});
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

bool ScriptedDialogs::scriptedYes(const QString& dialog, const QString& text) {
    return scriptedAnswer(question(dialog, text)).toBool();
}

MessageAnswer ScriptedDialogs::showMessage(const QString& text, MessageKind kind,
                                           MessageButtons buttons) {
    const QVariant answer = scriptedAnswer(question(MessageDialog, text, kind, buttons));
    return answer.isValid() ? answer.value<MessageAnswer>() : closingAnswer(buttons);
}

bool ScriptedDialogs::confirmAction(const QString& text, const QString& action) {
    return scriptedAnswer(question(ActionQuestion, text, MessageKind::Confirmation,
                                   MessageButtons::YesNoDefaultNo, action))
        .toBool();
}

void ScriptedDialogs::notify(MessageKind kind, const QString& text) {
    scriptedAnswer(question(MessageDialog, text, kind, MessageButtons::Ok));
}

QStringList ScriptedDialogs::chooseFiles(const QString& title) {
    return scriptedAnswer(question(FileDialog, title)).toStringList();
}

MasterPasswordResult ScriptedDialogs::askMasterPassword(MasterPasswordMode mode,
                                                        QString& password) {
    const QVariantList answer =
        scriptedAnswer(question(MasterPassDialog, modeName(mode), MessageKind::Plain,
                                MessageButtons::OkCancel, password))
            .toList();
    if (answer.size() != 2)
        return mode == MasterPasswordMode::Set ? MasterPasswordResult::Abort
                                               : MasterPasswordResult::Cancel;
    password = answer.at(1).toString();
    return MasterPasswordResult(answer.at(0).toInt());
}

bool ScriptedDialogs::confirmLosingLockedLogins() {
    return scriptedYes(LosingLoginsQuestion);
}

bool ScriptedDialogs::confirmUnencryptedPassword(bool locked) {
    return scriptedYes(UnencryptedQuestion, lockedName(locked));
}

bool ScriptedDialogs::askLogin(const LoginTarget& target, LoginAnswer& login) {
    AskedQuestion asked =
        question(LoginPrompt, QString(), MessageKind::Plain, MessageButtons::OkCancel, login.user);
    asked.login = target;
    const QVariantList answer = scriptedAnswer(asked).toList();
    if (answer.size() != 3)
        return false;
    login = {answer.at(0).toString(), answer.at(1).toString(), answer.at(2).toBool()};
    return true;
}

bool ScriptedDialogs::retryLogin(const LoginTarget& target, const QString& user) {
    AskedQuestion asked = question(LoginRetryQuestion, QString());
    asked.login = target;
    asked.given = user;
    return scriptedAnswer(asked).toBool();
}

bool ScriptedDialogs::answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) {
    const QVariant scripted = scriptedAnswer(question(sshDialog(kind), prompt));
    answer = scripted.toString();
    return scripted.isValid();
}

FileExistsAnswer ScriptedDialogs::askFileExists(const QString& name) {
    const QVariantList answer = scriptedAnswer(question(FileExistsQuestion, name)).toList();
    if (answer.size() != 2)
        return {};
    return {FileExistsChoice(answer.at(0).toInt()), answer.at(1).toBool()};
}

MissingDirAnswer ScriptedDialogs::askMissingDir(const QString& dir) {
    const QVariant answer = scriptedAnswer(question(MissingDirQuestion, dir));
    return answer.isValid() ? MissingDirAnswer(answer.toInt()) : MissingDirAnswer::Cancel;
}

bool ScriptedDialogs::trustIdentity(const IdentityQuestion& identity) {
    AskedQuestion asked =
        question(identityDialog(identity.kind, identity.changed), identity.fingerprint);
    asked.identity = identity;
    return scriptedAnswer(asked).toBool();
}

ErrorAnswer ScriptedDialogs::continueAfterError(const QString& message) {
    const QVariant answer = scriptedAnswer(question(ErrorQuestion, message));
    if (answer.typeId() == QMetaType::Bool)
        return answer.toBool() ? ErrorAnswer::Continue : ErrorAnswer::Stop;
    return answer.isValid() ? answer.value<ErrorAnswer>() : ErrorAnswer::Stop;
}

ThumbnailAnswer ScriptedDialogs::offerThumbnails(ThumbnailImages images) {
    const QVariantList answer =
        scriptedAnswer(question(ThumbnailQuestion, imagesName(images))).toList();
    if (answer.size() != 2)
        return {};
    return {answer.at(0).toBool(), answer.at(1).toBool()};
}

} // namespace quaddle::test
