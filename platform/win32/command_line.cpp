#include "platform/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace platform {

// argv holds the arguments in the ANSI code page, where Korean names may not
// fit; the wide command line has them all.
std::vector<std::string> CommandLineArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace platform
