// The thumbnail maker on arbitrary bytes as a JPEG or a BMP file (the first byte chooses).
// It either makes a thumbnail within the limits or throws its error; it never crashes.
#include "FuzzSupport.h"
#include "platform/Error.h"
#include "thumbs/Thumbnail.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <cstdlib>

using namespace quaddle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    fuzz::ensureApplication();
    static QTemporaryDir folder;
    const QString source =
        folder.filePath(data[0] % 2 ? QStringLiteral("fuzz.bmp") : QStringLiteral("fuzz.jpg"));
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1)) != qint64(size - 1))
        std::abort();
    file.close();

    const ThumbnailOptions options{64, 48, (data[0] & 2) != 0, (data[0] & 4) != 0};
    try {
        const QString thumbnail = makeThumbnail(source, options);
        const QSize made = QImageReader(thumbnail).size();
        if (!made.isValid() || made.width() > options.maxWidth || made.height() > options.maxHeight)
            std::abort();
    } catch (const Error&) {
        // A clear refusal is the expected answer to most inputs.
    }
    return 0;
}
