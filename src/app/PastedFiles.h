#pragma once

#include "capture/ImageFolder.h"

#include <QDateTime>
#include <QStringList>

class QMimeData;

namespace quaddle {

// Turns what the clipboard holds into files to upload: the local files of a file list copied
// in a file manager, or a copied image saved as a PNG file. The images are private to the user
// and live in an owner-only folder that goes with this object.
class PastedFiles {
public:
    // The files the data names or holds; none when it holds neither. Throws Error when an
    // image cannot be saved.
    QStringList filesOf(const QMimeData& data, const QDateTime& now = QDateTime::currentDateTime());
    // The folder the images are saved in, screenshots too.
    ImageFolder& images() { return m_images; }

private:
    ImageFolder m_images;
};

// The local files a file list names; addresses of other places are left out.
QStringList localFilesOf(const QMimeData& data);

} // namespace quaddle
