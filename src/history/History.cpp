#include "history/History.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "platform/ProgramDir.h"

#include <QAtomicInteger>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quaddle {

namespace {

// SQLite's result codes for a file that is no database or a damaged one.
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;
// ... and for one another connection holds.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;

// How long a connection waits for others writing the file at the same time.
constexpr int BusyTimeoutMs = 30000;

// The trigram index finds any part of a text of three or more characters; shorter searches
// read every row, which they match plenty of anyway.
constexpr qsizetype IndexedSearchLength = 3;

const QString Columns =
    QStringLiteral("id, time, server, host, protocol, folder, name, thumbnail, "
                   "url, thumbnail_url, size, sha256, deleted_time, preview, user, port");

// The rows of the same remote file, whichever server entry uploaded it: login, protocol and
// folder, still there.
const QString SameFolder =
    QStringLiteral("host = ? AND protocol = ? AND folder = ? AND user IS ? AND port IS ? AND "
                   "deleted_time IS NULL");

// The rows of one server entry in the same folder; their addresses follow its pattern.
const QString SamePlace = QStringLiteral("server = ? AND ") + SameFolder;

// A renamed file's rows change their name and URL; the search index follows.
const char* const RenamedTrigger =
    "CREATE TRIGGER uploads_renamed AFTER UPDATE OF name, url ON uploads BEGIN INSERT INTO "
    "uploads_search(uploads_search, rowid, name, url, server) VALUES ('delete', old.id, "
    "old.name, old.url, old.server); INSERT INTO uploads_search(rowid, name, url, server) "
    "VALUES (new.id, new.name, new.url, new.server); END";

// Finds the rows of one remote file without reading them all.
const char* const NameIndex = "CREATE INDEX uploads_name ON uploads(name)";

// The login columns are NULL in rows kept before they were.
const char* const CreateTables[] = {
    "CREATE TABLE uploads(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, server TEXT NOT NULL, "
    "host TEXT NOT NULL, protocol TEXT NOT NULL, folder TEXT NOT NULL, name TEXT NOT NULL, "
    "thumbnail TEXT NOT NULL, url TEXT NOT NULL, thumbnail_url TEXT NOT NULL, "
    "size INTEGER NOT NULL, sha256 TEXT NOT NULL, deleted_time INTEGER, preview BLOB, "
    "user TEXT, port TEXT)",
    "CREATE INDEX uploads_url ON uploads(url)",
    NameIndex,
    "CREATE VIRTUAL TABLE uploads_search USING fts5(name, url, server, content='uploads', "
    "content_rowid='id', tokenize='trigram')",
    "CREATE TRIGGER uploads_added AFTER INSERT ON uploads BEGIN INSERT INTO uploads_search(rowid, "
    "name, url, server) VALUES (new.id, new.name, new.url, new.server); END",
    "CREATE TRIGGER uploads_removed AFTER DELETE ON uploads BEGIN INSERT INTO "
    "uploads_search(uploads_search, rowid, name, url, server) VALUES ('delete', old.id, "
    "old.name, old.url, old.server); END",
    RenamedTrigger,
};

// From the first version of the tables to this one.
const char* const AddLogin[] = {
    "ALTER TABLE uploads ADD COLUMN user TEXT",
    "ALTER TABLE uploads ADD COLUMN port TEXT",
    NameIndex,
    RenamedTrigger,
};

// A statement that failed; damaged when the file is no database or a broken one.
class StoreError : public Error {
public:
    StoreError(const QString& path, const QSqlError& error)
        : Error(QStringLiteral("The upload history \"%1\" could not be used: %2")
                    .arg(path, error.text())),
          m_damaged(isDamage(error)), m_busy(isBusy(error)) {}
    bool damaged() const { return m_damaged; }
    bool busy() const { return m_busy; }

private:
    static int codeOf(const QSqlError& error) { return error.nativeErrorCode().toInt() & 0xFF; }
    static bool isDamage(const QSqlError& error) {
        return codeOf(error) == SqliteCorrupt || codeOf(error) == SqliteNotADatabase;
    }
    static bool isBusy(const QSqlError& error) {
        return codeOf(error) == SqliteBusy || codeOf(error) == SqliteLocked;
    }

    bool m_damaged;
    bool m_busy;
};

QVariant timeValue(const QDateTime& time) {
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch())
                          : QVariant(QMetaType::fromType<qint64>());
}

// Qt binds a null text as NULL; the columns hold empty texts instead.
QVariant textValue(const QString& text) {
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

QVariantList loginValues(const std::optional<HistoryLogin>& login) {
    if (!login)
        return {QVariant(QMetaType::fromType<QString>()), QVariant(QMetaType::fromType<QString>())};
    return {textValue(login->user), textValue(login->port)};
}

// The values of SameFolder for the remote file of entry.
QVariantList folderValues(const HistoryEntry& entry) {
    return QVariantList{textValue(entry.host), textValue(entry.protocol), textValue(entry.folder)} +
           loginValues(entry.login);
}

// The values of SamePlace for the remote file of entry.
QVariantList placeValues(const HistoryEntry& entry) {
    return QVariantList{textValue(entry.serverName)} + folderValues(entry);
}

QDateTime timeOf(const QVariant& value) {
    return value.isNull() ? QDateTime()
                          : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

HistoryEntry entryOf(const QSqlQuery& row) {
    HistoryEntry entry;
    entry.id = row.value(0).toLongLong();
    entry.time = timeOf(row.value(1));
    entry.serverName = row.value(2).toString();
    entry.host = row.value(3).toString();
    entry.protocol = row.value(4).toString();
    entry.folder = row.value(5).toString();
    entry.name = row.value(6).toString();
    entry.thumbnailName = row.value(7).toString();
    entry.url = row.value(8).toString();
    entry.thumbnailUrl = row.value(9).toString();
    entry.size = row.value(10).toLongLong();
    entry.sha256 = row.value(11).toString();
    entry.deletedTime = timeOf(row.value(12));
    entry.preview = row.value(13).toByteArray();
    if (!row.value(14).isNull())
        entry.login = HistoryLogin{row.value(14).toString(), row.value(15).toString()};
    return entry;
}

// The condition that picks the rows matching search, with its values.
QPair<QString, QVariantList> searchCondition(const QString& search) {
    if (search.isEmpty())
        return {QString(), {}};
    if (search.size() >= IndexedSearchLength) {
        // One quoted phrase: the search's own quotes and operators mean nothing.
        QString phrase = search;
        phrase = QLatin1Char('"') + phrase.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                 QLatin1Char('"');
        return {QStringLiteral(" WHERE id IN (SELECT rowid FROM uploads_search WHERE "
                               "uploads_search MATCH ?)"),
                {phrase}};
    }
    QString pattern = search;
    pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    pattern = QLatin1Char('%') + pattern + QLatin1Char('%');
    return {QStringLiteral(" WHERE (name LIKE ? ESCAPE '\\' OR url LIKE ? ESCAPE '\\' OR "
                           "server LIKE ? ESCAPE '\\')"),
            {pattern, pattern, pattern}};
}

QString pathIn(const QString& folder, const QString& name) {
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString nextConnectionName() {
    static QAtomicInteger<int> opened = 0;
    return QStringLiteral("quaddle-history-%1").arg(opened.fetchAndAddRelaxed(1));
}

// Runs one statement with its values in order; throws StoreError when it fails.
QSqlQuery run(const QString& connection, const QString& sql, const QVariantList& values = {}) {
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    QSqlQuery query(database);
    query.setForwardOnly(true);
    bool done = query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    done = done && query.exec();
    if (!done)
        throw StoreError(database.databaseName(), query.lastError());
    return query;
}

// The version of the tables in the file; 0 for a new one.
int storedVersion(const QString& connection) {
    QSqlQuery version = run(connection, QStringLiteral("PRAGMA user_version"));
    return version.next() ? version.value(0).toInt() : 0;
}

QString journalMode(const QString& connection) {
    QSqlQuery mode = run(connection, QStringLiteral("PRAGMA journal_mode"));
    return mode.next() ? mode.value(0).toString() : QString();
}

// Write-ahead logging lets the window read while an upload writes. Another program switching
// at the same moment holds the file; it then switches it for both.
void useWriteAheadLog(const QString& connection) {
    if (journalMode(connection) == QLatin1String("wal"))
        return;
    try {
        run(connection, QStringLiteral("PRAGMA journal_mode=WAL"));
    } catch (const StoreError& error) {
        if (!error.busy())
            throw;
    }
}

// Creates the file owner-only when it is missing, before SQLite sees it, without replacing
// one another program creates at the same moment; its journal files take its permissions.
void createOwnerOnly(const QString& path) {
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        throw Error(QStringLiteral("The upload history \"%1\" could not be created: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    ::close(descriptor);
}

// Runs change in one transaction, undone when it throws.
template <typename Change> void inTransaction(const QString& connection, Change change) {
    run(connection, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        change();
        run(connection, QStringLiteral("COMMIT"));
    } catch (const Error&) {
        QSqlQuery(QSqlDatabase::database(connection, false)).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

} // namespace

QString HistoryEntry::remotePath() const {
    return pathIn(folder, name);
}

QString HistoryEntry::thumbnailPath() const {
    return thumbnailName.isEmpty() ? QString() : pathIn(folder, thumbnailName);
}

History::History(const QString& programDir)
    : m_programDir(programDir), m_connection(nextConnectionName()) {
    open();
}

History::~History() {
    close();
}

QString History::filePath(const QString& programDir) {
    return programDir + QStringLiteral("history.sqlite");
}

void History::open() {
    const QString path = filePath(m_programDir);
    if (openTables()) {
        m_dataVersion = dataVersion();
        return;
    }
    close();
    setAside();
    if (!openTables())
        throw Error(
            QStringLiteral("The upload history \"%1\" could not be started anew.").arg(path));
    m_dataVersion = dataVersion();
    dialogs().notify(MessageKind::Error,
                     QStringLiteral("The upload history \"%1\" was damaged. It was set aside as "
                                    "\"%2\", and a new one was started.")
                         .arg(path, damagedPath(m_programDir)));
}

bool History::openTables() {
    const QString path = filePath(m_programDir);
    // The default folder does not exist before the first save; a chosen one must exist.
    if (m_programDir == defaultProgramDir())
        makePrivateDir(m_programDir);
    createOwnerOnly(path);
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    database.setDatabaseName(path);
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!database.open())
        throw StoreError(path, database.lastError());
    try {
        upgradeTables();
        useWriteAheadLog(m_connection);
    } catch (const StoreError& error) {
        if (!error.damaged())
            throw;
        return false;
    }
    return true;
}

void History::upgradeTables() {
    // Read and changed in one transaction, so two programs starting on a new file create the
    // tables once.
    inTransaction(m_connection, [this] {
        const int stored = storedVersion(m_connection);
        if (stored > SchemaVersion)
            throw Error(QStringLiteral("The upload history \"%1\" was written by a newer version "
                                       "of the program; it is left as it is.")
                            .arg(filePath(m_programDir)));
        if (stored == SchemaVersion)
            return;
        if (stored == 0)
            for (const char* statement : CreateTables)
                run(m_connection, QLatin1String(statement));
        else
            for (const char* statement : AddLogin)
                run(m_connection, QLatin1String(statement));
        run(m_connection, QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion));
    });
}

void History::setAside() {
    const QString path = filePath(m_programDir);
    const QString aside = damagedPath(m_programDir);
    QFile::remove(aside);
    if (!QFile::rename(path, aside))
        throw Error(
            QStringLiteral("The damaged upload history \"%1\" could not be set aside.").arg(path));
    // What was on its way into the damaged file belongs to it alone.
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
}

void History::close() {
    if (!QSqlDatabase::contains(m_connection))
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

void History::add(HistoryEntries& entries) {
    inTransaction(m_connection, [&] {
        for (HistoryEntry& entry : entries) {
            const QSqlQuery query = run(
                m_connection,
                QStringLiteral("INSERT INTO uploads(time, server, host, protocol, folder, name, "
                               "thumbnail, url, thumbnail_url, size, sha256, deleted_time, "
                               "preview, user, port) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                               "?, ?, ?)"),
                QVariantList{timeValue(entry.time), textValue(entry.serverName),
                             textValue(entry.host), textValue(entry.protocol),
                             textValue(entry.folder), textValue(entry.name),
                             textValue(entry.thumbnailName), textValue(entry.url),
                             textValue(entry.thumbnailUrl), entry.size, textValue(entry.sha256),
                             timeValue(entry.deletedTime),
                             entry.preview.isEmpty() ? QVariant(QMetaType::fromType<QByteArray>())
                                                     : QVariant(entry.preview)} +
                    loginValues(entry.login));
            entry.id = query.lastInsertId().toLongLong();
        }
    });
}

qint64 History::count(const QString& search, qint64 newerThan) const {
    auto [condition, values] = searchCondition(search);
    if (newerThan > 0) {
        condition +=
            condition.isEmpty() ? QStringLiteral(" WHERE id > ?") : QStringLiteral(" AND id > ?");
        values << newerThan;
    }
    QSqlQuery query =
        run(m_connection, QStringLiteral("SELECT count(*) FROM uploads") + condition, values);
    return query.next() ? query.value(0).toLongLong() : 0;
}

HistoryEntries History::entries(qint64 offset, qint64 limit, const QString& search) const {
    auto [condition, values] = searchCondition(search);
    values << limit << offset;
    QSqlQuery query = run(m_connection,
                          QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM uploads") +
                              condition + QStringLiteral(" ORDER BY id DESC LIMIT ? OFFSET ?"),
                          values);
    HistoryEntries found;
    while (query.next())
        found.append(entryOf(query));
    return found;
}

HistoryEntries History::withUrl(const QString& url) const {
    QSqlQuery query = run(m_connection,
                          QStringLiteral("SELECT ") + Columns +
                              QStringLiteral(" FROM uploads WHERE url = ? ORDER BY id DESC"),
                          {url});
    HistoryEntries found;
    while (query.next())
        found.append(entryOf(query));
    return found;
}

HistoryEntries History::sameFile(const HistoryEntry& entry) const {
    QSqlQuery query =
        run(m_connection,
            QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM uploads WHERE ") +
                SameFolder + QStringLiteral(" AND name = ? ORDER BY id DESC"),
            folderValues(entry) << textValue(entry.name));
    HistoryEntries found;
    while (query.next())
        found.append(entryOf(query));
    return found;
}

bool History::laterUploadHolds(const HistoryEntry& entry, const QString& name) const {
    return run(m_connection,
               QStringLiteral("SELECT 1 FROM uploads WHERE ") + SameFolder +
                   QStringLiteral(" AND id > ? AND (name = ? OR thumbnail = ?) LIMIT 1"),
               folderValues(entry) << entry.id << textValue(name) << textValue(name))
        .next();
}

void History::followRename(const HistoryEntry& where, const QString& name, const QString& newName,
                           const QString& newUrl) {
    inTransaction(m_connection, [&] {
        run(m_connection,
            QStringLiteral("UPDATE uploads SET name = ?, url = ? WHERE ") + SamePlace +
                QStringLiteral(" AND name = ?"),
            QVariantList{textValue(newName), textValue(newUrl)} + placeValues(where) +
                QVariantList{textValue(name)});
        run(m_connection,
            QStringLiteral("UPDATE uploads SET thumbnail = ?, thumbnail_url = ? WHERE ") +
                SamePlace + QStringLiteral(" AND thumbnail = ?"),
            QVariantList{textValue(newName), textValue(newUrl)} + placeValues(where) +
                QVariantList{textValue(name)});
    });
}

qint64 History::dataVersion() const {
    QSqlQuery version = run(m_connection, QStringLiteral("PRAGMA data_version"));
    return version.next() ? version.value(0).toLongLong() : 0;
}

bool History::changedElsewhere() {
    const qint64 version = dataVersion();
    const bool changed = version != m_dataVersion;
    m_dataVersion = version;
    return changed;
}

void History::markDeleted(const QList<qint64>& ids, const QDateTime& when) {
    inTransaction(m_connection, [&] {
        for (const qint64 id : ids)
            run(m_connection, QStringLiteral("UPDATE uploads SET deleted_time = ? WHERE id = ?"),
                {timeValue(when), id});
    });
}

void History::remove(const QList<qint64>& ids) {
    inTransaction(m_connection, [&] {
        for (const qint64 id : ids)
            run(m_connection, QStringLiteral("DELETE FROM uploads WHERE id = ?"), {id});
    });
}

} // namespace quaddle
