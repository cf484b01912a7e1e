#include "capture/ImageFolder.h"

#include "platform/Error.h"
#include "platform/PrivateFile.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

namespace quaddle {

QString ImageFolder::savePng(const QByteArray& png, const QString& stem, const QDateTime& now) {
    if (!m_folder) {
        // QTemporaryDir makes its folder owner-only.
        auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                      QStringLiteral("/quaddle-paste-XXXXXX"));
        if (!folder->isValid())
            throw Error(QStringLiteral("No folder for the image can be made: ") +
                        folder->errorString());
        m_folder = std::move(folder);
    }
    const QString name = stem + QLatin1Char('-') + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = m_folder->filePath(name + QStringLiteral(".png"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = m_folder->filePath(name + QStringLiteral("-%1.png").arg(n));
    writePrivateFile(path, png);
    return path;
}

QString ImageFolder::saveImage(const QImage& image, const QString& stem, const QDateTime& now) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        throw Error(QStringLiteral("The image cannot be saved: ") + writer.errorString());
    return savePng(bytes, stem, now);
}

} // namespace quaddle
