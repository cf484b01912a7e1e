// ssh's password prompts answered in the session through the program as ssh's askpass helper,
// against a real OpenSSH server.
#include "SshServer.h"
#include "platform/PrivateFile.h"
#include "upload/Askpass.h"
#include "upload/SftpClient.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

using namespace quaddle;
using quaddle::test::SshServer;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The ssh processes this test runs.
QStringList sshProcesses() {
    QStringList found;
    const QString parent = QString::number(::getpid());
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        const QByteArray stat = readFile("/proc/" + pid + "/stat");
        // "PID (NAME) STATE PPID ..."; the name may hold spaces and parentheses.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (stat.contains(" (ssh) ") && fields.size() > 1 && fields[1] == parent.toLatin1())
            found.append("/proc/" + pid);
    }
    return found;
}

// Where the secret can be read: a running ssh's command line or environment, or a file in the
// program's private folder.
QStringList placesHolding(const QByteArray& secret) {
    QStringList places;
    for (const QString& process : sshProcesses())
        for (const char* part : {"/cmdline", "/environ"})
            if (readFile(process + QLatin1String(part)).contains(secret))
                places.append(process + QLatin1String(part));
    QDirIterator files(privateTempDir(), QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        if (readFile(files.next()).contains(secret))
            places.append(files.filePath());
    return places;
}

} // namespace

class TestAskpass : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void login_data();
    void login();
    void answersOnlyTheConnectionProgram_data();
    void answersOnlyTheConnectionProgram();

private:
    QStringList sshCommand() const;

    std::unique_ptr<SshServer> m_server;
    QTemporaryDir m_home;
};

void TestAskpass::initTestCase() {
    m_server = std::make_unique<SshServer>();
    QUADDLE_REQUIRE_SSH(*m_server);
    // ssh looks for its files in the home folder; the account's own must stay untouched.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    // The helper is used without a display too.
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
}

QStringList TestAskpass::sshCommand() const {
    return m_server->sftpCommand({"-o", "PubkeyAuthentication=no", "-o",
                                  "PreferredAuthentications=password,keyboard-interactive"});
}

void TestAskpass::login_data() {
    // The answers given in turn ("RIGHT" is the account's password); then every prompt is
    // declined.
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("right password") << QStringList{"RIGHT"} << true;
    QTest::newRow("wrong password, then declined") << QStringList{"wrong-Pa55"} << false;
    QTest::newRow("declined at once") << QStringList() << false;
}

void TestAskpass::login() {
    QFETCH(QStringList, answers);
    QFETCH(bool, loggedIn);
    answers.replaceInStrings("RIGHT", m_server->password());
    QStringList prompts;
    QStringList leaks;
    SftpClient client;
    AskpassServer askpass(
        [&](const AskpassPrompt& prompt) -> std::optional<QString> {
            for (const QString& given : answers.mid(0, prompts.size()))
                leaks += placesHolding(given.toUtf8());
            prompts.append(prompt.text);
            // ssh itself asks, and wants the answer typed.
            if (!prompt.fromConnectionProgram || !prompt.hint.isEmpty() ||
                prompts.size() > answers.size())
                return std::nullopt;
            return answers[prompts.size() - 1];
        },
        [&] { return client.processId(); });
    QVERIFY2(askpass.listen(), qPrintable(askpass.error()));
    const QProcessEnvironment added = askpass.environment(QUADDLE_CLI_PROGRAM, {});
    for (const QString& name : added.keys())
        qputenv(qPrintable(name), QFile::encodeName(added.value(name)));

    QCOMPARE(client.start(sshCommand()), loggedIn);
    if (loggedIn) {
        QVERIFY(client.realPath(".").has_value());
        // ssh still runs and holds the session.
        QVERIFY(!sshProcesses().isEmpty());
        leaks += placesHolding(answers[0].toUtf8());
        QCOMPARE(prompts.size(), 1);
    } else {
        QVERIFY2(client.error().contains("Permission denied"), qPrintable(client.error()));
        // Every answer was tried and refused before a declined prompt ended the login.
        QVERIFY(prompts.size() > answers.size());
    }
    QVERIFY2(prompts[0].contains("password", Qt::CaseInsensitive), qPrintable(prompts[0]));
    QCOMPARE(leaks, QStringList());
    client.stop();
}

void TestAskpass::answersOnlyTheConnectionProgram_data() {
    // How the helper is started: by the stand-in for ssh ("$HELPER" runs it), or by the test
    // itself, outside the stand-in's processes.
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("byTest");
    QTest::addColumn<QString>("hint");
    // The socket is closed, as once SFTP runs.
    QTest::addColumn<bool>("closed");
    // What the session was asked; empty when it was not.
    QTest::addColumn<QString>("asked");
    const QString byStandIn = R"("$HELPER" "$PROMPT"; true)";
    QTest::newRow("its child") << byStandIn << false << "" << false << "child hint=";
    QTest::newRow("its child, confirming")
        << byStandIn << false << "confirm" << false << "child hint=confirm";
    QTest::newRow("a program it started, as a ProxyJump's ssh")
        << R"(sh -c '"$HELPER" "$PROMPT"; true'; true)" << false << "" << false
        << "descendant hint=";
    QTest::newRow("another program of the user") << "sleep 30" << true << "" << false << "";
    QTest::newRow("its child, once closed") << byStandIn << false << "" << true << "";
}

// The session answers the helpers that ssh and the programs below it start, and nobody else:
// another program of the same user that finds the socket learns nothing and asks nothing.
void TestAskpass::answersOnlyTheConnectionProgram() {
    QFETCH(QString, script);
    QFETCH(bool, byTest);
    QFETCH(QString, hint);
    QFETCH(bool, closed);
    QFETCH(QString, asked);
    const QString secret = "Se-cret 9";
    QProcess standIn;
    QStringList prompts;
    AskpassServer askpass(
        [&](const AskpassPrompt& prompt) -> std::optional<QString> {
            prompts.append(
                QString("%1 hint=%2")
                    .arg(prompt.fromConnectionProgram ? QString("child") : QString("descendant"),
                         prompt.hint));
            return secret;
        },
        [&] { return standIn.processId(); });
    QVERIFY2(askpass.listen(), qPrintable(askpass.error()));
    QProcessEnvironment environment = askpass.environment(QUADDLE_CLI_PROGRAM);
    environment.insert("HELPER", QUADDLE_CLI_PROGRAM);
    environment.insert("PROMPT", "someone@somewhere's password: ");
    if (!hint.isEmpty())
        environment.insert("SSH_ASKPASS_PROMPT", hint);
    if (closed)
        askpass.close();
    standIn.setProcessEnvironment(environment);
    standIn.start("/bin/sh", {"-c", script});
    QVERIFY(standIn.waitForStarted());
    QProcess probe;
    QProcess& helper = byTest ? probe : standIn;
    if (byTest) {
        probe.setProcessEnvironment(environment);
        probe.start(QUADDLE_CLI_PROGRAM, {environment.value("PROMPT")});
    }
    QVERIFY(QTest::qWaitFor([&] { return helper.state() == QProcess::NotRunning; }));
    standIn.kill();
    standIn.waitForFinished();
    const QByteArray printed = helper.readAllStandardOutput();
    QCOMPARE(prompts, asked.isEmpty() ? QStringList() : QStringList{asked});
    QCOMPARE(printed, asked.isEmpty() ? QByteArray() : secret.toUtf8() + '\n');
}

QTEST_GUILESS_MAIN(TestAskpass)
#include "TestAskpass.moc"
