// Many files over several connections through the built program's command line, against real
// FTP servers: all arrive whole and are told in the order given, whatever the server allows;
// however the run ends, every file that arrived is told and recorded, and no temporary name
// stays behind.
#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace quaddle;
using namespace quaddle::test;

namespace {

// Files f00.bin, f01.bin, ... of random bytes, the first of size bytes, each next one a byte
// longer; those at the places in held are named hold01.bin, ... instead.
QStringList makeFiles(const QTemporaryDir& dir, int count, qint64 size,
                      const QList<int>& held = {}) {
    QStringList paths;
    for (int index = 0; index < count; ++index) {
        QFile file(dir.filePath(
            QString("%1%2.bin")
                .arg(held.contains(index) ? QStringLiteral("hold") : QStringLiteral("f"))
                .arg(index, 2, 10, QLatin1Char('0'))));
        QByteArray data(size + index, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()),
                                              data.size() / 4);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        paths.append(file.fileName());
    }
    return paths;
}

ServerSetup setupForRun(const FtpServer& server, bool tls) {
    ServerSetup setup = setupFor(server);
    setup.host = server.host();
    setup.rootDir = server.uploadDir();
    if (tls) {
        setup.type = "2";
        setup.trustedCert = server.certificateFingerprint();
    }
    return setup;
}

// The names of the local files at paths that arrived whole on the server, in their order.
QStringList arrivedWhole(const FtpServer& server, const QStringList& paths) {
    QStringList arrived;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        if (QFile::exists(server.localPath(name)) &&
            fileChecksum(server.localPath(name)) == fileChecksum(path))
            arrived.append(name);
    }
    return arrived;
}

// The file names of the addresses a run printed.
QStringList printedNames(ProgramRun& program) {
    QStringList printed;
    for (const QByteArray& line : program.standardOutput().split('\n'))
        if (!line.isEmpty())
            printed.append(QString::fromUtf8(line).section('/', -1));
    return printed;
}

} // namespace

class TestParallelE2E : public QObject {
    Q_OBJECT

private slots:
    void filesArriveInOrder_data();
    void filesArriveInOrder();
    void interruptLeavesNoHalfFile();
    void interruptTellsEveryFileThatArrived();
    void lostConnectionsLeaveNoTemporaryName_data();
    void lostConnectionsLeaveNoTemporaryName();
};

void TestParallelE2E::filesArriveInOrder_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("connections");
    // What log.txt must say.
    QTest::addColumn<QStringList>("logged");
    QTest::newRow("pyftpdlib, 4 connections")
        << "pyftpdlib" << 50 << 4 << QStringList{"[1] ", "[4] ", "50 files uploaded."};
    QTest::newRow("vsftpd with TLS, 4 connections")
        << "vsftpd-tls" << 50 << 4 << QStringList{"[1] ", "[4] ", "50 files uploaded."};
    QTest::newRow("server allowing 2 connections")
        << "maxcons2" << 20 << 4
        << QStringList{"The server allowed 2 of 4 connections; the run went on with 2."};
    // The second transfer of the run loses its connection; another takes the file.
    QTest::newRow("connection dropped mid-run")
        << "drop2" << 6 << 3 << QStringList{"goes again over another one", "6 files uploaded."};
    QTest::newRow("one connection") << "pyftpdlib" << 5 << 1 << QStringList{"5 files uploaded."};
}

void TestParallelE2E::filesArriveInOrder() {
    QFETCH(QString, server);
    QFETCH(int, files);
    QFETCH(int, connections);
    QFETCH(QStringList, logged);
    const bool tls = server == "vsftpd-tls";
    const std::unique_ptr<FtpServer> ftp =
        server == "pyftpdlib" ? std::make_unique<FtpServer>()
        : tls                 ? std::make_unique<FtpServer>(FtpServer::Kind::VsftpdTls)
                              : std::make_unique<FtpServer>(server);
    QUADDLE_REQUIRE_SERVER(*ftp);
    const TempProgramDir programDir;
    saveServerConfig(setupForRun(*ftp, tls), {{"Log", SettingValue::boolean(true)}});
    const QTemporaryDir local;
    const QStringList paths = makeFiles(local, files, 40000);
    ProgramRun program(QStringList{"--cli", QString("--connections=%1").arg(connections)} + paths,
                       programDir.environment());
    QVERIFY(program.waitForExit(120000));
    const QByteArray errors = program.errorOutput();
    QVERIFY2(program.exitCode() == 0, errors.constData());
    QStringList expected;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        QVERIFY2(fileChecksum(ftp->localPath(name)) == fileChecksum(path), qPrintable(name));
        expected.append(name);
    }
    QCOMPARE(printedNames(program), expected);
    const QString log = QString::fromUtf8(programDir.readFile("log.txt"));
    for (const QString& words : logged)
        QVERIFY2(log.contains(words), qPrintable(words));
    QVERIFY(!log.contains(ftp->password()));
}

// Stopped in the middle, a run with temporary names leaves under each real name either
// nothing or the whole file, and no temporary name.
void TestParallelE2E::interruptLeavesNoHalfFile() {
    FtpServer ftp;
    QUADDLE_REQUIRE_SERVER(ftp);
    const TempProgramDir programDir;
    saveServerConfig(setupForRun(ftp, false), {{"TempNames", SettingValue::boolean(true)}});
    const QTemporaryDir local;
    const QStringList paths = makeFiles(local, 8, 24 << 20);
    ProgramRun program(QStringList{"--cli", "--connections=4"} + paths, programDir.environment());
    QVERIFY(program.waitUntilCatchingSignals(30000));
    QTRY_VERIFY_WITH_TIMEOUT(QDir(ftp.localPath(".")).entryList({"*.part"}).size() >= 2, 60000);
    program.sendSignal(SIGINT);
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitCode(), 130);
    int whole = 0;
    for (const QString& path : paths) {
        const QString arrived = ftp.localPath(QFileInfo(path).fileName());
        if (!QFile::exists(arrived))
            continue;
        QCOMPARE(fileChecksum(arrived), fileChecksum(path));
        ++whole;
    }
    QVERIFY(whole < paths.size());
    // The temporary names on their way are removed over a connection of their own.
    QCOMPARE(QDir(ftp.localPath(".")).entryList({"*.part"}), QStringList());
}

// Interrupted while an early file waits, the files after it that arrived are printed, counted
// and recorded all the same.
void TestParallelE2E::interruptTellsEveryFileThatArrived() {
    FtpServer ftp("hold");
    QUADDLE_REQUIRE_SERVER(ftp);
    const TempProgramDir programDir;
    saveServerConfig(setupForRun(ftp, false), {{"TempNames", SettingValue::boolean(true)},
                                               {"History", SettingValue::boolean(true)},
                                               {"Log", SettingValue::boolean(true)}});
    const QTemporaryDir local;
    // The server keeps the second file and the last two waiting: once each of the three
    // connections waits on one, every other file has arrived.
    const QStringList paths = makeFiles(local, 14, 20000, {1, 12, 13});
    QProcessEnvironment environment = programDir.environment();
    environment.insert("QUADDLE_TEST_ANSWER_TIMEOUT_MS", "120000");
    ProgramRun program(QStringList{"--cli", "--connections=3"} + paths, environment);
    QVERIFY(program.waitUntilCatchingSignals(30000));
    QTRY_VERIFY_WITH_TIMEOUT(ftp.log().count("held ") == 3, 60000);
    program.sendSignal(SIGINT);
    QVERIFY(program.waitForExit(30000));
    QCOMPARE(program.exitCode(), 130);
    const QStringList arrived = arrivedWhole(ftp, paths);
    QCOMPARE(arrived.size(), 11);
    QCOMPARE(printedNames(program), arrived);
    QVERIFY(QString::fromUtf8(programDir.readFile("log.txt")).contains("11 files uploaded."));
    QProcess sqlite;
    sqlite.start("sqlite3",
                 {programDir.filePath("history.sqlite"), "SELECT name FROM uploads ORDER BY id"});
    QVERIFY(sqlite.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(sqlite.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             arrived);
    QCOMPARE(QDir(ftp.localPath(".")).entryList({"*.part"}), QStringList());
}

void TestParallelE2E::lostConnectionsLeaveNoTemporaryName_data() {
    QTest::addColumn<int>("connections");
    QTest::newRow("one connection") << 1;
    QTest::newRow("every one of three connections") << 3;
}

// The server drops each connection in the middle of a file: what went up under a temporary
// name is removed over a connection of its own, as after Cancel.
void TestParallelE2E::lostConnectionsLeaveNoTemporaryName() {
    QFETCH(int, connections);
    FtpServer ftp("closestor");
    QUADDLE_REQUIRE_SERVER(ftp);
    const TempProgramDir programDir;
    saveServerConfig(setupForRun(ftp, false), {{"TempNames", SettingValue::boolean(true)}});
    const QTemporaryDir local;
    const QStringList paths = makeFiles(local, 4, 1 << 20);
    ProgramRun program(QStringList{"--cli", QString("--connections=%1").arg(connections)} + paths,
                       programDir.environment());
    QVERIFY(program.waitForExit(120000));
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.errorOutput().contains("lost connection to the server"));
    QCOMPARE(arrivedWhole(ftp, paths), QStringList());
    QCOMPARE(QDir(ftp.localPath(".")).entryList({"*.part"}), QStringList());
}

QTEST_GUILESS_MAIN(TestParallelE2E)
#include "TestParallelE2E.moc"
