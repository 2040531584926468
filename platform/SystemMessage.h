// The system's message text for a Win32 code or an HRESULT, as the logs and the event log quote it.
#pragma once

#include "platform/WinTypes.h"

#include <string>

// The system text of dwCode, ending with "\r\n" as the system writes it; false when the code has none.
bool GetSystemMessageText(DWORD dwCode, std::string& csText);
// The system text, or "Unknown error 0x%08X" when there is none; line ends are kept.
std::string SystemMessageOrFallback(DWORD dwCode);
