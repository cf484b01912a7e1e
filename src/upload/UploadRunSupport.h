#pragma once

#include "config/Config.h"

#include <QStringList>

namespace quaddle {

class UploadSession;

// What every upload run shares, with windows or without.

// The directory the session enters after the server's root directory: below a root, an
// absolute-looking remote directory is meant inside it.
QString sessionRemoteDir(const ServerRecord& server, const QString& remoteDir);

// Empty when the current server is of a type the program speaks; else the message that says so.
QString serverTypeProblem(const Config& config);

// Sets the session up as the configuration says for its current server: passive mode, the
// permissions of uploaded files, temporary names, the certificate the user trusts. A
// certificate the user comes to trust is stored in config.xml at once, so that a later failure
// of the run does not make the user answer again; so is a password the user asked to have
// remembered, once it logged in. Throws Error on permissions that are no octal number.
void configureSession(UploadSession& session, Config& config);
// Writes config.xml during a run; a failure is told, and the run goes on.
void saveConfigDuringRun(Config& config);

// The text with every control character but tab (C0, DEL, C1) written as a visible escape such
// as "\x1b": text from a server or a file name then cannot steer a terminal that shows it, nor
// start a line of its own.
QString printableText(const QString& text);

// Writes the session's log lines to log.txt in programDir, owner-only, each made printable.
// Throws Error, naming the file, when it cannot be written.
void writeUploadLog(const QString& programDir, const QStringList& lines);

} // namespace quaddle
