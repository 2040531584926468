#include "platform/posix/RegistryFile.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace {

std::string Trim(const std::string& csText) {
    size_t nBegin = csText.find_first_not_of(" \t\r");
    if (nBegin == std::string::npos)
        return std::string();
    size_t nEnd = csText.find_last_not_of(" \t\r");
    return csText.substr(nBegin, nEnd - nBegin + 1);
}

bool SameName(const std::string& csA, const std::string& csB) {
    return csA.size() == csB.size() && ::strcasecmp(csA.c_str(), csB.c_str()) == 0;
}

LONG ParseDword(const std::string& csText, DWORD& dwValue) {
    if (csText.empty() || csText[0] == '-' || csText[0] == '+')
        return static_cast<LONG>(ERROR_INVALID_DATA);
    errno = 0;
    char* pszEnd = nullptr;
    unsigned long long qwValue = std::strtoull(csText.c_str(), &pszEnd, 0);
    if (errno != 0 || *pszEnd != 0 || qwValue > 0xFFFFFFFFull)
        return static_cast<LONG>(ERROR_INVALID_DATA);
    dwValue = static_cast<DWORD>(qwValue);
    return static_cast<LONG>(ERROR_SUCCESS);
}

} // namespace

LONG QueryRegistryText(const std::string& csText, const std::string& csKey, const std::string& csValueName,
                       DWORD& dwValue) {
    bool bInKey = false;
    size_t nPos = 0;
    while (nPos <= csText.size()) {
        size_t nEnd = csText.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = csText.size();
        std::string csLine = Trim(csText.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        if (csLine.empty() || csLine[0] == ';' || csLine[0] == '#')
            continue;
        if (csLine.front() == '[' && csLine.back() == ']') {
            bInKey = SameName(Trim(csLine.substr(1, csLine.size() - 2)), csKey);
            continue;
        }
        size_t nEqual = csLine.find('=');
        if (bInKey && nEqual != std::string::npos && SameName(Trim(csLine.substr(0, nEqual)), csValueName))
            return ParseDword(Trim(csLine.substr(nEqual + 1)), dwValue);
    }
    return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
}
