#include "platform/Error.h"
#include "thumbs/PhotoMetadata.h"

#include <QTest>

using namespace quaddle;

// The segment walk that takes the location and camera data out of a JPEG: which segments go,
// which stay, and the files it refuses rather than guess at.
class TestPhotoMetadata : public QObject {
    Q_OBJECT

private slots:
    void onlyApp1SegmentsGo_data();
    void onlyApp1SegmentsGo();
};

namespace {

QByteArray segment(uchar marker, const QByteArray& body) {
    const qsizetype length = body.size() + 2;
    return QByteArray("\xFF", 1) + char(marker) + char(length >> 8) + char(length & 0xFF) + body;
}

const QByteArray Start("\xFF\xD8", 2);
const QByteArray Scan =
    segment(0xDA, "scan header") + QByteArray("\x12\xFF\x00\x34\xFF\xD0\x56\xFF\xD9", 9);
const QByteArray Jfif = segment(0xE0, "JFIF");
const QByteArray Exif = segment(0xE1, QByteArray("Exif\0\0GPS 48.8584 N", 19));
const QByteArray Xmp = segment(0xE1, "http://ns.adobe.com/xap/1.0/ creator");
const QByteArray Icc = segment(0xE2, "ICC_PROFILE");
const QByteArray Tables = segment(0xDB, "quantisation") + segment(0xC0, "frame");

} // namespace

void TestPhotoMetadata::onlyApp1SegmentsGo_data() {
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<QByteArray>("kept"); // empty: refused
    QTest::newRow("EXIF and XMP go, colour profile stays")
        << Start + Jfif + Exif + Icc + Xmp + Tables + Scan << Start + Jfif + Icc + Tables + Scan;
    QTest::newRow("fill bytes before a marker")
        << Start + QByteArray("\xFF\xFF", 2) + Exif + Tables + Scan << Start + Tables + Scan;
    QTest::newRow("nothing to take") << Start + Tables + Scan << Start + Tables + Scan;
    QTest::newRow("an APP1 marker in the scan stays")
        << Start + Tables + Scan + Exif << Start + Tables + Scan + Exif;
    QTest::newRow("segment longer than the file") << Start + Exif.left(10) << QByteArray();
    QTest::newRow("no marker where one must be") << Start + "xx" + Tables + Scan << QByteArray();
    QTest::newRow("ends before the picture") << Start + Jfif << QByteArray();
    QTest::newRow("no JPEG") << QByteArray("\x89PNG\r\n", 6) << QByteArray();
}

void TestPhotoMetadata::onlyApp1SegmentsGo() {
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

QTEST_GUILESS_MAIN(TestPhotoMetadata)
#include "TestPhotoMetadata.moc"
