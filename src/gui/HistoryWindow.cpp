#include "gui/HistoryWindow.h"

#include "gui/SuccessWindow.h"
#include "gui/WebPages.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
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
#include <QShortcut>
#include <QTableView>
#include <algorithm>

namespace quaddle {

namespace {

// A confirmation lists this many files at most.
constexpr qsizetype ListedFiles = 20;
// The previews of thumbnails the history keeps are as large.
constexpr int PreviewSize = 48;

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
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("historyView"));
    m_view->setModel(m_model);
    m_view->setAccessibleName(tr("Uploads"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    // Fixed heights let the view place a row without reading the rows above it.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(PreviewSize + 4);
    m_view->setIconSize(QSize(PreviewSize, PreviewSize));
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(HistoryModel::TimeColumn, 140);
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
    resize(760, 480);
    showCount();
    updateButtons();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::search(const QString& text) {
    try {
        m_model->setSearch(text);
    } catch (const Error& error) {
        showError(error.message());
    }
    showCount();
    updateButtons();
}

HistoryEntries HistoryWindow::selectedEntries() const {
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    HistoryEntries entries;
    for (const QModelIndex& row : std::as_const(rows))
        entries.append(m_model->entryAt(row.row()));
    return entries;
}

void HistoryWindow::showCount() {
    const int count = m_model->rowCount();
    if (count == 0 && m_searchEdit->text().isEmpty())
        m_countLabel->setText(tr("No uploads yet. Files you upload will appear here."));
    else
        m_countLabel->setText(count == 1 ? tr("1 upload") : tr("%1 uploads").arg(count));
}

void HistoryWindow::updateButtons() {
    const bool selected = m_view->selectionModel()->hasSelection();
    for (QPushButton* button : {m_copyButton, m_openButton, m_deleteButton, m_removeButton})
        button->setEnabled(selected);
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
        dialogs().showMessage(deleteQuestion(entries), MessageKind::Confirmation,
                              MessageButtons::YesNoDefaultNo) != MessageAnswer::Yes)
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
    showCount();
    if (!reasons.isEmpty())
        showError(reasons.join(LineBreak));
}

void HistoryWindow::removeSelected() {
    const HistoryEntries entries = selectedEntries();
    if (entries.isEmpty() ||
        dialogs().showMessage(
            entries.size() == 1
                ? tr("Remove this upload from the history? The file stays on its server.")
                : tr("Remove these %1 uploads from the history? The files stay on their "
                     "servers.")
                      .arg(entries.size()),
            MessageKind::Confirmation, MessageButtons::YesNo) != MessageAnswer::Yes)
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
    showCount();
}

} // namespace quaddle
