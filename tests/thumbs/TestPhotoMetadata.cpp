#include "platform/Error.h"
#include "thumbs/PhotoMetadata.h"

#include <QTest>
#include <QtEndian>

using namespace quaddle;

// The walks that take the location and camera data out of JPEG, PNG, WebP and GIF files: which
// parts go, which stay, what stands in for the orientation, and the files refused rather than
// guessed at.
class TestPhotoMetadata : public QObject {
    Q_OBJECT

private slots:
    void jpegKeepsOnlyThePicture_data();
    void jpegKeepsOnlyThePicture();
    void chunksOfOtherFormats_data();
    void chunksOfOtherFormats();
    void kindIsToldByContent_data();
    void kindIsToldByContent();
};

namespace {

QByteArray segment(uchar marker, const QByteArray& body) {
    const qsizetype length = body.size() + 2;
    return QByteArray("\xFF", 1) + char(marker) + char(length >> 8) + char(length & 0xFF) + body;
}

const QByteArray Start("\xFF\xD8", 2);
const QByteArray Scan =
    segment(0xDA, "scan header") + QByteArray("\x12\xFF\x00\x34\xFF\xD0\x56\xFF\xD9", 9);
const QByteArray Jfif = segment(0xE0, QByteArray("JFIF\0\x01\x02", 7));
const QByteArray Ciff = segment(0xE0, "CIFF camera");
const QByteArray Exif = segment(0xE1, QByteArray("Exif\0\0GPS 48.8584 N", 19));
const QByteArray Xmp = segment(0xE1, "http://ns.adobe.com/xap/1.0/ creator");
const QByteArray Icc = segment(0xE2, QByteArray("ICC_PROFILE\0\x01\x01", 14));
const QByteArray Tables = segment(0xDB, "quantisation") + segment(0xC0, "frame");

} // namespace

namespace {

// EXIF data, as TIFF, with IFD0 holding a camera make and the orientation, in either byte order.
QByteArray tiffWithOrientation(bool bigEndian, quint16 orientation) {
    QByteArray tiff(bigEndian ? "MM" : "II");
    auto u16 = [&](quint16 value) {
        const char high = char(value >> 8);
        const char low = char(value & 0xFF);
        tiff.append(bigEndian ? high : low).append(bigEndian ? low : high);
    };
    auto u32 = [&](quint32 value) {
        u16(quint16(bigEndian ? value >> 16 : value));
        u16(quint16(bigEndian ? value : value >> 16));
    };
    u16(42);
    u32(8);
    u16(2);
    u16(0x010F); // Make, text of 4 bytes
    u16(2);
    u32(4);
    tiff.append("Cam", 4);
    u16(0x0112); // Orientation, 1 short
    u16(3);
    u32(1);
    u16(orientation);
    u16(0);
    u32(0);
    return tiff;
}

// What the program puts in place of the EXIF data: the orientation alone.
QByteArray onlyOrientation(char orientation) {
    return QByteArray("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) + orientation +
           QByteArray(6, '\0');
}

const QByteArray Mpf = segment(0xE2, QByteArray("MPF\0MM\0*", 8));
const QByteArray Iptc = segment(0xED, "Photoshop 3.0 City Paris");
const QByteArray Note = segment(0xFE, "Taken at home");
const QByteArray Adobe = segment(0xEE, "Adobe colour transform");
const QByteArray Maker = segment(0xEC, "Ducky camera");
const QByteArray Huffman = segment(0xC4, "huffman");
// A second scan whose compressed data holds stuffed bytes, a restart and fill bytes.
const QByteArray Scan2 = segment(0xDA, "second") + QByteArray("\x01\xFF\x00\xFF\xD3\x02", 6);
const QByteArray End("\xFF\xD9", 2);

QByteArray exifSegment(bool bigEndian, quint16 orientation) {
    return segment(0xE1, QByteArray("Exif\0\0", 6) + tiffWithOrientation(bigEndian, orientation));
}

} // namespace

void TestPhotoMetadata::jpegKeepsOnlyThePicture_data() {
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<QByteArray>("kept");
    const QByteArray picture = Tables + Huffman + Scan;
    const QByteArray upright = segment(0xE1, QByteArray("Exif\0\0", 6) + onlyOrientation(6));
    QTest::newRow("IPTC, comments, makers' data and the picture index go")
        << Start + Jfif + Ciff + Iptc + Note + Maker + Mpf + Icc + Adobe + picture
        << Start + Jfif + Icc + Adobe + picture;
    QTest::newRow("a preview in the header goes, with the EXIF inside it")
        << Start + Jfif + segment(0xE0, QByteArray("JFXX\0\x10", 6) + Start + Exif + End) + picture
        << Start + Jfif + picture;
    QTest::newRow("a second picture after the first goes")
        << Start + Mpf + picture + Start + Exif + picture << Start + picture;
    QTest::newRow("orientation stays, big-endian")
        << Start + Jfif + exifSegment(true, 6) + picture << Start + Jfif + upright + picture;
    QTest::newRow("orientation stays, little-endian, no JFIF")
        << Start + Ciff + Xmp + exifSegment(false, 6) + picture << Start + upright + picture;
    QTest::newRow("an orientation out of range goes")
        << Start + exifSegment(true, 9) + picture << Start + picture;
    QTest::newRow("a comment between the scans goes, the scans stay")
        << Start + picture.chopped(2) + Note + Huffman + Scan2 + End
        << Start + picture.chopped(2) + Huffman + Scan2 + End;
    QTest::newRow("a picture cut short in its scan keeps what it has")
        << Start + Iptc + Tables + segment(0xDA, "h") + "\x11\x22"
        << Start + Tables + segment(0xDA, "h") + "\x11\x22";
    QTest::newRow("a picture starting inside another") << Start + Start + picture << QByteArray();
    QTest::newRow("EXIF and XMP go, colour profile stays")
        << Start + Jfif + Exif + Icc + Xmp + Tables + Scan << Start + Jfif + Icc + Tables + Scan;
    QTest::newRow("fill bytes before a marker")
        << Start + QByteArray("\xFF\xFF", 2) + Exif + Tables + Scan << Start + Tables + Scan;
    QTest::newRow("nothing to take") << Start + Tables + Scan << Start + Tables + Scan;
    QTest::newRow("what follows the picture goes")
        << Start + Tables + Scan + Exif << Start + Tables + Scan;
    QTest::newRow("segment longer than the file") << Start + Exif.left(10) << QByteArray();
    QTest::newRow("no marker where one must be") << Start + "xx" + Tables + Scan << QByteArray();
    QTest::newRow("ends before the picture") << Start + Jfif << QByteArray();
    QTest::newRow("no JPEG") << QByteArray("\x89PNG\r\n", 6) << QByteArray();
}

void TestPhotoMetadata::jpegKeepsOnlyThePicture() {
    QFETCH(QByteArray, jpeg);
    QFETCH(QByteArray, kept);
    try {
        QCOMPARE(jpegWithoutMetadata(jpeg), kept);
        QVERIFY(!kept.isEmpty());
    } catch (const Error& error) {
        QVERIFY2(kept.isEmpty(), qPrintable(error.message()));
        QVERIFY(error.message().startsWith("The JPEG file's structure cannot be read: "));
    }
}

namespace {

QByteArray be32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray le32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// A PNG chunk; its check sum is not looked at, so any will do.
QByteArray pngChunk(const char* name, const QByteArray& data) {
    return be32(quint32(data.size())) + name + data + "CRC!";
}

QByteArray webpChunk(const char* name, QByteArray data) {
    const qsizetype size = data.size();
    if (size % 2)
        data.append('\0');
    return name + le32(quint32(size)) + data;
}

QByteArray riff(const QByteArray& chunks) {
    return "RIFF" + le32(quint32(chunks.size() + 4)) + "WEBP" + chunks;
}

QByteArray vp8x(uchar flags) {
    return webpChunk("VP8X", char(flags) + QByteArray(9, '\x01'));
}

QByteArray gifBlock(char label, const QByteArray& data) {
    return QByteArray("\x21") + label + char(data.size()) + data + '\0';
}

} // namespace

void TestPhotoMetadata::chunksOfOtherFormats_data() {
    QTest::addColumn<QByteArray>("photo");
    QTest::addColumn<QByteArray>("kept"); // empty: refused
    const QByteArray png("\x89PNG\r\n\x1A\n", 8);
    const QByteArray header = pngChunk("IHDR", QByteArray(13, '\x01'));
    const QByteArray idat = pngChunk("IDAT", "pixels") + pngChunk("IEND", "");
    const QByteArray looks = pngChunk("gAMA", "gama") + pngChunk("iCCP", "icc");
    QTest::newRow("PNG texts, times and unknown chunks go")
        << png + header + pngChunk("tEXt", "Make\0Cam") + looks + pngChunk("iTXt", "XML:xmp") +
               pngChunk("zTXt", "z") + pngChunk("tIME", "1234567") + pngChunk("caBX", "c") + idat +
               "trailing"
        << png + header + looks + idat;
    QTest::newRow("PNG orientation alone stays, before the image data")
        << png + header + pngChunk("PLTE", "rgb") +
               pngChunk("eXIf", tiffWithOrientation(false, 6)) + idat
        << png + header + pngChunk("eXIf", onlyOrientation(6)) + pngChunk("PLTE", "rgb") + idat;
    QTest::newRow("PNG without its header") << png + idat << QByteArray();
    QTest::newRow("PNG chunk longer than the file")
        << png + header + be32(999) + "IDAT" + "short" << QByteArray();
    QTest::newRow("PNG without its end") << png + header + pngChunk("IDAT", "x") << QByteArray();
    QTest::newRow("PNG chunk without a name")
        << png + header + pngChunk("I\x01AT", "x") + idat << QByteArray();

    const QByteArray image = webpChunk("VP8L", "lossless");
    QTest::newRow("WebP EXIF, XMP and unknown chunks go, the flags and size follow")
        << riff(vp8x(0x3C) + webpChunk("ICCP", "icc") + image + webpChunk("EXIF", "Exif") +
                webpChunk("XMP ", "xmp") + webpChunk("JUNK", "j")) +
               "trailing"
        << riff(vp8x(0x30) + webpChunk("ICCP", "icc") + image);
    QTest::newRow("WebP orientation alone stays")
        << riff(vp8x(0x0C) + image + webpChunk("EXIF", tiffWithOrientation(true, 6)))
        << riff(vp8x(0x08) + image + webpChunk("EXIF", onlyOrientation(6)));
    QTest::newRow("WebP simple") << riff(image) << riff(image);
    QTest::newRow("WebP longer than the file") << riff(image).chopped(3) << QByteArray();
    QTest::newRow("WebP chunk longer than the file")
        << riff(vp8x(0) + "VP8L" + le32(99) + "x") << QByteArray();

    const QByteArray screen = QByteArray("GIF89a\x02\0\x02\0\x80\0\0", 13) + "abcdef";
    const QByteArray frame = QByteArray("\x2C\0\0\0\0\x02\0\x02\0\0\x02\x02\x44\x01\0", 15);
    const QByteArray loop = gifBlock('\xFF', "NETSCAPE2.0");
    const QByteArray timing = gifBlock('\xF9', "time");
    QTest::newRow("GIF comments and XMP go, loops and timing stay")
        << screen + loop + gifBlock('\xFE', "Taken at home") + gifBlock('\xFF', "XMP DataXMP") +
               timing + frame + ";" + "trailing"
        << screen + loop + timing + frame + ";";
    QTest::newRow("GIF cut short") << screen + timing + frame.chopped(1) << QByteArray();
    QTest::newRow("GIF unknown block") << screen + "?" + frame + ";" << QByteArray();
}

void TestPhotoMetadata::chunksOfOtherFormats() {
    QFETCH(QByteArray, photo);
    QFETCH(QByteArray, kept);
    try {
        QByteArray stripped = photoWithoutMetadata(photoKindOf(photo), photo);
        QVERIFY(!kept.isEmpty());
        // The new chunk's check sum is checked end to end, with zlib's.
        const qsizetype checkSum = kept.indexOf("eXIf") + 4 + 26;
        if (checkSum > 30 && stripped.size() >= checkSum + 4)
            stripped.replace(checkSum, 4, "CRC!");
        QCOMPARE(stripped, kept);
    } catch (const Error& error) {
        QVERIFY2(kept.isEmpty(), qPrintable(error.message()));
        QVERIFY(error.message().contains("file's structure cannot be read: "));
    }
}

void TestPhotoMetadata::kindIsToldByContent_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<PhotoKind>("kind");
    QTest::newRow("JPEG") << QByteArray("\xFF\xD8\xFF\xE1", 4) << PhotoKind::Jpeg;
    QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1A\n\0\0", 10) << PhotoKind::Png;
    QTest::newRow("WebP") << QByteArray("RIFF\0\0\0\0WEBPVP8X", 16) << PhotoKind::WebP;
    QTest::newRow("WAVE") << QByteArray("RIFF\0\0\0\0WAVEfmt ", 16) << PhotoKind::Plain;
    QTest::newRow("GIF") << QByteArray("GIF89a") << PhotoKind::Gif;
    QTest::newRow("HEIC") << QByteArray("\0\0\0\x18"
                                        "ftypheic",
                                        12)
                          << PhotoKind::Unstrippable;
    QTest::newRow("AVIF") << QByteArray("\0\0\0\x1C"
                                        "ftypavif",
                                        12)
                          << PhotoKind::Unstrippable;
    QTest::newRow("TIFF, DNG, NEF") << QByteArray("II*\0\x08\0\0\0", 8) << PhotoKind::Unstrippable;
    QTest::newRow("TIFF big-endian") << QByteArray("MM\0*\0\0\0\x08", 8) << PhotoKind::Unstrippable;
    QTest::newRow("BigTIFF") << QByteArray("II+\0\x08\0\0\0", 8) << PhotoKind::Unstrippable;
    QTest::newRow("QuickTime") << QByteArray("\0\0\0\x08wide", 8) << PhotoKind::Unstrippable;
    QTest::newRow("ORF big-endian") << QByteArray("MMOR\0\0\0\x08") << PhotoKind::Unstrippable;
    QTest::newRow("JPEG XR") << QByteArray("II\xBC\x01\x08\0\0\0", 8) << PhotoKind::Unstrippable;
    QTest::newRow("JNG") << QByteArray("\x8BJNG\r\n\x1A\n", 8) << PhotoKind::Unstrippable;
    QTest::newRow("MNG") << QByteArray("\x8AMNG\r\n\x1A\n", 8) << PhotoKind::Unstrippable;
    QTest::newRow("RAF") << QByteArray("FUJIFILMCCD-RAW ") << PhotoKind::Unstrippable;
    QTest::newRow("JPEG XL") << QByteArray("\0\0\0\x0CJXL \r\n", 10) << PhotoKind::Unstrippable;
    QTest::newRow("MM text") << QByteArray("MM is a name") << PhotoKind::Plain;
    QTest::newRow("BMP") << QByteArray("BM\x36\0\0\0\0\0", 8) << PhotoKind::Plain;
    QTest::newRow("text") << QByteArray("II and ftyp") << PhotoKind::Plain;
    QTest::newRow("empty") << QByteArray() << PhotoKind::Plain;
}

void TestPhotoMetadata::kindIsToldByContent() {
    QFETCH(QByteArray, head);
    QFETCH(PhotoKind, kind);
    QCOMPARE(photoKindOf(head), kind);
}

QTEST_GUILESS_MAIN(TestPhotoMetadata)
#include "TestPhotoMetadata.moc"
