#include "history/History.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QAtomicInteger>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace quaddle {

namespace {

// SQLite's result codes for a file that is no database or a damaged one.
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;

// The trigram index finds any part of a text of three or more characters; shorter searches
// read every row, which they match plenty of anyway.
constexpr qsizetype IndexedSearchLength = 3;

const QString Columns = QStringLiteral("id, time, server, host, protocol, folder, name, thumbnail, "
                                       "url, thumbnail_url, size, sha256, deleted_time");

const char* const CreateTables[] = {
    "CREATE TABLE uploads(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, server TEXT NOT NULL, "
    "host TEXT NOT NULL, protocol TEXT NOT NULL, folder TEXT NOT NULL, name TEXT NOT NULL, "
    "thumbnail TEXT NOT NULL, url TEXT NOT NULL, thumbnail_url TEXT NOT NULL, "
    "size INTEGER NOT NULL, sha256 TEXT NOT NULL, deleted_time INTEGER)",
    "CREATE INDEX uploads_url ON uploads(url)",
    // Rows are never updated in the searched columns, so inserts and deletes keep it right.
    "CREATE VIRTUAL TABLE uploads_search USING fts5(name, url, server, content='uploads', "
    "content_rowid='id', tokenize='trigram')",
    "CREATE TRIGGER uploads_added AFTER INSERT ON uploads BEGIN INSERT INTO uploads_search(rowid, "
    "name, url, server) VALUES (new.id, new.name, new.url, new.server); END",
    "CREATE TRIGGER uploads_removed AFTER DELETE ON uploads BEGIN INSERT INTO "
    "uploads_search(uploads_search, rowid, name, url, server) VALUES ('delete', old.id, "
    "old.name, old.url, old.server); END",
};

// A statement that failed; damaged when the file is no database or a broken one.
class StoreError : public Error {
public:
    StoreError(const QString& path, const QSqlError& error)
        : Error(QStringLiteral("The upload history \"%1\" could not be used: %2")
                    .arg(path, error.text())),
          m_damaged(isDamage(error)) {}
    bool damaged() const { return m_damaged; }

private:
    static bool isDamage(const QSqlError& error) {
        const int code = error.nativeErrorCode().toInt() & 0xFF;
        return code == SqliteCorrupt || code == SqliteNotADatabase;
    }

    bool m_damaged;
};

QVariant timeValue(const QDateTime& time) {
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch())
                          : QVariant(QMetaType::fromType<qint64>());
}

// Qt binds a null text as NULL; the columns hold empty texts instead.
QVariant textValue(const QString& text) {
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
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
    return {QStringLiteral(" WHERE name LIKE ? ESCAPE '\\' OR url LIKE ? ESCAPE '\\' OR "
                           "server LIKE ? ESCAPE '\\'"),
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
    if (openTables())
        return;
    close();
    setAside();
    if (!openTables())
        throw Error(
            QStringLiteral("The upload history \"%1\" could not be started anew.").arg(path));
    dialogs().notify(MessageKind::Error,
                     QStringLiteral("The upload history \"%1\" was damaged. It was set aside as "
                                    "\"%2\", and a new one was started.")
                         .arg(path, damagedPath(m_programDir)));
}

bool History::openTables() {
    const QString path = filePath(m_programDir);
    // Made owner-only before SQLite sees it; its journal files take the same permissions.
    QFile file(path);
    if (!file.exists() &&
        !file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
        throw Error(QStringLiteral("The upload history \"%1\" could not be created: %2")
                        .arg(path, file.errorString()));
    file.close();
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    database.setDatabaseName(path);
    if (!database.open())
        throw StoreError(path, database.lastError());
    try {
        const int stored = storedVersion(m_connection);
        if (stored > SchemaVersion)
            throw Error(QStringLiteral("The upload history \"%1\" was written by a newer version "
                                       "of the program; it is left as it is.")
                            .arg(path));
        run(m_connection, QStringLiteral("PRAGMA journal_mode=WAL"));
        if (stored < SchemaVersion)
            inTransaction(m_connection, [this] {
                for (const char* statement : CreateTables)
                    run(m_connection, QLatin1String(statement));
                run(m_connection, QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion));
            });
    } catch (const StoreError& error) {
        if (!error.damaged())
            throw;
        return false;
    }
    return true;
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
                               "thumbnail, url, thumbnail_url, size, sha256, deleted_time) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {timeValue(entry.time), textValue(entry.serverName), textValue(entry.host),
                 textValue(entry.protocol), textValue(entry.folder), textValue(entry.name),
                 textValue(entry.thumbnailName), textValue(entry.url),
                 textValue(entry.thumbnailUrl), entry.size, textValue(entry.sha256),
                 timeValue(entry.deletedTime)});
            entry.id = query.lastInsertId().toLongLong();
        }
    });
}

qint64 History::count(const QString& search) const {
    const auto [condition, values] = searchCondition(search);
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
