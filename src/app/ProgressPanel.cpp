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

QString formatSpeed(double kilobytesPerSecond) {
    const double speed = std::max(0.0, kilobytesPerSecond);
    const double whole = std::floor(speed);
    const auto hundredths = static_cast<int>(std::floor((speed - whole) * 100));
    return QString::number(static_cast<qint64>(whole)) + QLatin1Char('.') +
           QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0')) + QStringLiteral(" KB/s");
}

} // namespace quaddle
