#include "app/MainWindow.h"

#include "about/AboutDialog.h"
#include "app/PastedFiles.h"
#include "app/ProgressPanel.h"
#include "config/CommandLine.h"
#include "configwindow/ConfigWindow.h"
#include "gui/HistoryWindow.h"
#include "gui/WebPages.h"
#include "platform/AppInfo.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/ProgramDir.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <cmath>

namespace quaddle {

namespace {

// The smallest and first size of the window, as at the design's font.
const QSize DesignSize(394, 194);
const QString GeometryKey = QStringLiteral("MainWindow/Geometry");
constexpr int HideForScreenshotMs = 300;

const QString UpdateURL =
    WebsiteURL + QStringLiteral("index.php/check=") + AppVersion + QStringLiteral("/download.html");
const QString SupportURL = WebsiteURL + QStringLiteral("forums/");

QString withoutAccelerator(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

template <typename Widget> Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

MainWindow::MainWindow(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    createControls();
    createMenus();
    createStatusBar();
    setMinimumSize(DesignSize.expandedTo(minimumSizeHint()));
    restoreWindowGeometry();
    setUpWindow(arguments);
}

MainWindow::~MainWindow() = default;

void MainWindow::createControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    auto* files = named(new QGroupBox(tr("Files"), client), "GroupBox1");
    // The file's name, and beside it how it fared in the last run.
    m_fileTable = named(new QTableWidget(0, 2, files), "fileTable");
    m_fileTable->horizontalHeader()->hide();
    m_fileTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_fileTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_fileTable->setColumnHidden(1, true);
    m_fileTable->verticalHeader()->hide();
    // Rows as tall as a line of text, as in a list, not as a spreadsheet's cells.
    m_fileTable->verticalHeader()->setDefaultSectionSize(m_fileTable->fontMetrics().height() + 4);
    m_fileTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_fileTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fileTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fileTable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_fileTable->setShowGrid(false);
    m_fileTable->setWordWrap(false);
    m_fileTable->setTextElideMode(Qt::ElideMiddle);
    m_fileTable->setAccessibleName(tr("Files to upload"));
    m_emptyHint = named(new QLabel(tr("Drop files here or use Add File(s)")), "emptyHint");
    m_emptyHint->setAlignment(Qt::AlignCenter);
    m_emptyHint->setWordWrap(true);
    m_emptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette grey = m_emptyHint->palette();
    grey.setColor(QPalette::WindowText, grey.color(QPalette::PlaceholderText));
    m_emptyHint->setPalette(grey);
    auto* hintLayout = new QVBoxLayout(m_fileTable->viewport());
    // The list's scroll area sizes its viewport; the hint only sits in it.
    hintLayout->setSizeConstraint(QLayout::SetNoConstraint);
    hintLayout->addWidget(m_emptyHint);
    auto* removeShortcut = new QAction(m_fileTable);
    removeShortcut->setShortcut(QKeySequence::Delete);
    removeShortcut->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_fileTable->addAction(removeShortcut);
    connect(removeShortcut, &QAction::triggered, this, &MainWindow::removeSelectedFile);

    m_addFilesButton = named(new QPushButton(tr("Add File(s)"), files), "addFilesButton");
    m_addFilesButton->setToolTip(
        tr("Add files to upload (%1)")
            .arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText)));
    m_removeFileButton = named(new QPushButton(tr("Remove"), files), "removeFileButton");
    m_removeFileButton->setToolTip(
        tr("Remove the selected files from the list (%1)")
            .arg(QKeySequence(QKeySequence::Delete).toString(QKeySequence::NativeText)));
    connect(m_addFilesButton, &QPushButton::clicked, this, &MainWindow::addFiles);
    connect(m_removeFileButton, &QPushButton::clicked, this, &MainWindow::removeSelectedFile);
    auto* fileButtons = new QVBoxLayout;
    fileButtons->addWidget(m_addFilesButton);
    fileButtons->addWidget(m_removeFileButton);
    fileButtons->addStretch();
    auto* filesLayout = new QHBoxLayout(files);
    filesLayout->addWidget(m_fileTable, 1);
    filesLayout->addLayout(fileButtons);

    auto* remote = named(new QGroupBox(tr("Remote Directory"), client), "GroupBox2");
    m_remoteDirBox = named(new QComboBox(remote), "remoteDirBox");
    m_remoteDirBox->setEditable(true);
    m_remoteDirBox->setInsertPolicy(QComboBox::NoInsert);
    m_remoteDirBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_remoteDirBox->setToolTip(tr("Directory to upload to. Usually, you can leave this blank."));
    m_remoteDirBox->setAccessibleName(tr("Remote Directory"));
    m_remoteDirBox->lineEdit()->setAccessibleName(tr("Remote Directory"));
    // Files dropped on the field belong in the file list, not in the directory text.
    m_remoteDirBox->lineEdit()->setAcceptDrops(false);
    m_remoteDirBox->lineEdit()->installEventFilter(this);
    (new QVBoxLayout(remote))->addWidget(m_remoteDirBox);

    m_uploadButton = named(new QPushButton(client), "uploadButton");
    m_uploadButton->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    m_uploadButton->setIconSize(QSize(32, 32));
    m_uploadButton->setToolTip(tr("Upload"));
    m_uploadButton->setAccessibleName(tr("Upload"));
    m_cancelButton = named(new QPushButton(tr("Cancel"), client), "cancelButton");
    m_cancelButton->setEnabled(false);
    m_cancelButton->hide();
    // One stands in for the other in the same place, as tall as the directory box.
    for (QPushButton* button : {m_uploadButton, m_cancelButton}) {
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        button->setMinimumWidth(56);
    }
    connect(m_uploadButton, &QPushButton::clicked, this, &MainWindow::startUpload);
    connect(m_cancelButton, &QPushButton::clicked, this, &MainWindow::cancelUpload);

    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(remote, 1);
    bottomRow->addWidget(m_uploadButton);
    bottomRow->addWidget(m_cancelButton);
    auto* clientLayout = new QVBoxLayout(client);
    auto* addServer = named(new QPushButton(tr("Add a server\u2026")), "addServerButton");
    connect(addServer, &QPushButton::clicked, this, [this] {
        m_choosingAddedServer = true;
        openServerManager();
        m_configWindow->startNewServer();
    });
    m_noServerBar = createNotice(client, "noServerBar", tr("No server is set up yet."), addServer);
    // After errors, the way to the settings they may be about.
    auto* editButton = named(new QPushButton(tr("Edit Server\u2026")), "editServerButton");
    editButton->setToolTip(tr("Check the settings of the server the upload went to"));
    connect(editButton, &QPushButton::clicked, this, [this] { editServer(m_runServer); });
    m_runErrorBar =
        createNotice(client, "runErrorBar", tr("Not every file was uploaded."), editButton);
    clientLayout->addWidget(m_noServerBar);
    clientLayout->addWidget(m_runErrorBar);
    clientLayout->addWidget(files, 1);
    clientLayout->addLayout(bottomRow);

    setTabOrder(m_uploadButton, m_fileTable);
    setTabOrder(m_fileTable, m_addFilesButton);
    setTabOrder(m_addFilesButton, m_removeFileButton);
    setTabOrder(m_removeFileButton, m_remoteDirBox);
}

QWidget* MainWindow::createNotice(QWidget* parent, const char* name, const QString& text,
                                  QPushButton* button) {
    auto* bar = named(new QFrame(parent), name);
    bar->setFrameShape(QFrame::StyledPanel);
    auto* label = new QLabel(text, bar);
    label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    label->setWordWrap(true);
    button->setParent(bar);
    auto* layout = new QHBoxLayout(bar);
    layout->addWidget(label, 1);
    layout->addWidget(button);
    bar->hide();
    return bar;
}

void MainWindow::restoreWindowGeometry() {
    if (restoreGeometry(userSettings().value(GeometryKey).toByteArray()))
        return;
    // The first start: the design's size, or what the desktop's font needs, on the middle of
    // the screen.
    resize(minimumSize().expandedTo(sizeHint()));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void MainWindow::createMenus() {
    menuBar()->setObjectName(QStringLiteral("mainMenu"));
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* add = file->addAction(tr("&Add File(s)..."));
    add->setObjectName(QStringLiteral("addFilesAction"));
    add->setShortcut(QKeySequence::Open);
    connect(add, &QAction::triggered, this, &MainWindow::addFiles);
    QAction* paste = file->addAction(tr("Pa&ste"));
    paste->setObjectName(QStringLiteral("pasteAction"));
    paste->setShortcut(QKeySequence::Paste);
    connect(paste, &QAction::triggered, this, &MainWindow::pasteFiles);
    m_screenshotAction = file->addAction(tr("&Take Screenshot..."));
    m_screenshotAction->setObjectName(QStringLiteral("screenshotAction"));
    m_screenshotAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(m_screenshotAction, &QAction::triggered, this, &MainWindow::takeScreenshot);
    // A screenshot goes alone unless the user asks for it to go with the listed files.
    m_screenshotWithFilesAction = file->addAction(tr("Screenshot and &Files..."));
    m_screenshotWithFilesAction->setObjectName(QStringLiteral("screenshotWithFilesAction"));
    connect(m_screenshotWithFilesAction, &QAction::triggered, this,
            &MainWindow::takeScreenshotWithFiles);
    m_reloadAction = file->addAction(tr("Enter Master &Password"));
    m_reloadAction->setObjectName(QStringLiteral("reloadAction"));
    connect(m_reloadAction, &QAction::triggered, this, &MainWindow::reloadConfig);
    QAction* history = file->addAction(tr("&History..."));
    history->setObjectName(QStringLiteral("historyAction"));
    history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(history, &QAction::triggered, this, &MainWindow::openHistory);
    QAction* options = file->addAction(tr("&Options..."));
    options->setObjectName(QStringLiteral("optionsAction"));
    options->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(options, &QAction::triggered, this, &MainWindow::openOptions);
    QAction* exit = file->addAction(tr("&Quit"));
    exit->setObjectName(QStringLiteral("exitAction"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    menuBar()->addMenu(tr("&Servers"))->setObjectName(QStringLiteral("serversMenu"));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    const auto webPageEntry = [help](const QString& caption, const char* name, QString url) {
        QAction* entry = help->addAction(caption);
        entry->setObjectName(QLatin1String(name));
        connect(entry, &QAction::triggered, help, [url] { openWebPage(url); });
        return entry;
    };
    webPageEntry(tr("&Look For Updates..."), "MenuUpdates", UpdateURL);
    // The forums are where users get help.
    webPageEntry(tr("&Support Forums..."), "MenuSupport", SupportURL)
        ->setShortcut(QKeySequence::HelpContents);
    webPageEntry(tr("Quaddle &Website..."), "MenuWebsite", WebsiteURL);
    QAction* about = help->addAction(tr("&About Quaddle"));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("Status"));
    m_progressPanel = new ProgressPanel(
        [this](QPainter& painter, const QRect& rect) { drawProgressPanel(painter, rect); },
        [this] {
            return ProgressFractions{m_fileProgress, overallProgress()};
        },
        bar);
    m_progressPanel->setObjectName(QStringLiteral("progressPanel"));
    m_progressPanel->setToolTip(tr("Current file | all files"));
    m_progressPanel->setFixedWidth(
        std::max(100, m_progressPanel->fontMetrics().horizontalAdvance(progressText(1, 1)) + 8));
    m_serverLabel = new QLabel(bar);
    m_serverLabel->setObjectName(QStringLiteral("serverLabel"));
    // Long statuses are cut off rather than widening the window; this one always shows whole.
    setServerLabelYields(false);
    // Server and file names come from outside; they show as typed, never as markup.
    m_serverLabel->setTextFormat(Qt::PlainText);
    // While no server is chosen, a click on it helps choosing or adding one.
    m_serverLabel->installEventFilter(this);
    m_runLabel = new QLabel(bar);
    m_runLabel->setObjectName(QStringLiteral("runLabel"));
    m_runLabel->setTextFormat(Qt::PlainText);
    m_detailLabel = new QLabel(bar);
    m_detailLabel->setObjectName(QStringLiteral("detailLabel"));
    m_detailLabel->setTextFormat(Qt::PlainText);
    m_detailLabel->setMinimumWidth(
        m_detailLabel->fontMetrics().horizontalAdvance(formatSpeed(9999.99)));
    bar->addWidget(m_progressPanel);
    bar->addWidget(m_serverLabel, 1);
    bar->addWidget(m_runLabel);
    bar->addWidget(m_detailLabel);
}

void MainWindow::setUpWindow(const QStringList& arguments) {
    m_autoUpload = false;
    uploadStatus(QString(), -3);
    insertSeparatorAfter(QStringLiteral("File"), QStringLiteral("Screenshot and Files..."));
    insertSeparatorAfter(QStringLiteral("File"), QStringLiteral("Options..."));
    insertSeparatorAfter(QStringLiteral("Help"), QStringLiteral("Quaddle Website..."));
    setAcceptDrops(true);

    const CommandLine commandLine = parseCommandLine(arguments);
    m_screenshotAtStart = commandLine.screenshot;
    for (const QString& path : commandLine.files)
        m_files.append({path, QString()});

    m_config = std::make_unique<Config>();
    m_config->loadConfig(false);
    if (m_config->quitRequested)
        return;
    m_reloadAction->setVisible(m_config->credentialsLocked);
    buildServersMenu();
    refreshFiles();
    if (commandLine.selector)
        applySelector(*commandLine.selector);
    chooseServer(nullptr);
    refreshServerDisplay(QString(), QString());
}

void MainWindow::applySelector(const QString& selector) {
    const std::optional<ServerSelection> selection = resolveSelector(selector, *m_config);
    if (!selection)
        return;
    m_config->currentServer = selection->server;
    m_autoUpload = true;
    if (selection->folder)
        m_remoteDirBox->setEditText(m_config->folders(selection->server).at(*selection->folder));
}

QMenu* MainWindow::findMenu(const QString& caption) const {
    for (QAction* action : menuBar()->actions())
        if (action->menu() && withoutAccelerator(action->text()) == caption)
            return action->menu();
    return nullptr;
}

void MainWindow::insertSeparatorAfter(const QString& menuCaption, const QString& entryCaption) {
    QMenu* menu = findMenu(menuCaption);
    if (!menu)
        return;
    const QList<QAction*> entries = menu->actions();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (withoutAccelerator(entries[i]->text()) != entryCaption)
            continue;
        if (i + 1 < entries.size())
            menu->insertSeparator(entries[i + 1]);
        else
            menu->addSeparator();
        return;
    }
}

QList<int> MainWindow::selectedFileRows() const {
    QList<int> rows;
    for (const QTableWidgetSelectionRange& range : m_fileTable->selectedRanges())
        for (int row = range.topRow(); row <= range.bottomRow(); ++row)
            rows.append(row);
    if (rows.isEmpty() && m_fileTable->currentRow() >= 0)
        rows.append(m_fileTable->currentRow());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void MainWindow::refreshFiles() {
    const QList<int> selected = selectedFileRows();
    const int cursor = selected.isEmpty() ? 0 : selected.first();
    sortFiles(m_files);
    m_fileTable->clearContents();
    const int rows = static_cast<int>(m_files.size());
    m_fileTable->setRowCount(rows);
    m_fileRows.clear();
    for (int row = 0; row < rows; ++row) {
        const QString& path = m_files[row].path;
        auto* item = new QTableWidgetItem(fileNameOf(path));
        // A long name is cut off in the list; the tip shows it whole, with its folder.
        item->setToolTip(path);
        m_fileTable->setItem(row, 0, item);
        m_fileRows.insert(path, row);
        const FileState state = m_fileStates.value(path);
        auto* stateItem = new QTableWidgetItem(state.text);
        stateItem->setToolTip(state.reason);
        m_fileTable->setItem(row, 1, stateItem);
    }
    fitStateColumn();
    enableUpload();
    m_emptyHint->setVisible(rows == 0);
    // Like a grid's cursor, the selection stays on its row or the last one, so pressing
    // Remove again removes the next file.
    if (rows > 0)
        m_fileTable->selectRow(std::min(cursor, rows - 1));
}

void MainWindow::fitStateColumn() {
    m_fileTable->setColumnHidden(1, m_fileStates.isEmpty());
    if (m_fileStates.isEmpty())
        return;
    m_fileTable->resizeColumnToContents(1);
    m_fileTable->setColumnWidth(
        1, std::min(m_fileTable->columnWidth(1), m_fileTable->viewport()->width() / 2));
}

void MainWindow::refreshServerDisplay(const QString& status, const QString& detail) {
    if (m_choosingAddedServer && !m_config->serverExists(m_config->currentServer))
        for (qint32 i = 0; i < m_config->serverNames.size(); ++i)
            if (m_config->serverExists(i)) {
                m_config->currentServer = i;
                m_choosingAddedServer = false;
                break;
            }
    const qint32 current = m_config->currentServer;
    if (current >= 0 && current < m_config->serverNames.size()) {
        m_statusLead = m_config->serverNames[current] + QStringLiteral(": ");
        m_statusText = status.isEmpty() ? QStringLiteral("Ready") : status;
        if (!detail.isEmpty())
            m_detailLabel->setText(detail);
        m_serverLabel->setCursor(Qt::ArrowCursor);
    } else {
        m_statusLead = QStringLiteral("<Select Server>");
        m_statusText.clear();
        m_serverLabel->setCursor(Qt::PointingHandCursor);
    }
    showServerStatus();
    m_noServerBar->setVisible(!hasServers());
    enableUpload();

    const QString typed = m_remoteDirBox->currentText();
    m_remoteDirBox->clear();
    for (const QString& folder : m_config->folders(current))
        if (!folder.isEmpty())
            m_remoteDirBox->addItem(folder);
    m_remoteDirBox->setEditText(typed.isEmpty() ? m_config->currentServerRecord().defaultDir
                                                : typed);

    buildServersMenu();
}

void MainWindow::showServerStatus() {
    const QString whole = m_statusLead + m_statusText;
    QString shown = whole;
    // A file's name, during a run, gives way in its middle, where names differ least; in a
    // narrow window the server's name too.
    if (m_serverLabel->isVisible() && runSession()) {
        const QFontMetrics metrics = m_serverLabel->fontMetrics();
        const int width = m_serverLabel->contentsRect().width();
        const int room = width - metrics.horizontalAdvance(m_statusLead);
        shown = room >= metrics.horizontalAdvance(QStringLiteral("\u2026.jpeg"))
                    ? m_statusLead + metrics.elidedText(m_statusText, Qt::ElideMiddle, room)
                    : metrics.elidedText(whole, Qt::ElideMiddle, width);
    }
    m_serverLabel->setText(shown);
    const qint32 current = m_config->currentServer;
    const bool named = current >= 0 && current < m_config->serverNames.size();
    m_serverLabel->setToolTip(!named           ? tr("Click to choose a server or to add one")
                              : shown != whole ? whole
                                               : QString());
}

void MainWindow::buildServersMenu() {
    QMenu* menu = findMenu(QStringLiteral("Servers"));
    if (!menu)
        throw Error(QStringLiteral("Server menu not found."));
    ServersMenuContents contents;
    contents.noServers = m_config->serverNames.isEmpty();
    contents.current = m_config->currentServer;
    for (qint32 i = 0; i < m_config->serverNames.size(); ++i)
        if (m_config->serverExists(i))
            contents.servers.append({i, m_config->serverNames[i]});
    // The display is refreshed for every file and every speed update; a menu that would come
    // out the same stays, instead of piling up released entries until the run ends.
    if (contents == m_serversMenuShown)
        return;
    m_serversMenuShown = contents;

    // The entry that was clicked may be the one running this rebuild, so old entries are
    // released only once control is back in the event loop.
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        old->deleteLater();
    }
    for (QActionGroup* oldGroup : menu->findChildren<QActionGroup*>())
        oldGroup->deleteLater();

    QAction* manage = menu->addAction(tr("&Manage Servers..."));
    manage->setObjectName(QStringLiteral("manageAction"));
    connect(manage, &QAction::triggered, this, &MainWindow::openServerManager);
    menu->addSeparator();
    if (contents.noServers) {
        menu->addAction(tr("No servers found"))->setEnabled(false);
        return;
    }
    auto* group = new QActionGroup(menu);
    for (const auto& [index, name] : contents.servers) {
        // An ampersand in a name is shown, not taken as a shortcut mark.
        QAction* entry =
            menu->addAction(QString(name).replace(QLatin1Char('&'), QLatin1String("&&")));
        entry->setCheckable(true);
        entry->setChecked(index == contents.current);
        entry->setData(index);
        group->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, entry] { chooseServer(entry); });
    }
}

void MainWindow::chooseServer(QAction* entry) {
    if (m_remoteDirBox->currentText() == m_config->currentServerRecord().defaultDir)
        m_remoteDirBox->setEditText(QString());
    if (entry) {
        entry->setChecked(true);
        m_config->currentServer = entry->data().toInt();
    }
    refreshServerDisplay(QString(), QString());
}

void MainWindow::uploadStatus(const QString& text, int index) {
    if (index < 0 && index != -2)
        setCaption(AppName + QLatin1Char(' ') + AppVersion);
    // A run counts in its own copy of the list; files dropped meanwhile shift the rows shown.
    // The connections the run uses go with its counts, which always show whole.
    static const QRegularExpression connectionsNote(QStringLiteral(" \\(\\d+ connections\\)$"));
    const QString note = runSession() ? connectionsNote.match(text).captured() : QString();
    const QString status = note.isEmpty() ? text : text.chopped(note.size());
    if (runSession() && index != -1)
        m_connectionsNote = note;
    if (runSession() && index >= 0 && index < m_runFiles.size()) {
        m_runIndex = index;
        showRunProgress();
        const QString& path = m_runFiles.at(index).path;
        const auto shown =
            std::find_if(m_files.cbegin(), m_files.cend(),
                         [&path](const FileEntry& entry) { return entry.path == path; });
        index = shown == m_files.cend() ? -1 : int(shown - m_files.cbegin());
    }
    if (index >= 0 && index < m_fileTable->rowCount())
        m_fileTable->scrollTo(m_fileTable->model()->index(index, 0),
                              QAbstractItemView::PositionAtTop);
    if (index != -3)
        refreshServerDisplay(status, QString());
}

void MainWindow::setCaption(const QString& caption) {
    // The application's title follows the caption; it goes first because the window system's
    // title is formatted from both.
    QApplication::setApplicationDisplayName(caption);
    setWindowTitle(caption);
}

void MainWindow::uploadProgress(const QString& name, qint64 size, qint64 position) {
    const qint64 now = m_clock();
    // During a run the speed counts the bytes of every connection, which a new file does not
    // start over; outside one, the file's own.
    const UploadSession* const session = runSession();
    if (size <= 0) {
        if (!session) {
            m_speedBytes = 0;
            m_speedTime = now;
        }
        m_fileProgress = 0;
        m_progressPanel->showProgress();
        return;
    }
    const double fraction = double(position) / double(size);
    // Another file's progress starts the file's bar over: with several connections a file
    // can begin without a report of its start.
    if (name != m_fileName) {
        m_fileName = name;
        m_fileProgress = 0;
    }

    const qint64 speedAge = now - m_speedTime;
    if (speedAge > 1000) {
        m_speedTime = now;
        const qint64 done = session ? session->bytesDone() : position;
        const double speed = double(done - m_speedBytes) / (double(speedAge) / 1000) / 1024;
        m_speedBytes = done;
        refreshServerDisplay(name, formatSpeed(speed));
        m_runSpeed = speed * 1024;
        showRunProgress();
    }

    if (now - m_displayTime > 200) {
        m_displayTime = now;
        if (fraction - m_fileProgress > 0.01) {
            m_fileProgress = fraction;
            m_progressPanel->showProgress();
            const int filePercent = static_cast<int>(std::floor(fraction * 100));
            const int overallPercent =
                static_cast<int>(std::floor(overallProgress().value_or(0) * 100));
            setCaption(QStringLiteral("%1 ( %2% | %3% )")
                           .arg(AppName)
                           .arg(filePercent)
                           .arg(overallPercent));
        }
    }
}

std::optional<double> MainWindow::overallProgress() const {
    const UploadSession* const session = runSession();
    if (!session || session->bytesTotal() <= 0)
        return std::nullopt;
    return double(session->bytesDone()) / double(session->bytesTotal());
}

void MainWindow::showRunProgress() {
    const UploadSession* const session = runSession();
    if (!session || m_runIndex < 0)
        return;
    std::optional<qint64> secondsLeft;
    if (m_runSpeed > 0)
        secondsLeft = static_cast<qint64>(
            std::ceil(double(std::max<qint64>(0, session->bytesTotal() - session->bytesDone())) /
                      m_runSpeed));
    m_runLabel->setText(runProgressText(m_runIndex, m_runFiles.size(), secondsLeft) +
                        m_connectionsNote);
}

void MainWindow::drawProgressPanel(QPainter& painter, const QRect& rect) {
    drawProgressBars(painter, rect, overallProgress(), m_fileProgress,
                     palette().color(QPalette::Active, QPalette::Highlight));
    drawProgressText(painter, rect, overallProgress(), m_fileProgress,
                     palette().color(QPalette::Active, QPalette::HighlightedText),
                     palette().color(QPalette::Active, QPalette::WindowText));
}

void MainWindow::setServerLabelYields(bool yields) {
    m_serverLabel->setMinimumWidth(
        // 0 would leave the minimum to the label's text, whole.
        yields ? 1
               : m_serverLabel->fontMetrics().horizontalAdvance(QStringLiteral("<Select Server>")) +
                     8);
}

void MainWindow::setControlsEnabled(bool on) {
    // While a run goes, its counts come first; the file's name is cut to the room left.
    setServerLabelYields(!on);
    m_cancelButton->setEnabled(!on);
    m_cancelButton->setVisible(!on);
    m_uploadButton->setVisible(on);
    enableUpload();
    m_addFilesButton->setEnabled(on);
    m_screenshotAction->setEnabled(on);
    m_screenshotWithFilesAction->setEnabled(on);
    m_removeFileButton->setEnabled(on);
    // The URLs of a run are built from the current server and remote directory.
    m_remoteDirBox->setEnabled(on);
    if (QMenu* servers = findMenu(QStringLiteral("Servers")))
        servers->menuAction()->setEnabled(on);
}

void MainWindow::addFiles() {
    const QStringList chosen = dialogs().chooseFiles(tr("Select File(s) to upload"));
    for (const QString& path : chosen)
        m_files.append({path, QString()});
    refreshFiles();
}

void MainWindow::pasteFiles() {
    QStringList pasted;
    try {
        if (const QMimeData* data = QApplication::clipboard()->mimeData())
            pasted = m_pastedFiles.filesOf(*data);
    } catch (const Error& error) {
        dialogs().showMessage(error.message(), MessageKind::Error, MessageButtons::Ok);
        return;
    }
    if (pasted.isEmpty()) {
        dialogs().showMessage(tr("The clipboard holds neither files nor an image."),
                              MessageKind::Error, MessageButtons::Ok);
        return;
    }
    for (const QString& path : std::as_const(pasted))
        m_files.append({path, QString()});
    refreshFiles();
}

void MainWindow::enableUpload() {
    // While a run goes, Cancel stands in its place.
    m_uploadButton->setEnabled(!m_cancelButton->isEnabled() && !m_files.isEmpty() &&
                               m_config->serverExists(m_config->currentServer));
}

void MainWindow::takeScreenshot() {
    const ScreenshotResult shot = shootAndAdd();
    if (shot.status == ScreenshotStatus::Taken)
        uploadFiles({{shot.path, QString()}});
}

void MainWindow::takeScreenshotWithFiles() {
    if (addScreenshot() == ScreenshotStatus::Taken)
        startUpload();
}

ScreenshotStatus MainWindow::addScreenshot() {
    return shootAndAdd().status;
}

ScreenshotResult MainWindow::shootAndAdd() {
    m_showAfterScreenshot = isVisible();
    if (m_showAfterScreenshot) {
        hide();
        // The windows below need a moment to be drawn again where this one was.
        QEventLoop settle;
        QTimer::singleShot(HideForScreenshotMs, &settle, &QEventLoop::quit);
        settle.exec();
    }
    ScreenshotTaker taker(m_pastedFiles.images());
    m_screenshot = &taker;
    const ScreenshotResult shot = taker.take();
    m_screenshot = nullptr;
    if (m_showAfterScreenshot)
        show();
    if (shot.status == ScreenshotStatus::Failed)
        dialogs().showMessage(shot.problem, MessageKind::Error, MessageButtons::Ok);
    if (shot.status != ScreenshotStatus::Taken) {
        // Nothing new to upload, whatever the command line asked.
        m_autoUpload = false;
        return shot;
    }
    m_files.append({shot.path, QString()});
    refreshFiles();
    return shot;
}

void MainWindow::removeSelectedFile() {
    const QList<int> rows = selectedFileRows();
    if (rows.isEmpty() || !m_removeFileButton->isEnabled())
        return;
    // From the last, so that the rows still to go keep their numbers.
    for (auto row = rows.crbegin(); row != rows.crend(); ++row)
        if (*row < m_files.size())
            m_files.removeAt(*row);
    m_fileTable->clearSelection();
    m_fileTable->setCurrentCell(rows.first(), 0);
    refreshFiles();
}

void MainWindow::reloadConfig() {
    const MessageAnswer answer = dialogs().showMessage(
        tr("This will reload all data from the configuration file, discarding any changes you "
           "may have made. Are you sure?"),
        MessageKind::Question, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes)
        return;
    m_config->loadConfig(true);
    // An open server manager would otherwise edit servers by the indexes of the old file.
    if (m_configWindow)
        m_configWindow->reloadServers();
    m_reloadAction->setVisible(m_config->credentialsLocked);
    refreshServerDisplay(QString(), QString());
}

void MainWindow::openOptions() {
    if (!m_configWindow) {
        ConfigWindowHost host;
        host.refreshServerDisplay = [this] { refreshServerDisplay(QString(), QString()); };
        host.showMain = [this] { show(); };
        host.saveConfig = [this] { saveConfigReporting(); };
        m_configWindow = new ConfigWindow(*m_config, std::move(host), this);
    }
    m_configWindow->show();
    m_configWindow->raise();
    m_configWindow->activateWindow();
}

void MainWindow::openHistory() {
    if (!m_historyWindow) {
        try {
            m_historyWindow = new HistoryWindow(*m_config, this);
        } catch (const Error& error) {
            dialogs().showMessage(error.message(), MessageKind::Error, MessageButtons::Ok);
            return;
        }
        m_historyWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

void MainWindow::openServerManager() {
    openOptions();
    m_configWindow->choosePage(ConfigWindow::ServerManagement);
}

void MainWindow::editServer(qint32 server) {
    openServerManager();
    m_configWindow->showServer(server);
}

void MainWindow::showAbout() {
    if (!m_aboutDialog)
        m_aboutDialog = new AboutDialog(this);
    m_aboutDialog->show();
    m_aboutDialog->raise();
    m_aboutDialog->activateWindow();
}

bool MainWindow::hasServers() const {
    for (qint32 i = 0; i < m_config->serverNames.size(); ++i)
        if (m_config->serverExists(i))
            return true;
    return false;
}

void MainWindow::offerNewServer() {
    if (dialogs().showMessage(tr("No server is set up yet. Add one now?"), MessageKind::Question,
                              MessageButtons::YesNo) != MessageAnswer::Yes)
        return;
    m_choosingAddedServer = true;
    openServerManager();
    m_configWindow->startNewServer();
}

void MainWindow::chooseOrAddServer() {
    if (!hasServers()) {
        offerNewServer();
        return;
    }
    if (QMenu* servers = findMenu(QStringLiteral("Servers")))
        servers->popup(m_serverLabel->mapToGlobal(QPoint(0, 0)));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_remoteDirBox->lineEdit() && isPasteOfFiles(event)) {
        // Copied files are meant for the list, wherever the focus is; text goes in the field.
        // The key is the field's, so the Paste action would not see it.
        event->accept();
        if (event->type() == QEvent::KeyPress)
            pasteFiles();
        return true;
    }
    if (watched == m_serverLabel && event->type() == QEvent::Resize)
        showServerStatus();
    if (watched == m_serverLabel && event->type() == QEvent::MouseButtonRelease &&
        !m_config->serverExists(m_config->currentServer) && !m_cancelButton->isEnabled()) {
        chooseOrAddServer();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (!m_autoUpload)
        return;
    // Cleared first, so the repaints during the run do not start another one; the run itself
    // starts once painting is over, as it opens windows of its own.
    m_autoUpload = false;
    QTimer::singleShot(0, this, &MainWindow::startUpload);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Ctrl+V right after start adds copied files, as the list has the focus.
    m_fileTable->setFocus();
}

bool MainWindow::isPasteOfFiles(QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    if (!static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste))
        return false;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data && (!localFilesOf(*data).isEmpty() || data->hasImage());
}

void MainWindow::saveConfigReporting() {
    try {
        if (!m_config->saveConfig())
            return;
        // Servers another program saved meanwhile were taken in. The server manager shows them
        // once the change that saved is done with its own nodes.
        refreshServerDisplay(QString(), QString());
        if (m_configWindow)
            QMetaObject::invokeMethod(
                m_configWindow, [window = m_configWindow] { window->reloadServers(); },
                Qt::QueuedConnection);
    } catch (const Error& error) {
        dialogs().showMessage(error.message(), MessageKind::Error, MessageButtons::Ok);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window in the middle of an upload stops the upload.
    if (runSession())
        cancelUpload();
    // A termination signal may close the window while it is hidden for a screenshot.
    m_showAfterScreenshot = false;
    if (m_screenshot)
        m_screenshot->cancel();
    // The window closes even when saving fails: the user has been told, and a logout must
    // not be held up.
    saveConfigReporting();
    userSettings().setValue(GeometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
    QCoreApplication::quit();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFilesOf(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList dropped = localFilesOf(*event->mimeData());
    for (const QString& path : dropped)
        m_files.append({path, QString()});
    event->acceptProposedAction();
    refreshFiles();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter presses the focused button; elsewhere Upload, the window's default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* button = focused ? focused : m_uploadButton;
        if (button->isVisible() && button->isEnabled()) {
            button->click();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace quaddle
