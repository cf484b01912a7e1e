// Listing the configured servers and their folders, as the selector ":N/M" counts them.
#include "cli/CliRun.h"
#include "config/CommandLine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quaddle {

namespace {

// How addresses name a server's protocol.
QString schemeOf(const ServerRecord& server) {
    switch (parseServerType(server.type).value_or(ServerType::Ftp)) {
    case ServerType::Sftp:
        return QStringLiteral("sftp");
    case ServerType::Ftps:
        return QStringLiteral("ftps");
    case ServerType::Ftp:
        break;
    }
    return QStringLiteral("ftp");
}

// "ftp://127.0.0.1:2177": where the server is, as an address shows it.
QString addressOf(const ServerRecord& server) {
    const QString host =
        server.host.contains(QLatin1Char(':')) ? u'[' + server.host + u']' : server.host;
    const QString port = server.port.isEmpty() ? QString() : u':' + server.port;
    return schemeOf(server) + QStringLiteral("://") + host + port;
}

QString compact(const QJsonArray& array) {
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// The existing folders of a server by their numbers: deleted ones keep their number unused.
QList<std::pair<qint32, QString>> foldersOf(const Config& config, qint32 server) {
    QList<std::pair<qint32, QString>> folders;
    const QStringList& all = config.folders(server);
    for (qint32 folder = 0; folder < all.size(); ++folder)
        if (!all[folder].isEmpty())
            folders.append({folder, all[folder]});
    return folders;
}

QJsonArray folderArray(const Config& config, qint32 server) {
    QJsonArray array;
    for (const auto& [number, path] : foldersOf(config, server))
        array.append(QJsonObject{
            {QStringLiteral("folder"), number},
            {QStringLiteral("selector"), QStringLiteral(":%1/%2").arg(server).arg(number)},
            {QStringLiteral("path"), path}});
    return array;
}

} // namespace

int CliRun::listServers(const Config& config) {
    if (m_options.selector)
        return listFolders(config);
    QStringList lines;
    QJsonArray array;
    for (qint32 server = 0; server < config.serverNames.size(); ++server) {
        if (!config.serverExists(server))
            continue;
        const QString name = config.serverNames[server];
        const QString address = addressOf(config.servers[server]);
        lines.append(QStringLiteral("%1 %2 (%3)").arg(server).arg(name, address));
        array.append(QJsonObject{{QStringLiteral("server"), server},
                                 {QStringLiteral("selector"), QStringLiteral(":%1").arg(server)},
                                 {QStringLiteral("name"), name},
                                 {QStringLiteral("address"), address},
                                 {QStringLiteral("folders"), folderArray(config, server)}});
    }
    printLines(m_options.json ? QStringList{compact(array)} : lines);
    return ExitDone;
}

int CliRun::listFolders(const Config& config) {
    const std::optional<ServerSelection> selection = resolveSelector(*m_options.selector, config);
    if (!selection) {
        m_terminal.error(
            QStringLiteral("\"%1\" names no configured server.").arg(*m_options.selector));
        return ExitUsage;
    }
    QStringList lines;
    for (const auto& [number, path] : foldersOf(config, selection->server))
        lines.append(QStringLiteral("%1/%2 %3").arg(selection->server).arg(number).arg(path));
    printLines(m_options.json ? QStringList{compact(folderArray(config, selection->server))}
                              : lines);
    return ExitDone;
}

} // namespace quaddle
