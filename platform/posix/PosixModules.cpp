#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include <dlfcn.h>
#include <link.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

std::string BaseNameWithoutExtension(const std::string& csPath) {
    size_t nSlash = csPath.find_last_of('/');
    std::string csName = nSlash == std::string::npos ? csPath : csPath.substr(nSlash + 1);
    size_t nDot = csName.find('.');
    if (nDot != std::string::npos)
        csName.erase(nDot);
    if (csName.compare(0, 3, "lib") == 0)
        csName.erase(0, 3);
    return csName;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct CFindRequest {
    const std::string* pName;
    std::string* pPath;
    bool bFound;
};

int FindModuleCallback(struct dl_phdr_info* pInfo, size_t, void* pData) {
    auto* pRequest = static_cast<CFindRequest*>(pData);
    if (!pInfo->dlpi_name || !*pInfo->dlpi_name)
        return 0;
    std::string csPath = pInfo->dlpi_name;
    if (!EqualsIgnoringCase(BaseNameWithoutExtension(csPath), *pRequest->pName))
        return 0;
    *pRequest->pPath = csPath;
    pRequest->bFound = true;
    return 1;
}

class CPosixModules : public IModules {
public:
    bool GetModulePathOf(const void* pAddress, std::string& csPath) override {
        Dl_info info{};
        if (!::dladdr(pAddress, &info) || !info.dli_fname || !*info.dli_fname)
            return false;
        char szResolved[PATH_MAX];
        csPath = ::realpath(info.dli_fname, szResolved) ? szResolved : info.dli_fname;
        return true;
    }

    bool FindLoadedModule(const std::string& csName, std::string& csPath) override {
        CFindRequest request{&csName, &csPath, false};
        ::dl_iterate_phdr(&FindModuleCallback, &request);
        return request.bFound;
    }

    void* LoadLibrary(const std::string& csPath, DWORD& dwError) override {
        void* h = ::dlopen(csPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        dwError = h ? ERROR_SUCCESS : ERROR_MOD_NOT_FOUND;
        return h;
    }

    void* GetProcAddress(void* hModule, const char* pszName) override {
        return hModule ? ::dlsym(hModule, pszName) : nullptr;
    }

    void FreeLibrary(void* hModule) override {
        if (hModule)
            ::dlclose(hModule);
    }

    std::string LibraryFileName(const std::string& csBaseName) override { return "lib" + csBaseName + ".so"; }
};

} // namespace

IModules& PosixModules() {
    return ImmortalInstance<CPosixModules>();
}
