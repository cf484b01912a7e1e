#pragma once

#include <QHash>
#include <QWidget>
#include <functional>

class QBoxLayout;
class QCheckBox;
class QFormLayout;
class QGridLayout;
class QKeyEvent;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

namespace quaddle {

class Config;
struct ServerRecord;

// What the configuration window needs from the main window.
struct ConfigWindowHost {
    std::function<void()> refreshServerDisplay;
    std::function<void()> showMain;
    // Writes the configuration to its file; none: the file is left to the caller.
    std::function<void()> saveConfig;
};

// "Configuration": the general options, generated from the settings, and the server manager
// with its tree of servers and folders; "Close" and Esc close it. Every change goes straight into
// the configuration in memory, and is written to the file when an option changes, a server is
// saved, renamed or deleted, and when the window closes, so that other programs (the command
// line, the file manager's entry) see it at once.
// Deletes itself when closed.
class ConfigWindow : public QWidget {
    Q_OBJECT

public:
    enum Page { GeneralOptions = 0, ServerManagement = 1 };

    ConfigWindow(Config& config, ConfigWindowHost host, QWidget* parent = nullptr);

    // Shows the given page, as choosing it in the page selector does.
    void choosePage(Page page);

    // Shows the server manager with a new server, ready to be filled in.
    void startNewServer();
    // Shows the server manager with the given server's fields, ready to be corrected.
    void showServer(qint32 server);

    // Shows the servers afresh after the configuration was read again, with none chosen: the
    // old nodes and the chosen server may stand for other servers now.
    void reloadServers();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window and the options page.
    void createOptionsPage();
    // A group box of the options page, with a grid of two columns to fill.
    QGridLayout* group(QBoxLayout* page, const QString& title);
    // A setting's control under its caption, in a panel of the given name.
    QWidget* labelled(const char* name, const QString& label, const QString& setting);
    QWidget* checkBox(const QString& setting, const QString& caption);
    void showMasterPasswordState();
    // content in a scroll area of the given name, which scrolls up and down only: on a small
    // screen the page scrolls rather than squeezing its controls.
    QScrollArea* scrollable(QWidget* content, const char* name);
    void showPage(int index);
    void toggleContextEntry();

    // The server manager.
    void createServerPage();
    // A group of server fields, with their captions beside them.
    QFormLayout* fieldGroup(const QString& title);
    QLineEdit* field(QFormLayout* form, const char* name, const QString& label);
    void fillServerTree();
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& text, int image, int data);
    // Shows beside each node the selector that picks it on the command line.
    void showSelectors();
    void showSelector(QTreeWidgetItem* node, const QString& selector);
    void editSelectedServer();
    void storeEditedName(QTreeWidgetItem* item);
    void showTreeMenu(const QPoint& position);
    void setServerButtonsEnabled(bool on);
    void clearServerFields();
    void chooseNoServer();
    void addServer();
    void addFolder();
    void saveServer();
    // Says beside the port and the URL mask what is wrong with them; true when nothing is.
    bool checkServerFields();
    void chooseKeyFile();
    // The "Test" button, which tests the server as its fields stand (ConfigWindowServerTest.cpp).
    QPushButton* makeTestServerButton(QWidget* parent);
    void testTypedServer();
    void renameSelectedNode();
    void deleteSelectedNode();
    void deleteServerNode(QTreeWidgetItem* node);
    void deleteEditedServer();
    QTreeWidgetItem* serverNode(int server) const;
    // The server as the fields describe it now, saved or not, with the edited server's trusted
    // certificate while the host is the same: what Save stores and Test tests.
    ServerRecord typedServer() const;
    // Where a file would go with the typed fields, and whether the address pattern doubles a
    // slash.
    void showUrlPreview();
    // Fields the type does not use are disabled.
    void showTypeFields(int type);
    void applyServerType(int index);
    // Marks the port's default for the type shown, and remembers that type.
    void markDefaultPort();
    // Warns when the chosen SSH program is not installed and falls back to what works.
    void checkSshProgram();
    void markDefault(QLineEdit* edit, const QString& value);
    // The port "Default" stands for with the type shown: 22 for SFTP, else 21.
    QString defaultPort() const;
    void revealDefault(QLineEdit* edit);
    QString editValue(QLineEdit* edit) const;
    // The warning about locked credentials shows while they are locked.
    void showWarning();
    int serverOf(QTreeWidgetItem* item) const;
    void reportError(const QString& message);
    void saveConfig();

    Config& m_config;
    ConfigWindowHost m_host;
    QComboBox* m_pageBox = nullptr;
    QWidget* m_optionsPage = nullptr;
    QWidget* m_serverPage = nullptr;
    QWidget* m_currentPage = nullptr;
    QCheckBox* m_contextEntryBox = nullptr;
    QPushButton* m_masterPasswordButton = nullptr;

    QTreeWidget* m_serverTree = nullptr;
    QTreeWidgetItem* m_root = nullptr;
    QLabel* m_warningLabel = nullptr;
    QPushButton* m_newServerButton = nullptr;
    QPushButton* m_newFolderButton = nullptr;
    QWidget* m_fieldPanel = nullptr;
    QPushButton* m_saveServerButton = nullptr;
    QPushButton* m_deleteServerButton = nullptr;
    // The buttons acting on the server in the fields.
    QHBoxLayout* m_serverButtonRow = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QPushButton* m_testServerButton = nullptr;
    QLineEdit* m_hostEdit = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QLabel* m_portProblemLabel = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_defaultDirEdit = nullptr;
    QLineEdit* m_rootDirEdit = nullptr;
    QComboBox* m_typeBox = nullptr;
    QComboBox* m_sshClientBox = nullptr;
    QLineEdit* m_urlMaskEdit = nullptr;
    QLabel* m_urlMaskProblemLabel = nullptr;
    QLabel* m_urlPreviewLabel = nullptr;
    QLabel* m_doubleSlashLabel = nullptr;
    QLineEdit* m_keyFileEdit = nullptr;
    QLineEdit* m_permissionsEdit = nullptr;
    QPushButton* m_keyFileButton = nullptr;
    QMenu* m_treeMenu = nullptr;
    int m_editedServer = -1;
    // The type whose default port the port field was last given.
    int m_portType = 0;
    // Edits that stand for a default value while they read "Default" or are empty.
    QHash<QLineEdit*, QString> m_defaultValues;
};

} // namespace quaddle
