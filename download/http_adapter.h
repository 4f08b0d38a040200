#pragma once

// The HTTP transfer of this platform; both offer THttpSession and
// THttpRequest with the same pull interface.
#ifdef _WIN32
#include "download/wininet_transfer.h"
#else
#include "download/http_transfer.h"
#endif
