#include "app/PastedFiles.h"

#include <QImage>
#include <QMimeData>
#include <QUrl>

namespace quaddle {

QStringList localFilesOf(const QMimeData& data) {
    QStringList paths;
    if (!data.hasUrls())
        return paths;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

QStringList PastedFiles::filesOf(const QMimeData& data, const QDateTime& now) {
    // File managers may add a picture of the files; the files are what was copied.
    if (data.hasUrls())
        return localFilesOf(data);
    if (!data.hasImage())
        return {};
    const QImage image = qvariant_cast<QImage>(data.imageData());
    if (image.isNull())
        return {};
    return {m_images.saveImage(image, QStringLiteral("clipboard"), now)};
}

} // namespace quaddle
