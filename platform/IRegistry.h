// Read access to the machine's configuration values (the registry on Windows).
#pragma once

#include "platform/WinTypes.h"

#include <string>

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // Reads a 32-bit value under HKEY_LOCAL_MACHINE; ERROR_SUCCESS or the Win32 code of the failure
    // (ERROR_FILE_NOT_FOUND when the key or the value is missing).
    virtual LONG QueryLocalMachineDword(const std::string& csKey, const std::string& csValueName,
                                        DWORD& dwValue) = 0;
};
