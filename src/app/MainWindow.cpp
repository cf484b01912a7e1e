#include "app/MainWindow.h"

#include "about/AboutDialog.h"
#include "app/CommandLine.h"
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

QString WithoutAccelerator(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QStringList LocalFilesOf(const QMimeData* data) {
    QStringList paths;
    if (!data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

} // namespace

TFormMain::TFormMain(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);
    CreateControls();
    CreateMenus();
    CreateStatusBar();
    setFixedSize(sizeHint());
    move(233, 246);
    FormCreate(arguments);
}

TFormMain::~TFormMain() = default;

void TFormMain::CreateControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(ClientWidth, ClientHeight - StatusHeight);
    setCentralWidget(client);

    auto* files = Place(new QGroupBox(tr("Files"), client), "GroupBox1", 8, 0, 378, 97);
    StringFiles = Place(new QTableWidget(1, 1, files), "StringFiles", 8, 18, 256, 71);
    StringFiles->horizontalHeader()->hide();
    StringFiles->verticalHeader()->hide();
    StringFiles->verticalHeader()->setDefaultSectionSize(15);
    StringFiles->verticalHeader()->setMinimumSectionSize(15);
    StringFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    StringFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringFiles->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringFiles->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    StringFiles->setWordWrap(false);
    BFileAdd = Place(new QPushButton(tr("Add File(s)"), files), "BFileAdd", 270, 18, 97, 31);
    BFileRemove = Place(new QPushButton(tr("Remove"), files), "BFileRemove", 270, 64, 97, 25);
    connect(BFileAdd, &QPushButton::clicked, this, &TFormMain::BFileAddClick);
    connect(BFileRemove, &QPushButton::clicked, this, &TFormMain::BFileRemoveClick);

    auto* remote =
        Place(new QGroupBox(tr("Remote Directory"), client), "GroupBox2", 8, 103, 316, 46);
    CSubdir = Place(new QComboBox(remote), "CSubdir", 8, 17, 300, 22);
    CSubdir->setEditable(true);
    CSubdir->setInsertPolicy(QComboBox::NoInsert);
    CSubdir->setToolTip(tr("Directory to upload to. Usually, you can leave this blank."));
    // Files dropped on the field belong in the file list, not in the directory text.
    CSubdir->lineEdit()->setAcceptDrops(false);

    BUpload = Place(new QPushButton(client), "BUpload", 330, 103, 56, 46);
    BUpload->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    BUpload->setIconSize(QSize(32, 32));
    BUpload->setToolTip(tr("Upload"));
    BUpload->setAccessibleName(tr("Upload"));
    BCancel = Place(new QPushButton(tr("Cancel"), client), "BCancel", 330, 103, 56, 46);
    BCancel->setEnabled(false);
    BCancel->hide();
    connect(BUpload, &QPushButton::clicked, this, &TFormMain::BUploadClick);
    connect(BCancel, &QPushButton::clicked, this, &TFormMain::BCancelClick);

    setTabOrder(BUpload, StringFiles);
    setTabOrder(StringFiles, BFileAdd);
    setTabOrder(BFileAdd, BFileRemove);
    setTabOrder(BFileRemove, CSubdir);
}

void TFormMain::CreateMenus() {
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(tr("&File"));
    MenuReload = file->addAction(tr("Enter Master &Password"));
    MenuReload->setObjectName(QStringLiteral("MenuReload"));
    connect(MenuReload, &QAction::triggered, this, &TFormMain::MenuReloadClick);
    QAction* options = file->addAction(tr("&Options..."));
    options->setObjectName(QStringLiteral("MenuOptions"));
    connect(options, &QAction::triggered, this, &TFormMain::MenuOptionsClick);
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setObjectName(QStringLiteral("MenuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    menuBar()->addMenu(tr("&Servers"))->setObjectName(QStringLiteral("Servers1"));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    const auto webPageEntry = [help](const QString& caption, const char* name, QString url) {
        QAction* entry = help->addAction(caption);
        entry->setObjectName(QLatin1String(name));
        connect(entry, &QAction::triggered, help, [url] { OpenWebPage(url); });
    };
    webPageEntry(tr("&Look For Updates..."), "MenuUpdates", UpdateURL);
    webPageEntry(tr("&Support Forums..."), "MenuSupport", SupportURL);
    webPageEntry(tr("Quaddle &Website..."), "MenuWebsite", WebsiteURL);
    QAction* about = help->addAction(tr("&About Quaddle"));
    about->setObjectName(QStringLiteral("MenuAbout"));
    connect(about, &QAction::triggered, this, &TFormMain::AboutClick);
}

void TFormMain::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("Status"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(StatusHeight);
    StatusProgress = new TProgressPanel(
        [this](QPainter& painter, const QRect& rect) { StatusDrawPanel(painter, rect); }, bar);
    StatusProgress->setObjectName(QStringLiteral("StatusProgress"));
    StatusProgress->setFixedWidth(100);
    StatusServer = new QLabel(bar);
    StatusServer->setObjectName(QStringLiteral("StatusServer"));
    StatusServer->setFixedWidth(219);
    StatusDetail = new QLabel(bar);
    StatusDetail->setObjectName(QStringLiteral("StatusDetail"));
    StatusDetail->setFixedWidth(75);
    bar->addWidget(StatusProgress);
    bar->addWidget(StatusServer);
    bar->addWidget(StatusDetail);
}

void TFormMain::FormCreate(const QStringList& arguments) {
    AutoUpload_ = false;
    UploadStatus(QString(), -3);
    StringFiles->setColumnWidth(0, StringFiles->width() - 4);
    InsertSeparatorAfter(QStringLiteral("File"), QStringLiteral("Options..."));
    InsertSeparatorAfter(QStringLiteral("Help"), QStringLiteral("Quaddle Website..."));
    setAcceptDrops(true);

    const TCommandLine commandLine = ParseCommandLine(arguments);
    for (const QString& path : commandLine.Files)
        Files_.append({path, QString()});

    Cfg_ = std::make_unique<TCfg>();
    Cfg_->LoadConfig(false);
    MenuReload->setVisible(Cfg_->CredentialsLocked);
    BuildServersMenu();
    RefreshFiles();
    if (commandLine.Selector)
        ApplySelector(*commandLine.Selector);
    ServersClick(nullptr);
    RefreshServerDisplay(QString(), QString());
}

void TFormMain::ApplySelector(const QString& selector) {
    const std::optional<TServerSelection> selection = ResolveSelector(selector, *Cfg_);
    if (!selection)
        return;
    Cfg_->CurrentServer = selection->Server;
    AutoUpload_ = true;
    if (selection->Folder)
        CSubdir->setEditText(Cfg_->GetFolders(selection->Server).at(*selection->Folder));
}

QMenu* TFormMain::FindMenu(const QString& caption) const {
    for (QAction* action : menuBar()->actions())
        if (action->menu() && WithoutAccelerator(action->text()) == caption)
            return action->menu();
    return nullptr;
}

void TFormMain::InsertSeparatorAfter(const QString& menuCaption, const QString& entryCaption) {
    QMenu* menu = FindMenu(menuCaption);
    if (!menu)
        return;
    const QList<QAction*> entries = menu->actions();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (WithoutAccelerator(entries[i]->text()) != entryCaption)
            continue;
        if (i + 1 < entries.size())
            menu->insertSeparator(entries[i + 1]);
        else
            menu->addSeparator();
        return;
    }
}

int TFormMain::SelectedFileRow() const {
    const QList<QTableWidgetSelectionRange> ranges = StringFiles->selectedRanges();
    return ranges.isEmpty() ? StringFiles->currentRow() : ranges.first().topRow();
}

void TFormMain::RefreshFiles() {
    const int selected = std::max(0, SelectedFileRow());
    SortFiles(Files_);
    StringFiles->clearContents();
    const int rows = std::max(1, static_cast<int>(Files_.size()));
    StringFiles->setRowCount(rows);
    for (int row = 0; row < Files_.size(); ++row)
        StringFiles->setItem(row, 0, new QTableWidgetItem(FileNameOf(Files_[row].Path)));
    // Like a grid's cursor, the selection stays on its row or the last one, so pressing
    // Remove again removes the next file.
    StringFiles->selectRow(std::min(selected, rows - 1));
}

void TFormMain::RefreshServerDisplay(const QString& status, const QString& detail) {
    const qint32 current = Cfg_->CurrentServer;
    if (current >= 0 && current < Cfg_->ServerNames.size()) {
        const QString& name = Cfg_->ServerNames[current];
        StatusServer->setText(name + QStringLiteral(": ") +
                              (status.isEmpty() ? QStringLiteral("Ready") : status));
        if (!detail.isEmpty())
            StatusDetail->setText(detail);
    } else {
        StatusServer->setText(QStringLiteral("<Select Server>"));
    }

    const QString typed = CSubdir->currentText();
    CSubdir->clear();
    for (const QString& folder : Cfg_->GetFolders(current))
        if (!folder.isEmpty())
            CSubdir->addItem(folder);
    CSubdir->setEditText(typed.isEmpty() ? Cfg_->GetCurrentServer()[DefaultDir] : typed);

    BuildServersMenu();
}

void TFormMain::BuildServersMenu() {
    QMenu* menu = FindMenu(QStringLiteral("Servers"));
    if (!menu)
        throw TError(QStringLiteral("Server menu not found."));
    TServersMenuContents contents;
    contents.NoServers = Cfg_->ServerNames.isEmpty();
    contents.Current = Cfg_->CurrentServer;
    for (qint32 i = 0; i < Cfg_->ServerNames.size(); ++i)
        if (Cfg_->ServerExists(i))
            contents.Servers.append({i, Cfg_->ServerNames[i]});
    // The display is refreshed for every file and every speed update; a menu that would come
    // out the same stays, instead of piling up released entries until the run ends.
    if (contents == ServersMenuShown)
        return;
    ServersMenuShown = contents;

    // The entry that was clicked may be the one running this rebuild, so old entries are
    // released only once control is back in the event loop.
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        old->deleteLater();
    }
    for (QActionGroup* oldGroup : menu->findChildren<QActionGroup*>())
        oldGroup->deleteLater();

    QAction* manage = menu->addAction(tr("&Manage Servers..."));
    manage->setObjectName(QStringLiteral("MenuManage"));
    connect(manage, &QAction::triggered, this, &TFormMain::ManageClick);
    menu->addSeparator();
    if (contents.NoServers) {
        menu->addAction(tr("No servers found"))->setEnabled(false);
        return;
    }
    auto* group = new QActionGroup(menu);
    for (const auto& [index, name] : contents.Servers) {
        QAction* entry = menu->addAction(name);
        entry->setCheckable(true);
        entry->setChecked(index == contents.Current);
        entry->setData(index);
        group->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, entry] { ServersClick(entry); });
    }
}

void TFormMain::ServersClick(QAction* entry) {
    if (CSubdir->currentText() == Cfg_->GetCurrentServer()[DefaultDir])
        CSubdir->setEditText(QString());
    if (entry) {
        entry->setChecked(true);
        Cfg_->CurrentServer = entry->data().toInt();
    }
    RefreshServerDisplay(QString(), QString());
}

void TFormMain::UploadStatus(const QString& text, int index) {
    if (index < 0 && index != -2)
        SetCaption(AppName + QLatin1Char(' ') + AppVersion);
    if (index >= 0 && index < StringFiles->rowCount())
        StringFiles->scrollTo(StringFiles->model()->index(index, 0),
                              QAbstractItemView::PositionAtTop);
    if (index != -3)
        RefreshServerDisplay(text, QString());
}

void TFormMain::SetCaption(const QString& caption) {
    // The application's title follows the caption; it goes first because the window system's
    // title is formatted from both.
    QApplication::setApplicationDisplayName(caption);
    setWindowTitle(caption);
}

void TFormMain::UploadProgress(const QString& name, qint64 size, qint64 position) {
    const qint64 now = Clock();
    if (size <= 0) {
        SpeedBytes = 0;
        FileProgress = 0;
        SpeedTime = now;
        StatusProgress->update();
        return;
    }
    const double fraction = double(position) / double(size);

    const qint64 speedAge = now - SpeedTime;
    if (speedAge > 1000) {
        SpeedTime = now;
        const double speed = double(position - SpeedBytes) / (double(speedAge) / 1000) / 1024;
        SpeedBytes = position;
        RefreshServerDisplay(name, FormatSpeed(speed));
    }

    if (now - DisplayTime > 200) {
        DisplayTime = now;
        if (fraction - FileProgress > 0.01) {
            FileProgress = fraction;
            StatusProgress->update();
            const int filePercent = static_cast<int>(std::floor(fraction * 100));
            const int overallPercent =
                static_cast<int>(std::floor(OverallProgress().value_or(0) * 100));
            SetCaption(QStringLiteral("%1 ( %2% | %3% )")
                           .arg(AppName)
                           .arg(filePercent)
                           .arg(overallPercent));
        }
    }
}

std::optional<double> TFormMain::OverallProgress() const {
    if (!Upload || Upload->BytesTotal() <= 0)
        return std::nullopt;
    return double(Upload->BytesDone()) / double(Upload->BytesTotal());
}

void TFormMain::StatusDrawPanel(QPainter& painter, const QRect& rect) {
    DrawProgressBars(painter, rect, OverallProgress(), FileProgress,
                     palette().color(QPalette::Active, QPalette::Highlight));
}

void TFormMain::SetControlsEnabled(bool on) {
    BCancel->setEnabled(!on);
    BCancel->setVisible(!on);
    BUpload->setEnabled(on);
    BUpload->setVisible(on);
    BFileAdd->setEnabled(on);
    BFileRemove->setEnabled(on);
}

void TFormMain::BFileAddClick() {
    const QStringList chosen = Dialogs().ChooseFiles(tr("Select File(s) to upload"));
    for (const QString& path : chosen)
        Files_.append({path, QString()});
    RefreshFiles();
}

void TFormMain::BFileRemoveClick() {
    const int row = SelectedFileRow();
    if (row < 0 || row >= Files_.size())
        return;
    Files_.removeAt(row);
    RefreshFiles();
}

void TFormMain::MenuReloadClick() {
    const TMsgAnswer answer = Dialogs().ShowMessage(
        tr("This will reload all data from the configuration file, discarding any changes you "
           "may have made. Are you sure?"),
        TMsgKind::Question, TMsgButtons::YesNo);
    if (answer != TMsgAnswer::Yes)
        return;
    Cfg_->LoadConfig(true);
    MenuReload->setVisible(Cfg_->CredentialsLocked);
    RefreshServerDisplay(QString(), QString());
}

void TFormMain::MenuOptionsClick() {
    if (!FormCfg) {
        TCfgWindowHost host;
        host.RefreshServerDisplay = [this] { RefreshServerDisplay(QString(), QString()); };
        host.ShowMain = [this] { show(); };
        FormCfg = new TFormCfg(*Cfg_, std::move(host), this);
    }
    FormCfg->show();
    FormCfg->raise();
    FormCfg->activateWindow();
}

void TFormMain::ManageClick() {
    MenuOptionsClick();
    FormCfg->ChoosePage(TFormCfg::ServerManagement);
}

void TFormMain::AboutClick() {
    if (!FormAbout)
        FormAbout = new TFormAbout(this);
    FormAbout->show();
    FormAbout->raise();
    FormAbout->activateWindow();
}

void TFormMain::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (!AutoUpload_)
        return;
    // Cleared first, so the repaints during the run do not start another one; the run itself
    // starts once painting is over, as it opens windows of its own.
    AutoUpload_ = false;
    QTimer::singleShot(0, this, &TFormMain::BUploadClick);
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    CSubdir->setFocus();
}

void TFormMain::SaveConfigReporting() {
    try {
        Cfg_->SaveConfig();
    } catch (const TError& error) {
        Dialogs().ShowMessage(error.Message(), TMsgKind::Error, TMsgButtons::Ok);
    }
}

void TFormMain::closeEvent(QCloseEvent* event) {
    // Closing the window in the middle of an upload stops the upload.
    if (Upload)
        BCancelClick();
    // The window closes even when saving fails: the user has been told, and a logout must
    // not be held up.
    SaveConfigReporting();
    QMainWindow::closeEvent(event);
    QCoreApplication::quit();
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFilesOf(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event) {
    const QStringList dropped = LocalFilesOf(event->mimeData());
    for (const QString& path : dropped)
        Files_.append({path, QString()});
    event->acceptProposedAction();
    RefreshFiles();
}

void TFormMain::keyPressEvent(QKeyEvent* event) {
    // Upload is the window's default button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && BUpload->isVisible() &&
        BUpload->isEnabled()) {
        BUpload->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace quaddle
