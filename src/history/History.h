#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace quaddle {

// Who logged in where for an upload: the server entry's user and port as they were then.
struct HistoryLogin {
    QString user;
    QString port;
    friend bool operator==(const HistoryLogin&, const HistoryLogin&) = default;
};

// One uploaded file as the history keeps it.
struct HistoryEntry {
    // Given by the store; 0 for an entry not stored yet.
    qint64 id = 0;
    // When it went up, in UTC.
    QDateTime time;
    // The server as config.xml named it then, and its host.
    QString serverName;
    QString host;
    // "FTP", "FTPS" or "SFTP".
    QString protocol;
    // Nothing for uploads recorded before the history kept the login.
    std::optional<HistoryLogin> login;
    // The folder a new login enters to reach the file (the server's root directory and the
    // upload folder joined; empty for the login's own folder), the file's remote name and its
    // thumbnail's (empty when there is none).
    QString folder;
    QString name;
    QString thumbnailName;
    QString url;
    QString thumbnailUrl;
    qint64 size = 0;
    // SHA-256 of the bytes sent, as lower-case hex.
    QString sha256;
    // When it was deleted from the server; invalid while it is there.
    QDateTime deletedTime;
    // A small JPEG of its thumbnail, for lists; empty when it went without one.
    QByteArray preview;

    bool deleted() const { return deletedTime.isValid(); }
    // The file's path on the server, for showing.
    QString remotePath() const;
    // Its thumbnail's; empty when there is none.
    QString thumbnailPath() const;
    friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};
using HistoryEntries = QList<HistoryEntry>;

// The history of uploads: history.sqlite in the program directory, created owner-only. Rows
// come newest first (in the order they were added), so a list view can ask for the number of
// rows matching its search and then fetch the rows it shows by offset and limit.
//
// A file that is no database, or a damaged one, is moved aside as history.sqlite.damaged
// (replacing an older one), the user is told through dialogs().notify, and a new one starts.
// Every method throws Error with a message for the user when the file cannot be read or
// written (a read-only folder, say).
class History {
public:
    // The version of the tables this program writes, kept in the file's user_version.
    static constexpr int SchemaVersion = 2;

    // Opens the store in programDir (ending with "/"), creating it when missing, and the
    // default program directory too. Any number of programs may open and write it at once.
    explicit History(const QString& programDir);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    static QString filePath(const QString& programDir);
    static QString damagedPath(const QString& programDir) {
        return filePath(programDir) + QStringLiteral(".damaged");
    }

    // Stores the entries in one transaction, in their order (the last is the newest); they
    // receive their ids.
    void add(HistoryEntries& entries);

    // Rows whose file name, URL or server name contain search (letter case ignored); every row
    // for an empty search. With newerThan, only those added after the row of that id.
    qint64 count(const QString& search = QString(), qint64 newerThan = 0) const;
    // At most limit rows of those, newest first, from offset on.
    HistoryEntries entries(qint64 offset, qint64 limit, const QString& search = QString()) const;
    // The rows whose URL is url, newest first.
    HistoryEntries withUrl(const QString& url) const;
    // The rows not marked deleted whose file is the remote file of entry: the same login,
    // protocol, folder and name, through any server entry; newest first.
    HistoryEntries sameFile(const HistoryEntry& entry) const;
    // Whether an upload recorded after entry, in its folder, put a file or a thumbnail named
    // name there: that upload's file took the place of entry's file of that name.
    bool laterUploadHolds(const HistoryEntry& entry, const QString& name) const;
    // After the file name in folder of the server of entry (login, protocol) was renamed on the
    // server to newName, at newUrl: the rows not marked deleted that name it, as file or as
    // thumbnail, name the new one.
    void followRename(const HistoryEntry& where, const QString& name, const QString& newName,
                      const QString& newUrl);

    // Whether another program wrote to the history since the last call, or since it was
    // opened. Cheap enough to ask every second.
    bool changedElsewhere();

    void markDeleted(const QList<qint64>& ids, const QDateTime& when);
    void remove(const QList<qint64>& ids);

private:
    void open();
    // Opens the file and brings its tables to SchemaVersion; false when it is damaged.
    bool openTables();
    // Creates the tables of a new file, or brings older ones up to date.
    void upgradeTables();
    void setAside();
    void close();
    // Changes whenever another connection commits to the file.
    qint64 dataVersion() const;

    const QString m_programDir;
    const QString m_connection;
    qint64 m_dataVersion = 0;
};

} // namespace quaddle
