// Photos uploaded through the built program without their location and camera data: the
// segments and chunks that hold them are gone (as exiftool reads what arrived), the picture is
// the same to the byte and still upright, the photo on disk is untouched, formats that cannot be
// stripped stay home, and the history keeps the hash of what was sent.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "thumbs/Jpeg.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <array>

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

// Runs a tool the test needs and gives its output; a failure ends the test run.
QByteArray run(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(tool), process.readAllStandardError().constData());
    return process.readAllStandardOutput();
}

void writeTags(const QString& path, const QStringList& tags) {
    run("exiftool", QStringList{"-q", "-overwrite_original"} + tags + QStringList{path});
}

QImage pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x ^ y) % 256));
    return image;
}

const QStringList Location = {"-GPSLatitude=48.8584", "-GPSLatitudeRef=N", "-GPSLongitude=2.2945",
                              "-GPSLongitudeRef=E"};

// A photo with a GPS position, a camera and an XMP creator, as a phone would leave them.
QString photoWithLocation(const QTemporaryDir& dir, const QString& name) {
    const QString path = localFile(dir, name, encodeJpeg(pattern(320, 240), 90));
    writeTags(path, Location + QStringList{"-Model=Phone 12", "-XMP-dc:Creator=Someone"});
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
    void everyFormatLosesItsLocation_data();
    void everyFormatLosesItsLocation();
    void unstrippableFormatsStayHome();
};

void TestPhotoMetadataE2E::initTestCase() {
    for (const QString& tool : QStringList{"exiftool", "cwebp", "dwebp"})
        QVERIFY2(
            !QStandardPaths::findExecutable(tool).isEmpty(),
            qPrintable(QStringLiteral("%1 is needed (scripts/install-deps --test)").arg(tool)));
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

namespace {

// What each photo below was given and must not arrive with: place, camera, people and notes.
const QList<QByteArray> Telling = {"GPS",      "48 deg", "Maker",   "Phone 12",      "Lyon",
                                   "Old Town", "France", "Someone", "Taken at home", "Second"};

// The JPEG picture itself: the compressed data of its scans, up to its end.
QByteArray jpegPicture(const QByteArray& jpeg) {
    const qsizetype scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    return jpeg.mid(scan, jpeg.indexOf(QByteArray("\xFF\xD9", 2), scan) + 2 - scan);
}

// A multi-picture index that says the file holds a first picture of firstSize bytes, with the
// index right after its start, and a second one right after it.
QByteArray pictureIndex(quint32 firstSize, quint32 secondSize) {
    QByteArray index("\xFF\xE2\0\x58MPF\0MM\0*\0\0\0\x08\0\x03", 18);
    auto u16 = [&](quint16 value) { index.append(char(value >> 8)).append(char(value & 0xFF)); };
    auto u32 = [&](quint32 value) { u16(quint16(value >> 16)), u16(quint16(value)); };
    const quint32 header = 10; // where the offsets count from: the index's "MM"
    const QList<std::array<quint32, 4>> entries = {
        {0xB000, 7, 4, 0x30313030}, {0xB001, 4, 1, 2}, {0xB002, 7, 32, 50}};
    for (const auto& [tag, type, count, value] : entries) {
        u16(quint16(tag));
        u16(quint16(type));
        u32(count);
        u32(value);
    }
    u32(0);
    const QList<std::array<quint32, 3>> pictures = {{0x20030000, firstSize, 0},
                                                    {0x00010001, secondSize, firstSize - header}};
    for (const auto& [kind, size, offset] : pictures) {
        u32(kind);
        u32(size);
        u32(offset);
        u32(0);
    }
    return index;
}

// A small picture with a place and a camera of its own, as cameras add for previews.
QByteArray secondPicture(const QTemporaryDir& dir) {
    const QString second = localFile(dir, "second.jpg", encodeJpeg(pattern(64, 48), 80));
    writeTags(second, Location + QStringList{"-Make=Second Maker"});
    return readFile(second);
}

// The JPEG with a second picture after it and the index that tells where it is.
void appendSecondPicture(const QTemporaryDir& dir, const QString& path) {
    const QByteArray tail = readFile(path).sliced(2);
    const QByteArray secondBytes = secondPicture(dir);
    const QByteArray index =
        pictureIndex(quint32(2 + 90 + tail.size()), quint32(secondBytes.size()));
    localFile(dir, QFileInfo(path).fileName(), "\xFF\xD8" + index + tail + secondBytes);
}

// The JPEG with a second picture inside a JFXX extension, right after its JFIF segment.
void insertHeaderPreview(const QTemporaryDir& dir, const QString& path) {
    const QByteArray jpeg = readFile(path);
    QVERIFY(jpeg.startsWith("\xFF\xD8\xFF\xE0"));
    const qsizetype jfifEnd = 4 + qFromBigEndian<quint16>(jpeg.constData() + 4);
    const QByteArray body = QByteArray("JFXX\0\x10", 6) + secondPicture(dir);
    QByteArray preview("\xFF\xE0\0\0", 4);
    qToBigEndian<quint16>(quint16(body.size() + 2), preview.data() + 2);
    localFile(dir, QFileInfo(path).fileName(),
              jpeg.first(jfifEnd) + preview + body + jpeg.sliced(jfifEnd));
}

const QByteArray TinyGif("GIF89a\x01\0\x01\0\x80\0\0\xFF\xFF\xFF\0\0\0!\xF9\x04\x01\0\0\0\0,"
                         "\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;",
                         43);

// A photo of the format with a place and the tags exiftool writes.
QString photoWith(const QTemporaryDir& dir, const QString& format, const QStringList& tags) {
    const QString path = dir.filePath("photo." + format);
    if (format == "jpg") {
        localFile(dir, "photo.jpg", encodeJpeg(pattern(320, 240), 90));
    } else if (format == "gif") {
        localFile(dir, "photo.gif", TinyGif);
    } else {
        const QString png = dir.filePath("source.png");
        pattern(64, 48).save(png, "PNG");
        if (format == "png")
            QFile::rename(png, path);
        else
            run("cwebp", {"-quiet", "-lossless", png, "-o", path});
    }
    writeTags(path, Location + tags);
    // Compressed too: a zTXt and a compressed iTXt.
    if (format == "png")
        run("exiftool", {"-q", "-overwrite_original", "-z", "-PNG:Author=Someone",
                         "-XMP-photoshop:City=Lyon", path});
    return path;
}

// The chunks of a PNG file whose check sums are wrong, as zlib reckons them.
QByteArray badPngChecksums(const QString& path) {
    return run("python3", {"-c",
                           "import struct,sys,zlib\n"
                           "d=open(sys.argv[1],'rb').read()[8:]\n"
                           "while d:\n"
                           " n,=struct.unpack('>I',d[:4])\n"
                           " if zlib.crc32(d[4:8+n])!=struct.unpack('>I',d[8+n:12+n])[0]:"
                           "print(d[4:8])\n"
                           " d=d[12+n:]\n",
                           path});
}

// The picture itself as its format compresses it: PNG's image data, WebP's bitstream.
QByteArray chunkData(const QByteArray& file, const QByteArray& name) {
    const qsizetype at = file.indexOf(name);
    if (at < 0)
        return {};
    const bool riff = file.startsWith("RIFF");
    const quint32 size = riff ? qFromLittleEndian<quint32>(file.constData() + at + 4)
                              : qFromBigEndian<quint32>(file.constData() + at - 4);
    return file.mid(at + (riff ? 8 : 4), size);
}

QByteArray compressedPicture(const QString& format, const QByteArray& file) {
    if (format == "jpg")
        return jpegPicture(file);
    if (format == "png")
        return chunkData(file, "IDAT");
    if (format == "webp")
        return chunkData(file, "VP8L");
    // The one frame, at the top left, one pixel big.
    return file.mid(file.lastIndexOf(QByteArray(",\0\0\0\0\x01\0\x01\0", 9)));
}

// The pixels, decoded by a program other than the one under test where one is at hand.
QByteArray pixelsOf(const QString& path) {
    if (path.endsWith(".webp"))
        return run("dwebp", {"-quiet", "-pam", path, "-o", "-"});
    const QImage image(path);
    return QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
}

} // namespace

void TestPhotoMetadataE2E::everyFormatLosesItsLocation_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<bool>("second");
    QTest::addColumn<bool>("preview");
    QTest::addColumn<bool>("turned");
    const QStringList camera = {"-Make=Maker", "-Model=Phone 12", "-XMP-dc:Creator=Someone"};
    const QStringList turned = camera + QStringList{"-Orientation#=6"};
    QTest::newRow("JPEG with a second picture") << "jpg" << camera << true << false << false;
    QTest::newRow("JPEG with a preview in its header") << "jpg" << camera << false << true << false;
    QTest::newRow("JPEG with IPTC and a comment")
        << "jpg"
        << QStringList{"-IPTC:City=Lyon", "-IPTC:Sub-location=Old Town",
                       "-IPTC:Country-PrimaryLocationName=France", "-IPTC:By-line=Someone",
                       "-Comment=Taken at home"}
        << false << false << false;
    QTest::newRow("JPEG turned") << "jpg" << turned << false << false << true;
    QTest::newRow("PNG with EXIF, XMP and texts, turned")
        << "png" << turned + QStringList{"-PNG:Comment=Taken at home"} << false << false << true;
    QTest::newRow("WebP with EXIF and XMP, turned") << "webp" << turned << false << false << true;
    QTest::newRow("GIF with XMP and a comment")
        << "gif" << QStringList{"-XMP-dc:Creator=Someone", "-Comment=Taken at home"} << false
        << false << false;
}

void TestPhotoMetadataE2E::everyFormatLosesItsLocation() {
    QFETCH(QString, format);
    QFETCH(QStringList, tags);
    QFETCH(bool, second);
    QFETCH(bool, preview);
    QFETCH(bool, turned);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server));
    const QTemporaryDir local;
    const QString photo = photoWith(local, format, tags);
    // Taken before a preview goes in front of it.
    const QByteArray picture = compressedPicture(format, readFile(photo));
    if (second)
        appendSecondPicture(local, photo);
    if (preview)
        insertHeaderPreview(local, photo);
    const QByteArray before = readFile(photo);
    QCOMPARE(before.contains("Second Maker"), second || preview);
    const QByteArray tagsBefore = run("exiftool", {"-a", "-G1", "-s", "-ee", "-u", photo});
    QVERIFY(tagsBefore.contains("GPSLatitude"));
    QCOMPARE(tagsBefore.contains("Second Maker"), second);
    ProgramRun program({"--cli", "--strip-metadata", ":0", photo}, programDir.environment());
    QVERIFY(program.waitForExit(60000));
    QVERIFY2(program.exitCode() == 0, program.errorOutput().constData());

    QCOMPARE(readFile(photo), before);
    const QString arrived = server.localPath(QFileInfo(photo).fileName());
    const QByteArray sent = readFile(arrived);
    const QByteArray tagsAfter = run("exiftool", {"-a", "-G1", "-s", "-ee", "-u", arrived});
    for (const QByteArray& telling : Telling) {
        QVERIFY2(!tagsAfter.contains(telling), telling + " in\n" + tagsAfter);
        // Also where exiftool would not look, as after a picture the index no longer finds.
        QVERIFY2(telling == "GPS" || !sent.contains(telling), telling.constData());
    }
    QVERIFY2(!tagsAfter.contains("Warning") && !tagsAfter.contains("Error"), tagsAfter.constData());
    const QByteArray exif = run("exiftool", {"-a", "-G1", "-s", "-EXIF:all", arrived}).simplified();
    QCOMPARE(exif, turned ? QByteArray("[IFD0] Orientation : Rotate 90 CW") : QByteArray());
    QVERIFY(!compressedPicture(format, sent).isEmpty());
    QCOMPARE(compressedPicture(format, sent), picture);
    QCOMPARE(pixelsOf(arrived), pixelsOf(photo));
    if (format == "png")
        QCOMPARE(badPngChecksums(arrived), QByteArray());
}

// Formats that may hold a location where it cannot be taken out stay home, each with a word;
// files that cannot hold one go as they are.
void TestPhotoMetadataE2E::unstrippableFormatsStayHome() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server));
    const QTemporaryDir local;
    const QString heic = localFile(local, "IMG_0001.HEIC",
                                   QByteArray("\0\0\0\x18"
                                              "ftypheic\0\0\0\0mif1heic",
                                              24));
    // A TIFF of 8x1 pixels, which exiftool gives a place.
    const QString tiff = localFile(local, "scan.tif",
                                   QByteArray("II*\0\x08\0\0\0\x06\0"
                                              "\x00\x01\x03\0\x01\0\0\0\x08\0\0\0"
                                              "\x01\x01\x03\0\x01\0\0\0\x01\0\0\0"
                                              "\x06\x01\x03\0\x01\0\0\0\x01\0\0\0"
                                              "\x11\x01\x04\0\x01\0\0\0\x56\0\0\0"
                                              "\x16\x01\x03\0\x01\0\0\0\x01\0\0\0"
                                              "\x17\x01\x04\0\x01\0\0\0\x08\0\0\0"
                                              "\0\0\0\0"
                                              "\x10\x20\x30\x40\x50\x60\x70\x80",
                                              94));
    // A JNG header of 8x8 pixels, and a JPEG XR directory with its pixel format.
    const QString jng =
        localFile(local, "animation.jng",
                  QByteArray("\x8BJNG\r\n\x1A\n"
                             "\0\0\0\x10JHDR\0\0\0\x08\0\0\0\x08\x0A\x08\x08\0\0\0\0\0"
                             "\xA9\x38\0\x97"
                             "\0\0\0\0IEND\xAE\x42\x60\x82",
                             48));
    const QString jxr = localFile(local, "screen.jxr",
                                  QByteArray("II\xBC\x01\x08\0\0\0\x01\0"
                                             "\x01\xBC\x01\0\x10\0\0\0\x1A\0\0\0"
                                             "\0\0\0\0"
                                             "\x24\xC3\xDD\x6F\x03\x4E\xFE\x4B"
                                             "\xB1\x85\x3D\x77\x76\x8D\xC9\x0C",
                                             42));
    for (const QString& path : {tiff, jng, jxr}) {
        writeTags(path, Location);
        QVERIFY(run("exiftool", {"-s", path}).contains("GPSLatitude"));
    }
    QImage bitmap = pattern(8, 8);
    const QString bmp = local.filePath("drawing.bmp");
    QVERIFY(bitmap.save(bmp, "BMP"));
    const QString notes = localFile(local, "notes.txt", "Text: ftyp is only a word here");
    ProgramRun program({"--cli", "--strip-metadata", ":0", heic, tiff, jng, jxr, bmp, notes},
                       programDir.environment());
    QVERIFY(program.waitForExit(60000));
    QCOMPARE(program.exitCode(), 1);
    const QByteArray errors = program.errorOutput();
    for (const QString& kept : {heic, tiff, jng, jxr}) {
        QVERIFY2(errors.contains("\"" + kept.toUtf8() +
                                 "\": its location data could not be removed, so it was not "
                                 "uploaded."),
                 errors.constData());
        QVERIFY(!QFile::exists(server.localPath(QFileInfo(kept).fileName())));
    }
    for (const QString& sent : {bmp, notes})
        QCOMPARE(readFile(server.localPath(QFileInfo(sent).fileName())), readFile(sent));
}

QTEST_GUILESS_MAIN(TestPhotoMetadataE2E)
#include "TestPhotoMetadataE2E.moc"
