#pragma once

#include <QString>

namespace quaddle {

// The directory prefix under which the program keeps config.xml, log.txt and its helpers,
// read from the per-user settings store (organisation and application "Quaddle", key
// "ProgramDir"):
// - key absent: "Quaddle" in the user's data folder ($XDG_DATA_HOME, by default
//   ~/.local/share), which the first file written there creates (makePrivateDir);
// - key empty: the folder of the program file;
// - otherwise the stored folder.
// The result always ends with "/".
QString findProgramDir();

} // namespace quaddle
