#pragma once

#include <QString>

namespace quaddle {

// The directory prefix under which the program keeps config.xml, log.txt and its helpers,
// read from the per-user settings store (organisation and application "Quaddle", key
// "ProgramDir"):
// - key absent: empty, so those files are addressed relative to the working directory;
// - key empty: the folder of the program file;
// - otherwise the stored folder.
// A non-empty result always ends with "/".
QString findProgramDir();

} // namespace quaddle
