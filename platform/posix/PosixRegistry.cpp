// The machine values that the filter reads from the registry on Windows come, here, from a small key file
// of the installation: "Registry.ini" in the settings folder beside the module's folder. Sections name the
// keys below HKEY_LOCAL_MACHINE ("[SYSTEM\CurrentControlSet\Services\MSExchange OWA]"), lines are
// "Name=value" with decimal or 0x-prefixed hexadecimal numbers. Names compare without case, as in the
// registry.
#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"
#include "platform/posix/RegistryFile.h"

#include <fstream>
#include <sstream>

namespace {

void PosixRegistryAnchor() {}

class CPosixRegistry : public IRegistry {
public:
    LONG QueryLocalMachineDword(const std::string& csKey, const std::string& csValueName,
                                DWORD& dwValue) override {
        std::string csFile;
        if (!KeyFilePath(csFile))
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        std::ifstream file(csFile, std::ios::binary);
        if (!file)
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        std::stringstream content;
        content << file.rdbuf();
        return QueryRegistryText(content.str(), csKey, csValueName, dwValue);
    }

private:
    // The key file lies in "Settings" beside the folder of the loaded module (bin).
    static bool KeyFilePath(std::string& csFile) {
        std::string csModule;
        if (!CPlatform::Modules().GetModulePathOf(reinterpret_cast<const void*>(&PosixRegistryAnchor),
                                                  csModule))
            return false;
        size_t nBin = csModule.find_last_of('/');
        if (nBin == std::string::npos)
            return false;
        size_t nProduct = csModule.find_last_of('/', nBin == 0 ? 0 : nBin - 1);
        if (nProduct == std::string::npos || nBin == 0)
            return false;
        csFile = csModule.substr(0, nProduct + 1) + "Settings/Registry.ini";
        return true;
    }
};

} // namespace

IRegistry& PosixRegistry() {
    return ImmortalInstance<CPosixRegistry>();
}
