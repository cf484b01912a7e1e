#pragma once

#include "config/Config.h"

#include <QStringList>

namespace quaddle {

class UploadSession;

// What every upload run shares, with windows or without.

// The directory the session enters after the server's root directory: below a root, an
// absolute-looking remote directory is meant inside it.
QString sessionRemoteDir(const ServerRecord& server, const QString& remoteDir);

// Sets the session up as the configuration says for server: passive mode, the permissions of
// uploaded files, temporary names. Throws Error on permissions that are no octal number.
void configureSession(UploadSession& session, const Config& config, const ServerRecord& server);

// Writes the session's log lines to log.txt in programDir, owner-only. Throws Error, naming
// the file, when it cannot be written.
void writeUploadLog(const QString& programDir, const QStringList& lines);

} // namespace quaddle
