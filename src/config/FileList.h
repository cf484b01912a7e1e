#pragma once

#include <QList>
#include <QString>

// The file list of an upload and the lists an upload produces; the upload engine, the
// thumbnail maker and the results share them.
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

// One file an upload counted as done: its remote name, and the remote name of the thumbnail
// uploaded with it (empty when there is none).
struct TUploadResult {
    QString File;
    QString Thumbnail;

    friend bool operator==(const TUploadResult&, const TUploadResult&) = default;
};
using TUploadResults = QList<TUploadResult>;

// A remote file an upload moved aside to make room for a new one.
struct TRenamedFile {
    QString OldName;
    QString NewName;

    friend bool operator==(const TRenamedFile&, const TRenamedFile&) = default;
};
using TRenamedFiles = QList<TRenamedFile>;

// The name of the file without its directory: "a.jpg" for "/pics/a.jpg".
QString FileNameOf(const QString& path);

} // namespace quaddle
