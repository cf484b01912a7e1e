#include "gui/HistoryModel.h"

#include "platform/Error.h"
#include "thumbs/Jpeg.h"

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QPalette>
#include <algorithm>

namespace quaddle {

namespace {

// Past what a view can scroll through, the newest rows are what anyone looks for.
int shownRows(qint64 count) {
    return int(std::min<qint64>(count, std::numeric_limits<int>::max()));
}

} // namespace

HistoryModel::HistoryModel(History& history, QObject* parent)
    : QAbstractTableModel(parent), m_history(history) {
    reload();
}

void HistoryModel::setSearch(const QString& search) {
    m_search = search;
    countRows();
}

void HistoryModel::reload() {
    m_total = m_history.count();
    countRows();
}

void HistoryModel::countRows() {
    beginResetModel();
    m_pages.clear();
    m_count = shownRows(m_search.isEmpty() ? m_total : m_history.count(m_search));
    endResetModel();
}

void HistoryModel::refresh() {
    const qint64 newest = m_count > 0 ? entryAt(0).id : 0;
    const qint64 total = m_history.count();
    const qint64 count = m_search.isEmpty() ? total : m_history.count(m_search);
    const qint64 added = m_history.count(m_search, newest);
    if (count - added != m_count) {
        // Rows went, or changed what matches: the rows shown are not those any more.
        m_total = total;
        countRows();
        return;
    }
    m_total = total;
    m_pages.clear();
    if (added > 0) {
        beginInsertRows(QModelIndex(), 0, shownRows(added) - 1);
        m_count = shownRows(count);
        endInsertRows();
    }
    // Rows shown before may have been marked deleted meanwhile.
    if (m_count > 0)
        emit dataChanged(index(0, 0), index(m_count - 1, ColumnCount - 1));
}

QString HistoryModel::timeText(const QDateTime& time) {
    return QLocale().toString(time.toLocalTime(), QLocale::ShortFormat);
}

HistoryEntry HistoryModel::entryAt(int row) const {
    const HistoryEntries& entries = page(row);
    const qsizetype offset = row % PageSize;
    return offset < entries.size() ? entries[offset] : HistoryEntry();
}

const HistoryEntries& HistoryModel::page(int row) const {
    const int number = row / PageSize;
    if (const HistoryEntries* cached = m_pages.object(number))
        return *cached;
    auto* entries = new HistoryEntries;
    try {
        *entries = m_history.entries(qint64(number) * PageSize, PageSize, m_search);
    } catch (const Error&) {
        // A history that fails while it is shown shows empty rows; the next search tells why.
    }
    m_pages.insert(number, entries);
    return *m_pages.object(number);
}

QPixmap HistoryModel::preview(const HistoryEntry& entry) const {
    if (const QPixmap* cached = m_previews.object(entry.id))
        return *cached;
    QPixmap pixmap;
    try {
        pixmap = QPixmap::fromImage(decodeJpeg(entry.preview));
    } catch (const Error&) {
        // A preview that cannot be read shows none.
    }
    m_previews.insert(entry.id, new QPixmap(pixmap));
    return pixmap;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_count;
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const HistoryEntry entry = entryAt(index.row());
    if (role == Qt::DisplayRole) {
        switch (Column(index.column())) {
        case TimeColumn:
            return timeText(entry.time);
        case FileColumn:
            return entry.deleted() ? tr("%1 (deleted)").arg(entry.name) : entry.name;
        case ServerColumn:
            return entry.serverName;
        case UrlColumn:
            return entry.url;
        case ColumnCount:
            break;
        }
    } else if (role == Qt::DecorationRole && index.column() == FileColumn &&
               !entry.preview.isEmpty()) {
        return preview(entry);
    } else if (role == Qt::ToolTipRole) {
        return entry.remotePath();
    } else if (role == Qt::FontRole && entry.deleted()) {
        QFont struck;
        struck.setStrikeOut(true);
        return struck;
    } else if (role == Qt::ForegroundRole && entry.deleted()) {
        return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (Column(section)) {
    case TimeColumn:
        return tr("Time");
    case FileColumn:
        return tr("File");
    case ServerColumn:
        return tr("Server");
    case UrlColumn:
        return tr("URL");
    case ColumnCount:
        break;
    }
    return {};
}

} // namespace quaddle
