#include "app/ProgressPanel.h"

#include <QAccessible>
#include <QAccessibleInterface>
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
    void percentagesAndRunProgress_data();
    void percentagesAndRunProgress();
    void percentagesAreWrittenOverTheBars();
    void barsAreProgressBarsToAssistiveTechnology_data();
    void barsAreProgressBarsToAssistiveTechnology();
};

void TestProgressPanel::barsAreProgressBarsToAssistiveTechnology_data() {
    QTest::addColumn<double>("file");
    QTest::addColumn<std::optional<double>>("overall");
    QTest::addColumn<int>("filePercent");
    QTest::addColumn<int>("overallPercent");
    QTest::newRow("idle") << 0.0 << std::optional<double>() << 0 << 0;
    QTest::newRow("under way") << 0.4 << std::optional<double>(0.12) << 40 << 12;
    QTest::newRow("cut, not rounded") << 0.999 << std::optional<double>(0.5) << 99 << 50;
    QTest::newRow("done") << 1.0 << std::optional<double>(1.0) << 100 << 100;
}

void TestProgressPanel::barsAreProgressBarsToAssistiveTechnology() {
    QFETCH(double, file);
    QFETCH(std::optional<double>, overall);
    QFETCH(int, filePercent);
    QFETCH(int, overallPercent);
    ProgressFractions fractions;
    ProgressPanel panel([](QPainter&, const QRect&) {}, [&fractions] { return fractions; },
                        nullptr);
    fractions = {file, overall};
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&panel);
    QVERIFY(accessible);
    QCOMPARE(accessible->childCount(), 2);
    const QList<std::pair<QString, int>> expected{{"Current file", filePercent},
                                                  {"All files", overallPercent}};
    for (int index = 0; index < 2; ++index) {
        QAccessibleInterface* bar = accessible->child(index);
        QCOMPARE(bar->role(), QAccessible::ProgressBar);
        QCOMPARE(bar->text(QAccessible::Name), expected[index].first);
        QCOMPARE(bar->parent(), accessible);
        QCOMPARE(accessible->indexOfChild(bar), index);
        QCOMPARE(bar->valueInterface()->currentValue().toInt(), expected[index].second);
        QCOMPARE(bar->valueInterface()->maximumValue().toInt(), 100);
    }
}

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

void TestProgressPanel::percentagesAndRunProgress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("percentages cut, not rounded") << progressText(0.255, 0.999) << "25% | 99%";
    QTest::newRow("percentages stay within 0 to 100") << progressText(1.5, -0.2) << "100% | 0%";
    QTest::newRow("no speed yet") << runProgressText(0, 10, std::nullopt) << "file 1 of 10";
    QTest::newRow("minutes") << runProgressText(2, 10, 125) << "file 3 of 10, 2:05 left";
    QTest::newRow("hours") << runProgressText(0, 1, 3725) << "file 1 of 1, 1:02:05 left";
    QTest::newRow("done") << runProgressText(4, 5, 0) << "file 5 of 5, 0:00 left";
}

void TestProgressPanel::percentagesAndRunProgress() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TestProgressPanel::percentagesAreWrittenOverTheBars() {
    const auto written = [](std::optional<double> overall, double file) {
        QImage image(120, 19, QImage::Format_RGB32);
        image.fill(Background);
        QPainter painter(&image);
        drawProgressText(painter, QRect(0, 0, 120, 19), overall, file, Qt::white, Qt::black);
        return image;
    };
    QImage blank(120, 19, QImage::Format_RGB32);
    blank.fill(Background);
    QCOMPARE(written(std::nullopt, 0), blank);
    // The text stands in the middle, away from the bars' ends.
    const QImage running = written(0.5, 0.5);
    QVERIFY(running != blank);
    for (int y = 0; y < 19; ++y) {
        QCOMPARE(running.pixelColor(0, y), Background);
        QCOMPARE(running.pixelColor(119, y), Background);
    }
}

QTEST_MAIN(TestProgressPanel)
#include "TestProgressPanel.moc"
