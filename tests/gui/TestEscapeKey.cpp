// Esc in the windows that offer a tag style: it closes an open popup first, and only then the
// window; closing the success window ends the program.
#include "ProgramFixture.h"
#include "WidgetLookup.h"
#include "config/Config.h"
#include "gui/HistoryWindow.h"
#include "gui/SuccessWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::control;

class TestEscapeKey : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init() { startTest(); }
    void cleanup() { finishTest(); }
    void escapeClosesAnOpenPopupFirst_data();
    void escapeClosesAnOpenPopupFirst();
};

void TestEscapeKey::escapeClosesAnOpenPopupFirst_data() {
    QTest::addColumn<QString>("window");
    QTest::newRow("success") << "success";
    QTest::newRow("history") << "history";
}

void TestEscapeKey::escapeClosesAnOpenPopupFirst() {
    QFETCH(QString, window);
    QStringList closed;
    Config config;
    std::unique_ptr<QWidget> shown;
    if (window == "success") {
        SuccessWindowHost host;
        host.lines = [](TagStyle) { return QStringList{"http://h/a.jpg"}; };
        host.showMain = host.hideMain = host.saveConfig = [] {};
        host.closeMain = [&closed] { closed.append("main"); };
        host.storedStyle = [] { return TagStyle::None; };
        host.storeStyle = [](TagStyle) {};
        auto success = std::make_unique<SuccessWindow>(host);
        success->showResults({});
        shown = std::move(success);
    } else {
        shown = std::make_unique<HistoryWindow>(config);
        shown->show();
    }
    QVERIFY(QTest::qWaitForWindowActive(shown.get()));
    auto* box = control<QComboBox>(*shown, "tagStyleBox");
    const int style = box->currentIndex();
    box->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    QWidget* popup = QApplication::activePopupWidget();
    QTest::keyClick(popup->focusWidget() ? popup->focusWidget() : popup, Qt::Key_Escape);
    QTRY_VERIFY(!box->view()->isVisible());
    QVERIFY(shown->isVisible());
    QCOMPARE(closed, QStringList());
    QCOMPARE(box->currentIndex(), style);

    // With nothing open, Esc closes the window as before.
    QTest::keyClick(box, Qt::Key_Escape);
    QVERIFY(!shown->isVisible());
    QCOMPARE(closed, window == "success" ? QStringList{"main"} : QStringList());
}

QTEST_MAIN(TestEscapeKey)
#include "TestEscapeKey.moc"
