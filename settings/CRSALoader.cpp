#include "settings/CRSALoader.h"

#include "log/Log.h"
#include "platform/CPlatform.h"

namespace {

struct CEntryPointName {
    const char* pszExport;
    const char* pszFailure;
};

const CEntryPointName g_aEntryPoints[] = {
    {"BK_RSACookieInitializeFilt", "RSALoad failed to get RSACookieInitializeFilt error %d"},
    {"BK_RSAGetUserName", "RSALoad failed to get RSAGetUserName error %d"},
    {"BK_RSAGetLastError", "RSALoad failed to get RSAGetLastError error %d"},
    {"BK_RSAFreeMemory", "RSALoad failed to get RSAFreeMemory error %d"},
    {"BK_RSACookieInitializeExtNoMFC", "RSALoad failed to get RSACookieInitializeExtNoMFC error %d"},
};

} // namespace

CRSALoader::~CRSALoader() {
    Unload();
}

void CRSALoader::Unload() {
    m_entryPoints = CEntryPoints();
    m_bAvailable = false;
    m_spLibrary.reset();
}

DWORD CRSALoader::Load() {
    Unload();
    IModules& modules = CPlatform::Modules();
    DWORD dwError = ERROR_SUCCESS;
    void* hLibrary = modules.LoadLibrary(modules.LibraryFileName(RSA_LOADER_LIBRARY), dwError);
    if (!hLibrary) {
        LogMessage(
            "RSALoad failed to load BK_RSALoad.dll %d. If RSA is installed check in System32 for dll and "
            "rsacookieapi.dll ",
            static_cast<int>(dwError));
        return dwError ? dwError : ERROR_MOD_NOT_FOUND;
    }
    // The library is freed with the last reference, through the services that loaded it.
    m_spLibrary = std::shared_ptr<void>(hLibrary, [&modules](void* h) { modules.FreeLibrary(h); });

    void** apSlots[] = {&m_entryPoints.pfnCookieInitializeFilt, &m_entryPoints.pfnGetUserName,
                        &m_entryPoints.pfnGetLastError, &m_entryPoints.pfnFreeMemory,
                        &m_entryPoints.pfnCookieInitializeExtNoMFC};
    DWORD dwLastError = ERROR_SUCCESS;
    for (size_t i = 0; i < std::size(g_aEntryPoints); ++i) {
        *apSlots[i] = modules.GetProcAddress(hLibrary, g_aEntryPoints[i].pszExport);
        if (!*apSlots[i]) {
            // The loader reports no code of its own for a missing export; Windows gives this one.
            dwLastError = ERROR_PROC_NOT_FOUND;
            LogMessage(g_aEntryPoints[i].pszFailure, static_cast<int>(dwLastError));
        }
    }
    m_bAvailable = dwLastError == ERROR_SUCCESS;
    return dwLastError;
}
