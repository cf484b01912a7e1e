#pragma once

#include <QString>

namespace quaddle {

// Shows a notification through the desktop's notification service (org.freedesktop.Notifications
// on the session bus). Without a session bus or a service nothing is shown and nothing fails;
// waits at most a moment for the service to take it. Returns whether it took it.
bool showDesktopNotification(const QString& summary, const QString& body);

} // namespace quaddle
