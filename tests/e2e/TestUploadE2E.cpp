#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"
#include "VirtualDisplay.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;
using namespace quaddle::test;

namespace {

QString randomFile(const QTemporaryDir& dir, const QString& name, qint64 size) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
    file.write(data);
    return file.fileName();
}

// Waits until the process has written a whole line; false when it ends or does not in time.
bool waitForLine(QProcess& process) {
    while (!process.canReadLine())
        if (!process.waitForReadyRead(20000))
            return false;
    return true;
}

QByteArray pasted(const QString& xclip, const QProcessEnvironment& x11) {
    QProcess paste;
    paste.setProcessEnvironment(x11);
    paste.start(xclip, {"-selection", "clipboard", "-o"});
    paste.waitForFinished(20000);
    return paste.readAllStandardOutput();
}

// The processes that keep the clipboard of a display, by their command line and environment.
QList<qint64> keepersOn(const QString& display) {
    QList<qint64> keepers;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile command("/proc/" + pid + "/cmdline");
        QFile environment("/proc/" + pid + "/environ");
        if (command.open(QIODevice::ReadOnly) && environment.open(QIODevice::ReadOnly) &&
            command.readAll().split('\0').contains("--keep-clipboard") &&
            environment.readAll().split('\0').contains("DISPLAY=" + display.toUtf8()))
            keepers.append(pid.toLongLong());
    }
    return keepers;
}

// A key cache that knows the server, as after a first upload answered with OK.
void knowServerInPutty(const SshServer& server, const QTemporaryDir& home,
                       const QProcessEnvironment& environment) {
    // Else psftp would take the account's own .putty.
    QVERIFY(QDir(home.path()).mkpath(".putty"));
    {
        QFile password(home.filePath("pw"));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write(server.password().toUtf8());
        password.close();
        QProcess seed;
        seed.setProcessEnvironment(environment);
        seed.setProcessChannelMode(QProcess::MergedChannels);
        seed.start("setsid", {"/usr/bin/psftp", "-P", QString::number(server.port()), "-pwfile",
                              password.fileName(), "-l", server.user(), "127.0.0.1"});
        QVERIFY(seed.waitForStarted());
        seed.write("y\n");
        QTRY_VERIFY_WITH_TIMEOUT(seed.readAll().contains("psftp> ") ||
                                     QFile::exists(home.filePath(".putty/sshhostkeys")),
                                 30000);
        seed.write("quit\n");
        QVERIFY(seed.waitForFinished(30000));
    }
    QVERIFY(QFile::exists(home.filePath(".putty/sshhostkeys")));
}

// The same for OpenSSH, whose ssh reads a test configuration instead of the account's own.
void knowServerInOpenSsh(const SshServer& server, const QTemporaryDir& home,
                         QProcessEnvironment& environment) {
    QProcess scan;
    scan.start("ssh-keyscan", {"-p", QString::number(server.port()), "127.0.0.1"});
    QVERIFY(scan.waitForFinished(30000));
    QFile knownHosts(home.filePath("known_hosts"));
    QVERIFY(knownHosts.open(QIODevice::WriteOnly) &&
            knownHosts.write(scan.readAllStandardOutput()) > 0);
    knownHosts.close();
    QVERIFY(QDir(home.path()).mkpath("bin"));
    QFile wrapper(home.filePath("bin/ssh"));
    QVERIFY(wrapper.open(QIODevice::WriteOnly));
    wrapper.write(QString("#!/bin/sh\nexec /usr/bin/ssh -F /dev/null -o UserKnownHostsFile=%1 "
                          "\"$@\"\n")
                      .arg(knownHosts.fileName())
                      .toUtf8());
    wrapper.close();
    QVERIFY(wrapper.setPermissions(wrapper.permissions() | QFile::ExeOwner));
    environment.insert("PATH", home.filePath("bin") + ":" + environment.value("PATH"));
}

} // namespace

class TestUploadE2E : public QObject {
    Q_OBJECT

private slots:
    void uploadsFromSelectorAndClosesByItself();
    void uploadsBySftp_data();
    void uploadsBySftp();
    void copiedLinesOutliveTheProgram_data();
    void copiedLinesOutliveTheProgram();
};

void TestUploadE2E::uploadsFromSelectorAndClosesByItself() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.localPath("site/b"));
    const TempProgramDir programDir;
    ServerSetup setup = setupFor(server);
    setup.rootDir = "/site";
    setup.folders = {"/a", "/b"};
    saveServerConfig(
        setup, {{"Autoclose", SettingValue::boolean(true)}, {"Log", SettingValue::boolean(true)}});
    const QString config = programDir.filePath("config.xml");
    QFile old(config);
    old.open(QIODevice::ReadWrite);
    old.setFileTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime);
    old.close();

    const QTemporaryDir local;
    const QString photo = randomFile(local, "photo.png", 300000);
    const QString notes = randomFile(local, "notes.txt", 1000);
    ProgramRun program({":0/1", photo, notes}, programDir.environment());
    QVERIFY(program.started());
    QVERIFY(program.waitForExit(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    QCOMPARE(fileChecksum(server.localPath("site/b/photo.png")), fileChecksum(photo));
    QCOMPARE(fileChecksum(server.localPath("site/b/notes.txt")), fileChecksum(notes));
    const QByteArray log = programDir.readFile("log.txt");
    QVERIFY(log.contains("--> CWD ./b\t0\r\n"));
    QVERIFY(log.contains("--> (Password)\t0\r\n"));
    QVERIFY(!log.contains(server.password().toUtf8()));
    QVERIFY(log.endsWith("2 files uploaded.\t0\r\n"));
    QVERIFY(QFileInfo(config).lastModified().date().year() > 2000);
    QVERIFY(programDir.readFile("config.xml").contains("Hostname=\"127.0.0.1\""));
}

void TestUploadE2E::uploadsBySftp_data() {
    QTest::addColumn<QString>("sshClient");
    QTest::newRow("OpenSSH") << QString();
    QTest::newRow("psftp") << SshClientPsftp;
}

void TestUploadE2E::uploadsBySftp() {
    QFETCH(QString, sshClient);
    SshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const TempProgramDir programDir;
    const QTemporaryDir home;
    QProcessEnvironment environment = programDir.environment();
    environment.insert("HOME", home.path());
    environment.remove("SSH_AUTH_SOCK");
    if (sshClient == SshClientPsftp)
        knowServerInPutty(server, home, environment);
    else
        knowServerInOpenSsh(server, home, environment);
    if (QTest::currentTestFailed())
        return;

    ServerSetup setup;
    setup.type = "1";
    setup.sshClient = sshClient;
    // The program finds no psftp of its own and takes the one on PATH, on the stored port.
    setup.port = server.port();
    setup.user = server.user();
    setup.password = server.password();
    setup.rootDir = server.root();
    saveServerConfig(
        setup, {{"Autoclose", SettingValue::boolean(true)}, {"Log", SettingValue::boolean(true)}});
    const QTemporaryDir local;
    const QString file = randomFile(local, "report.pdf", 50000);
    ProgramRun program({":0", file}, environment);
    QVERIFY(program.started());
    QVERIFY(program.waitForExit(60000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(fileChecksum(server.root() + "/report.pdf"), fileChecksum(file));
    const QByteArray log = programDir.readFile("log.txt");
    QVERIFY(log.contains("1 files uploaded.\t0\r\n"));
    QVERIFY(!log.contains(server.password().toUtf8()));
    // Only Quaddle's own SFTP engine logs the requests.
    QCOMPARE(log.contains("--> OPEN "), sshClient.isEmpty());
}

void TestUploadE2E::copiedLinesOutliveTheProgram_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("managed");
    for (const bool managed : {true, false}) {
        const char* manager = managed ? "clipboard manager" : "no clipboard manager";
        QTest::addRow("window, %s", manager) << QStringList() << managed;
        QTest::addRow("console, %s", manager) << QStringList{"--cli", "--copy"} << managed;
    }
}

void TestUploadE2E::copiedLinesOutliveTheProgram() {
    QFETCH(QStringList, options);
    QFETCH(bool, managed);
    const VirtualDisplay display;
    const QString xclip = QStandardPaths::findExecutable("xclip");
    if (display.name().isEmpty() || xclip.isEmpty())
        QSKIP("Xvfb and xclip are needed (scripts/install-deps --test)");
    const QString name = display.name();
    const QProcessEnvironment x11 = display.environment();
    QProcess manager;
    if (managed) {
        manager.setProcessEnvironment(x11);
        manager.start("/usr/bin/python3", {QUADDLE_TEST_SUPPORT_DIR "/clipboard_manager.py"});
        QVERIFY(waitForLine(manager));
        QCOMPARE(manager.readLine(), QByteArray("ready\n"));
    }

    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server), {{"Autoclose", SettingValue::boolean(true)},
                                        {"AutoCopy", SettingValue::boolean(true)},
                                        {"TagStyle", SettingValue::integer(5)}});
    const QTemporaryDir local;
    QProcessEnvironment environment = programDir.environment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("DISPLAY", name);
    // Under a real display the program loads libxkbcommon-x11, which hands strndup buffers
    // without a final NUL, and D-Bus, which keeps memory to the end: not the program's faults.
    environment.insert("ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") +
                                           ":strict_string_checks=0:detect_leaks=0");
    {
        // In the window's order, so both faces print the same lines.
        ProgramRun program(options + QStringList{":0", randomFile(local, "a.txt", 10),
                                                 randomFile(local, "shot.png", 100)},
                           environment);
        QVERIFY(program.started());
        QVERIFY(program.waitForExit(60000));
        QCOMPARE(program.exitCode(), 0);
    }
    QCOMPARE(
        pasted(xclip, x11),
        QByteArray("[a.txt](http://127.0.0.1/a.txt)\r\n![shot.png](http://127.0.0.1/shot.png)"));
    // The manager keeps the lines now; without one the keeper does until another program copies.
    if (!managed) {
        QVERIFY(!keepersOn(name).isEmpty());
        QProcess copy;
        copy.setProcessEnvironment(x11);
        copy.start(xclip, {"-i", "-selection", "clipboard"});
        copy.write("other");
        copy.closeWriteChannel();
        QVERIFY(copy.waitForFinished(20000));
        // xclip takes the selection in the child it forks after the parent has exited.
        QTRY_COMPARE_WITH_TIMEOUT(pasted(xclip, x11), QByteArray("other"), 20000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(keepersOn(name).isEmpty(), 20000);
    manager.kill();
    manager.waitForFinished();
}

QTEST_GUILESS_MAIN(TestUploadE2E)
#include "TestUploadE2E.moc"
