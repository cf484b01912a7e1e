#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <signal.h>

using namespace quaddle;
using namespace quaddle::test;

namespace {

struct CliRun {
    int code = -1;
    QByteArray output;
    QByteArray error;
};

// No display of any kind: a run that made a GUI application would abort at start.
QProcessEnvironment withoutDisplay(QProcessEnvironment environment) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// Standard input is a pipe closed at once, so nothing can be typed.
CliRun runCli(const QStringList& arguments, const QProcessEnvironment& environment) {
    ProgramRun program(QStringList{"--cli"} + arguments, withoutDisplay(environment));
    CliRun run;
    if (!program.waitForExit(60000) || program.exitStatus() != QProcess::NormalExit)
        return run;
    run.code = program.exitCode();
    run.output = program.standardOutput();
    run.error = program.errorOutput();
    return run;
}

QString writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The configuration with its logins locked by a master password, as the window saves it.
void saveLockedConfig(const ServerSetup& server, const QString& masterPassword) {
    Config config;
    config.masterPassword = masterPassword;
    config.masterPasswordActive = true;
    config.setSetting("PH", SettingValue::text(config.hashPassword(masterPassword)));
    config.setSetting("Log", SettingValue::boolean(true));
    config.storeServer(server.host, QString::number(server.port), server.user, server.password,
                       QString(), QString(), QString(), server.type, -1, -1);
    config.saveConfig();
}

} // namespace

class TestCliE2E : public QObject {
    Q_OBJECT

private slots:
    void uploadsAndExitsAsTold();
    void printsAddressesFromVsftpd();
    void sftpHostKeysAndPasswords();
    void interruptEndsBigUpload();
};

void TestCliE2E::uploadsAndExitsAsTold() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.localPath("sub"));
    QDir().mkpath(server.localPath("clash/b c.txt"));
    QDir().mkpath(server.localPath("old"));
    writeFile(server.localPath("old/a.txt"), "old");
    const QTemporaryDir local;
    const QString a = writeFile(local.filePath("a.txt"), "alpha");
    const QString b = writeFile(local.filePath("b c.txt"), "bravo");
    const QString masterFile = writeFile(local.filePath("master"), "m4ster\nnot this\n");
    const QString wrongMaster = writeFile(local.filePath("wrong"), "guess\n");
    const QString photo = local.filePath("photo.jpg");
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(picture.save(photo, "JPEG"));

    enum class Setup {
        Plain,
        WrongPassword,
        NoPassword,
        ClosedPort,
        Damaged,
        Locked,
        TagStyleHtml
    };
    struct Row {
        const char* name;
        Setup setup;
        QStringList arguments;
        int code;
        QByteArray output;
        QByteArray error;
    };
    const Row rows[] = {
        {"none",
         Setup::Plain,
         {":0", a, b},
         0,
         "http://127.0.0.1/a.txt\nhttp://127.0.0.1/b%20c.txt\n",
         ""},
        {"bbcode",
         Setup::Plain,
         {"--tags=bbcode", ":0/0", a},
         0,
         "[URL=http://127.0.0.1/sub/a.txt]a.txt[/URL]\n",
         ""},
        {"bbcode-img",
         Setup::Plain,
         {"--tags", "bbcode-img", ":0/0", a},
         0,
         "[IMG]http://127.0.0.1/sub/a.txt[/IMG]\n",
         ""},
        {"html",
         Setup::Plain,
         {"--tags=html", ":0/0", a},
         0,
         "<a href=\"http://127.0.0.1/sub/a.txt\">a.txt</a>\n",
         ""},
        {"html-img",
         Setup::Plain,
         {"--tags=html-img", ":0/0", a},
         0,
         "<img src=\"http://127.0.0.1/sub/a.txt\" />\n",
         ""},
        {"remembered style",
         Setup::TagStyleHtml,
         {":0/0", a},
         0,
         "<a href=\"http://127.0.0.1/sub/a.txt\">a.txt</a>\n",
         ""},
        {"thumbnails",
         Setup::Plain,
         {"--thumbnails", "--tags=bbcode", ":0/0", photo, a},
         0,
         "[URL=http://127.0.0.1/sub/photo.jpg][IMG]http://127.0.0.1/sub/photo_thumb.jpg[/IMG]"
         "[/URL]\n[URL=http://127.0.0.1/sub/a.txt]a.txt[/URL]\n",
         ""},
        {"no thumbnails unasked",
         Setup::Plain,
         {"--tags=bbcode", ":0/3", photo},
         0,
         "[URL=http://127.0.0.1/old/photo.jpg]photo.jpg[/URL]\n",
         ""},
        {"directory created",
         Setup::Plain,
         {":0/1", a},
         0,
         "http://127.0.0.1/new/deep/a.txt\n",
         "The remote directory \"/new/deep\" does not exist; creating it."},
        {"quiet", Setup::Plain, {"-q", ":0/1", a}, 0, "http://127.0.0.1/new/deep/a.txt\n", ""},
        {"one fails",
         Setup::Plain,
         {":0/2", a, b},
         1,
         "http://127.0.0.1/clash/a.txt\n",
         "Ignore and continue? Yes"},
        {"skip",
         Setup::Plain,
         {"--on-exists=skip", ":0/3", a},
         0,
         "http://127.0.0.1/old/a.txt\n",
         ""},
        {"ask without terminal",
         Setup::Plain,
         {"--on-exists=ask", ":0/3", a},
         0,
         "http://127.0.0.1/old/a.txt\n",
         "\"a.txt\" exists on the server and there is no terminal to ask on; skipped."},
        {"rename",
         Setup::Plain,
         {"--on-exists=rename", ":0/3", a},
         0,
         "http://127.0.0.1/old/a.txt\n",
         "renamed to \"a_001.txt\""},
        {"master password file",
         Setup::Locked,
         {"--master-password-file=" + masterFile, a},
         0,
         "http://127.0.0.1/a.txt\n",
         ""},
        {"unknown option", Setup::Plain, {"--fast", ":0", a}, 2, "", "Unknown option \"--fast\""},
        {"unknown tag style",
         Setup::Plain,
         {"--tags=fancy", ":0", a},
         2,
         "",
         "Unknown tag style \"fancy\""},
        {"no such server", Setup::Plain, {":9", a}, 2, "", "\":9\" names no configured server"},
        {"missing file",
         Setup::Plain,
         {":0", a, local.filePath("gone.txt")},
         2,
         "",
         "gone.txt\" is no file that can be read"},
        {"no files", Setup::Plain, {":0"}, 2, "", "No files to upload."},
        {"damaged configuration", Setup::Damaged, {a}, 2, "", "config.xml"},
        {"wrong password", Setup::WrongPassword, {":0", a}, 3, "", "Login incorrect"},
        {"password not stored",
         Setup::NoPassword,
         {":0", a},
         3,
         "",
         "The server wants a password and there is no terminal to type it on."},
        {"unreachable", Setup::ClosedPort, {":0", a}, 3, "", "Could not connect"},
        {"wrong master password",
         Setup::Locked,
         {"--master-password-file=" + wrongMaster, a},
         3,
         "",
         "is wrong"},
    };
    for (const Row& row : rows) {
        const TempProgramDir programDir;
        ServerSetup setup = setupFor(server);
        setup.folders = {"/sub", "/new/deep", "/clash", "/old"};
        QList<std::pair<QString, SettingValue>> settings = {{"Log", SettingValue::boolean(true)}};
        if (row.setup == Setup::WrongPassword)
            setup.password = "wrong";
        if (row.setup == Setup::NoPassword)
            setup.password.clear();
        if (row.setup == Setup::ClosedPort)
            setup.port = 1;
        if (row.setup == Setup::TagStyleHtml)
            settings.append({"TagStyle", SettingValue::integer(3)});
        if (row.setup == Setup::Locked)
            saveLockedConfig(setup, "m4ster");
        else if (row.setup == Setup::Damaged)
            programDir.writeFile("config.xml", "<qdConfig><Settings>");
        else
            saveServerConfig(setup, settings);

        const CliRun run = runCli(row.arguments, programDir.environment());
        const QByteArray context = QByteArray(row.name) + ": " + run.error;
        QVERIFY2(run.code == row.code, context.constData());
        QCOMPARE(run.output, row.output);
        QVERIFY2(run.error.contains(row.error), context.constData());
        if (row.arguments.contains("-q"))
            QCOMPARE(run.error, QByteArray());
        // Every run that reached the server leaves its log, without the password.
        if (row.code == 0 || row.code == 1 || row.setup == Setup::WrongPassword) {
            const QByteArray log = programDir.readFile("log.txt");
            QVERIFY2(log.contains("--> (Password)\t0\r\n"), context.constData());
            QVERIFY(!log.contains(server.password().toUtf8()));
        }
    }
    QCOMPARE(readFile(server.localPath("b c.txt")), QByteArray("bravo"));
    QCOMPARE(QImage(server.localPath("sub/photo_thumb.jpg")).size(), QSize(267, 200));
    QVERIFY(!QFile::exists(server.localPath("old/photo_thumb.jpg")));
    QCOMPARE(readFile(server.localPath("new/deep/a.txt")), QByteArray("alpha"));
    QVERIFY(QFileInfo(server.localPath("clash/b c.txt")).isDir());
    QCOMPARE(readFile(server.localPath("old/a_001.txt")), QByteArray("old"));
    QCOMPARE(readFile(server.localPath("old/a.txt")), QByteArray("alpha"));
}

void TestCliE2E::printsAddressesFromVsftpd() {
    FtpServer server(FtpServer::Kind::Vsftpd);
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    ServerSetup setup = setupFor(server);
    setup.defaultDir = server.uploadDir();
    saveServerConfig(setup);
    const QTemporaryDir local;
    const QString a = writeFile(local.filePath("a.txt"), "alpha");
    const CliRun run = runCli({"--tags=html-img", a}, programDir.environment());
    QVERIFY2(run.code == 0, run.error.constData());
    QCOMPARE(run.output, QByteArray("<img src=\"http://127.0.0.1/upload/a.txt\" />\n"));
    QCOMPARE(readFile(server.localPath("a.txt")), QByteArray("alpha"));
}

void TestCliE2E::sftpHostKeysAndPasswords() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const QTemporaryDir home;
    const QTemporaryDir local;
    const QString a = writeFile(local.filePath("a.txt"), "alpha");
    const QString keyCache = home.filePath(".putty/sshhostkeys");

    // In order: the key cache starts empty and the accepted key is kept for the later runs.
    struct Row {
        const char* name;
        QStringList arguments;
        bool rightPassword;
        int code;
        QByteArray error;
        bool keyKnownAfter;
        bool keyReplacedBefore;
    };
    const Row rows[] = {
        {"unknown key refused", {a}, true, 3, "run again with --accept-new", false, false},
        {"wrong password", {"--accept-new", a}, false, 3, "Login incorrect", true, false},
        {"accepted key", {a}, true, 0, "", true, false},
        {"changed key refused", {"--accept-new", a}, true, 3, "has changed", true, true},
    };
    for (const Row& row : rows) {
        const TempProgramDir programDir;
        QProcessEnvironment environment = programDir.environment();
        environment.insert("HOME", home.path());
        ServerSetup setup;
        setup.type = "1";
        setup.port = server.port();
        setup.user = server.user();
        setup.password = row.rightPassword ? server.password() : QString("wrong");
        setup.rootDir = server.root();
        saveServerConfig(setup);
        if (row.keyReplacedBefore)
            QVERIFY(server.replaceHostKey());
        const CliRun run = runCli(row.arguments, environment);
        const QByteArray context = QByteArray(row.name) + ": " + run.error;
        QVERIFY2(run.code == row.code, context.constData());
        QVERIFY2(run.error.contains(row.error), context.constData());
        QCOMPARE(QFile::exists(keyCache), row.keyKnownAfter);
        QCOMPARE(run.output.isEmpty(), row.code != 0);
    }
    QCOMPARE(readFile(server.root() + "/a.txt"), QByteArray("alpha"));
}

void TestCliE2E::interruptEndsBigUpload() {
    const QTemporaryDir local;
    const qint64 size = qint64(512) << 20;
    QFile big(local.filePath("big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(size));
    big.close();
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        FtpServer server;
        QUADDLE_REQUIRE_SERVER(server);
        const TempProgramDir programDir;
        saveServerConfig(setupFor(server), {{"Log", SettingValue::boolean(true)}});
        ProgramRun program({"--cli", big.fileName()}, withoutDisplay(programDir.environment()));
        QVERIFY(program.waitUntilCatchingSignals(30000));
        const QString arrived = server.localPath("big.bin");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(arrived).size() > 0, 30000);
        program.sendSignal(signalNumber);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(program.waitForExit(10000));
        qInfo("signal %d: exit %lld ms after it", signalNumber, clock.elapsed());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 130);
        QCOMPARE(program.standardOutput(), QByteArray());
        QVERIFY(QFileInfo(arrived).size() < size);
        QVERIFY(programDir.readFile("log.txt").contains("CANCEL\t1\r\n"));
    }
}

QTEST_GUILESS_MAIN(TestCliE2E)
#include "TestCliE2E.moc"
