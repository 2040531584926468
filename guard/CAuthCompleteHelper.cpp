#include "guard/CAuthCompleteHelper.h"

#include "guard/JavaScriptText.h"
#include "log/Log.h"
#include "request/CBaseNotifications.h"
#include "request/CNotificationsHelper.h"
#include "request/SettingsSingleton.h"
#include "security/CSecurityAccess.h"
#include "text/CSWFormScriptPath.h"

namespace {

const char* TrueFalse(bool b) {
    return b ? "TRUE" : "FALSE";
}

// A request value, empty when the request does not carry it.
bool ReadValue(const CDLLContext* pContext, const char* pszName, std::string& csValue) {
    csValue.clear();
    return pContext->m_spRequestInfo->GetHeaderValue(pszName, csValue);
}

// The user the language belongs to: the request's user name, else the thread's; 0 or the failure's code.
DWORD FindUser(CDLLContext* pContext, std::string& csUser, std::string& csSid) {
    if (ReadValue(pContext, "BK_USERNAME", csUser) && !csUser.empty())
        return ERROR_SUCCESS;
    std::string csDomain;
    const DWORD dwResult = GetThreadUser(csUser, csDomain, csSid);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("[CAuthCompleteHelper::DetectUserLanguage] CGeneralSettings::GetThreadUser() failed.");
        return dwResult;
    }
    if (csUser.empty()) {
        LogMessage("[CAuthCompleteHelper::DetectUserLanguage] User name is empty.");
        return ERROR_ARENA_TRASHED;
    }
    return ERROR_SUCCESS;
}

} // namespace

DWORD CAuthCompleteHelper::DetectUserLanguage(CDLLContext* pContext, const std::string& csCookie,
                                              std::string& csLanguage, LANGID& wLangId) {
    LogMessage("[CAuthCompleteHelper::DetectUserLanguage] Starts.");
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    std::string csUser, csSid;
    DWORD dwResult = ERROR_ARENA_TRASHED;
    if (!pContext || !pContext->m_spRequestInfo || !pSettings) {
        LogMessage("[CAuthCompleteHelper::DetectUserLanguage] invalid pointers.");
    } else if ((dwResult = FindUser(pContext, csUser, csSid)) == ERROR_SUCCESS) {
        std::string csExplicitUser, csAcceptLanguage;
        if (ReadValue(pContext, "HTTP_X_OWA_EXPLICITLOGONUSER", csExplicitUser))
            LogMessage(
                "[CAuthCompleteHelper::DetectUserLanguage] Other mailbox is opened. Explicit logon user "
                "header value <%s>.",
                csExplicitUser.c_str());
        if (!ReadValue(pContext, "HTTP_ACCEPT-LANGUAGE", csAcceptLanguage)) {
            csAcceptLanguage = "en";
            LogMessage("[CAuthCompleteHelper::DetectUserLanguage] Reading <%s> header value failed.",
                       "HTTP_ACCEPT-LANGUAGE");
        }
        // Another user's mailbox is shown in that user's language; the thread's SID is not that user's.
        const bool bOther = !csExplicitUser.empty();
        if (!pSettings->DetectUserLanguage(bOther ? csExplicitUser : csUser, csCookie, csAcceptLanguage,
                                           csLanguage, wLangId, bOther ? std::string() : csSid))
            LogMessage("[CAuthCompleteHelper::DetectUserLanguage] CQSSWGeneralSettings::DetectUserLanguage() "
                       "failed. UserName <%s> AcceptLanguage <%s>. Go with default values.",
                       csUser.c_str(), csAcceptLanguage.c_str());
        LogMessage(
            "[CAuthCompleteHelper::DetectUserLanguage] UserName <%s> user lang <%s> user lang id <%d>.",
            csUser.c_str(), csLanguage.c_str(), static_cast<int>(wLangId));
    }
    LogMessage("[CAuthCompleteHelper::DetectUserLanguage] returned dwRet <%d>.", static_cast<int>(dwResult));
    return dwResult;
}

bool CAuthCompleteHelper::GetUserLanguageParameters(CDLLContext* pContext, LANGID& wLangId,
                                                    std::string& csLanguage) {
    LogMessage("[CAuthCompleteHelper::DetectUserLanguage] start");
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    std::string csAcceptLanguage, csCookie, csUser, csDomain, csSid;
    CBaseNotifications::GetServerVariable(pContext, "HTTP_ACCEPT_LANGUAGE", csAcceptLanguage);
    CBaseNotifications::GetServerVariable(pContext, "HTTP_COOKIE", csCookie);
    if (GetThreadUser(csUser, csDomain, csSid) != ERROR_SUCCESS) {
        LogMessage(
            "[CAuthCompleteHelper::GetUserLanguageParameters] CGeneralSettings::GetThreadUser() failed. "
            "Try to get username and domain from LOGON_USER header value.");
        CBaseNotifications::GetServerVariable(pContext, "LOGON_USER", csUser);
    }
    bool bResult = false;
    if (!csUser.empty() && pSettings) {
        bResult =
            pSettings->DetectUserLanguage(csUser, csCookie, csAcceptLanguage, csLanguage, wLangId, csSid);
        if (!bResult)
            LogMessage(
                "[CAuthCompleteHelper::GetUserLanguageParameters] SWGeneralSettings::DetectUserLanguage() "
                "failed. User <%s> AcceptLanguage <%s>.",
                csUser.c_str(), csAcceptLanguage.c_str());
    }
    LogMessage("[CAuthCompleteHelper::GetUserLanguageParameters] returned bRet <%s>", TrueFalse(bResult));
    return bResult;
}

bool CAuthCompleteHelper::GetResourceString(CDLLContext* pContext, unsigned nId, std::u16string& wsText) {
    wsText.clear();
    LogMessage("[CAuthCompleteHelper::GetResourceString] start");
    LANGID wLangId = 0;
    std::string csLanguage;
    bool bResult = GetUserLanguageParameters(pContext, wLangId, csLanguage);
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (!bResult || !pSettings) {
        LogMessage("[CAuthCompleteHelper::GetResourceString] SWGeneralSettings::DetectUserLanguage() failed. "
                   "User <%s>.",
                   csLanguage.c_str());
        bResult = false;
    } else if (!(bResult = pSettings->GetResourceString(nId, wsText, wLangId))) {
        LogMessage("[CAuthCompleteHelper::GetResourceString] GetResourceString failed. langid: <%d>.",
                   static_cast<int>(wLangId));
    }
    LogMessage("[CAuthCompleteHelper::GetResourceString] returned bRet <%s>", TrueFalse(bResult));
    return bResult;
}

bool CAuthCompleteHelper::DetectLanguage(CWKGeneralSettings* pSettings, const std::string& csTag,
                                         std::string& csLanguage, LANGID& wLangId) {
    return pSettings && pSettings->DetectLanguage(csTag, csLanguage, wLangId);
}

namespace {

const char BODY_HEAD[] = "<html><head><title>Outlook Web Access</title>"
                         "<style type=\"text/css\">\r\nhtml, body { overflow: auto; }\r\n</style>\r\n"
                         "\r\n<script language=\"javascript\" src=\"";
const char BODY_SCRIPT_END[] = "\"></script>\r\n";
const char BODY_TAIL[] =
    "</head>"
    "<body onunload=\"f_BKWK_Warning();\" onload=\"f_BKWK_OnLoad();\" onblur=\"f_BKWK_KeepFocus();\" "
    "onfocus=\"f_BKWK_CancelKeepFocus();\" style=\"margin:0px;\"><div id=\"embDiv\"></div></body>\r\n"
    "</html>";
const char RESPONSE_HEAD[] = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length:";
const char RESPONSE_HEADERS[] = "\r\nConnection: close\r\n"
                                "X-BKProduct: WK_SW\r\nPragma: no-cache\r\nCache-control: no-cache\r\n"
                                "Cache-control: must-revalidate\r\nCache-control: max-age=0\r\n"
                                "Cache-control: no-store\r\nCache-control: private\r\n"
                                "Cache-control: proxy-revalidate\r\nCache-control: s-maxage=0\r\n"
                                "X-UA-Compatible: IE=EmulateIE7\r\n\r\n";

DWORD FinishBasePage(DWORD dwResult) {
    LogMessage("[CAuthCompleteHelper::SendBaseHTMLResponse] returned dwRet <%d>.",
               static_cast<int>(dwResult));
    return dwResult;
}

// The guard's script file under the request's webmail address, with the host's cache prefix.
bool BuildScriptAddress(CDLLContext* pContext, std::string& csAddress) {
    const auto spDecorator = CNotificationsHelper::GetCachedScriptDecorator(pContext);
    if (!spDecorator)
        return false;
    static const CSWFormScriptPath s_scriptPath("Wendrake", "1.2");
    csAddress = pContext->m_spExchangeURL->GetBaseAddress() +
                s_scriptPath.GetScriptPath("bk_WKUtil.js", spDecorator.get());
    return true;
}

} // namespace

DWORD CAuthCompleteHelper::SendBaseHTMLResponse(CDLLContext* pContext) {
    LogMessage("[CAuthCompleteHelper::SendBaseHTMLResponse] Starts.");
    if (!pContext || !pContext->m_spExchangeURL) {
        LogMessage(pContext ? "[CAuthCompleteHelper::SendBaseHTMLResponse] CExchangeURL pointer is NULL."
                            : "[CAuthCompleteHelper::SendBaseHTMLResponse] CDLLContext pointer is NULL.");
        return FinishBasePage(ERROR_INVALID_DATA);
    }
    std::string csScript;
    DWORD dwResult = GetWendrakeJavaScriptString(pContext, csScript);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("[CAuthCompleteHelper::SendBaseHTMLResponse] GetWendrakeJavaScriptString failed.");
        return FinishBasePage(dwResult);
    }
    std::string csAddress;
    if (!BuildScriptAddress(pContext, csAddress)) {
        LogMessage(
            "[CAuthCompleteHelper::SendBaseHTMLResponse] Error: failed to initialize script decorator ");
        return FinishBasePage(ERROR_INVALID_DATA);
    }
    std::string csBody;
    csBody.reserve(1024);
    // The address comes from the request: it is written as attribute text, never as markup.
    csBody.append(BODY_HEAD).append(EscapeHtmlAttribute(csAddress)).append(BODY_SCRIPT_END);
    csBody.append(csScript).append(BODY_TAIL);
    std::string csResponse;
    csResponse.reserve(1024 + csBody.size());
    csResponse.append(RESPONSE_HEAD).append(std::to_string(csBody.size())).append(RESPONSE_HEADERS);
    csResponse.append(csBody);
    dwResult = CBaseNotifications::SendResponse(pContext, csResponse.c_str(), "200 OK",
                                                static_cast<DWORD>(csResponse.size()));
    if (dwResult != ERROR_SUCCESS)
        LogMessage("[CAuthCompleteHelper::SendBaseHTMLResponse] CBaseNotifications::SendResponse() failed.");
    return FinishBasePage(dwResult);
}
