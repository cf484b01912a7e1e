#pragma once

#include "config/Config.h"

#include <QByteArray>
#include <QStringList>

namespace quaddle::test {

class TFtpServer;

// One server of a configuration a test writes for the program.
struct TServerSetup {
    QString Name = QStringLiteral("Test server");
    QString Host = QStringLiteral("127.0.0.1");
    quint16 Port = 21;
    QString User;
    QString Password;
    QString RootDir;
    QString DefaultDir;
    QStringList Folders;
    QString Type = QStringLiteral("0");
};

// A server entry that logs in to the test FTP server.
TServerSetup SetupFor(const TFtpServer& server);

// Writes config.xml into the current program directory through the program's own writer, so
// the credentials are encrypted as the program encrypts them. settings are set on top of the
// defaults.
// The SHA-1 of a file's contents, to compare uploads with their sources; empty when unreadable.
QByteArray FileChecksum(const QString& path);

void SaveServerConfig(const TServerSetup& server,
                      const QList<std::pair<QString, TSettingValue>>& settings = {});

} // namespace quaddle::test
