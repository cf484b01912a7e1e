// The configuration window's server manager: a tree of servers and folders, and the fields
// of one server.
#include "config/Config.h"
#include "config/MasterPassword.h"
#include "configwindow/ConfigWindow.h"
#include "platform/AppInfo.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Psftp.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>

namespace quaddle {

namespace {

constexpr int FieldPanelWidth = 242;
constexpr int FieldPanelHeight = 377;
constexpr int RootImage = 0;
constexpr int ServerImage = 1;
constexpr int FolderImage = 2;
const QString DefaultText = QStringLiteral("Default");

void SetTextColour(QWidget* widget, QPalette::ColorRole role, QPalette::ColorGroup group) {
    QPalette palette = widget->palette();
    palette.setColor(role, QApplication::palette().color(group, role));
    widget->setPalette(palette);
}

int Level(const QTreeWidgetItem* item) {
    int level = 0;
    for (const QTreeWidgetItem* up = item ? item->parent() : nullptr; up; up = up->parent())
        ++level;
    return item ? level : -1;
}

} // namespace

QLineEdit* TFormCfg::Field(QWidget* group, const char* name, const QString& label, int left,
                           int top, int width) {
    auto* caption = new QLabel(label, group);
    caption->move(left, top);
    auto* edit = new QLineEdit(group);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(left, top + 16, width, 21);
    caption->setBuddy(edit);
    return edit;
}

void TFormCfg::CreateServerPage() {
    OptionServer = new QWidget(this);
    OptionServer->setObjectName(QStringLiteral("OptionServer"));
    OptionServer->hide();

    LWarning = new QLabel(
        tr("Since did not enter a master password, Quaddle was unable to load usernames and "
           "passwords from your configuration file."),
        OptionServer);
    LWarning->setObjectName(QStringLiteral("LWarning"));
    LWarning->setWordWrap(true);
    QPalette red = LWarning->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    LWarning->setPalette(red);

    TreeServers = new QTreeWidget(OptionServer);
    TreeServers->setObjectName(QStringLiteral("TreeServers"));
    TreeServers->header()->hide();
    TreeServers->setIndentation(19);
    TreeServers->setSortingEnabled(true);
    TreeServers->sortByColumn(0, Qt::AscendingOrder);
    TreeServers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeServers->viewport()->installEventFilter(this);
    TreeServers->installEventFilter(this);
    connect(TreeServers, &QTreeWidget::itemChanged, this, &TFormCfg::TreeServersEdited);

    ButtonNew = new QPushButton(tr("New Server"), OptionServer);
    ButtonNew->setObjectName(QStringLiteral("ButtonNew"));
    ButtonFolder = new QPushButton(tr("New Folder"), OptionServer);
    ButtonFolder->setObjectName(QStringLiteral("ButtonFolder"));
    connect(ButtonNew, &QPushButton::clicked, this, &TFormCfg::ButtonNewClick);
    connect(ButtonFolder, &QPushButton::clicked, this, &TFormCfg::ButtonFolderClick);

    FieldPanel = new QWidget(OptionServer);
    FieldPanel->setObjectName(QStringLiteral("FieldPanel"));
    FieldPanel->resize(FieldPanelWidth, FieldPanelHeight);
    auto* connection = new QGroupBox(tr("Connection"), FieldPanel);
    connection->setGeometry(0, 0, FieldPanelWidth, 108);
    EditHost = Field(connection, "EditHost", tr("Hostname"), 8, 16, 177);
    EPort = Field(connection, "EPort", tr("Port"), 192, 16, 42);
    EditUser = Field(connection, "EditUser", tr("Username"), 8, 58, 114);
    EditPass = Field(connection, "EditPass", tr("Password"), 130, 58, 104);
    EditPass->setEchoMode(QLineEdit::Password);
    auto* directories = new QGroupBox(tr("Directories"), FieldPanel);
    directories->setGeometry(0, 120, FieldPanelWidth, 108);
    EditDefaultDir = Field(directories, "EditDefaultDir", tr("Default Directory"), 8, 16, 226);
    EditDir = Field(directories, "EditDir", tr("Root Directory"), 8, 58, 226);
    auto* advanced = new QGroupBox(tr("Advanced"), FieldPanel);
    advanced->setGeometry(0, 240, FieldPanelWidth, 110);
    auto* typeLabel = new QLabel(tr("Server Type"), advanced);
    typeLabel->move(8, 16);
    CTyp = new QComboBox(advanced);
    CTyp->setObjectName(QStringLiteral("CTyp"));
    CTyp->addItems({tr("FTP"), tr("SFTP (EXPERIMENTAL)")});
    CTyp->setGeometry(8, 32, 226, 21);
    typeLabel->setBuddy(CTyp);
    connect(CTyp, &QComboBox::activated, this, &TFormCfg::CTypChange);
    EditURL = Field(advanced, "EditURL", tr("URL Mask"), 8, 60, 226);

    EditHost->setToolTip(tr("Required value.") + LineBreak + LineBreak +
                         tr("Usually your domain name."));
    EPort->setToolTip(tr("Usually 21 for FTP. This value is ignored for SFTP servers"));
    EditDefaultDir->setToolTip(tr("Default value for the 'Remote Directory' field"));
    EditDir->setToolTip(tr("Set to the root directory of your webserver, e.g. /html or /srv/www"));
    EditURL->setToolTip(tr("If the URLs generated by ") + AppName +
                        tr(" are incorrect,you can define the proper mask here.") + LineBreak +
                        tr("Variables: $host, $user, $dir, $file"));
    for (QLineEdit* withDefault : {EditURL, EPort}) {
        withDefault->installEventFilter(this);
        // What the user types is a value, shown in the normal colour.
        connect(withDefault, &QLineEdit::textEdited, withDefault,
                [withDefault] { SetTextColour(withDefault, QPalette::Text, QPalette::Active); });
    }

    ButtonSave = new QPushButton(tr("Add New Server"), FieldPanel);
    ButtonSave->setObjectName(QStringLiteral("ButtonSave"));
    ButtonSave->setGeometry(0, FieldPanelHeight - 19, 241, 19);
    connect(ButtonSave, &QPushButton::clicked, this, &TFormCfg::ButtonSaveClick);

    PopupServer = new QMenu(this);
    PopupServer->setObjectName(QStringLiteral("PopupServer"));
    QAction* rename = PopupServer->addAction(tr("Rename"), this, &TFormCfg::RenameNode);
    PopupServer->setDefaultAction(rename);
    PopupServer->addAction(tr("Delete"), this, &TFormCfg::DeleteNode);

    ButtonsAnAus(false);
    ServersGet();
}

QTreeWidgetItem* TFormCfg::AddNode(QTreeWidgetItem* parent, const QString& text, int image,
                                   int data) {
    static const QStyle::StandardPixmap icons[] = {QStyle::SP_ComputerIcon, QStyle::SP_DriveNetIcon,
                                                   QStyle::SP_DirIcon};
    // Building a node is no edit by the user.
    const QSignalBlocker quiet(TreeServers);
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeServers);
    item->setText(0, text);
    item->setIcon(0, style()->standardIcon(icons[image]));
    item->setData(0, Qt::UserRole, data);
    if (image != RootImage)
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

void TFormCfg::ServersGet() {
    TreeServers->clear();
    Root = AddNode(nullptr, AppName + tr(" Servers"), RootImage, -1);
    for (qint32 server = 0; server < Cfg.ServerNames.size(); ++server) {
        if (!Cfg.ServerExists(server))
            continue;
        QTreeWidgetItem* node = AddNode(Root, Cfg.ServerNames[server], ServerImage, server);
        const QStringList& folders = Cfg.GetFolders(server);
        for (qint32 folder = 0; folder < folders.size(); ++folder)
            if (!folders[folder].isEmpty())
                AddNode(node, folders[folder], FolderImage, folder);
    }
    TreeServers->expandAll();
}

int TFormCfg::ServerOf(QTreeWidgetItem* item) const {
    const int level = Level(item);
    if (level == 1)
        return item->data(0, Qt::UserRole).toInt();
    if (level == 2)
        return item->parent()->data(0, Qt::UserRole).toInt();
    return -1;
}

void TFormCfg::TreeServersClick() {
    QTreeWidgetItem* item = TreeServers->currentItem();
    const int server = ServerOf(item);
    if (server >= 0) {
        EditedServer = server;
        if (Cfg.ServerExists(server)) {
            const TServer& record = Cfg.Servers[server];
            for (QLineEdit* withDefault : {EditURL, EPort})
                SetTextColour(withDefault, QPalette::Text, QPalette::Active);
            EditHost->setText(record[Hostname]);
            EPort->setText(record[Port]);
            EditUser->setText(record[Username]);
            EditPass->setText(record[Password]);
            EditDefaultDir->setText(record[DefaultDir]);
            EditDir->setText(record[RootDir]);
            EditURL->setText(record[URLMask]);
            CTyp->setCurrentIndex(record[Type] == QLatin1String("1") ? 1 : 0);
            ButtonsAnAus(true);
        } else {
            for (QLineEdit* edit :
                 {EditHost, EPort, EditUser, EditPass, EditDefaultDir, EditDir, EditURL})
                edit->clear();
            CTyp->setCurrentIndex(0);
            ButtonsAnAus(false);
        }
        ButtonSave->setText(tr("Save Server"));
    } else {
        EditedServer = -1;
        ButtonSave->setText(tr("Add New Server"));
        ButtonsAnAus(false);
    }
    MarkDefault(EditURL, DefaultURLMask);
    MarkDefault(EPort, QStringLiteral("21"));
}

void TFormCfg::ButtonsAnAus(bool on) {
    ButtonFolder->setEnabled(on);
    const QPalette::ColorGroup group = on ? QPalette::Active : QPalette::Disabled;
    SetTextColour(ButtonFolder, QPalette::ButtonText, group);
    SetTextColour(ButtonSave, QPalette::ButtonText, group);
}

void TFormCfg::ButtonNewClick() {
    try {
        const qint32 index = Cfg.StoreServer({}, {}, {}, {}, {}, {}, {}, {}, -1, -1);
        QTreeWidgetItem* node = AddNode(Root, tr("New Server"), ServerImage, index);
        Root->setExpanded(true);
        TreeServers->setFocus();
        TreeServers->setCurrentItem(node);
        TreeServers->editItem(node);
    } catch (const TError& error) {
        ReportError(error.Message());
    }
}

void TFormCfg::ButtonFolderClick() {
    QTreeWidgetItem* item = TreeServers->currentItem();
    const int server = ServerOf(item);
    if (server < 0)
        return;
    if (!Cfg.ServerExists(server)) {
        Dialogs().ShowMessage(tr("Please save the server before adding folders."),
                              TMsgKind::Information, TMsgButtons::Ok);
        return;
    }
    QTreeWidgetItem* serverNode = Level(item) == 2 ? item->parent() : item;
    Cfg.SetFolder(-1, server, QString());
    const int folder = static_cast<int>(Cfg.GetFolders(server).size() - 1);
    QTreeWidgetItem* node = AddNode(serverNode, QString(), FolderImage, folder);
    serverNode->setExpanded(true);
    TreeServers->setFocus();
    TreeServers->setCurrentItem(node);
    TreeServers->editItem(node);
}

void TFormCfg::ButtonSaveClick() {
    if (EditHost->text().isEmpty()) {
        ReportError(tr("Please enter a hostname."));
        EditHost->setFocus();
        return;
    }
    if (!ConfirmStoringPassword(Cfg, EditPass->text()))
        EditPass->clear();
    try {
        const qint32 index =
            Cfg.StoreServer(EditHost->text(), EditValue(EPort), EditUser->text(), EditPass->text(),
                            EditDir->text(), EditDefaultDir->text(), EditValue(EditURL),
                            QString::number(CTyp->currentIndex()), EditedServer, -1);
        if (EditedServer == -1) {
            AddNode(Root, Cfg.ServerNames.value(index), ServerImage, index);
            Root->setExpanded(true);
        }
    } catch (const TError& error) {
        ReportError(error.Message());
    }
    Host.RefreshServerDisplay();
}

void TFormCfg::TreeServersEdited(QTreeWidgetItem* item) {
    const int level = Level(item);
    if (level == 1)
        Cfg.ServerNames[ServerOf(item)] = item->text(0);
    else if (level == 2)
        Cfg.SetFolder(item->data(0, Qt::UserRole).toInt(), ServerOf(item), item->text(0));
    Host.RefreshServerDisplay();
}

void TFormCfg::RenameNode() {
    QTreeWidgetItem* item = TreeServers->currentItem();
    if (item && item != Root)
        TreeServers->editItem(item);
}

void TFormCfg::DeleteNode() {
    QTreeWidgetItem* item = TreeServers->currentItem();
    const int level = Level(item);
    if (level == 1) {
        const TMsgAnswer answer = Dialogs().ShowMessage(QStringLiteral("Delete server \"") +
                                                            item->text(0) + QStringLiteral("\"?"),
                                                        TMsgKind::Confirmation, TMsgButtons::YesNo);
        if (answer != TMsgAnswer::Yes)
            return;
        try {
            Cfg.DeleteServer(ServerOf(item));
        } catch (const TError& error) {
            ReportError(error.Message());
            return;
        }
    } else if (level == 2) {
        Cfg.DeleteFolder(item->data(0, Qt::UserRole).toInt(), ServerOf(item));
    } else {
        return;
    }
    delete item;
    Host.RefreshServerDisplay();
}

void TFormCfg::TreePopup(const QPoint& position) {
    QTreeWidgetItem* item = TreeServers->itemAt(position);
    if (!item)
        return;
    TreeServers->setCurrentItem(item);
    if (item == Root)
        return;
    TreeServersClick();
    PopupServer->popup(TreeServers->viewport()->mapToGlobal(position));
}

void TFormCfg::CTypChange(int index) {
    if (index == 1 && FindPsftp(Cfg.ProgramDir).isEmpty()) {
        Dialogs().ShowMessage(
            tr("psftp.exe not found. Please reinstall Quaddle with SFTP support."), TMsgKind::Plain,
            TMsgButtons::Ok);
        CTyp->setCurrentIndex(0);
    }
}

void TFormCfg::MarkDefault(QLineEdit* edit, const QString& value) {
    if (edit->text() != value && !edit->text().isEmpty() && edit->text() != DefaultText)
        return;
    DefaultValues.insert(edit, value);
    SetTextColour(edit, QPalette::Text, QPalette::Disabled);
    edit->setText(DefaultText);
}

void TFormCfg::RevealDefault(QLineEdit* edit) {
    if ((edit->text() != DefaultText && !edit->text().isEmpty()) || !DefaultValues.contains(edit))
        return;
    SetTextColour(edit, QPalette::Text, QPalette::Active);
    edit->setText(DefaultValues.value(edit));
}

QString TFormCfg::EditValue(QLineEdit* edit) const {
    if ((edit->text() == DefaultText || edit->text().isEmpty()) && DefaultValues.contains(edit))
        return DefaultValues.value(edit);
    return edit->text();
}

void TFormCfg::LayoutServerPage() {
    const int pageWidth = OptionServer->width();
    const int pageHeight = OptionServer->height();
    const int treeWidth = pageWidth - 16 - FieldPanelWidth;
    int treeTop = 0;
    LWarning->setVisible(Cfg.CredentialsLocked);
    if (Cfg.CredentialsLocked) {
        LWarning->setGeometry(0, 0, treeWidth, LWarning->heightForWidth(treeWidth));
        treeTop = LWarning->height() + 5;
    }
    const int buttonHeight = ButtonFolder->sizeHint().height();
    const int folderTop = pageHeight - 8 - buttonHeight;
    const int newTop = folderTop - 8 - buttonHeight;
    ButtonFolder->setGeometry(0, folderTop, treeWidth, buttonHeight);
    ButtonNew->setGeometry(0, newTop, treeWidth, buttonHeight);
    TreeServers->setGeometry(0, treeTop, treeWidth, newTop - treeTop - 8);
    FieldPanel->setGeometry(treeWidth + 8, 0, FieldPanelWidth, pageHeight - 8);
    ButtonSave->move(0, FieldPanel->height() - ButtonSave->height());
}

bool TFormCfg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TreeServers->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        TreeServersClick();
    } else if (watched == TreeServers->viewport() && event->type() == QEvent::MouseButtonPress &&
               static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        TreePopup(static_cast<QMouseEvent*>(event)->position().toPoint());
        return true;
    } else if (watched == TreeServers && event->type() == QEvent::KeyPress) {
        // While a node is edited, keys go to its editor, not here.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_F2) {
            RenameNode();
            return true;
        }
        if (key == Qt::Key_Delete) {
            DeleteNode();
            return true;
        }
    } else if ((watched == EditURL || watched == EPort) &&
               event->type() == QEvent::MouseButtonPress) {
        RevealDefault(static_cast<QLineEdit*>(watched));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quaddle
