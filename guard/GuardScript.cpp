// The guard script block of the base page and the browser-specific options it carries.
#include "guard/CAuthCompleteHelper.h"
#include "guard/JavaScriptText.h"
#include "log/Log.h"
#include "platform/CPlatform.h"
#include "request/CBaseNotifications.h"
#include "request/SettingsSingleton.h"
#include "text/CWildCharParser.h"
#include "text/UserAgentTraits.h"

const char* const DEFAULT_USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.2)";

namespace {

constexpr unsigned IDS_CANCEL_NAV_FIRST = 102;
constexpr unsigned IDS_EVENT_MESSAGE = 114;
constexpr unsigned IDS_CANCEL_NAV_SECOND = 115;
constexpr unsigned IDS_PPB_WARNING = 116;

const char* TrueFalse(bool b) {
    return b ? "TRUE" : "FALSE";
}

// A user agent on a list and not on its (optional) exceptions.
bool IsListedBrowser(const std::string& csUserAgent, const std::string& csList,
                     const std::string& csExceptions, const char* pszPrefix, const char* pszMatchText) {
    if (csList.empty() || !MatchWildcardList(csUserAgent, csList))
        return false;
    LogMessage("%s%s", pszPrefix, pszMatchText);
    if (!csExceptions.empty() && MatchWildcardList(csUserAgent, csExceptions))
        return false;
    LogMessage("%sUser-Agent doesn't match the exception to special browsers list", pszPrefix);
    return true;
}

// A request's user agent as the host passes it on, else as the client sent it.
bool ReadUserAgent(CDLLContext* pContext, std::string& csUserAgent) {
    CBaseNotifications::GetServerVariable(pContext, "HEADER_BK_USER-AGENT", csUserAgent);
    return !csUserAgent.empty() || pContext->m_spRequestInfo->GetHeaderValue("HTTP_USER_AGENT", csUserAgent);
}

struct CScriptValues {
    std::string csBase;
    std::string csUserAgent;
    DWORD dwPPBFlag = 0;
    std::u16string wsPPBWarning;
    DWORD dwCancelNav = 0;
    std::u16string wsCancelNavMessage;
    bool bAlertOnUnload = false;
};

void AppendFlag(std::string& csScript, const char* pszName, bool bSet) {
    csScript.append(pszName).append(bSet ? "1;\r\n" : "0;\r\n");
}

void AppendText(std::string& csScript, const char* pszName, const std::string& csEscaped) {
    csScript.append(pszName).append("\"").append(csEscaped).append("\";\r\n");
}

void AppendRows(CDLLContext* pContext, const CScriptValues& values, std::string& csScript) {
    const DWORD dwFlags = pContext->m_dwClientFlags;
    std::string csEscaped;
    csScript.reserve(1024);
    csScript.append("\r\n<script language=JavaScript>\r\n//BRINDLEMARK WENDRAKE START\r\n");
    csScript.append("var g_BKWK_fWarn=true;");
    EscapeJavaScriptString(csEscaped, values.csBase);
    AppendText(csScript, "var g_BKWK_sOWA=", csEscaped);
    AppendFlag(csScript, "var g_BKWK_isAutoLogoff=", dwFlags & CF_AUTO_LOGOFF);
    AppendFlag(csScript, "var BKWK_isPremium=", dwFlags & CF_PREMIUM_EXPERIENCE);
    AppendFlag(csScript, "var g_BKWK_showMsg=", dwFlags & CF_BASE_WARN);
    AppendFlag(csScript, "var BKWK_bIEMac=", IsIE4OrLaterOnMac(values.csUserAgent));
    AppendFlag(csScript, "var BKWK_bSafv1=", dwFlags & CF_SAFARI_V1);
    AppendFlag(csScript, "var BKWK_PPBAllow=", true);
    csScript.append("var g_BKWK_iPPBFlag=").append(std::to_string(values.dwPPBFlag)).append(";\r\n");
    csScript.append("var BKWK_bIEMacFired=0;").append("\r\n");
    EscapeJavaScriptString(csEscaped, values.wsPPBWarning);
    AppendText(csScript, "var g_BKWK_sPPBWarn=", csEscaped);
    LogMessage("[CAuthCompleteHelper::GetWendrakeJavaScriptString] Cancel Nav Flag: %s ",
               TrueFalse(values.dwCancelNav));
    csScript.append("var BKWK_bCaNav=").append(std::to_string(values.dwCancelNav)).append(";\r\n");
    EscapeJavaScriptString(csEscaped, values.wsCancelNavMessage);
    AppendText(csScript, "var BKWK_msgCaNav=", csEscaped);
    AppendFlag(csScript, "var g_BKWK_isAlertOnUnloadEnabled=", values.bAlertOnUnload);
    std::u16string wsEventMessage;
    CAuthCompleteHelper::GetResourceString(pContext, IDS_EVENT_MESSAGE, wsEventMessage);
    EscapeJavaScriptString(csEscaped, wsEventMessage);
    AppendText(csScript, "var g_BKWK_segEventMsg=", csEscaped);
    csScript.append("f_BKWK_Init();\r\n").append("//BRINDLEMARK WENDRAKE END\r\n</script>\r\n");
}

// Steps 3 to 9: every value of the block; 0 or the failing step's code.
DWORD CollectValues(CDLLContext* pContext, CScriptValues& values) {
    static const char s_szPrefix[] = "[CAuthCompleteHelper::GetWendrakeJavaScriptString] ";
    values.csBase = pContext->m_spExchangeURL->GetBaseAddress();
    if (pContext->m_dwClientFlags & CF_SAFARI_V1)
        LogMessage("%sDetected Safari V1 client.", s_szPrefix);
    if (!ReadUserAgent(pContext, values.csUserAgent)) {
        LogMessage("%sCRequestInfo::GetHeaderValue() failed.", s_szPrefix);
        return ERROR_ARENA_TRASHED;
    }
    if (IsOwaAuthOnWindows(values.csUserAgent))
        values.csUserAgent = DEFAULT_USER_AGENT;
    DWORD dwResult = CAuthCompleteHelper::GetNoRedirParameters(pContext, values.csUserAgent, values.dwPPBFlag,
                                                               values.wsPPBWarning);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("%sGetNoRedirParameters() failed.", s_szPrefix);
        return dwResult;
    }
    dwResult = CAuthCompleteHelper::GetCancelNavParameters(pContext, values.csUserAgent, values.dwCancelNav,
                                                           values.wsCancelNavMessage);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("%sGetCancelNavParameters() failed.", s_szPrefix);
        return dwResult;
    }
    int32_t nAlert = 0;
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (!pSettings || !pSettings->GetSettingFromID(ID_ALERT_ON_UNLOAD, nAlert, SETTINGS_GROUP_PRODUCT)) {
        LogMessage("%sfailed to read 'Enable alert on unload' setting (ID <%d>). Go with default value.",
                   s_szPrefix, static_cast<int>(ID_ALERT_ON_UNLOAD));
        nAlert = 0;
    }
    values.bAlertOnUnload = nAlert != 0;
    LogMessage("%sEnable alert on unload <%s>.", s_szPrefix, values.bAlertOnUnload ? "Y" : "N");
    return ERROR_SUCCESS;
}

} // namespace

DWORD CAuthCompleteHelper::GetWendrakeJavaScriptString(CDLLContext* pContext, std::string& csScript) {
    csScript.clear();
    LogMessage("[CAuthCompleteHelper::GetWendrakeJavaScriptString] Starts.");
    DWORD dwResult = ERROR_ARENA_TRASHED;
    CScriptValues values;
    if (!pContext || !pContext->m_spExchangeURL || !pContext->m_spRequestInfo) {
        LogMessage("[CAuthCompleteHelper::GetWendrakeJavaScriptString] invalid or NULL CDLLContext pointer.");
    } else if ((dwResult = CollectValues(pContext, values)) == ERROR_SUCCESS) {
        AppendRows(pContext, values, csScript);
    }
    LogMessage("[CAuthCompleteHelper::GetWendrakeJavaScriptString] returned dwRet <%d>.",
               static_cast<int>(dwResult));
    return dwResult;
}

DWORD CAuthCompleteHelper::GetNoRedirParameters(CDLLContext* pContext, const std::string& csUserAgent,
                                                DWORD& dwPPBFlag, std::u16string& wsWarning) {
    static const char s_szPrefix[] = "[CAuthCompleteHelper::GetNoRedirParameters] ";
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    wsWarning.clear();
    dwPPBFlag = 0;
    if (csUserAgent.empty()) {
        LogMessage("%sempty user agent string, abort", s_szPrefix);
        return ERROR_INVALID_DATA;
    }
    if (!pSettings)
        return ERROR_INVALID_DATA;
    dwPPBFlag = static_cast<DWORD>(pSettings->GetNoRedirectMode());
    const std::string& csSpecial = pSettings->GetSpecialBrowsers();
    LogMessage("%sSpecial care browsers list: %s", s_szPrefix, csSpecial.c_str());
    OutputDebugText("Check if user-agent matches special care browsers list");
    const std::string& csExceptions = pSettings->GetSpecialBrowsersExceptions();
    const bool bSpecial = !csSpecial.empty() && MatchWildcardList(csUserAgent, csSpecial);
    if (bSpecial) {
        LogMessage("%sUser-Agent matches special care browsers list", s_szPrefix);
        LogMessage("%sExceptions to special browsers list: %s", s_szPrefix, csExceptions.c_str());
    }
    const bool bCare = bSpecial && (csExceptions.empty() || !MatchWildcardList(csUserAgent, csExceptions));
    if (bCare)
        LogMessage("%sUser-Agent doesn't match the exception to special browsers list", s_szPrefix);
    if (dwPPBFlag != 0 && !bCare) {
        LogMessage("%sBrowser doesn't match Reset no redir flag", s_szPrefix);
        dwPPBFlag = 0;
    }
    if (dwPPBFlag == 1)
        GetResourceString(pContext, IDS_PPB_WARNING, wsWarning);
    return ERROR_SUCCESS;
}

DWORD CAuthCompleteHelper::GetCancelNavParameters(CDLLContext* pContext, const std::string& csUserAgent,
                                                  DWORD& dwCancelNav, std::u16string& wsMessage) {
    static const char s_szPrefix[] = "[CAuthCompleteHelper::GetCancelNavParameters] ";
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    dwCancelNav = 0;
    wsMessage.clear();
    DWORD dwResult = ERROR_INVALID_DATA;
    if (csUserAgent.empty()) {
        LogMessage("%sempty user agent string, abort", s_szPrefix);
    } else if (pSettings) {
        dwResult = ERROR_SUCCESS;
        if (!pSettings->GetCancelNavBrowsers().empty())
            OutputDebugText("Check if user-agent matches browsers list");
        if (IsListedBrowser(csUserAgent, pSettings->GetCancelNavBrowsers(),
                            pSettings->GetCancelNavBrowsersExceptions(), s_szPrefix,
                            "User-Agent matches browsers list"))
            dwCancelNav = 1;
        std::u16string wsSecond;
        GetResourceString(pContext, IDS_CANCEL_NAV_FIRST, wsMessage);
        GetResourceString(pContext, IDS_CANCEL_NAV_SECOND, wsSecond);
        wsMessage.append(u"\n- ").append(wsSecond);
    }
    LogMessage("%smethod returned: %x, cancel nav flag: %s", s_szPrefix, static_cast<unsigned>(dwResult),
               TrueFalse(dwCancelNav));
    return dwResult;
}
