#include "gui/QtDialogs.h"

#include "platform/AppInfo.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace quaddle {

namespace {

QMessageBox::Icon iconOf(MessageKind kind) {
    switch (kind) {
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Information:
        return QMessageBox::Information;
    case MessageKind::Question:
        return QMessageBox::Question;
    case MessageKind::Confirmation:
        return QMessageBox::Warning;
    case MessageKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons buttonsOf(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::OkAbort:
        return QMessageBox::Ok | QMessageBox::Abort;
    case MessageButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

MessageAnswer answerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Abort:
        return MessageAnswer::Abort;
    default:
        return MessageAnswer::Ok;
    }
}

// Closing the box with Escape or its close button picks the cautious answer.
QMessageBox::StandardButton escapeOf(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        return QMessageBox::No;
    case MessageButtons::OkCancel:
        return QMessageBox::Cancel;
    case MessageButtons::OkAbort:
        return QMessageBox::Abort;
    case MessageButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

// Where the warnings about unencrypted passwords send the user.
const QString MasterPasswordPlace =
    QStringLiteral("A master password is set in File > Options..., under \"Security\": \"Set "
                   "Master Password\".");

QString hostKeyQuestion(const IdentityQuestion& question) {
    if (!question.changed)
        return AppName + QStringLiteral(" does not recognize the server's host key.") +
               QStringLiteral(" If this is the first time you are connecting to this server,") +
               QStringLiteral(" you should click OK to save the key.") +
               QStringLiteral(" If you think you server might be compromised, click Cancel to "
                              "abort the upload.") +
               LineBreak +
               QStringLiteral("The server's %1 key fingerprint is:").arg(question.keyType) +
               LineBreak + question.fingerprint;
    return QStringLiteral("WARNING: the server's host key has changed since the last "
                          "connection.") +
           LineBreak +
           QStringLiteral("Someone may be intercepting the connection to read your password and "
                          "files, or the server was reinstalled or given a new key.") +
           LineBreak +
           QStringLiteral("The server's new %1 key fingerprint is:").arg(question.keyType) +
           LineBreak + question.fingerprint + LineBreak +
           QStringLiteral("Click Yes only if you know that the key was changed: the new key is "
                          "then remembered. No ends the upload.");
}

QString certificateQuestion(const IdentityQuestion& question) {
    if (!question.changed)
        return QStringLiteral("The server's certificate could not be verified.") + LineBreak +
               question.details + LineBreak +
               QStringLiteral("Trust this certificate for this server? Yes connects and "
                              "remembers it; No ends the upload.");
    return (question.systemTrustedBefore
                ? QStringLiteral("WARNING: the server's certificate has changed: the system "
                                 "trusted the one it showed before, but not this one.")
                : QStringLiteral("WARNING: the server's certificate has changed since you "
                                 "trusted it.")) +
           LineBreak +
           QStringLiteral("Someone may be intercepting the connection to read your password "
                          "and files, or the server got a new certificate.") +
           LineBreak + question.details + LineBreak +
           QStringLiteral("Trust the new certificate for this server? Click Yes only if you "
                          "know that it was changed; No ends the upload.");
}

} // namespace

QWidget* askingWindow() {
    for (QWidget* candidate : {QApplication::activeModalWidget(), QApplication::activeWindow()})
        if (candidate && candidate->isVisible())
            return candidate;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (window->isVisible() && (type == Qt::Window || type == Qt::Dialog))
            return window;
    }
    return nullptr;
}

MessageAnswer QtDialogs::showMessage(const QString& text, MessageKind kind,
                                     MessageButtons buttons) {
    QMessageBox box(iconOf(kind), QApplication::applicationDisplayName(), text, buttonsOf(buttons),
                    askingWindow());
    // Texts carry file, server and host names and server replies, which must show as typed.
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(escapeOf(buttons));
    if (buttons == MessageButtons::YesNoDefaultNo)
        box.setDefaultButton(QMessageBox::No);
    return answerOf(box.exec());
}

bool QtDialogs::confirmAction(const QString& question, const QString& action) {
    QMessageBox box(iconOf(MessageKind::Confirmation), QApplication::applicationDisplayName(),
                    question, QMessageBox::Cancel, askingWindow());
    box.setTextFormat(Qt::PlainText);
    const QAbstractButton* act = box.addButton(action, QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == act;
}

void QtDialogs::notify(MessageKind kind, const QString& text) {
    showMessage(text, kind, MessageButtons::Ok);
}

QStringList QtDialogs::chooseFiles(const QString& title) {
    return QFileDialog::getOpenFileNames(askingWindow(), title);
}

bool QtDialogs::confirmLosingLockedLogins() {
    return showMessage(QStringLiteral("You did not enter your old master password yet. If you "
                                      "change your master password now, you will lose all login "
                                      "information saved with the old master password. Are you "
                                      "sure you want to change your master password?"),
                       MessageKind::Confirmation, MessageButtons::YesNo) == MessageAnswer::Yes;
}

bool QtDialogs::confirmUnencryptedPassword(bool locked) {
    const QString reason =
        locked
            ? QStringLiteral("You have disabled encryption by not entering your master password.")
            : QStringLiteral("You have not set a master password yet.");
    return showMessage(reason +
                           QStringLiteral(" Passwords will not be encrypted and can easily be "
                                          "obtained by anyone with access to your computer. "
                                          "Do you still want to save this password?") +
                           LineBreak + MasterPasswordPlace,
                       MessageKind::Confirmation, MessageButtons::YesNo) == MessageAnswer::Yes;
}

bool QtDialogs::retryLogin(const LoginTarget& target, const QString& user) {
    return showMessage(QStringLiteral("Login incorrect. Please try again.") + LineBreak +
                           refusedLogin(target, user),
                       MessageKind::Error, MessageButtons::OkAbort) == MessageAnswer::Ok;
}

bool QtDialogs::trustIdentity(const IdentityQuestion& question) {
    if (question.kind == IdentityKind::HostKey && !question.changed)
        return showMessage(hostKeyQuestion(question), MessageKind::Confirmation,
                           MessageButtons::OkCancel) == MessageAnswer::Ok;
    const QString text = question.kind == IdentityKind::HostKey ? hostKeyQuestion(question)
                                                                : certificateQuestion(question);
    return showMessage(text, question.changed ? MessageKind::Error : MessageKind::Confirmation,
                       MessageButtons::YesNoDefaultNo) == MessageAnswer::Yes;
}

bool QtDialogs::answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) {
    if (kind == SshPromptKind::Confirmation)
        return showMessage(prompt, MessageKind::Question, MessageButtons::YesNo) ==
               MessageAnswer::Yes;
    bool given = false;
    answer = QInputDialog::getText(askingWindow(), AppName, prompt, QLineEdit::Password, QString(),
                                   &given);
    return given;
}

ErrorAnswer QtDialogs::continueAfterError(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                    QStringLiteral("An error occurred: ") + LineBreak + message + LineBreak +
                        QStringLiteral("Ignore and continue?"),
                    QMessageBox::Yes | QMessageBox::No, askingWindow());
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(QMessageBox::No);
    // The way to mend what most such errors come from: the server's folder or login settings.
    QPushButton* const editServer =
        box.addButton(QStringLiteral("&Edit Server\u2026"), QMessageBox::ActionRole);
    editServer->setObjectName(QStringLiteral("editServerButton"));
    box.exec();
    if (box.clickedButton() == editServer)
        return ErrorAnswer::EditServer;
    return box.clickedButton() == box.button(QMessageBox::Yes) ? ErrorAnswer::Continue
                                                               : ErrorAnswer::Stop;
}

ThumbnailAnswer QtDialogs::offerThumbnails(ThumbnailImages images) {
    const QString shown =
        images == ThumbnailImages::Jpeg ? QStringLiteral("JPEG images") : QStringLiteral("images");
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                    QStringLiteral("Looks like you are uploading some %1. Do you want to create "
                                   "thumbnails for them?")
                        .arg(shown),
                    QMessageBox::Yes | QMessageBox::No, askingWindow());
    box.setEscapeButton(QMessageBox::No);
    auto* neverAsk = new QCheckBox(QStringLiteral("&Don't ask again"), &box);
    neverAsk->setObjectName(QStringLiteral("neverAskBox"));
    neverAsk->setToolTip(QStringLiteral("Keep this answer for every upload; the setting \"Make "
                                        "thumbnails of images\" in the options changes it."));
    box.setCheckBox(neverAsk);
    const bool make = box.exec() == QMessageBox::Yes;
    return {make, neverAsk->isChecked()};
}

} // namespace quaddle
