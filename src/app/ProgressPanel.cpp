#include "app/ProgressPanel.h"

#include <QPainter>
#include <cmath>

namespace quaddle {

namespace {

constexpr int OverallBarHeight = 5;

int barLength(const QRect& rect, double fraction) {
    return static_cast<int>(std::floor(rect.width() * std::clamp(fraction, 0.0, 1.0)));
}

} // namespace

ProgressPanel::ProgressPanel(DrawFunction draw, QWidget* parent)
    : QWidget(parent), m_draw(std::move(draw)) {}

void ProgressPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    m_draw(painter, rect());
}

void drawProgressBars(QPainter& painter, const QRect& rect, std::optional<double> overall,
                      double file, const QColor& fileColour) {
    if (overall)
        painter.fillRect(rect.left(), rect.top(), barLength(rect, *overall), OverallBarHeight,
                         OverallBarColour);
    if (file > 0)
        painter.fillRect(rect.left(), rect.top() + OverallBarHeight, barLength(rect, file),
                         rect.height() - OverallBarHeight, fileColour);
}

QString progressText(double file, double overall) {
    const auto percent = [](double fraction) {
        return static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
    };
    return QStringLiteral("%1% | %2%").arg(percent(file)).arg(percent(overall));
}

void drawProgressText(QPainter& painter, const QRect& rect, std::optional<double> overall,
                      double file, const QColor& barTextColour, const QColor& textColour) {
    if (!overall && file <= 0)
        return;
    const QString text = progressText(file, overall.value_or(0));
    painter.save();
    painter.setPen(textColour);
    painter.drawText(rect, Qt::AlignCenter, text);
    // Over the file's bar the text takes the bar's own text colour, to stay readable.
    painter.setClipRect(QRect(rect.left(), rect.top() + OverallBarHeight, barLength(rect, file),
                              rect.height() - OverallBarHeight));
    painter.setPen(barTextColour);
    painter.drawText(rect, Qt::AlignCenter, text);
    painter.restore();
}

QString runProgressText(qsizetype index, qsizetype count, std::optional<qint64> secondsLeft) {
    QString text = QStringLiteral("file %1 of %2").arg(index + 1).arg(count);
    if (!secondsLeft)
        return text;
    const qint64 hours = *secondsLeft / 3600;
    const qint64 minutes = *secondsLeft / 60 % 60;
    const qint64 seconds = *secondsLeft % 60;
    const QString clock =
        hours > 0 ? QStringLiteral("%1:%2:%3")
                        .arg(hours)
                        .arg(minutes, 2, 10, QLatin1Char('0'))
                        .arg(seconds, 2, 10, QLatin1Char('0'))
                  : QStringLiteral("%1:%2").arg(minutes).arg(seconds, 2, 10, QLatin1Char('0'));
    return text + QStringLiteral(", ") + clock + QStringLiteral(" left");
}

QString formatSpeed(double kilobytesPerSecond) {
    const double speed = std::max(0.0, kilobytesPerSecond);
    const double whole = std::floor(speed);
    const auto hundredths = static_cast<int>(std::floor((speed - whole) * 100));
    return QString::number(static_cast<qint64>(whole)) + QLatin1Char('.') +
           QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0')) + QStringLiteral(" KB/s");
}

} // namespace quaddle
