#pragma once

#include "history/History.h"

#include <QAbstractTableModel>
#include <QCache>

namespace quaddle {

// The history's rows that match a search, newest first, for a view: it counts them, and
// fetches them a page at a time as the view shows them, so a history of any length opens at
// once.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { TimeColumn, FileColumn, ServerColumn, UrlColumn, ColumnCount };

    explicit HistoryModel(History& history, QObject* parent = nullptr);

    // Shows the rows whose name, URL or server contain search. Throws Error as History does.
    void setSearch(const QString& search);
    // Reads the rows again, after the history changed.
    void reload();
    HistoryEntry entryAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static constexpr int PageSize = 200;
    // Pages kept; more are read again when the view comes back to them.
    static constexpr int CachedPages = 50;

private:
    const HistoryEntries& page(int row) const;

    History& m_history;
    QString m_search;
    int m_count = 0;
    mutable QCache<int, HistoryEntries> m_pages{CachedPages};
};

} // namespace quaddle
