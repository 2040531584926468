// Loading a module file: the one place where the hosts use the operating system's loader directly, because
// an administrator needs the loader's own reason when a module does not load.
#include "host/common/HostSession.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

std::unique_ptr<CHostModule> CHostModule::Load(const std::string& csPath, std::string& csError) {
    std::error_code ec;
    if (csPath.empty()) {
        csError = "no module path given";
        return nullptr;
    }
    if (!std::filesystem::exists(csPath, ec)) {
        csError = "module file not found: " + csPath;
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(csPath, ec)) {
        csError = "module path is not a file: " + csPath;
        return nullptr;
    }
    // A path without "/" would make dlopen search the library path instead of loading this file.
    std::string csLoadPath = csPath.find('/') == std::string::npos ? "./" + csPath : csPath;
    ::dlerror();
    void* hModule = ::dlopen(csLoadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!hModule) {
        const char* pszReason = ::dlerror();
        csError = "cannot load module " + csPath + ": " + (pszReason ? pszReason : "unknown loader error");
        return nullptr;
    }
    std::unique_ptr<CHostModule> spModule(new CHostModule());
    spModule->m_hModule = hModule;
    spModule->m_csPath = csPath;
    auto& entry = spModule->m_entryPoints;
    entry.pfnGetFilterVersion =
        reinterpret_cast<PFN_GET_FILTER_VERSION>(::dlsym(hModule, "GetFilterVersion"));
    entry.pfnHttpFilterProc = reinterpret_cast<PFN_HTTP_FILTER_PROC>(::dlsym(hModule, "HttpFilterProc"));
    entry.pfnTerminateFilter = reinterpret_cast<PFN_TERMINATE_FILTER>(::dlsym(hModule, "TerminateFilter"));
    std::string csMissing;
    if (!entry.pfnGetFilterVersion)
        csMissing += " GetFilterVersion";
    if (!entry.pfnHttpFilterProc)
        csMissing += " HttpFilterProc";
    if (!entry.pfnTerminateFilter)
        csMissing += " TerminateFilter";
    if (!csMissing.empty()) {
        csError = "module " + csPath + " does not export:" + csMissing;
        spModule->Unload();
        return nullptr;
    }
    if (!CheckContract(entry.pfnHttpFilterProc, csPath, csError)) {
        spModule->Unload();
        return nullptr;
    }
    return spModule;
}

bool CHostModule::CheckContract(PFN_HTTP_FILTER_PROC pfnHttpFilterProc, const std::string& csPath,
                                std::string& csError) {
    // A null record asks the module for its contract; nothing of the request record is touched.
    DWORD dwContract = 0;
    try {
        dwContract = pfnHttpFilterProc(nullptr);
    } catch (...) {
        csError = "module " + csPath + " threw when asked for its host contract";
        return false;
    }
    if (dwContract == WK_HOST_ABI_CONTRACT)
        return true;
    const std::string csHost = "this host uses version " + std::to_string(WK_HOST_ABI_VERSION) + " with " +
                               std::to_string(sizeof(CDLLContext)) + "-byte records";
    if (dwContract == 0)
        csError = "module " + csPath +
                  " does not tell its host contract (built before contracts had a version); " + csHost;
    else
        csError = "module " + csPath + " was built for host contract version " +
                  std::to_string(HostAbiContractVersion(dwContract)) + " with " +
                  std::to_string(HostAbiContractSize(dwContract)) + "-byte request records; " + csHost;
    return false;
}

bool CHostModule::Unload() {
    if (!m_hModule)
        return true;
    ::dlclose(m_hModule);
    m_entryPoints = CModuleEntryPoints();
    // Asking for the file without loading it tells whether the close really unloaded it.
    std::string csLoadPath = m_csPath.find('/') == std::string::npos ? "./" + m_csPath : m_csPath;
    void* hStill = ::dlopen(csLoadPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    m_hModule = nullptr;
    if (hStill) {
        ::dlclose(hStill);
        return false;
    }
    return true;
}
