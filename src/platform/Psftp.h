#pragma once

#include <QString>

namespace quaddle {

// The PuTTY SFTP client the program drives for SFTP servers: "psftp" in the program
// directory when that is an absolute path, else the one on PATH; empty when there is none.
QString findPsftp(const QString& programDir);

// The file in which psftp remembers the servers' host keys, one line per key:
// "TYPE@PORT:HOST KEY", TYPE as psftp names key types (rsa2, ssh-ed25519, ...).
QString psftpHostKeyCache();

} // namespace quaddle
