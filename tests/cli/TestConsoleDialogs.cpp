#include "cli/ConsoleDialogs.h"
#include "cli/Terminal.h"

#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace quaddle;

namespace {

// What the console answers to one question, in words.
QString answer(ConsoleDialogs& dialogs, const QString& question) {
    const auto yesNo = [](bool yes) { return yes ? QStringLiteral("yes") : QStringLiteral("no"); };
    const auto trust = [&](IdentityKind kind, bool changed) {
        return yesNo(dialogs.trustIdentity({kind, changed, false, "ssh-ed25519", "SHA256:k", ""}));
    };
    const LoginTarget target{"Local FTP", "127.0.0.1", true};
    LoginAnswer login{"user", QString(), false};
    QString password;
    const QHash<QString, std::function<QString()>> questions{
        {"new host key", [&] { return trust(IdentityKind::HostKey, false); }},
        {"changed host key", [&] { return trust(IdentityKind::HostKey, true); }},
        {"new certificate", [&] { return trust(IdentityKind::Certificate, false); }},
        {"changed certificate", [&] { return trust(IdentityKind::Certificate, true); }},
        {"error",
         [&] { return yesNo(dialogs.continueAfterError("550 denied") == ErrorAnswer::Continue); }},
        {"login refused", [&] { return yesNo(dialogs.retryLogin(target, "alice")); }},
        {"login", [&] { return yesNo(dialogs.askLogin(target, login)); }},
        {"ssh prompt",
         [&] {
             return yesNo(dialogs.answerSshPrompt(
                 "Enter PIN for ED25519-SK key /k: ", SshPromptKind::Secret, password));
         }},
        {"ssh confirmation",
         [&] {
             return yesNo(dialogs.answerSshPrompt("Allow use of key /k?",
                                                  SshPromptKind::Confirmation, password));
         }},
        {"file exists",
         [&] {
             const FileExistsAnswer exists = dialogs.askFileExists("a.jpg");
             return yesNo(exists == FileExistsAnswer{FileExistsChoice::Skip, false}) + " skip";
         }},
        {"missing directory",
         [&] { return yesNo(dialogs.askMissingDir("gallery") == MissingDirAnswer::Create); }},
        {"thumbnails",
         [&] {
             const ThumbnailAnswer offered = dialogs.offerThumbnails(ThumbnailImages::Jpeg);
             // The console never keeps an answer for later runs.
             return yesNo(offered.make) + (offered.neverAsk ? QString(" kept") : QString());
         }},
        {"master password",
         [&] {
             const MasterPasswordResult result =
                 dialogs.askMasterPassword(MasterPasswordMode::Enter, password);
             return yesNo(result == MasterPasswordResult::Ok) + " " + password;
         }},
        {"new master password",
         [&] {
             return yesNo(dialogs.askMasterPassword(MasterPasswordMode::Set, password) ==
                          MasterPasswordResult::Abort) +
                    " abort";
         }},
        {"locked logins lost", [&] { return yesNo(dialogs.confirmLosingLockedLogins()); }},
        {"unencrypted password", [&] { return yesNo(dialogs.confirmUnencryptedPassword(false)); }},
    };
    return questions.value(question)();
}

// What act writes to standard error.
QByteArray standardErrorOf(const std::function<void()>& act) {
    QTemporaryFile file;
    if (!file.open())
        qFatal("no temporary file");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    act();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

// The rules the run without windows answers each question by, with no terminal to ask on.
class TestConsoleDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void answersByKindOfQuestion_data();
    void answersByKindOfQuestion();
};

void TestConsoleDialogs::initTestCase() {
    // Run from a terminal or not, nothing is typed.
    QVERIFY(std::freopen("/dev/null", "r", stdin));
}

void TestConsoleDialogs::answersByKindOfQuestion_data() {
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("acceptNew");
    QTest::addColumn<bool>("thumbnails");
    QTest::addColumn<bool>("passwordFile");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("identityRefused");
    for (const bool acceptNew : {false, true}) {
        const char* const option = acceptNew ? "--accept-new" : "no option";
        const QString trusted = acceptNew ? QString("yes") : QString("no");
        QTest::addRow("new host key, %s", option)
            << "new host key" << acceptNew << false << false << trusted << !acceptNew;
        QTest::addRow("new certificate, %s", option)
            << "new certificate" << acceptNew << false << false << trusted << !acceptNew;
        QTest::addRow("changed host key, %s", option)
            << "changed host key" << acceptNew << false << false << "no" << true;
        QTest::addRow("changed certificate, %s", option)
            << "changed certificate" << acceptNew << false << false << "no" << true;
        QTest::addRow("thumbnails, %s", acceptNew ? "--thumbnails" : "no option")
            << "thumbnails" << false << acceptNew << false << trusted << false;
    }
    const auto row = [](const char* question, const char* answer) {
        QTest::newRow(question) << question << false << false << false << answer << false;
    };
    row("error", "yes");
    row("login refused", "no");
    row("login", "no");
    row("ssh prompt", "no");
    row("ssh confirmation", "no");
    row("file exists", "yes skip");
    row("missing directory", "yes");
    row("master password", "no ");
    row("new master password", "yes abort");
    row("locked logins lost", "no");
    row("unencrypted password", "no");
    QTest::newRow("master password from a file")
        << "master password" << false << false << true << "yes s3cret" << false;
}

void TestConsoleDialogs::answersByKindOfQuestion() {
    QFETCH(QString, question);
    QFETCH(bool, acceptNew);
    QFETCH(bool, thumbnails);
    QFETCH(bool, passwordFile);
    QFETCH(QString, answer);
    QFETCH(bool, identityRefused);
    QTemporaryFile file;
    QVERIFY(file.open() && file.write("s3cret\n") == 7 && file.flush());
    Terminal terminal("quaddle", true);
    QVERIFY(!terminal.interactive());
    ConsoleDialogs dialogs(terminal,
                           {acceptNew, thumbnails, passwordFile ? file.fileName() : QString()});
    QString said;
    const QByteArray written = standardErrorOf([&] { said = ::answer(dialogs, question); });
    QCOMPARE(said, answer);
    QCOMPARE(dialogs.identityRefused(), identityRefused);
    // The login questions name the server, its host and the user, as the window's do.
    if (question == "login refused") {
        QVERIFY(written.contains("Login incorrect. Please try again.\n"));
        QVERIFY(written.contains(
            "The server \"Local FTP\" (127.0.0.1) refused the login of the user \"alice\".\n"));
    }
    if (question == "login")
        QVERIFY(written.contains("The server wants a password and there is no terminal to type "
                                 "it on.\n") &&
                written.contains("Login to \"Local FTP\" (127.0.0.1) as \"user\".\n"));
}

QTEST_GUILESS_MAIN(TestConsoleDialogs)
#include "TestConsoleDialogs.moc"
