// libFuzzer target: a request's cookie text through the scan for UserContext cookies and the removal lines
// that the blocked-browser redirect sends for them. Only well-formed names, in input order, each at the start
// of a cookie and followed by "=", may come out, and the removal lines must not be able to start a header of
// their own.
#include "log/Log.h"
#include "screening/CPreProcHeadersHelper.h"
#include "text/CaselessString.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::string_view USER_CONTEXT = "UserContext";

// Logging stays on so that the names also pass through the formatting, but nothing is written anywhere.
void DiscardLine(const char*) {}

bool IsWellFormedName(const std::string& csName) {
    if (csName.size() < USER_CONTEXT.size() ||
        !EqualsCaseless(csName.substr(0, USER_CONTEXT.size()), USER_CONTEXT))
        return false;
    const std::string_view svRest = std::string_view(csName).substr(USER_CONTEXT.size());
    if (svRest.empty())
        return true;
    if (svRest[0] != '_')
        return false;
    for (char ch : svRest.substr(1))
        if (!std::isxdigit(static_cast<unsigned char>(ch)))
            return false;
    return true;
}

// The position of the name's first cookie at or after nFrom, or npos.
size_t FindCookie(const std::string& csCookies, const std::string& csName, size_t nFrom) {
    const std::string csAssignment = csName + "=";
    for (size_t nPos = csCookies.find(csAssignment, nFrom); nPos != std::string::npos;
         nPos = csCookies.find(csAssignment, nPos + 1))
        if (nPos == 0 || csCookies[nPos - 1] == ';' || csCookies[nPos - 1] == ' ')
            return nPos;
    return std::string::npos;
}

// Every line ends with CR LF and no other CR or LF occurs.
bool HasOnlyLineEnds(std::string_view svText) {
    for (size_t n = 0; n < svText.size(); ++n) {
        if (svText[n] == '\r' && (n + 1 == svText.size() || svText[n + 1] != '\n'))
            return false;
        if (svText[n] == '\n' && (n == 0 || svText[n - 1] != '\r'))
            return false;
    }
    return svText.empty() || svText.ends_with("\r\n");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogSink(&DiscardLine);
    SetLogLevel(LOG_LEVEL_ON);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    const std::string csCookies(reinterpret_cast<const char*>(pData), cbData);
    std::vector<std::string> vNames;
    ScanUserContextCookies(csCookies, [&](const std::string& csName) { vNames.push_back(csName); });

    std::string csExpected;
    size_t nFrom = 0;
    for (const std::string& csName : vNames) {
        if (!IsWellFormedName(csName))
            __builtin_trap();
        const size_t nPos = FindCookie(csCookies, csName, nFrom);
        if (nPos == std::string::npos)
            __builtin_trap();
        nFrom = nPos + csName.size() + 1;
        csExpected += CookieRemovalLine(csName);
    }

    // Appended, not replaced: whatever the caller collected before stays in front, followed by one removal
    // line per name found.
    const std::string csBefore = "Location: /owa/\r\n";
    std::string csHeaders = csBefore;
    CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders(csCookies, csHeaders);
    if (csHeaders.compare(0, csBefore.size(), csBefore) != 0)
        __builtin_trap();
    const std::string_view svAppended = std::string_view(csHeaders).substr(csBefore.size());
    if (svAppended != csExpected || !HasOnlyLineEnds(svAppended))
        __builtin_trap();
    return 0;
}
