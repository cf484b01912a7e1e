#include "ServerConfig.h"

#include "FtpServer.h"

#include <QCryptographicHash>
#include <QFile>

namespace quaddle::test {

ServerSetup setupFor(const FtpServer& server) {
    ServerSetup setup;
    setup.port = server.port();
    setup.user = server.user();
    setup.password = server.password();
    return setup;
}

QByteArray fileChecksum(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

void saveServerConfig(const ServerSetup& server,
                      const QList<std::pair<QString, SettingValue>>& settings) {
    Config config;
    const qint32 index =
        config.storeServer(server.host, QString::number(server.port), server.user, server.password,
                           server.rootDir, server.defaultDir, server.urlMask, server.type, -1, -1);
    config.serverNames[index] = server.name;
    config.servers[index].chmod = server.chmod;
    config.servers[index].trustedCert = server.trustedCert;
    config.servers[index].sshClient = server.sshClient;
    config.servers[index].keyFile = server.keyFile;
    for (const QString& folder : server.folders)
        config.setFolder(-1, index, folder);
    for (const auto& [name, value] : settings)
        config.setSetting(name, value);
    config.saveConfig();
}

} // namespace quaddle::test
