#include "guard/CSendResponseHelper.h"

#include "log/Log.h"
#include "request/CBaseNotifications.h"
#include "request/CNotificationsHelper.h"
#include "request/CWKSWContext.h"
#include "request/ControlMessage.h"
#include "request/SettingsSingleton.h"
#include "request/UserContextCookies.h"

namespace {

const char PREFIX[] = "[CNotifications::NotifySendResponse] ";
const char COOKIE_PREFIX[] = "[CSendResponseHelper::AddRemoveUserContextCookieHeaders] ";

bool IsLogoff(DWORD dwSubscriptionType) {
    return dwSubscriptionType == ST_LOGOFF_CMD || dwSubscriptionType == ST_LOGOFF;
}

// Steps 4 to 6: what the response's status asks for.
DWORD HandleStatus(CDLLContext* pContext) {
    const DWORD dwStatus = pContext->m_spOutboundContext->m_dwHttpStatus;
    LogMessage("%sHTTP Status=%d", PREFIX, static_cast<int>(dwStatus));
    if (IsLogoff(pContext->m_dwSubscriptionType) && (dwStatus == 200 || dwStatus == 302)) {
        LogMessage("%sLogoff request. Remove UserContext cookies, ignore further notifications.", PREFIX);
        const DWORD dwResult = CSendResponseHelper::AddRemoveUserContextCookieHeaders(pContext);
        if (dwResult == ERROR_SUCCESS) {
            LogMessage("%sThis is a logoff request. UserContext cookies were successfully removed, ignore "
                       "further notifications.",
                       PREFIX);
            pContext->m_dwControlMessage = CM_IGNORE;
        } else {
            LogMessage("%sCSendResponseHelper::AddRemoveUserContextCookieHeaders() failed.", PREFIX);
        }
        return dwResult;
    }
    if (dwStatus == 100) {
        // The real response follows and is handled like this one.
        LogMessage("%sStatus is 100. Continue.", PREFIX);
    } else if (dwStatus == 200) {
        LogMessage("Adding no cache headers.");
        CNotificationsHelper::AddNoCacheHeaders(pContext);
    } else {
        LogMessage("%sStatus is not 200. Ignore request", PREFIX);
        pContext->m_dwControlMessage = CM_IGNORE;
    }
    return ERROR_SUCCESS;
}

} // namespace

DWORD CSendResponseHelper::HandleSendResponse(CDLLContext* pContext) {
    GetGeneralSettingsInstance();
    DWORD dwResult = ERROR_INVALID_DATA;
    if (!pContext) {
        LogMessage("%sCDLLcontext pointer is NULL, do nothing.", PREFIX);
        LogMessage("%sfinished.  Win32 RC=%d.  Control Message=<%s>", PREFIX, static_cast<int>(dwResult),
                   ControlMessageWord(pContext));
        return dwResult;
    }
    if (!pContext->m_spOutboundContext)
        LogMessage("%sCOutboundContext pointer is NULL, do nothing.", PREFIX);
    else if (!(pContext->m_dwClientFlags & CF_ENABLED))
        LogMessage("%sWendrake is disabled for this request!", PREFIX);
    else
        dwResult = HandleStatus(pContext);
    if (IsLogoff(pContext->m_dwSubscriptionType)) {
        // After a logoff no notification of the request needs the context, whatever happened above.
        if (auto* pWorkerContext = static_cast<CWKSWContext*>(pContext->m_pMyOwnContext)) {
            LogMessage("%sLogoff request: delete  CWKSWContext instance: %p", PREFIX,
                       static_cast<void*>(pWorkerContext));
            delete pWorkerContext;
            pContext->m_pMyOwnContext = nullptr;
        }
        pContext->m_dwControlMessage = CM_IGNORE;
    }
    if (dwResult != ERROR_SUCCESS)
        pContext->m_dwControlMessage = CM_IGNORE;
    LogMessage("%sfinished.  Win32 RC=%d.  Control Message=<%s>", PREFIX, static_cast<int>(dwResult),
               ControlMessageWord(pContext));
    return dwResult;
}

DWORD CSendResponseHelper::AddRemoveUserContextCookieHeaders(CDLLContext* pContext) {
    LogMessage("%sStarts.", COOKIE_PREFIX);
    DWORD dwResult = ERROR_SUCCESS;
    std::string csCookies;
    if (!pContext || !pContext->m_spRequestInfo) {
        LogMessage("%sinvalid CDLLContext/CRequestInfo pointer.", COOKIE_PREFIX);
        dwResult = ERROR_ARENA_TRASHED;
    } else if (!pContext->m_spRequestInfo->GetHeaderValue("HTTP_COOKIE", csCookies)) {
        LogMessage("%sReading <%s> header failed.", COOKIE_PREFIX, "HTTP_COOKIE");
    } else {
        LogMessage("%s<%s> header value <%s>.", COOKIE_PREFIX, "HTTP_COOKIE", csCookies.c_str());
        ScanUserContextCookies(csCookies, [&](const std::string& csName) {
            if (dwResult != ERROR_SUCCESS)
                return; // the scan goes on, but nothing more is added after a refusal
            LogMessage("%sFound <%s> cookie, reset cookie.", COOKIE_PREFIX, csName.c_str());
            const std::string csValue = CookieRemovalValue(csName);
            if (CBaseNotifications::AddWorkerHeader(pContext, "Set-Cookie:", csValue.c_str()) == 0) {
                LogMessage("%sCBaseNotifications::AddWorkerHeader() failed. Header <%s> value <%s>.",
                           COOKIE_PREFIX, "Set-Cookie:", csValue.c_str());
                dwResult = ERROR_ARENA_TRASHED;
            }
        });
    }
    LogMessage("%sreturned dwRet <%d>.", COOKIE_PREFIX, static_cast<int>(dwResult));
    return dwResult;
}
