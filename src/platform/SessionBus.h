#pragma once

namespace quaddle {

// Whether the environment names a session bus, where libdbus looks for one. Without one, Qt's
// bus thread is not even started, and the desktop's services are not there to ask.
bool sessionBusNamed();

} // namespace quaddle
