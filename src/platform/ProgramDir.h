#pragma once

#include <QString>

namespace quaddle {

// The directory prefix under which the program keeps config.xml, log.txt and its helpers,
// read from the per-user settings store (organisation and application "Quaddle", key
// "ProgramDir"):
// - key absent: "Quaddle" in the user's data folder ($XDG_DATA_HOME, by default
//   ~/.local/share): defaultProgramDir(), which whoever writes there first creates with
//   makePrivateDir;
// - key empty: the folder of the program file;
// - otherwise the stored folder.
// The result always ends with "/".
QString findProgramDir();

// "Quaddle/" in the user's data folder.
QString defaultProgramDir();

} // namespace quaddle
