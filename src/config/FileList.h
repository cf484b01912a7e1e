#pragma once

#include <QList>
#include <QString>

namespace quaddle {

// One file of the next upload, with the local path of the thumbnail made for it (empty when
// there is none). A path here may contain any character but NUL, so the two stay apart.
struct TFileEntry {
    QString Path;
    QString Thumbnail;

    friend bool operator==(const TFileEntry&, const TFileEntry&) = default;
};

// The files of the next upload, sent in list order.
using TFileList = QList<TFileEntry>;

// Sorts by path, then thumbnail, without regard to letter case, in the user's locale.
// Entries that compare equal keep their order; duplicates stay.
void SortFiles(TFileList& files);

// The name of the file without its directory: "a.jpg" for "/pics/a.jpg".
QString FileNameOf(const QString& path);

} // namespace quaddle
