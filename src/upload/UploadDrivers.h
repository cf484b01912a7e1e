#pragma once

#include "upload/Upload.h"

namespace quaddle {

// The program's drivers: FTP for server type 0.
TDriverFactory StandardDrivers();

} // namespace quaddle
