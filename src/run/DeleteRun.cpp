#include "run/DeleteRun.h"

#include "platform/Error.h"
#include "run/UploadHistory.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadRunSupport.h"
#include "upload/UploadSession.h"

#include <QMap>

namespace quaddle {

namespace {

void tellAll(const QList<qsizetype>& rows, const QString& reason, QList<DeleteOutcome>& outcomes) {
    for (const qsizetype row : rows)
        if (outcomes[row].reason.isEmpty() && !outcomes[row].done)
            outcomes[row].reason = reason;
}

} // namespace

DeleteRun::DeleteRun(Config& config, const History& history)
    : m_config(config), m_history(history) {}

DeleteRun::~DeleteRun() = default;

QList<DeleteOutcome> DeleteRun::run(const HistoryEntries& entries) {
    QList<DeleteOutcome> outcomes;
    QMap<qint32, QList<qsizetype>> byServer;
    for (qsizetype row = 0; row < entries.size(); ++row) {
        const HistoryEntry& entry = entries[row];
        outcomes.append({entry.id, false, QString()});
        const qint32 server = serverOf(entry);
        if (server < 0)
            outcomes[row].reason =
                QStringLiteral("\"%1\" cannot be deleted: the server \"%2\" (%3) is no longer "
                               "configured.")
                    .arg(entry.remotePath(), entry.serverName, entry.host);
        else
            byServer[server].append(row);
    }
    const qint32 current = m_config.currentServer;
    for (auto server = byServer.cbegin(); server != byServer.cend(); ++server) {
        try {
            deleteOnServer(server.key(), entries, server.value(), outcomes);
        } catch (const Error& error) {
            tellAll(server.value(), error.message(), outcomes);
        }
        m_session.reset();
    }
    m_config.currentServer = current;
    return outcomes;
}

void DeleteRun::cancel() {
    m_cancelled = true;
    if (m_session)
        m_session->cancel();
}

qint32 DeleteRun::serverOf(const HistoryEntry& entry) const {
    for (qint32 index = 0; index < m_config.servers.size(); ++index)
        if (m_config.serverExists(index) && m_config.serverNames.value(index) == entry.serverName &&
            m_config.servers[index].host == entry.host)
            return index;
    return -1;
}

QString DeleteRun::knownMismatch(qint32 server, const HistoryEntry& entry) const {
    const ServerRecord& record = m_config.servers[server];
    const QString notDeleted = QStringLiteral("\"%1\" on the server \"%2\" was not deleted: ")
                                   .arg(entry.remotePath(), entry.serverName);
    if (!entry.login)
        return notDeleted + QStringLiteral("the history does not know which login uploaded it, so "
                                           "it cannot tell that file from another one.");
    if (entry.login->user != record.user)
        return notDeleted + QStringLiteral("it was uploaded as the user \"%1\", and the server "
                                           "entry now logs in as \"%2\".")
                                .arg(entry.login->user, record.user);
    if (entry.login->port != record.port)
        return notDeleted + QStringLiteral("it was uploaded through port %1, and the server entry "
                                           "now uses port %2.")
                                .arg(entry.login->port, record.port);
    if (entry.protocol != protocolName(record.type))
        return notDeleted + QStringLiteral("it was uploaded by %1, and the server entry now uses "
                                           "%2.")
                                .arg(entry.protocol, protocolName(record.type));
    if (m_history.laterUploadHolds(entry, entry.name))
        return notDeleted + QStringLiteral("a later upload of the history replaced it there.");
    return QString();
}

void DeleteRun::deleteOnServer(qint32 server, const HistoryEntries& entries,
                               const QList<qsizetype>& rows, QList<DeleteOutcome>& outcomes) {
    QMap<QString, QList<qsizetype>> byFolder;
    for (const qsizetype row : rows) {
        outcomes[row].reason = knownMismatch(server, entries[row]);
        if (outcomes[row].reason.isEmpty())
            byFolder[entries[row].folder].append(row);
    }
    bool moved = false;
    for (auto folder = byFolder.cbegin(); folder != byFolder.cend() && !m_cancelled; ++folder) {
        // A relative folder is found from the login's own folder only.
        if (!m_session || (moved && !folder.key().startsWith(QLatin1Char('/'))))
            logIn(server);
        moved = !folder.key().isEmpty();
        deleteInFolder(folder.key(), entries, folder.value(), outcomes);
    }
    if (m_cancelled)
        tellAll(rows, QStringLiteral("Cancelled."), outcomes);
}

void DeleteRun::deleteInFolder(const QString& folder, const HistoryEntries& entries,
                               const QList<qsizetype>& rows, QList<DeleteOutcome>& outcomes) {
    if (!folder.isEmpty() && !m_session->driver().changeDir(folder)) {
        tellAll(rows,
                QStringLiteral("The folder \"%1\" on \"%2\" cannot be entered: %3")
                    .arg(folder, entries[rows.first()].serverName, m_session->driver().lastError()),
                outcomes);
        return;
    }
    for (const qsizetype row : rows) {
        if (m_cancelled)
            return;
        try {
            outcomes[row] = deleteEntry(entries[row]);
        } catch (const Error& error) {
            outcomes[row].reason = error.message();
        }
    }
}

DeleteOutcome DeleteRun::deleteEntry(const HistoryEntry& entry) {
    ProtocolDriver& driver = m_session->driver();
    if (!driver.fileExists(entry.name))
        return {entry.id, false,
                QStringLiteral("\"%1\" is not on the server \"%2\" (any more).")
                    .arg(entry.remotePath(), entry.serverName)};
    const std::optional<qint64> size = driver.remoteFileSize(entry.name);
    if (!size)
        return {entry.id, false,
                QStringLiteral("\"%1\" on the server \"%2\" was not deleted: the server does not "
                               "tell its size, so it cannot be told from another file.")
                    .arg(entry.remotePath(), entry.serverName)};
    if (*size != entry.size)
        return {entry.id, false,
                QStringLiteral("\"%1\" on the server \"%2\" was not deleted: it is not the file "
                               "uploaded (%3 bytes there, %4 bytes uploaded).")
                    .arg(entry.remotePath(), entry.serverName)
                    .arg(*size)
                    .arg(entry.size)};
    if (!driver.removeFile(entry.name))
        return {entry.id, false,
                QStringLiteral("\"%1\" could not be deleted: %2")
                    .arg(entry.remotePath(), driver.lastError())};
    // A thumbnail gone already is no loss: the file it showed is gone too. One that a later
    // upload replaced is that upload's file now.
    const QString& thumbnail = entry.thumbnailName;
    if (!thumbnail.isEmpty() && !m_history.laterUploadHolds(entry, thumbnail) &&
        driver.fileExists(thumbnail) && !driver.removeFile(thumbnail))
        return {entry.id, true,
                QStringLiteral("The thumbnail \"%1\" of \"%2\" could not be deleted: %3")
                    .arg(thumbnail, entry.remotePath(), driver.lastError())};
    return {entry.id, true, QString()};
}

void markDeleted(History& history, const HistoryEntries& entries,
                 const QList<DeleteOutcome>& outcomes) {
    QList<qint64> gone;
    for (qsizetype index = 0; index < outcomes.size(); ++index)
        if (outcomes[index].done)
            for (const HistoryEntry& entry : history.sameFile(entries[index]))
                if (!gone.contains(entry.id))
                    gone.append(entry.id);
    history.markDeleted(gone, QDateTime::currentDateTimeUtc());
}

void DeleteRun::logIn(qint32 server) {
    m_session.reset();
    m_config.currentServer = server;
    const ServerRecord record = m_config.currentServerRecord();
    if (const QString problem = serverTypeProblem(m_config); !problem.isEmpty())
        throw Error(problem);
    m_session = std::make_unique<UploadSession>(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, record.type.toInt(),
        PolicySkip, m_config.logTraffic(), standardDrivers(m_config.programDir, record.sshClient));
    configureSession(*m_session, m_config);
    if (!m_session->login(record.host, record.port, record.user, record.password, record.keyFile))
        throw Error(QStringLiteral("The login to \"%1\" was refused or cancelled.")
                        .arg(m_config.serverNames.value(server)));
}

} // namespace quaddle
