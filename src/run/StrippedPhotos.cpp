#include "run/StrippedPhotos.h"

#include "platform/Error.h"
#include "platform/PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quaddle {

namespace {

// A file that cannot be read counts as plain: it goes to the upload, which tells why it
// cannot go.
PhotoKind photoKindOfFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? photoKindOf(file.peek(PhotoHeadSize))
                                          : PhotoKind::Plain;
}

} // namespace

StrippedPhotos::StrippedPhotos() = default;

StrippedPhotos::~StrippedPhotos() = default;

void StrippedPhotos::strip(FileList& files) {
    FileList kept;
    for (FileEntry entry : std::as_const(files)) {
        const PhotoKind kind = photoKindOfFile(entry.path);
        if (kind == PhotoKind::Unstrippable) {
            m_failures.append({entry.path, QStringLiteral("\"%1\": its location data could not be "
                                                          "removed, so it was not uploaded.")
                                               .arg(entry.path)});
            continue;
        }
        try {
            if (const std::optional<QString> copy = copyWithoutMetadata(entry.path, kind)) {
                m_originals.insert(*copy, entry.path);
                entry.path = *copy;
            }
            kept.append(entry);
        } catch (const Error& error) {
            m_failures.append(
                {entry.path, QStringLiteral("The location and camera data of \"%1\" could not be "
                                            "removed, so it was not uploaded. %2")
                                 .arg(entry.path, error.message())});
        }
    }
    files = kept;
}

FileList StrippedPhotos::restored(FileList files) const {
    for (FileEntry& entry : files)
        entry.path = originalOf(entry.path);
    return files;
}

std::optional<QString> StrippedPhotos::copyWithoutMetadata(const QString& path, PhotoKind kind) {
    if (kind == PhotoKind::Plain)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray original = file.readAll();
    const QByteArray stripped = photoWithoutMetadata(kind, original);
    // Nothing to take out: the file itself goes.
    if (stripped == original)
        return std::nullopt;
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
