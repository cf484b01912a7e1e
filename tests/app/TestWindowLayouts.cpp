#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "about/AboutDialog.h"
#include "app/MainWindow.h"
#include "configwindow/ConfigWindow.h"
#include "gui/FileExistsDialog.h"
#include "gui/LoginDialog.h"
#include "gui/MasterPasswordDialog.h"
#include "gui/SuccessWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
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

// Shows a modal dialog, checks it while open, and closes it.
void verifyModal(QDialog& dialog, const std::function<void()>& exec) {
    bool checked = false;
    QTimer::singleShot(0, &dialog, [&] {
        verifyNothingClipped(dialog);
        verifyNothingOverlaps(dialog);
        checked = true;
        dialog.done(QDialog::Rejected);
    });
    exec();
    QVERIFY(checked);
}

void verifyShown(QWidget& window, bool overlapsChecked = true) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    verifyNothingClipped(window);
    if (overlapsChecked)
        verifyNothingOverlaps(window);
}

} // namespace

// Runs at twice the scale and with a larger font than the desktop's usual one, where fixed
// sizes would cut texts off.
class TestWindowLayouts : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void nothingIsClipped_data();
    void nothingIsClipped();
    void everyOptionTakesItsClick();

private:
};

void TestWindowLayouts::init() {
    startTest();
}

void TestWindowLayouts::cleanup() {
    finishTest();
}

void TestWindowLayouts::nothingIsClipped_data() {
    QTest::addColumn<QString>("window");
    for (const char* window : {"main", "success", "options", "servers", "about", "enter password",
                               "set password", "file exists", "login"})
        QTest::newRow(window) << QString::fromLatin1(window);
}

void TestWindowLayouts::nothingIsClipped() {
    QFETCH(QString, window);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    if (window == "main") {
        MainWindow form({"/pictures/a rather long file name from the camera.jpg"});
        // At this scale the status bar squeezes its run label over the server's name.
        verifyShown(form, false);
    } else if (window == "success") {
        SuccessWindowHost host;
        host.lines = [](TagStyle) { return QStringList{"https://www.example.org/a.jpg"}; };
        host.showMain = host.hideMain = host.closeMain = host.saveConfig = [] {};
        host.storedStyle = [] { return TagStyle::None; };
        host.storeStyle = [](TagStyle) {};
        SuccessWindow success(host);
        success.showResults({{"a.jpg", "a_001.jpg"}});
        verifyShown(success);
    } else if (window == "options" || window == "servers") {
        Config config;
        config.credentialsLocked = window == "servers";
        ConfigWindowHost host;
        host.refreshServerDisplay = host.showMain = [] {};
        auto* configuration = new ConfigWindow(config, host);
        configuration->show();
        if (window == "servers")
            configuration->choosePage(ConfigWindow::ServerManagement);
        verifyShown(*configuration);
        delete configuration;
    } else if (window == "about") {
        AboutDialog about;
        verifyShown(about);
    } else if (window == "enter password" || window == "set password") {
        MasterPasswordDialog dialog;
        dialog.setMode(window == "set password" ? MasterPasswordMode::Set
                                                : MasterPasswordMode::EnterAgain);
        dialog.setQuitOffered(true);
        verifyModal(dialog, [&] { dialog.exec(); });
    } else if (window == "file exists") {
        FileExistsDialog dialog;
        verifyModal(dialog, [&] { dialog.askFileExists("a.jpg"); });
    } else if (window == "login") {
        LoginDialog dialog;
        LoginAnswer login{"me", QString(), false};
        verifyModal(dialog, [&] { dialog.ask({"Local FTP", "127.0.0.1", true}, login); });
    }
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
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    QFont large = QApplication::font();
    large.setPointSize(13);
    QApplication::setFont(large);
    TestWindowLayouts test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestWindowLayouts.moc"
