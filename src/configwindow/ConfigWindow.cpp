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

const TValueList OverwritePolicies{{0, QStringLiteral("Ask")},
                                   {1, QStringLiteral("Overwrite existing file")},
                                   {2, QStringLiteral("Auto-rename existing file")},
                                   {128, QStringLiteral("Skip this file")}};

} // namespace

TFormCfg::TFormCfg(TCfg& cfg, TCfgWindowHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), Cfg(cfg), Host(std::move(host)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Configuration"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);

    ComboWas = new QComboBox(this);
    ComboWas->setObjectName(QStringLiteral("ComboWas"));
    ComboWas->addItem(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                      tr("General Options"));
    ComboWas->addItem(style()->standardIcon(QStyle::SP_DriveNetIcon), tr("Server Management"));
    ComboWas->move(8, 8);
    connect(ComboWas, &QComboBox::activated, this, &TFormCfg::ComboWasChange);
    resize(GeneralWindowSize.width(), SelectorHeight);

    CreateOptionsPage();
    CreateServerPage();
}

QGroupBox* TFormCfg::Group(const QString& title, int top, int height) {
    auto* group = new QGroupBox(title, OptionGeneral);
    group->setGeometry(0, top, GeneralPageSize.width(), height);
    return group;
}

void TFormCfg::PlaceInPanel(const char* name, QWidget* group, int left, int width,
                            const QString& label, const QString& setting) {
    auto* panel = new QWidget(group);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(left, 18, width, 40);
    auto* caption = new QLabel(label, panel);
    caption->adjustSize();
    std::optional<TValueList> values;
    if (setting == QLatin1String("DefaultServer")) {
        // Numbered by position, whatever a name contains.
        values = TValueList();
        for (qint32 i = 0; i < Cfg.ServerNames.size(); ++i)
            values->append({i, Cfg.ServerNames[i]});
    } else if (setting == QLatin1String("Overwrite")) {
        values = OverwritePolicies;
    }
    QWidget* control = CreateSettingControl(Cfg, setting, panel, QString(), values);
    control->setGeometry(0, caption->height() + 2, width, 21);
}

void TFormCfg::PlaceCheckBox(QWidget* group, int left, int top, int width, const QString& setting,
                             const QString& caption) {
    QWidget* control = CreateSettingControl(Cfg, setting, group, caption);
    control->setGeometry(left, top, width, 17);
}

void TFormCfg::CreateOptionsPage() {
    OptionGeneral = new QWidget(this);
    OptionGeneral->setObjectName(QStringLiteral("OptionGeneral"));
    OptionGeneral->setFixedSize(GeneralPageSize);
    OptionGeneral->hide();

    QGroupBox* general = Group(tr("General"), 0, 65);
    PlaceInPanel("PCFGDefault", general, 8, 225, tr("Default server:"),
                 QStringLiteral("DefaultServer"));
    QGroupBox* uploading = Group(tr("Uploading"), 76, 65);
    PlaceInPanel("PCFGExists", uploading, 8, 225, tr("When file exists:"),
                 QStringLiteral("Overwrite"));
    PlaceCheckBox(uploading, 241, 39, 225, QStringLiteral("Passive"),
                  tr("Use passive mode with FTP servers"));
    QGroupBox* thumbnails = Group(tr("Thumbnails"), 152, 65);
    PlaceInPanel("PCFGTWidth", thumbnails, 8, 100, tr("Max. width:"), QStringLiteral("ThumbWidth"));
    PlaceInPanel("PCFGTHeight", thumbnails, 115, 100, tr("Max. height:"),
                 QStringLiteral("ThumbHeight"));
    PlaceCheckBox(thumbnails, 241, 18, 225, QStringLiteral("ThumbInfo"),
                  tr("Show image dimensions in thumbnail"));
    PlaceCheckBox(thumbnails, 241, 39, 225, QStringLiteral("ThumbRahmen"), tr("Frame thumbnail"));

    QGroupBox* security = Group(tr("Security"), 223, 85);
    auto* explain = new QLabel(
        tr("To protect your login information from being stolen, you should set a master "
           "password here. This password will be used to encrypt your usernames and passwords. "
           "If set, you will be asked for this every time you start ") +
            AppName + QLatin1Char('.'),
        security);
    explain->setObjectName(QStringLiteral("LMPWExplain"));
    explain->setWordWrap(true);
    explain->setGeometry(8, 18, 281, 64);
    auto* setPassword = new QPushButton(tr("Set Master Password"), security);
    setPassword->setObjectName(QStringLiteral("BSetMasterPassword"));
    setPassword->setGeometry(312, 34, 153, 25);
    connect(setPassword, &QPushButton::clicked, this, [this] { SetOrRemoveMasterPassword(Cfg); });

    QGroupBox* advanced = Group(tr("Advanced"), 311, 65);
    CContext = new QCheckBox(tr("Show Quaddle in context menu"), advanced);
    CContext->setObjectName(QStringLiteral("CContext"));
    CContext->setGeometry(8, 18, 225, 17);
    connect(CContext, &QCheckBox::clicked, this, &TFormCfg::CContextClick);
    // Setting the box counts as a change: a registered entry is registered once more.
    if (Cfg.ContextRegistered) {
        CContext->setChecked(true);
        CContextClick();
    }
    PlaceCheckBox(advanced, 241, 18, 225, QStringLiteral("Log"),
                  tr("Create log file (for debugging)"));
    PlaceCheckBox(advanced, 8, 39, 458, QStringLiteral("Autoclose"),
                  tr("Don't show URLs, just close when done"));
}

void TFormCfg::CContextClick() {
    if (!QFileInfo::exists(ContextEntryPath(Cfg.ProgramDir))) {
        Dialogs().ShowMessage(tr("DLL does not exist. Please reinstall Quaddle."), TMsgKind::Error,
                              TMsgButtons::Ok);
        CContext->setChecked(false);
        return;
    }
    if (CContext->isChecked())
        RegisterContext(Cfg.ProgramDir);
    else
        UnregisterContext();
}

void TFormCfg::ChoosePage(TPage page) {
    ComboWas->setCurrentIndex(page);
    ComboWasChange(page);
}

void TFormCfg::ComboWasChange(int index) {
    if (CurrentPage)
        CurrentPage->hide();
    CurrentPage = index == GeneralOptions ? OptionGeneral : OptionServer;
    if (height() <= SelectorHeight)
        resize(width(), FirstHeight);
    if (index == GeneralOptions) {
        setMinimumSize(GeneralWindowSize);
        setMaximumSize(GeneralWindowSize);
    } else {
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setMinimumSize(ServerWindowMinWidth, FieldPanel->height() + 8 + 80);
    }
    CurrentPage->move(PageLeft, PageTop);
    CurrentPage->show();
    CurrentPage->setFocus();
    GroessenAenderung();
}

void TFormCfg::GroessenAenderung() {
    ComboWas->resize(width() - 16, ComboWas->height());
    if (CurrentPage != OptionServer)
        return;
    OptionServer->resize(width() - 16, height() - OptionServer->y() - 8);
    LayoutServerPage();
}

void TFormCfg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    ChoosePage(GeneralOptions);
    CTyp->setCurrentIndex(0);
    MarkDefault(EditURL, DefaultURLMask);
    MarkDefault(EPort, QStringLiteral("21"));
}

void TFormCfg::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    Host.ShowMain();
}

void TFormCfg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    GroessenAenderung();
}

void TFormCfg::ReportError(const QString& message) {
    Dialogs().ShowMessage(message, TMsgKind::Error, TMsgButtons::Ok);
}

} // namespace quaddle
