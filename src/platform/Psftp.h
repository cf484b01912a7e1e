#pragma once

#include <QString>

namespace quaddle {

// The PuTTY SFTP client the program drives for SFTP servers: "psftp" in the program
// directory when that is an absolute path, else the one on PATH; empty when there is none.
QString findPsftp(const QString& programDir);

} // namespace quaddle
