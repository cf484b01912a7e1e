#pragma once

#include "history/History.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QPixmap>

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
    // Reads the rows again after another program changed the history. Uploads it added come in
    // at the top and the rows shown keep their place and selection; other changes read the
    // rows anew. Throws Error as History does.
    void refresh();
    HistoryEntry entryAt(int row) const;
    // Every upload in the history, whatever the search.
    qint64 total() const { return m_total; }

    // The time column's text for time.
    static QString timeText(const QDateTime& time);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static constexpr int PageSize = 200;
    // Pages kept; more are read again when the view comes back to them.
    static constexpr int CachedPages = 50;

    // Previews decoded and kept for the rows shown.
    static constexpr int CachedPreviews = 500;

private:
    // Counts the rows that match the search, for a view told of the change.
    void countRows();
    const HistoryEntries& page(int row) const;
    QPixmap preview(const HistoryEntry& entry) const;

    History& m_history;
    QString m_search;
    int m_count = 0;
    qint64 m_total = 0;
    mutable QCache<int, HistoryEntries> m_pages{CachedPages};
    mutable QCache<qint64, QPixmap> m_previews{CachedPreviews};
};

} // namespace quaddle
