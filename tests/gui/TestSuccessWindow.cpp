#include "WidgetLookup.h"
#include "gui/SuccessWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <memory>

using namespace quaddle;
using quaddle::test::control;

namespace {

QStringList itemTexts(const QComboBox& box) {
    QStringList texts;
    for (int index = 0; index < box.count(); ++index)
        texts.append(box.itemText(index));
    return texts;
}

} // namespace

class TestSuccessWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsLinesSelectedWithoutBand();
    void renamedFilesFillTheBand();
    void bandTakesTheNoticeColoursOfThePalette_data();
    void bandTakesTheNoticeColoursOfThePalette();
    void bandIsEmptiedByTheNextRun();
    void namesInTheBandShowAsTyped();
    void styleChangeRebuildsAndSelectsAll();
    void copyPutsAllLinesOnTheClipboard();
    void copyCountsTheLines_data();
    void copyCountsTheLines();
    void uploadMoreGoesBackToTheMainWindow_data();
    void uploadMoreGoesBackToTheMainWindow();
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
    host.uploadMore = [this] { m_events.append("upload more"); };
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
}

void TestSuccessWindow::bandTakesTheNoticeColoursOfThePalette_data() {
    QTest::addColumn<QColor>("base");
    QTest::addColumn<QColor>("text");
    QTest::newRow("light desktop") << QColor(255, 255, 220) << QColor(Qt::black);
    QTest::newRow("dark desktop") << QColor(40, 40, 48) << QColor(230, 230, 230);
}

void TestSuccessWindow::bandTakesTheNoticeColoursOfThePalette() {
    QFETCH(QColor, base);
    QFETCH(QColor, text);
    const QPalette before = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
    QPalette desktop = before;
    desktop.setColor(QPalette::ToolTipBase, base);
    desktop.setColor(QPalette::ToolTipText, text);
    QApplication::setPalette(desktop);
    m_window->showResults({{"a.jpg", "a_001.jpg"}});
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // What shows on the screen: the band's own pixels, and its text in the notice colour.
    const QImage shown = band()->grab().toImage();
    QCOMPARE(shown.pixelColor(shown.width() - 2, 1), base);
    bool textInColour = false;
    for (int y = 0; y < shown.height() && !textInColour; ++y)
        for (int x = 0; x < shown.width() / 2 && !textInColour; ++x)
            textInColour = shown.pixelColor(x, y) == text;
    QVERIFY(textInColour);
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
    // Each tag with what it is for; the places, which are what is stored, stay.
    QCOMPARE(itemTexts(*tags), (QStringList{"None", "[URL] — forum link", "[IMG] — forum image",
                                            "<a> — web link", "<img> — web image", "Markdown"}));
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
    auto* copied = control<QLabel>(*m_window, "copiedLabel");
    QCOMPARE(copied->text(), QString());
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("http://h/a.jpg#0\r\nhttp://h/b.jpg#0"));
    // It says so, beside the button.
    QCOMPARE(copied->text(), QStringLiteral("2 lines copied"));
    QVERIFY(copied->isVisible());
    QVERIFY(copied->x() > copy->geometry().right());
    // The next run's window starts without the note.
    m_window->hide();
    m_window->showResults({});
    QCOMPARE(copied->text(), QString());
}

void TestSuccessWindow::copyCountsTheLines_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("said");
    QTest::newRow("one") << 1 << "1 line copied";
    QTest::newRow("three") << 3 << "3 lines copied";
}

void TestSuccessWindow::copyCountsTheLines() {
    QFETCH(int, count);
    QFETCH(QString, said);
    SuccessWindowHost counted = host();
    counted.lines = [count](TagStyle) {
        QStringList lines;
        for (int n = 0; n < count; ++n)
            lines.append(QStringLiteral("http://h/%1.jpg").arg(n));
        return lines;
    };
    SuccessWindow window(counted);
    window.showResults({});
    QTest::mouseClick(control<QPushButton>(window, "copyButton"), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text().count("\r\n") + 1, count);
    QCOMPARE(control<QLabel>(window, "copiedLabel")->text(), said);
}

void TestSuccessWindow::uploadMoreGoesBackToTheMainWindow_data() {
    QTest::addColumn<int>("key"); // 0: the button is clicked
    QTest::newRow("click") << 0;
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
}

void TestSuccessWindow::uploadMoreGoesBackToTheMainWindow() {
    QFETCH(int, key);
    m_window->showResults({});
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto* more = control<QPushButton>(*m_window, "uploadMoreButton");
    auto* exit = control<QPushButton>(*m_window, "exitButton");
    QCOMPARE(more->text(), QStringLiteral("Upload More"));
    QVERIFY(more->isDefault());
    // Beside the exit button, left of it.
    QCOMPARE(more->y(), exit->y());
    QVERIFY(more->geometry().right() < exit->x());
    m_events.clear();
    if (key == 0)
        QTest::mouseClick(more, Qt::LeftButton);
    else
        QTest::keyClick(urlEdit(), Qt::Key(key),
                        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QVERIFY(!m_window->isVisible());
    // The program goes on: the main window comes back, nothing closes it.
    QCOMPARE(m_events, QStringList{"upload more"});
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
