#include "filter/CNotifications.h"

#include "guard/CAuthCompleteRequest.h"
#include "guard/CSendRawDataRequest.h"
#include "guard/CSendResponseHelper.h"
#include "log/Log.h"
#include "platform/CPlatform.h"
#include "request/CWKSWContext.h"
#include "request/ControlMessage.h"
#include "request/SettingsSingleton.h"
#include "screening/CPreProcHeadersRequest.h"

DWORD FinishNotification(const char* pszHandler, DWORD dwResult, const CDLLContext* pContext) {
    LogMessage("[%s] finished.  Win32 RC=%d.  Control Message=<%s>", pszHandler, static_cast<int>(dwResult),
               ControlMessageWord(pContext));
    return dwResult;
}

DWORD CNotifications::Dispatch(CDLLContext* pContext) {
    switch (pContext->m_dwNotificationType) {
    case SF_NOTIFY_PREPROC_HEADERS:
        return NotifyPreProcHeaders(pContext);
    case SF_NOTIFY_AUTH_COMPLETE: {
        // Settings edited on disk take effect from the first authenticated request after the check interval.
        bool bChanged = false;
        if (CWKGeneralSettings* pSettings = GetGeneralSettingsInstance())
            pSettings->RefreshSettingsIfChanged(bChanged);
        return NotifyAuthComplete(pContext);
    }
    case SF_NOTIFY_SEND_RESPONSE:
        return NotifySendResponse(pContext);
    case SF_NOTIFY_SEND_RAW_DATA:
        return NotifySendRawData(pContext);
    case SF_NOTIFY_END_OF_REQUEST:
        return NotifyEndOfRequest(pContext);
    default:
        return ERROR_SUCCESS;
    }
}

DWORD CNotifications::NotifyPreProcHeaders(CDLLContext* pContext) {
    GetGeneralSettingsInstance();
    return CPreProcHeadersRequest(pContext).Run();
}

DWORD CNotifications::NotifyAuthComplete(CDLLContext* pContext) {
    return CAuthCompleteRequest(pContext).Run();
}

DWORD CNotifications::NotifySendResponse(CDLLContext* pContext) {
    return CSendResponseHelper::HandleSendResponse(pContext);
}

DWORD CNotifications::NotifySendRawData(CDLLContext* pContext) {
    GetGeneralSettingsInstance();
    return CSendRawDataRequest(pContext).Run();
}

DWORD CNotifications::NotifyEndOfRequest(CDLLContext* pContext) {
    static const char s_szHandler[] = "CNotifications::NotifyEndOfRequest";
    OutputDebugText("[DLL_NotifyEndOfRequest] \n");
    GetGeneralSettingsInstance();
    if (!pContext) {
        LogMessage("[CNotifications::NotifyEndOfRequest] pointer to CDLLContext is NULL");
        return FinishNotification(s_szHandler, ERROR_INVALID_DATA, pContext);
    }
    if (pContext->m_pMyOwnContext) {
        auto* pWorkerContext = static_cast<CWKSWContext*>(pContext->m_pMyOwnContext);
        LogMessage("[CNotifications::NotifyEndOfRequest] delete  CWKSWContext instance: %p",
                   static_cast<void*>(pWorkerContext));
        delete pWorkerContext;
        pContext->m_pMyOwnContext = nullptr;
    }
    return FinishNotification(s_szHandler, ERROR_SUCCESS, pContext);
}
