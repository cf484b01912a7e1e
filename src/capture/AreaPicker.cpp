#include "capture/AreaPicker.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleHints>

namespace quaddle {

namespace {

const QColor Shade(0, 0, 0, 110);
const QColor Frame(255, 255, 255);
const QColor LabelBack(0, 0, 0, 190);
constexpr int LabelPadding = 6;
constexpr int HintTop = 16;

} // namespace

AreaPicker::AreaPicker(QImage shot, QScreen* screen) : m_shot(std::move(shot)) {
    // Past the window manager, so it covers panels too and sits exactly on the screen.
    setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint);
    setTitle(QStringLiteral("Take Screenshot"));
    setScreen(screen);
    setGeometry(screen->geometry());
    setCursor(Qt::CrossCursor);
    // Drawn one to one on the screen's pixels, however the screen is scaled.
    if (screen->geometry().width() > 0)
        m_shot.setDevicePixelRatio(double(m_shot.width()) / screen->geometry().width());
}

std::optional<QImage> AreaPicker::pick() {
    show();
    requestActivate();
    m_loop.exec();
    setKeyboardGrabEnabled(false);
    setMouseGrabEnabled(false);
    hide();
    return m_result;
}

void AreaPicker::cancel() {
    finish(std::nullopt);
}

void AreaPicker::finish(std::optional<QImage> result) {
    m_result = std::move(result);
    m_loop.quit();
}

QRect AreaPicker::selection() const {
    if (!m_start ||
        (m_end - *m_start).manhattanLength() < QGuiApplication::styleHints()->startDragDistance())
        return {};
    return QRect(QPoint(std::min(m_start->x(), m_end.x()), std::min(m_start->y(), m_end.y())),
                 QPoint(std::max(m_start->x(), m_end.x()), std::max(m_start->y(), m_end.y())))
        .adjusted(0, 0, -1, -1);
}

QImage AreaPicker::picked() const {
    const QRect area = selection();
    if (area.isEmpty())
        return m_shot;
    const double scale = m_shot.devicePixelRatio();
    QImage part = m_shot.copy(
        QRectF(QPointF(area.topLeft()) * scale, QSizeF(area.size()) * scale).toAlignedRect());
    part.setDevicePixelRatio(1);
    return part;
}

void AreaPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    draw(painter);
}

void AreaPicker::draw(QPainter& painter) const {
    painter.drawImage(QPoint(0, 0), m_shot);
    const QRect area = selection();
    painter.fillRect(QRect(QPoint(0, 0), size()), Shade);
    const QFontMetrics metrics = painter.fontMetrics();
    drawLabel(painter, Hint,
              QPoint((width() - metrics.horizontalAdvance(Hint)) / 2 - LabelPadding, HintTop));
    if (area.isEmpty())
        return;
    const double scale = m_shot.devicePixelRatio();
    const QRectF source(QPointF(area.topLeft()) * scale, QSizeF(area.size()) * scale);
    painter.drawImage(area, m_shot, source);
    painter.setPen(Frame);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    // The size the picture will have, below the rectangle's corner where there is room.
    const QSize pixels = source.toAlignedRect().size();
    const QString dimensions =
        QStringLiteral("%1 \u00d7 %2").arg(pixels.width()).arg(pixels.height());
    const int labelHeight = metrics.height() + 2 * LabelPadding;
    const bool roomBelow = area.bottom() + 4 + labelHeight <= height();
    drawLabel(painter, dimensions,
              QPoint(area.left(), roomBelow ? area.bottom() + 4 : area.top() - 4 - labelHeight));
}

void AreaPicker::drawLabel(QPainter& painter, const QString& text, QPoint at) const {
    const QFontMetrics metrics = painter.fontMetrics();
    QRect box(at, QSize(metrics.horizontalAdvance(text) + 2 * LabelPadding,
                        metrics.height() + 2 * LabelPadding));
    box.moveLeft(std::clamp(box.left(), 0, std::max(0, width() - box.width())));
    box.moveTop(std::clamp(box.top(), 0, std::max(0, height() - box.height())));
    painter.fillRect(box, LabelBack);
    painter.setPen(Frame);
    painter.drawText(box, Qt::AlignCenter, text);
}

void AreaPicker::exposeEvent(QExposeEvent* event) {
    QRasterWindow::exposeEvent(event);
    // Escape must reach the picker whichever window had the focus.
    if (isExposed()) {
        setKeyboardGrabEnabled(true);
        setMouseGrabEnabled(true);
    }
}

void AreaPicker::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_start = event->position().toPoint();
    m_end = *m_start;
    update();
}

void AreaPicker::mouseMoveEvent(QMouseEvent* event) {
    if (!m_start)
        return;
    m_end = event->position().toPoint();
    update();
}

void AreaPicker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_start)
        return;
    m_end = event->position().toPoint();
    finish(picked());
}

void AreaPicker::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        finish(std::nullopt);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        finish(picked());
        break;
    default:
        QRasterWindow::keyPressEvent(event);
    }
}

} // namespace quaddle
