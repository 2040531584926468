// Platform services that fail, for tests of what the module does when the system lets it down.
#pragma once

#include "platform/IModules.h"

#include <stdexcept>

// A platform that cannot tell where any module lies, and loads nothing.
class CNoModules : public IModules {
public:
    bool GetModulePathOf(const void*, std::string&) override { return false; }
    bool FindLoadedModule(const std::string&, std::string&) override { return false; }
    void* LoadLibrary(const std::string&, DWORD& dwError) override {
        dwError = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    void* GetProcAddress(void*, const char*) override { return nullptr; }
    void FreeLibrary(void*) override {}
    std::string LibraryFileName(const std::string& cs) override { return cs; }
};

// The same, throwing when asked for a module path.
class CThrowingModules : public CNoModules {
public:
    bool GetModulePathOf(const void*, std::string&) override { throw std::runtime_error("platform failure"); }
};
