#include "request/CNotificationsHelper.h"

#include "log/Log.h"
#include "request/CBaseNotifications.h"

const std::array<std::pair<const char*, const char*>, 9> g_aNoCacheHeaders = {{
    {"X-BKProduct:", "WK_SW"},
    {"Pragma:", "no-cache"},
    {"Cache-control:", "no-cache"},
    {"Cache-control:", "must-revalidate"},
    {"Cache-control:", "max-age=0"},
    {"Cache-control:", "s-maxage=0"},
    {"Cache-control:", "no-store"},
    {"Cache-control:", "private"},
    {"Cache-control:", "proxy-revalidate"},
}};

bool CNotificationsHelper::AddNoCacheHeaders(CDLLContext* pContext) {
    bool bAdded = true;
    for (const auto& header : g_aNoCacheHeaders) {
        if (CBaseNotifications::AddWorkerHeader(pContext, header.first, header.second) == 0) {
            bAdded = false;
            break;
        }
    }
    LogMessage("[CNotificationsHelper::AddNoCacheHeaders] returns <%s>", bAdded ? "TRUE" : "FALSE");
    return bAdded;
}

std::shared_ptr<CCachedScriptDecorator>
CNotificationsHelper::GetCachedScriptDecorator(CDLLContext* pContext) {
    if (!pContext)
        return nullptr;
    const char* pszVariable = "HEADER_BK_CSMPREFIX";
    try {
        std::string csPrefix;
        CBaseNotifications::GetServerVariable(pContext, pszVariable, csPrefix);
        if (csPrefix.empty()) {
            LogMessage("[CNotificationsHelper::GetCachedScriptDecorator] Error: <%s> header empty !",
                       pszVariable);
            return nullptr;
        }
        return CCachedScriptDecorator::Create(csPrefix);
    } catch (...) {
        LogMessage("[CNotificationsHelper::GetCachedScriptDecorator] Error: Exception initializing CSM !");
        return nullptr;
    }
}
