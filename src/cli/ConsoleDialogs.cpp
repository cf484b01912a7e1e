#include "cli/ConsoleDialogs.h"

#include "cli/Terminal.h"

#include <QFile>

namespace quaddle {

namespace {

constexpr int MaxTries = 3;

QString identityName(IdentityKind kind) {
    return kind == IdentityKind::HostKey ? QStringLiteral("host key")
                                         : QStringLiteral("certificate");
}

} // namespace

ConsoleDialogs::ConsoleDialogs(Terminal& terminal, Choices choices)
    : m_terminal(terminal), m_choices(std::move(choices)) {}

void ConsoleDialogs::notify(MessageKind kind, const QString& text) {
    if (kind == MessageKind::Error)
        m_terminal.error(text);
    else
        m_terminal.notice(text);
}

QStringList ConsoleDialogs::chooseFiles(const QString& title) {
    (void)title;
    return {};
}

MasterPasswordResult ConsoleDialogs::askMasterPassword(MasterPasswordMode mode, QString& password) {
    if (mode == MasterPasswordMode::Set)
        return MasterPasswordResult::Abort;
    const bool wrong = mode == MasterPasswordMode::EnterAgain;
    if (!m_choices.masterPasswordFile.isEmpty()) {
        if (wrong) {
            m_terminal.error(QStringLiteral("The master password in \"%1\" is wrong.")
                                 .arg(m_choices.masterPasswordFile));
            return MasterPasswordResult::Cancel;
        }
        QFile file(m_choices.masterPasswordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            m_terminal.error(QStringLiteral("The master password file \"%1\" cannot be read: %2")
                                 .arg(m_choices.masterPasswordFile, file.errorString()));
            return MasterPasswordResult::Cancel;
        }
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        password = QString::fromLocal8Bit(line);
        return MasterPasswordResult::Ok;
    }
    if (wrong)
        m_terminal.error(QStringLiteral("The master password is wrong."));
    if (!m_terminal.interactive()) {
        m_terminal.error(QStringLiteral("The stored logins are locked by a master password and "
                                        "there is no terminal to type it on; give it with "
                                        "--master-password-file=FILE."));
        return MasterPasswordResult::Cancel;
    }
    if (++m_masterPasswordTries > MaxTries)
        return MasterPasswordResult::Cancel;
    const std::optional<QString> typed = m_terminal.ask(QStringLiteral("Master password: "), false);
    if (!typed)
        return MasterPasswordResult::Cancel;
    password = *typed;
    return MasterPasswordResult::Ok;
}

bool ConsoleDialogs::askLogin(const LoginTarget& target, LoginAnswer& login) {
    const QString whose =
        login.user.isEmpty()
            ? QStringLiteral("Login to %1.").arg(serverName(target))
            : QStringLiteral("Login to %1 as \"%2\".").arg(serverName(target), login.user);
    if (!m_terminal.interactive()) {
        m_terminal.error(QStringLiteral("The server wants a password and there is no terminal "
                                        "to type it on.") +
                         LineBreak + whose);
        return false;
    }
    m_terminal.notice(whose);
    if (login.user.isEmpty()) {
        const std::optional<QString> name = m_terminal.ask(QStringLiteral("User name: "), true);
        if (!name)
            return false;
        login.user = *name;
    }
    const std::optional<QString> typed =
        m_terminal.ask(QStringLiteral("Password for %1: ").arg(login.user), false);
    if (!typed)
        return false;
    login.password = *typed;
    return true;
}

bool ConsoleDialogs::answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer) {
    if (!m_terminal.interactive()) {
        m_terminal.error(
            QStringLiteral("ssh asks \"%1\" and there is no terminal to answer on.").arg(prompt));
        return false;
    }
    const bool confirming = kind == SshPromptKind::Confirmation;
    const std::optional<QString> typed = m_terminal.ask(
        prompt + (confirming ? QStringLiteral(" [y/n] ") : QStringLiteral(" ")), confirming);
    if (!typed)
        return false;
    if (confirming)
        return typed->trimmed().startsWith(QLatin1Char('y'), Qt::CaseInsensitive);
    answer = *typed;
    return true;
}

bool ConsoleDialogs::retryLogin(const LoginTarget& target, const QString& user) {
    // A server whose identity was refused did not refuse the login: the refusal said why
    // already.
    if (m_identityRefused)
        return false;
    m_terminal.error(QStringLiteral("Login incorrect. Please try again.") + LineBreak +
                     refusedLogin(target, user));
    return m_terminal.interactive() && !m_terminal.interrupted() && ++m_loginRetries < MaxTries;
}

MissingDirAnswer ConsoleDialogs::askMissingDir(const QString& dir) {
    m_terminal.notice(
        QStringLiteral("The remote directory \"%1\" does not exist; creating it.").arg(dir));
    return MissingDirAnswer::Create;
}

FileExistsAnswer ConsoleDialogs::askFileExists(const QString& name) {
    if (!m_terminal.interactive()) {
        m_terminal.notice(QStringLiteral("\"%1\" exists on the server and there is no terminal to "
                                         "ask on; skipped.")
                              .arg(name));
        return {FileExistsChoice::Skip, false};
    }
    for (;;) {
        const std::optional<QString> typed = m_terminal.ask(
            QStringLiteral("\"%1\" exists on the server. Overwrite, rename the old one, or skip? "
                           "[o/r/s; O/R/S for all files] ")
                .arg(name),
            true);
        if (!typed)
            return {FileExistsChoice::Skip, false};
        const QString choice = typed->trimmed();
        const bool remember = choice == choice.toUpper();
        if (choice.compare(QLatin1String("o"), Qt::CaseInsensitive) == 0)
            return {FileExistsChoice::Overwrite, remember};
        if (choice.compare(QLatin1String("r"), Qt::CaseInsensitive) == 0)
            return {FileExistsChoice::Rename, remember};
        if (choice.compare(QLatin1String("s"), Qt::CaseInsensitive) == 0)
            return {FileExistsChoice::Skip, remember};
    }
}

bool ConsoleDialogs::trustIdentity(const IdentityQuestion& question) {
    const QString what = identityName(question.kind);
    if (question.changed) {
        m_identityRefused = true;
        m_terminal.error(
            QStringLiteral("The server's %1 has changed since the last connection; a changed %1 "
                           "is accepted only from the window, never with --accept-new.")
                .arg(what));
        return false;
    }
    if (m_choices.acceptNew) {
        m_terminal.notice(
            QStringLiteral("The server's new %1 is accepted and remembered (--accept-new).")
                .arg(what));
        return true;
    }
    m_identityRefused = true;
    m_terminal.error(QStringLiteral("The server's %1 is not known yet, so the connection was not "
                                    "made. Accept it once from the window, or run again with "
                                    "--accept-new.")
                         .arg(what));
    return false;
}

ErrorAnswer ConsoleDialogs::continueAfterError(const QString& message) {
    // The exit status tells of the failure.
    m_terminal.error(QStringLiteral("An error occurred: ") + LineBreak + message + LineBreak +
                     QStringLiteral("Ignore and continue? Yes"));
    return ErrorAnswer::Continue;
}

} // namespace quaddle
