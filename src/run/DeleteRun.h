#pragma once

#include "config/Config.h"
#include "history/History.h"

#include <memory>

namespace quaddle {

class UploadSession;

// How deleting one history entry's file from its server ended.
struct DeleteOutcome {
    qint64 id = 0;
    // The file is gone from the server: deleted now, and its thumbnail too unless reason says
    // otherwise.
    bool done = false;
    // Why the file, or its thumbnail, was not deleted, naming it; empty when all went.
    QString reason;
};

// Deletes uploaded files, with their thumbnails, from the servers they went to, as both faces
// offer it. Each server is found in the configuration by the name and host the entry keeps,
// and logged in to as an upload does (the stored login, the master password, the configured
// options, questions through dialogs()), once per server: again only to reach a relative folder
// after another one. A file that is not there any more is not counted as deleted, so its entry
// keeps telling the user where it went. Only a file that is the one uploaded goes: the server
// entry must still log in as the upload did (user, port, protocol), and the file on the server
// must have the size uploaded; an entry kept before the history recorded the login is never
// taken for sure, nor one whose file a later upload of history replaced. The history itself is left
// for the caller to mark, with markDeleted.
class DeleteRun {
public:
    DeleteRun(Config& config, const History& history);
    ~DeleteRun();
    DeleteRun(const DeleteRun&) = delete;
    DeleteRun& operator=(const DeleteRun&) = delete;

    // One outcome per entry, in their order.
    QList<DeleteOutcome> run(const HistoryEntries& entries);
    // Stops the run; the files not reached yet are told as not deleted.
    void cancel();

private:
    // The configured server the entry went to; -1 when there is none.
    qint32 serverOf(const HistoryEntry& entry) const;
    void deleteOnServer(qint32 server, const HistoryEntries& entries, const QList<qsizetype>& rows,
                        QList<DeleteOutcome>& outcomes);
    // Deletes the rows of one folder over the session.
    void deleteInFolder(const QString& folder, const HistoryEntries& entries,
                        const QList<qsizetype>& rows, QList<DeleteOutcome>& outcomes);
    DeleteOutcome deleteEntry(const HistoryEntry& entry);
    void logIn(qint32 server);

    // Why the entry's file is not what its server holds now, before asking the server; empty
    // when that may be it.
    QString knownMismatch(qint32 server, const HistoryEntry& entry) const;

    Config& m_config;
    const History& m_history;
    std::unique_ptr<UploadSession> m_session;
    bool m_cancelled = false;
};

// Marks in history the entries whose files the outcomes of entries tell as deleted, and the
// older entries of the same remote files.
void markDeleted(History& history, const HistoryEntries& entries,
                 const QList<DeleteOutcome>& outcomes);

} // namespace quaddle
