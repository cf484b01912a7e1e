#pragma once

#include "config/FileList.h"
#include "thumbs/PhotoMetadata.h"

#include <QHash>
#include <QTemporaryDir>
#include <memory>

namespace quaddle {

// The photos of a run as they go up without their location and camera data: copies in the
// program's private temporary folder, removed with this object. The user's own files stay as
// they are.
class StrippedPhotos {
public:
    struct Failure {
        QString path;
        QString message; // for the user, naming the file and why
    };

    StrippedPhotos();
    ~StrippedPhotos();
    StrippedPhotos(const StrippedPhotos&) = delete;
    StrippedPhotos& operator=(const StrippedPhotos&) = delete;

    // Puts in each photo's place in files a copy without its metadata. A photo whose metadata
    // cannot be removed is taken out of files, so it cannot go up with it, and kept in failures.
    void strip(FileList& files);
    const QList<Failure>& failures() const { return m_failures; }
    // The files with the user's own paths in place of the copies.
    FileList restored(FileList files) const;
    QString originalOf(const QString& path) const { return m_originals.value(path, path); }

private:
    // The copy of the photo, or nothing when there is nothing to take out.
    std::optional<QString> copyWithoutMetadata(const QString& path, PhotoKind kind);

    std::unique_ptr<QTemporaryDir> m_dir;
    QHash<QString, QString> m_originals;
    QList<Failure> m_failures;
};

} // namespace quaddle
