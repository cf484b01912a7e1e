// The program's own screenshot area picker as the user sees it: the line of help along the top,
// and while dragging the size of the picture the rectangle gives.
#include "capture/AreaPicker.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

using namespace quaddle;

namespace {

const QColor ShotGrey(128, 128, 128);

// The smallest rectangle around the pixels of area that are brighter than anything but text
// (the picker's texts are white, the shot shaded grey and the labels' boxes darker).
QRect inkIn(const QImage& image, const QRect& area) {
    QRect ink;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (qGray(image.pixel(x, y)) > 200)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

QImage drawn(const AreaPicker& picker) {
    QImage image(picker.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    picker.draw(painter);
    return image;
}

} // namespace

class TestAreaPicker : public QObject {
    Q_OBJECT

private slots:
    void hintShowsAlongTheTop();
    void sizeShowsWhileDragging_data();
    void sizeShowsWhileDragging();
};

void TestAreaPicker::hintShowsAlongTheTop() {
    QScreen* screen = QGuiApplication::primaryScreen();
    QImage shot(screen->geometry().size(), QImage::Format_RGB32);
    shot.fill(ShotGrey);
    AreaPicker picker(shot, screen);
    const QImage image = drawn(picker);
    const QFontMetrics metrics(QGuiApplication::font(), &image);
    const QString hint = "Drag an area \u00b7 Click for the whole screen \u00b7 Esc to cancel";
    QCOMPARE(AreaPicker::Hint, hint);

    // Nothing but the hint has text before a drag: the ink is the hint's, as wide as its text
    // and in the middle of the top.
    const QRect ink = inkIn(image, image.rect());
    QVERIFY(!ink.isEmpty());
    QVERIFY2(qAbs(ink.width() - metrics.tightBoundingRect(hint).width()) <= 4,
             qPrintable(QString::number(ink.width())));
    QVERIFY(qAbs(ink.center().x() - image.width() / 2) <= 4);
    QVERIFY(ink.bottom() < image.height() / 4);
}

void TestAreaPicker::sizeShowsWhileDragging_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("down and right") << QPoint(100, 150) << QPoint(400, 300);
    QTest::newRow("up and left") << QPoint(420, 380) << QPoint(411, 120);
    // No room below the rectangle: the size shows above it.
    QTest::newRow("to the bottom") << QPoint(30, 200) << QPoint(1000, 10000);
}

void TestAreaPicker::sizeShowsWhileDragging() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QScreen* screen = QGuiApplication::primaryScreen();
    QImage shot(screen->geometry().size(), QImage::Format_RGB32);
    shot.fill(ShotGrey);
    AreaPicker picker(shot, screen);
    picker.show();
    QVERIFY(QTest::qWaitForWindowExposed(&picker));
    const QPoint end(std::min(to.x(), picker.width() - 1), std::min(to.y(), picker.height() - 1));
    const QRect hintInk = inkIn(drawn(picker), picker.geometry());

    QTest::mousePress(&picker, Qt::LeftButton, {}, from);
    QTest::mouseMove(&picker, end);
    const QImage image = drawn(picker);
    const QSize size(qAbs(end.x() - from.x()), qAbs(end.y() - from.y()));
    const QString text = QStringLiteral("%1 \u00d7 %2").arg(size.width()).arg(size.height());
    const QFontMetrics metrics(QGuiApplication::font(), &image);

    // Beside the rectangle, outside its frame, a text as wide as its size in pixels.
    const QRect area(QPoint(std::min(from.x(), end.x()), std::min(from.y(), end.y())), size);
    const int band = metrics.height() + 20;
    const bool below = area.bottom() + band <= image.height();
    const QRect beside(area.left() - 2, below ? area.bottom() + 2 : area.top() - band,
                       metrics.horizontalAdvance(text) + 40, band);
    const QRect ink = inkIn(
        image, beside.intersected(QRect(0, hintInk.bottom() + 1, image.width(), image.height())));
    QVERIFY2(!ink.isEmpty(), qPrintable(text));
    QVERIFY2(qAbs(ink.width() - metrics.tightBoundingRect(text).width()) <= 4,
             qPrintable(QStringLiteral("%1: %2").arg(text).arg(ink.width())));
    QVERIFY(below ? ink.top() > area.bottom() : ink.bottom() < area.top());
    // The hint stays.
    QCOMPARE(inkIn(image, hintInk.adjusted(-2, -2, 2, 2)), hintInk);

    QTest::mouseRelease(&picker, Qt::LeftButton, {}, end);
}

QTEST_MAIN(TestAreaPicker)
#include "TestAreaPicker.moc"
