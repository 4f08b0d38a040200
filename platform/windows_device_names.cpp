#include "platform/windows_device_names.h"

#include "platform/ascii.h"

namespace platform {

// Windows opens the device whatever follows its name after a dot, and
// ignores the spaces before that dot.
bool IsWindowsDeviceName(std::string_view part) {
    std::string_view base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (EqualsIgnoringAsciiCase(base, device)) return true;
    if (base.size() < 4 || !(EqualsIgnoringAsciiCase(base.substr(0, 3), "COM") || EqualsIgnoringAsciiCase(base.substr(0, 3), "LPT")))
        return false;
    const std::string_view number = base.substr(3);
    // The superscript digits 1, 2 and 3 count as digits there.
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" || number == "\xC2\xB2" ||
           number == "\xC2\xB3";
}

}  // namespace platform
