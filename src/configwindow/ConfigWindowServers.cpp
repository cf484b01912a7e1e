// The configuration window's server manager: a tree of servers and folders, and the fields
// of one server.
#include "config/CommandLine.h"
#include "config/Config.h"
#include "config/MasterPassword.h"
#include "configwindow/ConfigWindow.h"
#include "platform/AppInfo.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Psftp.h"
#include "results/UrlBuilder.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStyle>
#include <QTreeWidget>

namespace quaddle {

namespace {

constexpr int FieldPanelWidth = 242;
constexpr int RootImage = 0;
constexpr int ServerImage = 1;
constexpr int FolderImage = 2;
const QString DefaultText = QStringLiteral("Default");
// The file the address preview places.
const QString PreviewFile = QStringLiteral("photo.jpg");
const QString PreviewDir = QStringLiteral("/2024");

void setTextColour(QWidget* widget, QPalette::ColorRole role, QPalette::ColorGroup group) {
    QPalette palette = widget->palette();
    palette.setColor(role, QApplication::palette().color(group, role));
    widget->setPalette(palette);
}

// Red text that wraps: what is wrong, shown where it is wrong.
QLabel* problemLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    return label;
}

// Shown under its field while there is something to say.
QLabel* fieldProblemLabel(QFormLayout* form, const char* name) {
    QLabel* label = problemLabel(QString(), name, form->parentWidget());
    label->hide();
    form->addRow(QString(), label);
    return label;
}

void showProblem(QLabel* label, const QString& problem) {
    label->setText(problem);
    label->setVisible(!problem.isEmpty());
}

bool isPortNumber(const QString& text) {
    static const QRegularExpression Digits(QStringLiteral("^[0-9]{1,5}$"));
    return Digits.match(text).hasMatch() && text.toInt() >= 1 && text.toInt() <= 65535;
}

QString defaultPortOf(int type) {
    return type == int(ServerType::Sftp) ? QStringLiteral("22") : QStringLiteral("21");
}

// A doubled slash behind the scheme's: a path the web server may not know.
bool doublesASlash(const QString& url) {
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    return url.indexOf(QLatin1String("//"), scheme < 0 ? 0 : scheme + 3) >= 0;
}

// $dir and $file begin with their own slash; one written before them is one too many.
QString withoutSlashesBeforeVariables(QString mask) {
    return mask.replace(QLatin1String("/$dir"), QLatin1String("$dir"))
        .replace(QLatin1String("/$file"), QLatin1String("$file"));
}

int treeLevel(const QTreeWidgetItem* item) {
    int level = 0;
    for (const QTreeWidgetItem* up = item ? item->parent() : nullptr; up; up = up->parent())
        ++level;
    return item ? level : -1;
}

} // namespace

QLineEdit* ConfigWindow::field(QFormLayout* form, const char* name, const QString& label) {
    auto* edit = new QLineEdit(m_fieldPanel);
    edit->setObjectName(QLatin1String(name));
    form->addRow(label, edit);
    return edit;
}

QFormLayout* ConfigWindow::fieldGroup(const QString& title) {
    auto* group = new QGroupBox(title, m_fieldPanel);
    m_fieldPanel->layout()->addWidget(group);
    auto* form = new QFormLayout(group);
    // The fields line up and take the panel's width, whatever the style's habit.
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return form;
}

void ConfigWindow::createServerPage() {
    m_serverPage = new QWidget(this);
    m_serverPage->setObjectName(QStringLiteral("serverPage"));
    m_serverPage->hide();

    m_warningLabel =
        problemLabel(tr("Since you did not enter a master password, Quaddle was unable to load "
                        "usernames and passwords from your configuration file."),
                     "warningLabel", m_serverPage);

    m_serverTree = new QTreeWidget(m_serverPage);
    m_serverTree->setObjectName(QStringLiteral("serverTree"));
    m_serverTree->setAccessibleName(tr("Servers"));
    m_serverTree->header()->hide();
    // The second column holds the number that selects the server on the command line.
    m_serverTree->setColumnCount(2);
    m_serverTree->header()->setStretchLastSection(false);
    m_serverTree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_serverTree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_serverTree->setIndentation(19);
    m_serverTree->setSortingEnabled(true);
    m_serverTree->sortByColumn(0, Qt::AscendingOrder);
    m_serverTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_serverTree->viewport()->installEventFilter(this);
    m_serverTree->installEventFilter(this);
    connect(m_serverTree, &QTreeWidget::itemChanged, this, &ConfigWindow::storeEditedName);

    m_newServerButton = new QPushButton(tr("Add"), m_serverPage);
    m_newServerButton->setAccessibleName(tr("Add a server"));
    m_newServerButton->setObjectName(QStringLiteral("newServerButton"));
    m_newFolderButton = new QPushButton(tr("New Folder"), m_serverPage);
    m_newFolderButton->setObjectName(QStringLiteral("newFolderButton"));
    connect(m_newServerButton, &QPushButton::clicked, this, &ConfigWindow::addServer);
    connect(m_newFolderButton, &QPushButton::clicked, this, &ConfigWindow::addFolder);

    m_fieldPanel = new QWidget(m_serverPage);
    m_fieldPanel->setObjectName(QStringLiteral("fieldPanel"));
    m_fieldPanel->setMinimumWidth(FieldPanelWidth);
    auto* fields = new QVBoxLayout(m_fieldPanel);
    fields->setContentsMargins(0, 0, 0, 0);
    QFormLayout* server = fieldGroup(tr("Server"));
    m_nameEdit = field(server, "nameEdit", tr("Name"));
    m_nameEdit->setAccessibleName(tr("Name"));
    m_typeBox = new QComboBox(m_fieldPanel);
    m_typeBox->setObjectName(QStringLiteral("typeBox"));
    m_typeBox->addItems({tr("FTP"), tr("SFTP"), tr("FTPS (explicit TLS)")});
    server->addRow(tr("Server Type"), m_typeBox);
    connect(m_typeBox, &QComboBox::activated, this, &ConfigWindow::applyServerType);
    QFormLayout* connection = fieldGroup(tr("Connection"));
    m_hostEdit = field(connection, "hostEdit", tr("Hostname"));
    m_portEdit = field(connection, "portEdit", tr("Port"));
    m_portProblemLabel = fieldProblemLabel(connection, "portProblemLabel");
    m_userEdit = field(connection, "userEdit", tr("Username"));
    m_passwordEdit = field(connection, "passwordEdit", tr("Password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    QFormLayout* directories = fieldGroup(tr("Directories"));
    m_defaultDirEdit = field(directories, "defaultDirEdit", tr("Default Directory"));
    m_rootDirEdit = field(directories, "rootDirEdit", tr("Root Directory"));
    QFormLayout* advanced = fieldGroup(tr("Advanced"));
    m_sshClientBox = new QComboBox(m_fieldPanel);
    m_sshClientBox->setObjectName(QStringLiteral("sshClientBox"));
    m_sshClientBox->addItems({tr("OpenSSH (ssh)"), tr("PuTTY (psftp)")});
    advanced->addRow(tr("SSH program"), m_sshClientBox);
    connect(m_sshClientBox, &QComboBox::activated, this, &ConfigWindow::checkSshProgram);
    m_urlMaskEdit = field(advanced, "urlMaskEdit", tr("URL Mask"));
    m_urlMaskProblemLabel = fieldProblemLabel(advanced, "urlMaskProblemLabel");
    const QString variables = tr("Variables: $host, $user, $dir, $file");
    auto* variablesLabel = new QLabel(
        variables + LineBreak + tr("$dir and $file begin with their own slash."), m_fieldPanel);
    variablesLabel->setObjectName(QStringLiteral("urlVariablesLabel"));
    variablesLabel->setWordWrap(true);
    advanced->addRow(QString(), variablesLabel);
    m_urlPreviewLabel = new QLabel(m_fieldPanel);
    m_urlPreviewLabel->setObjectName(QStringLiteral("urlPreviewLabel"));
    m_urlPreviewLabel->setWordWrap(true);
    m_urlPreviewLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long address is cut at the edge rather than widening the fields.
    m_urlPreviewLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    advanced->addRow(QString(), m_urlPreviewLabel);
    m_doubleSlashLabel = fieldProblemLabel(advanced, "doubleSlashLabel");
    m_keyFileEdit = new QLineEdit(m_fieldPanel);
    m_keyFileEdit->setObjectName(QStringLiteral("keyFileEdit"));
    m_keyFileEdit->setAccessibleName(tr("Key file"));
    m_keyFileButton = new QPushButton(QStringLiteral("..."), m_fieldPanel);
    m_keyFileButton->setObjectName(QStringLiteral("keyFileButton"));
    m_keyFileButton->setAccessibleName(tr("Choose key file…"));
    m_keyFileButton->setToolTip(tr("Choose a key file"));
    auto* keyFile = new QHBoxLayout;
    keyFile->addWidget(m_keyFileEdit, 1);
    keyFile->addWidget(m_keyFileButton);
    advanced->addRow(tr("Key file"), keyFile);
    m_permissionsEdit = field(advanced, "permissionsEdit", tr("Permissions"));
    connect(m_keyFileButton, &QPushButton::clicked, this, &ConfigWindow::chooseKeyFile);

    m_hostEdit->setToolTip(tr("Required value.") + LineBreak + LineBreak +
                           tr("Usually your domain name."));
    m_portEdit->setToolTip(tr("Usually 21 for FTP and 22 for SFTP. Left at the default, SFTP "
                              "through OpenSSH takes the port of your SSH configuration."));
    m_sshClientBox->setToolTip(tr("SFTP only: OpenSSH reads your ~/.ssh (configuration, keys, "
                                  "agent, known hosts); PuTTY's psftp reads ~/.putty."));
    m_defaultDirEdit->setToolTip(tr("Default value for the 'Remote Directory' field"));
    m_rootDirEdit->setToolTip(
        tr("Set to the root directory of your webserver, e.g. /html or /srv/www"));
    m_keyFileEdit->setToolTip(tr("SFTP only: a private key (PuTTY .ppk or OpenSSH) to log in "
                                 "with instead of a password. Optional."));
    m_permissionsEdit->setToolTip(tr("Optional: the permissions each uploaded file gets, in "
                                     "octal, for example 644. Empty leaves them as the server "
                                     "makes them."));
    m_urlMaskEdit->setToolTip(tr("If the URLs generated by ") + AppName +
                              tr(" are incorrect, you can define the proper mask here.") +
                              LineBreak + variables);
    for (QLineEdit* withDefault : {m_urlMaskEdit, m_portEdit}) {
        withDefault->installEventFilter(this);
        // Shown while the field is empty; it is no value of its own.
        withDefault->setPlaceholderText(DefaultText);
    }

    for (QLineEdit* shaping : {m_hostEdit, m_userEdit, m_urlMaskEdit})
        connect(shaping, &QLineEdit::textChanged, this, &ConfigWindow::showUrlPreview);

    m_saveServerButton = new QPushButton(tr("Save"), m_fieldPanel);
    m_saveServerButton->setObjectName(QStringLiteral("saveServerButton"));
    m_saveServerButton->setAccessibleName(tr("Save the server"));
    m_deleteServerButton = new QPushButton(tr("Delete"), m_fieldPanel);
    m_deleteServerButton->setObjectName(QStringLiteral("deleteServerButton"));
    m_deleteServerButton->setAccessibleName(tr("Delete the server"));
    m_serverButtonRow = new QHBoxLayout;
    m_serverButtonRow->addWidget(m_saveServerButton);
    m_serverButtonRow->addWidget(m_deleteServerButton);
    m_serverButtonRow->addWidget(makeTestServerButton(m_fieldPanel));
    fields->addStretch();
    connect(m_saveServerButton, &QPushButton::clicked, this, &ConfigWindow::saveServer);
    connect(m_deleteServerButton, &QPushButton::clicked, this, &ConfigWindow::deleteEditedServer);

    // The tree takes the room the window gets; the fields keep their width.
    auto* treeSide = new QVBoxLayout;
    treeSide->addWidget(m_warningLabel);
    treeSide->addWidget(m_serverTree, 1);
    treeSide->addWidget(m_newServerButton);
    treeSide->addWidget(m_newFolderButton);
    auto* page = new QHBoxLayout(m_serverPage);
    page->setContentsMargins(0, 0, 0, 0);
    page->addLayout(treeSide, 1);
    auto* formSide = new QVBoxLayout;
    QScrollArea* fieldScroller = scrollable(m_fieldPanel, "fieldScroller");
    fieldScroller->show();
    formSide->addWidget(fieldScroller, 1);
    // The buttons stay in view below the scrolled fields.
    formSide->addLayout(m_serverButtonRow);
    page->addLayout(formSide);

    m_treeMenu = new QMenu(this);
    m_treeMenu->setObjectName(QStringLiteral("treeMenu"));
    QAction* rename = m_treeMenu->addAction(tr("Rename"), this, &ConfigWindow::renameSelectedNode);
    m_treeMenu->setDefaultAction(rename);
    m_treeMenu->addAction(tr("Delete"), this, &ConfigWindow::deleteSelectedNode);

    setServerButtonsEnabled(false);
    m_deleteServerButton->setEnabled(false);
    connect(m_typeBox, &QComboBox::currentIndexChanged, this, &ConfigWindow::showTypeFields);
    showTypeFields(m_typeBox->currentIndex());
    showUrlPreview();
    fillServerTree();
}

QTreeWidgetItem* ConfigWindow::addNode(QTreeWidgetItem* parent, const QString& text, int image,
                                       int data) {
    static const QStyle::StandardPixmap icons[] = {QStyle::SP_ComputerIcon, QStyle::SP_DriveNetIcon,
                                                   QStyle::SP_DirIcon};
    // Building a node is no edit by the user.
    const QSignalBlocker quiet(m_serverTree);
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_serverTree);
    item->setText(0, text);
    item->setIcon(0, style()->standardIcon(icons[image]));
    item->setData(0, Qt::UserRole, data);
    if (image != RootImage)
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

void ConfigWindow::showSelector(QTreeWidgetItem* node, const QString& selector) {
    // Numbering is no edit by the user.
    const QSignalBlocker quiet(m_serverTree);
    node->setText(1, selector);
    node->setToolTip(
        1, tr("Selects this on the command line: %1 %2 FILE...").arg(AppName.toLower(), selector));
}

void ConfigWindow::showSelectors() {
    for (int i = 0; i < m_root->childCount(); ++i) {
        QTreeWidgetItem* server = m_root->child(i);
        const int index = server->data(0, Qt::UserRole).toInt();
        showSelector(server, selectorFor(m_config, index));
        for (int j = 0; j < server->childCount(); ++j)
            showSelector(
                server->child(j),
                selectorFor(m_config, index, server->child(j)->data(0, Qt::UserRole).toInt()));
    }
}

void ConfigWindow::fillServerTree() {
    m_serverTree->clear();
    m_root = addNode(nullptr, AppName + tr(" Servers"), RootImage, -1);
    // The root has no number; a screen reader still says what the empty cell is.
    m_root->setData(1, Qt::AccessibleTextRole, tr("no number"));
    for (qint32 server = 0; server < m_config.serverNames.size(); ++server) {
        if (!m_config.serverExists(server))
            continue;
        QTreeWidgetItem* node = addNode(m_root, m_config.serverNames[server], ServerImage, server);
        const QStringList& folders = m_config.folders(server);
        for (qint32 folder = 0; folder < folders.size(); ++folder)
            if (!folders[folder].isEmpty())
                addNode(node, folders[folder], FolderImage, folder);
    }
    m_serverTree->expandAll();
    showSelectors();
}

int ConfigWindow::serverOf(QTreeWidgetItem* item) const {
    const int level = treeLevel(item);
    if (level == 1)
        return item->data(0, Qt::UserRole).toInt();
    if (level == 2)
        return item->parent()->data(0, Qt::UserRole).toInt();
    return -1;
}

void ConfigWindow::editSelectedServer() {
    QTreeWidgetItem* item = m_serverTree->currentItem();
    const int server = serverOf(item);
    if (server >= 0) {
        m_editedServer = server;
        if (m_config.serverExists(server)) {
            const ServerRecord& record = m_config.servers[server];
            m_nameEdit->setText(m_config.serverNames.value(server));
            m_hostEdit->setText(record.host);
            // Older files hold the FTP default for SFTP servers too; it stands for 22 there.
            const bool sftp = parseServerType(record.type) == ServerType::Sftp;
            m_portEdit->setText(sftp && record.port == QLatin1String("21") ? QString()
                                                                           : record.port);
            m_userEdit->setText(record.user);
            m_passwordEdit->setText(record.password);
            m_defaultDirEdit->setText(record.defaultDir);
            m_rootDirEdit->setText(record.rootDir);
            m_urlMaskEdit->setText(record.urlMask);
            m_keyFileEdit->setText(record.keyFile);
            m_permissionsEdit->setText(record.chmod);
            // The list holds the types in the order of their numbers.
            const int type = record.type.toInt();
            m_typeBox->setCurrentIndex(type >= 0 && type < m_typeBox->count() ? type : 0);
            m_sshClientBox->setCurrentIndex(record.sshClient == SshClientPsftp ? 1 : 0);
            setServerButtonsEnabled(true);
        } else {
            clearServerFields();
            m_nameEdit->setText(m_config.serverNames.value(server));
            setServerButtonsEnabled(false);
        }
    } else {
        // The fields stay for a new server, but the name is the other server's.
        m_editedServer = -1;
        m_nameEdit->clear();
        setServerButtonsEnabled(false);
    }
    m_deleteServerButton->setEnabled(m_editedServer >= 0);
    markDefault(m_urlMaskEdit, DefaultURLMask);
    markDefaultPort();
    // What was wrong with the fields shown before is no news for these.
    showProblem(m_portProblemLabel, QString());
    showProblem(m_urlMaskProblemLabel, QString());
}

bool ConfigWindow::checkServerFields() {
    const bool portRight = isPortNumber(editValue(m_portEdit));
    const bool urlMaskRight = editValue(m_urlMaskEdit).contains(QLatin1String("$file"));
    showProblem(m_portProblemLabel,
                portRight ? QString() : tr("The port must be a number from 1 to 65535."));
    showProblem(m_urlMaskProblemLabel,
                urlMaskRight ? QString()
                             : tr("The URL mask must contain $file, where the file name goes."));
    if (!portRight)
        m_portEdit->setFocus();
    else if (!urlMaskRight)
        m_urlMaskEdit->setFocus();
    return portRight && urlMaskRight;
}

void ConfigWindow::checkSshProgram() {
    const bool psftp = m_sshClientBox->currentIndex() == 1;
    const bool found = psftp ? !findPsftp(m_config.programDir).isEmpty()
                             : !QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty();
    if (found)
        return;
    dialogs().showMessage(
        psftp ? tr("psftp (package putty-tools) not found. Please install it for SFTP support.")
              : tr("ssh (package openssh-client) not found. Please install it for SFTP support."),
        MessageKind::Plain, MessageButtons::Ok);
    if (psftp)
        m_sshClientBox->setCurrentIndex(0);
    else
        m_typeBox->setCurrentIndex(0);
}

QString ConfigWindow::defaultPort() const {
    return defaultPortOf(m_typeBox->currentIndex());
}

void ConfigWindow::markDefaultPort() {
    markDefault(m_portEdit, defaultPort());
    m_portType = m_typeBox->currentIndex();
}

ServerRecord ConfigWindow::typedServer() const {
    ServerRecord server;
    // What the fields do not show stays as saved.
    if (m_editedServer >= 0 && m_editedServer < m_config.servers.size())
        server = m_config.servers[m_editedServer];
    server.host = m_hostEdit->text();
    server.port = editValue(m_portEdit);
    server.user = m_userEdit->text();
    server.password = m_passwordEdit->text();
    server.rootDir = m_rootDirEdit->text();
    server.defaultDir = m_defaultDirEdit->text();
    server.urlMask = editValue(m_urlMaskEdit);
    server.type = QString::number(m_typeBox->currentIndex());
    server.keyFile = m_keyFileEdit->text();
    server.chmod = m_permissionsEdit->text();
    const bool psftp =
        m_typeBox->currentIndex() == int(ServerType::Sftp) && m_sshClientBox->currentIndex() == 1;
    server.sshClient = psftp ? SshClientPsftp : QString();
    // A trusted certificate belongs to the host that showed it.
    if (m_editedServer >= 0 && m_editedServer < m_config.servers.size() &&
        m_config.servers[m_editedServer].host != server.host)
        server.trustedCert.clear();
    return server;
}

void ConfigWindow::showUrlPreview() {
    ServerRecord server = typedServer();
    const QString url = buildUrl(server, PreviewDir, PreviewFile);
    m_urlPreviewLabel->setText(
        tr("A file %1 in %2 will be at: %3").arg(PreviewFile, PreviewDir, url));
    QString problem;
    if (doublesASlash(url)) {
        problem = tr("The address has \"//\" after the host, which web servers may not find.");
        server.urlMask = withoutSlashesBeforeVariables(server.urlMask);
        if (!doublesASlash(buildUrl(server, PreviewDir, PreviewFile)))
            problem += QLatin1Char(' ') +
                       tr("$dir and $file bring their own slash: write $dir$file, as in %1")
                           .arg(server.urlMask);
    }
    showProblem(m_doubleSlashLabel, problem);
}

void ConfigWindow::showTypeFields(int type) {
    const bool sftp = type == int(ServerType::Sftp);
    m_sshClientBox->setEnabled(sftp);
    m_keyFileEdit->setEnabled(sftp);
    m_keyFileButton->setEnabled(sftp);
}

void ConfigWindow::clearServerFields() {
    for (QLineEdit* edit :
         {m_nameEdit, m_hostEdit, m_portEdit, m_userEdit, m_passwordEdit, m_defaultDirEdit,
          m_rootDirEdit, m_urlMaskEdit, m_keyFileEdit, m_permissionsEdit})
        edit->clear();
    m_typeBox->setCurrentIndex(0);
    m_sshClientBox->setCurrentIndex(0);
}

void ConfigWindow::chooseKeyFile() {
    const QStringList chosen = dialogs().chooseFiles(tr("Select the private key file"));
    if (!chosen.isEmpty())
        m_keyFileEdit->setText(chosen.first());
}

// The save button always works: without a chosen server it adds one.
void ConfigWindow::setServerButtonsEnabled(bool on) {
    m_newFolderButton->setEnabled(on);
    setTextColour(m_newFolderButton, QPalette::ButtonText,
                  on ? QPalette::Active : QPalette::Disabled);
}

void ConfigWindow::chooseNoServer() {
    m_serverTree->setCurrentItem(nullptr);
    clearServerFields();
    editSelectedServer();
}

void ConfigWindow::reloadServers() {
    fillServerTree();
    chooseNoServer();
    showWarning();
}

void ConfigWindow::startNewServer() {
    choosePage(ServerManagement);
    chooseNoServer();
    addServer();
}

void ConfigWindow::showServer(qint32 server) {
    choosePage(ServerManagement);
    for (int child = 0; child < m_root->childCount(); ++child) {
        QTreeWidgetItem* node = m_root->child(child);
        if (node->data(0, Qt::UserRole).toInt() != server)
            continue;
        m_serverTree->setFocus();
        m_serverTree->setCurrentItem(node);
        editSelectedServer();
        return;
    }
}

void ConfigWindow::addServer() {
    try {
        const qint32 index = m_config.storeServer({}, {}, {}, {}, {}, {}, {}, {}, -1, -1);
        QTreeWidgetItem* node = addNode(m_root, tr("New Server"), ServerImage, index);
        showSelectors();
        m_root->setExpanded(true);
        m_serverTree->setFocus();
        m_serverTree->setCurrentItem(node);
        // The fields now describe the new server, so Save fills it instead of adding another.
        // What was typed with no server chosen is kept for it; another server's values are not.
        if (m_editedServer < 0) {
            m_editedServer = index;
            m_nameEdit->setText(m_config.serverNames.value(index));
            m_deleteServerButton->setEnabled(true);
        } else {
            editSelectedServer();
        }
        m_serverTree->editItem(node);
    } catch (const Error& error) {
        reportError(error.message());
    }
}

void ConfigWindow::addFolder() {
    QTreeWidgetItem* item = m_serverTree->currentItem();
    const int server = serverOf(item);
    if (server < 0)
        return;
    if (!m_config.serverExists(server)) {
        dialogs().showMessage(tr("Please save the server before adding folders."),
                              MessageKind::Information, MessageButtons::Ok);
        return;
    }
    QTreeWidgetItem* serverNode = treeLevel(item) == 2 ? item->parent() : item;
    m_config.setFolder(-1, server, QString());
    const int folder = static_cast<int>(m_config.folders(server).size() - 1);
    QTreeWidgetItem* node = addNode(serverNode, QString(), FolderImage, folder);
    showSelectors();
    serverNode->setExpanded(true);
    m_serverTree->setFocus();
    m_serverTree->setCurrentItem(node);
    m_serverTree->editItem(node);
}

void ConfigWindow::saveServer() {
    if (m_hostEdit->text().isEmpty()) {
        reportError(tr("Please enter a hostname."));
        m_hostEdit->setFocus();
        return;
    }
    if (!isPermissionsText(m_permissionsEdit->text())) {
        reportError(tr("Please enter the permissions as three or four octal digits, for example "
                       "644, or leave them empty."));
        m_permissionsEdit->setFocus();
        return;
    }
    if (!checkServerFields())
        return;
    if (!confirmStoringPassword(m_config, m_passwordEdit->text()))
        m_passwordEdit->clear();
    // A server no longer in the list is no place to store into.
    if (m_editedServer >= m_config.servers.size())
        m_editedServer = -1;
    const ServerRecord typed = typedServer();
    try {
        const qint32 index =
            m_config.storeServer(typed.host, typed.port, typed.user, typed.password, typed.rootDir,
                                 typed.defaultDir, typed.urlMask, typed.type, m_editedServer, -1);
        m_config.servers[index].keyFile = typed.keyFile;
        m_config.servers[index].chmod = typed.chmod;
        m_config.servers[index].trustedCert = typed.trustedCert;
        m_config.servers[index].sshClient = typed.sshClient;
        if (m_editedServer == -1) {
            // Added with no name typed, it keeps the name new servers get.
            if (!m_nameEdit->text().isEmpty())
                m_config.serverNames[index] = m_nameEdit->text();
            addNode(m_root, m_config.serverNames.value(index), ServerImage, index);
            m_root->setExpanded(true);
            showSelectors();
        } else {
            m_config.serverNames[index] = m_nameEdit->text();
            if (QTreeWidgetItem* node = serverNode(index)) {
                // The name is stored here, not as an edit of the node.
                const QSignalBlocker quiet(m_serverTree);
                node->setText(0, m_nameEdit->text());
            }
            // A new server, saved, can take folders now.
            setServerButtonsEnabled(true);
        }
    } catch (const Error& error) {
        reportError(error.message());
    }
    m_host.refreshServerDisplay();
    saveConfig();
}

void ConfigWindow::storeEditedName(QTreeWidgetItem* item) {
    const int level = treeLevel(item);
    const int server = serverOf(item);
    const int folder = item->data(0, Qt::UserRole).toInt();
    // A node the lists no longer hold renames nothing.
    if (level == 1 && server >= 0 && server < m_config.serverNames.size()) {
        m_config.serverNames[server] = item->text(0);
        if (server == m_editedServer)
            m_nameEdit->setText(item->text(0));
    } else if (level == 2 && folder >= 0 && folder < m_config.folders(server).size())
        m_config.setFolder(folder, server, item->text(0));
    else
        return;
    m_host.refreshServerDisplay();
    saveConfig();
}

void ConfigWindow::renameSelectedNode() {
    QTreeWidgetItem* item = m_serverTree->currentItem();
    if (item && item != m_root)
        m_serverTree->editItem(item);
}

QTreeWidgetItem* ConfigWindow::serverNode(int server) const {
    for (int i = 0; i < m_root->childCount(); ++i)
        if (m_root->child(i)->data(0, Qt::UserRole).toInt() == server)
            return m_root->child(i);
    return nullptr;
}

void ConfigWindow::deleteEditedServer() {
    if (QTreeWidgetItem* node = serverNode(m_editedServer))
        deleteServerNode(node);
}

void ConfigWindow::deleteServerNode(QTreeWidgetItem* node) {
    if (!dialogs().confirmAction(QStringLiteral("Delete server \"") + node->text(0) +
                                     QStringLiteral("\"?"),
                                 tr("Delete Server")))
        return;
    try {
        m_config.deleteServer(serverOf(node));
    } catch (const Error& error) {
        reportError(error.message());
        return;
    }
    delete node;
    showSelectors();
    // Nothing is chosen any more, so that Save cannot bring the server back.
    chooseNoServer();
    m_host.refreshServerDisplay();
    saveConfig();
}

void ConfigWindow::deleteSelectedNode() {
    QTreeWidgetItem* item = m_serverTree->currentItem();
    const int level = treeLevel(item);
    if (level == 1) {
        deleteServerNode(item);
    } else if (level == 2) {
        m_config.deleteFolder(item->data(0, Qt::UserRole).toInt(), serverOf(item));
        delete item;
        showSelectors();
        m_host.refreshServerDisplay();
        saveConfig();
    }
}

void ConfigWindow::showTreeMenu(const QPoint& position) {
    QTreeWidgetItem* item = m_serverTree->itemAt(position);
    if (!item)
        return;
    m_serverTree->setCurrentItem(item);
    if (item == m_root)
        return;
    editSelectedServer();
    m_treeMenu->popup(m_serverTree->viewport()->mapToGlobal(position));
}

void ConfigWindow::applyServerType(int index) {
    if (index == int(ServerType::Sftp))
        checkSshProgram();
    // A port left at the old type's default follows the type; one chosen for the server stays.
    if (m_typeBox->currentIndex() != m_portType && m_portEdit->text() == defaultPortOf(m_portType))
        m_portEdit->clear();
    markDefaultPort();
}

void ConfigWindow::markDefault(QLineEdit* edit, const QString& value) {
    if (edit->text() != value && !edit->text().isEmpty() && edit->text() != DefaultText)
        return;
    m_defaultValues.insert(edit, value);
    edit->clear();
}

void ConfigWindow::revealDefault(QLineEdit* edit) {
    if ((edit->text() != DefaultText && !edit->text().isEmpty()) || !m_defaultValues.contains(edit))
        return;
    edit->setText(m_defaultValues.value(edit));
}

QString ConfigWindow::editValue(QLineEdit* edit) const {
    if ((edit->text() == DefaultText || edit->text().isEmpty()) && m_defaultValues.contains(edit))
        return m_defaultValues.value(edit);
    return edit->text();
}

void ConfigWindow::showWarning() {
    m_warningLabel->setVisible(m_config.credentialsLocked);
}

bool ConfigWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_serverTree->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        editSelectedServer();
    } else if (watched == m_serverTree->viewport() && event->type() == QEvent::MouseButtonPress &&
               static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        showTreeMenu(static_cast<QMouseEvent*>(event)->position().toPoint());
        return true;
    } else if (watched == m_serverTree && event->type() == QEvent::KeyPress) {
        // While a node is edited, keys go to its editor, not here.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_F2) {
            renameSelectedNode();
            return true;
        }
        if (key == Qt::Key_Delete) {
            deleteSelectedNode();
            return true;
        }
    } else if ((watched == m_urlMaskEdit || watched == m_portEdit) &&
               event->type() == QEvent::MouseButtonPress) {
        revealDefault(static_cast<QLineEdit*>(watched));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quaddle
