#include "thumbs/Thumbnail.h"

#include "config/Config.h"
#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "thumbs/Jpeg.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QMutex>
#include <QPainter>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quaddle {

namespace {

constexpr int JpegQuality = 90;
constexpr int BandFontPoints = 8;
// The surface's resolution is fixed at 96 dpi, so the band's 8 points come out the same number
// of pixels whatever the screen.
constexpr int DotsPerMeter = 3780;

// From the last dot of the file name on, "" when there is none.
QString extensionOf(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

int roundHalfToEven(double value) {
    const double lower = std::floor(value);
    const double fraction = value - lower;
    const bool up = fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0);
    return int(up ? lower + 1 : lower);
}

QSize scaledSize(int width, int height, const ThumbnailOptions& options) {
    double scale = 1.0;
    if (height > options.maxHeight)
        scale = double(options.maxHeight) / height;
    if (double(options.maxWidth) / width < scale)
        scale = double(options.maxWidth) / width;
    // Tiny limits or a very thin image would round a side to nothing; keep one pixel.
    return QSize(std::max(1, roundHalfToEven(width * scale)),
                 std::max(1, roundHalfToEven(height * scale)));
}

// Qt's reader refuses bitmaps over 16384 x 16384 pixels before it says how large they are;
// their header, read here, gets them the same "too large" message as the others.
void checkBitmapHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return; // the reader reports that
    const QByteArray header = file.read(26);
    if (header.size() < 26 || !header.startsWith("BM") ||
        qFromLittleEndian<quint32>(header.constData() + 14) < 40)
        return; // not a Windows bitmap header: the reader decides
    const qint64 width = qFromLittleEndian<qint32>(header.constData() + 18);
    const qint64 height = qFromLittleEndian<qint32>(header.constData() + 22);
    checkImageSize(width, std::abs(height));
}

QString readerProblem(const QImageReader& reader) {
    switch (reader.error()) {
    case QImageReader::UnknownError:
    case QImageReader::InvalidDataError:
    case QImageReader::UnsupportedFormatError:
        return QStringLiteral("The file is not a valid bitmap.");
    default:
        return QStringLiteral("The bitmap could not be read: ") + reader.errorString();
    }
}

QImage readBitmap(const QString& path) {
    checkBitmapHeader(path);
    QImageReader reader(path, "bmp");
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid())
        throw Error(readerProblem(reader));
    // Qt also refuses images over its reader's allocation limit (a setting of the whole
    // program, left alone here) with a vague message; those count as too large as well.
    const qint64 readerBytes = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    checkImageSize(size.width(), size.height(), readerBytes > 0 ? readerBytes / 4 : MaxImagePixels);
    QImage image = reader.read();
    if (image.isNull())
        throw Error(readerProblem(reader));
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage newSurface(QSize size) {
    QImage surface(size, QImage::Format_RGB32);
    if (surface.isNull())
        throw Error(QStringLiteral("There is not enough memory for the thumbnail."));
    surface.setDotsPerMeterX(DotsPerMeter);
    surface.setDotsPerMeterY(DotsPerMeter);
    return surface;
}

// Each target pixel takes the source pixel under its centre: whole rows and columns are
// dropped, nothing is blended. The source comes row by row, top to bottom, so that it never has
// to be in memory whole.
class NearestSampler {
public:
    NearestSampler(QSize source, QImage& surface)
        : m_surface(surface), m_sourceHeight(source.height()),
          m_columns(static_cast<size_t>(surface.width())) {
        const qint64 sourceWidth = source.width();
        const qint64 width = surface.width();
        for (qint64 x = 0; x < width; ++x)
            m_columns[size_t(x)] = int((2 * x + 1) * sourceWidth / (2 * width));
    }

    void takeRow(int sourceY, const QRgb* pixels) {
        for (; m_nextY < m_surface.height() && sourceRowOf(m_nextY) == sourceY; ++m_nextY) {
            auto* to = reinterpret_cast<QRgb*>(m_surface.scanLine(m_nextY));
            for (size_t x = 0; x < m_columns.size(); ++x)
                to[x] = pixels[m_columns[x]];
        }
    }

private:
    qint64 sourceRowOf(qint64 y) const {
        return (2 * y + 1) * m_sourceHeight / (2 * qint64(m_surface.height()));
    }

    QImage& m_surface;
    const qint64 m_sourceHeight;
    std::vector<int> m_columns;
    int m_nextY = 0;
};

// The picture scaled down, and the size it had.
struct ScaledImage {
    QImage surface;
    QSize sourceSize;
};

ScaledImage scaledJpeg(const QString& source, const ThumbnailOptions& options) {
    ScaledImage scaled;
    std::optional<NearestSampler> sampler;
    readJpegRows(
        source,
        [&](QSize size) {
            scaled.sourceSize = size;
            scaled.surface = newSurface(scaledSize(size.width(), size.height(), options));
            sampler.emplace(size, scaled.surface);
        },
        [&](int y, const QRgb* pixels) { sampler->takeRow(y, pixels); });
    return scaled;
}

ScaledImage scaledBitmap(const QString& source, const ThumbnailOptions& options) {
    const QImage image = readBitmap(source);
    ScaledImage scaled{newSurface(scaledSize(image.width(), image.height(), options)),
                       image.size()};
    NearestSampler sampler(image.size(), scaled.surface);
    for (int y = 0; y < image.height(); ++y)
        sampler.takeRow(y, reinterpret_cast<const QRgb*>(image.constScanLine(y)));
    return scaled;
}

// A white band across the bottom with the text centred in it, 2 pixels of white above and
// below. Text wider than the surface starts left of it and is cut off on both sides.
void drawBand(QImage& surface, const QString& text, QFont font) {
    QPainter painter(&surface);
    font.setPointSize(BandFontPoints);
    painter.setFont(font);
    const QFontMetrics metrics = painter.fontMetrics();
    const int textHeight = metrics.height();
    const int textWidth = metrics.horizontalAdvance(text);
    const int width = surface.width();
    const int height = surface.height();
    const QRect band(0, height - textHeight - 4, width, textHeight + 4);
    painter.fillRect(band, Qt::white);
    painter.setClipRect(band);
    painter.setPen(Qt::black);
    painter.drawText((width - textWidth) / 2, height - textHeight - 2 + metrics.ascent(), text);
}

void drawFrame(QImage& surface) {
    QPainter painter(&surface);
    const int width = surface.width();
    const int height = surface.height();
    painter.fillRect(0, 0, width, 1, Qt::black);
    painter.fillRect(0, height - 1, width, 1, Qt::black);
    painter.fillRect(0, 0, 1, height, Qt::black);
    painter.fillRect(width - 1, 0, 1, height, Qt::black);
}

QByteArray encodeBitmap(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(image))
        throw Error(QStringLiteral("The bitmap could not be encoded: ") + writer.errorString());
    return bytes;
}

// X_thumb.jpg for X.JPG; from number 1 on X_thumb_001.jpg, X_thumb_002.jpg, ...
QString thumbnailName(const QString& source, int number) {
    const QString name = QFileInfo(source).fileName();
    const QString extension = extensionOf(source);
    QString thumbnail = name.left(name.size() - extension.size()) + QLatin1String("_thumb");
    if (number > 0)
        thumbnail += QStringLiteral("_%1").arg(number, 3, 10, QLatin1Char('0'));
    return thumbnail + extension.toLower();
}

QString freeThumbnailName(const QString& source, const QSet<QString>& taken) {
    int number = 0;
    QString name = thumbnailName(source, number);
    while (taken.contains(name))
        name = thumbnailName(source, ++number);
    return name;
}

// The temporary directory is shared with every user of the machine: the folder must be this
// user's alone before private pictures go into it.
void ensureThumbnailDir(const QString& dir) {
    const QByteArray name = QFile::encodeName(dir);
    const QString problem = QStringLiteral("The folder for thumbnails \"") + dir + QLatin1Char('"');
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        throw Error(problem + QStringLiteral(" could not be created: ") +
                    QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid())
        throw Error(problem + QStringLiteral(" is not a folder of yours. Please remove it and "
                                             "try again."));
    if ((info.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        throw Error(problem + QStringLiteral(" could not be made private: ") +
                    QString::fromLocal8Bit(std::strerror(errno)));
}

QMutex madeMutex;
QStringList madeThumbnails;

void recordMade(const QString& path) {
    const QMutexLocker lock(&madeMutex);
    if (!madeThumbnails.contains(path))
        madeThumbnails.append(path);
}

// How one job ended: the thumbnail's path, or why there is none.
struct ThumbnailJobResult {
    qsizetype index = 0;
    QString thumbnail;
    QString error;
};

// A worker per core at most, and never more than there are jobs.
int workerCount(int threads, qsizetype jobs) {
    const int cores = std::max(1, QThread::idealThreadCount());
    const int wanted = threads > 0 ? std::min(threads, cores) : cores;
    return int(std::clamp<qsizetype>(jobs, 1, wanted));
}

// Where in files the pictures are that get a thumbnail.
QList<qsizetype> existingSources(const FileList& files) {
    QList<qsizetype> sources;
    for (qsizetype index = 0; index < files.size(); ++index)
        if (isThumbnailSource(files[index].path) && QFileInfo::exists(files[index].path))
            sources.append(index);
    return sources;
}

} // namespace

QString thumbnailDir() {
    // Looked up once: getpwuid is not safe on the worker threads that ask.
    static const QString user = [] {
        QString name;
        if (const passwd* entry = ::getpwuid(::geteuid()))
            name = QString::fromLocal8Bit(entry->pw_name);
        return name.isEmpty() || name.contains(QLatin1Char('/')) ? QString::number(::geteuid())
                                                                 : name;
    }();
    // Qt gives an empty path for a TMPDIR that does not exist; never the working directory.
    QString temporary = QDir::tempPath();
    if (!QDir::isAbsolutePath(temporary))
        temporary = QStringLiteral("/tmp");
    // One for each running program: two that make a thumbnail of the same name at once must
    // neither overwrite nor, as they end, remove the other's before it went up.
    return QDir(temporary).filePath(
        QStringLiteral("quaddle-%1-%2").arg(user).arg(QCoreApplication::applicationPid()));
}

void removeMadeThumbnails() {
    const QMutexLocker lock(&madeMutex);
    QStringList dirs;
    for (const QString& path : std::as_const(madeThumbnails)) {
        QFile::remove(path);
        const QString dir = QFileInfo(path).path();
        if (!dirs.contains(dir))
            dirs.append(dir);
    }
    madeThumbnails.clear();
    // rmdir leaves a folder that still holds anything alone.
    for (const QString& dir : std::as_const(dirs))
        ::rmdir(QFile::encodeName(dir).constData());
}

ThumbnailOptions thumbnailOptions(const Config& config) {
    ThumbnailOptions options;
    options.maxWidth = config.thumbWidth();
    options.maxHeight = config.thumbHeight();
    options.info = config.thumbInfo();
    options.frame = config.thumbFrame();
    options.bandFont = QGuiApplication::font();
    return options;
}

bool isThumbnailSource(const QString& path) {
    const QString extension = extensionOf(path).toLower();
    return extension == QLatin1String(".jpg") || extension == QLatin1String(".jpeg") ||
           extension == QLatin1String(".bmp");
}

std::optional<ThumbnailImages> imagesWithoutThumbnails(const FileList& files) {
    bool jpeg = false;
    bool bitmap = false;
    for (const FileEntry& entry : files) {
        if (!entry.thumbnail.isEmpty() || !isThumbnailSource(entry.path))
            continue;
        if (entry.path.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive))
            bitmap = true;
        else
            jpeg = true;
    }
    if (!jpeg && !bitmap)
        return std::nullopt;
    return jpeg && !bitmap ? ThumbnailImages::Jpeg : ThumbnailImages::Mixed;
}

QString thumbnailPath(const QString& source) {
    return QDir(thumbnailDir()).filePath(thumbnailName(source, 0));
}

QStringList thumbnailNames(const FileList& files) {
    QSet<QString> taken;
    for (const FileEntry& entry : files)
        taken.insert(fileNameOf(entry.path));
    QStringList names;
    for (const FileEntry& entry : files) {
        const QString name =
            isThumbnailSource(entry.path) ? freeThumbnailName(entry.path, taken) : QString();
        taken.insert(name);
        names.append(name);
    }
    return names;
}

QString makeThumbnail(const QString& source, const ThumbnailOptions& options, const QString& name) {
    if (!isThumbnailSource(source))
        throw Error(QStringLiteral("Thumbnails are made of JPEG and BMP images only."));
    const bool bitmap = extensionOf(source).toLower() == QLatin1String(".bmp");
    const QString target =
        name.isEmpty() ? thumbnailPath(source) : QDir(thumbnailDir()).filePath(name);

    ScaledImage scaled = bitmap ? scaledBitmap(source, options) : scaledJpeg(source, options);
    QImage& surface = scaled.surface;
    if (options.info)
        drawBand(surface,
                 QString::number(scaled.sourceSize.width()) + QLatin1Char('x') +
                     QString::number(scaled.sourceSize.height()) + QLatin1String(" px"),
                 options.bandFont);
    if (options.frame)
        drawFrame(surface);

    const QByteArray bytes = bitmap ? encodeBitmap(surface) : encodeJpeg(surface, JpegQuality);
    ensureThumbnailDir(QFileInfo(target).path());
    try {
        writePrivateFile(target, bytes);
    } catch (const Error& error) {
        throw Error(QStringLiteral("The thumbnail \"") + target +
                    QStringLiteral("\" could not be written: ") + error.message());
    }
    recordMade(target);
    return target;
}

// Jobs are begun only while a worker is free, so no more pictures are in memory than there are
// workers, and a job not begun never is once the run stops. Each result is handed to the thread
// that made the run, which collects it whenever its event loop runs.
struct ThumbnailRun::Work {
    Work(FileList list, const ThumbnailOptions& thumbnailOptions, ThumbnailEvents told)
        : files(std::move(list)), options(thumbnailOptions), events(std::move(told)),
          // Named up front, in the list's order, so that no two jobs can pick the same name.
          names(thumbnailNames(files)), pictures(existingSources(files)) {}

    void beginWhileFree() {
        for (; going && begun < pictures.size() && running < pool.maxThreadCount(); ++begun) {
            const qsizetype index = pictures[begun];
            ++running;
            // The options are copied for each job: each draws with a font of its own.
            pool.start(
                [this, index, source = files[index].path, options = options, name = names[index]] {
                    ThumbnailJobResult result;
                    result.index = index;
                    try {
                        result.thumbnail = makeThumbnail(source, options, name);
                    } catch (const Error& error) {
                        result.error = error.message();
                    }
                    QMetaObject::invokeMethod(
                        &receiver, [this, result] { collect(result); }, Qt::QueuedConnection);
                });
        }
    }

    void collect(const ThumbnailJobResult& result) {
        finished.append(result);
        // A modal question asked about a result runs the event loop too: the results that
        // arrive meanwhile wait for the loop below, so none is handled twice or out of turn.
        if (handling)
            return;
        handling = true;
        while (!finished.isEmpty()) {
            const ThumbnailJobResult next = finished.takeFirst();
            --running;
            ++done;
            // A failed entry keeps its value: a thumbnail that was not written cannot be sent.
            if (next.error.isEmpty())
                files[next.index].thumbnail = next.thumbnail;
            else
                events.failed(files[next.index].path, next.error);
            going = going && events.progress(done, pictures.size());
            beginWhileFree();
        }
        handling = false;
    }

    FileList files;
    const ThumbnailOptions options;
    const ThumbnailEvents events;
    const QStringList names;
    const QList<qsizetype> pictures;
    qsizetype begun = 0;
    qsizetype done = 0;
    int running = 0;
    bool going = true;
    bool handling = false;
    QList<ThumbnailJobResult> finished;
    QObject receiver; // lives on the run's thread, where the results are collected
    // Last, so that it is destroyed first: its workers hand results to the members above.
    QThreadPool pool;
};

ThumbnailRun::ThumbnailRun(FileList files, const ThumbnailOptions& options, ThumbnailEvents events,
                           int threads)
    : m_work(std::make_unique<Work>(std::move(files), options, std::move(events))) {
    m_work->pool.setMaxThreadCount(workerCount(threads, m_work->pictures.size()));
    m_work->going = m_work->events.progress(0, m_work->pictures.size());
    m_work->beginWhileFree();
}

ThumbnailRun::~ThumbnailRun() = default;

bool ThumbnailRun::makes(qsizetype index) const {
    return m_work->pictures.contains(index);
}

void ThumbnailRun::stop() {
    m_work->going = false;
}

const FileList& ThumbnailRun::finish() {
    while (m_work->running > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_work->files;
}

void makeThumbnails(FileList& files, const ThumbnailOptions& options, const ThumbnailEvents& events,
                    int threads) {
    ThumbnailRun run(files, options, events, threads);
    files = run.finish();
}

} // namespace quaddle
