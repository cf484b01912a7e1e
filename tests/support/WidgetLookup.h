#pragma once

#include <QObject>
#include <QtGlobal>

namespace quaddle::test {

// The named child of a window; a missing one ends the test run, as nothing after it could
// pass.
template <typename Child> Child* control(const QObject& parent, const char* name) {
    auto* child = parent.findChild<Child*>(QLatin1String(name));
    if (!child)
        qFatal("control %s missing", name);
    return child;
}

} // namespace quaddle::test
