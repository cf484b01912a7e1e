#pragma once

#include <QString>

namespace quaddle {

// The file managers' "Open With" entry for the program. The entry itself is the desktop file
// "QuaddleContext.desktop" in the program directory; it is registered for this user by a
// symbolic link "quaddle-context.desktop" in $XDG_DATA_HOME/applications pointing at it.

// The desktop file of programDir.
QString contextEntryPath(const QString& programDir);

// Whether the registered entry is exactly the one of programDir.
bool isContextRegistered(const QString& programDir);

// Registers or unregisters the entry of programDir, then lets the desktop database know
// without waiting for it. Failures go unnoticed; the next start shows the real state.
void registerContext(const QString& programDir);
void unregisterContext();

} // namespace quaddle
