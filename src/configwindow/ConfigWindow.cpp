// The configuration window's frame and its options page.
#include "configwindow/ConfigWindow.h"

#include "config/Config.h"
#include "config/MasterPassword.h"
#include "configwindow/SettingControls.h"
#include "platform/AppInfo.h"
#include "platform/ContextRegistration.h"
#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>

namespace quaddle {

namespace {

// The window's first size, as at the design's font; it can be made larger.
const QSize FirstSize(500, 458);

const ValueList OverwritePolicies{{0, QStringLiteral("Ask")},
                                  {1, QStringLiteral("Overwrite existing file")},
                                  {2, QStringLiteral("Auto-rename existing file")},
                                  {128, QStringLiteral("Skip this file")}};

// Asks for all the room its page needs, so that the page scrolls only where the screen is
// smaller than that.
class PageArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;

    QSize sizeHint() const override {
        return widget()->sizeHint() + QSize(verticalScrollBar()->sizeHint().width(), 0);
    }
};

const ValueList ThumbnailPolicies{
    {qint32(Config::ThumbnailPolicy::Ask), QStringLiteral("Ask")},
    {qint32(Config::ThumbnailPolicy::Always), QStringLiteral("Always")},
    {qint32(Config::ThumbnailPolicy::Never), QStringLiteral("Never")}};

// The first control of page that Tab reaches, if any.
QWidget* firstControl(QWidget& page) {
    for (QWidget* widget = page.nextInFocusChain(); widget != &page;
         widget = widget->nextInFocusChain())
        if (page.isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) &&
            widget->isEnabled() && widget->isVisibleTo(&page))
            return widget;
    return nullptr;
}

} // namespace

ConfigWindow::ConfigWindow(Config& config, ConfigWindowHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), m_config(config), m_host(std::move(host)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Configuration"));

    m_pageBox = new QComboBox(this);
    m_pageBox->setObjectName(QStringLiteral("pageBox"));
    m_pageBox->setAccessibleName(tr("Page"));
    m_pageBox->addItem(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                       tr("General Options"));
    m_pageBox->addItem(style()->standardIcon(QStyle::SP_DriveNetIcon), tr("Server Management"));
    connect(m_pageBox, &QComboBox::activated, this, &ConfigWindow::showPage);

    createOptionsPage();
    createServerPage();
    // Setting and server names come from outside and are shown as written.
    for (QLabel* label : findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);

    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);

    // Only the page shown takes room; the other is hidden.
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pageBox);
    layout->addWidget(m_optionsPage, 1);
    layout->addWidget(m_serverPage, 1);
    layout->addLayout(buttons);
    // Large enough for either page from the start, so switching does not resize the window.
    QSize first = FirstSize;
    for (QWidget* page : {m_optionsPage, m_serverPage}) {
        page->show();
        first = first.expandedTo(sizeHint());
        page->hide();
    }
    resize(first);
}

QGridLayout* ConfigWindow::group(QBoxLayout* page, const QString& title) {
    auto* group = new QGroupBox(title, m_optionsPage);
    page->addWidget(group);
    auto* grid = new QGridLayout(group);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return grid;
}

QWidget* ConfigWindow::labelled(const char* name, const QString& label, const QString& setting) {
    auto* panel = new QWidget(m_optionsPage);
    panel->setObjectName(QLatin1String(name));
    auto* caption = new QLabel(label, panel);
    std::optional<ValueList> values;
    if (setting == QLatin1String("DefaultServer")) {
        // Numbered by position, whatever a name contains.
        values = ValueList();
        for (qint32 i = 0; i < m_config.serverNames.size(); ++i)
            values->append({i, m_config.serverNames[i]});
    } else if (setting == QLatin1String("Overwrite")) {
        values = OverwritePolicies;
    } else if (setting == QLatin1String("MakeThumbnails")) {
        values = ThumbnailPolicies;
    }
    QWidget* control =
        createSettingControl(m_config, setting, panel, QString(), values, [this] { saveConfig(); });
    caption->setBuddy(control);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(caption);
    layout->addWidget(control);
    return panel;
}

QWidget* ConfigWindow::checkBox(const QString& setting, const QString& caption) {
    return createSettingControl(m_config, setting, m_optionsPage, caption, std::nullopt,
                                [this] { saveConfig(); });
}

QScrollArea* ConfigWindow::scrollable(QWidget* content, const char* name) {
    auto* area = new PageArea(this);
    area->setObjectName(QLatin1String(name));
    area->setFrameShape(QFrame::NoFrame);
    // The keyboard goes to the controls on the page; the area scrolls the one with the focus
    // into view.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    content->show();
    area->setWidget(content);
    area->setMinimumWidth(content->minimumSizeHint().expandedTo(content->minimumSize()).width() +
                          area->verticalScrollBar()->sizeHint().width());
    area->hide();
    return area;
}

void ConfigWindow::createOptionsPage() {
    m_optionsPage = new QWidget(this);
    m_optionsPage->setObjectName(QStringLiteral("optionsContent"));
    auto* page = new QVBoxLayout(m_optionsPage);
    page->setContentsMargins(0, 0, 0, 0);

    QGridLayout* general = group(page, tr("General"));
    general->addWidget(
        labelled("PCFGDefault", tr("Default server:"), QStringLiteral("DefaultServer")), 0, 0);
    general->addWidget(checkBox(QStringLiteral("AutoCopy"),
                                tr("Copy the URLs to the clipboard after each upload")),
                       0, 1, Qt::AlignBottom);
    general->addWidget(
        checkBox(QStringLiteral("Notify"), tr("Show a desktop notification when an upload ends")),
        1, 1);

    QGridLayout* uploading = group(page, tr("Uploading"));
    uploading->addWidget(
        labelled("PCFGExists", tr("When file exists:"), QStringLiteral("Overwrite")), 0, 0);
    uploading->addWidget(
        checkBox(QStringLiteral("Passive"), tr("Use passive mode with FTP servers")), 0, 1,
        Qt::AlignBottom);
    uploading->addWidget(
        checkBox(QStringLiteral("TempNames"), tr("Upload under a temporary name, then rename")), 1,
        1);
    uploading->addWidget(
        labelled("PCFGConnections", tr("Simultaneous connections:"), QStringLiteral("Connections")),
        1, 0);
    uploading->addWidget(checkBox(QStringLiteral("History"), tr("Keep a history of uploads")), 2,
                         1);
    // Its caption is too long for one column.
    uploading->addWidget(checkBox(QStringLiteral("StripMetadata"),
                                  tr("Remove location and camera data from photos before "
                                     "uploading")),
                         3, 0, 1, 2);

    QGridLayout* thumbnails = group(page, tr("Thumbnails"));
    auto* sizes = new QHBoxLayout;
    sizes->addWidget(labelled("PCFGTWidth", tr("Max. width:"), QStringLiteral("ThumbWidth")));
    sizes->addWidget(labelled("PCFGTHeight", tr("Max. height:"), QStringLiteral("ThumbHeight")));
    thumbnails->addLayout(sizes, 0, 0, 2, 1);
    thumbnails->addWidget(
        checkBox(QStringLiteral("ThumbInfo"), tr("Show image dimensions in thumbnail")), 0, 1);
    thumbnails->addWidget(checkBox(QStringLiteral("ThumbRahmen"), tr("Frame thumbnail")), 1, 1);
    thumbnails->addWidget(labelled("PCFGMakeThumbnails", tr("Make thumbnails of images:"),
                                   QStringLiteral("MakeThumbnails")),
                          2, 0);

    QGridLayout* security = group(page, tr("Security"));
    auto* explain = new QLabel(
        tr("To protect your login information from being stolen, you should set a master "
           "password here. This password will be used to encrypt your usernames and passwords. "
           "If set, you will be asked for this every time you start ") +
            AppName + QLatin1Char('.'),
        m_optionsPage);
    explain->setObjectName(QStringLiteral("masterPasswordLabel"));
    explain->setWordWrap(true);
    m_masterPasswordButton = new QPushButton(m_optionsPage);
    m_masterPasswordButton->setObjectName(QStringLiteral("setMasterPasswordButton"));
    connect(m_masterPasswordButton, &QPushButton::clicked, this, [this] {
        setOrRemoveMasterPassword(m_config);
        showMasterPasswordState();
        showWarning();
        saveConfig();
    });
    showMasterPasswordState();
    security->addWidget(explain, 0, 0);
    security->addWidget(m_masterPasswordButton, 0, 1, Qt::AlignCenter);

    QGridLayout* advanced = group(page, tr("Advanced"));
    m_contextEntryBox = new QCheckBox(tr("Show Quaddle in context menu"), m_optionsPage);
    m_contextEntryBox->setObjectName(QStringLiteral("contextEntryBox"));
    connect(m_contextEntryBox, &QCheckBox::clicked, this, &ConfigWindow::toggleContextEntry);
    // Setting the box counts as a change: a registered entry is registered once more.
    if (m_config.contextRegistered) {
        m_contextEntryBox->setChecked(true);
        toggleContextEntry();
    }
    advanced->addWidget(m_contextEntryBox, 0, 0);
    advanced->addWidget(checkBox(QStringLiteral("Log"), tr("Create log file (for debugging)")), 0,
                        1);
    advanced->addWidget(
        checkBox(QStringLiteral("Autoclose"), tr("Don't show URLs, just close when done")), 1, 0, 1,
        2);
    page->addStretch();
    m_optionsPage = scrollable(m_optionsPage, "optionsPage");
}

void ConfigWindow::showMasterPasswordState() {
    m_masterPasswordButton->setText(hasMasterPassword(m_config) ? tr("Change Master Password")
                                                                : tr("Set Master Password"));
}

void ConfigWindow::toggleContextEntry() {
    if (!QFileInfo::exists(contextEntryPath(m_config.programDir))) {
        dialogs().showMessage(
            tr("The desktop entry %1 is missing. To restore it, run scripts/post-install with "
               "the path of the installed program.")
                .arg(contextEntryPath(m_config.programDir)),
            MessageKind::Error, MessageButtons::Ok);
        m_contextEntryBox->setChecked(false);
        return;
    }
    if (m_contextEntryBox->isChecked())
        registerContext(m_config.programDir);
    else
        unregisterContext();
}

void ConfigWindow::choosePage(Page page) {
    m_pageBox->setCurrentIndex(page);
    showPage(page);
}

void ConfigWindow::showPage(int index) {
    if (m_currentPage)
        m_currentPage->hide();
    m_currentPage = index == GeneralOptions ? m_optionsPage : m_serverPage;
    if (index == ServerManagement)
        showWarning();
    m_currentPage->show();
    // The keyboard starts at the first option, not on the page around it.
    QWidget* first = index == GeneralOptions ? firstControl(*m_optionsPage) : nullptr;
    (first ? first : m_currentPage)->setFocus();
}

void ConfigWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    choosePage(GeneralOptions);
    m_typeBox->setCurrentIndex(0);
    markDefault(m_urlMaskEdit, DefaultURLMask);
    markDefaultPort();
}

void ConfigWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    saveConfig();
    m_host.showMain();
}

void ConfigWindow::keyPressEvent(QKeyEvent* event) {
    // Esc reaches the window only when the focused control has no use for it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ConfigWindow::reportError(const QString& message) {
    dialogs().showMessage(message, MessageKind::Error, MessageButtons::Ok);
}

void ConfigWindow::saveConfig() {
    if (m_host.saveConfig)
        m_host.saveConfig();
}

} // namespace quaddle
