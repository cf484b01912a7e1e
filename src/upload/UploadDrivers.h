#pragma once

#include "upload/UploadSession.h"

namespace quaddle {

// The program's drivers: FTP for server type 0, SFTP through the psftp of programDir (or of
// PATH) for type 1, FTPS (explicit TLS) for type 2.
DriverFactory standardDrivers(const QString& programDir);

} // namespace quaddle
