#include "screening/CPreProcHeadersHelper.h"

#include "log/Log.h"
#include "request/CNotificationsHelper.h"
#include "request/SettingsSingleton.h"
#include "request/UserContextCookies.h"
#include "screening/CBrowser.h"
#include "screening/CUserAgent.h"
#include "text/CSWFormScriptPath.h"
#include "text/CTextKeyedCache.h"
#include "text/CWildCharParser.h"

#include <algorithm>

namespace {

std::string_view Plain(const CaselessString& csText) {
    return std::string_view(csText.data(), csText.size());
}

const char* YesNo(bool b) {
    return b ? "Y" : "N";
}
const char* TrueFalse(bool b) {
    return b ? "TRUE" : "FALSE";
}

constexpr char OWA_DIR[] = "/owa";
constexpr char BASE_PARAMETER[] = "bkwkbase=";

bool HasQueryString(const CaselessString& csUrl, size_t& nQuestion) {
    nQuestion = csUrl.find('?');
    return nQuestion != CaselessString::npos && nQuestion + 1 < csUrl.size();
}

CaselessString WithoutTrailingQuestionMark(const CaselessString& csUrl) {
    return !csUrl.empty() && csUrl.back() == '?' ? csUrl.substr(0, csUrl.size() - 1) : csUrl;
}

std::vector<CaselessString> VersionSegments(const CaselessString& csVersion) {
    std::vector<CaselessString> vSegments;
    if (csVersion.empty())
        return vSegments;
    for (size_t nStart = 0;;) {
        const size_t nDot = csVersion.find('.', nStart);
        vSegments.push_back(csVersion.substr(nStart, nDot - nStart));
        if (nDot == CaselessString::npos)
            return vSegments;
        nStart = nDot + 1;
    }
}

// The allow-map key of a browser name: Internet Explorer by platform, the Firefox and Netscape aliases.
CaselessString AllowListKey(const CaselessString& csName, const CaselessString& csPlatform) {
    if (csName == "MSIE") {
        if (csPlatform.compare(0, 3, "win") == 0)
            return "IEWIN";
        if (csPlatform.compare(0, 3, "mac") == 0)
            return "IEMAC";
        return csName;
    }
    if (csName == "Phoenix" || csName == "Firebird")
        return "Firefox";
    if (csName == "Netscape6")
        return "Netscape";
    return csName;
}

} // namespace

bool CPreProcHeadersHelper::IsOWAStartPageURL(const CaselessString& csUrl, bool bClosingSlashRequired) {
    LogMessage("[CPreProcHeadersHelper::IsOWAStartPageURL] Starts. HTTP URL <%s> Closing slash required <%s>",
               csUrl.c_str(), YesNo(bClosingSlashRequired));
    size_t nQuestion = 0;
    if (HasQueryString(csUrl, nQuestion)) {
        LogMessage(
            "[CPreProcHeadersHelper::IsOWAStartPageURL] URL has query string parameters. URL <%s>. Return "
            "false.",
            csUrl.c_str());
        return false;
    }
    const bool bResult = IsOWAStartPageURL_Helper(WithoutTrailingQuestionMark(csUrl), bClosingSlashRequired);
    LogMessage("[CPreProcHeadersHelper::IsOWAStartPageURL] Returned <%s>.", TrueFalse(bResult));
    return bResult;
}

bool CPreProcHeadersHelper::IsOWAStartPageURL_Helper(const CaselessString& csUrl,
                                                     bool bClosingSlashRequired) {
    static const char s_szPrefix[] = "[CPreProcHeadersHelper::IsOWAStartPageURL_Helper] ";
    if (csUrl.find('?') != CaselessString::npos) {
        LogMessage("%sInvalid URL parameter <%s>.", s_szPrefix, csUrl.c_str());
        return false;
    }
    if (csUrl.empty()) {
        LogMessage("%sEmpty URL. Return false.", s_szPrefix);
        return false;
    }
    CaselessString csPath = csUrl;
    if (csPath.back() == '/') {
        csPath.pop_back();
    } else if (bClosingSlashRequired) {
        LogMessage("%sclosing foreslash is missing. URL <%s>. Return false.", s_szPrefix, csUrl.c_str());
        return false;
    }
    const size_t nOwa = csPath.find(OWA_DIR);
    if (nOwa == CaselessString::npos) {
        LogMessage("%s<%s> not found in URL <%s>. Return false.", s_szPrefix, OWA_DIR, csUrl.c_str());
        return false;
    }
    const size_t nAfter = nOwa + sizeof(OWA_DIR) - 1;
    if (nAfter == csPath.size()) {
        LogMessage("%s<%s> OWA start page URL (without UPN). Return true.", s_szPrefix, csUrl.c_str());
        return true;
    }
    if (csPath[nAfter] == '/') {
        const CaselessString csRest = csPath.substr(nAfter + 1);
        if (!csRest.empty() && csRest.find_first_of("?/") == CaselessString::npos &&
            csRest.find('@') != CaselessString::npos) {
            LogMessage("%s<%s> OWA start page URL with UPN. Return true.", s_szPrefix, csUrl.c_str());
            return true;
        }
    }
    LogMessage("%s<%s> This is not OWA start page URL. Return false.", s_szPrefix, csUrl.c_str());
    return false;
}

bool CPreProcHeadersHelper::IsBKWKBaseURL(const CaselessString& csUrl, bool bClosingSlashRequired) {
    LogMessage(
        "[CPreProcHeadersHelper::IsBKWKBaseURL] Starts. HTTP URL <%s> Closing foreslash required <%s>.",
        csUrl.c_str(), YesNo(bClosingSlashRequired));
    bool bResult = false;
    size_t nQuestion = 0;
    if (HasQueryString(csUrl, nQuestion)) {
        const CaselessString csQuery = csUrl.substr(nQuestion + 1);
        bResult = csQuery.compare(0, sizeof(BASE_PARAMETER) - 1, BASE_PARAMETER) == 0 ||
                  csQuery.find(CaselessString("&") + BASE_PARAMETER) != CaselessString::npos;
        if (bResult)
            LogMessage(
                "[CPreProcHeadersHelper::IsBKWKBaseURL] <%s> parameter was found in URL <%sw>. Return true.",
                BASE_PARAMETER, csUrl.c_str());
        else
            LogMessage(
                "[CPreProcHeadersHelper::IsBKWKBaseURL] Query string parameter doesn't contain <%s>. URL "
                "<%s> Return false.",
                BASE_PARAMETER, csUrl.c_str());
    } else {
        bResult = IsOWAStartPageURL_Helper(WithoutTrailingQuestionMark(csUrl), bClosingSlashRequired);
    }
    LogMessage("[CPreProcHeadersHelper::IsBKWKBaseURL] Returned <%s>.", TrueFalse(bResult));
    return bResult;
}

bool CPreProcHeadersHelper::IsBKWKBaseRequest(DWORD dwSubscriptionType, const CaselessString& csUrl,
                                              const CaselessString& csReferer) {
    static const char s_szPrefix[] = "[CPreProcHeadersHelper::IsBKWKBaseRequest] ";
    LogMessage("%sStarts. Subscription type <%d> HTTP URL <%s> Referer <%s>.", s_szPrefix,
               static_cast<int>(dwSubscriptionType), csUrl.c_str(), csReferer.c_str());
    bool bResult = false;
    if (dwSubscriptionType == ST_BASE_REQUEST) {
        LogMessage("%ssubscription type is %d (base request type), this is a BKWK base request.", s_szPrefix,
                   static_cast<int>(ST_BASE_REQUEST));
        bResult = true;
    } else if (dwSubscriptionType == ST_OWA_FOLDER && IsOWAStartPageURL(csUrl, true)) {
        LogMessage("%ssubscription type is %d (OWA folderonly), this is OWA startpage URL. Parse referer, to "
                   "figure out if this is a subframe request.",
                   s_szPrefix, static_cast<int>(ST_OWA_FOLDER));
        const bool bSubframe = IsOWAStartPageURL(csReferer, false) || IsBKWKBaseURL(csReferer, false);
        LogMessage("%sReferer <%s> shows that this %s a subframe request.", s_szPrefix, csReferer.c_str(),
                   bSubframe ? "IS" : "IS NOT");
        bResult = !bSubframe;
    } else if (dwSubscriptionType == ST_OWA_FOLDER) {
        LogMessage("%ssubscription type is %d (OWA folderonly) but this is not OWA startpage URL.",
                   s_szPrefix, static_cast<int>(ST_OWA_FOLDER));
    } else {
        LogMessage("%ssubscription type <%d> is neither 'base request' nor 'OWA folderonly'.", s_szPrefix,
                   static_cast<int>(dwSubscriptionType));
    }
    LogMessage("%sreturned <%s>.", s_szPrefix, TrueFalse(bResult));
    return bResult;
}

bool CPreProcHeadersHelper::IsBrowserOnAllowList(const CaselessString& csName,
                                                 const CaselessString& csVersion,
                                                 const CaselessString& csPlatform) {
    static const char s_szPrefix[] = "[CPreProcHeadersHelper::IsBrowserOnAllowList] ";
    LogMessage("%sMethod start, browser: %s, version: %s, platform: %s", s_szPrefix, csName.c_str(),
               csVersion.c_str(), csPlatform.c_str());
    if (csName.empty() || csVersion.empty()) {
        LogMessage("%sInvalid parameters! Empty parameters.", s_szPrefix);
        LogMessage("%sMethod returned: %s", s_szPrefix, TrueFalse(false));
        return false;
    }
    bool bResult = false;
    const CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    const CBrowserVersionMap* pAllow = pSettings ? &pSettings->GetAllowBrowsers() : nullptr;
    const auto it =
        pAllow ? pAllow->find(AllowListKey(csName, csPlatform)) : CBrowserVersionMap::const_iterator();
    if (!pAllow || it == pAllow->end()) {
        LogMessage("%sUnsupported browser! User agent string indicates unsupported browser", s_szPrefix);
    } else {
        bResult = CompareBrowserVersions(csVersion, ToCaseless(it->second)) >= 0;
        if (!bResult)
            LogMessage("%sUnsupported version! User agent string indicates unsupported version", s_szPrefix);
    }
    LogMessage("%sMethod returned: %s", s_szPrefix, TrueFalse(bResult));
    return bResult;
}

int CPreProcHeadersHelper::CompareBrowserVersions(const CaselessString& csVersion,
                                                  const CaselessString& csMinimum) {
    static const char s_szPrefix[] = "[CPreProcHeadersHelper::CompareBrowserVersions] ";
    LogMessage("%sCompare <%s> and <%s> versions.", s_szPrefix, csVersion.c_str(), csMinimum.c_str());
    const std::vector<CaselessString> vLeft = VersionSegments(csVersion);
    const std::vector<CaselessString> vRight = VersionSegments(csMinimum);
    int nResult = 0;
    size_t i = 0;
    for (; i < vLeft.size() && i < vRight.size() && nResult == 0; ++i) {
        const size_t cch = std::max(vLeft[i].size(), vRight[i].size());
        const CaselessString csLeft = CaselessString(cch - vLeft[i].size(), ' ') + vLeft[i];
        const CaselessString csRight = CaselessString(cch - vRight[i].size(), ' ') + vRight[i];
        LogMessage("%sCompare <%s> and <%s> version segments.", s_szPrefix, csLeft.c_str(), csRight.c_str());
        const int nCompare = csLeft.compare(csRight);
        nResult = (nCompare > 0) - (nCompare < 0);
        if (nResult == 0)
            LogMessage("%sVersion segments <%s> and <%s> are equal. Find and compare next segments.",
                       s_szPrefix, csLeft.c_str(), csRight.c_str());
    }
    if (nResult == 0)
        nResult = (vLeft.size() > i) - (vRight.size() > i);
    LogMessage("%sCompared <%s> and <%s> versions. Return <%d>.", s_szPrefix, csVersion.c_str(),
               csMinimum.c_str(), nResult);
    return nResult;
}

void CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders(const std::string& csCookies,
                                                                 std::string& csHeaders) {
    LogMessage("[CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders] Starts.");
    ScanUserContextCookies(csCookies, [&](const std::string& csName) {
        csHeaders += CookieRemovalLine(csName);
        LogMessage(
            "[CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders] Found <%s> cookie, reset cookie.",
            csName.c_str());
    });
    LogMessage("[CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders] returned.");
}

namespace {

const char* const COOKIE_VARIABLE = "HTTP_COOKIE";

// The resets of the session cookies that the request carries, in the order the blocked page wants them gone.
std::string SessionCookieResets(const std::string& csCookies) {
    static const char s_szPrefix[] = "[CPreProcHeadersHelper::Redirect2BrowserBlockedPage] ";
    LogMessage("%s<%s> header value <%s>.", s_szPrefix, COOKIE_VARIABLE, csCookies.c_str());
    std::string csHeaders;
    if (FindCaseless(csCookies, "sessionid=") != std::string::npos) {
        LogMessage("%sFound sessionid cookie, reset cookie", s_szPrefix);
        csHeaders += CookieRemovalLine("sessionid");
    }
    CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders(csCookies, csHeaders);
    if (FindCaseless(csCookies, "rsa-local=") != std::string::npos) {
        LogMessage("%sFound rsa cookie, reset cookie", s_szPrefix);
        csHeaders += CookieRemovalLine("rsa-local");
    }
    for (size_t nPos = FindCaseless(csCookies, "cadata"); nPos != std::string::npos;
         nPos = FindCaseless(csCookies, "cadata", nPos + 1)) {
        if (!StartsCookie(csCookies, nPos))
            continue;
        const size_t nEquals = csCookies.find('=', nPos);
        if (nEquals == std::string::npos)
            break;
        const std::string csName = csCookies.substr(nPos, nEquals - nPos);
        // A name is copied into a header of the response: one that could end the line is not reset.
        if (!IsSafeHeaderText(csName)) {
            LogMessage("%sA cadata cookie name holds control characters; it is not reset", s_szPrefix);
            break;
        }
        LogMessage("%sFound cadata cookie(%s), reset cookie", s_szPrefix, csName.c_str());
        csHeaders += CookieRemovalLine(csName);
        break;
    }
    return csHeaders;
}

DWORD FailRedirect(const char* pszText) {
    LogMessage("[CPreProcHeadersHelper::Redirect2BrowserBlockedPage] %s", pszText);
    LogMessage("[CPreProcHeadersHelper::Redirect2BrowserBlockedPage] method returned %d",
               static_cast<int>(ERROR_INVALID_DATA));
    return ERROR_INVALID_DATA;
}

} // namespace

DWORD CPreProcHeadersHelper::Redirect2BrowserBlockedPage(CDLLContext* pContext) {
    static const char s_szPrefix[] = "[CPreProcHeadersHelper::Redirect2BrowserBlockedPage] ";
    LogMessage("%sstart", s_szPrefix);
    if (!pContext)
        return FailRedirect("Error unexpected NULL: CDLLContext!!!");
    if (!pContext->m_spRequestInfo)
        return FailRedirect("Error unexpected NULL: CRequestInfo!!!");
    if (!pContext->m_pFilterContext)
        return FailRedirect("Error unexpected NULL: HTTP_FILTER_CONTEXT!!!");
    if (!pContext->m_spExchangeURL)
        return FailRedirect("Error unexpected NULL: CExchangeURL!!!");

    std::string csCookies, csCookieHeaders;
    if (pContext->m_spRequestInfo->GetHeaderValue(COOKIE_VARIABLE, csCookies))
        csCookieHeaders = SessionCookieResets(csCookies);
    else
        LogMessage("%sreading <%s> header failed.", s_szPrefix, COOKIE_VARIABLE);

    std::shared_ptr<CCachedScriptDecorator> spDecorator =
        CNotificationsHelper::GetCachedScriptDecorator(pContext);
    if (!spDecorator)
        return FailRedirect("Error: failed to initialize script decorator ");
    const std::string csAddress =
        pContext->m_spExchangeURL->GetBaseAddress() +
        CSWFormScriptPath("Wendrake", "1.2").GetScriptPath("bk_WKDlgNoBrowser.htm", spDecorator.get());
    // The address comes from the request (its host and path): it must not be able to add headers of its own.
    if (!IsSafeHeaderText(csAddress))
        return FailRedirect("Error: the page address holds control characters");
    const std::string csHeaderBlock = "Location: " + csAddress + "\r\n" + csCookieHeaders + "\r\n";
    LogMessage("%sSending redirection to <%s>", s_szPrefix, csAddress.c_str());
    HTTP_FILTER_CONTEXT* pfc = pContext->m_pFilterContext;
    if (!pfc->ServerSupportFunction ||
        !pfc->ServerSupportFunction(pfc, SF_REQ_SEND_RESPONSE_HEADER, const_cast<char*>("302 Object Moved"),
                                    reinterpret_cast<ULONG_PTR>(csHeaderBlock.c_str()), 0))
        return FailRedirect("Error: ServerSupportFunction failed!!!");
    LogMessage("%smethod returned %d", s_szPrefix, 0);
    return ERROR_SUCCESS;
}

namespace {

const char SCREEN_PREFIX[] = "[CPreProcHeadersHelper::SetClientFlags_BlockBrowserIfNecessary] ";

// The browser behind the user agent, its flags, and whether it is refused before the lists are asked; false
// when parsing the user agent raised an exception (a refusal that says nothing about the browser).
bool IdentifyBrowser(CDLLContext* pContext, const CaselessString& csUserAgent, DWORD& dwBlock) {
    bool bParsed = true;
    CBrowserPtr spBrowser;
    try {
        if (CBrowser::CreateBrowser(Plain(csUserAgent), spBrowser) && spBrowser)
            LogMessage("%sBrowser identified: mozilla ver: %s, product: %s, version: %s", SCREEN_PREFIX,
                       spBrowser->GetMozillaVersion().c_str(), spBrowser->GetBrowserName().c_str(),
                       spBrowser->GetBrowserVersion().c_str());
        else
            spBrowser.reset();
        if (!spBrowser) {
            dwBlock = 1;
            LogMessage("%sUnknown browser! Potentially unsafe browser", SCREEN_PREFIX);
        }
    } catch (const std::bad_alloc&) {
        spBrowser.reset();
        dwBlock = 1;
        bParsed = false;
        LogMessage("%sBad Allocation! Parse user agent raised exception", SCREEN_PREFIX);
    } catch (...) {
        spBrowser.reset();
        dwBlock = 1;
        bParsed = false;
        LogMessage("%sUnknown exception! Parse user agent raised exception", SCREEN_PREFIX);
    }
    if (!spBrowser)
        return bParsed;
    if (spBrowser->GetBrowserName() == "safari" && spBrowser->GetBrowserVersion() < CaselessString("412")) {
        pContext->m_dwClientFlags |= CF_SAFARI_V1;
        LogMessage("%sSafari V1; Continue", SCREEN_PREFIX);
    } else if (spBrowser->GetBrowserName() == "Netscape" &&
               spBrowser->GetBrowserVersion() < CaselessString("5.0")) {
        pContext->m_dwClientFlags |= CF_NC4_CLIENT;
    }
    if (dwBlock == 0 && !CPreProcHeadersHelper::IsBrowserOnAllowList(spBrowser->GetBrowserName(),
                                                                     spBrowser->GetBrowserVersion(),
                                                                     spBrowser->GetPlatform()))
        dwBlock = 1;
    return true;
}

// The administrator's lists: a blocked list refuses what it matches, and its exceptions let through whatever
// was refused.
void ApplyBlockedLists(const CaselessString& csUserAgent, DWORD& dwBlock) {
    const CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    static const std::string s_csNone;
    // The lists are the settings object's own texts, read in place on every request.
    const std::string& csBlocked = pSettings ? pSettings->GetBlockedBrowsers() : s_csNone;
    LogMessage("%sBlocked browser's list: %s", SCREEN_PREFIX, csBlocked.c_str());
    if (!csBlocked.empty()) {
        if (csUserAgent.empty()) {
            dwBlock = 1;
        } else if (MatchWildcardList(Plain(csUserAgent), csBlocked)) {
            LogMessage("%sUser-Agent matches blocked browser's list", SCREEN_PREFIX);
            dwBlock = 1;
        }
    }
    if (dwBlock == 0)
        return;
    const std::string& csExceptions = pSettings ? pSettings->GetBlockedBrowsersExceptions() : s_csNone;
    LogMessage("%sExceptions to blocked browser's list: %s", SCREEN_PREFIX, csExceptions.c_str());
    if (!csExceptions.empty() && MatchWildcardList(Plain(csUserAgent), csExceptions)) {
        LogMessage("%sUser-Agent matches the exception list to blocked browsers, do not block",
                   SCREEN_PREFIX);
        dwBlock = 0;
    }
}

// The client-kind flags of the user agent and whether it is refused; false when that came of an exception.
bool ScreenUserAgent(CDLLContext* pContext, const CaselessString& csUserAgent, DWORD& dwBlock) {
    bool bSound = true;
    if (csUserAgent.empty()) {
        dwBlock = 1;
        LogMessage("%sEmpty user agent string! Potentially unsafe browser", SCREEN_PREFIX);
    } else {
        const bool bMac = IsMacPlatform(Plain(csUserAgent));
        const bool bIE6 = IsIE6OrLaterOnWindows(Plain(csUserAgent));
        const bool bOwaAuth = IsOwaAuthOnWindows(Plain(csUserAgent));
        pContext->m_dwClientFlags |= (bMac ? CF_MAC_CLIENT : 0) | (bIE6 || bOwaAuth ? CF_PREMIUM_CLIENT : 0) |
                                     (bIE6 && !bOwaAuth ? CF_PREMIUM_EXPERIENCE : 0);
        if (bOwaAuth)
            LogMessage("%sPremium client, FBA Basic experience. Preassumly IE6+, do not block.",
                       SCREEN_PREFIX);
        else
            bSound = IdentifyBrowser(pContext, csUserAgent, dwBlock);
    }
    const DWORD dwFlags = pContext->m_dwClientFlags;
    LogMessage("%sMac client <%s> Premium client <%s> Premium experience <%s> NC4 client <%s> Safari V1 "
               "client <%s>.",
               SCREEN_PREFIX, YesNo(dwFlags & CF_MAC_CLIENT), YesNo(dwFlags & CF_PREMIUM_CLIENT),
               YesNo(dwFlags & CF_PREMIUM_EXPERIENCE), YesNo(dwFlags & CF_NC4_CLIENT),
               YesNo(dwFlags & CF_SAFARI_V1));
    ApplyBlockedLists(csUserAgent, dwBlock);
    return bSound;
}

// What screening decided for one user agent: the client-kind flags it sets and whether it refuses.
struct CScreeningDecision {
    DWORD m_dwClientFlags = 0;
    DWORD m_dwBlock = 0;
};

// Browsers come back with the same few user agents on every request; the decision depends on nothing else
// but the settings.
CTextKeyedCache<CScreeningDecision>& ScreeningDecisions() {
    static CTextKeyedCache<CScreeningDecision> s_decisions(1024, 1024);
    return s_decisions;
}

// Decisions are memoized only while logging is off: with logging on, every request writes its own reasoning.
bool IsMemoizable(const CDLLContext* pContext, DWORD dwBlock, DWORD& dwGeneration) {
    const CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (!pContext || !pContext->m_spRequestInfo || dwBlock != 0 || !pSettings || IsLogWriting())
        return false;
    dwGeneration = pSettings->GetLoadGeneration();
    return true;
}

// The decision for the user agent, from the memo or worked out on a blank set of flags and remembered.
CScreeningDecision DecideOnce(CDLLContext* pContext, const CaselessString& csUserAgent, DWORD dwGeneration) {
    CScreeningDecision decision;
    const std::string_view svUserAgent = Plain(csUserAgent);
    if (ScreeningDecisions().Find(svUserAgent, dwGeneration, decision))
        return decision;
    const DWORD dwKeptFlags = pContext->m_dwClientFlags;
    pContext->m_dwClientFlags = 0;
    bool bSound = true;
    try {
        bSound = ScreenUserAgent(pContext, csUserAgent, decision.m_dwBlock);
    } catch (...) {
        pContext->m_dwClientFlags = dwKeptFlags;
        throw;
    }
    decision.m_dwClientFlags = pContext->m_dwClientFlags;
    pContext->m_dwClientFlags = dwKeptFlags;
    if (bSound)
        ScreeningDecisions().Store(svUserAgent, dwGeneration, decision);
    return decision;
}

} // namespace

DWORD CPreProcHeadersHelper::SetClientFlags_BlockBrowserIfNecessary(CDLLContext* pContext,
                                                                    const CaselessString& csUserAgent,
                                                                    DWORD& dwBlock) {
    DWORD dwGeneration = 0;
    if (IsMemoizable(pContext, dwBlock, dwGeneration)) {
        const CScreeningDecision decision = DecideOnce(pContext, csUserAgent, dwGeneration);
        pContext->m_dwClientFlags |= decision.m_dwClientFlags;
        dwBlock = decision.m_dwBlock;
        return ERROR_SUCCESS;
    }
    LogMessage("%sStarts.", SCREEN_PREFIX);
    DWORD dwResult = ERROR_SUCCESS;
    if (!pContext || !pContext->m_spRequestInfo) {
        LogMessage("%s%s", SCREEN_PREFIX,
                   pContext ? "CDLLContext.m_spRequestInfo is NULL." : "CDLLContext pointer is NULL.");
        dwResult = ERROR_INVALID_DATA;
    } else {
        ScreenUserAgent(pContext, csUserAgent, dwBlock);
    }
    LogMessage("%sreturned dwRet <%d> Block browser <%s>.", SCREEN_PREFIX, static_cast<int>(dwResult),
               YesNo(dwBlock != 0));
    return dwResult;
}
