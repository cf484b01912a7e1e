#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <optional>

namespace quaddle {

// How far the current file and all files are, from 0 to 1; no overall value outside a run.
struct ProgressFractions {
    double file = 0;
    std::optional<double> overall;
};

// The status bar's first panel. It has no text; its owner paints the progress bars in it.
// Assistive technology sees the two bars it shows as progress bars, "Current file" and
// "All files", with their percentages as values.
class ProgressPanel : public QWidget {
    Q_OBJECT

public:
    using DrawFunction = std::function<void(QPainter&, const QRect&)>;
    using FractionsFunction = std::function<ProgressFractions()>;

    ProgressPanel(DrawFunction draw, FractionsFunction fractions, QWidget* parent);

    ProgressFractions fractions() const { return m_fractions(); }
    // Shows the fractions anew, to the eye and to assistive technology.
    void showProgress();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DrawFunction m_draw;
    FractionsFunction m_fractions;
};

// The colour of the bar that shows the progress of all files.
const QColor OverallBarColour(153, 204, 102);

// Paints the overall progress along the top five pixels of rect (when there is one) and the
// current file's progress below it; each bar is as long as its fraction of the width,
// rounded down.
void drawProgressBars(QPainter& painter, const QRect& rect, std::optional<double> overall,
                      double file, const QColor& fileColour);

// The percentages of the current file and of all files, as the panel shows them over its
// bars: "40% | 12%".
QString progressText(double file, double overall);

// Writes the percentages over the bars drawn by drawProgressBars: in textColour on the
// panel, in barTextColour where the file's bar lies beneath.
void drawProgressText(QPainter& painter, const QRect& rect, std::optional<double> overall,
                      double file, const QColor& barTextColour, const QColor& textColour);

// Where the running upload stands, for the status bar: "file 3 of 10", and "2:05 left" once
// the time left is known. index counts from 0.
QString runProgressText(qsizetype index, qsizetype count, std::optional<qint64> secondsLeft);

// A speed as shown in the status bar: two decimals cut off, not rounded, a point as decimal
// mark whatever the locale, no digit grouping: 12.05 KB/s for 12.057.
QString formatSpeed(double kilobytesPerSecond);

} // namespace quaddle
