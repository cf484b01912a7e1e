#pragma once

#include "config/Config.h"

#include <QByteArray>
#include <QStringList>

namespace quaddle::test {

class FtpServer;

// One server of a configuration a test writes for the program.
struct ServerSetup {
    QString name = QStringLiteral("Test server");
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 21;
    QString user;
    QString password;
    QString rootDir;
    QString defaultDir;
    QStringList folders;
    QString type = QStringLiteral("0");
    QString chmod;
    QString trustedCert;
    QString sshClient;
    QString keyFile;
    // Empty for the default.
    QString urlMask;
};

// A server entry that logs in to the test FTP server.
ServerSetup setupFor(const FtpServer& server);

// Writes config.xml into the current program directory through the program's own writer, so
// the credentials are encrypted as the program encrypts them. settings are set on top of the
// defaults.
// The SHA-1 of a file's contents, to compare uploads with their sources; empty when unreadable.
QByteArray fileChecksum(const QString& path);

void saveServerConfig(const ServerSetup& server,
                      const QList<std::pair<QString, SettingValue>>& settings = {});

} // namespace quaddle::test
