// Thumbnails 40 JPEG photos of 12 megapixels to 300 × 200 (band and frame on) as a run makes
// them, on every core and on one thread, and prints both median times, their ratio and the cores
// used; then 20 of them one by one with the program's maker and with ImageMagick's
// "convert -sample", alternating, with the median times and the ratio ours/ImageMagick.
#include "BenchSupport.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>

using namespace quaddle;

namespace {

constexpr int Photos = 40;
constexpr int PhotosOneByOne = 20;
constexpr int Runs = 5;

// Photographic detail: soft shapes and colour gradients with grain on top.
QImage photo(int seed) {
    QImage image(4000, 3000, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 4000, 3000);
    sky.setColorAt(0, QColor::fromHsv(random.bounded(360), 120, 230));
    sky.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 90));
    painter.fillRect(image.rect(), sky);
    for (int i = 0; i < 300; ++i) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), random.bounded(255), 200, 90));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(random.bounded(4000), random.bounded(3000), random.bounded(600),
                            random.bounded(600));
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(24)) - 12;
            const QRgb p = line[x];
            line[x] =
                qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                     std::clamp(qBlue(p) + grain, 0, 255));
        }
    }
    return image;
}

double runPool(const QStringList& photos, int threads) {
    FileList files;
    for (const QString& photo : photos)
        files.append({photo, QString()});
    ThumbnailEvents events;
    events.progress = [](qsizetype, qsizetype) { return true; };
    events.failed = [](const QString& path, const QString& message) {
        qFatal("%s: %s", qPrintable(path), qPrintable(message));
    };
    QElapsedTimer timer;
    timer.start();
    makeThumbnails(files, ThumbnailOptions{}, events, threads);
    return timer.elapsed() / 1000.0;
}

double runOurs(const QStringList& files) {
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files)
        makeThumbnail(file, ThumbnailOptions{});
    return timer.elapsed() / 1000.0;
}

double runImageMagick(const QStringList& files, const QString& outDir) {
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files) {
        QProcess convert;
        convert.start("convert", {file, "-sample", "300x200", "-quality", "90",
                                  QDir(outDir).filePath(QFileInfo(file).fileName())});
        if (!convert.waitForFinished(-1) || convert.exitCode() != 0)
            qFatal("convert failed: %s", convert.readAllStandardError().constData());
    }
    return timer.elapsed() / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("magick"));
    QStringList files;
    for (int i = 0; i < Photos; ++i) {
        const QString path = dir.filePath(QStringLiteral("photo%1.jpg").arg(i));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(encodeJpeg(photo(i), 92));
        files.append(path);
    }
    const int cores = QThread::idealThreadCount();
    std::printf("cores: %d\n", cores);
    bench::compareAlternating(
        "40 photos of 12 MP, every core", "one thread", [&] { return runPool(files, 0); },
        [&] { return runPool(files, 1); }, Runs);
    const QStringList some = files.mid(0, PhotosOneByOne);
    bench::compareAlternating(
        "20 photos of 12 MP to 300x200", "ImageMagick", [&] { return runOurs(some); },
        [&] { return runImageMagick(some, dir.filePath("magick")); }, Runs);
    removeMadeThumbnails();
    return 0;
}
