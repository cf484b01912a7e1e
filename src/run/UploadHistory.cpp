#include "run/UploadHistory.h"

#include "history/History.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "platform/ProgramDir.h"
#include "results/UrlBuilder.h"
#include "upload/UploadRunSupport.h"
#include "upload/UploadSession.h"

#include <QCryptographicHash>
#include <QFile>

namespace quaddle {

namespace {

// Empty when the file cannot be read any more.
QString sha256Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

// The folder a new login enters to reach the files: the root directory, then the upload folder
// from there, as the run entered them.
QString remoteFolder(const ServerRecord& server, const QString& remoteDir) {
    const QString dir = sessionRemoteDir(server, remoteDir);
    if (server.rootDir.isEmpty() || dir.startsWith(QLatin1Char('/')))
        return dir;
    if (dir.isEmpty())
        return server.rootDir;
    if (server.rootDir.endsWith(QLatin1Char('/')))
        return server.rootDir + dir;
    return server.rootDir + QLatin1Char('/') + dir;
}

HistoryEntries entriesOf(const Config& config, const ServerRecord& server, const QString& remoteDir,
                         const QList<SentFile>& files) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    HistoryEntries entries;
    for (const SentFile& file : files) {
        HistoryEntry entry;
        entry.time = now;
        entry.serverName = config.serverNames.value(config.currentServer);
        entry.host = server.host;
        entry.protocol = protocolName(server.type);
        entry.folder = remoteFolder(server, remoteDir);
        entry.name = file.result.file;
        entry.thumbnailName = file.result.thumbnail;
        entry.url = buildUrl(server, remoteDir, file.result.file);
        if (!file.result.thumbnail.isEmpty())
            entry.thumbnailUrl = buildUrl(server, remoteDir, file.result.thumbnail);
        entry.size = UploadSession::localFileSize(file.path);
        entry.sha256 = sha256Of(file.path);
        entries.append(entry);
    }
    return entries;
}

} // namespace

QString protocolName(const QString& serverType) {
    switch (parseServerType(serverType).value_or(ServerType(-1))) {
    case ServerType::Ftp:
        return QStringLiteral("FTP");
    case ServerType::Sftp:
        return QStringLiteral("SFTP");
    case ServerType::Ftps:
        return QStringLiteral("FTPS");
    }
    return serverType;
}

void recordUploads(const Config& config, const ServerRecord& server, const QString& remoteDir,
                   const QList<SentFile>& files) {
    if (!config.keepHistory() || files.isEmpty())
        return;
    HistoryEntries entries = entriesOf(config, server, remoteDir, files);
    try {
        if (config.programDir == defaultProgramDir())
            makePrivateDir(config.programDir);
        History(config.programDir).add(entries);
    } catch (const Error& error) {
        dialogs().notify(MessageKind::Error, error.message());
    }
}

} // namespace quaddle
