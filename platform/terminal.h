#pragma once

#include <string>

namespace platform {

enum class StandardStream { Input, Output, Error };

// Whether the stream is attached to an interactive terminal.
bool IsTerminal(StandardStream stream);

// Columns of the terminal on standard error; 80 when unknown.
int TerminalColumns();

// Shows `prompt` on the terminal and reads one line from it, without the line
// end. Without echo the typed characters are not shown (passwords). False
// when there is no terminal or its input ended.
bool ReadTerminalLine(const std::string& prompt, bool echo, std::string& line);

// From now on an interrupt from the keyboard (Ctrl+C) no longer ends the
// process; it is noted for InterruptRequested instead.
void CatchInterrupt();
bool InterruptRequested();

}  // namespace platform
