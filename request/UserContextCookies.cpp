#include "request/UserContextCookies.h"

#include "text/CaselessString.h"

#include <algorithm>

namespace {

constexpr char USER_CONTEXT[] = "UserContext";
constexpr size_t USER_CONTEXT_LENGTH = sizeof(USER_CONTEXT) - 1;

bool IsHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

} // namespace

bool StartsCookie(const std::string& csCookies, size_t nPos) {
    return nPos == 0 || csCookies[nPos - 1] == ';' || csCookies[nPos - 1] == ' ';
}

void ScanUserContextCookies(const std::string& csCookies,
                            const std::function<void(const std::string&)>& fnFound) {
    size_t nFrom = 0;
    while (nFrom < csCookies.size()) {
        const size_t nPos = FindCaseless(csCookies, USER_CONTEXT, nFrom);
        if (nPos == std::string::npos)
            return;
        size_t nEnd = nPos + USER_CONTEXT_LENGTH;
        if (nEnd < csCookies.size() && csCookies[nEnd] == '_')
            for (++nEnd; nEnd < csCookies.size() && IsHexDigit(csCookies[nEnd]);)
                ++nEnd;
        if (!StartsCookie(csCookies, nPos) || nEnd >= csCookies.size() || csCookies[nEnd] != '=') {
            nFrom = nPos + 1;
            continue;
        }
        fnFound(csCookies.substr(nPos, nEnd - nPos));
        const size_t nSemicolon = csCookies.find(';', nEnd + 1);
        if (nSemicolon == std::string::npos)
            return;
        nFrom = nSemicolon + 1;
    }
}

std::string CookieRemovalValue(const std::string& csName) {
    return csName + "=; path=/; expires=Thu, 01-Jan-1970 00:00:00 GMT";
}

std::string CookieRemovalLine(const std::string& csName) {
    return "Set-Cookie: " + CookieRemovalValue(csName) + "\r\n";
}

bool IsSafeHeaderText(std::string_view svText) {
    return std::none_of(svText.begin(), svText.end(),
                        [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; });
}
