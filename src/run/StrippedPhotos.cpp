#include "run/StrippedPhotos.h"

#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "thumbs/PhotoMetadata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quaddle {

StrippedPhotos::StrippedPhotos() = default;

StrippedPhotos::~StrippedPhotos() = default;

void StrippedPhotos::strip(FileList& files) {
    FileList kept;
    for (FileEntry entry : std::as_const(files)) {
        try {
            if (const std::optional<QString> copy = copyWithoutMetadata(entry.path)) {
                m_originals.insert(*copy, entry.path);
                entry.path = *copy;
            }
            kept.append(entry);
        } catch (const Error& error) {
            m_failures.append({entry.path, error.message()});
        }
    }
    files = kept;
}

FileList StrippedPhotos::restored(FileList files) const {
    for (FileEntry& entry : files)
        entry.path = originalOf(entry.path);
    return files;
}

std::optional<QString> StrippedPhotos::copyWithoutMetadata(const QString& path) {
    QFile file(path);
    // A file that cannot be read goes to the upload as it is, which tells why it cannot go.
    if (!file.open(QIODevice::ReadOnly) || !isJpegData(file.peek(3)))
        return std::nullopt;
    const QByteArray stripped = jpegWithoutMetadata(file.readAll());
    if (!m_dir) {
        m_dir =
            std::make_unique<QTemporaryDir>(privateTempDir() + QStringLiteral("/photos-XXXXXX"));
        if (!m_dir->isValid())
            throw Error(QStringLiteral("No folder for the photos without their metadata: ") +
                        m_dir->errorString());
    }
    // A folder for each, as photos of different folders may share a name, which the copy
    // must keep: it is the name on the server.
    const QString folder = m_dir->filePath(QString::number(m_originals.size()));
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("The folder \"%1\" could not be made.").arg(folder));
    const QString copy = QDir(folder).filePath(QFileInfo(path).fileName());
    writePrivateFile(copy, stripped);
    return copy;
}

} // namespace quaddle
