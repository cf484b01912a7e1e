#pragma once

#include <QString>

namespace quaddle {

// Whether the file-manager entry "Open with Quaddle" that is registered for this user
// belongs to the program in programDir.
bool IsContextRegistered(const QString& programDir);

} // namespace quaddle
