// The server manager's "Test" button against a real FTP server with a web server over its
// folder: it tests the fields as typed, saved or not, and shows each step and the advice.
#include "FtpServer.h"
#include "LocalServers.h"
#include "ProgramFixture.h"
#include "WebServer.h"
#include "WidgetLookup.h"
#include "config/Config.h"
#include "configwindow/ConfigWindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

using namespace quaddle;
using quaddle::test::control;

namespace {

const QString WebRoot = QStringLiteral("public_html");

struct ShownTest {
    QStringList steps;
    QString advice;
};

QWidget* shownTestDialog() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("serverTestDialog") && window->isVisible())
            return window;
    return nullptr;
}

// Clicks the button, and once the test it opens has ended, reads what it shows and closes it.
ShownTest clickTest(QPushButton* button) {
    ShownTest shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* dialog = shownTestDialog();
        if (!dialog)
            return;
        auto* close = control<QPushButton>(*dialog, "probeCloseButton");
        if (close->text() != QLatin1String("Close"))
            return;
        watch.stop();
        for (int step = 0; step < 4; ++step)
            shown.steps.append(
                control<QLabel>(*dialog, qPrintable(QStringLiteral("probeStep%1").arg(step)))
                    ->text());
        shown.advice = control<QLabel>(*dialog, "probeAdviceLabel")->text();
        QTest::mouseClick(close, Qt::LeftButton);
    });
    watch.start(20);
    QTest::mouseClick(button, Qt::LeftButton);
    return shown;
}

void typeInto(const QWidget& window, const char* edit, const QString& text) {
    auto* field = control<QLineEdit>(window, edit);
    field->clear();
    QTest::keyClicks(field, text);
}

QStringList probesIn(const QString& folder) {
    return QDir(folder).entryList({"quaddle-test-*"}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestServerTestButton : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init() { startTest(); }
    void cleanup() { finishTest(); }
    void testsTheFieldsAsTyped_data();
    void testsTheFieldsAsTyped();
};

void TestServerTestButton::testsTheFieldsAsTyped_data() {
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("typedRoot");
    QTest::addColumn<int>("status");
    QTest::newRow("saved server, right root typed") << true << "/" + WebRoot << 200;
    QTest::newRow("saved server, wrong root typed") << true << "/" << 404;
    QTest::newRow("new server, right root") << false << "/" + WebRoot << 200;
    QTest::newRow("new server, wrong root") << false << "/" << 404;
}

void TestServerTestButton::testsTheFieldsAsTyped() {
    QFETCH(bool, saved);
    QFETCH(QString, typedRoot);
    QFETCH(int, status);
    test::FtpServer ftp;
    QUADDLE_REQUIRE_SERVER(ftp);
    const QString webFolder = QFileInfo(ftp.localPath(WebRoot)).filePath();
    QVERIFY(QDir().mkpath(webFolder));
    QVERIFY(QFile::setPermissions(webFolder, test::Mode0755));
    const test::WebServer web(webFolder);
    QUADDLE_REQUIRE_WEB_SERVER(web);

    // What is saved differs from what is typed in every field the test needs.
    Config config;
    if (saved) {
        config.storeServer("localhost.invalid", "1", "nobody", "wrong", "/saved", "", "", "0", -1,
                           -1);
        config.serverNames[0] = "Saved";
    }
    config.saveConfig();
    const QByteArray before = m_programDir->readFile("config.xml");
    ConfigWindow window(config, {[] {}, [] {}, {}});
    window.show();
    window.choosePage(ConfigWindow::ServerManagement);
    if (saved) {
        auto* tree = control<QTreeWidget>(window, "serverTree");
        QTreeWidgetItem* node = tree->findItems("Saved", Qt::MatchRecursive).first();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                          tree->visualItemRect(node).center());
    }
    typeInto(window, "hostEdit", ftp.host());
    typeInto(window, "portEdit", QString::number(ftp.port()));
    typeInto(window, "userEdit", ftp.user());
    typeInto(window, "passwordEdit", ftp.password());
    typeInto(window, "rootDirEdit", typedRoot);
    typeInto(window, "urlMaskEdit", web.address() + "$dir$file");

    const ShownTest shown = clickTest(control<QPushButton>(window, "testServerButton"));
    QCOMPARE(shown.steps.size(), 4);
    const bool served = status == 200;
    for (int step = 0; step < 3; ++step)
        QVERIFY2(shown.steps[step].startsWith(QStringLiteral("\u2714")),
                 qPrintable(shown.steps[step]));
    QVERIFY2(
        shown.steps[3].startsWith(served ? QStringLiteral("\u2714") : QStringLiteral("\u2718")),
        qPrintable(shown.steps[3]));
    QVERIFY(shown.steps[3].contains(web.address() + "/quaddle-test-"));
    QCOMPARE(shown.advice.contains("(404)"), !served);
    QCOMPARE(shown.advice.contains("The server has a folder \"/public_html\""), !served);

    // The web server saw the probe where the typed fields put it; nothing of it is left.
    const QStringList requests = web.requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY2(requests.first().endsWith(' ' + QString::number(status)),
             qPrintable(requests.first()));
    QCOMPARE(probesIn(webFolder), QStringList());
    QCOMPARE(probesIn(QFileInfo(webFolder).path()), QStringList());
    // Testing stores nothing: the configuration is as it was saved.
    QCOMPARE(m_programDir->readFile("config.xml"), before);
    QCOMPARE(config.servers.size(), saved ? 1 : 0);
}

QTEST_MAIN(TestServerTestButton)
#include "TestServerTestButton.moc"
