#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QImage;

namespace quaddle {

// Images the program makes for upload, pasted ones and screenshots, are private to the user:
// they live in an owner-only temporary folder that goes with this object.
class ImageFolder {
public:
    // Saves PNG bytes as "STEM-yyyyMMdd-HHmmss.png" (with "-2", "-3"... when two come within
    // one second) and returns its path. Throws Error with the reason when it cannot.
    QString savePng(const QByteArray& png, const QString& stem, const QDateTime& now);
    // Encodes the image as PNG, then saves it as savePng does.
    QString saveImage(const QImage& image, const QString& stem, const QDateTime& now);
    // The folder; empty before the first image.
    QString path() const { return m_folder ? m_folder->path() : QString(); }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

} // namespace quaddle
