#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;
using namespace quaddle::test;

namespace {

// The flags must work where there is no display at all, e.g. over ssh.
QProcessEnvironment withoutDisplay(const TempProgramDir& programDir) {
    QProcessEnvironment environment = programDir.environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

} // namespace

class TestCommandLineFlags : public QObject {
    Q_OBJECT

private slots:
    void versionPrintsNameAndVersion();
    void helpPrintsUsage();
    void flagsAmongOtherArgumentsAreNotFlags();
    void fileNamedHelpUploadsWithDotSlash();
};

void TestCommandLineFlags::versionPrintsNameAndVersion() {
    const TempProgramDir programDir;
    ProgramRun program({"--version"}, withoutDisplay(programDir));
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.standardOutput(), QByteArray("Quaddle 0.7.1\n"));
    QCOMPARE(program.errorOutput(), QByteArray());
    // Nothing is written to the program directory by just asking.
    QVERIFY(!QFile::exists(programDir.filePath("config.xml")));
}

void TestCommandLineFlags::helpPrintsUsage() {
    const TempProgramDir programDir;
    ProgramRun program({"--help"}, withoutDisplay(programDir));
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitCode(), 0);
    const QByteArray usage = program.standardOutput();
    QVERIFY2(usage.startsWith("Usage: "), usage.constData());
    QVERIFY2(usage.contains("[:server[/folder]] [files...]"), usage.constData());
    QVERIFY2(usage.contains("counted from 0"), usage.constData());
    QVERIFY2(usage.contains("./--help"), usage.constData());
    QVERIFY2(usage.contains("--cli [options] [:server[/folder]] files..."), usage.constData());
    QVERIFY2(usage.contains("130 interrupted"), usage.constData());
    QCOMPARE(program.errorOutput(), QByteArray());
}

void TestCommandLineFlags::flagsAmongOtherArgumentsAreNotFlags() {
    // With more words, "--help" is a file name as before, so the program wants a display.
    const TempProgramDir programDir;
    ProgramRun program({":0", "--help"}, withoutDisplay(programDir));
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.standardOutput(), QByteArray());
    QVERIFY(program.errorOutput().contains("xvfb-run"));
}

void TestCommandLineFlags::fileNamedHelpUploadsWithDotSlash() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server), {{"Autoclose", SettingValue::boolean(true)}});

    // The started program inherits this working directory, where "./--help" lives.
    const QTemporaryDir local;
    const QByteArray contents = "not a flag\n";
    QFile file(local.filePath("--help"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(local.path()));
    ProgramRun program({":0", "./--help"}, programDir.environment());
    QDir::setCurrent(previous);
    QVERIFY(program.started());
    QVERIFY(program.waitForExit(60000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!program.standardOutput().contains("Usage"));

    QFile uploaded(server.localPath("--help"));
    QVERIFY2(uploaded.open(QIODevice::ReadOnly), qPrintable(uploaded.fileName()));
    QCOMPARE(uploaded.readAll(), contents);
}

QTEST_GUILESS_MAIN(TestCommandLineFlags)
#include "TestCommandLineFlags.moc"
