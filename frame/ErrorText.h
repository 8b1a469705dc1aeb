// Readable texts of the COM result codes that attaching to the switch can give.
#pragma once

#include <string>

#include "platform/WinTypes.h"

// The system's message for the code without its line break; for codes the
// system has no message for: "IDispatch error #%d" (0x80040200..0x8004FFFF, low
// 16 bits minus 0x200) or "Unknown error 0x%0lX".
std::string ComErrorMessage(HRESULT code);
