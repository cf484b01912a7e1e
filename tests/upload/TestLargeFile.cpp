#include "FtpServer.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadSession.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;
using quaddle::test::FtpServer;

// A file past 2 and 4 GiB offsets through the whole session and FTP driver: sizes and
// progress stay 64-bit, and the server gets every byte.
class TestLargeFile : public QObject {
    Q_OBJECT

private slots:
    void uploadsThreeGibibytes();
};

void TestLargeFile::uploadsThreeGibibytes() {
    const qint64 size = qint64(3) << 30;
    QTemporaryDir local;
    const QString path = local.filePath("large.bin");
    {
        // Sparse: zeros cost no disk. Marks around the 2 GiB boundary and at the end catch
        // blocks sent twice, skipped or cut by a 32-bit offset.
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        for (const qint64 at : {qint64(0), (qint64(1) << 31) - 1, qint64(1) << 31, size - 1}) {
            QVERIFY(file.seek(at));
            QVERIFY(file.putChar(char(0x5A + at % 7)));
        }
    }

    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::ScriptedDialogs dialogs;
    QList<qint64> progress;
    qint64 reportedSize = 0;
    UploadSession upload(
        [&](const QString&, qint64 fileSize, qint64 sent) {
            reportedSize = fileSize;
            progress.append(sent);
        },
        [](const QString&, int) {}, 0, PolicyOverwrite, false, standardDrivers(QString()));
    upload.driver().setOption(ProtocolDriver::PassiveMode);
    QVERIFY(upload.login("127.0.0.1", QString::number(server.port()), server.user(),
                         server.password()));
    QVERIFY(upload.enterDir(server.uploadDir(), false, false));
    const UploadResults results = upload.uploadFiles({{path, QString()}});

    QCOMPARE(results.size(), 1);
    QCOMPARE(reportedSize, size);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.first(), 0);
    QCOMPARE(progress.last(), size);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QCOMPARE(upload.bytesTotal(), size);
    QCOMPARE(upload.bytesDone(), size);
    const QString received = server.localPath("large.bin");
    QCOMPARE(QFileInfo(received).size(), size);
    QCOMPARE(test::fileChecksum(received), test::fileChecksum(path));
    QFile::remove(received);
}

QTEST_GUILESS_MAIN(TestLargeFile)
#include "TestLargeFile.moc"
