#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
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
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;

namespace {

const QString PasswordNotSet =
    "You have not set a master password yet. Passwords will not be encrypted and can easily be "
    "obtained by anyone with access to your computer. Do you still want to save this password?";
const QString PasswordLocked =
    "You have disabled encryption by not entering your master password. Passwords will not be "
    "encrypted and can easily be obtained by anyone with access to your computer. Do you still "
    "want to save this password?";

QStringList TreeTexts(const QTreeWidgetItem* item, const QString& indent = QString()) {
    QStringList texts{indent + item->text(0)};
    for (int i = 0; i < item->childCount(); ++i)
        texts += TreeTexts(item->child(i), indent + "  ");
    return texts;
}

QTreeWidgetItem* Node(const QWidget& window, const QString& text) {
    const QList<QTreeWidgetItem*> found =
        Control<QTreeWidget>(window, "TreeServers")
            ->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// A mouse click on a node, which is what chooses a server for the fields.
void ClickNode(const QWidget& window, QTreeWidgetItem* node) {
    auto* tree = Control<QTreeWidget>(window, "TreeServers");
    const QRect area = tree->visualItemRect(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, area.center());
}

// The in-place editor of the tree node being edited.
QLineEdit* NodeEditor(const QWidget& window) {
    for (QLineEdit* editor :
         Control<QTreeWidget>(window, "TreeServers")->viewport()->findChildren<QLineEdit*>())
        if (editor->isVisible())
            return editor;
    qFatal("no node is being edited");
}

QString Text(const QWidget& window, const char* edit) {
    return Control<QLineEdit>(window, edit)->text();
}

void TypeInto(const QWidget& window, const char* edit, const QString& text) {
    auto* field = Control<QLineEdit>(window, edit);
    field->clear();
    QTest::keyClicks(field, text);
}

} // namespace

class TestConfigWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void optionsShowTheDefaults();
    void defaultServerListKeepsPositions();
    void unusualStoredValues();
    void everyKeystrokeIsStored();
    void unknownSettingsGetRedFlags();
    void setMasterPasswordButton();
    void pagesAndWindowSizes();
    void openingFromTheMainWindow();

    void treeListsServersAndFolders();
    void clickFillsFieldsButArrowsDoNot();
    void savingStoresDefaultsAndAddsFromRoot();
    void hostnameIsRequired();
    void passwordQuestions();
    void foldersAreAddedRenamedAndDeleted();
    void serversAreRenamedAndDeleted();
    void lockedWarningAndProtectedCredentials();
    void sftpNeedsPsftp();

    void contextMenuSwitch();
    void screenshots();

private:
    TFormCfg& Window();
    void SaveServers();

    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Data;
    std::unique_ptr<TCfg> Cfg;
    QPointer<TFormCfg> Form;
    int Refreshes = 0;
    int MainShown = 0;
};

void TestConfigWindow::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    Data = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(Data->path()));
    Refreshes = 0;
    MainShown = 0;
}

void TestConfigWindow::cleanup() {
    delete Form;
    Cfg.reset();
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    qunsetenv("XDG_DATA_HOME");
    Data.reset();
    ProgramDir.reset();
}

TFormCfg& TestConfigWindow::Window() {
    if (!Cfg)
        Cfg = std::make_unique<TCfg>();
    TCfgWindowHost host;
    host.RefreshServerDisplay = [this] { ++Refreshes; };
    host.ShowMain = [this] { ++MainShown; };
    Form = new TFormCfg(*Cfg, host);
    Form->show();
    return *Form;
}

// Servers "Beta" (with folders /b1 and /b2) and "Alpha", and a deleted one between them.
void TestConfigWindow::SaveServers() {
    Cfg = std::make_unique<TCfg>();
    Cfg->StoreServer("beta.example.org", "2121", "bob", "", "/web", "/pics", "https://$host$file",
                     "0", -1, -1);
    Cfg->StoreServer("gone.example.org", "", "", "", "", "", "", "", -1, -1);
    Cfg->StoreServer("alpha.example.org", "", "", "", "", "", "", "", -1, -1);
    Cfg->ServerNames = QStringList{"Beta", "Gone", "Alpha"};
    Cfg->SetFolder(-1, 0, "/b2");
    Cfg->SetFolder(-1, 0, "/b1");
    Cfg->DeleteServer(1);
}

void TestConfigWindow::optionsShowTheDefaults() {
    Cfg = std::make_unique<TCfg>();
    Cfg->StoreServer("h", "", "", "", "", "", "", "", -1, -1);
    const TFormCfg& window = Window();
    QCOMPARE(window.windowTitle(), QStringLiteral("Configuration"));
    QCOMPARE(Control<QComboBox>(window, "CFGFeldDefaultServer")->currentText(),
             QStringLiteral("New Server"));
    QCOMPARE(Control<QComboBox>(window, "CFGFeldOverwrite")->currentText(), QStringLiteral("Ask"));
    QCOMPARE(Control<QComboBox>(window, "CFGFeldOverwrite")->count(), 4);
    QVERIFY(Control<QCheckBox>(window, "CFGFeldPassive")->isChecked());
    QCOMPARE(Control<QCheckBox>(window, "CFGFeldPassive")->text(),
             QStringLiteral("Use passive mode with FTP servers"));
    QCOMPARE(Control<QLineEdit>(window, "CFGFeldThumbWidth")->text(), QStringLiteral("300"));
    QCOMPARE(Control<QLineEdit>(window, "CFGFeldThumbHeight")->text(), QStringLiteral("200"));
    QVERIFY(Control<QCheckBox>(window, "CFGFeldThumbInfo")->isChecked());
    QVERIFY(Control<QCheckBox>(window, "CFGFeldThumbRahmen")->isChecked());
    QVERIFY(!Control<QCheckBox>(window, "CFGFeldLog")->isChecked());
    QVERIFY(!Control<QCheckBox>(window, "CFGFeldAutoclose")->isChecked());
    QVERIFY(!Control<QCheckBox>(window, "CContext")->isChecked());
    QVERIFY(Control<QLabel>(window, "LMPWExplain")
                ->text()
                .endsWith("you will be asked for this every time you start Quaddle."));

    QTest::mouseClick(Control<QCheckBox>(window, "CFGFeldLog"), Qt::LeftButton);
    QCOMPARE(Cfg->GetSetting("Log"), QStringLiteral("True"));
    auto* policy = Control<QComboBox>(window, "CFGFeldOverwrite");
    policy->setCurrentIndex(3);
    emit policy->activated(3);
    QCOMPARE(Cfg->GetSetting("Overwrite"), QStringLiteral("128"));
    QCOMPARE(Cfg->GetSettingType("Overwrite"), TSettingType::Integer);
}

void TestConfigWindow::defaultServerListKeepsPositions() {
    SaveServers();
    Cfg->ServerNames[2] = "a=b";
    Cfg->SetSetting("DefaultServer", TSettingValue::Integer(2));
    const TFormCfg& window = Window();
    auto* list = Control<QComboBox>(window, "CFGFeldDefaultServer");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->itemText(1), QString());
    QCOMPARE(list->currentText(), QStringLiteral("a=b"));
    list->setCurrentIndex(0);
    emit list->activated(0);
    QCOMPARE(Cfg->GetSetting("DefaultServer"), QStringLiteral("0"));
}

void TestConfigWindow::unusualStoredValues() {
    Cfg = std::make_unique<TCfg>();
    Cfg->SetSetting("Overwrite", TSettingValue::Integer(7));
    Cfg->SetSetting("Passive", TSettingValue::Text("TRUE"));
    Cfg->SetSetting("ThumbInfo", TSettingValue::Boolean(false));
    const TFormCfg& window = Window();
    QCOMPARE(Control<QComboBox>(window, "CFGFeldOverwrite")->currentIndex(), -1);
    // Stored as text, "TRUE" gets an edit, not a check box.
    QCOMPARE(Control<QLineEdit>(window, "CFGFeldPassive")->text(), QStringLiteral("TRUE"));
    QVERIFY(!Control<QCheckBox>(window, "CFGFeldThumbInfo")->isChecked());
    // No servers: an empty list.
    QCOMPARE(Control<QComboBox>(window, "CFGFeldDefaultServer")->count(), 0);

    TCfg booleans;
    booleans.SetSetting("A", TSettingValue::Boolean(true));
    booleans.SetSetting("A", TSettingValue::Null());
    booleans.SetSetting("B", TSettingValue::Boolean(true));
    QWidget parent;
    booleans.SetSetting("B", TSettingValue::Boolean(false));
    auto* unchecked = qobject_cast<QCheckBox*>(CreateSettingControl(booleans, "B", &parent, "b"));
    QVERIFY(unchecked && !unchecked->isChecked());
}

void TestConfigWindow::everyKeystrokeIsStored() {
    const TFormCfg& window = Window();
    auto* width = Control<QLineEdit>(window, "CFGFeldThumbWidth");
    width->selectAll();
    QTest::keyClick(width, Qt::Key_Backspace);
    QCOMPARE(Cfg->GetSetting("ThumbWidth"), QString());
    QStringList stored;
    for (const QString& key : QStringList{"2", "5", "0"}) {
        QTest::keyClicks(width, key);
        stored.append(Cfg->GetSetting("ThumbWidth"));
    }
    QCOMPARE(stored, (QStringList{"2", "25", "250"}));
    QCOMPARE(Cfg->GetSettingType("ThumbWidth"), TSettingType::Text);
    // Emptying the field moved the setting; the other fields still write their own.
    QTest::keyClicks(Control<QLineEdit>(window, "CFGFeldThumbHeight"), "1");
    QCOMPARE(Cfg->GetSetting("ThumbHeight"), QStringLiteral("2001"));
    QCOMPARE(Cfg->GetSetting("ThumbWidth"), QStringLiteral("250"));
}

void TestConfigWindow::unknownSettingsGetRedFlags() {
    TCfg cfg;
    cfg.SetSetting("Small", TSettingValue::Byte(3));
    QWidget parent;
    auto* unknown = qobject_cast<QLabel*>(CreateSettingControl(cfg, "Nope", &parent, "x"));
    QVERIFY(unknown);
    QCOMPARE(unknown->text(), QStringLiteral("!! Unknown: Nope"));
    QCOMPARE(unknown->objectName(), QStringLiteral("CFGFeldNope"));
    auto* type = qobject_cast<QLabel*>(CreateSettingControl(cfg, "Small", &parent, "x"));
    QVERIFY(type);
    QCOMPARE(type->text(), QStringLiteral("!! Unknown Type: 17"));
}

void TestConfigWindow::setMasterPasswordButton() {
    const TFormCfg& window = Window();
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult::Ok, "n3w");
    Control<QPushButton>(window, "BSetMasterPassword")->click();
    QVERIFY(Cfg->MasterPasswordActive);
    QCOMPARE(Cfg->GetSetting("PH"), Cfg->HashPassword("n3w"));
}

void TestConfigWindow::pagesAndWindowSizes() {
    Cfg = std::make_unique<TCfg>();
    TCfgWindowHost host;
    host.RefreshServerDisplay = [] {};
    host.ShowMain = [this] { ++MainShown; };
    Form = new TFormCfg(*Cfg, host);
    QCOMPARE(Form->height(), 62);
    Form->show();
    QCOMPARE(Form->size(), QSize(500, 458));
    QVERIFY(Control<QWidget>(*Form, "OptionGeneral")->isVisible());
    QVERIFY(!Control<QWidget>(*Form, "OptionServer")->isVisible());
    QCOMPARE(Control<QWidget>(*Form, "OptionGeneral")->pos(), QPoint(8, 44));

    Form->ChoosePage(TFormCfg::ServerManagement);
    QVERIFY(Control<QWidget>(*Form, "OptionServer")->isVisible());
    QVERIFY(!Control<QWidget>(*Form, "OptionGeneral")->isVisible());
    QCOMPARE(Form->minimumSize(), QSize(500, 465));
    Form->resize(800, 600);
    QCOMPARE(Form->size(), QSize(800, 600));
    QCOMPARE(Control<QWidget>(*Form, "OptionServer")->size(), QSize(784, 600 - 44 - 8));
    QCOMPARE(Control<QComboBox>(*Form, "ComboWas")->width(), 784);
    const QWidget* fields = Control<QWidget>(*Form, "FieldPanel");
    QCOMPARE(fields->geometry().right(), 784 - 8 - 1);

    Form->close();
    QTRY_VERIFY(!Form);
    QCOMPARE(MainShown, 1);
}

void TestConfigWindow::openingFromTheMainWindow() {
    TFormMain main({});
    main.show();
    main.ManageClick();
    auto* window = main.findChild<TFormCfg*>();
    QVERIFY(window);
    QVERIFY(Control<QWidget>(*window, "OptionServer")->isVisible());
    // Options while open on Server Management stays there.
    main.MenuOptionsClick();
    QCOMPARE(main.findChildren<TFormCfg*>().size(), 1);
    QVERIFY(Control<QWidget>(*window, "OptionServer")->isVisible());
    // Manage Servers while open on General Options switches.
    window->ChoosePage(TFormCfg::GeneralOptions);
    main.ManageClick();
    QVERIFY(Control<QWidget>(*window, "OptionServer")->isVisible());
    // Closed, it is discarded; the next opening starts on General Options.
    window->close();
    QTRY_VERIFY(main.findChildren<TFormCfg*>().isEmpty());
    main.MenuOptionsClick();
    QVERIFY(Control<QWidget>(*main.findChild<TFormCfg*>(), "OptionGeneral")->isVisible());
}

void TestConfigWindow::treeListsServersAndFolders() {
    SaveServers();
    const TFormCfg& window = Window();
    QCOMPARE(TreeTexts(Control<QTreeWidget>(window, "TreeServers")->topLevelItem(0)),
             (QStringList{"Quaddle Servers", "  Alpha", "  Beta", "    /b1", "    /b2"}));
    QCOMPARE(Node(window, "Alpha")->data(0, Qt::UserRole).toInt(), 2);
    QCOMPARE(Node(window, "/b1")->data(0, Qt::UserRole).toInt(), 1);
}

void TestConfigWindow::clickFillsFieldsButArrowsDoNot() {
    SaveServers();
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    ClickNode(window, Node(window, "/b1"));
    QCOMPARE(Text(window, "EditHost"), QStringLiteral("beta.example.org"));
    QCOMPARE(Text(window, "EPort"), QStringLiteral("2121"));
    QCOMPARE(Text(window, "EditUser"), QStringLiteral("bob"));
    QCOMPARE(Text(window, "EditDir"), QStringLiteral("/web"));
    QCOMPARE(Text(window, "EditDefaultDir"), QStringLiteral("/pics"));
    QCOMPARE(Text(window, "EditURL"), QStringLiteral("https://$host$file"));
    // A stored value reads in the normal colour, a default in grey.
    QCOMPARE(Control<QLineEdit>(window, "EditURL")->palette().color(QPalette::Text),
             QApplication::palette().color(QPalette::Active, QPalette::Text));
    QCOMPARE(Control<QPushButton>(window, "ButtonSave")->text(), QStringLiteral("Save Server"));
    QVERIFY(Control<QPushButton>(window, "ButtonFolder")->isEnabled());

    auto* tree = Control<QTreeWidget>(window, "TreeServers");
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Up);
    QTest::keyClick(tree, Qt::Key_Up);
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Alpha"));
    QCOMPARE(Text(window, "EditHost"), QStringLiteral("beta.example.org"));

    ClickNode(window, Node(window, "Alpha"));
    QCOMPARE(Text(window, "EditHost"), QStringLiteral("alpha.example.org"));
    QCOMPARE(Text(window, "EPort"), QStringLiteral("Default"));
    QCOMPARE(Text(window, "EditURL"), QStringLiteral("Default"));
    QCOMPARE(Control<QLineEdit>(window, "EditURL")->palette().color(QPalette::Text),
             QApplication::palette().color(QPalette::Disabled, QPalette::Text));
    QTest::mouseClick(Control<QLineEdit>(window, "EditURL"), Qt::LeftButton);
    QCOMPARE(Text(window, "EditURL"), QStringLiteral("http://$host$dir$file"));
}

void TestConfigWindow::savingStoresDefaultsAndAddsFromRoot() {
    SaveServers();
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    ClickNode(window, Node(window, "Beta"));
    TypeInto(window, "EditURL", "Default");
    TypeInto(window, "EPort", "Default");
    TypeInto(window, "EditDir", " /spaced ");
    Control<QPushButton>(window, "ButtonSave")->click();
    QCOMPARE(Cfg->Servers[0][URLMask], QStringLiteral("http://$host$dir$file"));
    QCOMPARE(Cfg->Servers[0][Port], QStringLiteral("21"));
    QCOMPARE(Cfg->Servers[0][RootDir], QStringLiteral(" /spaced "));
    QCOMPARE(Cfg->Servers[0][CredentialIndex], QStringLiteral("-1"));
    QCOMPARE(Cfg->ServerNames[0], QStringLiteral("Beta"));
    QCOMPARE(Cfg->GetFolders(0).size(), 2);
    QCOMPARE(Refreshes, 1);

    // The root chosen, Save adds a second server with these values.
    ClickNode(window, Node(window, "Quaddle Servers"));
    QCOMPARE(Control<QPushButton>(window, "ButtonSave")->text(), QStringLiteral("Add New Server"));
    TypeInto(window, "EPort", "");
    Control<QPushButton>(window, "ButtonSave")->click();
    QCOMPARE(Cfg->Servers.size(), 4);
    QCOMPARE(Cfg->Servers[3][Hostname], QStringLiteral("beta.example.org"));
    QCOMPARE(Cfg->Servers[3][Port], QStringLiteral("21"));
    QCOMPARE(Cfg->ServerNames[3], QStringLiteral("New Server"));
    QVERIFY(Node(window, "New Server"));
    Control<QPushButton>(window, "ButtonSave")->click();
    QCOMPARE(Cfg->Servers.size(), 5);
}

void TestConfigWindow::hostnameIsRequired() {
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    Dialogs->ExpectMessage("Please enter a hostname.");
    Control<QPushButton>(window, "ButtonSave")->click();
    QVERIFY(Cfg->Servers.isEmpty());
    QCOMPARE(window.focusWidget(), Control<QLineEdit>(window, "EditHost"));
}

void TestConfigWindow::passwordQuestions() {
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    TypeInto(window, "EditHost", "h");
    TypeInto(window, "EditPass", "secret");
    Dialogs->ExpectMessage(PasswordNotSet, TMsgAnswer::No);
    Control<QPushButton>(window, "ButtonSave")->click();
    QCOMPARE(Cfg->Servers.last()[Password], QString());
    QCOMPARE(Text(window, "EditPass"), QString());

    TypeInto(window, "EditPass", "secret");
    Cfg->CredentialsLocked = true;
    Dialogs->ExpectMessage(PasswordLocked, TMsgAnswer::Yes);
    Control<QPushButton>(window, "ButtonSave")->click();
    QCOMPARE(Cfg->Servers.last()[Password], QStringLiteral("secret"));

    Cfg->CredentialsLocked = false;
    Cfg->MasterPasswordActive = true;
    Control<QPushButton>(window, "ButtonSave")->click();
    QCOMPARE(Cfg->Servers.size(), 3);
}

void TestConfigWindow::foldersAreAddedRenamedAndDeleted() {
    SaveServers();
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    auto* tree = Control<QTreeWidget>(window, "TreeServers");
    tree->setCurrentItem(Node(window, "/b2"));
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(Cfg->GetFolders(0), (QStringList{"", "/b1"}));
    QVERIFY(!Node(window, "/b2"));

    ClickNode(window, Node(window, "Beta"));
    Control<QPushButton>(window, "ButtonFolder")->click();
    QCOMPARE(Cfg->GetFolders(0), (QStringList{"", "/b1", ""}));
    QTest::keyClicks(NodeEditor(window), "/new");
    QTest::keyClick(NodeEditor(window), Qt::Key_Return);
    // The tree takes an edit over once control is back in the event loop.
    QTRY_COMPARE(Cfg->GetFolders(0), (QStringList{"", "/b1", "/new"}));
    QVERIFY(Node(window, "/new"));
    QVERIFY(Refreshes >= 2);

    // A new server must be saved before it gets folders.
    Control<QPushButton>(window, "ButtonNew")->click();
    QTest::keyClick(NodeEditor(window), Qt::Key_Escape);
    ClickNode(window, Node(window, "New Server"));
    QVERIFY(!Control<QPushButton>(window, "ButtonFolder")->isEnabled());
    Dialogs->ExpectMessage("Please save the server before adding folders.");
    Control<QPushButton>(window, "ButtonFolder")->setEnabled(true);
    Control<QPushButton>(window, "ButtonFolder")->click();
    QCOMPARE(Dialogs->Asked().last().Kind, TMsgKind::Information);
}

void TestConfigWindow::serversAreRenamedAndDeleted() {
    SaveServers();
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    auto* tree = Control<QTreeWidget>(window, "TreeServers");
    tree->setCurrentItem(Node(window, "Alpha"));
    QTest::keyClick(tree, Qt::Key_F2);
    QLineEdit* editor = NodeEditor(window);
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(Cfg->ServerNames[2], QString());
    QVERIFY(Cfg->ServerExists(2));

    tree->setCurrentItem(Node(window, "Beta"));
    Dialogs->ExpectMessage("Delete server \"Beta\"?", TMsgAnswer::No);
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(Cfg->ServerExists(0));
    Dialogs->ExpectMessage("Delete server \"Beta\"?", TMsgAnswer::Yes);
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(!Cfg->ServerExists(0));
    QVERIFY(!Node(window, "Beta") && !Node(window, "/b1"));

    // The root is neither renamed nor deleted.
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(tree->topLevelItemCount(), 1);
}

void TestConfigWindow::lockedWarningAndProtectedCredentials() {
    Cfg = std::make_unique<TCfg>();
    Cfg->CredentialsLocked = true;
    Cfg->LockedCredentials = {{"AAAA", "BBBB"}, {"CCCC", ""}};
    Cfg->StoreServer("first", "", "", "", "", "", "", "", -1, 0);
    Cfg->StoreServer("second", "", "", "", "", "", "", "", -1, 1);
    Cfg->ServerNames = QStringList{"First", "Second"};
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    const QLabel* warning = Control<QLabel>(window, "LWarning");
    QVERIFY(warning->isVisible());
    QCOMPARE(Control<QTreeWidget>(window, "TreeServers")->y(), warning->height() + 5);

    auto* tree = Control<QTreeWidget>(window, "TreeServers");
    tree->setCurrentItem(Node(window, "First"));
    Dialogs->ExpectMessage("Delete server \"First\"?", TMsgAnswer::Yes);
    Dialogs->ExpectMessageMatching("Your master password has not been entered.*");
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(Cfg->ServerExists(0));
    QVERIFY(Node(window, "First"));
}

void TestConfigWindow::sftpNeedsPsftp() {
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "");
    TFormCfg& window = Window();
    window.ChoosePage(TFormCfg::ServerManagement);
    auto* type = Control<QComboBox>(window, "CTyp");
    Dialogs->ExpectMessage("psftp.exe not found. Please reinstall Quaddle with SFTP support.");
    type->setCurrentIndex(1);
    emit type->activated(1);
    QCOMPARE(type->currentIndex(), 0);
    QCOMPARE(Dialogs->Asked().last().Kind, TMsgKind::Plain);

    // A psftp in the program directory is enough.
    QFile psftp(ProgramDir->FilePath("psftp"));
    QVERIFY(psftp.open(QIODevice::WriteOnly));
    psftp.setPermissions(psftp.permissions() | QFile::ExeOwner);
    psftp.close();
    type->setCurrentIndex(1);
    emit type->activated(1);
    QCOMPARE(type->currentIndex(), 1);
    qputenv("PATH", path);
}

void TestConfigWindow::contextMenuSwitch() {
    const QString link = Data->filePath("applications/quaddle-context.desktop");
    {
        TFormCfg& window = Window();
        auto* box = Control<QCheckBox>(window, "CContext");
        Dialogs->ExpectMessage("DLL does not exist. Please reinstall Quaddle.");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QVERIFY(!QFileInfo(link).isSymLink());

        ProgramDir->WriteFile("QuaddleContext.desktop", "[Desktop Entry]\n");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(QFileInfo(link).isSymLink());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!QFileInfo(link).isSymLink());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(IsContextRegistered(Cfg->ProgramDir));
        delete Form;
    }
    // Registered at start-up: the box starts checked and registers once more.
    Cfg = std::make_unique<TCfg>();
    QVERIFY(Cfg->ContextRegistered);
    QFile::remove(link);
    TFormCfg& window = Window();
    QVERIFY(Control<QCheckBox>(window, "CContext")->isChecked());
    QVERIFY(QFileInfo(link).isSymLink());
    delete Form;

    // The entry gone meanwhile: the window opens with the message and a cleared box.
    QFile::remove(ProgramDir->FilePath("QuaddleContext.desktop"));
    Dialogs->ExpectMessage("DLL does not exist. Please reinstall Quaddle.");
    QVERIFY(!Control<QCheckBox>(Window(), "CContext")->isChecked());
    QVERIFY(QFileInfo(link).isSymLink());
}

void TestConfigWindow::screenshots() {
    SaveServers();
    TFormCfg& window = Window();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/FormCfgOptions.png")));
    window.ChoosePage(TFormCfg::ServerManagement);
    ClickNode(window, Node(window, "Beta"));
    QVERIFY(window.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/FormCfgServers.png")));
}

QTEST_MAIN(TestConfigWindow)
#include "TestConfigWindow.moc"
