#include "run/UploadHistory.h"

#include "history/History.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "results/UrlBuilder.h"
#include "thumbs/Jpeg.h"
#include "upload/UploadRunSupport.h"
#include "upload/UploadSession.h"

#include <QFile>
#include <QImage>

namespace quaddle {

namespace {

constexpr int PreviewSize = 48;
constexpr int PreviewQuality = 85;

// The thumbnail made small enough for a list's line, as JPEG; empty when it cannot be read.
QByteArray previewOf(const QString& thumbnailPath) {
    if (thumbnailPath.isEmpty())
        return {};
    QFile file(thumbnailPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    try {
        const QImage image = thumbnailPath.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive)
                                 ? QImage::fromData(bytes, "BMP")
                                 : decodeJpeg(bytes);
        if (image.isNull())
            return {};
        return encodeJpeg(
            image.scaled(PreviewSize, PreviewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation),
            PreviewQuality);
    } catch (const Error&) {
        return {};
    }
}

// Where the files of a run through the server entry named serverName went: the server, login
// and folder of an entry.
HistoryEntry placeOf(const QString& serverName, const ServerRecord& server,
                     const QString& remoteDir) {
    HistoryEntry entry;
    entry.serverName = serverName;
    entry.host = server.host;
    entry.protocol = protocolName(server.type);
    entry.login = HistoryLogin{server.user, server.port};
    entry.folder = remoteFolder(server, remoteDir);
    return entry;
}

HistoryEntries entriesOf(const Config& config, const ServerRecord& server, const QString& remoteDir,
                         const QList<SentFile>& files) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    HistoryEntries entries;
    for (const SentFile& file : files) {
        HistoryEntry entry =
            placeOf(config.serverNames.value(config.currentServer), server, remoteDir);
        entry.time = now;
        entry.name = file.result.file;
        entry.thumbnailName = file.result.thumbnail;
        entry.url = buildUrl(server, remoteDir, file.result.file);
        if (!file.result.thumbnail.isEmpty())
            entry.thumbnailUrl = buildUrl(server, remoteDir, file.result.thumbnail);
        entry.size = UploadSession::localFileSize(file.path);
        entry.sha256 = file.sha256;
        entry.preview = previewOf(file.thumbnailPath);
        entries.append(entry);
    }
    return entries;
}

// The entries kept of a file the run moved aside follow it, also those uploaded through another
// server entry that logs in to the same folder: else deleting one would delete the new file.
void followRenames(History& history, const Config& config, const ServerRecord& server,
                   const QString& remoteDir, const RenamedFiles& renamed) {
    const HistoryEntry where =
        placeOf(config.serverNames.value(config.currentServer), server, remoteDir);
    for (qint32 index = 0; index < config.servers.size(); ++index) {
        const ServerRecord& other = config.servers[index];
        const bool twin = index != config.currentServer && config.serverExists(index) &&
                          other.host == server.host && other.user == server.user &&
                          other.port == server.port &&
                          protocolName(other.type) == protocolName(server.type) &&
                          remoteFolder(other, remoteDir) == where.folder;
        if (!twin)
            continue;
        const HistoryEntry otherWhere = placeOf(config.serverNames.value(index), other, remoteDir);
        for (const RenamedFile& file : renamed)
            history.followRename(otherWhere, file.oldName, file.newName,
                                 buildUrl(other, remoteDir, file.newName));
    }
    for (const RenamedFile& file : renamed)
        history.followRename(where, file.oldName, file.newName,
                             buildUrl(server, remoteDir, file.newName));
}

} // namespace

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
                   const QList<SentFile>& files, const RenamedFiles& renamed) {
    const bool adding = config.keepHistory() && !files.isEmpty();
    // Entries kept while the history was on still follow a file the run moved aside.
    const bool following =
        !renamed.isEmpty() && QFile::exists(History::filePath(config.programDir));
    if (!adding && !following)
        return;
    HistoryEntries entries =
        adding ? entriesOf(config, server, remoteDir, files) : HistoryEntries();
    try {
        History history(config.programDir);
        // Before the new entries go in: they have the old names now.
        followRenames(history, config, server, remoteDir, renamed);
        history.add(entries);
    } catch (const Error& error) {
        dialogs().notify(MessageKind::Error, error.message());
    }
}

} // namespace quaddle
