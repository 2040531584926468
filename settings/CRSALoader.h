// The optional RSA cookie library: loaded at start-up so that its presence is known and logged. The filter
// calls none of its entry points; a missing library never stops the filter.
#pragma once

#include "platform/WinTypes.h"

#include <memory>

constexpr const char* RSA_LOADER_LIBRARY = "BK_RSALoad64";

class CRSALoader {
public:
    CRSALoader() = default;
    ~CRSALoader();
    CRSALoader(const CRSALoader&) = delete;
    CRSALoader& operator=(const CRSALoader&) = delete;

    // Loads the library (again, releasing an earlier load) and looks up its five entry points. Returns the
    // last error: 0 when all five were found, the load error when the library is missing, else
    // ERROR_PROC_NOT_FOUND for a missing entry point.
    DWORD Load();
    void Unload();
    // True when the library and all five entry points were found.
    bool IsAvailable() const { return m_bAvailable; }

private:
    struct CEntryPoints {
        void* pfnCookieInitializeFilt = nullptr;
        void* pfnGetUserName = nullptr;
        void* pfnGetLastError = nullptr;
        void* pfnFreeMemory = nullptr;
        void* pfnCookieInitializeExtNoMFC = nullptr;
    };

    std::shared_ptr<void> m_spLibrary;
    CEntryPoints m_entryPoints;
    bool m_bAvailable = false;
};
