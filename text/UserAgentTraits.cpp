#include "text/UserAgentTraits.h"

#include "text/CaselessString.h"

namespace {

bool Contains(std::string_view csText, std::string_view csWhat) {
    return FindCaseless(csText, csWhat) != std::string_view::npos;
}

// The character after the first "MSIE ", or none when the text ends there.
bool CharAfterMsie(std::string_view csUserAgent, unsigned char& chAfter) {
    const size_t nMsie = FindCaseless(csUserAgent, "MSIE ");
    if (nMsie == std::string_view::npos || nMsie + 5 >= csUserAgent.size())
        return false;
    chAfter = static_cast<unsigned char>(csUserAgent[nMsie + 5]);
    return true;
}

} // namespace

bool IsMacPlatform(std::string_view csUserAgent) {
    return Contains(csUserAgent, "Macintosh") || Contains(csUserAgent, "Mac OS") ||
           Contains(csUserAgent, "Mac_PowerPC");
}

bool IsIE6OrLaterOnWindows(std::string_view csUserAgent) {
    unsigned char chAfter = 0;
    return CharAfterMsie(csUserAgent, chAfter) && Contains(csUserAgent, "Windows") && chAfter > '5';
}

bool IsIE4OrLaterOnMac(std::string_view csUserAgent) {
    unsigned char chAfter = 0;
    return CharAfterMsie(csUserAgent, chAfter) && Contains(csUserAgent, "MAC") && chAfter >= '4';
}

bool IsOwaAuthOnWindows(std::string_view csUserAgent) {
    return Contains(csUserAgent, "owaauth") && Contains(csUserAgent, "Windows");
}
