#pragma once

#include <string_view>

namespace platform {

// True when Windows opens a device for this one part of a path: CON, PRN,
// AUX, NUL, COM0 to COM9, LPT0 to LPT9 (also with the superscript digits 1
// to 3), CONIN$ and CONOUT$, in any letter case, with any extension and with
// spaces before the dot. Known on every system, since releases made
// anywhere are installed on Windows.
bool IsWindowsDeviceName(std::string_view part);

}  // namespace platform
