#include "gui/HistoryWindow.h"

#include "gui/SuccessWindow.h"
#include "gui/WebPages.h"
#include "gui/WindowSupport.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/ProgramDir.h"
#include "results/UrlBuilder.h"
#include "run/DeleteRun.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <algorithm>

namespace quaddle {

namespace {

// A confirmation lists this many files at most.
constexpr qsizetype ListedFiles = 20;
// The previews of thumbnails the history keeps are as large.
constexpr int PreviewSize = 48;

const QString GeometryKey = QStringLiteral("HistoryWindow/Geometry");
// How often the window looks whether another program changed the history.
constexpr int ChangeCheckMs = 1000;

// A table whose rows are as high as what they show, one line of text or a preview. Rows are
// measured as they come into view, so a long history still opens without reading every row.
class HistoryView : public QTableView {
public:
    using QTableView::QTableView;

    // What a cell needs to show text on one line, grid line included.
    QSize textCellSize(const QString& text) const {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.features |= QStyleOptionViewItem::HasDisplay;
        option.text = text;
        const int grid = showGrid() ? 1 : 0;
        return style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this) +
               QSize(grid, grid);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        fitRowsInView();
        QTableView::paintEvent(event);
    }

private:
    void fitRowsInView() {
        const int rows = model()->rowCount();
        const int bottom = viewport()->height();
        for (int row = std::max(rowAt(0), 0); row < rows && rowViewportPosition(row) < bottom;
             ++row) {
            const int height = sizeHintForRow(row);
            if (rowHeight(row) != height)
                setRowHeight(row, height);
        }
    }
};

// The longest text the time column shows in this locale.
QString widestTime(const HistoryView& view) {
    QString widest;
    int widestWidth = 0;
    // Two-digit days and hours, in the morning and the afternoon, in every month.
    for (int month = 1; month <= 12; ++month)
        for (const int hour : {10, 22}) {
            const QString text =
                HistoryModel::timeText(QDateTime(QDate(2000, month, 28), QTime(hour, 58)).toUTC());
            const int width = view.textCellSize(text).width();
            if (width > widestWidth) {
                widest = text;
                widestWidth = width;
            }
        }
    return widest;
}

QString fileLine(const HistoryEntry& entry) {
    return entry.thumbnailName.isEmpty()
               ? entry.remotePath()
               : QCoreApplication::translate("HistoryWindow", "%1 and its thumbnail")
                     .arg(entry.remotePath());
}

// Names every server and, up to ListedFiles, the files that would go from it.
QString deleteQuestion(const HistoryEntries& entries) {
    QMap<std::pair<QString, QString>, QStringList> byServer;
    for (const HistoryEntry& entry : entries)
        byServer[{entry.serverName, entry.host}].append(fileLine(entry));
    QString text;
    qsizetype listed = 0;
    for (auto server = byServer.cbegin(); server != byServer.cend(); ++server) {
        text += QCoreApplication::translate("HistoryWindow", "Delete from the server \"%1\" (%2):")
                    .arg(server.key().first, server.key().second) +
                LineBreak;
        for (const QString& line : server.value())
            if (listed++ < ListedFiles)
                text += line + LineBreak;
        text += LineBreak;
    }
    if (listed > ListedFiles)
        text += QCoreApplication::translate("HistoryWindow", "... and %1 more.")
                    .arg(listed - ListedFiles) +
                LineBreak + LineBreak;
    return text + QCoreApplication::translate("HistoryWindow", "Deleted files cannot be brought "
                                                               "back.");
}

// Says what becomes of the files on the servers, which of them are gone already.
QString removeQuestion(const HistoryEntries& entries) {
    const qsizetype count = entries.size();
    const auto deleted = std::count_if(entries.cbegin(), entries.cend(),
                                       [](const HistoryEntry& entry) { return entry.deleted(); });
    const auto text = [](const char* source) {
        return QCoreApplication::translate("HistoryWindow", source);
    };
    if (count == 1)
        return deleted ? text("Remove this upload from the history? Its file was already "
                              "deleted from the server.")
                       : text("Remove this upload from the history? The file stays on its "
                              "server.");
    if (deleted == 0)
        return text("Remove these %1 uploads from the history? The files stay on their servers.")
            .arg(count);
    if (deleted == count)
        return text("Remove these %1 uploads from the history? Their files were already deleted "
                    "from their servers.")
            .arg(count);
    if (deleted == 1)
        return text("Remove these %1 uploads from the history? 1 of the files was already "
                    "deleted from its server; the others stay there.")
            .arg(count);
    return text("Remove these %1 uploads from the history? %2 of the files were already deleted "
                "from their servers; the others stay there.")
        .arg(count)
        .arg(deleted);
}

} // namespace

void HistoryWindow::keyPressEvent(QKeyEvent* event) {
    if (!closeOnEscape(*this, *event))
        QWidget::keyPressEvent(event);
}

HistoryWindow::HistoryWindow(Config& config, QWidget* parent)
    : QWidget(parent, Qt::Window), m_config(config),
      m_history(std::make_unique<History>(config.programDir)) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(tr("History"));
    m_searchEdit = new QLineEdit(this);
    m_searchEdit->setObjectName(QStringLiteral("searchEdit"));
    m_searchEdit->setPlaceholderText(tr("Search names, addresses and servers"));
    m_searchEdit->setClearButtonEnabled(true);
    m_searchEdit->setAccessibleName(tr("Search the history"));
    connect(m_searchEdit, &QLineEdit::textChanged, this, &HistoryWindow::search);

    m_model = new HistoryModel(*m_history, this);
    auto* view = new HistoryView(this);
    m_view = view;
    m_view->setObjectName(QStringLiteral("historyView"));
    m_view->setModel(m_model);
    m_view->setAccessibleName(tr("Uploads"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    // Rows not measured yet take a text line's height, so the view places a row without
    // reading the rows above it.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setMinimumSectionSize(1);
    const QSize timeCell = view->textCellSize(widestTime(*view));
    m_view->verticalHeader()->setDefaultSectionSize(timeCell.height());
    m_view->setIconSize(QSize(PreviewSize, PreviewSize));
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(HistoryModel::TimeColumn,
                           std::max(timeCell.width(), m_view->horizontalHeader()->sectionSizeHint(
                                                          HistoryModel::TimeColumn)));
    m_view->setColumnWidth(HistoryModel::FileColumn, 200);
    m_view->setColumnWidth(HistoryModel::ServerColumn, 120);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistoryWindow::updateButtons);
    connect(m_view, &QTableView::doubleClicked, this, &HistoryWindow::openSelected);
    new QShortcut(QKeySequence::Copy, m_view, this, &HistoryWindow::copySelected);
    new QShortcut(QKeySequence::Delete, m_view, this, &HistoryWindow::removeSelected);

    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
    auto* tagStyleLabel = new QLabel(tr("Add Tags:"), this);
    m_tagStyleBox = makeTagStyleBox(this);
    m_tagStyleBox->setCurrentIndex(int(storedTagStyle(config)));
    tagStyleLabel->setBuddy(m_tagStyleBox);

    const auto button = [this](const QString& caption, const char* name, auto action) {
        auto* pushButton = new QPushButton(caption, this);
        pushButton->setObjectName(QLatin1String(name));
        connect(pushButton, &QPushButton::clicked, this, action);
        return pushButton;
    };
    m_copyButton = button(tr("Copy"), "copyButton", &HistoryWindow::copySelected);
    m_openButton = button(tr("Open in Browser"), "openButton", &HistoryWindow::openSelected);
    m_deleteButton =
        button(tr("Delete from Server..."), "deleteButton", &HistoryWindow::deleteSelected);
    m_removeButton =
        button(tr("Remove from History"), "removeButton", &HistoryWindow::removeSelected);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(tagStyleLabel);
    buttons->addWidget(m_tagStyleBox);
    buttons->addWidget(m_copyButton);
    buttons->addWidget(m_openButton);
    buttons->addStretch(1);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(m_removeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_searchEdit);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_countLabel);
    layout->addLayout(buttons);
    restorePlace();
    m_changeCheck = new QTimer(this);
    m_changeCheck->setInterval(ChangeCheckMs);
    connect(m_changeCheck, &QTimer::timeout, this, &HistoryWindow::showChanges);
    updateButtons();
}

HistoryWindow::~HistoryWindow() {
    // Closing the program takes the window down without hiding it.
    if (isVisible())
        rememberPlace();
}

void HistoryWindow::restorePlace() {
    if (!restoreGeometry(userSettings().value(GeometryKey).toByteArray()))
        resize(760, 480);
}

void HistoryWindow::rememberPlace() {
    userSettings().setValue(GeometryKey, saveGeometry());
}

void HistoryWindow::showEvent(QShowEvent* event) {
    // The screen may have become smaller since the window was last placed, or gone; its frame
    // is known once shown.
    placeOnScreen(*this);
    // What came while the window was hidden shows at once.
    showChanges();
    m_changeCheck->start();
    QWidget::showEvent(event);
}

void HistoryWindow::hideEvent(QHideEvent* event) {
    m_changeCheck->stop();
    rememberPlace();
    QWidget::hideEvent(event);
}

void HistoryWindow::search(const QString& text) {
    try {
        m_model->setSearch(text);
    } catch (const Error& error) {
        showError(error.message());
    }
    updateButtons();
}

void HistoryWindow::showChanges() {
    try {
        if (!m_history->changedElsewhere())
            return;
        m_model->refresh();
    } catch (const Error&) {
        // A history that fails while it is shown keeps what it shows; the next search tells why.
        return;
    }
    updateButtons();
}

QList<std::pair<int, int>> HistoryWindow::selectedRanges() const {
    QList<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : m_view->selectionModel()->selection())
        ranges.append({range.top(), range.bottom()});
    std::sort(ranges.begin(), ranges.end());
    // Selections made by dragging and with Shift may cover rows more than once.
    QList<std::pair<int, int>> merged;
    for (const auto& range : std::as_const(ranges))
        if (!merged.isEmpty() && range.first <= merged.last().second + 1)
            merged.last().second = std::max(merged.last().second, range.second);
        else
            merged.append(range);
    return merged;
}

HistoryEntries HistoryWindow::selectedEntries() const {
    HistoryEntries entries;
    for (const auto& [first, last] : selectedRanges())
        for (int row = first; row <= last; ++row)
            entries.append(m_model->entryAt(row));
    return entries;
}

bool HistoryWindow::selectionHasUndeleted() const {
    // The first one found decides, so a large selection reads few rows.
    for (const auto& [first, last] : selectedRanges())
        for (int row = first; row <= last; ++row)
            if (!m_model->entryAt(row).deleted())
                return true;
    return false;
}

void HistoryWindow::showCount() {
    const int count = m_model->rowCount();
    const qint64 total = m_model->total();
    QString text;
    if (m_searchEdit->text().isEmpty()) {
        if (count == 0) {
            m_countLabel->setText(tr("No uploads yet. Files you upload will appear here."));
            return;
        }
        text = count == 1 ? tr("1 upload") : tr("%1 uploads").arg(count);
    } else if (total == 0) {
        text = tr("0 uploads");
    } else {
        text = total == 1 ? tr("%1 of 1 upload").arg(count)
                          : tr("%1 of %2 uploads").arg(count).arg(total);
    }
    qsizetype selected = 0;
    for (const auto& [first, last] : selectedRanges())
        selected += last - first + 1;
    if (selected > 0)
        text += tr(", %1 selected").arg(selected);
    m_countLabel->setText(text);
}

void HistoryWindow::updateButtons() {
    const bool selected = m_view->selectionModel()->hasSelection();
    for (QPushButton* button : {m_copyButton, m_openButton, m_removeButton})
        button->setEnabled(selected);
    m_deleteButton->setEnabled(selected && selectionHasUndeleted());
    showCount();
}

void HistoryWindow::showError(const QString& message) {
    dialogs().showMessage(message, MessageKind::Error, MessageButtons::Ok);
}

void HistoryWindow::copySelected() {
    QStringList lines;
    const auto style = TagStyle(m_tagStyleBox->currentIndex());
    for (const HistoryEntry& entry : selectedEntries())
        lines.append(tagLine(entry.name, entry.url, entry.thumbnailUrl, style));
    if (!lines.isEmpty())
        copyLines(lines);
}

void HistoryWindow::openSelected() {
    for (const HistoryEntry& entry : selectedEntries())
        openWebPage(entry.url);
}

void HistoryWindow::deleteSelected() {
    HistoryEntries entries = selectedEntries();
    entries.removeIf([](const HistoryEntry& entry) { return entry.deleted(); });
    if (entries.isEmpty() ||
        !dialogs().confirmAction(deleteQuestion(entries),
                                 entries.size() == 1 ? tr("Delete File")
                                                     : tr("Delete %1 Files").arg(entries.size())))
        return;
    setEnabled(false);
    QStringList reasons;
    try {
        DeleteRun run(m_config, *m_history);
        const QList<DeleteOutcome> outcomes = run.run(entries);
        for (const DeleteOutcome& outcome : outcomes)
            if (!outcome.reason.isEmpty())
                reasons.append(outcome.reason);
        markDeleted(*m_history, entries, outcomes);
    } catch (const Error& error) {
        reasons.append(error.message());
    }
    setEnabled(true);
    m_model->reload();
    updateButtons();
    if (!reasons.isEmpty())
        showError(reasons.join(LineBreak));
}

void HistoryWindow::removeSelected() {
    const HistoryEntries entries = selectedEntries();
    if (entries.isEmpty() ||
        !dialogs().confirmAction(removeQuestion(entries),
                                 entries.size() == 1 ? tr("Remove Entry")
                                                     : tr("Remove %1 Entries").arg(entries.size())))
        return;
    QList<qint64> ids;
    for (const HistoryEntry& entry : entries)
        ids.append(entry.id);
    try {
        m_history->remove(ids);
    } catch (const Error& error) {
        showError(error.message());
    }
    m_model->reload();
    updateButtons();
}

} // namespace quaddle
