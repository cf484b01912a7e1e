#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "SshServer.h"
#include "TempProgramDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;
using namespace quaddle::test;

namespace {

QString RandomFile(const QTemporaryDir& dir, const QString& name, qint64 size) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
    file.write(data);
    return file.fileName();
}

} // namespace

class TestUploadE2E : public QObject {
    Q_OBJECT

private slots:
    void uploadsFromSelectorAndClosesByItself();
    void uploadsBySftp();
};

void TestUploadE2E::uploadsFromSelectorAndClosesByItself() {
    TFtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    QDir().mkpath(server.LocalPath("site/b"));
    const TTempProgramDir programDir;
    TServerSetup setup = SetupFor(server);
    setup.RootDir = "/site";
    setup.Folders = {"/a", "/b"};
    SaveServerConfig(setup, {{"Autoclose", TSettingValue::Boolean(true)},
                             {"Log", TSettingValue::Boolean(true)}});
    const QString config = programDir.FilePath("config.xml");
    QFile old(config);
    old.open(QIODevice::ReadWrite);
    old.setFileTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime);
    old.close();

    const QTemporaryDir local;
    const QString photo = RandomFile(local, "photo.png", 300000);
    const QString notes = RandomFile(local, "notes.txt", 1000);
    TProgramRun program({":0/1", photo, notes}, programDir.Environment());
    QVERIFY(program.Started());
    QVERIFY(program.WaitForExit(60000));
    QCOMPARE(program.ExitStatus(), QProcess::NormalExit);
    QCOMPARE(program.ExitCode(), 0);

    QCOMPARE(FileChecksum(server.LocalPath("site/b/photo.png")), FileChecksum(photo));
    QCOMPARE(FileChecksum(server.LocalPath("site/b/notes.txt")), FileChecksum(notes));
    const QByteArray log = programDir.ReadFile("log.txt");
    QVERIFY(log.contains("--> CWD ./b\t0\r\n"));
    QVERIFY(log.contains("--> (Password)\t0\r\n"));
    QVERIFY(!log.contains(server.Password().toUtf8()));
    QVERIFY(log.endsWith("2 files uploaded.\t0\r\n"));
    QVERIFY(QFileInfo(config).lastModified().date().year() > 2000);
    QVERIFY(programDir.ReadFile("config.xml").contains("Hostname=\"127.0.0.1\""));
}

void TestUploadE2E::uploadsBySftp() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    const TTempProgramDir programDir;
    server.WritePsftpWrapper(programDir.Path());
    // A key cache that knows the server, as after a first upload answered with OK.
    const QTemporaryDir home;
    QProcessEnvironment environment = programDir.Environment();
    environment.insert("HOME", home.path());
    {
        QFile password(home.filePath("pw"));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write(server.Password().toUtf8());
        password.close();
        QProcess seed;
        seed.setProcessEnvironment(environment);
        seed.setProcessChannelMode(QProcess::MergedChannels);
        seed.start("setsid", {programDir.FilePath("psftp"), "-pwfile", password.fileName(), "-l",
                              server.User(), "127.0.0.1"});
        QVERIFY(seed.waitForStarted());
        seed.write("y\n");
        QTRY_VERIFY_WITH_TIMEOUT(seed.readAll().contains("psftp> ") ||
                                     QFile::exists(home.filePath(".putty/sshhostkeys")),
                                 30000);
        seed.write("quit\n");
        QVERIFY(seed.waitForFinished(30000));
    }
    QVERIFY(QFile::exists(home.filePath(".putty/sshhostkeys")));

    TServerSetup setup;
    setup.Type = "1";
    setup.User = server.User();
    setup.Password = server.Password();
    setup.RootDir = server.Root();
    SaveServerConfig(setup, {{"Autoclose", TSettingValue::Boolean(true)},
                             {"Log", TSettingValue::Boolean(true)}});
    const QTemporaryDir local;
    const QString file = RandomFile(local, "report.pdf", 50000);
    TProgramRun program({":0", file}, environment);
    QVERIFY(program.Started());
    QVERIFY(program.WaitForExit(60000));
    QCOMPARE(program.ExitCode(), 0);
    QCOMPARE(FileChecksum(server.Root() + "/report.pdf"), FileChecksum(file));
    const QByteArray log = programDir.ReadFile("log.txt");
    QVERIFY(log.contains("1 files uploaded.\t0\r\n"));
    QVERIFY(!log.contains(server.Password().toUtf8()));
}

QTEST_GUILESS_MAIN(TestUploadE2E)
#include "TestUploadE2E.moc"
