#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;

namespace {

QStringList GridTexts(const QWidget& form) {
    auto* grid = Control<QTableWidget>(form, "StringFiles");
    QStringList texts;
    for (int row = 0; row < grid->rowCount(); ++row)
        texts.append(grid->item(row, 0) ? grid->item(row, 0)->text() : QString());
    return texts;
}

QStringList PathsOf(const TFileList& files) {
    QStringList paths;
    for (const TFileEntry& entry : files)
        paths.append(entry.Path);
    return paths;
}

QStringList EntryTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QMenu* MenuNamed(const QWidget& form, const QString& caption) {
    for (QAction* action : Control<QMenuBar>(form, "MainMenu1")->actions())
        if (action->text() == caption)
            return action->menu();
    return nullptr;
}

// Drops local files on a widget the way a file manager does: enter, then drop.
void DropFiles(QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    const QPoint point = target->rect().center();
    QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsControlsAtTheirPlaces();
    void menusHaveTheirEntriesAndSeparators();
    void commandLineFilesAreListedSorted();
    void emptyListShowsOneEmptyRow();
    void droppedFilesAreAddedSorted();
    void dropOnRemoteDirectoryAddsFilesNotText();
    void addFilesAppendsChosenFiles();
    void cancelledAddLeavesListAlone();
    void removeDeletesSelectedEntry();
    void removeOnEmptyListDoesNothing();
    void enterPressesUpload();
    void controlsSwitchBetweenIdleAndRunning();
    void selectorArmsUploadThatFiresOnce();
    void selectorOfMissingServerIsIgnored();
    void masterPasswordEntryShownWhileLocked();
    void closingSavesConfiguration();
    void failedSaveIsReportedAndWindowCloses();

private:
    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
};

void TestMainWindow::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
}

void TestMainWindow::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    ProgramDir.reset();
}

void TestMainWindow::showsControlsAtTheirPlaces() {
    TFormMain form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(form.centralWidget()->size() + QSize(0, form.statusBar()->height()), QSize(394, 176));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

    QCOMPARE(Control<QTableWidget>(form, "StringFiles")->geometry(), QRect(8, 18, 256, 71));
    QCOMPARE(Control<QTableWidget>(form, "StringFiles")->columnWidth(0), 252);
    QCOMPARE(Control<QPushButton>(form, "BFileAdd")->text(), QStringLiteral("Add File(s)"));
    QCOMPARE(Control<QPushButton>(form, "BFileAdd")->geometry(), QRect(270, 18, 97, 31));
    QCOMPARE(Control<QPushButton>(form, "BFileRemove")->text(), QStringLiteral("Remove"));
    QCOMPARE(Control<QPushButton>(form, "BFileRemove")->geometry(), QRect(270, 64, 97, 25));
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->geometry(), QRect(8, 17, 300, 22));
    QVERIFY(Control<QComboBox>(form, "CSubdir")->isEditable());
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->toolTip(),
             QStringLiteral("Directory to upload to. Usually, you can leave this blank."));
    QVERIFY(Control<QComboBox>(form, "CSubdir")->hasFocus());

    auto* upload = Control<QPushButton>(form, "BUpload");
    auto* cancel = Control<QPushButton>(form, "BCancel");
    QCOMPARE(upload->geometry(), QRect(330, 103, 56, 46));
    QCOMPARE(cancel->geometry(), upload->geometry());
    QVERIFY(upload->isVisible() && upload->isEnabled());
    QVERIFY(!cancel->isVisible() && !cancel->isEnabled());
    QCOMPARE(upload->nextInFocusChain(), Control<QTableWidget>(form, "StringFiles"));

    QCOMPARE(Control<QWidget>(form, "StatusProgress")->width(), 100);
    QCOMPARE(Control<QLabel>(form, "StatusServer")->width(), 219);
    QCOMPARE(Control<QLabel>(form, "StatusDetail")->width(), 75);
    QCOMPARE(Control<QLabel>(form, "StatusServer")->text(), QStringLiteral("<Select Server>"));
}

void TestMainWindow::menusHaveTheirEntriesAndSeparators() {
    const TFormMain form({});
    QCOMPARE(EntryTexts(MenuNamed(form, "&File")),
             (QStringList{"Enter Master &Password", "&Options...", "-", "E&xit"}));
    QVERIFY(!Control<QAction>(form, "MenuReload")->isVisible());
    QCOMPARE(EntryTexts(MenuNamed(form, "&Help")),
             (QStringList{"&Look For Updates...", "&Support Forums...", "Quaddle &Website...", "-",
                          "&About Quaddle"}));
    const QMenu* servers = MenuNamed(form, "&Servers");
    QCOMPARE(EntryTexts(servers), (QStringList{"&Manage Servers...", "-", "No servers found"}));
    QVERIFY(!servers->actions().last()->isEnabled());
}

void TestMainWindow::commandLineFilesAreListedSorted() {
    const TFormMain form({"/p/b.png", "/q/A.jpg", "/p/b.png"});
    QCOMPARE(PathsOf(form.Files()), (QStringList{"/p/b.png", "/p/b.png", "/q/A.jpg"}));
    for (const TFileEntry& entry : form.Files())
        QCOMPARE(entry.Thumbnail, QString());
    QCOMPARE(GridTexts(form), (QStringList{"b.png", "b.png", "A.jpg"}));
    QVERIFY(!form.AutoUpload());
}

void TestMainWindow::emptyListShowsOneEmptyRow() {
    const TFormMain form({});
    QVERIFY(form.Files().isEmpty());
    QCOMPARE(GridTexts(form), QStringList{QString()});
}

void TestMainWindow::droppedFilesAreAddedSorted() {
    TFormMain form({"/m/middle.gif"});
    DropFiles(&form, {"/B/a.jpg", "/A/b.JPG", "/c/x|y.png"});
    QCOMPARE(PathsOf(form.Files()),
             (QStringList{"/A/b.JPG", "/B/a.jpg", "/c/x|y.png", "/m/middle.gif"}));
    QCOMPARE(GridTexts(form), (QStringList{"b.JPG", "a.jpg", "x|y.png", "middle.gif"}));
}

void TestMainWindow::dropOnRemoteDirectoryAddsFilesNotText() {
    TFormMain form({});
    auto* edit = Control<QComboBox>(form, "CSubdir")->lineEdit();
    DropFiles(edit, {"/p/one.jpg"});
    QCOMPARE(PathsOf(form.Files()), QStringList{"/p/one.jpg"});
    QCOMPARE(edit->text(), QString());
}

void TestMainWindow::addFilesAppendsChosenFiles() {
    TFormMain form({"/p/m.jpg"});
    Dialogs->ExpectFileChoice("Select File(s) to upload", {"/p/z.jpg", "/p/a.jpg"});
    QTest::mouseClick(Control<QPushButton>(form, "BFileAdd"), Qt::LeftButton);
    QCOMPARE(PathsOf(form.Files()), (QStringList{"/p/a.jpg", "/p/m.jpg", "/p/z.jpg"}));
    QCOMPARE(GridTexts(form), (QStringList{"a.jpg", "m.jpg", "z.jpg"}));
}

void TestMainWindow::cancelledAddLeavesListAlone() {
    TFormMain form({"/p/b.jpg", "/p/a.jpg"});
    Dialogs->ExpectFileChoice("Select File(s) to upload", {});
    QTest::mouseClick(Control<QPushButton>(form, "BFileAdd"), Qt::LeftButton);
    QCOMPARE(PathsOf(form.Files()), (QStringList{"/p/a.jpg", "/p/b.jpg"}));
    QCOMPARE(GridTexts(form), (QStringList{"a.jpg", "b.jpg"}));
}

void TestMainWindow::removeDeletesSelectedEntry() {
    TFormMain form({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"});
    Control<QTableWidget>(form, "StringFiles")->selectRow(1);
    QTest::mouseClick(Control<QPushButton>(form, "BFileRemove"), Qt::LeftButton);
    QCOMPARE(PathsOf(form.Files()), (QStringList{"/p/a.jpg", "/p/c.jpg"}));
    QCOMPARE(GridTexts(form), (QStringList{"a.jpg", "c.jpg"}));

    Control<QTableWidget>(form, "StringFiles")->selectRow(1);
    QTest::mouseClick(Control<QPushButton>(form, "BFileRemove"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(form, "BFileRemove"), Qt::LeftButton);
    QVERIFY(form.Files().isEmpty());
    QCOMPARE(GridTexts(form), QStringList{QString()});
}

void TestMainWindow::removeOnEmptyListDoesNothing() {
    TFormMain form({});
    Control<QTableWidget>(form, "StringFiles")->selectRow(0);
    QTest::mouseClick(Control<QPushButton>(form, "BFileRemove"), Qt::LeftButton);
    QVERIFY(form.Files().isEmpty());
    QCOMPARE(GridTexts(form), QStringList{QString()});
}

void TestMainWindow::enterPressesUpload() {
    TFormMain form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Dialogs->ExpectMessage("There are no files to upload.");
    QTest::keyClick(Control<QComboBox>(form, "CSubdir"), Qt::Key_Return);
    QCOMPARE(Dialogs->Asked().size(), 1);
    QCOMPARE(Dialogs->Asked().first().Kind, TMsgKind::Error);
}

void TestMainWindow::controlsSwitchBetweenIdleAndRunning() {
    TFormMain form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* upload = Control<QPushButton>(form, "BUpload");
    auto* cancel = Control<QPushButton>(form, "BCancel");
    form.SetControlsEnabled(false);
    QVERIFY(!upload->isVisible() && !upload->isEnabled());
    QVERIFY(cancel->isVisible() && cancel->isEnabled());
    QVERIFY(!Control<QPushButton>(form, "BFileAdd")->isEnabled());
    QVERIFY(!Control<QPushButton>(form, "BFileRemove")->isEnabled());
    QVERIFY(Control<QComboBox>(form, "CSubdir")->isEnabled());
    form.SetControlsEnabled(true);
    QVERIFY(upload->isVisible() && upload->isEnabled());
    QVERIFY(!cancel->isVisible() && !cancel->isEnabled());
    QVERIFY(Control<QPushButton>(form, "BFileAdd")->isEnabled());
}

namespace {

// Saves a configuration with one server, "/a" and "/b" as its folders and "/default" as its
// default directory; a master password locks it when one is given.
void SaveOneServer(const QString& masterPassword = QString()) {
    TCfg cfg;
    if (!masterPassword.isEmpty()) {
        cfg.MasterPassword = masterPassword;
        cfg.SetSetting("PH", TSettingValue::Text(cfg.HashPassword(masterPassword)));
    }
    cfg.StoreServer("ftp.example.org", "", "user", "pw", "", "/default", "", "", -1, -1);
    cfg.ServerNames[0] = "Example";
    cfg.SetFolder(-1, 0, "/a");
    cfg.SetFolder(-1, 0, "/b");
    cfg.SaveConfig();
}

} // namespace

void TestMainWindow::selectorArmsUploadThatFiresOnce() {
    SaveOneServer();
    TFormMain form({":0/1"});
    QVERIFY(form.AutoUpload());
    QCOMPARE(form.Cfg().CurrentServer, 0);
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->currentText(), QStringLiteral("/b"));

    Dialogs->ExpectMessage("There are no files to upload.");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE(Dialogs->Asked().size(), 1);
    QVERIFY(!form.AutoUpload());
    form.repaint();
    form.update();
    QTest::qWait(50);
    QCOMPARE(Dialogs->Asked().size(), 1);
}

void TestMainWindow::selectorOfMissingServerIsIgnored() {
    SaveOneServer();
    TFormMain form({":5/0", "/p/a.jpg"});
    QVERIFY(!form.AutoUpload());
    QCOMPARE(PathsOf(form.Files()), QStringList{"/p/a.jpg"});
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->currentText(), QStringLiteral("/default"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(50);
    QVERIFY(Dialogs->Asked().isEmpty());
}

void TestMainWindow::masterPasswordEntryShownWhileLocked() {
    SaveOneServer("master");
    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Cancel);
    TFormMain form({});
    auto* reload = Control<QAction>(form, "MenuReload");
    QVERIFY(form.Cfg().CredentialsLocked);
    QVERIFY(reload->isVisible());
    QCOMPARE(form.Cfg().Servers.at(0)[Username], QString());

    const QString question = "This will reload all data from the configuration file, discarding "
                             "any changes you may have made. Are you sure?";
    Dialogs->ExpectMessage(question, TMsgAnswer::No);
    reload->trigger();
    QVERIFY(reload->isVisible());

    Dialogs->ExpectMessage(question, TMsgAnswer::Yes);
    Dialogs->ExpectMasterPassword(TMasterPassMode::Eingabe, TMasterPassResult::Ok, "master");
    reload->trigger();
    QVERIFY(!reload->isVisible());
    QCOMPARE(form.Cfg().Servers.at(0)[Username], QStringLiteral("user"));
}

void TestMainWindow::closingSavesConfiguration() {
    TFormMain form({});
    form.Cfg().StoreServer("saved.example.org", "", "", "", "", "", "", "", -1, -1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.close());
    QVERIFY(ProgramDir->ReadFile("config.xml").contains("saved.example.org"));
}

void TestMainWindow::failedSaveIsReportedAndWindowCloses() {
    ProgramDir->SetStoredProgramDir(ProgramDir->FilePath("missing/folder"));
    TFormMain form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Dialogs->ExpectMessageMatching("The configuration could not be saved to \".*/missing/folder/"
                                   "config.xml\": .+");
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
