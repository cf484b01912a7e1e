#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>
#include <utility>

namespace quaddle {

namespace {

Dialogs* installed = nullptr;

// Runs question on the main thread, where the faces show their windows, and waits for it.
template <typename Question> auto onMainThread(Question question) -> decltype(question()) {
    decltype(question()) answer{};
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { answer = question(); }, Qt::BlockingQueuedConnection);
    return answer;
}

// What other threads get from dialogs(): each question is put to the user by the installed
// implementation on the main thread, while the asking thread waits.
class MainThreadDialogs : public Dialogs {
public:
    MessageAnswer showMessage(const QString& text, MessageKind kind,
                              MessageButtons buttons) override {
        return onMainThread([&] { return installed->showMessage(text, kind, buttons); });
    }
    bool confirmAction(const QString& question, const QString& action) override {
        return onMainThread([&] { return installed->confirmAction(question, action); });
    }
    void notify(MessageKind kind, const QString& text) override {
        onMainThread([&] {
            installed->notify(kind, text);
            return true;
        });
    }
    QStringList chooseFiles(const QString& title) override {
        return onMainThread([&] { return installed->chooseFiles(title); });
    }
    MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) override {
        return onMainThread([&] { return installed->askMasterPassword(mode, password); });
    }
    bool confirmLosingLockedLogins() override {
        return onMainThread([&] { return installed->confirmLosingLockedLogins(); });
    }
    bool confirmUnencryptedPassword(bool locked) override {
        return onMainThread([&] { return installed->confirmUnencryptedPassword(locked); });
    }
    bool askLogin(const LoginTarget& target, LoginAnswer& login) override {
        return onMainThread([&] { return installed->askLogin(target, login); });
    }
    bool retryLogin(const LoginTarget& target, const QString& user) override {
        return onMainThread([&] { return installed->retryLogin(target, user); });
    }
    bool answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) override {
        return onMainThread([&] { return installed->answerSshPrompt(prompt, kind, answer); });
    }
    FileExistsAnswer askFileExists(const QString& name) override {
        return onMainThread([&] { return installed->askFileExists(name); });
    }
    MissingDirAnswer askMissingDir(const QString& dir) override {
        return onMainThread([&] { return installed->askMissingDir(dir); });
    }
    bool trustIdentity(const IdentityQuestion& question) override {
        return onMainThread([&] { return installed->trustIdentity(question); });
    }
    ErrorAnswer continueAfterError(const QString& message) override {
        return onMainThread([&] { return installed->continueAfterError(message); });
    }
    ThumbnailAnswer offerThumbnails(ThumbnailImages images) override {
        return onMainThread([&] { return installed->offerThumbnails(images); });
    }
};

bool onOtherThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() != application->thread();
}

} // namespace

QString serverName(const LoginTarget& target) {
    if (target.server.isEmpty())
        return target.host;
    return QStringLiteral("\"%1\" (%2)").arg(target.server, target.host);
}

QString refusedLogin(const LoginTarget& target, const QString& user) {
    if (user.isEmpty())
        return QStringLiteral("The server %1 refused the login.").arg(serverName(target));
    return QStringLiteral("The server %1 refused the login of the user \"%2\".")
        .arg(serverName(target), user);
}

MessageAnswer closingAnswer(MessageButtons buttons) {
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

MessageAnswer Dialogs::showMessage(const QString& text, MessageKind kind, MessageButtons buttons) {
    notify(kind, text);
    return closingAnswer(buttons);
}

bool Dialogs::confirmAction(const QString& question, const QString& action) {
    (void)action;
    return showMessage(question, MessageKind::Confirmation, MessageButtons::YesNoDefaultNo) ==
           MessageAnswer::Yes;
}

bool Dialogs::answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) {
    (void)prompt;
    (void)kind;
    (void)answer;
    return false;
}

Dialogs& dialogs() {
    Q_ASSERT_X(installed, "Dialogs", "no dialogs implementation installed");
    static MainThreadDialogs forwarder;
    return onOtherThread() ? static_cast<Dialogs&>(forwarder) : *installed;
}

Dialogs* installDialogs(Dialogs* dialogs) {
    return std::exchange(installed, dialogs);
}

} // namespace quaddle
