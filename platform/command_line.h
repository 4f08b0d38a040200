#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments after its name, in UTF-8 whatever code page the
// system passed them in, so that names outside the ANSI code page survive.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the console show this program's UTF-8 output as text.
void UseUtf8Console();

}  // namespace platform
