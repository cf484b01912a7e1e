#include "app/ProgressPanel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <array>
#include <cmath>

namespace quaddle {

namespace {

constexpr int OverallBarHeight = 5;

int barLength(const QRect& rect, double fraction) {
    return static_cast<int>(std::floor(rect.width() * std::clamp(fraction, 0.0, 1.0)));
}

int percent(double fraction) {
    return static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
}

enum class Bar { CurrentFile, AllFiles };

// One of the panel's painted bars, as a progress bar with its percentage for assistive
// technology.
class PaintedBar : public QAccessibleInterface, public QAccessibleValueInterface {
public:
    PaintedBar(ProgressPanel* panel, Bar bar) : m_panel(panel), m_bar(bar) {}

    bool isValid() const override { return m_panel; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_panel->window()->windowHandle(); }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_panel);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name)
            return m_bar == Bar::CurrentFile ? ProgressPanel::tr("Current file")
                                             : ProgressPanel::tr("All files");
        if (kind == QAccessible::Value)
            return QString::number(percent(fraction())) + QLatin1Char('%');
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        // The overall bar runs along the panel's top, the file's bar below it.
        const QRect panel(m_panel->mapToGlobal(QPoint(0, 0)), m_panel->size());
        return m_bar == Bar::AllFiles ? panel.adjusted(0, 0, 0, OverallBarHeight - panel.height())
                                      : panel.adjusted(0, OverallBarHeight, 0, 0);
    }
    QAccessible::Role role() const override { return QAccessible::ProgressBar; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = !m_panel->isVisible();
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : nullptr;
    }

    QVariant currentValue() const override { return percent(fraction()); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    double fraction() const {
        const ProgressFractions fractions = m_panel->fractions();
        return m_bar == Bar::CurrentFile ? fractions.file : fractions.overall.value_or(0);
    }

    QPointer<ProgressPanel> m_panel;
    Bar m_bar;
};

// The panel, holding its two bars.
class AccessiblePanel : public QAccessibleWidget {
public:
    explicit AccessiblePanel(ProgressPanel* panel)
        : QAccessibleWidget(panel, QAccessible::Grouping),
          m_bars{new PaintedBar(panel, Bar::CurrentFile), new PaintedBar(panel, Bar::AllFiles)} {
        for (PaintedBar* bar : m_bars)
            QAccessible::registerAccessibleInterface(bar);
    }
    ~AccessiblePanel() override {
        for (PaintedBar* bar : m_bars)
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(bar));
    }
    AccessiblePanel(const AccessiblePanel&) = delete;
    AccessiblePanel& operator=(const AccessiblePanel&) = delete;

    int childCount() const override { return int(m_bars.size()); }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < childCount() ? m_bars[std::size_t(index)] : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto found = std::find(m_bars.begin(), m_bars.end(), child);
        return found == m_bars.end() ? -1 : int(found - m_bars.begin());
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (PaintedBar* bar : m_bars)
            if (bar->rect().contains(x, y))
                return bar;
        return nullptr;
    }

private:
    std::array<PaintedBar*, 2> m_bars;
};

QAccessibleInterface* accessiblePanel(const QString& className, QObject* object) {
    if (className == QLatin1String(ProgressPanel::staticMetaObject.className()))
        return new AccessiblePanel(static_cast<ProgressPanel*>(object));
    return nullptr;
}

} // namespace

ProgressPanel::ProgressPanel(DrawFunction draw, FractionsFunction fractions, QWidget* parent)
    : QWidget(parent), m_draw(std::move(draw)), m_fractions(std::move(fractions)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessiblePanel);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

void ProgressPanel::showProgress() {
    update();
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(this);
    for (int index = 0; panel && index < panel->childCount(); ++index) {
        QAccessibleInterface* bar = panel->child(index);
        QAccessibleValueChangeEvent changed(bar, bar->valueInterface()->currentValue());
        QAccessible::updateAccessibility(&changed);
    }
}

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
