#pragma once

#include "upload/UploadSession.h"

namespace quaddle {

// The program's drivers: FTP for server type 0, SFTP for type 1, FTPS (explicit TLS) for type 2.
// SFTP goes through OpenSSH's ssh, or through the psftp of programDir (or of PATH) when
// sshClient is SshClientPsftp.
DriverFactory standardDrivers(const QString& programDir, const QString& sshClient = QString());

} // namespace quaddle
