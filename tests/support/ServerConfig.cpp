#include "ServerConfig.h"

namespace quaddle::test {

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
