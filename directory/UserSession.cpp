#include "directory/UserSession.h"

#include "log/Log.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t FindNoCase(const std::string& csText, const std::string& csKey) {
    if (csKey.size() > csText.size())
        return std::string::npos;
    for (size_t nPos = 0; nPos + csKey.size() <= csText.size(); ++nPos) {
        size_t n = 0;
        while (n < csKey.size() && Lower(csText[nPos + n]) == Lower(csKey[n]))
            ++n;
        if (n == csKey.size())
            return nPos;
    }
    return std::string::npos;
}

bool ExtractCookieValue(const std::string& csCookies, const std::string& csKey, std::string& csValue) {
    if (csKey.empty()) {
        LogMessage("[extractCookie] ERROR Missing Key");
        return false;
    }
    if (csKey.back() != '=') {
        LogMessage("[extractCookie] ERROR Key <%s> requires '=' terminator", csKey.c_str());
        return false;
    }
    const size_t nPos = FindNoCase(csCookies, csKey);
    if (nPos == std::string::npos) {
        LogMessage("[extractCookie] cookie:<%s> key:<%s> not found", csCookies.c_str(), csKey.c_str());
        return false;
    }
    const size_t nStart = nPos + csKey.size();
    const size_t nEnd = csCookies.find(';', nStart);
    csValue = csCookies.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
    return true;
}

} // namespace

bool extractCookie(const std::string& csCookies, const std::string& csKey, std::string& csValue) {
    const bool bFound = ExtractCookieValue(csCookies, csKey, csValue);
    LogMessage("[extractCookie] cookie:<%s> key:<%s> value:<%s> return <%s>", csCookies.c_str(),
               csKey.c_str(), csValue.c_str(), bFound ? "TRUE" : "FALSE");
    return bFound;
}

bool GetSessionId(const std::string& csUser, const std::string& csCookies, std::string& csSessionId) {
    if (csUser.empty()) {
        LogMessage("[CSWGeneralSettings::GetSessionId] Username is empty.");
        return false;
    }
    static const char* const s_pszWarning = "[CSWGeneralSettings::GetADProperty] Warning!: couldn't retrieve "
                                            "cookie or the cookie (%s) value is empty";
    std::string csValue;
    if (!extractCookie(csCookies, "UserContext=", csValue) || csValue.empty()) {
        LogMessage(s_pszWarning, "UserContext=");
        csValue.clear();
        if (!extractCookie(csCookies, "sessionid=", csValue) || csValue.empty()) {
            LogMessage(
                "[CSWGeneralSettings::GetADProperty] Warning!: couldn't retrieve cookie or the cookie (%s) "
                "value is empty, go with user name",
                "sessionid=");
            csValue = csUser;
        }
    }
    csSessionId = csValue;
    LogMessage("[CSWGeneralSettings::GetSessionId] method returned %s, session id:%s", "TRUE",
               csSessionId.c_str());
    return true;
}
