#include "gui/WindowSupport.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace quaddle {

namespace {

QScreen* screenFor(const QWidget& window, const QWidget* parent) {
    if (parent)
        return parent->screen();
    if (QScreen* screen = QGuiApplication::screenAt(window.frameGeometry().center()))
        return screen;
    return QGuiApplication::primaryScreen();
}

int clampedStart(int start, int length, int areaStart, int areaLength) {
    return std::clamp(start, areaStart, areaStart + std::max(0, areaLength - length));
}

// Places every window as it opens; a window coming back from being minimised stays as it was.
class WindowPlacer : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && !event->spontaneous() && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            const Qt::WindowType type = widget->windowType();
            if (type == Qt::Window || type == Qt::Dialog)
                placeOnScreen(*widget);
        }
        return QObject::eventFilter(watched, event);
    }
};

// A plain widget with a window of its own is a pane to the widgets' accessibility; it is a
// window to the user.
QAccessibleInterface* accessibleWindow(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    const QMetaObject* type = object->metaObject();
    if (widget->windowType() == Qt::Window && className == QLatin1String(type->className()) &&
        type->superClass() == &QWidget::staticMetaObject)
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

} // namespace

void placeOnScreen(QWidget& window) {
    const QWidget* parent = window.parentWidget() ? window.parentWidget()->window() : nullptr;
    const QScreen* screen = screenFor(window, parent);
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // Before the first showing the frame is not known yet; the window manager adds it.
    const QSize frame = window.frameGeometry().size() - window.size();
    window.resize(window.size().boundedTo(area.size() - frame));
    QRect placed = window.frameGeometry();
    // Once placed (or moved by the user), a window stays where it was.
    if (parent && !window.testAttribute(Qt::WA_Moved))
        placed.moveCenter(parent->frameGeometry().center());
    placed.moveTopLeft({clampedStart(placed.left(), placed.width(), area.left(), area.width()),
                        clampedStart(placed.top(), placed.height(), area.top(), area.height())});
    // A window where it should be is not moved: before the frame is known a move would shift it.
    if (placed != window.frameGeometry())
        window.move(placed.topLeft());
}

void installWindowSupport(QApplication& application) {
    application.installEventFilter(new WindowPlacer(&application));
    QAccessible::installFactory(accessibleWindow);
}

} // namespace quaddle
