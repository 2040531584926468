// Reading a value out of the text of a registry key file.
#pragma once

#include "platform/WinTypes.h"

#include <string>

// ERROR_SUCCESS with the value, ERROR_FILE_NOT_FOUND when the key or value is missing, ERROR_INVALID_DATA
// when the value is not a 32-bit number.
LONG QueryRegistryText(const std::string& csText, const std::string& csKey, const std::string& csValueName,
                       DWORD& dwValue);
