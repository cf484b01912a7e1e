#include "ServerConfig.h"

#include "FtpServer.h"

#include <QCryptographicHash>
#include <QFile>

namespace quaddle::test {

TServerSetup SetupFor(const TFtpServer& server) {
    TServerSetup setup;
    setup.Port = server.Port();
    setup.User = server.User();
    setup.Password = server.Password();
    return setup;
}

QByteArray FileChecksum(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

void SaveServerConfig(const TServerSetup& server,
                      const QList<std::pair<QString, TSettingValue>>& settings) {
    TCfg cfg;
    const qint32 index =
        cfg.StoreServer(server.Host, QString::number(server.Port), server.User, server.Password,
                        server.RootDir, server.DefaultDir, QString(), server.Type, -1, -1);
    cfg.ServerNames[index] = server.Name;
    for (const QString& folder : server.Folders)
        cfg.SetFolder(-1, index, folder);
    for (const auto& [name, value] : settings)
        cfg.SetSetting(name, value);
    cfg.SaveConfig();
}

} // namespace quaddle::test
