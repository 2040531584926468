#include "settings/ModulePath.h"

#include "platform/CPlatform.h"

namespace {
bool IsSeparator(char ch) {
    return ch == '/' || ch == '\\';
}
} // namespace

std::string ModuleFolderFromPath(const std::string& csModulePath, int nLevels, char chSeparator) {
    std::string csPath = csModulePath;
    const std::string csLongPrefix = "\\\\?\\";
    if (csPath.compare(0, csLongPrefix.size(), csLongPrefix) == 0)
        csPath.erase(0, csLongPrefix.size());
    size_t nEnd = csPath.find_last_of("/\\");
    if (nEnd == std::string::npos)
        return std::string();
    csPath.erase(nEnd); // the folder, without its trailing separator
    for (int i = 0; i < nLevels; ++i) {
        size_t nSep = csPath.find_last_of("/\\");
        if (nSep == std::string::npos)
            return std::string();
        csPath.erase(nSep);
    }
    if (csPath.empty() || !IsSeparator(csPath.back()))
        csPath += chSeparator;
    return csPath;
}

bool GetOwnModulePath(std::string& csPath) {
    return CPlatform::Modules().GetModulePathOf(reinterpret_cast<const void*>(&GetOwnModulePath), csPath);
}
