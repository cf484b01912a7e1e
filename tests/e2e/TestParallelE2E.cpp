// Many files over several connections through the built program's command line, against real
// FTP servers: all arrive whole and are told in the order given, whatever the server allows.
#include "FtpServer.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace quaddle;
using namespace quaddle::test;

namespace {

QStringList makeFiles(const QTemporaryDir& dir, int count, qint64 size) {
    QStringList paths;
    for (int index = 0; index < count; ++index) {
        QFile file(dir.filePath(QString("f%1.bin").arg(index, 2, 10, QLatin1Char('0'))));
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

} // namespace

class TestParallelE2E : public QObject {
    Q_OBJECT

private slots:
    void filesArriveInOrder_data();
    void filesArriveInOrder();
    void interruptLeavesNoHalfFile();
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
    QStringList printed;
    for (const QByteArray& line : program.standardOutput().split('\n'))
        if (!line.isEmpty())
            printed.append(QString::fromUtf8(line).section('/', -1));
    QCOMPARE(printed, expected);
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

QTEST_GUILESS_MAIN(TestParallelE2E)
#include "TestParallelE2E.moc"
