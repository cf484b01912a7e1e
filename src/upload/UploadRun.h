#pragma once

#include "config/Config.h"

#include <QStringList>

namespace quaddle {

// What every upload run shares, with windows or without.

// The directory the session enters after the server's root directory: below a root, an
// absolute-looking remote directory is meant inside it.
QString sessionRemoteDir(const ServerRecord& server, const QString& remoteDir);

// Writes the session's log lines to log.txt in programDir, owner-only. Throws Error, naming
// the file, when it cannot be written.
void writeUploadLog(const QString& programDir, const QStringList& lines);

} // namespace quaddle
