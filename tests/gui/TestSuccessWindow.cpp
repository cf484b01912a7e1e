#include "WidgetLookup.h"
#include "gui/SuccessWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <memory>

using namespace quaddle;
using quaddle::test::control;

class TestSuccessWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsLinesSelectedWithoutBand();
    void renamedFilesFillTheBand();
    void bandIsEmptiedByTheNextRun();
    void namesInTheBandShowAsTyped();
    void styleChangeRebuildsAndSelectsAll();
    void copyPutsAllLinesOnTheClipboard();
    void layoutFollowsTheWindowSize();
    void windowCannotShrinkBelowMinimum();
    void doubleClickBringsMainWindowBack();
    void closingEndsTheProgram_data();
    void closingEndsTheProgram();

private:
    SuccessWindowHost host();
    QPlainTextEdit* urlEdit() const { return control<QPlainTextEdit>(*m_window, "urlEdit"); }
    QLabel* band() const { return control<QLabel>(*m_window, "infoLabel"); }

    std::unique_ptr<SuccessWindow> m_window;
    QList<TagStyle> m_requested;
    QStringList m_events;
    TagStyle m_stored = TagStyle::None;
};

void TestSuccessWindow::init() {
    m_requested.clear();
    m_events.clear();
    m_stored = TagStyle::None;
    m_window = std::make_unique<SuccessWindow>(host());
}

void TestSuccessWindow::cleanup() {
    m_window.reset();
}

SuccessWindowHost TestSuccessWindow::host() {
    SuccessWindowHost host;
    host.lines = [this](TagStyle style) {
        m_requested.append(style);
        const QString tag = QString::number(int(style));
        return QStringList{"http://h/a.jpg#" + tag, "http://h/b.jpg#" + tag};
    };
    host.showMain = [this] { m_events.append("show main"); };
    host.hideMain = [this] { m_events.append("hide main"); };
    host.closeMain = [this] { m_events.append("close main"); };
    host.saveConfig = [this] { m_events.append("save"); };
    host.storedStyle = [this] { return m_stored; };
    host.storeStyle = [this](TagStyle style) { m_stored = style; };
    return host;
}

void TestSuccessWindow::showsLinesSelectedWithoutBand() {
    m_window->showResults({});
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Upload succeeded"));
    QCOMPARE(m_events, (QStringList{"hide main", "save"}));
    QCOMPARE(m_requested, QList<TagStyle>{TagStyle::None});
    QCOMPARE(urlEdit()->toPlainText(), QStringLiteral("http://h/a.jpg#0\nhttp://h/b.jpg#0"));
    QCOMPARE(urlEdit()->textCursor().selectedText().size(), urlEdit()->toPlainText().size());
    QCOMPARE(m_window->focusWidget(), urlEdit());
    QVERIFY(urlEdit()->isReadOnly());
    QCOMPARE(band()->height(), 0);
    QCOMPARE(urlEdit()->y(), 8);
    QCOMPARE(control<QComboBox>(*m_window, "tagStyleBox")->currentText(), QStringLiteral("None"));
    QCOMPARE(control<QPushButton>(*m_window, "exitButton")->text(), QStringLiteral("Exit Quaddle"));
}

void TestSuccessWindow::renamedFilesFillTheBand() {
    m_window->showResults({});
    const int plainHeight = m_window->height();
    m_window->hide();
    m_window->showResults({{"a.jpg", "a_001.jpg"}, {"b.jpg", "b_003.jpg"}});
    QCOMPARE(band()->text(), QStringLiteral(" Renamed existing file a.jpg to a_001.jpg\n"
                                            " Renamed existing file b.jpg to b_003.jpg"));
    QVERIFY(band()->height() >= 2 * band()->fontMetrics().height());
    QCOMPARE(m_window->height(), plainHeight + band()->height());
    QCOMPARE(urlEdit()->y(), band()->height() + 8);
    QCOMPARE(band()->width(), m_window->width());
    QCOMPARE(band()->palette().color(QPalette::Window), QColor(255, 255, 128));
}

void TestSuccessWindow::namesInTheBandShowAsTyped() {
    m_window->showResults({{"<b>x</b>.jpg", "<b>x</b>_001.jpg"}});
    const QString text = " Renamed existing file <b>x</b>.jpg to <b>x</b>_001.jpg";
    QVERIFY(Qt::mightBeRichText(text));
    QCOMPARE(band()->text(), text);
    QCOMPARE(band()->textFormat(), Qt::PlainText);
}

void TestSuccessWindow::bandIsEmptiedByTheNextRun() {
    m_window->showResults({{"a.jpg", "a_001.jpg"}});
    m_window->hide();
    m_window->showResults({});
    QCOMPARE(band()->text(), QString());
    QCOMPARE(band()->height(), 0);
    QCOMPARE(urlEdit()->y(), 8);
}

void TestSuccessWindow::styleChangeRebuildsAndSelectsAll() {
    m_window->showResults({});
    auto* tags = control<QComboBox>(*m_window, "tagStyleBox");
    QCOMPARE(tags->count(), 6);
    QCOMPARE(tags->itemText(1), QStringLiteral("[URL]"));
    QCOMPARE(tags->itemText(4), QStringLiteral("<img>"));
    QCOMPARE(tags->itemText(5), QStringLiteral("Markdown"));
    tags->setCurrentIndex(5);
    emit tags->activated(5);
    QCOMPARE(m_requested.last(), TagStyle::Markdown);
    QCOMPARE(m_stored, TagStyle::Markdown);
    QCOMPARE(urlEdit()->toPlainText(), QStringLiteral("http://h/a.jpg#5\nhttp://h/b.jpg#5"));
    QCOMPARE(urlEdit()->textCursor().selectedText().size(), urlEdit()->toPlainText().size());

    // The next showing starts with the stored style.
    m_window->hide();
    m_stored = TagStyle::Link;
    m_window->showResults({});
    QCOMPARE(tags->currentIndex(), 3);
    QCOMPARE(m_requested.last(), TagStyle::Link);
}

void TestSuccessWindow::copyPutsAllLinesOnTheClipboard() {
    m_window->showResults({});
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    urlEdit()->copy();
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("http://h/a.jpg#0\r\nhttp://h/b.jpg#0"));
    // The button copies every line, whatever is selected.
    QApplication::clipboard()->clear();
    urlEdit()->moveCursor(QTextCursor::End);
    auto* copy = control<QPushButton>(*m_window, "copyButton");
    QCOMPARE(copy->text(), QStringLiteral("Copy"));
    // Beside the tag list, in the row below the URL box.
    QCOMPARE(copy->y(), control<QComboBox>(*m_window, "tagStyleBox")->y());
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("http://h/a.jpg#0\r\nhttp://h/b.jpg#0"));
}

void TestSuccessWindow::layoutFollowsTheWindowSize() {
    m_window->showResults({});
    const QSize before = urlEdit()->size();
    m_window->resize(m_window->size() + QSize(200, 100));
    // The URL box takes the room; the controls stay in their row below it, Exit on the right.
    QTRY_COMPARE(urlEdit()->size(), before + QSize(200, 100));
    const QWidget* exit = control<QPushButton>(*m_window, "exitButton");
    const QWidget* tags = control<QComboBox>(*m_window, "tagStyleBox");
    QCOMPARE(exit->geometry().right(), m_window->width() - 8 - 1);
    QCOMPARE(exit->geometry().bottom(), m_window->height() - 8 - 1);
    QVERIFY(tags->y() > urlEdit()->geometry().bottom());
    QVERIFY(control<QLabel>(*m_window, "tagStyleLabel")->geometry().right() < tags->x());
    QCOMPARE(urlEdit()->geometry().left(), 8);
}

void TestSuccessWindow::windowCannotShrinkBelowMinimum() {
    m_window->showResults({});
    m_window->resize(100, 50);
    QCOMPARE(m_window->size(), m_window->minimumSize());
    QVERIFY(m_window->width() >= 400 && m_window->height() >= 175);
}

void TestSuccessWindow::doubleClickBringsMainWindowBack() {
    m_window->showResults({});
    QTest::mouseDClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QCOMPARE(m_events.last(), QStringLiteral("show main"));
    QVERIFY(m_window->isVisible());
    // A double-click inside the text box is the box's own.
    m_events.clear();
    QTest::mouseDClick(urlEdit()->viewport(), Qt::LeftButton);
    QVERIFY(m_events.isEmpty());
}

void TestSuccessWindow::closingEndsTheProgram_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Exit Quaddle") << false;
    QTest::newRow("Esc") << true;
}

void TestSuccessWindow::closingEndsTheProgram() {
    QFETCH(bool, escape);
    m_window->showResults({});
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    if (escape)
        QTest::keyClick(urlEdit(), Qt::Key_Escape);
    else
        QTest::mouseClick(control<QPushButton>(*m_window, "exitButton"), Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_events.last(), QStringLiteral("close main"));
}

QTEST_MAIN(TestSuccessWindow)
#include "TestSuccessWindow.moc"
