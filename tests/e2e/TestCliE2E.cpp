#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
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

// No display of any kind: a run that made a GUI application would abort at start. No runtime
// directory either, as under cron.
QProcessEnvironment withoutDisplay(QProcessEnvironment environment) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

CliRun finished(ProgramRun& program) {
    CliRun run;
    if (!program.waitForExit(60000) || program.exitStatus() != QProcess::NormalExit)
        return run;
    run.code = program.exitCode();
    run.output = program.standardOutput();
    run.error = program.errorOutput();
    return run;
}

// Standard input is a pipe closed at once, so nothing can be typed.
CliRun runCli(const QStringList& arguments, const QProcessEnvironment& environment) {
    ProgramRun program(QStringList{"--cli"} + arguments, withoutDisplay(environment));
    return finished(program);
}

// Whether text holds no control character (C0, DEL, C1) but those allowed: nothing in it can
// steer a terminal or start a line of its own.
bool printable(const QByteArray& text, const QString& allowed) {
    const QString decoded = QString::fromUtf8(text);
    return std::none_of(decoded.begin(), decoded.end(), [&](QChar c) {
        const bool control = c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
        return control && !allowed.contains(c);
    });
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

// How a row's server and configuration differ from a plain pyftpdlib login.
enum class Setup {
    Plain,
    Vsftpd,
    Dropping, // the server drops the connection at the second file
    Escapes,  // the server refuses files with a reply full of terminal escape sequences
    Ipv6,     // the server listens on ::1 only
    WrongPassword,
    NoPassword,
    ClosedPort,
    Damaged,
    Locked,
    Html
};

class TestCliE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadsAndExitsAsTold_data();
    void uploadsAndExitsAsTold();
    void sftpHostKeysAndPasswords();
    void ftpsCertificates();
    void interruptEndsBigUpload();
    void standaloneProgramAnswersAlike_data();
    void standaloneProgramAnswersAlike();
    void standaloneProgramLinksNoWidgets();
    void errorsSayWhatToCheck_data();
    void errorsSayWhatToCheck();
    void helpNamesTheProgramStarted_data();
    void helpNamesTheProgramStarted();
    void listsServersAndFolders_data();
    void listsServersAndFolders();
    void bashCompletesSelectors_data();
    void bashCompletesSelectors();

private:
    // A folder holding the programs under the names given, as links to the ones built.
    QString programsNamed(const QStringList& names);

    QTemporaryDir m_local;
    QString m_a;
    QString m_b;
    QString m_photo;
    QString m_takenThumbName;
    QString m_lineBreakName;
};

void TestCliE2E::initTestCase() {
    m_a = writeFile(m_local.filePath("a.txt"), "alpha");
    m_b = writeFile(m_local.filePath("b c.txt"), "bravo");
    writeFile(m_local.filePath("master"), "m4ster\nnot this\n");
    writeFile(m_local.filePath("wrong"), "guess\n");
    m_photo = m_local.filePath("photo.jpg");
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(picture.save(m_photo, "JPEG"));
    m_takenThumbName = writeFile(m_local.filePath("photo_thumb.jpg"), "real");
    m_lineBreakName = writeFile(m_local.filePath("x\rquaddle: all uploaded.txt"), "x");
}

void TestCliE2E::uploadsAndExitsAsTold_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("error");
    // A file on the server afterwards and how its contents start; none: it must not be there.
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QByteArray>("remoteStart");
    const QString a = m_a;
    const QByteArray html = "<a href=\"http://127.0.0.1/sub/a.txt\">a.txt</a>\n";
    QTest::newRow("none") << Setup::Plain << QStringList{":0", a, m_b} << 0
                          << QByteArray("http://127.0.0.1/a.txt\nhttp://127.0.0.1/b%20c.txt\n")
                          << QByteArray() << "b c.txt" << QByteArray("bravo");
    QTest::newRow("bbcode") << Setup::Plain << QStringList{"--tags=bbcode", ":0/0", a} << 0
                            << QByteArray("[URL=http://127.0.0.1/sub/a.txt]a.txt[/URL]\n")
                            << QByteArray() << "sub/a.txt" << QByteArray("alpha");
    QTest::newRow("bbcode-img") << Setup::Plain << QStringList{"--tags", "bbcode-img", ":0/0", a}
                                << 0 << QByteArray("[IMG]http://127.0.0.1/sub/a.txt[/IMG]\n")
                                << QByteArray() << QString() << QByteArray();
    QTest::newRow("html") << Setup::Plain << QStringList{"--tags=html", ":0/0", a} << 0 << html
                          << QByteArray() << QString() << QByteArray();
    QTest::newRow("html-img") << Setup::Plain << QStringList{"--tags=html-img", ":0/0", a} << 0
                              << QByteArray("<img src=\"http://127.0.0.1/sub/a.txt\" />\n")
                              << QByteArray() << QString() << QByteArray();
    QTest::newRow("markdown") << Setup::Plain << QStringList{"--tags=markdown", ":0/0", a} << 0
                              << QByteArray("[a.txt](http://127.0.0.1/sub/a.txt)\n") << QByteArray()
                              << QString() << QByteArray();
    QTest::newRow("remembered style") << Setup::Html << QStringList{":0/0", a} << 0 << html
                                      << QByteArray() << QString() << QByteArray();
    QTest::newRow("thumbnails")
        << Setup::Plain << QStringList{"--thumbnails", "--tags=bbcode", ":0/0", m_photo, a} << 0
        << QByteArray("[URL=http://127.0.0.1/sub/photo.jpg][IMG]http://127.0.0.1/sub/"
                      "photo_thumb.jpg[/IMG][/URL]\n[URL=http://127.0.0.1/sub/a.txt]a.txt[/URL]\n")
        << QByteArray() << "sub/photo_thumb.jpg" << QByteArray("\xFF\xD8");
    QTest::newRow("thumbnail name taken")
        << Setup::Plain
        << QStringList{"--thumbnails", "--tags=bbcode", ":0/0", m_takenThumbName, m_photo} << 0
        << QByteArray("[URL=http://127.0.0.1/sub/photo_thumb.jpg]photo_thumb.jpg[/URL]\n"
                      "[URL=http://127.0.0.1/sub/photo.jpg][IMG]http://127.0.0.1/sub/"
                      "photo_thumb_001.jpg[/IMG][/URL]\n")
        << QByteArray("resizing") << "sub/photo_thumb.jpg" << QByteArray("real");
    QTest::newRow("thumbnail refused")
        << Setup::Plain << QStringList{"--on-exists=overwrite", "--thumbnails", ":0/2", m_photo}
        << 1 << QByteArray("http://127.0.0.1/clash/photo.jpg\n")
        << ("The thumbnail of \"" + m_photo.toUtf8() + "\" was not uploaded.") << "clash/photo.jpg"
        << QByteArray("\xFF\xD8");
    QTest::newRow("no thumbnails unasked")
        << Setup::Plain << QStringList{"--tags=bbcode", m_photo} << 0
        << QByteArray("[URL=http://127.0.0.1/photo.jpg]photo.jpg[/URL]\n") << QByteArray()
        << "photo_thumb.jpg" << QByteArray();
    QTest::newRow("directory created")
        << Setup::Plain << QStringList{":0/1", a} << 0
        << QByteArray("http://127.0.0.1/new/deep/a.txt\n")
        << QByteArray("The remote directory \"/new/deep\" does not exist; creating it.")
        << "new/deep/a.txt" << QByteArray("alpha");
    QTest::newRow("quiet") << Setup::Plain << QStringList{"-q", "--thumbnails", ":0/1", a} << 0
                           << QByteArray("http://127.0.0.1/new/deep/a.txt\n") << QByteArray()
                           << QString() << QByteArray();
    // A folder of the file's name is in the way: only overwriting tries, and fails.
    QTest::newRow("one fails") << Setup::Plain
                               << QStringList{"--on-exists=overwrite", ":0/2", a, m_b} << 1
                               << QByteArray("http://127.0.0.1/clash/a.txt\n")
                               << QByteArray("b c.txt\" was not uploaded.") << "clash/a.txt"
                               << QByteArray("alpha");
    QTest::newRow("IPv6") << Setup::Ipv6 << QStringList{":0", a} << 0
                          << QByteArray("http://[::1]/a.txt\n") << QByteArray() << "a.txt"
                          << QByteArray("alpha");
    QTest::newRow("connection lost")
        << Setup::Dropping << QStringList{"--connections=1", ":0", a, m_b, m_photo} << 1
        << QByteArray("http://127.0.0.1/a.txt\n") << QByteArray("photo.jpg\" was not uploaded")
        << "a.txt" << QByteArray("alpha");
    QTest::newRow("server reply escaped")
        << Setup::Escapes << QStringList{":0", a} << 1 << QByteArray()
        << QByteArray("550 \\x1b]0;owned\\x07\\x1b[2J\\x1b[31mDisk full.\\x9b0m") << "a.txt"
        << QByteArray();
    QTest::newRow("line break in a name")
        << Setup::Plain << QStringList{":0", m_lineBreakName} << 1 << QByteArray()
        << QByteArray("x\\x0dquaddle: all uploaded.txt\" was not uploaded.") << QString()
        << QByteArray();
    QTest::newRow("skip") << Setup::Plain << QStringList{"--on-exists=skip", ":0/3", a} << 0
                          << QByteArray("http://127.0.0.1/old/a.txt\n") << QByteArray()
                          << "old/a.txt" << QByteArray("old");
    QTest::newRow("ask without terminal")
        << Setup::Plain << QStringList{"--on-exists=ask", ":0/3", a} << 0
        << QByteArray("http://127.0.0.1/old/a.txt\n")
        << QByteArray("\"a.txt\" exists on the server and there is no terminal to ask on; "
                      "skipped.")
        << "old/a.txt" << QByteArray("old");
    QTest::newRow("rename") << Setup::Plain << QStringList{"--on-exists=rename", ":0/3", a} << 0
                            << QByteArray("http://127.0.0.1/old/a.txt\n")
                            << QByteArray("renamed to \"a_001.txt\"") << "old/a_001.txt"
                            << QByteArray("old");
    QTest::newRow("vsftpd") << Setup::Vsftpd << QStringList{"--tags=html-img", a} << 0
                            << QByteArray("<img src=\"http://127.0.0.1/upload/a.txt\" />\n")
                            << QByteArray() << "a.txt" << QByteArray("alpha");
    QTest::newRow("master password file")
        << Setup::Locked << QStringList{"--master-password-file=" + m_local.filePath("master"), a}
        << 0 << QByteArray("http://127.0.0.1/a.txt\n") << QByteArray() << "a.txt"
        << QByteArray("alpha");
    QTest::newRow("copy without a display")
        << Setup::Plain << QStringList{"--copy", ":0", a} << 0
        << QByteArray("http://127.0.0.1/a.txt\n")
        << QByteArray("quaddle: There is no clipboard without a display") << QString()
        << QByteArray();
    QTest::newRow("unknown option")
        << Setup::Plain << QStringList{"--fast", ":0", a} << 2 << QByteArray()
        << QByteArray("Unknown option \"--fast\"") << QString() << QByteArray();
    QTest::newRow("unknown tag style")
        << Setup::Plain << QStringList{"--tags=fancy", a} << 2 << QByteArray()
        << QByteArray("Unknown tag style \"fancy\"") << QString() << QByteArray();
    QTest::newRow("no such server")
        << Setup::Plain << QStringList{":9", a} << 2 << QByteArray()
        << QByteArray("\":9\" names no configured server") << QString() << QByteArray();
    QTest::newRow("missing file") << Setup::Plain << QStringList{a, m_local.filePath("gone.txt")}
                                  << 2 << QByteArray()
                                  << QByteArray("gone.txt\" is no file that can be read") << "a.txt"
                                  << QByteArray();
    QTest::newRow("no files") << Setup::Plain << QStringList{":0"} << 2 << QByteArray()
                              << QByteArray("No files to upload.") << QString() << QByteArray();
    QTest::newRow("damaged configuration") << Setup::Damaged << QStringList{a} << 2 << QByteArray()
                                           << QByteArray("config.xml") << QString() << QByteArray();
    QTest::newRow("wrong password") << Setup::WrongPassword << QStringList{a} << 3 << QByteArray()
                                    << QByteArray("Login incorrect") << QString() << QByteArray();
    QTest::newRow("password not stored")
        << Setup::NoPassword << QStringList{a} << 3 << QByteArray()
        << QByteArray("The server wants a password and there is no terminal to type it on.")
        << QString() << QByteArray();
    QTest::newRow("unreachable") << Setup::ClosedPort << QStringList{a} << 3 << QByteArray()
                                 << QByteArray("Could not connect") << QString() << QByteArray();
    QTest::newRow("wrong master password")
        << Setup::Locked << QStringList{"--master-password-file=" + m_local.filePath("wrong"), a}
        << 3 << QByteArray() << QByteArray("is wrong") << QString() << QByteArray();
}

void TestCliE2E::uploadsAndExitsAsTold() {
    QFETCH(Setup, setup);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);
    QFETCH(QString, remote);
    QFETCH(QByteArray, remoteStart);

    const auto started =
        setup == Setup::Dropping  ? std::make_unique<FtpServer>(QString("drop2"))
        : setup == Setup::Escapes ? std::make_unique<FtpServer>(QString("escapes"))
        : setup == Setup::Ipv6    ? std::make_unique<FtpServer>(FtpServer::Kind::PyftpdlibIpv6)
        : setup == Setup::Vsftpd  ? std::make_unique<FtpServer>(FtpServer::Kind::Vsftpd)
                                  : std::make_unique<FtpServer>();
    const FtpServer& server = *started;
    QUADDLE_REQUIRE_SERVER(server);
    for (const QString& dir : QStringList{"sub", "clash/b c.txt", "clash/photo_thumb.jpg", "old"})
        QDir().mkpath(server.localPath(dir));
    writeFile(server.localPath("old/a.txt"), "old");
    const TempProgramDir programDir;
    ServerSetup config = setupFor(server);
    config.folders = {"/sub", "/new/deep", "/clash", "/old"};
    if (setup == Setup::Vsftpd)
        config.defaultDir = server.uploadDir();
    config.host = server.host();
    if (setup == Setup::WrongPassword)
        config.password = "wrong";
    if (setup == Setup::NoPassword)
        config.password.clear();
    if (setup == Setup::ClosedPort)
        config.port = 1;
    QList<std::pair<QString, SettingValue>> settings = {{"Log", SettingValue::boolean(true)}};
    if (setup == Setup::Html)
        settings.append({"TagStyle", SettingValue::integer(3)});
    if (setup == Setup::Locked)
        saveLockedConfig(config, "m4ster");
    else if (setup == Setup::Damaged)
        programDir.writeFile("config.xml", "<qdConfig><Settings>");
    else
        saveServerConfig(config, settings);

    const CliRun run = runCli(arguments, programDir.environment());
    QVERIFY2(run.code == code, run.error.constData());
    QCOMPARE(run.output, output);
    QVERIFY2(run.error.contains(error), run.error.constData());
    QVERIFY2(printable(run.output, "\n") && printable(run.error, "\n"), run.error.constData());
    if (arguments.contains("-q"))
        QCOMPARE(run.error, QByteArray());
    if (!remote.isEmpty() && remoteStart.isNull())
        QVERIFY2(!QFile::exists(server.localPath(remote)), qPrintable(remote));
    else if (!remote.isEmpty())
        QCOMPARE(readFile(server.localPath(remote)).left(remoteStart.size()), remoteStart);
    // Every run that reached the server leaves its log, without the password.
    if (code == 0 || code == 1 || setup == Setup::WrongPassword) {
        const QByteArray log = programDir.readFile("log.txt");
        QVERIFY2(log.contains("--> (Password)\t0\r\n"), log.constData());
        QVERIFY(!log.contains(server.password().toUtf8()));
        QVERIFY2(printable(QByteArray(log).replace("\r\n", "\n"), "\t\n"), log.constData());
    }
}

void TestCliE2E::ftpsCertificates() {
    FtpServer server(FtpServer::Kind::VsftpdTls);
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    ServerSetup setup = setupFor(server);
    setup.host = server.host();
    setup.rootDir = server.uploadDir();
    setup.type = "2";
    const QString fingerprint = server.certificateFingerprint();
    const QString other(64, QLatin1Char('A'));

    // In order, in one program directory: a row without a stored certificate keeps what the
    // run before left in config.xml.
    struct Row {
        const char* name;
        QStringList arguments;
        std::optional<QString> storedBefore;
        int code;
        QByteArray error;
        QString storedAfter;
    };
    const Row rows[] = {
        {"unknown certificate refused", {m_a}, QString(), 3, "run again with --accept-new", ""},
        {"new certificate accepted", {"--accept-new", m_a}, {}, 0, "accepted", fingerprint},
        {"remembered certificate", {m_b}, {}, 0, "", fingerprint},
        {"changed certificate refused", {"--accept-new", m_a}, other, 3, "has changed", other},
    };
    for (const Row& row : rows) {
        if (row.storedBefore) {
            setup.trustedCert = *row.storedBefore;
            saveServerConfig(setup);
        }
        const CliRun run = runCli(row.arguments, programDir.environment());
        const QByteArray context = QByteArray(row.name) + ": " + run.error;
        QVERIFY2(run.code == row.code, context.constData());
        QVERIFY2(run.error.contains(row.error), context.constData());
        const QByteArray config = programDir.readFile("config.xml");
        const bool storedAsExpected =
            row.storedAfter.isEmpty()
                ? !config.contains("TrustedCert")
                : config.contains("TrustedCert=\"" + row.storedAfter.toLatin1() + "\"");
        QVERIFY2(storedAsExpected, context.constData());
    }
    QCOMPARE(readFile(server.localPath("b c.txt")), QByteArray("bravo"));
}

void TestCliE2E::sftpHostKeysAndPasswords() {
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const QTemporaryDir home;
    const QString a = m_a;
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
        // Else psftp would take the account's own .putty.
        QVERIFY(QDir(home.path()).mkpath(".putty"));
        ServerSetup setup;
        setup.type = "1";
        setup.sshClient = SshClientPsftp;
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
        QCOMPARE(run.error.contains("Login incorrect"), row.error == "Login incorrect");
        QCOMPARE(QFile::exists(keyCache), row.keyKnownAfter);
        QCOMPARE(run.output.isEmpty(), row.code != 0);
    }
    QCOMPARE(readFile(server.root() + "/a.txt"), QByteArray("alpha"));
}

void TestCliE2E::interruptEndsBigUpload() {
    const qint64 size = qint64(512) << 20;
    QFile big(m_local.filePath("big.bin"));
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

// quaddle-cli is "quaddle --cli" without the windows' libraries.
void TestCliE2E::standaloneProgramAnswersAlike_data() {
    QTest::addColumn<QStringList>("windowed"); // the same run as quaddle's words
    QTest::addColumn<QStringList>("standalone");
    QTest::addColumn<int>("code");
    QTest::newRow("version") << QStringList{"--version"} << QStringList{"--version"} << 0;
    QTest::newRow("help") << QStringList{"--cli", "--help"} << QStringList{"--help"} << 0;
    QTest::newRow("unknown option")
        << QStringList{"--cli", "--fast", m_a} << QStringList{"--fast", m_a} << 2;
    const QStringList upload = {"--thumbnails", "--tags=bbcode", ":0/0", m_photo, m_a};
    QTest::newRow("upload with thumbnails") << QStringList{"--cli"} + upload << upload << 0;
}

void TestCliE2E::standaloneProgramAnswersAlike() {
    // Both answer alike but for the name each says it was started by.
    QFETCH(QStringList, windowed);
    QFETCH(QStringList, standalone);
    QFETCH(int, code);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    ServerSetup config = setupFor(server);
    config.folders = {"/sub"};
    config.host = server.host();
    saveServerConfig(config);
    const QProcessEnvironment environment = withoutDisplay(programDir.environment());

    const QString uploaded = server.localPath("sub");
    QVERIFY(QDir().mkpath(uploaded));
    ProgramRun windowedProgram(windowed, environment);
    const CliRun expected = finished(windowedProgram);
    QVERIFY2(expected.code == code, expected.error.constData());
    // What the first run uploaded must not count for the second.
    QVERIFY(QDir(uploaded).removeRecursively() && QDir().mkpath(uploaded));
    ProgramRun standaloneProgram(QUADDLE_CLI_PROGRAM, standalone, environment);
    const CliRun run = finished(standaloneProgram);
    QVERIFY2(run.code == code, run.error.constData());
    const auto named = [](QByteArray text) {
        return text.replace("quaddle-cli", "quaddle").replace("quaddle --cli", "quaddle");
    };
    // The standalone program's help leaves out the window's part.
    const auto options = [&named](const QByteArray& text) {
        return named(text.mid(text.indexOf("  --tags=STYLE")));
    };
    QCOMPARE(options(run.output), options(expected.output));
    QCOMPARE(named(run.error), named(expected.error));
}

void TestCliE2E::standaloneProgramLinksNoWidgets() {
    QProcess ldd;
    ldd.start("ldd", {QUADDLE_CLI_PROGRAM});
    QVERIFY(ldd.waitForFinished(30000));
    QCOMPARE(ldd.exitCode(), 0);
    const QByteArray libraries = ldd.readAllStandardOutput();
    QVERIFY2(libraries.contains("libQt6Core"), libraries.constData());
    QVERIFY2(!libraries.contains("libQt6Widgets"), libraries.constData());
}

QString TestCliE2E::programsNamed(const QStringList& names) {
    const QString folder = m_local.filePath("programs");
    QDir().mkpath(folder);
    for (const QString& name : names) {
        const QString built = name.endsWith("-cli") ? QStringLiteral(QUADDLE_CLI_PROGRAM)
                                                    : QStringLiteral(QUADDLE_PROGRAM);
        QFile::remove(folder + '/' + name);
        QFile::link(built, folder + '/' + name);
    }
    return folder;
}

// What a user reads after a failure tells the file, the folder and the server, and what to
// check; log.txt keeps it too.
void TestCliE2E::errorsSayWhatToCheck_data() {
    QTest::addColumn<QString>("fault"); // locked on pyftpdlib or vsftpd, refused, unknown host
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("error"); // %1: the server's port
    const QString check = "Check that the folder is writable, or the root folder in the server "
                          "manager.\n";
    QTest::newRow("550 on pyftpdlib")
        << "pyftpdlib" << 1
        << "\"a.txt\" could not be uploaded to the folder \"/locked\" on 127.0.0.1, port %1:\n"
           "550 Not enough privileges.\n" +
               check;
    QTest::newRow("553 on vsftpd")
        << "vsftpd" << 1
        << "\"a.txt\" could not be uploaded to the folder \"/upload/locked\" on 127.0.0.1, port "
           "%1:\n553 Could not create file.\n" +
               check;
    QTest::newRow("connection refused")
        << "refused" << 3
        << "Could not connect to remote server. Please check your server settings.\n127.0.0.1, "
           "port %1: Connection refused\nIs the server running, and is the port right?\n";
    QTest::newRow("host name unknown")
        << "unknown host" << 3
        << "Could not connect to remote server. Please check your server settings.\n"
           "quaddle-test.invalid, port %1: Host not found\nIs the host name right? No server of "
           "that name could be found.\n";
}

void TestCliE2E::errorsSayWhatToCheck() {
    QFETCH(QString, fault);
    QFETCH(int, code);
    QFETCH(QString, error);
    std::unique_ptr<FtpServer> server;
    const TempProgramDir programDir;
    ServerSetup config;
    if (fault == "pyftpdlib" || fault == "vsftpd") {
        server = fault == "vsftpd" ? std::make_unique<FtpServer>(FtpServer::Kind::Vsftpd)
                                   : std::make_unique<FtpServer>(QString("lockedfolder"));
        QUADDLE_REQUIRE_SERVER(*server);
        // Made by root: vsftpd's account may enter it, not write into it.
        QDir().mkpath(server->localPath("locked"));
        config = setupFor(*server);
        config.folders = {QDir::cleanPath(server->uploadDir() + "/locked")};
    } else if (fault == "refused") {
        config.user = "u";
        config.password = "p";
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        config.port = closed.serverPort();
    } else {
        // Under .invalid no name resolves, and the resolver knows it without asking anyone.
        config.host = "quaddle-test.invalid";
        config.user = "u";
        config.password = "p";
    }
    saveServerConfig(config, {{"Log", SettingValue::boolean(true)}});

    const CliRun run = runCli({":0/0", m_a}, programDir.environment());
    QVERIFY2(run.code == code, run.error.constData());
    // Standard error indents a message's further lines.
    QString expected = (code == 1 ? QStringLiteral("quaddle: An error occurred: \n")
                                  : QStringLiteral("quaddle: ")) +
                       error.arg(config.port);
    expected.replace("\n", "\n  ");
    expected.chop(2);
    const QString shown = QString::fromUtf8(run.error);
    QVERIFY2(shown.contains(expected), qPrintable(shown));
    if (server)
        QVERIFY(!QFile::exists(server->localPath("locked/a.txt")));
    // The log keeps the whole message, each line break escaped.
    const QByteArray log = programDir.readFile("log.txt");
    const QString lastLine = error.arg(config.port).trimmed().section('\n', -1);
    QVERIFY2(log.contains(lastLine.toUtf8()), log.constData());
}

// The help and every message name the program as it was started.
void TestCliE2E::helpNamesTheProgramStarted_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("words"); // before --help or a wrong option
    QTest::addColumn<QString>("usage");
    QTest::newRow("quaddle-cli") << "quaddle-cli" << QStringList{}
                                 << "Usage: quaddle-cli [options] [:server[/folder]] files...\n";
    QTest::newRow("quaddle-cli as quaddle")
        << "quaddle-cli:quaddle" << QStringList{}
        << "Usage: quaddle [options] [:server[/folder]] files...\n";
    QTest::newRow("quaddle --cli")
        << "quaddle" << QStringList{"--cli"} << "Usage: quaddle [:server[/folder]] [files...]\n";
    QTest::newRow("quaddle as qd")
        << "quaddle:qd" << QStringList{"--cli"} << "Usage: qd [:server[/folder]] [files...]\n";
}

void TestCliE2E::helpNamesTheProgramStarted() {
    QFETCH(QString, name);
    QFETCH(QStringList, words);
    QFETCH(QString, usage);
    // "built:shown": the program built, started under another name.
    const QString built = name.section(':', 0, 0);
    const QString shown = name.section(':', -1);
    const QString folder = m_local.filePath("named-" + shown);
    QDir().mkpath(folder);
    QFile::remove(folder + '/' + shown);
    QVERIFY(QFile::copy(built == "quaddle" ? QStringLiteral(QUADDLE_PROGRAM)
                                           : QStringLiteral(QUADDLE_CLI_PROGRAM),
                        folder + '/' + shown));
    const TempProgramDir programDir;
    const QProcessEnvironment environment = withoutDisplay(programDir.environment());

    ProgramRun help(folder + '/' + shown, words + QStringList{"--help"}, environment);
    const CliRun helped = finished(help);
    QCOMPARE(helped.code, 0);
    const QString text = QString::fromUtf8(helped.output);
    QVERIFY2(text.startsWith(usage), qPrintable(text));
    if (built != shown)
        QVERIFY2(!text.contains(built + ' '), qPrintable(text));
    // Without a window the tag style is the one the window chose last; url gives addresses.
    QVERIFY2(text.contains("--tags=STYLE      url (the addresses only), bbcode, bbcode-img, "
                           "html,\n                    html-img or markdown; default: the tag "
                           "style chosen last\n                    in the window's list of "
                           "results\n"),
             qPrintable(text));
    QVERIFY2(text.contains("  --servers "), qPrintable(text));

    ProgramRun wrong(folder + '/' + shown, words + QStringList{"--fast", m_a}, environment);
    const CliRun refused = finished(wrong);
    QCOMPARE(refused.code, 2);
    QCOMPARE(QString::fromUtf8(refused.error), shown + ": Unknown option \"--fast\".\nTry \"" +
                                                   shown + " --help\" for more information.\n");
}

namespace {

// Three servers, one of each type, after one deleted; folders after one deleted. What is
// deleted is left out of the file, so the numbers close up.
void saveSeveralServers() {
    Config config;
    const auto add = [&config](const QString& name, const QString& host, const QString& port,
                               const QString& type) {
        const qint32 index = config.storeServer(host, port, "u", QString(), QString(), QString(),
                                                QString(), type, -1, -1);
        config.serverNames[index] = name;
        return index;
    };
    const qint32 local = add("Local FTP", "127.0.0.1", "2177", "0");
    config.setFolder(-1, local, "/pictures");
    config.setFolder(-1, local, "/old");
    config.setFolder(-1, local, "/2024 photos");
    config.deleteFolder(1, local);
    config.deleteServer(add("Gone", "gone.example", "21", "0"));
    add("Web space", "::1", "22", "1");
    add("Secure", "ftp.example.org", "990", "2");
    config.saveConfig();
}

} // namespace

void TestCliE2E::listsServersAndFolders_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("servers") << QStringList{"--servers"}
                             << QByteArray("0 Local FTP (ftp://127.0.0.1:2177)\n"
                                           "1 Web space (sftp://[::1]:22)\n"
                                           "2 Secure (ftps://ftp.example.org:990)\n");
    QTest::newRow("folders") << QStringList{"--servers", ":0"}
                             << QByteArray("0/0 /pictures\n0/1 /2024 photos\n");
    QTest::newRow("no folders") << QStringList{"--servers", ":2"} << QByteArray();
    QTest::newRow("servers as JSON")
        << QStringList{"--servers", "--json"}
        << QByteArray(
               R"([{"address":"ftp://127.0.0.1:2177","folders":[{"folder":0,"path":"/pictures",)"
               R"("selector":":0/0"},{"folder":1,"path":"/2024 photos","selector":":0/1"}],)"
               R"("name":"Local FTP","selector":":0","server":0},{"address":"sftp://[::1]:22",)"
               R"("folders":[],"name":"Web space","selector":":1","server":1},{"address":)"
               R"("ftps://ftp.example.org:990","folders":[],"name":"Secure","selector":":2",)"
               R"("server":2}])"
               "\n");
    QTest::newRow("folders as JSON")
        << QStringList{"--json", "--servers", ":0"}
        << QByteArray(R"([{"folder":0,"path":"/pictures","selector":":0/0"},)"
                      R"({"folder":1,"path":"/2024 photos","selector":":0/1"}])"
                      "\n");
}

void TestCliE2E::listsServersAndFolders() {
    QFETCH(QStringList, words);
    QFETCH(QByteArray, output);
    const TempProgramDir programDir;
    saveSeveralServers();
    const QProcessEnvironment environment = withoutDisplay(programDir.environment());
    for (const bool standalone : {true, false}) {
        const auto program =
            standalone ? std::make_unique<ProgramRun>(QUADDLE_CLI_PROGRAM, words, environment)
                       : std::make_unique<ProgramRun>(QStringList{"--cli"} + words, environment);
        const CliRun run = finished(*program);
        QVERIFY2(run.code == 0, run.error.constData());
        QCOMPARE(run.output, output);
        QCOMPARE(run.error, QByteArray());
    }
    // A server that is not there is an error of its own.
    const CliRun deleted = runCli({"--servers", ":3"}, environment);
    QCOMPARE(deleted.code, 2);
    QCOMPARE(deleted.error, QByteArray("quaddle: \":3\" names no configured server.\n"));
}

// bash's completion of a selector, as bash calls it: the words split at ":" as bash splits them.
void TestCliE2E::bashCompletesSelectors_data() {
    QTest::addColumn<QString>("line"); // up to the cursor
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("offered");
    for (const QString& program : QStringList{"quaddle-cli", "quaddle --cli"}) {
        QTest::addRow("%s servers", qPrintable(program)) << program + " :" << program + " :"
                                                         << "0 1 2";
        QTest::addRow("%s a server", qPrintable(program))
            << program + " -q :2" << program + " -q : 2"
            << "2";
        QTest::addRow("%s folders", qPrintable(program)) << program + " :0/" << program + " : 0/"
                                                         << "0/0 0/1";
        QTest::addRow("%s a folder", qPrintable(program)) << program + " :0/1" << program + " : 0/1"
                                                          << "0/1";
        QTest::addRow("%s tags", qPrintable(program))
            << program + " --tags=u" << program + " --tags = u"
            << "url";
    }
}

void TestCliE2E::bashCompletesSelectors() {
    QFETCH(QString, line);
    QFETCH(QString, words);
    QFETCH(QString, offered);
    const TempProgramDir programDir;
    saveSeveralServers();
    QProcessEnvironment environment = withoutDisplay(programDir.environment());
    environment.insert("PATH",
                       programsNamed({"quaddle", "quaddle-cli"}) + ":" + environment.value("PATH"));
    environment.insert("COMPLETION_LINE", line);
    environment.insert("COMPLETION_WORDS", words);
    const QString script = "source /usr/share/bash-completion/bash_completion\n"
                           "source '" QUADDLE_SOURCE_DIR "/data/quaddle.bash-completion'\n"
                           "complete -p quaddle quaddle-cli\n"
                           "read -r -a COMP_WORDS <<<\"$COMPLETION_WORDS\"\n"
                           "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$COMPLETION_LINE "
                           "COMP_POINT=${#COMPLETION_LINE}\n"
                           "_quaddle \"${COMP_WORDS[0]}\" \"${COMP_WORDS[COMP_CWORD]}\"\n"
                           "echo \"${COMPREPLY[*]}\"\n";
    QProcess bash;
    bash.setProcessEnvironment(environment);
    bash.start("bash", {"-c", script});
    QVERIFY(bash.waitForFinished(30000));
    QCOMPARE(bash.readAllStandardError(), QByteArray());
    QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()),
             "complete -F _quaddle quaddle\ncomplete -F _quaddle quaddle-cli\n" + offered + "\n");
}

QTEST_GUILESS_MAIN(TestCliE2E)
#include "TestCliE2E.moc"
