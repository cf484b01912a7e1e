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
QProcessEnvironment WithoutDisplay(const TTempProgramDir& programDir) {
    QProcessEnvironment environment = programDir.Environment();
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
    const TTempProgramDir programDir;
    TProgramRun program({"--version"}, WithoutDisplay(programDir));
    QVERIFY(program.WaitForExit(30000));
    QCOMPARE(program.ExitStatus(), QProcess::NormalExit);
    QCOMPARE(program.ExitCode(), 0);
    QCOMPARE(program.StandardOutput(), QByteArray("Quaddle 0.7.1\n"));
    QCOMPARE(program.ErrorOutput(), QByteArray());
    // Nothing is written to the program directory by just asking.
    QVERIFY(!QFile::exists(programDir.FilePath("config.xml")));
}

void TestCommandLineFlags::helpPrintsUsage() {
    const TTempProgramDir programDir;
    TProgramRun program({"--help"}, WithoutDisplay(programDir));
    QVERIFY(program.WaitForExit(30000));
    QCOMPARE(program.ExitCode(), 0);
    const QByteArray usage = program.StandardOutput();
    QVERIFY2(usage.startsWith("Usage: "), usage.constData());
    QVERIFY2(usage.contains("[:server[/folder]] [files...]"), usage.constData());
    QVERIFY2(usage.contains("counted from 0"), usage.constData());
    QVERIFY2(usage.contains("./--help"), usage.constData());
    QCOMPARE(program.ErrorOutput(), QByteArray());
}

void TestCommandLineFlags::flagsAmongOtherArgumentsAreNotFlags() {
    // With more words, "--help" is a file name as before, so the program wants a display.
    const TTempProgramDir programDir;
    TProgramRun program({":0", "--help"}, WithoutDisplay(programDir));
    QVERIFY(program.WaitForExit(30000));
    QCOMPARE(program.ExitCode(), 1);
    QCOMPARE(program.StandardOutput(), QByteArray());
    QVERIFY(program.ErrorOutput().contains("xvfb-run"));
}

void TestCommandLineFlags::fileNamedHelpUploadsWithDotSlash() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TTempProgramDir programDir;
    SaveServerConfig(SetupFor(server), {{"Autoclose", TSettingValue::Boolean(true)}});

    // The started program inherits this working directory, where "./--help" lives.
    const QTemporaryDir local;
    const QByteArray contents = "not a flag\n";
    QFile file(local.filePath("--help"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(local.path()));
    TProgramRun program({":0", "./--help"}, programDir.Environment());
    QDir::setCurrent(previous);
    QVERIFY(program.Started());
    QVERIFY(program.WaitForExit(60000));
    QCOMPARE(program.ExitCode(), 0);
    QVERIFY(!program.StandardOutput().contains("Usage"));

    QFile uploaded(server.LocalPath("--help"));
    QVERIFY2(uploaded.open(QIODevice::ReadOnly), qPrintable(uploaded.fileName()));
    QCOMPARE(uploaded.readAll(), contents);
}

QTEST_GUILESS_MAIN(TestCommandLineFlags)
#include "TestCommandLineFlags.moc"
