#pragma once

#include "config/Config.h"
#include "config/FileList.h"

namespace quaddle {

// A file a run sent to the server: its local path and how it went up.
struct SentFile {
    QString path;
    UploadResult result;
    // Its thumbnail's, when one went up with it.
    QString thumbnailPath;
    // The SHA-256 of the bytes sent, as lower-case hex; empty when not known.
    QString sha256;
};

// "FTP", "SFTP" or "FTPS" for a server record's type; the stored text for one that names none.
QString protocolName(const QString& serverType);

// The folder a new login enters to reach the files: the root directory, then the upload folder
// from there, as a run enters them.
QString remoteFolder(const ServerRecord& server, const QString& remoteDir);

// Adds the files sent to the history in the program directory, when the setting History is
// on: with the addresses the run prints and the SHA-256 of what was sent of each. The entries
// of files the run renamed on the server to make room follow them to their new names. A history
// that cannot be written is told through dialogs().notify and fails nothing.
void recordUploads(const Config& config, const ServerRecord& server, const QString& remoteDir,
                   const QList<SentFile>& files, const RenamedFiles& renamed);

} // namespace quaddle
