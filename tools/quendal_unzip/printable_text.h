#pragma once

#include <string>
#include <string_view>

// Text from an archive as it may go to a terminal: names hold whatever bytes
// their maker chose, and control characters would move the cursor, rewrite
// lines or drive the terminal. C0 controls and DEL are shown in caret
// notation (ESC as ^[, CR as ^M), C1 controls and bytes that are no UTF-8 as
// \xNN; all other text passes unchanged.
std::string Printable(std::string_view text);
