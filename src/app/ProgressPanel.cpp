#include "app/ProgressPanel.h"

#include <QPainter>
#include <cmath>

namespace quaddle {

namespace {

constexpr int OverallBarHeight = 5;

int BarLength(const QRect& rect, double fraction) {
    return static_cast<int>(std::floor(rect.width() * std::clamp(fraction, 0.0, 1.0)));
}

} // namespace

TProgressPanel::TProgressPanel(TDraw draw, QWidget* parent)
    : QWidget(parent), Draw(std::move(draw)) {}

void TProgressPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter, rect());
}

void DrawProgressBars(QPainter& painter, const QRect& rect, std::optional<double> overall,
                      double file, const QColor& fileColour) {
    if (overall)
        painter.fillRect(rect.left(), rect.top(), BarLength(rect, *overall), OverallBarHeight,
                         OverallBarColour);
    if (file > 0)
        painter.fillRect(rect.left(), rect.top() + OverallBarHeight, BarLength(rect, file),
                         rect.height() - OverallBarHeight, fileColour);
}

QString FormatSpeed(double kilobytesPerSecond) {
    const double speed = std::max(0.0, kilobytesPerSecond);
    const double whole = std::floor(speed);
    const auto hundredths = static_cast<int>(std::floor((speed - whole) * 100));
    return QString::number(static_cast<qint64>(whole)) + QLatin1Char('.') +
           QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0')) + QStringLiteral(" KB/s");
}

} // namespace quaddle
