#pragma once

#include <QSettings>
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

// The per-user settings store (organisation and application "Quaddle"): where the program
// directory is, and where the windows were and how large.
QSettings userSettings();

// "Quaddle/" in the user's data folder.
QString defaultProgramDir();

} // namespace quaddle
