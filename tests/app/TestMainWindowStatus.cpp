#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "UrlRecorder.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "platform/Error.h"

#include <QActionGroup>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace quaddle;
using quaddle::test::control;
using quaddle::test::UrlRecorder;

namespace {

QMenu* menuNamed(const QWidget& form, const QString& caption) {
    for (QAction* action : control<QMenuBar>(form, "mainMenu")->actions())
        if (action->text() == caption)
            return action->menu();
    return nullptr;
}

QList<QAction*> serverEntries(const QWidget& form) {
    QList<QAction*> entries;
    for (QAction* action : menuNamed(form, "&Servers")->actions())
        if (action->isCheckable())
            entries.append(action);
    return entries;
}

QString statusText(const QWidget& form) {
    return control<QLabel>(form, "serverLabel")->text();
}
QString detailText(const QWidget& form) {
    return control<QLabel>(form, "detailLabel")->text();
}
QString directory(const QWidget& form) {
    return control<QComboBox>(form, "remoteDirBox")->currentText();
}

QColor panelPixel(const QWidget& form, int x, int y) {
    return control<QWidget>(form, "progressPanel")->grab().toImage().pixelColor(x, y);
}

} // namespace

class TestMainWindowStatus : public QObject, test::ProgramFixture {
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
    void namesFromOutsideShowAsTyped();
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
    void saveThreeServers(qint32 current);

    qint64 m_now = 10000;
};

void TestMainWindowStatus::init() {
    startTest();
}

void TestMainWindowStatus::cleanup() {
    finishTest();
}

void TestMainWindowStatus::saveThreeServers(qint32 current) {
    Config config;
    for (const char* name : {"zero", "one", "two"})
        config.storeServer(QString::fromLatin1(name) + ".example.org", "", "", "", "",
                           "/" + QString::fromLatin1(name), "", "", -1, -1);
    config.serverNames = QStringList{"Zero", "One", "Two"};
    config.setFolder(-1, 2, "/two/a");
    config.setFolder(-1, 2, "/two/b");
    config.deleteServer(1);
    config.setSetting("DefaultServer", SettingValue::integer(current));
    config.saveConfig();
    // The deleted server is gone from the file; the third is now at index 1.
}

void TestMainWindowStatus::serversMenuListsLiveServersByIndex() {
    MainWindow form({});
    Config& config = form.config();
    for (const char* name : {"zero", "one", "two"})
        config.storeServer(QString::fromLatin1(name), "", "", "", "", "", "", "", -1, -1);
    config.serverNames = QStringList{"Zero", "One", "Two"};
    config.deleteServer(1);
    config.currentServer = 2;
    form.buildServersMenu();

    const QList<QAction*> entries = serverEntries(form);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0]->text(), QStringLiteral("Zero"));
    QCOMPARE(entries[0]->data().toInt(), 0);
    QCOMPARE(entries[1]->data().toInt(), 2);
    QVERIFY(!entries[0]->isChecked());
    QVERIFY(entries[1]->isChecked());
    QVERIFY(entries[0]->actionGroup() && entries[0]->actionGroup()->isExclusive());
    QCOMPARE(menuNamed(form, "&Servers")->actions().first()->text(),
             QStringLiteral("&Manage Servers..."));
    QVERIFY(menuNamed(form, "&Servers")->actions().at(1)->isSeparator());
}

void TestMainWindowStatus::serversMenuNeedsItsMenu() {
    MainWindow form({});
    auto* bar = control<QMenuBar>(form, "mainMenu");
    bar->removeAction(menuNamed(form, "&Servers")->menuAction());
    try {
        form.buildServersMenu();
        QFAIL("no error without the Servers menu");
    } catch (const Error& error) {
        QCOMPARE(error.message(), QStringLiteral("Server menu not found."));
    }
}

void TestMainWindowStatus::statusUpdatesDoNotPileUpMenuEntries() {
    saveThreeServers(0);
    MainWindow form({});
    const QMenu* servers = menuNamed(form, "&Servers");
    // During a run control never gets back to the main event loop, so entries released
    // there would stay until the run ends; status updates come for every file.
    const qsizetype before = servers->findChildren<QObject*>().size();
    for (int file = 0; file < 500; ++file)
        form.uploadStatus(QStringLiteral("file%1.jpg").arg(file), 0);
    QCOMPARE(servers->findChildren<QObject*>().size(), before);
    QCOMPARE(serverEntries(form).size(), 2);

    // A change shows at the next refresh.
    form.config().serverNames[0] = "Renamed";
    form.uploadStatus("next.jpg", 0);
    QCOMPARE(serverEntries(form).first()->text(), QStringLiteral("Renamed"));
}

void TestMainWindowStatus::choosingServerReplacesDefaultDirectory() {
    saveThreeServers(0);
    MainWindow form({});
    QCOMPARE(directory(form), QStringLiteral("/zero"));
    QCOMPARE(statusText(form), QStringLiteral("Zero: Ready"));
    QCOMPARE(control<QComboBox>(form, "remoteDirBox")->count(), 0);

    serverEntries(form).at(1)->trigger();
    QCOMPARE(form.config().currentServer, 1);
    QCOMPARE(directory(form), QStringLiteral("/two"));
    QCOMPARE(statusText(form), QStringLiteral("Two: Ready"));
    auto* list = control<QComboBox>(form, "remoteDirBox");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(0), QStringLiteral("/two/a"));
    QCOMPARE(list->itemText(1), QStringLiteral("/two/b"));
    QVERIFY(serverEntries(form).at(1)->isChecked());
    QVERIFY(!serverEntries(form).at(0)->isChecked());
}

void TestMainWindowStatus::typedDirectorySurvivesServerSwitch() {
    saveThreeServers(0);
    MainWindow form({});
    control<QComboBox>(form, "remoteDirBox")->setEditText("/typed");
    serverEntries(form).at(1)->trigger();
    QCOMPARE(directory(form), QStringLiteral("/typed"));

    // Letter case counts: "/ZERO" is not the default "/zero".
    control<QComboBox>(form, "remoteDirBox")->setEditText("/TWO");
    serverEntries(form).at(0)->trigger();
    QCOMPARE(directory(form), QStringLiteral("/TWO"));
}

void TestMainWindowStatus::invalidServerShowsSelectServer() {
    saveThreeServers(7);
    MainWindow form({});
    QCOMPARE(form.config().currentServer, 7);
    QCOMPARE(statusText(form), QStringLiteral("<Select Server>"));
    QCOMPARE(directory(form), QString());
    QCOMPARE(control<QComboBox>(form, "remoteDirBox")->count(), 0);
    for (const QAction* entry : serverEntries(form))
        QVERIFY(!entry->isChecked());
    form.refreshServerDisplay("Connecting", "9.99 KB/s");
    QCOMPARE(statusText(form), QStringLiteral("<Select Server>"));
    QCOMPARE(detailText(form), QString());
}

void TestMainWindowStatus::statusAndDetailTexts() {
    saveThreeServers(0);
    MainWindow form({});
    form.refreshServerDisplay("Connecting", "1.00 KB/s");
    QCOMPARE(statusText(form), QStringLiteral("Zero: Connecting"));
    QCOMPARE(detailText(form), QStringLiteral("1.00 KB/s"));
    form.refreshServerDisplay(QString(), QString());
    QCOMPARE(statusText(form), QStringLiteral("Zero: Ready"));
    QCOMPARE(detailText(form), QStringLiteral("1.00 KB/s"));
    form.refreshServerDisplay(QString(), " ");
    QCOMPARE(detailText(form), QStringLiteral(" "));
}

void TestMainWindowStatus::namesFromOutsideShowAsTyped() {
    Config config;
    config.storeServer("host.example.org", "", "", "", "", "", "", "", -1, -1);
    config.serverNames = QStringList{"<b>A&B</b>"};
    config.setSetting("DefaultServer", SettingValue::integer(0));
    config.saveConfig();
    MainWindow form({});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.refreshServerDisplay("<i>photo</i>.jpg", "<u>1.00</u> KB/s");
    QCOMPARE(statusText(form), QStringLiteral("<b>A&B</b>: <i>photo</i>.jpg"));
    // Shown as typed, not as markup.
    QCOMPARE(control<QLabel>(form, "serverLabel")->textFormat(), Qt::PlainText);
    QCOMPARE(control<QLabel>(form, "detailLabel")->textFormat(), Qt::PlainText);
    // The menu shows the ampersand instead of taking it as a shortcut mark.
    QCOMPARE(serverEntries(form).size(), 1);
    QCOMPARE(serverEntries(form).first()->iconText(), QStringLiteral("<b>A&B</b>"));
}

void TestMainWindowStatus::uploadStatusIndexes() {
    saveThreeServers(0);
    QStringList files;
    for (int i = 0; i < 60; ++i)
        files.append(QStringLiteral("/p/file%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    MainWindow form(files);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    form.uploadStatus("file12.jpg", 12);
    QCOMPARE(statusText(form), QStringLiteral("Zero: file12.jpg"));
    auto* grid = control<QTableWidget>(form, "fileTable");
    QCOMPARE(grid->rowAt(0), 12);

    form.setWindowTitle("Quaddle ( 37% | 12% )");
    form.uploadStatus("Uploading thumbnail...", -2);
    QCOMPARE(statusText(form), QStringLiteral("Zero: Uploading thumbnail..."));
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle ( 37% | 12% )"));

    form.uploadStatus(QString(), -1);
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(QApplication::applicationDisplayName(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(statusText(form), QStringLiteral("Zero: Ready"));

    form.refreshServerDisplay("Connecting", QString());
    form.setWindowTitle("busy");
    form.uploadStatus(QString(), -3);
    QCOMPARE(form.windowTitle(), QStringLiteral("Quaddle 0.7.1"));
    QCOMPARE(statusText(form), QStringLiteral("Zero: Connecting"));
}

void TestMainWindowStatus::captionFollowsFileProgressAtMostFiveTimesASecond() {
    MainWindow form({});
    form.setClock([this] { return m_now; });
    QList<qint64> changedAt;
    connect(&form, &QWidget::windowTitleChanged, this, [&] { changedAt.append(m_now); });

    const qint64 size = 1000000;
    form.uploadProgress("big.bin", 0, 0);
    QString lastCaption = form.windowTitle();
    for (int step = 1; step <= 200; ++step) {
        m_now += 50;
        form.uploadProgress("big.bin", size, size * step / 200);
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
    MainWindow slow({});
    slow.setClock([this] { return m_now; });
    slow.uploadProgress("slow.bin", 0, 0);
    m_now += 1000;
    slow.uploadProgress("slow.bin", 1000, 20);
    QCOMPARE(slow.windowTitle(), QStringLiteral("Quaddle ( 2% | 0% )"));
    m_now += 1000;
    slow.uploadProgress("slow.bin", 1000, 25);
    QCOMPARE(slow.windowTitle(), QStringLiteral("Quaddle ( 2% | 0% )"));
    m_now += 1000;
    slow.uploadProgress("slow.bin", 1000, 31);
    QCOMPARE(slow.windowTitle(), QStringLiteral("Quaddle ( 3% | 0% )"));
}

void TestMainWindowStatus::speedIsSampledOverJustOverASecond() {
    saveThreeServers(0);
    MainWindow form({});
    form.setClock([this] { return m_now; });
    form.uploadProgress("a.jpg", 0, 0);
    m_now += 1000;
    form.uploadProgress("a.jpg", 10 << 20, 512 * 1024);
    QCOMPARE(detailText(form), QString());

    m_now += 1;
    form.uploadProgress("a.jpg", 10 << 20, 1024 * 1024);
    QCOMPARE(detailText(form), QStringLiteral("1022.97 KB/s"));
    QCOMPARE(statusText(form), QStringLiteral("Zero: a.jpg"));

    // A long pause between two reports averages over the whole of it.
    m_now += 5000;
    form.uploadProgress("a.jpg", 10 << 20, 1024 * 1024 + 512 * 1024);
    QCOMPARE(detailText(form), QStringLiteral("102.40 KB/s"));
}

void TestMainWindowStatus::newFileResetsFileBar() {
    MainWindow form({});
    form.setClock([this] { return m_now; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int right = control<QWidget>(form, "progressPanel")->width() - 2;
    const QColor background = panelPixel(form, right, 10);

    form.uploadProgress("a.jpg", 0, 0);
    m_now += 300;
    form.uploadProgress("a.jpg", 100, 50);
    // The percentages stand in the middle; the bars' ends are clear of them.
    QVERIFY(panelPixel(form, 2, 10) != background);
    QCOMPARE(panelPixel(form, right, 10), background);
    // No upload is running, so there is no overall bar.
    QCOMPARE(panelPixel(form, 2, 2), background);

    form.uploadProgress("b.jpg", 0, 0);
    QCOMPARE(panelPixel(form, 2, 10), background);
}

void TestMainWindowStatus::helpMenuOpensWebPages() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    QDesktopServices::setUrlHandler("mailto", &recorder, "open");
    MainWindow form({});
    control<QAction>(form, "MenuUpdates")->trigger();
    control<QAction>(form, "MenuSupport")->trigger();
    control<QAction>(form, "MenuWebsite")->trigger();
    form.showAbout();
    auto* about = form.findChild<QDialog*>();
    QVERIFY(about);
    emit control<QLabel>(*about, "LMail")->linkActivated("mailto:author@quaddle.example.org");
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");

    QCOMPARE(recorder.opened,
             (QList<QUrl>{QUrl("https://quaddle.example.org/index.php/check=0.7.1/download.html"),
                          QUrl("https://quaddle.example.org/forums/"),
                          QUrl("https://quaddle.example.org/"),
                          QUrl("mailto:author@quaddle.example.org")}));
}

void TestMainWindowStatus::aboutBoxIsReused() {
    MainWindow form({});
    form.show();
    form.showAbout();
    const QList<QDialog*> first = form.findChildren<QDialog*>();
    QCOMPARE(first.size(), 1);
    QDialog* about = first.first();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QVERIFY(!about->isModal());
    QCOMPARE(about->windowTitle(), QStringLiteral("About"));
    QCOMPARE(control<QLabel>(*about, "headingLabel")->text(), QStringLiteral("Quaddle 0.7.1"));
    QVERIFY(control<QLabel>(*about, "LWebsite")->text().contains("https://quaddle.example.org/"));
    QVERIFY(control<QWidget>(*about, "donatorList")->isVisible());
    QVERIFY(control<QLabel>(*about, "licenceLabel")->text().contains("License"));
    QCOMPARE(control<QPushButton>(*about, "aboutQtButton")->text(), QStringLiteral("About Qt"));
    about->close();
    form.showAbout();
    QCOMPARE(form.findChildren<QDialog*>(), first);
    QVERIFY(about->isVisible());
    QTest::keyClick(about, Qt::Key_Escape);
    QVERIFY(!about->isVisible());
}

void TestMainWindowStatus::screenshot() {
    saveThreeServers(1);
    MainWindow form({"/pics/holiday/beach.jpg", "/pics/holiday/sunset.jpg", "/docs/notes.txt"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage image = form.grab().toImage();
    QVERIFY(image.width() >= 394 && image.height() >= 176);
    QVERIFY(image.save(QStringLiteral(QT_TESTCASE_BUILDDIR "/FormMain.png")));
}

QTEST_MAIN(TestMainWindowStatus)
#include "TestMainWindowStatus.moc"
