#include "FileDrop.h"
#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "UrlRecorder.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "configwindow/ConfigWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QTableWidget>
#include <QTcpServer>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <memory>

using namespace quaddle;
using quaddle::test::control;
using quaddle::test::dropFiles;
using quaddle::test::UrlRecorder;

namespace {

QStringList gridTexts(const QWidget& form) {
    auto* grid = control<QTableWidget>(form, "fileTable");
    QStringList texts;
    for (int row = 0; row < grid->rowCount(); ++row)
        texts.append(grid->item(row, 0) ? grid->item(row, 0)->text() : QString());
    return texts;
}

QStringList pathsOf(const FileList& files) {
    QStringList paths;
    for (const FileEntry& entry : files)
        paths.append(entry.path);
    return paths;
}

QStringList entryTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QMenu* menuNamed(const QWidget& form, const QString& caption) {
    for (QAction* action : control<QMenuBar>(form, "mainMenu")->actions())
        if (action->text() == caption)
            return action->menu();
    return nullptr;
}

} // namespace

class TestMainWindow : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlsGrowWithTheWindow();
    void sizeAndPlaceAreRemembered();
    void keyboardShortcuts();
    void noServerOffersToAddOne();
    void addAServerOpensTheManagerOnANewEntry();
    void uploadNeedsAFileAndAServer_data();
    void uploadNeedsAFileAndAServer();
    void menusHaveTheirEntriesAndSeparators();
    void everyMenuEntryHasItsOwnMnemonic();
    void optionsOpenFromTheKeyboardOnTheFirstControl();
    void commandLineFilesAreListedSorted();
    void emptyListShowsAHint();
    void droppedFilesAreAddedSorted();
    void dropOnRemoteDirectoryAddsFilesNotText();
    void pasteAddsCopiedFilesOrImage();
    void addFilesAppendsChosenFiles();
    void cancelledAddLeavesListAlone();
    void removeDeletesSelectedEntry();
    void removeOnEmptyListDoesNothing();
    void enterPressesUpload();
    void enterPressesTheFocusedButton();
    void controlsSwitchBetweenIdleAndRunning();
    void selectorArmsUploadThatFiresOnce();
    void selectorOfMissingServerIsIgnored();
    void masterPasswordEntryShownWhileLocked();
    void quitAtThePasswordPromptEndsTheStart();
    void closingSavesConfiguration();
    void failedSaveIsReportedAndWindowCloses();

private:
};

void TestMainWindow::init() {
    startTest();
}

void TestMainWindow::cleanup() {
    finishTest();
}

void TestMainWindow::controlsGrowWithTheWindow() {
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));
    QVERIFY(form.minimumWidth() >= 394 && form.minimumHeight() >= 194);
    QVERIFY(form.maximumSize() != form.minimumSize());
    QCOMPARE(control<QPushButton>(form, "addFilesButton")->text(), QStringLiteral("Add File(s)"));
    QCOMPARE(control<QPushButton>(form, "removeFileButton")->text(), QStringLiteral("Remove"));
    auto* directory = control<QComboBox>(form, "remoteDirBox");
    QVERIFY(directory->isEditable());
    QCOMPARE(directory->toolTip(),
             QStringLiteral("Directory to upload to. Usually, you can leave this blank."));
    // Ctrl+V right after start adds copied files to the list.
    QVERIFY(control<QTableWidget>(form, "fileTable")->hasFocus());

    auto* upload = control<QPushButton>(form, "uploadButton");
    auto* cancel = control<QPushButton>(form, "cancelButton");
    // Nothing to upload and nowhere to: Upload waits for both.
    QVERIFY(upload->isVisible() && !upload->isEnabled());
    QVERIFY(!cancel->isVisible() && !cancel->isEnabled());
    QCOMPARE(upload->nextInFocusChain(), control<QTableWidget>(form, "fileTable"));
    QCOMPARE(control<QLabel>(form, "serverLabel")->text(), QStringLiteral("<Select Server>"));

    // The file list and the directory box take the room a larger window gives.
    auto* table = control<QTableWidget>(form, "fileTable");
    const QSize tableBefore = table->size();
    const int directoryBefore = directory->width();
    form.resize(form.size() + QSize(200, 150));
    QTRY_COMPARE(table->size(), tableBefore + QSize(200, 150));
    QCOMPARE(directory->width(), directoryBefore + 200);
    QCOMPARE(table->columnWidth(0), table->viewport()->width());
    const QLayout* client = form.centralWidget()->layout();
    QCOMPARE(upload->geometry().right(),
             form.centralWidget()->width() - 1 - client->contentsMargins().right());
}

void TestMainWindow::sizeAndPlaceAreRemembered() {
    QRect placed;
    {
        MainWindow first({});
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        // The first start finds nothing stored and opens in the middle of the screen.
        QVERIFY((first.geometry().center() - screen.center()).manhattanLength() <= 2);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        first.setGeometry(QRect(first.pos() + QPoint(20, 10), first.size() + QSize(120, 80)));
        placed = first.geometry();
        QVERIFY(first.close());
    }
    const MainWindow next({});
    QCOMPARE(next.geometry(), placed);
}

void TestMainWindow::keyboardShortcuts() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    MainWindow form({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/d.jpg"});
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));

    m_dialogs->expectFileChoice("Select File(s) to upload", {"/p/e.jpg"});
    QTest::keySequence(&form, QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(gridTexts(form), (QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}));

    // Delete takes every selected file, and only where the list has the focus.
    auto* table = control<QTableWidget>(form, "fileTable");
    table->setFocus();
    table->clearSelection();
    table->setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 0), true);
    table->setRangeSelected(QTableWidgetSelectionRange(2, 0, 3, 0), true);
    QTest::keyClick(table, Qt::Key_Delete);
    QCOMPARE(pathsOf(form.files()), (QStringList{"/p/b.jpg", "/p/e.jpg"}));
    QCOMPARE(table->item(1, 0)->toolTip(), QStringLiteral("/p/e.jpg"));
    auto* directory = control<QComboBox>(form, "remoteDirBox");
    directory->setFocus();
    directory->setEditText("/pictures");
    directory->lineEdit()->setCursorPosition(0);
    QTest::keyClick(directory, Qt::Key_Delete);
    QCOMPARE(directory->currentText(), QStringLiteral("pictures"));
    QCOMPARE(form.files().size(), 2);

    QTest::keyClick(&form, Qt::Key_F1);
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(recorder.opened, QList<QUrl>{QUrl("https://quaddle.example.org/forums/")});

    QTest::keySequence(&form, QKeySequence(Qt::CTRL | Qt::Key_Q));
    QVERIFY(!form.isVisible());
}

void TestMainWindow::noServerOffersToAddOne() {
    MainWindow form({"/p/a.jpg"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString offer = "No server is set up yet. Add one now?";

    // The window says so itself, and Upload waits for a server instead of failing.
    auto* upload = control<QPushButton>(form, "uploadButton");
    QVERIFY(control<QWidget>(form, "noServerBar")->isVisible());
    QCOMPARE(control<QLabel>(form, "noServerBarLabel")->text(),
             QStringLiteral("No server is set up yet."));
    QVERIFY(!upload->isEnabled());
    QTest::mouseClick(upload, Qt::LeftButton);
    QTest::keyClick(control<QComboBox>(form, "remoteDirBox"), Qt::Key_Return);
    QVERIFY(m_dialogs->asked().isEmpty());

    // The status bar's "<Select Server>" offers one too, through a question.
    m_dialogs->expectMessage(offer, MessageAnswer::No);
    QTest::mouseClick(control<QLabel>(form, "serverLabel"), Qt::LeftButton);
    QCOMPARE(m_dialogs->asked().last().buttons, MessageButtons::YesNo);
    QVERIFY(!form.findChild<ConfigWindow*>());
    m_dialogs->expectMessage(offer, MessageAnswer::Yes);
    QTest::mouseClick(control<QLabel>(form, "serverLabel"), Qt::LeftButton);
    auto* manager = form.findChild<ConfigWindow*>();
    QVERIFY(manager && manager->isVisible());
    QVERIFY(control<QWidget>(*manager, "serverPage")->isVisible());
    QCOMPARE(form.config().serverNames, QStringList{"New Server"});
    auto* tree = control<QTreeWidget>(*manager, "serverTree");
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("New Server"));
    QCOMPARE(control<QLineEdit>(*manager, "nameEdit")->text(), QStringLiteral("New Server"));
    manager->close();
}

void TestMainWindow::addAServerOpensTheManagerOnANewEntry() {
    MainWindow form({"/p/a.jpg"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* add = control<QPushButton>(form, "addServerButton");
    QCOMPARE(add->text(), QStringLiteral("Add a server\u2026"));
    QTest::mouseClick(add, Qt::LeftButton);
    auto* manager = form.findChild<ConfigWindow*>();
    QVERIFY(manager && manager->isVisible());
    QVERIFY(control<QWidget>(*manager, "serverPage")->isVisible());
    auto* tree = control<QTreeWidget>(*manager, "serverTree");
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("New Server"));
    // A new entry is no server yet: the offer stays until it is saved with its host.
    QVERIFY(control<QWidget>(form, "noServerBar")->isVisible());
    QVERIFY(!control<QPushButton>(form, "uploadButton")->isEnabled());

    control<QLineEdit>(*manager, "hostEdit")->setText("ftp.example.org");
    QTest::mouseClick(control<QPushButton>(*manager, "saveServerButton"), Qt::LeftButton);
    QVERIFY(!control<QWidget>(form, "noServerBar")->isVisible());
    // The server just added is the one uploads go to.
    QCOMPARE(form.config().currentServer, 0);
    QCOMPARE(control<QLabel>(form, "serverLabel")->text(), QStringLiteral("New Server: Ready"));
    QVERIFY(control<QPushButton>(form, "uploadButton")->isEnabled());
    manager->close();
}

void TestMainWindow::menusHaveTheirEntriesAndSeparators() {
    const MainWindow form({});
    QCOMPARE(
        entryTexts(menuNamed(form, "&File")),
        (QStringList{"&Add File(s)...", "Pa&ste", "&Take Screenshot...", "Screenshot and &Files...",
                     "-", "Enter Master &Password", "&History...", "&Options...", "-", "&Quit"}));
    QVERIFY(!control<QAction>(form, "reloadAction")->isVisible());
    QCOMPARE(control<QAction>(form, "screenshotAction")->shortcut(),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QCOMPARE(entryTexts(menuNamed(form, "&Help")),
             (QStringList{"&Look For Updates...", "&Support Forums...", "Quaddle &Website...", "-",
                          "&About Quaddle"}));
    const QMenu* servers = menuNamed(form, "&Servers");
    QCOMPARE(entryTexts(servers), (QStringList{"&Manage Servers...", "-", "No servers found"}));
    QVERIFY(!servers->actions().last()->isEnabled());
}

void TestMainWindow::everyMenuEntryHasItsOwnMnemonic() {
    const MainWindow form({});
    QList<QChar> menuLetters;
    for (const QAction* menuEntry : control<QMenuBar>(form, "mainMenu")->actions()) {
        menuLetters.append(QChar(QKeySequence::mnemonic(menuEntry->text())[0].key()));
        QList<QChar> letters;
        for (const QAction* action : menuEntry->menu()->actions()) {
            // A disabled notice ("No servers found") is nothing to choose.
            if (action->isSeparator() || !action->isEnabled())
                continue;
            const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
            QVERIFY2(!mnemonic.isEmpty(), qPrintable(action->text()));
            letters.append(QChar(mnemonic[0].key()));
        }
        QVERIFY(!letters.isEmpty());
        QCOMPARE(QSet<QChar>(letters.begin(), letters.end()).size(), letters.size());
    }
    QCOMPARE(menuLetters.size(), 3);
    QCOMPARE(QSet<QChar>(menuLetters.begin(), menuLetters.end()).size(), 3);
    QCOMPARE(control<QAction>(form, "optionsAction")->shortcut(),
             QKeySequence(Qt::CTRL | Qt::Key_Comma));
}

void TestMainWindow::optionsOpenFromTheKeyboardOnTheFirstControl() {
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_Comma, Qt::ControlModifier);
    auto* options = form.findChild<ConfigWindow*>();
    QVERIFY(options && options->isVisible());
    QVERIFY(control<QWidget>(*options, "optionsPage")->isVisible());
    // The first option takes the keys once the window is active, and Tab goes on to the next.
    auto* first = control<QComboBox>(*options, "settingDefaultServer");
    QCOMPARE(options->focusWidget(), first);
    QApplication::setActiveWindow(options);
    QCOMPARE(QApplication::focusWidget(), first);
    QTest::keyClick(first, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(*options, "settingAutoCopy"));
    options->close();
}

void TestMainWindow::commandLineFilesAreListedSorted() {
    const MainWindow form({"/p/b.png", "/q/A.jpg", "/p/b.png"});
    QCOMPARE(pathsOf(form.files()), (QStringList{"/p/b.png", "/p/b.png", "/q/A.jpg"}));
    for (const FileEntry& entry : form.files())
        QCOMPARE(entry.thumbnail, QString());
    QCOMPARE(gridTexts(form), (QStringList{"b.png", "b.png", "A.jpg"}));
    QVERIFY(!form.autoUpload());
}

void TestMainWindow::emptyListShowsAHint() {
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.files().isEmpty());
    QCOMPARE(gridTexts(form), QStringList());
    auto* hint = control<QLabel>(form, "emptyHint");
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(), QStringLiteral("Drop files here or use Add File(s)"));
    QVERIFY(dropFiles(&form, {"/p/a.jpg"}));
    QVERIFY(!hint->isVisible());
}

void TestMainWindow::droppedFilesAreAddedSorted() {
    MainWindow form({"/m/middle.gif"});
    QVERIFY(dropFiles(&form, {"/B/a.jpg", "/A/b.JPG", "/c/x|y.png"}));
    QCOMPARE(pathsOf(form.files()),
             (QStringList{"/A/b.JPG", "/B/a.jpg", "/c/x|y.png", "/m/middle.gif"}));
    QCOMPARE(gridTexts(form), (QStringList{"b.JPG", "a.jpg", "x|y.png", "middle.gif"}));
}

void TestMainWindow::dropOnRemoteDirectoryAddsFilesNotText() {
    MainWindow form({});
    auto* edit = control<QComboBox>(form, "remoteDirBox")->lineEdit();
    QVERIFY(dropFiles(edit, {"/p/one.jpg"}));
    QCOMPARE(pathsOf(form.files()), QStringList{"/p/one.jpg"});
    QCOMPARE(edit->text(), QString());
}

void TestMainWindow::pasteAddsCopiedFilesOrImage() {
    MainWindow form({"/m/middle.gif"});
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto* list = new QMimeData;
    list->setUrls({QUrl::fromLocalFile("/p/b c.txt"), QUrl("https://example.org/x.jpg"),
                   QUrl::fromLocalFile("/p/a|b.jpg")});
    list->setText("file:///p/b%20c.txt");
    QApplication::clipboard()->setMimeData(list);
    // Right after start Ctrl+V goes to the list.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pathsOf(form.files()), (QStringList{"/m/middle.gif", "/p/a|b.jpg", "/p/b c.txt"}));

    // In the remote directory field copied files still join the list, text is pasted as text.
    QLineEdit* edit = control<QComboBox>(form, "remoteDirBox")->lineEdit();
    edit->setFocus();
    auto* again = new QMimeData;
    again->setUrls({QUrl::fromLocalFile("/p/d.txt")});
    again->setText("file:///p/d.txt");
    QApplication::clipboard()->setMimeData(again);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QString());
    QCOMPARE(form.files().size(), 4);
    QApplication::clipboard()->setText("pics/2024");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("pics/2024"));
    QCOMPARE(form.files().size(), 4);
    m_dialogs->expectMessage("The clipboard holds neither files nor an image.");
    control<QAction>(form, "pasteAction")->trigger();
    QCOMPARE(form.files().size(), 4);

    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(qRgba(10, 200, 30, 128));
    for (int paste = 0; paste < 2; ++paste) {
        QApplication::clipboard()->setImage(image);
        control<QAction>(form, "pasteAction")->trigger();
        QCOMPARE(form.files().size(), 5 + paste);
    }
    QStringList saved;
    for (const FileEntry& entry : form.files())
        if (entry.path.endsWith(".png"))
            saved.append(entry.path);
    QCOMPARE(saved.size(), 2);
    QVERIFY(saved[0] != saved[1]);
    for (const QString& path : saved) {
        QVERIFY2(QRegularExpression("/clipboard-\\d{8}-\\d{6}(-2)?\\.png$").match(path).hasMatch(),
                 qPrintable(path));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_ARGB32), image);
        const QFileInfo folder(QFileInfo(path).path());
        QCOMPARE(folder.permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther | QFile::ExeGroup),
                 QFile::Permissions());
    }
}

void TestMainWindow::addFilesAppendsChosenFiles() {
    MainWindow form({"/p/m.jpg"});
    m_dialogs->expectFileChoice("Select File(s) to upload", {"/p/z.jpg", "/p/a.jpg"});
    QTest::mouseClick(control<QPushButton>(form, "addFilesButton"), Qt::LeftButton);
    QCOMPARE(pathsOf(form.files()), (QStringList{"/p/a.jpg", "/p/m.jpg", "/p/z.jpg"}));
    QCOMPARE(gridTexts(form), (QStringList{"a.jpg", "m.jpg", "z.jpg"}));
}

void TestMainWindow::cancelledAddLeavesListAlone() {
    MainWindow form({"/p/b.jpg", "/p/a.jpg"});
    m_dialogs->expectFileChoice("Select File(s) to upload", {});
    QTest::mouseClick(control<QPushButton>(form, "addFilesButton"), Qt::LeftButton);
    QCOMPARE(pathsOf(form.files()), (QStringList{"/p/a.jpg", "/p/b.jpg"}));
    QCOMPARE(gridTexts(form), (QStringList{"a.jpg", "b.jpg"}));
}

void TestMainWindow::removeDeletesSelectedEntry() {
    MainWindow form({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"});
    control<QTableWidget>(form, "fileTable")->selectRow(1);
    QTest::mouseClick(control<QPushButton>(form, "removeFileButton"), Qt::LeftButton);
    QCOMPARE(pathsOf(form.files()), (QStringList{"/p/a.jpg", "/p/c.jpg"}));
    QCOMPARE(gridTexts(form), (QStringList{"a.jpg", "c.jpg"}));

    control<QTableWidget>(form, "fileTable")->selectRow(1);
    QTest::mouseClick(control<QPushButton>(form, "removeFileButton"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(form, "removeFileButton"), Qt::LeftButton);
    QVERIFY(form.files().isEmpty());
    QCOMPARE(gridTexts(form), QStringList());
}

void TestMainWindow::removeOnEmptyListDoesNothing() {
    MainWindow form({});
    control<QTableWidget>(form, "fileTable")->selectRow(0);
    QTest::mouseClick(control<QPushButton>(form, "removeFileButton"), Qt::LeftButton);
    QVERIFY(form.files().isEmpty());
    QCOMPARE(gridTexts(form), QStringList());
}

void TestMainWindow::enterPressesUpload() {
    // A server nothing listens on: the run that Enter starts ends at connecting.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    Config config;
    config.storeServer("127.0.0.1", QString::number(port), "user", "pw", "", "", "", "", -1, -1);
    config.setSetting("DefaultServer", SettingValue::integer(0));
    config.saveConfig();
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // With nothing to upload, Enter does nothing.
    QTest::keyClick(control<QComboBox>(form, "remoteDirBox"), Qt::Key_Return);
    QVERIFY(m_dialogs->asked().isEmpty());

    QVERIFY(dropFiles(&form, {"/p/a.txt"}));
    m_dialogs->expectMessageMatching("A fatal error occurred: \nCould not connect.*");
    QTest::keyClick(control<QComboBox>(form, "remoteDirBox"), Qt::Key_Return);
    QCOMPARE(m_dialogs->asked().size(), 1);
    QCOMPARE(m_dialogs->asked().first().kind, MessageKind::Error);
}

void TestMainWindow::uploadNeedsAFileAndAServer_data() {
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<int>("servers");
    QTest::addColumn<qint32>("current");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("file, no server") << true << 0 << -1 << false;
    QTest::newRow("file, server not chosen") << true << 1 << -1 << false;
    QTest::newRow("file, chosen server gone") << true << 1 << 3 << false;
    QTest::newRow("file and server") << true << 2 << 1 << true;
    QTest::newRow("server, no file") << false << 1 << 0 << false;
}

void TestMainWindow::uploadNeedsAFileAndAServer() {
    QFETCH(bool, withFile);
    QFETCH(int, servers);
    QFETCH(qint32, current);
    QFETCH(bool, enabled);
    if (servers > 0) {
        Config config;
        for (int i = 0; i < servers; ++i)
            config.storeServer(QStringLiteral("host%1.example.org").arg(i), "", "", "", "", "", "",
                               "", -1, -1);
        config.setSetting("DefaultServer", SettingValue::integer(current));
        config.saveConfig();
    }
    MainWindow form(withFile ? QStringList{"/p/a.jpg"} : QStringList{});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* upload = control<QPushButton>(form, "uploadButton");
    QCOMPARE(upload->isEnabled(), enabled);
    QCOMPARE(control<QWidget>(form, "noServerBar")->isVisible(), servers == 0);

    // The list's changes are followed: removing the last file, then adding one.
    auto* table = control<QTableWidget>(form, "fileTable");
    table->selectRow(0);
    QTest::mouseClick(control<QPushButton>(form, "removeFileButton"), Qt::LeftButton);
    QVERIFY(form.files().isEmpty());
    QVERIFY(!upload->isEnabled());
    QVERIFY(dropFiles(&form, {"/p/b.jpg"}));
    QCOMPARE(upload->isEnabled(), servers > 0 && current >= 0 && current < servers);

    // So is choosing a server in the Servers menu.
    if (servers == 0)
        return;
    QAction* first = nullptr;
    for (QAction* entry : menuNamed(form, "&Servers")->actions())
        if (entry->isCheckable() && !first)
            first = entry;
    QVERIFY(first);
    first->trigger();
    QVERIFY(upload->isEnabled());
}

void TestMainWindow::enterPressesTheFocusedButton() {
    MainWindow form({"/p/b.png", "/p/c.png"});
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    // No server is chosen: Upload pressed by mistake would ask for one.
    auto* add = control<QPushButton>(form, "addFilesButton");
    add->setFocus();
    m_dialogs->expectFileChoice("Select File(s) to upload", {"/p/a.png"});
    QTest::keyClick(add, Qt::Key_Return);
    QCOMPARE(gridTexts(form), (QStringList{"a.png", "b.png", "c.png"}));

    auto* remove = control<QPushButton>(form, "removeFileButton");
    remove->setFocus();
    control<QTableWidget>(form, "fileTable")->selectRow(1);
    QTest::keyClick(remove, Qt::Key_Enter);
    QCOMPARE(gridTexts(form), (QStringList{"a.png", "c.png"}));
    QCOMPARE(m_dialogs->asked().size(), 1);
}

void TestMainWindow::controlsSwitchBetweenIdleAndRunning() {
    Config config;
    config.storeServer("ftp.example.org", "", "", "", "", "", "", "", -1, -1);
    config.setSetting("DefaultServer", SettingValue::integer(0));
    config.saveConfig();
    MainWindow form({"/p/a.jpg"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* upload = control<QPushButton>(form, "uploadButton");
    auto* cancel = control<QPushButton>(form, "cancelButton");
    form.setControlsEnabled(false);
    QVERIFY(!upload->isVisible() && !upload->isEnabled());
    QVERIFY(cancel->isVisible() && cancel->isEnabled());
    QVERIFY(!control<QPushButton>(form, "addFilesButton")->isEnabled());
    QVERIFY(!control<QPushButton>(form, "removeFileButton")->isEnabled());
    // A run's URLs are built from the server and directory it started with.
    QVERIFY(!control<QComboBox>(form, "remoteDirBox")->isEnabled());
    QVERIFY(!menuNamed(form, "&Servers")->menuAction()->isEnabled());
    form.setControlsEnabled(true);
    QVERIFY(upload->isVisible() && upload->isEnabled());
    QVERIFY(!cancel->isVisible() && !cancel->isEnabled());
    QVERIFY(control<QPushButton>(form, "addFilesButton")->isEnabled());
    QVERIFY(control<QComboBox>(form, "remoteDirBox")->isEnabled());
    QVERIFY(menuNamed(form, "&Servers")->menuAction()->isEnabled());
}

namespace {

// Saves a configuration with one server, "/a" and "/b" as its folders and "/default" as its
// default directory; a master password locks it when one is given.
void saveOneServer(const QString& masterPassword = QString()) {
    Config config;
    if (!masterPassword.isEmpty()) {
        config.masterPassword = masterPassword;
        config.setSetting("PH", SettingValue::text(config.hashPassword(masterPassword)));
    }
    config.storeServer("ftp.example.org", "", "user", "pw", "", "/default", "", "", -1, -1);
    config.serverNames[0] = "Example";
    config.setFolder(-1, 0, "/a");
    config.setFolder(-1, 0, "/b");
    config.saveConfig();
}

} // namespace

void TestMainWindow::selectorArmsUploadThatFiresOnce() {
    saveOneServer();
    MainWindow form({":0/1"});
    QVERIFY(form.autoUpload());
    QCOMPARE(form.config().currentServer, 0);
    QCOMPARE(control<QComboBox>(form, "remoteDirBox")->currentText(), QStringLiteral("/b"));

    m_dialogs->expectMessage("There are no files to upload.");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE(m_dialogs->asked().size(), 1);
    QVERIFY(!form.autoUpload());
    form.repaint();
    form.update();
    QTest::qWait(50);
    QCOMPARE(m_dialogs->asked().size(), 1);
}

void TestMainWindow::selectorOfMissingServerIsIgnored() {
    saveOneServer();
    MainWindow form({":5/0", "/p/a.jpg"});
    QVERIFY(!form.autoUpload());
    QCOMPARE(pathsOf(form.files()), QStringList{"/p/a.jpg"});
    QCOMPARE(control<QComboBox>(form, "remoteDirBox")->currentText(), QStringLiteral("/default"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(50);
    QVERIFY(m_dialogs->asked().isEmpty());
}

void TestMainWindow::masterPasswordEntryShownWhileLocked() {
    saveOneServer("master");
    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Cancel);
    MainWindow form({});
    auto* reload = control<QAction>(form, "reloadAction");
    QVERIFY(form.config().credentialsLocked);
    QVERIFY(reload->isVisible());
    QCOMPARE(form.config().servers.at(0).user, QString());

    const QString question = "This will reload all data from the configuration file, discarding "
                             "any changes you may have made. Are you sure?";
    m_dialogs->expectMessage(question, MessageAnswer::No);
    reload->trigger();
    QVERIFY(reload->isVisible());

    m_dialogs->expectMessage(question, MessageAnswer::Yes);
    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok, "master");
    reload->trigger();
    QVERIFY(!reload->isVisible());
    QCOMPARE(form.config().servers.at(0).user, QStringLiteral("user"));
}

void TestMainWindow::quitAtThePasswordPromptEndsTheStart() {
    saveOneServer("master");
    const QByteArray before = m_programDir->readFile("config.xml");
    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Abort);
    {
        const MainWindow form({});
        QVERIFY(form.quitAtStart());
    }
    QCOMPARE(m_programDir->readFile("config.xml"), before);

    m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Cancel);
    const MainWindow declined({});
    QVERIFY(!declined.quitAtStart());
}

void TestMainWindow::closingSavesConfiguration() {
    MainWindow form({});
    form.config().storeServer("saved.example.org", "", "", "", "", "", "", "", -1, -1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.close());
    QVERIFY(m_programDir->readFile("config.xml").contains("saved.example.org"));
}

void TestMainWindow::failedSaveIsReportedAndWindowCloses() {
    m_programDir->setStoredProgramDir(m_programDir->filePath("missing/folder"));
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    m_dialogs->expectMessageMatching("The configuration could not be saved to \".*/missing/folder/"
                                     "config.xml\": .+");
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
