// Photos uploaded through the built program without their location and camera data: the
// segments that hold them are gone, the picture is the same to the byte, the photo on disk is
// untouched, and the history keeps the hash of what was sent.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "thumbs/Jpeg.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;
using namespace quaddle::test;

namespace {

// What exiftool reads of the photo: its tags, one "Name: value" a line.
QByteArray tagsOf(const QString& path) {
    QProcess exiftool;
    exiftool.start("exiftool", {"-s", "-G0", path});
    exiftool.waitForFinished(30000);
    return exiftool.readAllStandardOutput();
}

// A photo with a GPS position, a camera and an XMP creator, as a phone would leave them.
QString photoWithLocation(const QTemporaryDir& dir, const QString& name) {
    QImage image(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x ^ y) % 256));
    const QString path = localFile(dir, name, encodeJpeg(image, 90));
    QProcess exiftool;
    exiftool.start("exiftool", {"-q", "-overwrite_original", "-GPSLatitude=48.8584",
                                "-GPSLatitudeRef=N", "-GPSLongitude=2.2945", "-GPSLongitudeRef=E",
                                "-Model=Phone 12", "-XMP-dc:Creator=Someone", path});
    if (!exiftool.waitForFinished(30000) || exiftool.exitCode() != 0)
        qFatal("exiftool failed: %s", exiftool.readAllStandardError().constData());
    return path;
}

// The compressed picture: everything from the first start of scan on.
QByteArray scanOf(const QByteArray& jpeg) {
    return jpeg.mid(jpeg.indexOf(QByteArray("\xFF\xDA", 2)));
}

bool hasApp1(const QByteArray& jpeg) {
    const QByteArray head = jpeg.left(jpeg.indexOf(QByteArray("\xFF\xDA", 2)));
    return head.contains(QByteArray("\xFF\xE1", 2));
}

} // namespace

class TestPhotoMetadataE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void photosGoWithoutTheirLocation_data();
    void photosGoWithoutTheirLocation();
    void unreadablePhotoStaysHome();
};

void TestPhotoMetadataE2E::initTestCase() {
    QVERIFY2(!QStandardPaths::findExecutable("exiftool").isEmpty(),
             "exiftool is needed (scripts/install-deps --test)");
}

void TestPhotoMetadataE2E::photosGoWithoutTheirLocation_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("setting");
    QTest::addColumn<bool>("stripped");
    QTest::newRow("--strip-metadata")
        << QStringList{"--strip-metadata", "--thumbnails"} << false << true;
    QTest::newRow("StripMetadata on") << QStringList{} << true << true;
    QTest::newRow("off") << QStringList{"--thumbnails"} << false << false;
}

void TestPhotoMetadataE2E::photosGoWithoutTheirLocation() {
    QFETCH(QStringList, options);
    QFETCH(bool, setting);
    QFETCH(bool, stripped);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server), {{"StripMetadata", SettingValue::boolean(setting)}});
    const QTemporaryDir local;
    const QString photo = photoWithLocation(local, "photo.jpg");
    const QByteArray before = readFile(photo);
    QVERIFY(tagsOf(photo).contains("GPSLatitude"));
    // Not a JPEG, whatever it may hold: it goes as it is.
    const QString notes = localFile(local, "notes.txt", "\xFF\xE1 Exif");
    ProgramRun program(QStringList{"--cli"} + options + QStringList{":0", photo, notes},
                       programDir.environment());
    QVERIFY(program.waitForExit(60000));
    QVERIFY2(program.exitCode() == 0, program.errorOutput().constData());

    QCOMPARE(readFile(photo), before);
    QCOMPARE(readFile(server.localPath("notes.txt")), readFile(notes));
    const QByteArray sent = readFile(server.localPath("photo.jpg"));
    QCOMPARE(sent == before, !stripped);
    QCOMPARE(hasApp1(sent), !stripped);
    const QByteArray tags = tagsOf(server.localPath("photo.jpg"));
    for (const char* tag : {"GPSLatitude", "Phone 12", "Someone"})
        QVERIFY2(tags.contains(tag) == !stripped, tag);
    QCOMPARE(scanOf(sent), scanOf(before));
    QCOMPARE(decodeJpeg(sent), decodeJpeg(before));
    const QString thumbnail = server.localPath("photo_thumb.jpg");
    QCOMPARE(QFile::exists(thumbnail), options.contains("--thumbnails"));
    QVERIFY(!hasApp1(readFile(thumbnail)));

    ProgramRun history({"--cli", "--history=2", "--json"}, programDir.environment());
    QVERIFY(history.waitForExit(30000));
    const QByteArray newest = history.standardOutput().split('\n').value(1);
    QCOMPARE(QJsonDocument::fromJson(newest).object().value("sha256").toString().toLatin1(),
             QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex());
}

// A photo whose segments cannot be followed might hide its location anywhere: it is not sent.
void TestPhotoMetadataE2E::unreadablePhotoStaysHome() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server));
    const QTemporaryDir local;
    const QString broken =
        localFile(local, "broken.jpg", QByteArray("\xFF\xD8\xFF\xE1\x7F\xFF", 6));
    const QString notes = localFile(local, "notes.txt", "text");
    ProgramRun program({"--cli", "--strip-metadata", ":0", broken, notes},
                       programDir.environment());
    QVERIFY(program.waitForExit(60000));
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.errorOutput().contains("\"" + broken.toUtf8() +
                                           "\" could not be removed, so it was not uploaded."));
    QVERIFY(!QFile::exists(server.localPath("broken.jpg")));
    QVERIFY(QFile::exists(server.localPath("notes.txt")));
}

QTEST_GUILESS_MAIN(TestPhotoMetadataE2E)
#include "TestPhotoMetadataE2E.moc"
