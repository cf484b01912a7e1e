// The configuration window's frame and its options page.
#include "configwindow/ConfigWindow.h"

#include "config/Config.h"
#include "config/MasterPassword.h"
#include "configwindow/SettingControls.h"
#include "platform/AppInfo.h"
#include "platform/ContextRegistration.h"
#include "platform/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

namespace quaddle {

namespace {

constexpr int SelectorHeight = 62;
constexpr int FirstHeight = 400;
constexpr int PageLeft = 8;
constexpr int PageTop = 44;
const QSize GeneralPageSize(484, 378);
const QSize GeneralWindowSize(500, 458);
constexpr int ServerWindowMinWidth = 500;

const ValueList OverwritePolicies{{0, QStringLiteral("Ask")},
                                  {1, QStringLiteral("Overwrite existing file")},
                                  {2, QStringLiteral("Auto-rename existing file")},
                                  {128, QStringLiteral("Skip this file")}};

} // namespace

ConfigWindow::ConfigWindow(Config& config, ConfigWindowHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), m_config(config), m_host(std::move(host)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Configuration"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);

    m_pageBox = new QComboBox(this);
    m_pageBox->setObjectName(QStringLiteral("pageBox"));
    m_pageBox->addItem(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                       tr("General Options"));
    m_pageBox->addItem(style()->standardIcon(QStyle::SP_DriveNetIcon), tr("Server Management"));
    m_pageBox->move(8, 8);
    connect(m_pageBox, &QComboBox::activated, this, &ConfigWindow::showPage);
    resize(GeneralWindowSize.width(), SelectorHeight);

    createOptionsPage();
    createServerPage();
    // Setting and server names come from outside and are shown as written.
    for (QLabel* label : findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

QGroupBox* ConfigWindow::group(const QString& title, int top, int height) {
    auto* group = new QGroupBox(title, m_optionsPage);
    group->setGeometry(0, top, GeneralPageSize.width(), height);
    return group;
}

void ConfigWindow::placeInPanel(const char* name, QWidget* group, int left, int width,
                                const QString& label, const QString& setting) {
    auto* panel = new QWidget(group);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(left, 18, width, 40);
    auto* caption = new QLabel(label, panel);
    caption->adjustSize();
    std::optional<ValueList> values;
    if (setting == QLatin1String("DefaultServer")) {
        // Numbered by position, whatever a name contains.
        values = ValueList();
        for (qint32 i = 0; i < m_config.serverNames.size(); ++i)
            values->append({i, m_config.serverNames[i]});
    } else if (setting == QLatin1String("Overwrite")) {
        values = OverwritePolicies;
    }
    QWidget* control = createSettingControl(m_config, setting, panel, QString(), values);
    control->setGeometry(0, caption->height() + 2, width, 21);
}

void ConfigWindow::placeCheckBox(QWidget* group, int left, int top, int width,
                                 const QString& setting, const QString& caption) {
    QWidget* control = createSettingControl(m_config, setting, group, caption);
    control->setGeometry(left, top, width, 17);
}

void ConfigWindow::createOptionsPage() {
    m_optionsPage = new QWidget(this);
    m_optionsPage->setObjectName(QStringLiteral("optionsPage"));
    m_optionsPage->setFixedSize(GeneralPageSize);
    m_optionsPage->hide();

    QGroupBox* general = group(tr("General"), 0, 65);
    placeInPanel("PCFGDefault", general, 8, 225, tr("Default server:"),
                 QStringLiteral("DefaultServer"));
    placeCheckBox(general, 241, 39, 235, QStringLiteral("AutoCopy"),
                  tr("Copy the URLs to the clipboard after each upload"));
    QGroupBox* uploading = group(tr("Uploading"), 76, 65);
    placeInPanel("PCFGExists", uploading, 8, 225, tr("When file exists:"),
                 QStringLiteral("Overwrite"));
    placeCheckBox(uploading, 241, 39, 225, QStringLiteral("Passive"),
                  tr("Use passive mode with FTP servers"));
    placeCheckBox(uploading, 241, 18, 235, QStringLiteral("TempNames"),
                  tr("Upload under a temporary name, then rename"));
    QGroupBox* thumbnails = group(tr("Thumbnails"), 152, 65);
    placeInPanel("PCFGTWidth", thumbnails, 8, 100, tr("Max. width:"), QStringLiteral("ThumbWidth"));
    placeInPanel("PCFGTHeight", thumbnails, 115, 100, tr("Max. height:"),
                 QStringLiteral("ThumbHeight"));
    placeCheckBox(thumbnails, 241, 18, 225, QStringLiteral("ThumbInfo"),
                  tr("Show image dimensions in thumbnail"));
    placeCheckBox(thumbnails, 241, 39, 225, QStringLiteral("ThumbRahmen"), tr("Frame thumbnail"));

    QGroupBox* security = group(tr("Security"), 223, 85);
    auto* explain = new QLabel(
        tr("To protect your login information from being stolen, you should set a master "
           "password here. This password will be used to encrypt your usernames and passwords. "
           "If set, you will be asked for this every time you start ") +
            AppName + QLatin1Char('.'),
        security);
    explain->setObjectName(QStringLiteral("masterPasswordLabel"));
    explain->setWordWrap(true);
    explain->setGeometry(8, 18, 281, 64);
    auto* setPassword = new QPushButton(tr("Set Master Password"), security);
    setPassword->setObjectName(QStringLiteral("setMasterPasswordButton"));
    setPassword->setGeometry(312, 34, 153, 25);
    connect(setPassword, &QPushButton::clicked, this,
            [this] { setOrRemoveMasterPassword(m_config); });

    QGroupBox* advanced = group(tr("Advanced"), 311, 65);
    m_contextEntryBox = new QCheckBox(tr("Show Quaddle in context menu"), advanced);
    m_contextEntryBox->setObjectName(QStringLiteral("contextEntryBox"));
    m_contextEntryBox->setGeometry(8, 18, 225, 17);
    connect(m_contextEntryBox, &QCheckBox::clicked, this, &ConfigWindow::toggleContextEntry);
    // Setting the box counts as a change: a registered entry is registered once more.
    if (m_config.contextRegistered) {
        m_contextEntryBox->setChecked(true);
        toggleContextEntry();
    }
    placeCheckBox(advanced, 241, 18, 225, QStringLiteral("Log"),
                  tr("Create log file (for debugging)"));
    placeCheckBox(advanced, 8, 39, 458, QStringLiteral("Autoclose"),
                  tr("Don't show URLs, just close when done"));
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
    if (height() <= SelectorHeight)
        resize(width(), FirstHeight);
    if (index == GeneralOptions) {
        setMinimumSize(GeneralWindowSize);
        setMaximumSize(GeneralWindowSize);
    } else {
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setMinimumSize(ServerWindowMinWidth, m_fieldPanel->minimumHeight() + 8 + 80);
    }
    m_currentPage->move(PageLeft, PageTop);
    m_currentPage->show();
    m_currentPage->setFocus();
    fitPageToWindow();
}

void ConfigWindow::fitPageToWindow() {
    m_pageBox->resize(width() - 16, m_pageBox->height());
    if (m_currentPage != m_serverPage)
        return;
    m_serverPage->resize(width() - 16, height() - m_serverPage->y() - 8);
    layoutServerPage();
}

void ConfigWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    choosePage(GeneralOptions);
    m_typeBox->setCurrentIndex(0);
    markDefault(m_urlMaskEdit, DefaultURLMask);
    markDefault(m_portEdit, defaultPort());
}

void ConfigWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_host.showMain();
}

void ConfigWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitPageToWindow();
}

void ConfigWindow::reportError(const QString& message) {
    dialogs().showMessage(message, MessageKind::Error, MessageButtons::Ok);
}

} // namespace quaddle
