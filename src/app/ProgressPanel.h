#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <optional>

namespace quaddle {

// The status bar's first panel. It has no text; its owner paints the progress bars in it.
class ProgressPanel : public QWidget {
    Q_OBJECT

public:
    using DrawFunction = std::function<void(QPainter&, const QRect&)>;

    ProgressPanel(DrawFunction draw, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DrawFunction m_draw;
};

// The colour of the bar that shows the progress of all files.
const QColor OverallBarColour(153, 204, 102);

// Paints the overall progress along the top five pixels of rect (when there is one) and the
// current file's progress below it; each bar is as long as its fraction of the width,
// rounded down.
void drawProgressBars(QPainter& painter, const QRect& rect, std::optional<double> overall,
                      double file, const QColor& fileColour);

// A speed as shown in the status bar: two decimals cut off, not rounded, a point as decimal
// mark whatever the locale, no digit grouping: 12.05 KB/s for 12.057.
QString formatSpeed(double kilobytesPerSecond);

} // namespace quaddle
