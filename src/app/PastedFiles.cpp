#include "app/PastedFiles.h"

#include "platform/Error.h"
#include "platform/PrivateFile.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
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
    return {saveImage(image, now)};
}

QString PastedFiles::saveImage(const QImage& image, const QDateTime& now) {
    if (!m_folder) {
        // QTemporaryDir makes its folder owner-only.
        auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                      QStringLiteral("/quaddle-paste-XXXXXX"));
        if (!folder->isValid())
            throw Error(QStringLiteral("The pasted image cannot be saved: ") +
                        folder->errorString());
        m_folder = std::move(folder);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        throw Error(QStringLiteral("The pasted image cannot be saved: ") + writer.errorString());

    // Two images pasted within one second must not overwrite each other.
    const QString stem =
        QStringLiteral("clipboard-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = m_folder->filePath(stem + QStringLiteral(".png"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = m_folder->filePath(stem + QStringLiteral("-%1.png").arg(n));
    writePrivateFile(path, bytes);
    return path;
}

} // namespace quaddle
