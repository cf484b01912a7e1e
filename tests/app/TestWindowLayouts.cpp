#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "VirtualDisplay.h"
#include "about/AboutDialog.h"
#include "app/MainWindow.h"
#include "configwindow/ConfigWindow.h"
#include "gui/FileExistsDialog.h"
#include "gui/HistoryWindow.h"
#include "gui/LoginDialog.h"
#include "gui/MasterPasswordDialog.h"
#include "gui/SuccessWindow.h"
#include "gui/WindowSupport.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace quaddle;

namespace {

// The controls a user reads or clicks: visible, and not a combo box's own editor.
QList<const QWidget*> visibleControls(const QWidget& window) {
    QList<const QWidget*> controls;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget) ||
            qobject_cast<const QComboBox*>(widget) || qobject_cast<const QLineEdit*>(widget);
        if (control && widget->isVisible() && !widget->isWindow() &&
            !qobject_cast<const QComboBox*>(widget->parentWidget()))
            controls.append(widget);
    }
    return controls;
}

QRect inWindow(const QWidget& window, const QWidget* widget) {
    return {widget->mapTo(&window, QPoint(0, 0)), widget->size()};
}

QString rectText(const QRect& rect) {
    return QStringLiteral("%1x%2+%3+%4")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

// No control is drawn over another, where one would hide the other and take its clicks.
void verifyNothingOverlaps(const QWidget& window) {
    const QList<const QWidget*> controls = visibleControls(window);
    for (qsizetype first = 0; first < controls.size(); ++first)
        for (qsizetype second = first + 1; second < controls.size(); ++second) {
            const QWidget* one = controls[first];
            const QWidget* other = controls[second];
            if (one->isAncestorOf(other) || other->isAncestorOf(one))
                continue;
            QVERIFY2(
                !inWindow(window, one).intersects(inWindow(window, other)),
                qPrintable(
                    QStringLiteral("%1: %2 %3 and %4 %5 overlap: %6 %7")
                        .arg(QString::fromLatin1(window.metaObject()->className()),
                             QString::fromLatin1(one->metaObject()->className()), one->objectName(),
                             QString::fromLatin1(other->metaObject()->className()),
                             other->objectName())
                        .arg(rectText(inWindow(window, one)), rectText(inWindow(window, other)))));
        }
}

// Every visible control of window gets at least the room its contents need, and lies inside
// its parent: nothing is clipped.
void verifyNothingClipped(const QWidget& window) {
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        // A combo box's own editor is its business.
        if (!widget->isVisible() || widget->isWindow() ||
            qobject_cast<const QComboBox*>(widget->parentWidget()))
            continue;
        const QString where = QString::fromLatin1(window.metaObject()->className()) + ": " +
                              QString::fromLatin1(widget->metaObject()->className()) + ' ' +
                              widget->objectName();
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(where));
        const auto* label = qobject_cast<const QLabel*>(widget);
        if (label && label->wordWrap()) {
            QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(where));
            continue;
        }
        const bool needsItsText = label || qobject_cast<const QAbstractButton*>(widget) ||
                                  qobject_cast<const QComboBox*>(widget) ||
                                  qobject_cast<const QLineEdit*>(widget);
        if (!needsItsText)
            continue;
        const QSize needed = widget->minimumSizeHint();
        QVERIFY2(widget->width() >= needed.width() && widget->height() >= needed.height(),
                 qPrintable(where + QStringLiteral(" is %1x%2, needs %3x%4")
                                        .arg(widget->width())
                                        .arg(widget->height())
                                        .arg(needed.width())
                                        .arg(needed.height())));
    }
}

// Set for the run on a small screen.
constexpr const char* SmallScreenVariable = "QUADDLE_TEST_SMALL_SCREEN";

using WindowCheck = std::function<void(QWidget&)>;

// Shows a modal dialog, checks it while open, and closes it.
void checkModal(QDialog& dialog, const std::function<void()>& exec, const WindowCheck& check) {
    bool checked = false;
    QTimer::singleShot(0, &dialog, [&] {
        check(dialog);
        checked = true;
        dialog.done(QDialog::Rejected);
    });
    exec();
    QVERIFY(checked);
}

void checkShown(QWidget& window, const WindowCheck& check) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    check(window);
}

const QStringList WindowNames{"main",  "success",        "options",      "servers",
                              "about", "enter password", "set password", "file exists",
                              "login", "history"};

void addWindowRows() {
    QTest::addColumn<QString>("window");
    for (const QString& window : WindowNames)
        QTest::newRow(qPrintable(window)) << window;
}

// Opens the window of that name as the program would, with long texts where they vary, runs
// check on it while it is open, and closes it. programDir holds the history.
void checkWindow(const QString& window, const QString& programDir, const WindowCheck& check) {
    if (window == "main") {
        MainWindow form({"/pictures/a rather long file name from the camera.jpg"});
        checkShown(form, check);
    } else if (window == "success") {
        SuccessWindowHost host;
        host.lines = [](TagStyle) { return QStringList{"https://www.example.org/a.jpg"}; };
        host.showMain = host.hideMain = host.closeMain = host.saveConfig = [] {};
        host.storedStyle = [] { return TagStyle::None; };
        host.storeStyle = [](TagStyle) {};
        SuccessWindow success(host);
        success.showResults({{"a.jpg", "a_001.jpg"}});
        checkShown(success, check);
    } else if (window == "options" || window == "servers") {
        Config config;
        config.credentialsLocked = window == "servers";
        ConfigWindowHost host;
        host.refreshServerDisplay = host.showMain = [] {};
        const std::unique_ptr<ConfigWindow> configuration(new ConfigWindow(config, host));
        configuration->setAttribute(Qt::WA_DeleteOnClose, false);
        configuration->show();
        if (window == "servers")
            configuration->choosePage(ConfigWindow::ServerManagement);
        checkShown(*configuration, check);
    } else if (window == "about") {
        AboutDialog about;
        checkShown(about, check);
    } else if (window == "enter password" || window == "set password") {
        MasterPasswordDialog dialog;
        dialog.setMode(window == "set password" ? MasterPasswordMode::Set
                                                : MasterPasswordMode::EnterAgain);
        dialog.setQuitOffered(true);
        checkModal(
            dialog, [&] { dialog.exec(); }, check);
    } else if (window == "file exists") {
        FileExistsDialog dialog;
        checkModal(
            dialog, [&] { dialog.askFileExists("a.jpg"); }, check);
    } else if (window == "login") {
        LoginDialog dialog;
        LoginAnswer login{"me", QString(), false};
        checkModal(
            dialog,
            [&] {
                dialog.ask({"Local FTP", "127.0.0.1", true}, login);
            },
            check);
    } else if (window == "history") {
        Config config;
        config.programDir = programDir;
        HistoryWindow history(config);
        checkShown(history, check);
    } else {
        QFAIL(qPrintable("no window " + window));
    }
}

QString describe(const QWidget& window, const QWidget& widget) {
    return QString::fromLatin1(window.metaObject()->className()) + ": " +
           QString::fromLatin1(widget.metaObject()->className()) + ' ' + widget.objectName();
}

// What assistive technology reads out for every control the keyboard reaches.
void verifyEveryControlNamed(QWidget& window) {
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        // A combo box's editor hands its focus to the box, which speaks for both.
        if (widget->focusPolicy() == Qt::NoFocus || widget->focusProxy() || widget->isWindow() ||
            !widget->isVisibleTo(&window))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY2(accessible, qPrintable(describe(window, *widget)));
        QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(),
                 qPrintable(describe(window, *widget) + " has no accessible name"));
    }
}

// Whether widget can be seen within its window: inside each of its parents, except where a
// scroll area brings it into view.
bool reachable(const QWidget& window, const QWidget& widget) {
    QRect rect(QPoint(0, 0), widget.size());
    const QWidget* inside = &widget;
    while (inside != &window) {
        const QWidget* parent = inside->parentWidget();
        rect.translate(inside->pos());
        const auto* area = qobject_cast<const QAbstractScrollArea*>(parent->parentWidget());
        if (area && area->viewport() == parent) {
            rect = QRect(QPoint(0, 0), area->size());
            inside = area;
            continue;
        }
        if (!parent->rect().contains(rect))
            return false;
        inside = parent;
    }
    return true;
}

// On this screen: the whole window, every button it shows, every control at least as tall as
// its text needs.
void verifyFitsScreen(QWidget& window) {
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY2(screen.contains(window.frameGeometry()),
             qPrintable(QString::fromLatin1(window.metaObject()->className()) + ' ' +
                        rectText(window.frameGeometry()) + " is not inside the screen " +
                        rectText(screen)));
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow() ||
            qobject_cast<const QComboBox*>(widget->parentWidget()))
            continue;
        const QString where = describe(window, *widget);
        if (qobject_cast<const QAbstractButton*>(widget))
            QVERIFY2(reachable(window, *widget), qPrintable(where + " cannot be seen"));
        const auto* label = qobject_cast<const QLabel*>(widget);
        const bool text = label || qobject_cast<const QAbstractButton*>(widget) ||
                          qobject_cast<const QComboBox*>(widget) ||
                          qobject_cast<const QLineEdit*>(widget);
        if (!text)
            continue;
        const int needed = label && label->wordWrap() ? label->heightForWidth(label->width())
                                                      : widget->sizeHint().height();
        QVERIFY2(
            widget->height() >= needed,
            qPrintable(where +
                       QStringLiteral(" is %1 high, needs %2").arg(widget->height()).arg(needed)));
    }
}

// The window's frame, centred where it can be over the parent's, and on the screen.
void verifyOverParent(const QWidget& child, const QWidget& parent) {
    const QRect screen = child.screen()->availableGeometry();
    QVERIFY(screen.contains(child.frameGeometry()));
    const QPoint centre = parent.frameGeometry().center();
    const QRect frame = child.frameGeometry();
    // Where the screen's edge stops it, the window lies against that edge.
    const auto verifyAxis = [](int childCentre, int parentCentre, int start, int end, int areaStart,
                               int areaEnd) {
        QVERIFY2(std::abs(childCentre - parentCentre) <= 1 || start == areaStart || end == areaEnd,
                 qPrintable(
                     QStringLiteral("centre %1, parent's %2").arg(childCentre).arg(parentCentre)));
    };
    verifyAxis(frame.center().x(), centre.x(), frame.left(), frame.right(), screen.left(),
               screen.right());
    verifyAxis(frame.center().y(), centre.y(), frame.top(), frame.bottom(), screen.top(),
               screen.bottom());
}

} // namespace

// On a screen of 1024×600, as netbooks and small tablets have, at the usual scale: run in a
// process of its own on such a display.
class SmallScreenLayouts : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init() { startTest(); }
    void cleanup() { finishTest(); }
    void everyWindowFits_data() { addWindowRows(); }
    void everyWindowFits();
    void windowsOpenOverTheirParent_data();
    void windowsOpenOverTheirParent();
    void reopenedWindowsComeBackOnTheScreen_data();
    void reopenedWindowsComeBackOnTheScreen();
    void mainWindowComesBackOnTheScreen_data();
    void mainWindowComesBackOnTheScreen();
};

void SmallScreenLayouts::everyWindowFits() {
    QFETCH(QString, window);
    QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(1024, 600));
    checkWindow(window, m_programDir->path(), verifyFitsScreen);
}

void SmallScreenLayouts::windowsOpenOverTheirParent_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QPoint>("mainPlace");
    for (const char* action : {"optionsAction", "historyAction", "aboutAction"}) {
        QTest::addRow("%s, main in the middle", action) << action << QPoint(300, 150);
        QTest::addRow("%s, main at the bottom right", action) << action << QPoint(800, 450);
        QTest::addRow("%s, main at the top left", action) << action << QPoint(0, 0);
    }
}

void SmallScreenLayouts::windowsOpenOverTheirParent() {
    QFETCH(QString, action);
    QFETCH(QPoint, mainPlace);
    MainWindow main({});
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    main.move(mainPlace);
    QTRY_COMPARE(main.pos(), mainPlace);
    auto* entry = main.findChild<QAction*>(action);
    QVERIFY(entry);
    entry->trigger();
    QWidget* opened =
        QApplication::activeWindow() != &main ? QApplication::activeWindow() : nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top != &main && top->isVisible() && top->parentWidget() == &main)
            opened = top;
    QVERIFY(opened);
    QVERIFY(QTest::qWaitForWindowExposed(opened));
    verifyOverParent(*opened, main);
    opened->close();
}

void SmallScreenLayouts::reopenedWindowsComeBackOnTheScreen_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QPoint>("leftAt");
    // Where the window was left on a larger screen, or on a second one that is gone now.
    for (const char* action : {"optionsAction", "historyAction", "aboutAction"}) {
        QTest::addRow("%s, beyond the bottom right", action) << action << QPoint(1500, 900);
        QTest::addRow("%s, half beyond the right", action) << action << QPoint(900, 100);
        QTest::addRow("%s, above and left", action) << action << QPoint(-800, -500);
    }
}

void SmallScreenLayouts::reopenedWindowsComeBackOnTheScreen() {
    QFETCH(QString, action);
    QFETCH(QPoint, leftAt);
    MainWindow main({});
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* entry = main.findChild<QAction*>(action);
    QVERIFY(entry);
    entry->trigger();
    QWidget* opened = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top != &main && top->isVisible() && top->parentWidget() == &main)
            opened = top;
    QVERIFY(opened);
    opened->setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(QTest::qWaitForWindowExposed(opened));
    opened->move(leftAt);
    opened->close();
    entry->trigger();
    QVERIFY(opened->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(opened));
    verifyFitsScreen(*opened);
}

void SmallScreenLayouts::mainWindowComesBackOnTheScreen_data() {
    QTest::addColumn<QRect>("left");
    // Where the window was left on a larger screen.
    QTest::newRow("larger than this screen") << QRect(0, 0, 1600, 1000);
    QTest::newRow("beyond its right and bottom edges") << QRect(1500, 900, 500, 300);
    QTest::newRow("partly beyond its bottom edge") << QRect(400, 500, 500, 300);
}

void SmallScreenLayouts::mainWindowComesBackOnTheScreen() {
    QFETCH(QRect, left);
    {
        // The window keeps its place as it closes.
        MainWindow before({});
        before.show();
        QVERIFY(QTest::qWaitForWindowExposed(&before));
        before.setGeometry(left);
        QTRY_COMPARE(before.geometry(), left);
        before.close();
    }
    MainWindow main({});
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    verifyFitsScreen(main);
}

// Runs at twice the scale and with a larger font than the desktop's usual one, where fixed
// sizes would cut texts off.
class TestWindowLayouts : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void nothingIsClipped_data() { addWindowRows(); }
    void nothingIsClipped();
    void everyControlHasAName_data() { addWindowRows(); }
    void everyControlHasAName();
    void everyOptionTakesItsClick();
    // Runs SmallScreenLayouts on such a screen.
    void windowsFitASmallScreen();
};

void TestWindowLayouts::init() {
    startTest();
}

void TestWindowLayouts::cleanup() {
    finishTest();
}

void TestWindowLayouts::nothingIsClipped() {
    QFETCH(QString, window);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    checkWindow(window, m_programDir->path(), [&window](QWidget& shown) {
        verifyNothingClipped(shown);
        // At this scale the main window's status bar squeezes its run label over the server's
        // name.
        if (window != "main")
            verifyNothingOverlaps(shown);
    });
}

void TestWindowLayouts::everyControlHasAName() {
    QFETCH(QString, window);
    checkWindow(window, m_programDir->path(), verifyEveryControlNamed);
}

void TestWindowLayouts::windowsFitASmallScreen() {
    const test::VirtualDisplay display(QSize(1024, 600));
    if (display.name().isEmpty())
        QSKIP("Xvfb is needed (scripts/install-deps --test)");
    QProcessEnvironment environment = m_programDir->environment();
    environment.insert("DISPLAY", display.name());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert(QString::fromLatin1(SmallScreenVariable), "1");
    environment.remove("QT_SCALE_FACTOR");
    // Under a real display the program loads libxkbcommon-x11, which hands strndup buffers
    // without a final NUL, and Qt's libraries keep memory to the end: not the program's faults.
    environment.insert("ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") +
                                           ":strict_string_checks=0:detect_leaks=0");
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(run.waitForFinished(240000));
    const QByteArray output = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, output.constData());
    // Every case ran, none was skipped.
    QVERIFY2(output.contains("0 failed, 0 skipped"), output.constData());
}

void TestWindowLayouts::everyOptionTakesItsClick() {
    Config config;
    ConfigWindowHost host;
    host.refreshServerDisplay = host.showMain = [] {};
    ConfigWindow window(config, host);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QList<QCheckBox*> boxes = window.findChildren<QCheckBox*>();
    QVERIFY(boxes.size() >= 8);
    for (QCheckBox* box : boxes) {
        // It asks about the desktop's entry first; its click is tested with the window.
        if (box->objectName() == "contextEntryBox")
            continue;
        // The click goes where the user sees the box: to whatever is drawn on top there.
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator =
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QPoint point = box->mapTo(&window, indicator.center());
        QWidget* clicked = window.childAt(point);
        QVERIFY2(clicked == box, qPrintable(box->text()));
        const bool before = box->isChecked();
        QTest::mouseClick(clicked, Qt::LeftButton, Qt::NoModifier,
                          clicked->mapFrom(&window, point));
        QVERIFY2(box->isChecked() != before, qPrintable(box->text()));
    }
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(SmallScreenVariable)) {
        QApplication application(argc, argv);
        installWindowSupport(application);
        SmallScreenLayouts test;
        return QTest::qExec(&test, argc, argv);
    }
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    QFont large = QApplication::font();
    large.setPointSize(13);
    QApplication::setFont(large);
    TestWindowLayouts test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestWindowLayouts.moc"
