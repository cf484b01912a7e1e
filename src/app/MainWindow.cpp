#include "app/MainWindow.h"

#include "about/AboutDialog.h"
#include "app/CommandLine.h"
#include "app/PastedFiles.h"
#include "app/ProgressPanel.h"
#include "configwindow/ConfigWindow.h"
#include "platform/AppInfo.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/WebPages.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <cmath>

namespace quaddle {

namespace {

constexpr int ClientWidth = 394;
constexpr int ClientHeight = 176;
constexpr int StatusHeight = 19;

const QString UpdateURL =
    WebsiteURL + QStringLiteral("index.php/check=") + AppVersion + QStringLiteral("/download.html");
const QString SupportURL = WebsiteURL + QStringLiteral("forums/");

QString withoutAccelerator(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

} // namespace

MainWindow::MainWindow(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);
    createControls();
    createMenus();
    createStatusBar();
    setFixedSize(sizeHint());
    move(233, 246);
    setUpWindow(arguments);
}

MainWindow::~MainWindow() = default;

void MainWindow::createControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(ClientWidth, ClientHeight - StatusHeight);
    setCentralWidget(client);

    auto* files = place(new QGroupBox(tr("Files"), client), "GroupBox1", 8, 0, 378, 97);
    m_fileTable = place(new QTableWidget(1, 1, files), "fileTable", 8, 18, 256, 71);
    m_fileTable->horizontalHeader()->hide();
    m_fileTable->verticalHeader()->hide();
    m_fileTable->verticalHeader()->setDefaultSectionSize(15);
    m_fileTable->verticalHeader()->setMinimumSectionSize(15);
    m_fileTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_fileTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fileTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fileTable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_fileTable->setWordWrap(false);
    m_addFilesButton =
        place(new QPushButton(tr("Add File(s)"), files), "addFilesButton", 270, 18, 97, 31);
    m_removeFileButton =
        place(new QPushButton(tr("Remove"), files), "removeFileButton", 270, 64, 97, 25);
    connect(m_addFilesButton, &QPushButton::clicked, this, &MainWindow::addFiles);
    connect(m_removeFileButton, &QPushButton::clicked, this, &MainWindow::removeSelectedFile);

    auto* remote =
        place(new QGroupBox(tr("Remote Directory"), client), "GroupBox2", 8, 103, 316, 46);
    m_remoteDirBox = place(new QComboBox(remote), "remoteDirBox", 8, 17, 300, 22);
    m_remoteDirBox->setEditable(true);
    m_remoteDirBox->setInsertPolicy(QComboBox::NoInsert);
    m_remoteDirBox->setToolTip(tr("Directory to upload to. Usually, you can leave this blank."));
    // Files dropped on the field belong in the file list, not in the directory text.
    m_remoteDirBox->lineEdit()->setAcceptDrops(false);

    m_uploadButton = place(new QPushButton(client), "uploadButton", 330, 103, 56, 46);
    m_uploadButton->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    m_uploadButton->setIconSize(QSize(32, 32));
    m_uploadButton->setToolTip(tr("Upload"));
    m_uploadButton->setAccessibleName(tr("Upload"));
    m_cancelButton = place(new QPushButton(tr("Cancel"), client), "cancelButton", 330, 103, 56, 46);
    m_cancelButton->setEnabled(false);
    m_cancelButton->hide();
    connect(m_uploadButton, &QPushButton::clicked, this, &MainWindow::startUpload);
    connect(m_cancelButton, &QPushButton::clicked, this, &MainWindow::cancelUpload);

    setTabOrder(m_uploadButton, m_fileTable);
    setTabOrder(m_fileTable, m_addFilesButton);
    setTabOrder(m_addFilesButton, m_removeFileButton);
    setTabOrder(m_removeFileButton, m_remoteDirBox);
}

void MainWindow::createMenus() {
    menuBar()->setObjectName(QStringLiteral("mainMenu"));
    QMenu* file = menuBar()->addMenu(tr("&File"));
    m_reloadAction = file->addAction(tr("Enter Master &Password"));
    m_reloadAction->setObjectName(QStringLiteral("reloadAction"));
    connect(m_reloadAction, &QAction::triggered, this, &MainWindow::reloadConfig);
    QAction* paste = file->addAction(tr("Paste"));
    paste->setObjectName(QStringLiteral("pasteAction"));
    paste->setShortcut(QKeySequence::Paste);
    connect(paste, &QAction::triggered, this, &MainWindow::pasteFiles);
    QAction* options = file->addAction(tr("&Options..."));
    options->setObjectName(QStringLiteral("optionsAction"));
    connect(options, &QAction::triggered, this, &MainWindow::openOptions);
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setObjectName(QStringLiteral("exitAction"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    menuBar()->addMenu(tr("&Servers"))->setObjectName(QStringLiteral("serversMenu"));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    const auto webPageEntry = [help](const QString& caption, const char* name, QString url) {
        QAction* entry = help->addAction(caption);
        entry->setObjectName(QLatin1String(name));
        connect(entry, &QAction::triggered, help, [url] { openWebPage(url); });
    };
    webPageEntry(tr("&Look For Updates..."), "MenuUpdates", UpdateURL);
    webPageEntry(tr("&Support Forums..."), "MenuSupport", SupportURL);
    webPageEntry(tr("Quaddle &Website..."), "MenuWebsite", WebsiteURL);
    QAction* about = help->addAction(tr("&About Quaddle"));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("Status"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(StatusHeight);
    m_progressPanel = new ProgressPanel(
        [this](QPainter& painter, const QRect& rect) { drawProgressPanel(painter, rect); }, bar);
    m_progressPanel->setObjectName(QStringLiteral("progressPanel"));
    m_progressPanel->setFixedWidth(100);
    m_serverLabel = new QLabel(bar);
    m_serverLabel->setObjectName(QStringLiteral("serverLabel"));
    m_serverLabel->setFixedWidth(219);
    // Server and file names come from outside; they show as typed, never as markup.
    m_serverLabel->setTextFormat(Qt::PlainText);
    m_detailLabel = new QLabel(bar);
    m_detailLabel->setObjectName(QStringLiteral("detailLabel"));
    m_detailLabel->setTextFormat(Qt::PlainText);
    m_detailLabel->setFixedWidth(75);
    bar->addWidget(m_progressPanel);
    bar->addWidget(m_serverLabel);
    bar->addWidget(m_detailLabel);
}

void MainWindow::setUpWindow(const QStringList& arguments) {
    m_autoUpload = false;
    uploadStatus(QString(), -3);
    m_fileTable->setColumnWidth(0, m_fileTable->width() - 4);
    insertSeparatorAfter(QStringLiteral("File"), QStringLiteral("Options..."));
    insertSeparatorAfter(QStringLiteral("Help"), QStringLiteral("Quaddle Website..."));
    setAcceptDrops(true);

    const CommandLine commandLine = parseCommandLine(arguments);
    for (const QString& path : commandLine.files)
        m_files.append({path, QString()});

    m_config = std::make_unique<Config>();
    m_config->loadConfig(false);
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

int MainWindow::selectedFileRow() const {
    const QList<QTableWidgetSelectionRange> ranges = m_fileTable->selectedRanges();
    return ranges.isEmpty() ? m_fileTable->currentRow() : ranges.first().topRow();
}

void MainWindow::refreshFiles() {
    const int selected = std::max(0, selectedFileRow());
    sortFiles(m_files);
    m_fileTable->clearContents();
    const int rows = std::max(1, static_cast<int>(m_files.size()));
    m_fileTable->setRowCount(rows);
    for (int row = 0; row < m_files.size(); ++row)
        m_fileTable->setItem(row, 0, new QTableWidgetItem(fileNameOf(m_files[row].path)));
    // Like a grid's cursor, the selection stays on its row or the last one, so pressing
    // Remove again removes the next file.
    m_fileTable->selectRow(std::min(selected, rows - 1));
}

void MainWindow::refreshServerDisplay(const QString& status, const QString& detail) {
    const qint32 current = m_config->currentServer;
    if (current >= 0 && current < m_config->serverNames.size()) {
        const QString& name = m_config->serverNames[current];
        m_serverLabel->setText(name + QStringLiteral(": ") +
                               (status.isEmpty() ? QStringLiteral("Ready") : status));
        if (!detail.isEmpty())
            m_detailLabel->setText(detail);
    } else {
        m_serverLabel->setText(QStringLiteral("<Select Server>"));
    }

    const QString typed = m_remoteDirBox->currentText();
    m_remoteDirBox->clear();
    for (const QString& folder : m_config->folders(current))
        if (!folder.isEmpty())
            m_remoteDirBox->addItem(folder);
    m_remoteDirBox->setEditText(typed.isEmpty() ? m_config->currentServerRecord()[DefaultDir]
                                                : typed);

    buildServersMenu();
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
    if (m_remoteDirBox->currentText() == m_config->currentServerRecord()[DefaultDir])
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
    if (m_session && index >= 0 && index < m_runFiles.size()) {
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
        refreshServerDisplay(text, QString());
}

void MainWindow::setCaption(const QString& caption) {
    // The application's title follows the caption; it goes first because the window system's
    // title is formatted from both.
    QApplication::setApplicationDisplayName(caption);
    setWindowTitle(caption);
}

void MainWindow::uploadProgress(const QString& name, qint64 size, qint64 position) {
    const qint64 now = m_clock();
    if (size <= 0) {
        m_speedBytes = 0;
        m_fileProgress = 0;
        m_speedTime = now;
        m_progressPanel->update();
        return;
    }
    const double fraction = double(position) / double(size);

    const qint64 speedAge = now - m_speedTime;
    if (speedAge > 1000) {
        m_speedTime = now;
        const double speed = double(position - m_speedBytes) / (double(speedAge) / 1000) / 1024;
        m_speedBytes = position;
        refreshServerDisplay(name, formatSpeed(speed));
    }

    if (now - m_displayTime > 200) {
        m_displayTime = now;
        if (fraction - m_fileProgress > 0.01) {
            m_fileProgress = fraction;
            m_progressPanel->update();
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
    if (!m_session || m_session->bytesTotal() <= 0)
        return std::nullopt;
    return double(m_session->bytesDone()) / double(m_session->bytesTotal());
}

void MainWindow::drawProgressPanel(QPainter& painter, const QRect& rect) {
    drawProgressBars(painter, rect, overallProgress(), m_fileProgress,
                     palette().color(QPalette::Active, QPalette::Highlight));
}

void MainWindow::setControlsEnabled(bool on) {
    m_cancelButton->setEnabled(!on);
    m_cancelButton->setVisible(!on);
    m_uploadButton->setEnabled(on);
    m_uploadButton->setVisible(on);
    m_addFilesButton->setEnabled(on);
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

void MainWindow::removeSelectedFile() {
    const int row = selectedFileRow();
    if (row < 0 || row >= m_files.size())
        return;
    m_files.removeAt(row);
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
        m_configWindow = new ConfigWindow(*m_config, std::move(host), this);
    }
    m_configWindow->show();
    m_configWindow->raise();
    m_configWindow->activateWindow();
}

void MainWindow::openServerManager() {
    openOptions();
    m_configWindow->choosePage(ConfigWindow::ServerManagement);
}

void MainWindow::showAbout() {
    if (!m_aboutDialog)
        m_aboutDialog = new AboutDialog(this);
    m_aboutDialog->show();
    m_aboutDialog->raise();
    m_aboutDialog->activateWindow();
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
    m_remoteDirBox->setFocus();
}

void MainWindow::saveConfigReporting() {
    try {
        m_config->saveConfig();
    } catch (const Error& error) {
        dialogs().showMessage(error.message(), MessageKind::Error, MessageButtons::Ok);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window in the middle of an upload stops the upload.
    if (m_session)
        cancelUpload();
    // The window closes even when saving fails: the user has been told, and a logout must
    // not be held up.
    saveConfigReporting();
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
