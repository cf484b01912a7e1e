#include "platform/Error.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quaddle;

namespace {

const QRgb PictureColour = qRgb(40, 90, 160);

QImage filled(int width, int height, QRgb colour = PictureColour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray bitmapBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

int fileMode(const QString& path) {
    struct stat info = {};
    lstat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 07777);
}

// Another program cutting a file short while it is decoded: when set, that file is emptied at
// the first read, or, when it is mapped instead, once its size has been looked up again after
// the mapping.
std::atomic<const char*> cutPath = nullptr;
std::atomic<int> cutAfterSizeFd = -1;

template <typename Function> Function realFunction(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool isWatched(int fd) {
    const char* watched = cutPath.load();
    if (!watched || fd < 0)
        return false;
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length < 0)
        return false;
    target[length] = '\0';
    return std::strcmp(target, watched) == 0;
}

void cut() {
    if (truncate(cutPath.load(), 0) == 0)
        cutPath = nullptr;
}

void cutAfterSize(int fd) {
    if (fd >= 0 && cutAfterSizeFd.exchange(-1) == fd)
        cut();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The frame markers (SOFn) of a JPEG file; First is where the first one starts.
struct Frames {
    QList<int> markers;
    qsizetype first = -1;
};

Frames framesOf(const QByteArray& data) {
    Frames frames;
    for (qsizetype at = 2; at + 4 <= data.size() && uchar(data[at]) == 0xFF;) {
        const int marker = uchar(data[at + 1]);
        if (marker == 0xDA)
            break;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            frames.first = frames.markers.isEmpty() ? at : frames.first;
            frames.markers.append(marker);
        }
        at += 2 + qFromBigEndian<quint16>(data.constData() + at + 2);
    }
    return frames;
}

// A JPEG whose frame header claims another size, or a bitmap whose header does.
QByteArray jpegClaiming(quint16 width, quint16 height) {
    QByteArray jpeg = encodeJpeg(filled(16, 16), 90);
    const qsizetype frame = framesOf(jpeg).first;
    qToBigEndian(height, jpeg.data() + frame + 5);
    qToBigEndian(width, jpeg.data() + frame + 7);
    return jpeg;
}

QByteArray bitmapClaiming(qint32 width, qint32 height) {
    QByteArray bitmap = bitmapBytes(filled(16, 16));
    qToLittleEndian(width, bitmap.data() + 18);
    qToLittleEndian(height, bitmap.data() + 22);
    return bitmap;
}

// Detail everywhere, so that a pixel taken from the wrong place changes the thumbnail.
QImage patterned(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 251, y % 241, (x ^ y) % 256));
    return image;
}

bool isDark(QRgb pixel) {
    return qGray(pixel) < 128;
}

// The band is as high as the 8-point default font at 96 dpi, plus 2 pixels above and below.
int bandHeight() {
    QFont font = QGuiApplication::font();
    font.setPointSize(8);
    QImage probe(1, 1, QImage::Format_RGB32);
    probe.setDotsPerMeterX(3780);
    probe.setDotsPerMeterY(3780);
    return QFontMetrics(font, &probe).height() + 4;
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    if (isWatched(fd))
        cut();
    static const auto real = realFunction<ssize_t (*)(int, void*, size_t)>("read");
    return real(fd, buffer, size);
}

extern "C" void* mmap64(void* address, size_t length, int protection, int flags, int fd,
                        off64_t offset) noexcept {
    if (isWatched(fd))
        cutAfterSizeFd = fd;
    static const auto real =
        realFunction<void* (*)(void*, size_t, int, int, int, off64_t)>("mmap64");
    return real(address, length, protection, flags, fd, offset);
}

extern "C" int statx(int fd, const char* path, int flags, unsigned mask,
                     struct statx* buffer) noexcept {
    static const auto real =
        realFunction<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
    const int result = real(fd, path, flags, mask, buffer);
    cutAfterSize(fd);
    return result;
}

extern "C" int fstat64(int fd, struct stat64* buffer) noexcept {
    static const auto real = realFunction<int (*)(int, struct stat64*)>("fstat64");
    const int result = real(fd, buffer);
    cutAfterSize(fd);
    return result;
}

class TestThumbnail : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { removeMadeThumbnails(); }
    void namesAndSources_data();
    void namesAndSources();
    void namesKeepClearOfTheRunsFiles_data();
    void namesKeepClearOfTheRunsFiles();
    void sizes_data();
    void sizes();
    void nearestPixelSampling();
    void frameAndBand_data();
    void frameAndBand();
    void bandNamesTheSourceSize();
    void jpegIsBaselineColour_data();
    void jpegIsBaselineColour();
    void sameNameSharesOneThumbnail();
    void staleThumbnailReplaced();
    void brokenSourcesThrow_data();
    void brokenSourcesThrow();
    void fileCutWhileReadIsAnError();
    void thumbnailsArePrivateAndRemovedAtEnd();
    void folderMustBeTheUsersOwn_data();
    void folderMustBeTheUsersOwn();
    void runMatchesOneByOne_data();
    void runMatchesOneByOne();

private:
    QString writeSource(const QString& name, const QByteArray& bytes);
    QImage thumbnailOf(const QString& source, const ThumbnailOptions& options = {});
    void clearThumbnailDir() const;

    QTemporaryDir m_root;
};

void TestThumbnail::initTestCase() {
    QVERIFY(m_root.isValid());
    // Thumbnails land in the temporary directory; give this run its own.
    QVERIFY(QDir(m_root.path()).mkpath("tmp"));
    qputenv("TMPDIR", QFile::encodeName(m_root.filePath("tmp")));
    QCOMPARE(QDir::tempPath(), m_root.filePath("tmp"));
}

QString TestThumbnail::writeSource(const QString& name, const QByteArray& bytes) {
    const QString path = m_root.filePath("src/" + name);
    writeFile(path, bytes);
    return path;
}

QImage TestThumbnail::thumbnailOf(const QString& source, const ThumbnailOptions& options) {
    const QString path = makeThumbnail(source, options);
    if (path != thumbnailPath(source))
        return QImage();
    const QByteArray bytes = readFile(path);
    if (path.endsWith(".bmp"))
        return QImage::fromData(bytes, "BMP").convertToFormat(QImage::Format_RGB32);
    return decodeJpeg(bytes);
}

void TestThumbnail::namesAndSources_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("source");
    QTest::addColumn<QString>("thumbnail");
    QTest::newRow("upper-case extension") << "/pics/PIC.JPEG" << true << "PIC_thumb.jpeg";
    QTest::newRow("dots in the name") << "/pics/a.b.Jpg" << true << "a.b_thumb.jpg";
    QTest::newRow("bitmap") << "/pics/scan.Bmp" << true << "scan_thumb.bmp";
    QTest::newRow("gif") << "/pics/photo.gif" << false << "photo_thumb.gif";
    QTest::newRow("text") << "/pics/notes.txt" << false << "notes_thumb.txt";
    QTest::newRow("image extension earlier") << "/pics/a.jpg.txt" << false << "a.jpg_thumb.txt";
    QTest::newRow("folder named like an image") << "/pics.jpg/readme" << false << "readme_thumb";
}

void TestThumbnail::namesAndSources() {
    QFETCH(QString, path);
    QFETCH(bool, source);
    QFETCH(QString, thumbnail);
    QCOMPARE(isThumbnailSource(path), source);
    QCOMPARE(thumbnailPath(path),
             QDir::tempPath() + "/quaddle-" + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name) +
                 "-" + QString::number(QCoreApplication::applicationPid()) + "/" + thumbnail);
}

void TestThumbnail::namesKeepClearOfTheRunsFiles_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("no clash") << QStringList{"/p/a.jpg", "/p/b.txt"}
                              << QStringList{"a_thumb.jpg", ""};
    QTest::newRow("name of a later file") << QStringList{"/p/X.jpg", "/q/X_thumb.jpg"}
                                          << QStringList{"X_thumb_001.jpg", "X_thumb_thumb.jpg"};
    QTest::newRow("next name taken too")
        << QStringList{"/p/X.jpg", "/p/X_thumb.txt", "/p/X_thumb.jpg", "/p/X_thumb_001.jpg"}
        << QStringList{"X_thumb_002.jpg", "", "X_thumb_thumb.jpg", "X_thumb_001_thumb.jpg"};
    QTest::newRow("same source name twice")
        << QStringList{"/a/X.jpg", "/b/X.jpg"} << QStringList{"X_thumb.jpg", "X_thumb_001.jpg"};
    QTest::newRow("extension made lower-case")
        << QStringList{"/p/X.JPG", "/p/X_thumb.jpg"}
        << QStringList{"X_thumb_001.jpg", "X_thumb_thumb.jpg"};
    QTest::newRow("case tells names apart") << QStringList{"/p/X.jpg", "/p/x_thumb.jpg"}
                                            << QStringList{"X_thumb.jpg", "x_thumb_thumb.jpg"};
}

void TestThumbnail::namesKeepClearOfTheRunsFiles() {
    QFETCH(QStringList, paths);
    QFETCH(QStringList, names);
    FileList files;
    for (const QString& path : paths)
        files.append({path, QString()});
    QCOMPARE(thumbnailNames(files), names);
}

void TestThumbnail::sizes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("thumbnail");
    QTest::newRow("wide") << "wide.jpg" << QSize(3000, 1000) << QSize(300, 100);
    QTest::newRow("tall") << "tall.jpeg" << QSize(1000, 3000) << QSize(67, 200);
    QTest::newRow("small, not enlarged") << "small.bmp" << QSize(250, 150) << QSize(250, 150);
    QTest::newRow("width binds after height") << "both.bmp" << QSize(900, 400) << QSize(300, 133);
    QTest::newRow("2.5 rounds down to even") << "h5.bmp" << QSize(5, 400) << QSize(2, 200);
    QTest::newRow("3.5 rounds up to even") << "h7.bmp" << QSize(7, 400) << QSize(4, 200);
    QTest::newRow("half on the height") << "w5.bmp" << QSize(600, 5) << QSize(300, 2);
    QTest::newRow("side rounding to nothing keeps a pixel")
        << "thin.bmp" << QSize(1, 1000) << QSize(1, 200);
}

void TestThumbnail::sizes() {
    QFETCH(QString, name);
    QFETCH(QSize, source);
    QFETCH(QSize, thumbnail);
    const QImage image = filled(source.width(), source.height());
    const QImage made = thumbnailOf(
        writeSource(name, name.endsWith(".bmp") ? bitmapBytes(image) : encodeJpeg(image, 90)));
    QCOMPARE(made.size(), thumbnail);
    QVERIFY(isDark(made.pixel(0, 0)));
}

void TestThumbnail::nearestPixelSampling() {
    // Every source pixel has its own colour, so each thumbnail pixel tells where it came from.
    const int width = 97, height = 61;
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x, y, 77));
    const QImage made =
        thumbnailOf(writeSource("coded.bmp", bitmapBytes(image)), {20, 20, false, false});
    QCOMPARE(made.size(), QSize(20, 13));
    for (int y = 0; y < made.height(); ++y) {
        for (int x = 0; x < made.width(); ++x) {
            // Unblended, and the source pixel whose centre is nearest the target pixel's.
            const QRgb pixel = made.pixel(x, y);
            QCOMPARE(qBlue(pixel), 77);
            QVERIFY(std::abs(qRed(pixel) + 0.5 - (x + 0.5) * width / made.width()) <= 0.5);
            QVERIFY(std::abs(qGreen(pixel) + 0.5 - (y + 0.5) * height / made.height()) <= 0.5);
        }
    }
    QCOMPARE(thumbnailOf(writeSource("copy.bmp", bitmapBytes(image)), {300, 200, false, false}),
             image);

    // A JPEG, decoded row by row, is sampled alike: its thumbnail is the one its picture, as Qt's
    // own reader decodes it, gets as a bitmap, coded as JPEG.
    const QString jpeg = writeSource("coded.jpg", encodeJpeg(image, 90));
    const QImage viaBitmap = thumbnailOf(
        writeSource("decoded.bmp", bitmapBytes(QImage(jpeg).convertToFormat(QImage::Format_RGB32))),
        {20, 20, false, false});
    QCOMPARE(readFile(makeThumbnail(jpeg, {20, 20, false, false})), encodeJpeg(viaBitmap, 90));
}

void TestThumbnail::frameAndBand_data() {
    QTest::addColumn<bool>("info");
    QTest::addColumn<bool>("frame");
    QTest::newRow("band and frame") << true << true;
    QTest::newRow("band only") << true << false;
    QTest::newRow("frame only") << false << true;
    QTest::newRow("neither") << false << false;
}

void TestThumbnail::frameAndBand() {
    QFETCH(bool, info);
    QFETCH(bool, frame);
    const QImage made = thumbnailOf(writeSource("layout.bmp", bitmapBytes(filled(600, 200))),
                                    {300, 200, info, frame});
    QCOMPARE(made.size(), QSize(300, 100));
    const int w = made.width(), h = made.height();
    const int band = info ? bandHeight() : 0;
    QVERIFY(!info || (band >= 10 && band < h / 2));

    int textLeft = w, textRight = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb pixel = made.pixel(x, y);
            if (frame && (x == 0 || y == 0 || x == w - 1 || y == h - 1)) {
                QCOMPARE(pixel, qRgb(0, 0, 0));
            } else if (y < h - band) {
                QCOMPARE(pixel, PictureColour);
            } else if (y < h - band + 2 || y >= h - 2 || x < 20 || x >= w - 20) {
                QCOMPARE(pixel, qRgb(255, 255, 255));
            } else if (isDark(pixel)) {
                textLeft = std::min(textLeft, x);
                textRight = std::max(textRight, x);
            }
        }
    }
    if (info) {
        QVERIFY(textRight > textLeft + 20);
        QVERIFY2(std::abs(textLeft - (w - 1 - textRight)) <= 3,
                 qPrintable(QString("text in %1..%2").arg(textLeft).arg(textRight)));
    }
}

void TestThumbnail::bandNamesTheSourceSize() {
    // All three give 300 x 100; only the size written in the band tells the first two apart.
    const ThumbnailOptions bandOnly{300, 200, true, false};
    const QImage small =
        thumbnailOf(writeSource("s600.bmp", bitmapBytes(filled(600, 200))), bandOnly);
    const QImage large =
        thumbnailOf(writeSource("s900.bmp", bitmapBytes(filled(900, 300))), bandOnly);
    const QImage recoloured = thumbnailOf(
        writeSource("r600.bmp", bitmapBytes(filled(600, 200, qRgb(200, 0, 0)))), bandOnly);
    const QRect band(0, 100 - bandHeight(), 300, bandHeight());
    QCOMPARE(small.size(), large.size());
    QCOMPARE(small.copy(band), recoloured.copy(band));
    QVERIFY(small.copy(band) != large.copy(band));
}

void TestThumbnail::jpegIsBaselineColour_data() {
    QTest::addColumn<int>("colours");
    QTest::addColumn<QByteArray>("pixel");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("rgb") << int(JpegColours::Rgb) << QByteArray("\x28\x5A\xA0") << PictureColour;
    QTest::newRow("grey") << int(JpegColours::Grey) << QByteArray("\x64") << qRgb(100, 100, 100);
    QTest::newRow("cmyk, red ink")
        << int(JpegColours::Cmyk) << QByteArray("\x00\xFF\xFF\x00", 4) << qRgb(255, 0, 0);
    QTest::newRow("cmyk, half black")
        << int(JpegColours::Cmyk) << QByteArray("\x00\x00\x00\x80", 4) << qRgb(127, 127, 127);
    QTest::newRow("adobe cmyk, red ink")
        << int(JpegColours::AdobeCmyk) << QByteArray("\xFF\x00\x00\xFF", 4) << qRgb(255, 0, 0);
    QTest::newRow("adobe ycck, blue ink")
        << int(JpegColours::AdobeYcck) << QByteArray("\x00\x00\xFF\xFF", 4) << qRgb(0, 0, 255);
    QTest::newRow("adobe ycck, black ink")
        << int(JpegColours::AdobeYcck) << QByteArray("\xFF\xFF\xFF\x40", 4) << qRgb(64, 64, 64);
}

void TestThumbnail::jpegIsBaselineColour() {
    QFETCH(int, colours);
    QFETCH(QByteArray, pixel);
    QFETCH(QRgb, expected);
    const QString source = writeSource(
        QString("colours-%1.jpg").arg(QLatin1String(QTest::currentDataTag())),
        encodeJpegSamples(pixel.repeated(640 * 480), 640, 480, JpegColours(colours), 95));
    const QByteArray bytes = readFile(makeThumbnail(source, {}));
    const Frames frames = framesOf(bytes);
    QCOMPARE(frames.markers, QList<int>{0xC0});
    QCOMPARE(int(bytes[frames.first + 9]), 3); // components: colour even for grey sources
    const QImage made = decodeJpeg(bytes);
    QCOMPARE(made.size(), QSize(267, 200));
    const QRgb centre = made.pixel(100, 60);
    QVERIFY2(std::abs(qRed(centre) - qRed(expected)) <= 6 &&
                 std::abs(qGreen(centre) - qGreen(expected)) <= 6 &&
                 std::abs(qBlue(centre) - qBlue(expected)) <= 6,
             qPrintable(QString::number(centre, 16)));
}

void TestThumbnail::sameNameSharesOneThumbnail() {
    const QString first = writeSource("a/same.bmp", bitmapBytes(filled(600, 200)));
    const QString second = writeSource("b/same.bmp", bitmapBytes(filled(250, 150)));
    QCOMPARE(thumbnailPath(first), thumbnailPath(second));
    QCOMPARE(thumbnailOf(first).size(), QSize(300, 100));
    QCOMPARE(thumbnailOf(second).size(), QSize(250, 150));
    QCOMPARE(QImage(thumbnailPath(first)).size(), QSize(250, 150));
}

void TestThumbnail::staleThumbnailReplaced() {
    const QString source = writeSource("stale.jpg", encodeJpeg(filled(900, 600), 90));
    const QString target = thumbnailPath(source);
    writeFile(target, QByteArray(200000, 'x'));
    QCOMPARE(thumbnailOf(source).size(), QSize(300, 200));
    QVERIFY(readFile(target).startsWith("\xFF\xD8"));

    // A link left at the thumbnail's place is replaced, not written through.
    const QString victim = m_root.filePath("victim.txt");
    writeFile(victim, "keep me");
    QVERIFY(QFile::remove(target));
    QVERIFY(QFile::link(victim, target));
    makeThumbnail(source, {});
    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readFile(victim), QByteArray("keep me"));
}

void TestThumbnail::brokenSourcesThrow_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray jpeg = encodeJpeg(filled(400, 300), 90);
    const qsizetype frame = framesOf(jpeg).first;
    const QString any;
    const QString tooLarge = "The image is too large (";
    QTest::newRow("truncated jpeg") << "cut.jpg" << jpeg.left(jpeg.size() / 2) << any;
    QTest::newRow("jpeg headers only") << "head.jpg" << jpeg.left(frame + 40) << any;
    QTest::newRow("empty jpeg") << "empty.jpeg" << QByteArray() << any;
    QTest::newRow("bitmap named jpeg") << "bmp.jpg" << bitmapBytes(filled(4, 4)) << any;
    QTest::newRow("jpeg named bitmap") << "jpeg.bmp" << jpeg << any;
    QTest::newRow("bitmap header only") << "head.bmp" << bitmapBytes(filled(4, 4)).left(20) << any;
    QTest::newRow("jpeg of no width") << "nowidth.jpg" << jpegClaiming(0, 300) << any;
    QTest::newRow("jpeg, side too long") << "long.jpg" << jpegClaiming(40000, 8) << tooLarge;
    QTest::newRow("jpeg, too many pixels") << "many.jpg" << jpegClaiming(20000, 20000) << tooLarge;
    QTest::newRow("jpeg, largest header") << "huge.jpg" << jpegClaiming(65500, 65500) << tooLarge;
    QTest::newRow("bitmap, side too long") << "long.bmp" << bitmapClaiming(8, 40000) << tooLarge;
    QTest::newRow("bitmap, too many pixels")
        << "many.bmp" << bitmapClaiming(12000, -12000) << tooLarge;
    QTest::newRow("bitmap, beyond Qt's limit")
        << "huge.bmp" << bitmapClaiming(20000, 20000) << tooLarge;
}

void TestThumbnail::brokenSourcesThrow() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString source = writeSource(name, bytes);
    writeFile(thumbnailPath(source), "an older thumbnail");
    try {
        makeThumbnail(source, {});
        QFAIL("no error");
    } catch (const Error& error) {
        QVERIFY2(!error.message().isEmpty() && error.message().startsWith(message),
                 qPrintable(error.message()));
    }
    // The thumbnail of an earlier run stays until a new one is complete.
    QCOMPARE(readFile(thumbnailPath(source)), QByteArray("an older thumbnail"));
}

void TestThumbnail::fileCutWhileReadIsAnError() {
    const QByteArray jpeg = encodeJpeg(filled(800, 600), 90);
    const QString source = writeSource("cut-later.jpg", jpeg);
    const QByteArray path = QFile::encodeName(source);
    cutPath = path.constData();
    try {
        makeThumbnail(source, {});
        QFAIL("no error");
    } catch (const Error& error) {
        QVERIFY2(!error.message().isEmpty(), "empty message");
    }
    QVERIFY(!cutPath);
    QCOMPARE(QFileInfo(source).size(), 0);
}

void TestThumbnail::thumbnailsArePrivateAndRemovedAtEnd() {
    clearThumbnailDir(); // what earlier tests wrote themselves
    const mode_t umaskBefore = umask(0);
    const QString first =
        makeThumbnail(writeSource("own1.jpg", encodeJpeg(filled(40, 30), 90)), {});
    const QString second = makeThumbnail(writeSource("own2.bmp", bitmapBytes(filled(40, 30))), {});
    umask(umaskBefore);
    QCOMPARE(QFileInfo(first).path(), thumbnailDir());
    QCOMPARE(fileMode(thumbnailDir()), 0700);
    QCOMPARE(fileMode(first), 0600);
    QCOMPARE(fileMode(second), 0600);
    removeMadeThumbnails();
    QVERIFY(!QFileInfo::exists(first));
    QVERIFY(!QFileInfo::exists(thumbnailDir()));
    QVERIFY(QDir(QDir::tempPath()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void TestThumbnail::folderMustBeTheUsersOwn_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("refused");
    QTest::newRow("open to others") << "open" << false;
    QTest::newRow("someone else's") << "foreign" << true;
    QTest::newRow("link to a folder") << "link" << true;
    QTest::newRow("plain file") << "file" << true;
}

void TestThumbnail::folderMustBeTheUsersOwn() {
    QFETCH(QString, kind);
    QFETCH(bool, refused);
    const passwd* other = getpwnam("quaddle-test");
    if (kind == "foreign" && (!other || geteuid() != 0))
        QSKIP("needs root and the quaddle-test account");
    const QString dir = thumbnailDir();
    clearThumbnailDir();
    const QString elsewhere = m_root.filePath("elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    if (kind == "open" || kind == "foreign") {
        QVERIFY(QDir().mkdir(dir));
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::WriteOther |
                                               QFile::ExeOther));
        if (kind == "foreign")
            QCOMPARE(chown(QFile::encodeName(dir).constData(), other->pw_uid, other->pw_gid), 0);
    } else if (kind == "link") {
        QVERIFY(QFile::link(elsewhere, dir));
    } else {
        writeFile(dir, "not a folder");
    }
    const QString source = writeSource("private.jpg", encodeJpeg(filled(40, 30), 90));
    bool failed = false;
    try {
        makeThumbnail(source, {});
    } catch (const Error& error) {
        failed = error.message().contains(dir);
    }
    QCOMPARE(failed, refused);
    QVERIFY(QDir(elsewhere).isEmpty());
    if (!refused)
        QCOMPARE(fileMode(dir), 0700);
    removeMadeThumbnails();
    clearThumbnailDir();
}

void TestThumbnail::runMatchesOneByOne_data() {
    QTest::addColumn<int>("threads");
    QTest::addColumn<bool>("stopAtFirst");
    QTest::newRow("one thread") << 1 << false;
    QTest::newRow("every core") << 0 << false;
    QTest::newRow("more threads than cores") << 64 << false;
    QTest::newRow("stopped when the first is done") << 0 << true;
}

void TestThumbnail::runMatchesOneByOne() {
    QFETCH(int, threads);
    QFETCH(bool, stopAtFirst);
    const FileList files{
        {writeSource("run/broken.jpg", "\xFF\xD8\xFF\xE0 not really a picture"), "earlier"},
        {writeSource("run/wide.jpg", encodeJpeg(patterned(1600, 1000), 90)), QString()},
        {writeSource("run/notes.txt", "no picture"), QString()},
        {writeSource("run/a/same.jpg", encodeJpeg(patterned(1200, 1600), 90)), QString()},
        {writeSource("run/scan.bmp", bitmapBytes(patterned(900, 600))), QString()},
        {m_root.filePath("run/gone.jpg"), QString()},
        {writeSource("run/b/same.jpg", encodeJpeg(patterned(800, 600), 90)), QString()},
        {writeSource("run/small.bmp", bitmapBytes(patterned(200, 150))), QString()}};
    const QList<int> pictures{0, 1, 3, 4, 6, 7};
    const QStringList names = thumbnailNames(files);
    QCOMPARE(names[6], "same_thumb_001.jpg");

    // One by one, each alone, as the reference.
    QHash<int, QByteArray> alone;
    QString brokenMessage;
    for (const int index : pictures) {
        try {
            alone[index] = readFile(makeThumbnail(files[index].path, {}, names[index]));
        } catch (const Error& error) {
            brokenMessage = error.message();
        }
    }
    QCOMPARE(alone.size(), pictures.size() - 1);
    clearThumbnailDir();

    QStringList progress;
    QList<QStringList> failures;
    bool offThread = false;
    ThumbnailEvents events;
    events.progress = [&](qsizetype done, qsizetype count) {
        offThread |= QThread::currentThread() != thread();
        progress.append(QString("%1/%2").arg(done).arg(count));
        return !stopAtFirst || done == 0;
    };
    events.failed = [&](const QString& path, const QString& message) {
        offThread |= QThread::currentThread() != thread();
        failures.append({path, message});
    };
    FileList made = files;
    makeThumbnails(made, {}, events, threads);

    // Stopped, the run ends those begun before, which are the first as many as there are cores.
    const qsizetype begun = stopAtFirst
                                ? std::min<qsizetype>(QThread::idealThreadCount(), pictures.size())
                                : pictures.size();
    FileList expected = files;
    for (qsizetype place = 1; place < begun; ++place) {
        const int index = pictures[place];
        expected[index].thumbnail = QDir(thumbnailDir()).filePath(names[index]);
        QCOMPARE(readFile(expected[index].thumbnail), alone[index]);
    }
    for (qsizetype place = begun; place < pictures.size(); ++place)
        QVERIFY(!QFileInfo::exists(QDir(thumbnailDir()).filePath(names[pictures[place]])));
    QCOMPARE(made, expected);
    QCOMPARE(failures, (QList<QStringList>{{files[0].path, brokenMessage}}));
    QStringList expectedProgress;
    for (qsizetype done = 0; done <= (stopAtFirst ? 1 : pictures.size()); ++done)
        expectedProgress.append(QString("%1/%2").arg(done).arg(pictures.size()));
    QCOMPARE(progress, expectedProgress);
    QVERIFY(!offThread);
    removeMadeThumbnails();
}

void TestThumbnail::clearThumbnailDir() const {
    // Never anything outside this test's own folder.
    const QString dir = thumbnailDir();
    QVERIFY2(dir.startsWith(m_root.filePath("tmp/")), qPrintable(dir));
    if (QFileInfo(dir).isDir() && !QFileInfo(dir).isSymLink())
        QVERIFY(QDir(dir).removeRecursively());
    else if (QFileInfo(dir).exists() || QFileInfo(dir).isSymLink())
        QVERIFY(QFile::remove(dir));
}

QTEST_MAIN(TestThumbnail)
#include "TestThumbnail.moc"
