#include "WidgetLookup.h"
#include "results/SuccessWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;

class TestSuccessWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsLinesSelectedWithoutBand();
    void renamedFilesFillTheBand();
    void bandIsEmptiedByTheNextRun();
    void styleChangeRebuildsAndSelectsAll();
    void copyPutsAllLinesOnTheClipboard();
    void layoutFollowsTheWindowSize();
    void windowCannotShrinkBelowMinimum();
    void doubleClickBringsMainWindowBack();
    void closingEndsTheProgram();

private:
    TSuccessHost Host();
    QPlainTextEdit* Memo() const { return Control<QPlainTextEdit>(*Window, "MemoURLs"); }
    QLabel* Band() const { return Control<QLabel>(*Window, "LInfo"); }

    std::unique_ptr<TFormSuccess> Window;
    QList<TTagStyle> Requested;
    QStringList Events;
};

void TestSuccessWindow::init() {
    Requested.clear();
    Events.clear();
    Window = std::make_unique<TFormSuccess>(Host());
}

void TestSuccessWindow::cleanup() {
    Window.reset();
}

TSuccessHost TestSuccessWindow::Host() {
    TSuccessHost host;
    host.Lines = [this](TTagStyle style) {
        Requested.append(style);
        const QString tag = QString::number(int(style));
        return QStringList{"http://h/a.jpg#" + tag, "http://h/b.jpg#" + tag};
    };
    host.ShowMain = [this] { Events.append("show main"); };
    host.HideMain = [this] { Events.append("hide main"); };
    host.CloseMain = [this] { Events.append("close main"); };
    host.SaveConfig = [this] { Events.append("save"); };
    return host;
}

void TestSuccessWindow::showsLinesSelectedWithoutBand() {
    Window->ShowResults({});
    QVERIFY(QTest::qWaitForWindowExposed(Window.get()));
    QCOMPARE(Window->windowTitle(), QStringLiteral("Upload succeeded"));
    QCOMPARE(Events, (QStringList{"hide main", "save"}));
    QCOMPARE(Requested, QList<TTagStyle>{TTagStyle::None});
    QCOMPARE(Memo()->toPlainText(), QStringLiteral("http://h/a.jpg#0\nhttp://h/b.jpg#0"));
    QCOMPARE(Memo()->textCursor().selectedText().size(), Memo()->toPlainText().size());
    QCOMPARE(Window->focusWidget(), Memo());
    QVERIFY(Memo()->isReadOnly());
    QCOMPARE(Band()->height(), 0);
    QCOMPARE(Memo()->y(), 8);
    QCOMPARE(Control<QComboBox>(*Window, "CTags")->currentText(), QStringLiteral("None"));
    QCOMPARE(Control<QPushButton>(*Window, "BExit")->text(), QStringLiteral("Exit Quaddle"));
}

void TestSuccessWindow::renamedFilesFillTheBand() {
    Window->ShowResults({});
    const int plainHeight = Window->height();
    Window->hide();
    Window->ShowResults({{"a.jpg", "a_001.jpg"}, {"b.jpg", "b_003.jpg"}});
    QCOMPARE(Band()->text(), QStringLiteral(" Renamed existing file a.jpg to a_001.jpg\n"
                                            " Renamed existing file b.jpg to b_003.jpg"));
    QVERIFY(Band()->height() >= 2 * Band()->fontMetrics().height());
    QCOMPARE(Window->height(), plainHeight + Band()->height());
    QCOMPARE(Memo()->y(), Band()->height() + 8);
    QCOMPARE(Band()->width(), Window->width());
    QCOMPARE(Band()->palette().color(QPalette::Window), QColor(255, 255, 128));
}

void TestSuccessWindow::bandIsEmptiedByTheNextRun() {
    Window->ShowResults({{"a.jpg", "a_001.jpg"}});
    Window->hide();
    Window->ShowResults({});
    QCOMPARE(Band()->text(), QString());
    QCOMPARE(Band()->height(), 0);
    QCOMPARE(Memo()->y(), 8);
}

void TestSuccessWindow::styleChangeRebuildsAndSelectsAll() {
    Window->ShowResults({});
    auto* tags = Control<QComboBox>(*Window, "CTags");
    QCOMPARE(tags->count(), 5);
    QCOMPARE(tags->itemText(1), QStringLiteral("[URL]"));
    QCOMPARE(tags->itemText(4), QStringLiteral("<img>"));
    tags->setCurrentIndex(3);
    emit tags->activated(3);
    QCOMPARE(Requested.last(), TTagStyle::Link);
    QCOMPARE(Memo()->toPlainText(), QStringLiteral("http://h/a.jpg#3\nhttp://h/b.jpg#3"));
    QCOMPARE(Memo()->textCursor().selectedText().size(), Memo()->toPlainText().size());

    // Every showing starts with "None".
    Window->hide();
    Window->ShowResults({});
    QCOMPARE(tags->currentIndex(), 0);
    QCOMPARE(Requested.last(), TTagStyle::None);
}

void TestSuccessWindow::copyPutsAllLinesOnTheClipboard() {
    Window->ShowResults({});
    QVERIFY(QTest::qWaitForWindowExposed(Window.get()));
    Memo()->copy();
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("http://h/a.jpg#0\r\nhttp://h/b.jpg#0"));
}

void TestSuccessWindow::layoutFollowsTheWindowSize() {
    Window->ShowResults({});
    Window->resize(700, 300);
    const QWidget* exit = Control<QPushButton>(*Window, "BExit");
    QCOMPARE(exit->geometry(), QRect(700 - 81 - 8, 300 - 39 - 8, 81, 39));
    QCOMPARE(Control<QComboBox>(*Window, "CTags")->x(), exit->x());
    QCOMPARE(Control<QLabel>(*Window, "LTags")->pos(), QPoint(exit->x(), 8));
    QCOMPARE(Memo()->geometry(), QRect(8, 8, exit->x() - 16, 300 - 16));
}

void TestSuccessWindow::windowCannotShrinkBelowMinimum() {
    Window->ShowResults({});
    Window->resize(100, 50);
    QCOMPARE(Window->size(), QSize(400, 175));
}

void TestSuccessWindow::doubleClickBringsMainWindowBack() {
    Window->ShowResults({});
    QTest::mouseDClick(Window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QCOMPARE(Events.last(), QStringLiteral("show main"));
    QVERIFY(Window->isVisible());
    // A double-click inside the text box is the box's own.
    Events.clear();
    QTest::mouseDClick(Memo()->viewport(), Qt::LeftButton);
    QVERIFY(Events.isEmpty());
}

void TestSuccessWindow::closingEndsTheProgram() {
    Window->ShowResults({});
    QTest::mouseClick(Control<QPushButton>(*Window, "BExit"), Qt::LeftButton);
    QVERIFY(!Window->isVisible());
    QCOMPARE(Events.last(), QStringLiteral("close main"));
}

QTEST_MAIN(TestSuccessWindow)
#include "TestSuccessWindow.moc"
