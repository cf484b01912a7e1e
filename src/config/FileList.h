#pragma once

#include <QList>
#include <QString>

// The file list of an upload and the lists an upload produces; the upload engine, the
// thumbnail maker and the results share them.
namespace quaddle {

// One file of the next upload, with the local path of the thumbnail made for it (empty when
// there is none). A path here may contain any character but NUL, so the two stay apart.
struct FileEntry {
    QString path;
    QString thumbnail;

    friend bool operator==(const FileEntry&, const FileEntry&) = default;
};

// The files of the next upload, sent in list order.
using FileList = QList<FileEntry>;

// Sorts by path, then thumbnail, without regard to letter case, in the user's locale.
// Entries that compare equal keep their order; duplicates stay.
void sortFiles(FileList& files);

// One file an upload counted as done: its remote name, and the remote name of the thumbnail
// uploaded with it (empty when there is none).
struct UploadResult {
    QString file;
    QString thumbnail;

    friend bool operator==(const UploadResult&, const UploadResult&) = default;
};
using UploadResults = QList<UploadResult>;

// A remote file an upload moved aside to make room for a new one.
struct RenamedFile {
    QString oldName;
    QString newName;

    friend bool operator==(const RenamedFile&, const RenamedFile&) = default;
};
using RenamedFiles = QList<RenamedFile>;

// The name of the file without its directory: "a.jpg" for "/pics/a.jpg".
QString fileNameOf(const QString& path);

} // namespace quaddle
