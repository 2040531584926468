// The text a COM error carries into the logs and the event log.
#pragma once

#include "platform/WinTypes.h"

#include <string>

// The code a dispatch error was raised with: hr - 0x80040200 inside 0x80040200..0x8004FFFF, else 0. A
// dispatch error is raised either with a code or with a full HRESULT, never with code 0, so the first value
// of the range carries no code.
WORD ComDispatchErrorCode(HRESULT hr);

// The system's message for hr without its line end; else "IDispatch error #<code>" for a dispatch error with
// a code; else "Unknown error 0x<hr in hexadecimal>".
std::string ComErrorMessage(HRESULT hr);
