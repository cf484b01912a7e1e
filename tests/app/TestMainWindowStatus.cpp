#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "platform/Error.h"

#include <QActionGroup>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QMenuBar>
#include <QTableWidget>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;

namespace {

// Collects the addresses the program asks the desktop to open.
class TUrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl& url) { Opened.append(url); }
};

QMenu* MenuNamed(const QWidget& form, const QString& caption) {
    for (QAction* action : Control<QMenuBar>(form, "MainMenu1")->actions())
        if (action->text() == caption)
            return action->menu();
    return nullptr;
}

QList<QAction*> ServerEntries(const QWidget& form) {
    QList<QAction*> entries;
    for (QAction* action : MenuNamed(form, "&Servers")->actions())
        if (action->isCheckable())
            entries.append(action);
    return entries;
}

QString StatusText(const QWidget& form) {
    return Control<QLabel>(form, "StatusServer")->text();
}
QString DetailText(const QWidget& form) {
    return Control<QLabel>(form, "StatusDetail")->text();
}
QString Directory(const QWidget& form) {
    return Control<QComboBox>(form, "CSubdir")->currentText();
}

QColor PanelPixel(const QWidget& form, int x, int y) {
    return Control<QWidget>(form, "StatusProgress")->grab().toImage().pixelColor(x, y);
}

} // namespace

class TestMainWindowStatus : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serversMenuListsLiveServersByIndex();
    void serversMenuNeedsItsMenu();
    void statusUpdatesDoNotPileUpMenuEntries();
    void choosingServerReplacesDefaultDirectory();
    void typedDirectorySurvivesServerSwitch();
    void invalidServerShowsSelectServer();
    void statusAndDetailTexts();
    void uploadStatusIndexes();
    void captionFollowsFileProgressAtMostFiveTimesASecond();
    void speedIsSampledOverJustOverASecond();
    void newFileResetsFileBar();
    void helpMenuOpensWebPages();
    void aboutBoxIsReused();
    void screenshot();

private:
    // Servers "Zero", "One" (deleted) and "Two", with default directories "/zero", "/one"
    // and "/two"; "Two" has the folders "/two/a" and "/two/b".
    void SaveThreeServers(qint32 current);

    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    qint64 Now = 10000;
};

void TestMainWindowStatus::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
}

void TestMainWindowStatus::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    ProgramDir.reset();
}

void TestMainWindowStatus::SaveThreeServers(qint32 current) {
    TCfg cfg;
    for (const char* name : {"zero", "one", "two"})
        cfg.StoreServer(QString::fromLatin1(name) + ".example.org", "", "", "", "",
                        "/" + QString::fromLatin1(name), "", "", -1, -1);
    cfg.ServerNames = QStringList{"Zero", "One", "Two"};
    cfg.SetFolder(-1, 2, "/two/a");
    cfg.SetFolder(-1, 2, "/two/b");
    cfg.DeleteServer(1);
    cfg.SetSetting("DefaultServer", TSettingValue::Integer(current));
    cfg.SaveConfig();
    // The deleted server is gone from the file; the third is now at index 1.
}

void TestMainWindowStatus::serversMenuListsLiveServersByIndex() {
    TFormMain form({});
    TCfg& cfg = form.Cfg();
    for (const char* name : {"zero", "one", "two"})
        cfg.StoreServer(QString::fromLatin1(name), "", "", "", "", "", "", "", -1, -1);
    cfg.ServerNames = QStringList{"Zero", "One", "Two"};
    cfg.DeleteServer(1);
    cfg.CurrentServer = 2;
    form.BuildServersMenu();

    const QList<QAction*> entries = ServerEntries(form);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0]->text(), QStringLiteral("Zero"));
    QCOMPARE(entries[0]->data().toInt(), 0);
    QCOMPARE(entries[1]->data().toInt(), 2);
    QVERIFY(!entries[0]->isChecked());
    QVERIFY(entries[1]->isChecked());
    QVERIFY(entries[0]->actionGroup() && entries[0]->actionGroup()->isExclusive());
    QCOMPARE(MenuNamed(form, "&Servers")->actions().first()->text(),
             QStringLiteral("&Manage Servers..."));
    QVERIFY(MenuNamed(form, "&Servers")->actions().at(1)->isSeparator());
}

void TestMainWindowStatus::serversMenuNeedsItsMenu() {
    TFormMain form({});
    auto* bar = Control<QMenuBar>(form, "MainMenu1");
    bar->removeAction(MenuNamed(form, "&Servers")->menuAction());
    try {
        form.BuildServersMenu();
        QFAIL("no error without the Servers menu");
    } catch (const TError& error) {
        QCOMPARE(error.Message(), QStringLiteral("Server menu not found."));
    }
}

void TestMainWindowStatus::statusUpdatesDoNotPileUpMenuEntries() {
    SaveThreeServers(0);
    TFormMain form({});
    const QMenu* servers = MenuNamed(form, "&Servers");
    // During a run control never gets back to the main event loop, so entries released
    // there would stay until the run ends; status updates come for every file.
    const qsizetype before = servers->findChildren<QObject*>().size();
    for (int file = 0; file < 500; ++file)
        form.UploadStatus(QStringLiteral("file%1.jpg").arg(file), 0);
    QCOMPARE(servers->findChildren<QObject*>().size(), before);
    QCOMPARE(ServerEntries(form).size(), 2);

    // A change shows at the next refresh.
    form.Cfg().ServerNames[0] = "Renamed";
    form.UploadStatus("next.jpg", 0);
    QCOMPARE(ServerEntries(form).first()->text(), QStringLiteral("Renamed"));
}

void TestMainWindowStatus::choosingServerReplacesDefaultDirectory() {
    SaveThreeServers(0);
    TFormMain form({});
    QCOMPARE(Directory(form), QStringLiteral("/zero"));
    QCOMPARE(StatusText(form), QStringLiteral("Zero: Ready"));
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->count(), 0);

    ServerEntries(form).at(1)->trigger();
    QCOMPARE(form.Cfg().CurrentServer, 1);
    QCOMPARE(Directory(form), QStringLiteral("/two"));
    QCOMPARE(StatusText(form), QStringLiteral("Two: Ready"));
    auto* list = Control<QComboBox>(form, "CSubdir");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(0), QStringLiteral("/two/a"));
    QCOMPARE(list->itemText(1), QStringLiteral("/two/b"));
    QVERIFY(ServerEntries(form).at(1)->isChecked());
    QVERIFY(!ServerEntries(form).at(0)->isChecked());
}

void TestMainWindowStatus::typedDirectorySurvivesServerSwitch() {
    SaveThreeServers(0);
    TFormMain form({});
    Control<QComboBox>(form, "CSubdir")->setEditText("/typed");
    ServerEntries(form).at(1)->trigger();
    QCOMPARE(Directory(form), QStringLiteral("/typed"));

    // Letter case counts: "/ZERO" is not the default "/zero".
    Control<QComboBox>(form, "CSubdir")->setEditText("/TWO");
    ServerEntries(form).at(0)->trigger();
    QCOMPARE(Directory(form), QStringLiteral("/TWO"));
}

void TestMainWindowStatus::invalidServerShowsSelectServer() {
    SaveThreeServers(7);
    TFormMain form({});
    QCOMPARE(form.Cfg().CurrentServer, 7);
    QCOMPARE(StatusText(form), QStringLiteral("<Select Server>"));
    QCOMPARE(Directory(form), QString());
    QCOMPARE(Control<QComboBox>(form, "CSubdir")->count(), 0);
    for (const QAction* entry : ServerEntries(form))
        QVERIFY(!entry->isChecked());
    form.RefreshServerDisplay("Connecting", "9.99 KB/s");
    QCOMPARE(StatusText(form), QStringLiteral("<Select Server>"));
    QCOMPARE(DetailText(form), QString());
}

void TestMainWindowStatus::statusAndDetailTexts() {
    SaveThreeServers(0);
    TFormMain form({});
    form.RefreshServerDisplay("Connecting", "1.00 KB/s");
    QCOMPARE(StatusText(form), QStringLiteral("Zero: Connecting"));
    QCOMPARE(DetailText(form), QStringLiteral("1.00 KB/s"));
    form.RefreshServerDisplay(QString(), QString());
    QCOMPARE(StatusText(form), QStringLiteral("Zero: Ready"));
    QCOMPARE(DetailText(form), QStringLiteral("1.00 KB/s"));
    form.RefreshServerDisplay(QString(), " ");
    QCOMPARE(DetailText(form), QStringLiteral(" "));
}

void TestMainWindowStatus::uploadStatusIndexes() {
    SaveThreeServers(0);
    QStringList files;
    for (int i = 0; i < 20; ++i)
        files.append(QStringLiteral("/p/file%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    TFormMain form(files);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    form.UploadStatus("file12.jpg", 12);
    QCOMPARE(StatusText(form), QStringLiteral("Zero: file12.jpg"));
    auto* grid = Control<QTableWidget>(form, "StringFiles");
    QCOMPARE(grid->rowAt(0), 12);

    form.setWindowTitle("Quaddle ( 37% | 12% )");
    form.UploadStatus("Uploading thumbnail...", -2);
    QCOMPARE(StatusText(form), QStringLiteral("Zero: Uploading thumbnail..."));
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle ( 37% | 12% )"));

    form.UploadStatus(QString(), -1);
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(QApplication::applicationDisplayName(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(StatusText(form), QStringLiteral("Zero: Ready"));

    form.RefreshServerDisplay("Connecting", QString());
    form.setWindowTitle("busy");
    form.UploadStatus(QString(), -3);
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(StatusText(form), QStringLiteral("Zero: Connecting"));
}

void TestMainWindowStatus::captionFollowsFileProgressAtMostFiveTimesASecond() {
    TFormMain form({});
    form.SetClock([this] { return Now; });
    QList<qint64> changedAt;
    connect(&form, &QWidget::windowTitleChanged, this, [&] { changedAt.append(Now); });

    const qint64 size = 1000000;
    form.UploadProgress("big.bin", 0, 0);
    QString lastCaption = form.windowTitle();
    for (int step = 1; step <= 200; ++step) {
        Now += 50;
        form.UploadProgress("big.bin", size, size * step / 200);
        if (form.windowTitle() != lastCaption) {
            lastCaption = form.windowTitle();
            QVERIFY2(lastCaption.startsWith("Quaddle ( ") && lastCaption.endsWith("% | 0% )"),
                     qPrintable(lastCaption));
        }
    }
    // The last steps come too soon after the last update to be shown.
    const int lastPercent = form.windowTitle().section(' ', 2, 2).chopped(1).toInt();
    QVERIFY2(lastPercent >= 97 && lastPercent < 100, qPrintable(form.windowTitle()));
    QVERIFY(changedAt.size() >= 35);
    for (qsizetype i = 1; i < changedAt.size(); ++i)
        QVERIFY(changedAt[i] - changedAt[i - 1] > 200);

    // Half a percent after the last shown value is not enough, however long it takes.
    TFormMain slow({});
    slow.SetClock([this] { return Now; });
    slow.UploadProgress("slow.bin", 0, 0);
    Now += 1000;
    slow.UploadProgress("slow.bin", 1000, 20);
    QCOMPARE(slow.windowTitle(), QStringLiteral("Quaddle ( 2% | 0% )"));
    Now += 1000;
    slow.UploadProgress("slow.bin", 1000, 25);
    QCOMPARE(slow.windowTitle(), QStringLiteral("Quaddle ( 2% | 0% )"));
    Now += 1000;
    slow.UploadProgress("slow.bin", 1000, 31);
    QCOMPARE(slow.windowTitle(), QStringLiteral("Quaddle ( 3% | 0% )"));
}

void TestMainWindowStatus::speedIsSampledOverJustOverASecond() {
    SaveThreeServers(0);
    TFormMain form({});
    form.SetClock([this] { return Now; });
    form.UploadProgress("a.jpg", 0, 0);
    Now += 1000;
    form.UploadProgress("a.jpg", 10 << 20, 512 * 1024);
    QCOMPARE(DetailText(form), QString());

    Now += 1;
    form.UploadProgress("a.jpg", 10 << 20, 1024 * 1024);
    QCOMPARE(DetailText(form), QStringLiteral("1022.97 KB/s"));
    QCOMPARE(StatusText(form), QStringLiteral("Zero: a.jpg"));

    // A long pause between two reports averages over the whole of it.
    Now += 5000;
    form.UploadProgress("a.jpg", 10 << 20, 1024 * 1024 + 512 * 1024);
    QCOMPARE(DetailText(form), QStringLiteral("102.40 KB/s"));
}

void TestMainWindowStatus::newFileResetsFileBar() {
    TFormMain form({});
    form.SetClock([this] { return Now; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QColor background = PanelPixel(form, 99, 10);

    form.UploadProgress("a.jpg", 0, 0);
    Now += 300;
    form.UploadProgress("a.jpg", 100, 50);
    QVERIFY(PanelPixel(form, 10, 10) != background);
    QCOMPARE(PanelPixel(form, 60, 10), background);
    // No upload is running, so there is no overall bar.
    QCOMPARE(PanelPixel(form, 10, 2), background);

    form.UploadProgress("b.jpg", 0, 0);
    QCOMPARE(PanelPixel(form, 10, 10), background);
}

void TestMainWindowStatus::helpMenuOpensWebPages() {
    TUrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "Open");
    QDesktopServices::setUrlHandler("mailto", &recorder, "Open");
    TFormMain form({});
    Control<QAction>(form, "MenuUpdates")->trigger();
    Control<QAction>(form, "MenuSupport")->trigger();
    Control<QAction>(form, "MenuWebsite")->trigger();
    form.AboutClick();
    auto* about = form.findChild<QDialog*>();
    QVERIFY(about);
    emit Control<QLabel>(*about, "LMail")->linkActivated("mailto:author@quaddle.example.org");
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");

    QCOMPARE(recorder.Opened,
             (QList<QUrl>{QUrl("https://quaddle.example.org/index.php/check=0.7.1/download.html"),
                          QUrl("https://quaddle.example.org/forums/"),
                          QUrl("https://quaddle.example.org/"),
                          QUrl("mailto:author@quaddle.example.org")}));
}

void TestMainWindowStatus::aboutBoxIsReused() {
    TFormMain form({});
    form.show();
    form.AboutClick();
    const QList<QDialog*> first = form.findChildren<QDialog*>();
    QCOMPARE(first.size(), 1);
    QDialog* about = first.first();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QVERIFY(!about->isModal());
    QCOMPARE(about->windowTitle(), QStringLiteral("About"));
    QCOMPARE(Control<QLabel>(*about, "LHeading")->text(), QStringLiteral("Quaddle 0.7.1"));
    QVERIFY(Control<QLabel>(*about, "LWebsite")->text().contains("https://quaddle.example.org/"));
    QVERIFY(Control<QWidget>(*about, "ListDonators")->isVisible());
    about->close();
    form.AboutClick();
    QCOMPARE(form.findChildren<QDialog*>(), first);
    QVERIFY(about->isVisible());
}

void TestMainWindowStatus::screenshot() {
    SaveThreeServers(1);
    TFormMain form({"/pics/holiday/beach.jpg", "/pics/holiday/sunset.jpg", "/docs/notes.txt"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage image = form.grab().toImage();
    QVERIFY(image.width() >= 394 && image.height() >= 176);
    QVERIFY(image.save(QStringLiteral(QT_TESTCASE_BUILDDIR "/FormMain.png")));
}

QTEST_MAIN(TestMainWindowStatus)
#include "TestMainWindowStatus.moc"
