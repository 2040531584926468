// The module's own path and dynamically loaded libraries.
#pragma once

#include "platform/WinTypes.h"

#include <string>

class IModules {
public:
    virtual ~IModules() = default;
    // Full path of the loaded binary that contains the given address; false when none does.
    virtual bool GetModulePathOf(const void* pAddress, std::string& csPath) = 0;
    // Full path of a loaded binary whose file name, without its extension and any "lib" prefix,
    // equals csName (ignoring case); false when none is loaded.
    virtual bool FindLoadedModule(const std::string& csName, std::string& csPath) = 0;
    // Loads a library; null and a Win32 code on failure.
    virtual void* LoadLibrary(const std::string& csPath, DWORD& dwError) = 0;
    virtual void* GetProcAddress(void* hModule, const char* pszName) = 0;
    virtual void FreeLibrary(void* hModule) = 0;
    // The platform's file name for a library base name ("LogModule" gives "libLogModule.so" here).
    virtual std::string LibraryFileName(const std::string& csBaseName) = 0;
};
