#include "gui/HistoryModel.h"

#include "platform/Error.h"

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QPalette>
#include <algorithm>

namespace quaddle {

HistoryModel::HistoryModel(History& history, QObject* parent)
    : QAbstractTableModel(parent), m_history(history) {
    reload();
}

void HistoryModel::setSearch(const QString& search) {
    m_search = search;
    reload();
}

void HistoryModel::reload() {
    beginResetModel();
    m_pages.clear();
    // Past what a view can scroll through, the newest rows are what anyone looks for.
    m_count = int(std::min<qint64>(m_history.count(m_search), std::numeric_limits<int>::max()));
    endResetModel();
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
            return QLocale().toString(entry.time.toLocalTime(), QLocale::ShortFormat);
        case FileColumn:
            return entry.deleted() ? tr("%1 (deleted)").arg(entry.name) : entry.name;
        case ServerColumn:
            return entry.serverName;
        case UrlColumn:
            return entry.url;
        case ColumnCount:
            break;
        }
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
