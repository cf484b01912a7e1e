#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "config/CommandLine.h"
#include "config/Config.h"
#include "configwindow/ConfigWindow.h"
#include "configwindow/SettingControls.h"
#include "platform/ContextRegistration.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

using namespace quaddle;
using quaddle::test::control;

namespace {

QStringList treeTexts(const QTreeWidgetItem* item, const QString& indent = QString()) {
    QStringList texts{indent + item->text(0)};
    for (int i = 0; i < item->childCount(); ++i)
        texts += treeTexts(item->child(i), indent + "  ");
    return texts;
}

QTreeWidgetItem* node(const QWidget& window, const QString& text) {
    const QList<QTreeWidgetItem*> found =
        control<QTreeWidget>(window, "serverTree")
            ->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// A mouse click on a node, which is what chooses a server for the fields.
void clickNode(const QWidget& window, QTreeWidgetItem* node) {
    auto* tree = control<QTreeWidget>(window, "serverTree");
    const QRect area = tree->visualItemRect(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, area.center());
}

// The in-place editor of the tree node being edited.
QLineEdit* nodeEditor(const QWidget& window) {
    for (QLineEdit* editor :
         control<QTreeWidget>(window, "serverTree")->viewport()->findChildren<QLineEdit*>())
        if (editor->isVisible())
            return editor;
    qFatal("no node is being edited");
}

QString text(const QWidget& window, const char* edit) {
    return control<QLineEdit>(window, edit)->text();
}

void typeInto(const QWidget& window, const char* edit, const QString& text) {
    auto* field = control<QLineEdit>(window, edit);
    field->clear();
    QTest::keyClicks(field, text);
}

// The servers config.xml holds, as a program that starts now reads them.
std::unique_ptr<Config> savedConfig() {
    auto saved = std::make_unique<Config>();
    saved->loadConfig(true);
    return saved;
}

// Does act to the next message box once it shows, as a user would; gives up after a while so
// that a box that never comes fails the test instead of hanging it.
void whenMessageBoxShows(const std::function<void(QMessageBox&)>& act, int triesLeft = 500) {
    QTimer::singleShot(10, qApp, [act, triesLeft] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            act(*box);
        else if (triesLeft > 0)
            whenMessageBoxShows(act, triesLeft - 1);
    });
}

QStringList buttonTexts(const QMessageBox& box) {
    QStringList texts;
    for (const QAbstractButton* button : box.buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

} // namespace

class TestConfigWindow : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void optionsShowTheDefaults();
    void defaultServerListKeepsPositions();
    void unusualStoredValues();
    void everyKeystrokeIsStored();
    void wholeNumbersOnly_data();
    void wholeNumbersOnly();
    void unknownSettingsGetRedFlags();
    void setMasterPasswordButton();
    void pagesCloseButtonAndEscape();
    void openingFromTheMainWindow();

    void treeListsServersAndFolders();
    void clickFillsFieldsButArrowsDoNot();
    void savingStoresDefaultsAndAddsFromRoot();
    void hostnameIsRequired();
    void wrongPortOrUrlMaskIsNotSaved_data();
    void wrongPortOrUrlMaskIsNotSaved();
    void passwordQuestions();
    void foldersAreAddedRenamedAndDeleted();
    void serversAreRenamedAndDeleted();
    void newServerIsTheOneSaved();
    void saveAfterDeleteNeedsAHostname();
    void reloadRebuildsTheTree();
    void lockedWarningAndProtectedCredentials();
    void sftpNeedsItsSshProgram();
    void addressPreviewFollowsTyping_data();
    void addressPreviewFollowsTyping();
    void previewShowsTheChosenServer();
    void typeSwitchDisablesFieldsAndMovesThePort_data();
    void typeSwitchDisablesFieldsAndMovesThePort();
    void nameAndTypeAtTheTopFollowTheTree();
    void deleteButtonNamesTheServerAndKeepsItByDefault();
    void serversShowTheirSelectors();

    void contextMenuSwitch();
    void screenshots();

private:
    // savingToFile: every save of the window writes config.xml, as the program's does.
    ConfigWindow& openWindow(bool savingToFile = false);
    void saveServers();

    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<Config> m_config;
    QPointer<ConfigWindow> m_form;
    int m_refreshes = 0;
    int m_mainShown = 0;
};

void TestConfigWindow::init() {
    startTest();
    m_data = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
    m_refreshes = 0;
    m_mainShown = 0;
}

void TestConfigWindow::cleanup() {
    delete m_form;
    m_config.reset();
    finishTest();
    qunsetenv("XDG_DATA_HOME");
    m_data.reset();
}

ConfigWindow& TestConfigWindow::openWindow(bool savingToFile) {
    if (!m_config)
        m_config = std::make_unique<Config>();
    ConfigWindowHost host;
    host.refreshServerDisplay = [this] { ++m_refreshes; };
    host.showMain = [this] { ++m_mainShown; };
    if (savingToFile)
        host.saveConfig = [this] { m_config->saveConfig(); };
    m_form = new ConfigWindow(*m_config, host);
    m_form->show();
    return *m_form;
}

// Servers "Beta" (with folders /b1 and /b2) and "Alpha", and a deleted one between them.
void TestConfigWindow::saveServers() {
    m_config = std::make_unique<Config>();
    m_config->storeServer("beta.example.org", "2121", "bob", "", "/web", "/pics",
                          "https://$host$file", "0", -1, -1);
    m_config->servers[0].keyFile = "/keys/old.key";
    m_config->storeServer("gone.example.org", "", "", "", "", "", "", "", -1, -1);
    m_config->storeServer("alpha.example.org", "", "", "", "", "", "", "", -1, -1);
    m_config->serverNames = QStringList{"Beta", "Gone", "Alpha"};
    m_config->setFolder(-1, 0, "/b2");
    m_config->setFolder(-1, 0, "/b1");
    m_config->deleteServer(1);
}

void TestConfigWindow::optionsShowTheDefaults() {
    m_config = std::make_unique<Config>();
    m_config->storeServer("h", "", "", "", "", "", "", "", -1, -1);
    const ConfigWindow& window = openWindow();
    QCOMPARE(window.windowTitle(), QStringLiteral("Configuration"));
    QCOMPARE(control<QComboBox>(window, "settingDefaultServer")->currentText(),
             QStringLiteral("New Server"));
    QCOMPARE(control<QComboBox>(window, "settingOverwrite")->currentText(), QStringLiteral("Ask"));
    QCOMPARE(control<QComboBox>(window, "settingOverwrite")->count(), 4);
    QVERIFY(control<QCheckBox>(window, "settingPassive")->isChecked());
    QCOMPARE(control<QCheckBox>(window, "settingPassive")->text(),
             QStringLiteral("Use passive mode with FTP servers"));
    QCOMPARE(control<QLineEdit>(window, "settingThumbWidth")->text(), QStringLiteral("300"));
    QCOMPARE(control<QLineEdit>(window, "settingThumbHeight")->text(), QStringLiteral("200"));
    QCOMPARE(control<QLineEdit>(window, "settingConnections")->text(), QStringLiteral("3"));
    QVERIFY(control<QCheckBox>(window, "settingThumbInfo")->isChecked());
    QVERIFY(control<QCheckBox>(window, "settingThumbRahmen")->isChecked());
    QVERIFY(!control<QCheckBox>(window, "settingLog")->isChecked());
    QVERIFY(!control<QCheckBox>(window, "settingAutoclose")->isChecked());
    QCOMPARE(control<QCheckBox>(window, "settingAutoCopy")->text(),
             QStringLiteral("Copy the URLs to the clipboard after each upload"));
    QCOMPARE(control<QCheckBox>(window, "settingTempNames")->text(),
             QStringLiteral("Upload under a temporary name, then rename"));
    QVERIFY(control<QCheckBox>(window, "settingHistory")->isChecked());
    QCOMPARE(control<QCheckBox>(window, "settingHistory")->text(),
             QStringLiteral("Keep a history of uploads"));
    QVERIFY(!control<QCheckBox>(window, "contextEntryBox")->isChecked());
    QVERIFY(control<QLabel>(window, "masterPasswordLabel")
                ->text()
                .endsWith("you will be asked for this every time you start Quaddle."));

    for (const QString& name : QStringList{"Log", "AutoCopy", "TempNames"}) {
        auto* box = control<QCheckBox>(window, qPrintable("setting" + name));
        QVERIFY(!box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(m_config->setting(name), QStringLiteral("True"));
    }
    auto* policy = control<QComboBox>(window, "settingOverwrite");
    policy->setCurrentIndex(3);
    emit policy->activated(3);
    QCOMPARE(m_config->setting("Overwrite"), QStringLiteral("128"));
    QCOMPARE(m_config->settingType("Overwrite"), SettingType::Integer);
}

void TestConfigWindow::defaultServerListKeepsPositions() {
    saveServers();
    m_config->serverNames[2] = "a=b";
    m_config->setSetting("DefaultServer", SettingValue::integer(2));
    const ConfigWindow& window = openWindow();
    auto* list = control<QComboBox>(window, "settingDefaultServer");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->itemText(1), QString());
    QCOMPARE(list->currentText(), QStringLiteral("a=b"));
    list->setCurrentIndex(0);
    emit list->activated(0);
    QCOMPARE(m_config->setting("DefaultServer"), QStringLiteral("0"));
}

void TestConfigWindow::unusualStoredValues() {
    m_config = std::make_unique<Config>();
    m_config->setSetting("Overwrite", SettingValue::integer(7));
    m_config->setSetting("Passive", SettingValue::text("TRUE"));
    m_config->setSetting("ThumbInfo", SettingValue::boolean(false));
    const ConfigWindow& window = openWindow();
    QCOMPARE(control<QComboBox>(window, "settingOverwrite")->currentIndex(), -1);
    // Stored as text, "TRUE" gets an edit, not a check box.
    QCOMPARE(control<QLineEdit>(window, "settingPassive")->text(), QStringLiteral("TRUE"));
    QVERIFY(!control<QCheckBox>(window, "settingThumbInfo")->isChecked());
    // No servers: an empty list.
    QCOMPARE(control<QComboBox>(window, "settingDefaultServer")->count(), 0);

    Config booleans;
    booleans.setSetting("A", SettingValue::boolean(true));
    booleans.setSetting("A", SettingValue::null());
    booleans.setSetting("B", SettingValue::boolean(true));
    QWidget parent;
    booleans.setSetting("B", SettingValue::boolean(false));
    auto* unchecked = qobject_cast<QCheckBox*>(createSettingControl(booleans, "B", &parent, "b"));
    QVERIFY(unchecked && !unchecked->isChecked());
}

void TestConfigWindow::everyKeystrokeIsStored() {
    const ConfigWindow& window = openWindow();
    auto* width = control<QLineEdit>(window, "settingThumbWidth");
    width->selectAll();
    QTest::keyClick(width, Qt::Key_Backspace);
    // An empty field or a width still too small keeps the stored value.
    QCOMPARE(m_config->setting("ThumbWidth"), QStringLiteral("300"));
    QStringList stored;
    for (const QString& key : QStringList{"2", "5", "0"}) {
        QTest::keyClicks(width, key);
        stored.append(m_config->setting("ThumbWidth"));
    }
    QCOMPARE(stored, (QStringList{"300", "25", "250"}));
    QCOMPARE(m_config->settingType("ThumbWidth"), SettingType::Integer);
    QTest::keyClicks(control<QLineEdit>(window, "settingThumbHeight"), "0");
    QCOMPARE(m_config->setting("ThumbHeight"), QStringLiteral("2000"));
    QCOMPARE(m_config->setting("ThumbWidth"), QStringLiteral("250"));
}

void TestConfigWindow::wholeNumbersOnly_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<SettingType>("type");

    const auto row = [](const char* tag, const char* setting, const char* typed, const char* stored,
                        SettingType type = SettingType::Integer) {
        QTest::newRow(tag) << QString::fromUtf8(setting) << QString::fromUtf8(typed)
                           << QString::fromUtf8(stored) << type;
    };
    row("width", "ThumbWidth", "640", "640");
    row("letters", "ThumbWidth", "abc", "300");
    row("letters among digits", "ThumbHeight", "1x2y8", "128");
    row("below 16", "ThumbWidth", "8", "300");
    row("above 4096", "ThumbHeight", "5000", "500");
    row("no sign", "ThumbWidth", "-20", "20");
    row("no separators", "ThumbWidth", "1,024", "1024");
    row("no fraction", "ThumbWidth", "99.5", "995");
    row("connections", "Connections", "8", "8");
    row("connections above 10", "Connections", "12", "1");
    row("no connections", "Connections", "0", "3");
    row("any integer", "Count", "-12345", "-12345");
    row("byte", "Small", "300", "30", SettingType::Byte);
    row("double", "Ratio", "2.5", "25", SettingType::Double);
}

// Whatever is typed, the stored value is a number of the setting's type, and the field
// shows the stored value once editing ends.
void TestConfigWindow::wholeNumbersOnly() {
    QFETCH(QString, setting);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(SettingType, type);
    Config config;
    config.setSetting("Count", SettingValue::integer(1));
    config.setSetting("Small", SettingValue::byte(3));
    config.setSetting("Ratio", SettingValue::fromDouble(1.5));
    QWidget parent;
    auto* edit = qobject_cast<QLineEdit*>(createSettingControl(config, setting, &parent, ""));
    QVERIFY(edit);
    parent.show();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(config.setting(setting), stored);
    QCOMPARE(config.settingType(setting), type);
    QCOMPARE(edit->text(), stored);
}

void TestConfigWindow::unknownSettingsGetRedFlags() {
    Config config;
    config.setSetting("Small", SettingValue::byte(3));
    QWidget parent;
    auto* unknown = qobject_cast<QLabel*>(createSettingControl(config, "Nope", &parent, "x"));
    QVERIFY(unknown);
    QCOMPARE(unknown->text(), QStringLiteral("!! Unknown: Nope"));
    QCOMPARE(unknown->objectName(), QStringLiteral("settingNope"));
    auto* small = qobject_cast<QLineEdit*>(createSettingControl(config, "Small", &parent, "x"));
    QVERIFY(small);
    QCOMPARE(small->text(), QStringLiteral("3"));
    // A name from config.xml shows as written, not as markup.
    auto* markup = qobject_cast<QLabel*>(createSettingControl(config, "<b>x</b>", &parent, "x"));
    QVERIFY(markup);
    QCOMPARE(markup->textFormat(), Qt::PlainText);
    const ConfigWindow& window = openWindow();
    for (const QLabel* label : window.findChildren<QLabel*>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->text()));
}

void TestConfigWindow::setMasterPasswordButton() {
    const ConfigWindow& window = openWindow();
    auto* button = control<QPushButton>(window, "setMasterPasswordButton");
    QCOMPARE(button->text(), QStringLiteral("Set Master Password"));
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Ok, "n3w");
    m_dialogs->expectMessageMatching("The master password is set\\..*");
    button->click();
    QVERIFY(m_config->masterPasswordActive);
    QCOMPARE(m_config->setting("PH"), m_config->hashPassword("n3w"));
    QCOMPARE(button->text(), QStringLiteral("Change Master Password"));
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Cancel);
    m_dialogs->expectMessageMatching("The master password is removed\\..*");
    button->click();
    QCOMPARE(button->text(), QStringLiteral("Set Master Password"));
}

void TestConfigWindow::pagesCloseButtonAndEscape() {
    m_config = std::make_unique<Config>();
    m_config->storeServer("h", "", "", "", "", "", "", "", -1, -1);
    ConfigWindowHost host;
    host.refreshServerDisplay = [] {};
    host.showMain = [this] { ++m_mainShown; };
    m_form = new ConfigWindow(*m_config, host);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QVERIFY(m_form->width() >= 500 && m_form->height() >= 458);
    QVERIFY(control<QWidget>(*m_form, "optionsPage")->isVisible());
    QVERIFY(!control<QWidget>(*m_form, "serverPage")->isVisible());

    m_form->choosePage(ConfigWindow::ServerManagement);
    QVERIFY(control<QWidget>(*m_form, "serverPage")->isVisible());
    QVERIFY(!control<QWidget>(*m_form, "optionsPage")->isVisible());
    // The tree takes the room a larger window gives; the fields keep theirs.
    auto* tree = control<QTreeWidget>(*m_form, "serverTree");
    const QWidget* fields = control<QWidget>(*m_form, "fieldPanel");
    const QSize treeBefore = tree->size();
    const int fieldsWidth = fields->width();
    m_form->resize(m_form->size() + QSize(300, 100));
    QTRY_COMPARE(tree->size(), treeBefore + QSize(300, 100));
    QCOMPARE(fields->width(), fieldsWidth);

    // Esc in the editor of a node ends the editing only.
    tree->setFocus();
    tree->editItem(node(*m_form, "New Server"));
    QTest::keyClick(nodeEditor(*m_form), Qt::Key_Escape);
    QVERIFY(m_form && m_form->isVisible());
    QTRY_VERIFY(tree->viewport()->findChildren<QLineEdit*>().isEmpty() ||
                !tree->viewport()->findChild<QLineEdit*>()->isVisible());
    QTest::keyClick(tree, Qt::Key_Escape);
    QTRY_VERIFY(!m_form);
    QCOMPARE(m_mainShown, 1);

    ConfigWindow& window = openWindow();
    QTest::keyClick(control<QLineEdit>(window, "settingThumbWidth"), Qt::Key_Escape);
    QTRY_VERIFY(!m_form);
    QCOMPARE(m_mainShown, 2);

    openWindow();
    auto* close = control<QPushButton>(*m_form, "closeButton");
    QCOMPARE(close->text(), QStringLiteral("Close"));
    close->click();
    QTRY_VERIFY(!m_form);
    QCOMPARE(m_mainShown, 3);
}

void TestConfigWindow::openingFromTheMainWindow() {
    MainWindow main({});
    main.show();
    main.openServerManager();
    auto* window = main.findChild<ConfigWindow*>();
    QVERIFY(window);
    QVERIFY(control<QWidget>(*window, "serverPage")->isVisible());
    // Options while open on Server Management stays there.
    main.openOptions();
    QCOMPARE(main.findChildren<ConfigWindow*>().size(), 1);
    QVERIFY(control<QWidget>(*window, "serverPage")->isVisible());
    // Manage Servers while open on General Options switches.
    window->choosePage(ConfigWindow::GeneralOptions);
    main.openServerManager();
    QVERIFY(control<QWidget>(*window, "serverPage")->isVisible());
    // Closed, it is discarded; the next opening starts on General Options.
    window->close();
    QTRY_VERIFY(main.findChildren<ConfigWindow*>().isEmpty());
    main.openOptions();
    QVERIFY(control<QWidget>(*main.findChild<ConfigWindow*>(), "optionsPage")->isVisible());
}

void TestConfigWindow::treeListsServersAndFolders() {
    saveServers();
    const ConfigWindow& window = openWindow();
    QCOMPARE(treeTexts(control<QTreeWidget>(window, "serverTree")->topLevelItem(0)),
             (QStringList{"Quaddle Servers", "  Alpha", "  Beta", "    /b1", "    /b2"}));
    QCOMPARE(node(window, "Alpha")->data(0, Qt::UserRole).toInt(), 2);
    QCOMPARE(node(window, "/b1")->data(0, Qt::UserRole).toInt(), 1);
}

void TestConfigWindow::clickFillsFieldsButArrowsDoNot() {
    saveServers();
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    clickNode(window, node(window, "/b1"));
    QCOMPARE(text(window, "hostEdit"), QStringLiteral("beta.example.org"));
    QCOMPARE(text(window, "portEdit"), QStringLiteral("2121"));
    QCOMPARE(text(window, "userEdit"), QStringLiteral("bob"));
    QCOMPARE(text(window, "rootDirEdit"), QStringLiteral("/web"));
    QCOMPARE(text(window, "defaultDirEdit"), QStringLiteral("/pics"));
    QCOMPARE(text(window, "urlMaskEdit"), QStringLiteral("https://$host$file"));
    QCOMPARE(text(window, "keyFileEdit"), QStringLiteral("/keys/old.key"));
    QCOMPARE(control<QPushButton>(window, "saveServerButton")->text(), QStringLiteral("Save"));
    QVERIFY(control<QPushButton>(window, "newFolderButton")->isEnabled());

    auto* tree = control<QTreeWidget>(window, "serverTree");
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Up);
    QTest::keyClick(tree, Qt::Key_Up);
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Alpha"));
    QCOMPARE(text(window, "hostEdit"), QStringLiteral("beta.example.org"));

    clickNode(window, node(window, "Alpha"));
    QCOMPARE(text(window, "hostEdit"), QStringLiteral("alpha.example.org"));
    QCOMPARE(text(window, "keyFileEdit"), QString());
    // A default is no value: the field is empty and says so in its placeholder.
    for (const char* withDefault : {"portEdit", "urlMaskEdit"}) {
        QCOMPARE(text(window, withDefault), QString());
        QCOMPARE(control<QLineEdit>(window, withDefault)->placeholderText(),
                 QStringLiteral("Default"));
    }
    QTest::mouseClick(control<QLineEdit>(window, "urlMaskEdit"), Qt::LeftButton);
    QCOMPARE(text(window, "urlMaskEdit"), QStringLiteral("http://$host$dir$file"));
}

void TestConfigWindow::savingStoresDefaultsAndAddsFromRoot() {
    saveServers();
    const QString trusted(64, QLatin1Char('A'));
    m_config->servers[0].trustedCert = trusted;
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    clickNode(window, node(window, "Beta"));
    auto* type = control<QComboBox>(window, "typeBox");
    QCOMPARE(type->itemText(2), QStringLiteral("FTPS (explicit TLS)"));
    // A key file chosen for SFTP stays in its field, unused, when the type changes.
    type->setCurrentIndex(1);
    emit type->activated(1);
    m_dialogs->expectFileChoice("Select the private key file", {"/keys/beta.ppk"});
    control<QPushButton>(window, "keyFileButton")->click();
    QCOMPARE(text(window, "keyFileEdit"), QStringLiteral("/keys/beta.ppk"));
    type->setCurrentIndex(2);
    emit type->activated(2);
    // Emptied, the fields stand for their defaults, which are stored as values.
    typeInto(window, "urlMaskEdit", "");
    typeInto(window, "portEdit", "");
    typeInto(window, "rootDirEdit", " /spaced ");
    // Permissions are octal digits or nothing; anything else is refused before saving.
    for (const QString& wrong : QStringList{"648", "64", "0o644", "u+r"}) {
        typeInto(window, "permissionsEdit", wrong);
        m_dialogs->expectMessage("Please enter the permissions as three or four octal digits, "
                                 "for example 644, or leave them empty.");
        control<QPushButton>(window, "saveServerButton")->click();
        QCOMPARE(m_config->servers[0].keyFile, QStringLiteral("/keys/old.key"));
    }
    typeInto(window, "permissionsEdit", "0604");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers[0].chmod, QStringLiteral("0604"));
    QCOMPARE(m_config->servers[0].keyFile, QStringLiteral("/keys/beta.ppk"));
    QCOMPARE(m_config->servers[0].type, QStringLiteral("2"));
    QCOMPARE(m_config->servers[0].trustedCert, trusted);
    QCOMPARE(m_config->servers[0].urlMask, QStringLiteral("http://$host$dir$file"));
    QCOMPARE(m_config->servers[0].port, QStringLiteral("21"));
    QCOMPARE(m_config->servers[0].rootDir, QStringLiteral(" /spaced "));
    QCOMPARE(m_config->servers[0].credentialIndex, -1);
    QCOMPARE(m_config->serverNames[0], QStringLiteral("Beta"));
    QCOMPARE(m_config->folders(0).size(), 2);
    QCOMPARE(m_refreshes, 1);

    // The root chosen, Save adds a second server with these values.
    clickNode(window, node(window, "Quaddle Servers"));
    typeInto(window, "portEdit", "");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 4);
    QCOMPARE(m_config->servers[3].host, QStringLiteral("beta.example.org"));
    QCOMPARE(m_config->servers[3].port, QStringLiteral("21"));
    QCOMPARE(m_config->servers[3].keyFile, QStringLiteral("/keys/beta.ppk"));
    // A new server has shown no certificate yet.
    QCOMPARE(m_config->servers[3].type, QStringLiteral("2"));
    QCOMPARE(m_config->servers[3].trustedCert, QString());
    QCOMPARE(m_config->serverNames[3], QStringLiteral("New Server"));
    QVERIFY(node(window, "New Server"));
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 5);
}

void TestConfigWindow::hostnameIsRequired() {
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    // With nothing chosen the button adds a server, and is drawn as working.
    auto* save = control<QPushButton>(window, "saveServerButton");
    QCOMPARE(save->palette().color(QPalette::ButtonText),
             QApplication::palette().color(QPalette::Active, QPalette::ButtonText));
    QCOMPARE(control<QPushButton>(window, "newFolderButton")->palette().color(QPalette::ButtonText),
             QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText));
    m_dialogs->expectMessage("Please enter a hostname.");
    save->click();
    QVERIFY(m_config->servers.isEmpty());
    QCOMPARE(window.focusWidget(), control<QLineEdit>(window, "hostEdit"));
}

void TestConfigWindow::wrongPortOrUrlMaskIsNotSaved_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("urlMask");
    QTest::addColumn<QString>("wrongField"); // none: the server is saved
    QTest::newRow("port too high") << "99999"
                                   << "Default"
                                   << "portEdit";
    QTest::newRow("port just too high") << "65536"
                                        << "Default"
                                        << "portEdit";
    QTest::newRow("port 0") << "0"
                            << "Default"
                            << "portEdit";
    QTest::newRow("port negative") << "-21"
                                   << "Default"
                                   << "portEdit";
    QTest::newRow("port not a number") << "2l"
                                       << "Default"
                                       << "portEdit";
    QTest::newRow("port with a space") << "21 "
                                       << "Default"
                                       << "portEdit";
    QTest::newRow("mask without the file") << "Default"
                                           << "http://$host$dir/"
                                           << "urlMaskEdit";
    QTest::newRow("mask with $dir only") << "22"
                                         << "https://$host/$dir"
                                         << "urlMaskEdit";
    QTest::newRow("both wrong") << "100000"
                                << "http://$host"
                                << "portEdit urlMaskEdit";
    QTest::newRow("highest port") << "65535"
                                  << "https://$host/$file"
                                  << "";
    QTest::newRow("lowest port") << "1"
                                 << "Default"
                                 << "";
}

void TestConfigWindow::wrongPortOrUrlMaskIsNotSaved() {
    QFETCH(QString, port);
    QFETCH(QString, urlMask);
    QFETCH(QString, wrongField);
    const QHash<QString, QString> problems{
        {"portEdit", "The port must be a number from 1 to 65535."},
        {"urlMaskEdit", "The URL mask must contain $file, where the file name goes."}};
    const QHash<QString, const char*> labels{{"portEdit", "portProblemLabel"},
                                             {"urlMaskEdit", "urlMaskProblemLabel"}};
    saveServers();
    const ServerRecord before = m_config->servers[0];
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    // Once for the chosen server, once for a new one from the root.
    for (const QString& chosen : {QStringLiteral("Beta"), QStringLiteral("Quaddle Servers")}) {
        clickNode(window, node(window, chosen));
        typeInto(window, "hostEdit", "beta.example.org");
        typeInto(window, "portEdit", port);
        typeInto(window, "urlMaskEdit", urlMask);
        const qsizetype servers = m_config->servers.size();
        control<QPushButton>(window, "saveServerButton")->click();
        for (const QString& field : problems.keys()) {
            auto* label = control<QLabel>(window, labels.value(field));
            const bool wrong = wrongField.split(' ').contains(field);
            QCOMPARE(label->isVisible(), wrong);
            if (!wrong)
                continue;
            QCOMPARE(label->text(), problems.value(field));
            // Right under its field, in the field's own column.
            const QLineEdit* edit = control<QLineEdit>(window, field.toLatin1().constData());
            const QPoint editCorner = edit->mapTo(&window, QPoint(0, edit->height()));
            const QPoint labelCorner = label->mapTo(&window, QPoint(0, 0));
            QCOMPARE(labelCorner.x(), editCorner.x());
            QVERIFY(labelCorner.y() >= editCorner.y());
            QVERIFY(labelCorner.y() - editCorner.y() < edit->height());
        }
        if (wrongField.isEmpty()) {
            const ServerRecord& saved =
                chosen == "Beta" ? m_config->servers[0] : m_config->servers.last();
            QCOMPARE(saved.port, port == "Default" ? QStringLiteral("21") : port);
            QCOMPARE(saved.urlMask, urlMask == "Default" ? DefaultURLMask : urlMask);
            continue;
        }
        QCOMPARE(window.focusWidget(),
                 control<QLineEdit>(window, wrongField.section(' ', 0, 0).toLatin1().constData()));
        QCOMPARE(m_config->servers.size(), servers);
        QCOMPARE(m_config->servers[0].port, before.port);
        QCOMPARE(m_config->servers[0].urlMask, before.urlMask);
    }
    // Another server chosen, the messages about these fields go.
    clickNode(window, node(window, "Alpha"));
    QVERIFY(!control<QLabel>(window, "portProblemLabel")->isVisible());
    QVERIFY(!control<QLabel>(window, "urlMaskProblemLabel")->isVisible());
}

void TestConfigWindow::passwordQuestions() {
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    typeInto(window, "hostEdit", "h");
    typeInto(window, "passwordEdit", "secret");
    m_dialogs->expectUnencryptedPassword(false, false);
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.last().password, QString());
    QCOMPARE(text(window, "passwordEdit"), QString());

    typeInto(window, "passwordEdit", "secret");
    m_config->credentialsLocked = true;
    m_dialogs->expectUnencryptedPassword(true, true);
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.last().password, QStringLiteral("secret"));

    m_config->credentialsLocked = false;
    m_config->masterPasswordActive = true;
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 3);
}

void TestConfigWindow::foldersAreAddedRenamedAndDeleted() {
    saveServers();
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    auto* tree = control<QTreeWidget>(window, "serverTree");
    tree->setCurrentItem(node(window, "/b2"));
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(m_config->folders(0), (QStringList{"", "/b1"}));
    QVERIFY(!node(window, "/b2"));

    clickNode(window, node(window, "Beta"));
    control<QPushButton>(window, "newFolderButton")->click();
    QCOMPARE(m_config->folders(0), (QStringList{"", "/b1", ""}));
    QTest::keyClicks(nodeEditor(window), "/new");
    QTest::keyClick(nodeEditor(window), Qt::Key_Return);
    // The tree takes an edit over once control is back in the event loop.
    QTRY_COMPARE(m_config->folders(0), (QStringList{"", "/b1", "/new"}));
    QVERIFY(node(window, "/new"));
    QVERIFY(m_refreshes >= 2);

    // A new server must be saved before it gets folders.
    control<QPushButton>(window, "newServerButton")->click();
    QTest::keyClick(nodeEditor(window), Qt::Key_Escape);
    clickNode(window, node(window, "New Server"));
    QVERIFY(!control<QPushButton>(window, "newFolderButton")->isEnabled());
    m_dialogs->expectMessage("Please save the server before adding folders.");
    control<QPushButton>(window, "newFolderButton")->setEnabled(true);
    control<QPushButton>(window, "newFolderButton")->click();
    QCOMPARE(m_dialogs->asked().last().kind, MessageKind::Information);
}

void TestConfigWindow::serversAreRenamedAndDeleted() {
    saveServers();
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    auto* tree = control<QTreeWidget>(window, "serverTree");
    tree->setCurrentItem(node(window, "Alpha"));
    QTest::keyClick(tree, Qt::Key_F2);
    QLineEdit* editor = nodeEditor(window);
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(m_config->serverNames[2], QString());
    QVERIFY(m_config->serverExists(2));

    tree->setCurrentItem(node(window, "Beta"));
    m_dialogs->expectActionConfirmation("Delete server \"Beta\"?", false);
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(m_config->serverExists(0));
    m_dialogs->expectActionConfirmation("Delete server \"Beta\"?", true);
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(!m_config->serverExists(0));
    QVERIFY(!node(window, "Beta") && !node(window, "/b1"));

    // The root is neither renamed nor deleted.
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(tree->topLevelItemCount(), 1);
}

void TestConfigWindow::newServerIsTheOneSaved() {
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    // Typed before any server was chosen: kept for the new one.
    typeInto(window, "hostEdit", "mine.example.org");
    control<QPushButton>(window, "newServerButton")->click();
    QTest::keyClicks(nodeEditor(window), "Mine");
    QTest::keyClick(nodeEditor(window), Qt::Key_Return);
    QTRY_COMPARE(m_config->serverNames, QStringList{"Mine"});
    typeInto(window, "userEdit", "me");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 1);
    QCOMPARE(m_config->servers[0].host, QStringLiteral("mine.example.org"));
    QCOMPARE(m_config->servers[0].user, QStringLiteral("me"));
    QCOMPARE(m_config->serverNames, QStringList{"Mine"});
    QVERIFY(control<QPushButton>(window, "newFolderButton")->isEnabled());

    // With a server chosen, the next new server starts empty and gets its own values.
    control<QPushButton>(window, "newServerButton")->click();
    QTest::keyClick(nodeEditor(window), Qt::Key_Escape);
    QCOMPARE(text(window, "hostEdit"), QString());
    typeInto(window, "hostEdit", "two.example.org");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 2);
    QCOMPARE(m_config->servers[1].host, QStringLiteral("two.example.org"));
    QCOMPARE(m_config->serverNames, (QStringList{"Mine", "New Server"}));
}

void TestConfigWindow::saveAfterDeleteNeedsAHostname() {
    saveServers();
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    clickNode(window, node(window, "Beta"));
    m_dialogs->expectActionConfirmation("Delete server \"Beta\"?", true);
    QTest::keyClick(control<QTreeWidget>(window, "serverTree"), Qt::Key_Delete);
    QCOMPARE(text(window, "userEdit"), QString());

    m_dialogs->expectMessage("Please enter a hostname.");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 3);
    typeInto(window, "hostEdit", "new.example.org");
    control<QPushButton>(window, "saveServerButton")->click();
    QVERIFY(!m_config->serverExists(0));
    QCOMPARE(m_config->servers.size(), 4);
    QCOMPARE(m_config->servers[3].host, QStringLiteral("new.example.org"));
}

void TestConfigWindow::reloadRebuildsTheTree() {
    saveServers();
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    clickNode(window, node(window, "Alpha"));
    {
        Config other;
        other.storeServer("only.example.org", "", "", "", "", "", "", "", -1, -1);
        other.serverNames = QStringList{"Only"};
        other.saveConfig();
    }
    m_config->loadConfig(true);
    QCOMPARE(m_config->serverNames, QStringList{"Only"});

    // Nodes of the old lists rename nothing.
    auto* tree = control<QTreeWidget>(window, "serverTree");
    node(window, "Alpha")->setText(0, "Renamed");
    node(window, "/b1")->setText(0, "/renamed");
    QCOMPARE(m_config->serverNames, QStringList{"Only"});
    QCOMPARE(m_config->folders(0), QStringList());
    // The fields of a server the file no longer has, its name too, are saved as a new server.
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.size(), 2);
    QCOMPARE(m_config->servers[1].host, QStringLiteral("alpha.example.org"));

    window.reloadServers();
    QCOMPARE(treeTexts(tree->topLevelItem(0)),
             (QStringList{"Quaddle Servers", "  Alpha", "  Only"}));
    clickNode(window, node(window, "Only"));
    QCOMPARE(text(window, "hostEdit"), QStringLiteral("only.example.org"));
}

void TestConfigWindow::lockedWarningAndProtectedCredentials() {
    m_config = std::make_unique<Config>();
    m_config->credentialsLocked = true;
    m_config->lockedCredentials = {{"AAAA", "BBBB"}, {"CCCC", ""}};
    m_config->storeServer("first", "", "", "", "", "", "", "", -1, 0);
    m_config->storeServer("second", "", "", "", "", "", "", "", -1, 1);
    m_config->serverNames = QStringList{"First", "Second"};
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    const QLabel* warning = control<QLabel>(window, "warningLabel");
    QVERIFY(warning->isVisible());
    QVERIFY(warning->text().startsWith("Since you did not enter a master password, Quaddle"));
    QVERIFY(control<QLineEdit>(window, "urlMaskEdit")
                ->toolTip()
                .contains("generated by Quaddle are incorrect, you can define"));
    QVERIFY(control<QTreeWidget>(window, "serverTree")->y() > warning->geometry().bottom());

    auto* tree = control<QTreeWidget>(window, "serverTree");
    tree->setCurrentItem(node(window, "First"));
    m_dialogs->expectActionConfirmation("Delete server \"First\"?", true);
    m_dialogs->expectMessageMatching("Your master password has not been entered.*");
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(m_config->serverExists(0));
    QVERIFY(node(window, "First"));
}

void TestConfigWindow::sftpNeedsItsSshProgram() {
    const QByteArray path = qgetenv("PATH");
    const auto makeProgram = [](const QString& path) {
        QFile program(path);
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.setPermissions(program.permissions() | QFile::ExeOwner);
    };
    const QTemporaryDir bin;
    qputenv("PATH", bin.path().toUtf8());
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    auto* type = control<QComboBox>(window, "typeBox");
    auto* sshClient = control<QComboBox>(window, "sshClientBox");
    QCOMPARE(sshClient->currentText(), QStringLiteral("OpenSSH (ssh)"));
    m_dialogs->expectMessage(
        "ssh (package openssh-client) not found. Please install it for SFTP support.");
    type->setCurrentIndex(1);
    emit type->activated(1);
    QCOMPARE(type->currentIndex(), 0);
    QCOMPARE(m_dialogs->asked().last().kind, MessageKind::Plain);

    makeProgram(bin.filePath("ssh"));
    type->setCurrentIndex(1);
    emit type->activated(1);
    QCOMPARE(type->currentIndex(), 1);
    m_dialogs->expectMessage(
        "psftp (package putty-tools) not found. Please install it for SFTP support.");
    sshClient->setCurrentIndex(1);
    emit sshClient->activated(1);
    QCOMPARE(sshClient->currentIndex(), 0);

    // A psftp in the program directory is enough.
    makeProgram(m_programDir->filePath("psftp"));
    sshClient->setCurrentIndex(1);
    emit sshClient->activated(1);
    QCOMPARE(sshClient->currentIndex(), 1);
    qputenv("PATH", path);

    // SFTP's default port is 22, also for servers stored with FTP's 21 by older versions.
    QCOMPARE(text(window, "portEdit"), QString());
    typeInto(window, "hostEdit", "sftp.example.org");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.last().type, QStringLiteral("1"));
    QCOMPARE(m_config->servers.last().sshClient, QStringLiteral("psftp"));
    QCOMPARE(m_config->servers.last().port, QStringLiteral("22"));
    m_config->servers.last().port = "21";
    clickNode(window, node(window, "New Server"));
    QCOMPARE(text(window, "portEdit"), QString());
    QCOMPARE(sshClient->currentIndex(), 1);
    type->setCurrentIndex(0);
    emit type->activated(0);
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(m_config->servers.last().port, QStringLiteral("21"));
    // Only SFTP servers keep the choice.
    QCOMPARE(m_config->servers.last().sshClient, QString());
}

void TestConfigWindow::addressPreviewFollowsTyping_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("urlMask");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("slashProblem"); // empty: none shown
    const QString doubled = "The address has \"//\" after the host, which web servers may not "
                            "find.";
    const QString fix = " $dir and $file bring their own slash: write $dir$file, as in ";
    QTest::newRow("default") << "example.org"
                             << ""
                             << "Default"
                             << "http://example.org/2024/photo.jpg"
                             << "";
    QTest::newRow("user and folder in the path") << "example.org"
                                                 << "me"
                                                 << "https://$host/~$user$dir$file"
                                                 << "https://example.org/~me/2024/photo.jpg"
                                                 << "";
    QTest::newRow("user with a space") << "example.org"
                                       << "a b"
                                       << "http://$host/$user$file"
                                       << "http://example.org/a%20b/photo.jpg"
                                       << "";
    QTest::newRow("other host") << "example.org"
                                << ""
                                << "http://www.example.com/pics$dir$file"
                                << "http://www.example.com/pics/2024/photo.jpg"
                                << "";
    QTest::newRow("IPv6 address") << "::1"
                                  << ""
                                  << "Default"
                                  << "http://[::1]/2024/photo.jpg"
                                  << "";
    QTest::newRow("slashes before $dir and $file")
        << "example.org"
        << ""
        << "http://$host/$dir/$file"
        << "http://example.org//2024/photo.jpg" << doubled + fix + "http://$host$dir$file";
    QTest::newRow("slash before $dir") << "example.org"
                                       << ""
                                       << "https://$host/web/$dir$file"
                                       << "https://example.org/web//2024/photo.jpg"
                                       << doubled + fix + "https://$host/web$dir$file";
    QTest::newRow("slashes of its own") << "example.org"
                                        << ""
                                        << "http://$host///pics$file"
                                        << "http://example.org//pics/photo.jpg" << doubled;
}

void TestConfigWindow::addressPreviewFollowsTyping() {
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, urlMask);
    QFETCH(QString, address);
    QFETCH(QString, slashProblem);
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    const QLabel* variables = control<QLabel>(window, "urlVariablesLabel");
    QVERIFY(variables->isVisible());
    for (const QString& variable : QStringList{"$host", "$user", "$dir", "$file"})
        QVERIFY2(variables->text().contains(variable), qPrintable(variable));
    const QLabel* preview = control<QLabel>(window, "urlPreviewLabel");
    const QLabel* problem = control<QLabel>(window, "doubleSlashLabel");
    typeInto(window, "hostEdit", host);
    typeInto(window, "userEdit", user);
    typeInto(window, "urlMaskEdit", urlMask);
    QVERIFY(preview->isVisible());
    QCOMPARE(preview->text(), "A file photo.jpg in /2024 will be at: " + address);
    QCOMPARE(problem->isVisible(), !slashProblem.isEmpty());
    if (!slashProblem.isEmpty())
        QCOMPARE(problem->text(), slashProblem);
    // Mended as suggested, the warning goes and the address follows.
    typeInto(window, "urlMaskEdit", "http://$host$dir$file");
    QVERIFY(!problem->isVisible());
    QCOMPARE(preview->text(), "A file photo.jpg in /2024 will be at: http://" +
                                  (host.contains(':') ? '[' + host + ']' : host) +
                                  "/2024/photo.jpg");
}

void TestConfigWindow::previewShowsTheChosenServer() {
    saveServers();
    m_config->servers[2].urlMask = "http://$host/$dir/$file";
    ConfigWindow& window = openWindow();
    window.choosePage(ConfigWindow::ServerManagement);
    const QLabel* preview = control<QLabel>(window, "urlPreviewLabel");
    clickNode(window, node(window, "Beta"));
    QCOMPARE(
        preview->text(),
        QStringLiteral("A file photo.jpg in /2024 will be at: https://beta.example.org/photo.jpg"));
    QVERIFY(!control<QLabel>(window, "doubleSlashLabel")->isVisible());
    clickNode(window, node(window, "Alpha"));
    QCOMPARE(preview->text(), QStringLiteral("A file photo.jpg in /2024 will be at: "
                                             "http://alpha.example.org//2024/photo.jpg"));
    QVERIFY(control<QLabel>(window, "doubleSlashLabel")->isVisible());
}

void TestConfigWindow::typeSwitchDisablesFieldsAndMovesThePort_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("port"); // typed with the first type
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("savedPort");
    const int ftp = int(ServerType::Ftp);
    const int sftp = int(ServerType::Sftp);
    const int ftps = int(ServerType::Ftps);
    QTest::newRow("FTP default to SFTP") << ftp << "Default" << sftp << "22";
    QTest::newRow("FTP 21 to SFTP") << ftp << "21" << sftp << "22";
    QTest::newRow("FTP 2121 to SFTP") << ftp << "2121" << sftp << "2121";
    QTest::newRow("FTP 22 to FTPS") << ftp << "22" << ftps << "22";
    QTest::newRow("SFTP 22 to FTP") << sftp << "22" << ftp << "21";
    QTest::newRow("SFTP default to FTPS") << sftp << "Default" << ftps << "21";
    QTest::newRow("SFTP 21 to FTPS") << sftp << "21" << ftps << "21";
    QTest::newRow("SFTP 2222 to FTP") << sftp << "2222" << ftp << "2222";
    QTest::newRow("FTPS 21 to FTP") << ftps << "21" << ftp << "21";
}

void TestConfigWindow::typeSwitchDisablesFieldsAndMovesThePort() {
    QFETCH(int, from);
    QFETCH(QString, port);
    QFETCH(int, to);
    QFETCH(QString, savedPort);
    ConfigWindow& window = openWindow(true);
    window.choosePage(ConfigWindow::ServerManagement);
    auto* type = control<QComboBox>(window, "typeBox");
    QCOMPARE(type->itemText(int(ServerType::Sftp)), QStringLiteral("SFTP"));
    const auto choose = [type](int index) {
        type->setCurrentIndex(index);
        emit type->activated(index);
    };
    const auto sftpFieldsEnabled = [&window](bool sftp) {
        for (const char* sftpOnly : {"sshClientBox", "keyFileEdit", "keyFileButton"})
            QVERIFY2(control<QWidget>(window, sftpOnly)->isEnabled() == sftp, sftpOnly);
    };
    choose(from);
    sftpFieldsEnabled(from == int(ServerType::Sftp));
    typeInto(window, "hostEdit", "switch.example.org");
    typeInto(window, "portEdit", port);
    choose(to);
    sftpFieldsEnabled(to == int(ServerType::Sftp));
    control<QPushButton>(window, "saveServerButton")->click();
    const std::unique_ptr<Config> saved = savedConfig();
    QCOMPARE(saved->servers.size(), 1);
    QCOMPARE(saved->servers[0].type, QString::number(to));
    QCOMPARE(saved->servers[0].port, savedPort);
    // Chosen again, the server shows its type's fields.
    clickNode(window, node(window, "New Server"));
    sftpFieldsEnabled(to == int(ServerType::Sftp));
}

void TestConfigWindow::nameAndTypeAtTheTopFollowTheTree() {
    saveServers();
    ConfigWindow& window = openWindow(true);
    window.choosePage(ConfigWindow::ServerManagement);
    auto* name = control<QLineEdit>(window, "nameEdit");
    // Above every other field of the form.
    const int typeTop = control<QWidget>(window, "typeBox")->mapTo(&window, QPoint()).y();
    QVERIFY(name->mapTo(&window, QPoint()).y() < typeTop);
    for (const char* below : {"hostEdit", "portEdit", "defaultDirEdit", "urlMaskEdit"})
        QVERIFY2(control<QWidget>(window, below)->mapTo(&window, QPoint()).y() > typeTop, below);
    QCOMPARE(control<QPushButton>(window, "newServerButton")->text(), QStringLiteral("Add"));
    QCOMPARE(control<QPushButton>(window, "saveServerButton")->text(), QStringLiteral("Save"));

    clickNode(window, node(window, "Beta"));
    QCOMPARE(name->text(), QStringLiteral("Beta"));
    typeInto(window, "nameEdit", "Beta renamed");
    control<QPushButton>(window, "saveServerButton")->click();
    QCOMPARE(savedConfig()->serverNames[0], QStringLiteral("Beta renamed"));
    QVERIFY(node(window, "Beta renamed"));
    QCOMPARE(savedConfig()->folders(0), (QStringList{"/b2", "/b1"}));

    // Renamed in the tree, the field follows.
    auto* tree = control<QTreeWidget>(window, "serverTree");
    tree->setCurrentItem(node(window, "Beta renamed"));
    QTest::keyClick(tree, Qt::Key_F2);
    nodeEditor(window)->clear();
    QTest::keyClicks(nodeEditor(window), "Gamma");
    QTest::keyClick(nodeEditor(window), Qt::Key_Return);
    QTRY_COMPARE(name->text(), QStringLiteral("Gamma"));
    QCOMPARE(savedConfig()->serverNames[0], QStringLiteral("Gamma"));
    // Another server renamed leaves the field alone.
    tree->setCurrentItem(node(window, "Alpha"));
    QTest::keyClick(tree, Qt::Key_F2);
    QTest::keyClick(nodeEditor(window), Qt::Key_End);
    QTest::keyClicks(nodeEditor(window), "2");
    QTest::keyClick(nodeEditor(window), Qt::Key_Return);
    QTRY_VERIFY(node(window, "Alpha2"));
    QCOMPARE(name->text(), QStringLiteral("Gamma"));

    // Add makes the entry; its name is typed at the top and saved with the fields.
    control<QPushButton>(window, "newServerButton")->click();
    QTest::keyClick(nodeEditor(window), Qt::Key_Escape);
    QCOMPARE(name->text(), QStringLiteral("New Server"));
    typeInto(window, "nameEdit", "Delta");
    typeInto(window, "hostEdit", "delta.example.org");
    control<QPushButton>(window, "saveServerButton")->click();
    const std::unique_ptr<Config> saved = savedConfig();
    QCOMPARE(saved->serverNames, (QStringList{"Gamma", "Alpha2", "Delta"}));
    QCOMPARE(saved->servers.value(2).host, QStringLiteral("delta.example.org"));
    QVERIFY(node(window, "Delta"));
    QVERIFY(!node(window, "New Server"));
}

void TestConfigWindow::deleteButtonNamesTheServerAndKeepsItByDefault() {
    saveServers();
    m_config->saveConfig();
    ConfigWindow& window = openWindow(true);
    window.choosePage(ConfigWindow::ServerManagement);
    auto* deleteButton = control<QPushButton>(window, "deleteServerButton");
    QVERIFY(!deleteButton->isEnabled());
    clickNode(window, node(window, "/b1"));
    QVERIFY(deleteButton->isEnabled());

    // The real question, as the program shows it.
    AppDialogs boxes;
    Dialogs* const scripted = installDialogs(&boxes);
    QString asked;
    QStringList buttons;
    QString byDefault;
    whenMessageBoxShows([&](QMessageBox& box) {
        asked = box.text();
        buttons = buttonTexts(box);
        byDefault = box.defaultButton() ? box.defaultButton()->text() : QString();
        QTest::keyClick(&box, Qt::Key_Return);
    });
    deleteButton->click();
    QCOMPARE(asked, QStringLiteral("Delete server \"Beta\"?"));
    QCOMPARE(buttons, (QStringList{"Cancel", "Delete Server"}));
    QCOMPARE(byDefault, QStringLiteral("Cancel"));
    QCOMPARE(savedConfig()->serverNames, (QStringList{"Beta", "Alpha"}));
    QVERIFY(node(window, "Beta"));

    whenMessageBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    deleteButton->click();
    QCOMPARE(savedConfig()->serverNames, (QStringList{"Beta", "Alpha"}));

    whenMessageBoxShows([](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons())
            if (button->text() == "Delete Server")
                button->click();
    });
    deleteButton->click();
    installDialogs(scripted);
    QCOMPARE(savedConfig()->serverNames, QStringList{"Alpha"});
    QVERIFY(!node(window, "Beta"));
    QVERIFY(!deleteButton->isEnabled());
}

void TestConfigWindow::serversShowTheirSelectors() {
    saveServers();
    m_config->saveConfig();
    ConfigWindow& window = openWindow(true);
    window.choosePage(ConfigWindow::ServerManagement);
    // Each node's number picks, from the file as the command line reads it, what clicking the
    // node shows.
    const auto checkSelectors = [&window](const QStringList& names) {
        const std::unique_ptr<Config> saved = savedConfig();
        for (const QString& name : names) {
            QTreeWidgetItem* item = node(window, name);
            const std::optional<ServerSelection> selected = resolveSelector(item->text(1), *saved);
            QVERIFY2(selected, qPrintable(name + ' ' + item->text(1)));
            clickNode(window, item);
            QCOMPARE(saved->servers[selected->server].host, text(window, "hostEdit"));
            QCOMPARE(selected->folder.has_value(), name.startsWith('/'));
            if (selected->folder)
                QCOMPARE(saved->folders(selected->server).value(*selected->folder), name);
        }
    };
    checkSelectors({"Alpha", "Beta", "/b1", "/b2"});
    // The deleted server before it is not counted.
    QCOMPARE(node(window, "Alpha")->text(1), QStringLiteral(":1"));
    QCOMPARE(node(window, "/b1")->text(1), QStringLiteral(":0/1"));

    // What follows a deleted folder or server moves up.
    auto* tree = control<QTreeWidget>(window, "serverTree");
    tree->setCurrentItem(node(window, "/b2"));
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(node(window, "/b1")->text(1), QStringLiteral(":0/0"));
    checkSelectors({"Alpha", "Beta", "/b1"});
    tree->setCurrentItem(node(window, "Beta"));
    m_dialogs->expectActionConfirmation("Delete server \"Beta\"?", true);
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(node(window, "Alpha")->text(1), QStringLiteral(":0"));
    checkSelectors({"Alpha"});
}

void TestConfigWindow::contextMenuSwitch() {
    const QString link = m_data->filePath("applications/quaddle-context.desktop");
    const QString missing = "The desktop entry " +
                            m_programDir->filePath("QuaddleContext.desktop") +
                            " is missing. To restore it, run scripts/post-install with the path "
                            "of the installed program.";
    {
        ConfigWindow& window = openWindow();
        auto* box = control<QCheckBox>(window, "contextEntryBox");
        m_dialogs->expectMessage(missing);
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QVERIFY(!QFileInfo(link).isSymLink());

        m_programDir->writeFile("QuaddleContext.desktop", "[Desktop Entry]\n");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(QFileInfo(link).isSymLink());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!QFileInfo(link).isSymLink());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(isContextRegistered(m_config->programDir));
        delete m_form;
    }
    // Registered at start-up: the box starts checked and registers once more.
    m_config = std::make_unique<Config>();
    QVERIFY(m_config->contextRegistered);
    QFile::remove(link);
    ConfigWindow& window = openWindow();
    QVERIFY(control<QCheckBox>(window, "contextEntryBox")->isChecked());
    QVERIFY(QFileInfo(link).isSymLink());
    delete m_form;

    // The entry gone meanwhile: the window opens with the message and a cleared box.
    QFile::remove(m_programDir->filePath("QuaddleContext.desktop"));
    m_dialogs->expectMessage(missing);
    QVERIFY(!control<QCheckBox>(openWindow(), "contextEntryBox")->isChecked());
    QVERIFY(QFileInfo(link).isSymLink());
}

void TestConfigWindow::screenshots() {
    saveServers();
    ConfigWindow& window = openWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/FormCfgOptions.png")));
    window.choosePage(ConfigWindow::ServerManagement);
    clickNode(window, node(window, "Beta"));
    QVERIFY(window.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/FormCfgServers.png")));
}

QTEST_MAIN(TestConfigWindow)
#include "TestConfigWindow.moc"
