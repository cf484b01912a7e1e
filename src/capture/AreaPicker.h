#pragma once

#include <QEventLoop>
#include <QImage>
#include <QRasterWindow>
#include <optional>

class QScreen;

namespace quaddle {

// The program's own area picker, for desktops without a screenshot portal: a frameless window
// over the whole screen showing it frozen. Dragging a rectangle and releasing the button (or
// pressing Enter) takes that part, a click without a drag or Enter before any takes the whole
// screen, Escape cancels. A line at the top says so; while dragging, the rectangle's size in
// the shot's pixels shows beside it. A plain Gui window, so that the console face can show it
// too.
class AreaPicker : public QRasterWindow {
public:
    static inline const QString Hint =
        QStringLiteral("Drag an area \u00b7 Click for the whole screen \u00b7 Esc to cancel");

    // shot: the screen as grabbed, in its own pixels.
    AreaPicker(QImage shot, QScreen* screen);

    // Shows the picker and waits, with the event loop running, until the user picks; the part
    // picked, or nothing when cancelled.
    std::optional<QImage> pick();
    void cancel();
    // What the window shows: the frozen screen, shaded outside the rectangle, and the texts.
    void draw(QPainter& painter) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The rectangle dragged so far, in the window's coordinates; empty for a click.
    QRect selection() const;
    // The part of the shot under the selection, or all of it without one.
    QImage picked() const;
    // A text on a dark box whose top left corner is at, kept on the window.
    void drawLabel(QPainter& painter, const QString& text, QPoint at) const;
    void finish(std::optional<QImage> result);

    QImage m_shot;
    std::optional<QPoint> m_start;
    QPoint m_end;
    std::optional<QImage> m_result;
    QEventLoop m_loop;
};

} // namespace quaddle
