#include "app/ProgressPanel.h"

#include <QImage>
#include <QPainter>
#include <QTest>

using namespace quaddle;

namespace {

const QColor Background(Qt::white);
const QColor FileColour(Qt::blue);

QImage painted(std::optional<double> overall, double file, const QRect& rect) {
    QImage image(120, 19, QImage::Format_RGB32);
    image.fill(Background);
    QPainter painter(&image);
    drawProgressBars(painter, rect, overall, file, FileColour);
    return image;
}

} // namespace

class TestProgressPanel : public QObject {
    Q_OBJECT

private slots:
    void formatsSpeed_data();
    void formatsSpeed();
    void speedIgnoresLocale();
    void drawsOverallAlongTheTop();
    void drawsFileBelowOverall();
    void drawsNothingWhenIdle();
};

void TestProgressPanel::formatsSpeed_data() {
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("text");
    QTest::newRow("hundredths") << 0.05 << "0.05 KB/s";
    QTest::newRow("tenths get a zero") << 3.5 << "3.50 KB/s";
    QTest::newRow("cut, not rounded") << 12.057 << "12.05 KB/s";
    QTest::newRow("no grouping") << 1234.5 << "1234.50 KB/s";
    QTest::newRow("large") << 1234567.899 << "1234567.89 KB/s";
    QTest::newRow("zero") << 0.0 << "0.00 KB/s";
    QTest::newRow("nearly one") << 0.999 << "0.99 KB/s";
}

void TestProgressPanel::formatsSpeed() {
    QFETCH(double, speed);
    QFETCH(QString, text);
    QCOMPARE(formatSpeed(speed), text);
}

void TestProgressPanel::speedIgnoresLocale() {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = formatSpeed(1234.5);
    QLocale::setDefault(saved);
    QCOMPARE(text, QStringLiteral("1234.50 KB/s"));
}

void TestProgressPanel::drawsOverallAlongTheTop() {
    const QImage image = painted(0.5, 0, QRect(10, 0, 100, 19));
    QCOMPARE(image.pixelColor(10, 0), OverallBarColour);
    QCOMPARE(image.pixelColor(59, 4), OverallBarColour);
    QCOMPARE(image.pixelColor(60, 0), Background);
    QCOMPARE(image.pixelColor(59, 5), Background);
    QCOMPARE(image.pixelColor(9, 0), Background);
}

void TestProgressPanel::drawsFileBelowOverall() {
    const QImage image = painted(0.999, 0.255, QRect(0, 0, 100, 19));
    QCOMPARE(image.pixelColor(98, 0), OverallBarColour);
    QCOMPARE(image.pixelColor(99, 0), Background);
    QCOMPARE(image.pixelColor(0, 5), FileColour);
    QCOMPARE(image.pixelColor(24, 18), FileColour);
    QCOMPARE(image.pixelColor(25, 10), Background);
    QCOMPARE(image.pixelColor(24, 4), OverallBarColour);
}

void TestProgressPanel::drawsNothingWhenIdle() {
    const QImage image = painted(std::nullopt, 0, QRect(0, 0, 100, 19));
    for (int x = 0; x < 100; x += 7)
        for (int y = 0; y < 19; y += 3)
            QCOMPARE(image.pixelColor(x, y), Background);
}

QTEST_MAIN(TestProgressPanel)
#include "TestProgressPanel.moc"
