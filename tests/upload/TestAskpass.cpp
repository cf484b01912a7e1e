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
    AskpassServer askpass([&](const QString& prompt) -> std::optional<QString> {
        for (const QString& given : answers.mid(0, prompts.size()))
            leaks += placesHolding(given.toUtf8());
        prompts.append(prompt);
        if (prompts.size() > answers.size())
            return std::nullopt;
        return answers[prompts.size() - 1];
    });
    QVERIFY2(askpass.listen(), qPrintable(askpass.error()));
    const QProcessEnvironment added = askpass.environment(QUADDLE_CLI_PROGRAM, {});
    for (const QString& name : added.keys())
        qputenv(qPrintable(name), QFile::encodeName(added.value(name)));

    SftpClient client;
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

QTEST_GUILESS_MAIN(TestAskpass)
#include "TestAskpass.moc"
