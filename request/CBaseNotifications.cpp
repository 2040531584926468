#include "request/CBaseNotifications.h"

#include "log/Log.h"
#include "platform/LastError.h"

#include <memory>
#include <new>

namespace {

// The first three members shared by the PREPROC_HEADERS, SEND_RESPONSE and AUTH_COMPLETE structures.
struct CHeaderCallbacks {
    PFN_GET_HEADER GetHeader;
    PFN_SET_HEADER SetHeader;
    PFN_ADD_HEADER AddHeader;
};
static_assert(offsetof(HTTP_FILTER_PREPROC_HEADERS, AddHeader) == offsetof(CHeaderCallbacks, AddHeader));
static_assert(offsetof(HTTP_FILTER_AUTH_COMPLETE_INFO, AddHeader) == offsetof(CHeaderCallbacks, AddHeader));

const CHeaderCallbacks* HeaderCallbacksOf(const CDLLContext* pContext) {
    if (!pContext || !CarriesHeaderCallbacks(pContext->m_dwNotificationType))
        return nullptr;
    return static_cast<const CHeaderCallbacks*>(pContext->m_pNotification);
}

bool IsHandledNotification(DWORD dwType) {
    return dwType == SF_NOTIFY_PREPROC_HEADERS || dwType == SF_NOTIFY_AUTH_COMPLETE ||
           dwType == SF_NOTIFY_SEND_RESPONSE || dwType == SF_NOTIFY_SEND_RAW_DATA ||
           dwType == SF_NOTIFY_END_OF_REQUEST;
}

} // namespace

bool CarriesHeaderCallbacks(DWORD dwNotificationType) {
    return dwNotificationType == SF_NOTIFY_SEND_RESPONSE || dwNotificationType == SF_NOTIFY_PREPROC_HEADERS ||
           dwNotificationType == SF_NOTIFY_AUTH_COMPLETE;
}

DWORD CBaseNotifications::SendResponse(CDLLContext* pContext, const char* pszResponse, const char* pszLabel,
                                       DWORD cbResponse) {
    LogMessage("[CBaseNotifications::SendResponse] SendResponse %s", pszLabel ? pszLabel : "");
    if (!pContext || !pContext->m_pCoreServices || !pContext->m_pCoreServices->SendResponse)
        return ERROR_ARENA_TRASHED;
    DWORD cb = cbResponse;
    pContext->m_pCoreServices->SendResponse(pContext, pszResponse, &cb, pContext->m_pCoreServices);
    pContext->m_dwControlMessage = CM_COMPLETED;
    return ERROR_SUCCESS;
}

namespace {

// AddHeader and SetHeader share their shape and their rules; only the callback and the log text differ.
DWORD WriteHeader(CDLLContext* pContext, PFN_ADD_HEADER CHeaderCallbacks::*pCallback,
                  const char* pszLogFormat, const char* pszName, const char* pszValue) {
    DWORD dwResult = 0;
    const CHeaderCallbacks* pCallbacks = HeaderCallbacksOf(pContext);
    if (pCallbacks && pCallbacks->*pCallback && pContext->m_pFilterContext)
        dwResult = static_cast<DWORD>((pCallbacks->*pCallback)(
            pContext->m_pFilterContext, const_cast<LPSTR>(pszName), const_cast<LPSTR>(pszValue)));
    LogMessage(pszLogFormat, pszName, static_cast<int>(dwResult));
    return dwResult;
}

} // namespace

DWORD CBaseNotifications::AddWorkerHeader(CDLLContext* pContext, const char* pszName, const char* pszValue) {
    return WriteHeader(pContext, &CHeaderCallbacks::AddHeader, "[AddWorkerHeader] for header: %s return %d",
                       pszName, pszValue);
}

DWORD CBaseNotifications::SetHeader(CDLLContext* pContext, const char* pszName, const char* pszValue) {
    return WriteHeader(pContext, &CHeaderCallbacks::SetHeader, "[SetHeader] for header: %s return %d",
                       pszName, pszValue);
}

bool CBaseNotifications::GetRequestHeader(CDLLContext* pContext, const char* pszName, std::string& csValue) {
    const CHeaderCallbacks* pCallbacks = HeaderCallbacksOf(pContext);
    if (!pCallbacks || !pCallbacks->GetHeader || !pContext->m_pFilterContext)
        return false;
    return GetIISParmT(pContext->m_pFilterContext, pCallbacks->GetHeader, pszName, csValue);
}

DWORD CBaseNotifications::GetServerVariable(CDLLContext* pContext, const char* pszName,
                                            std::string& csValue) {
    if (pContext && IsHandledNotification(pContext->m_dwNotificationType) && pContext->m_pFilterContext &&
        pContext->m_pFilterContext->GetServerVariable)
        GetIISParmT(pContext->m_pFilterContext, pContext->m_pFilterContext->GetServerVariable, pszName,
                    csValue);
    return ERROR_SUCCESS;
}

bool CBaseNotifications::GetIISParmT(HTTP_FILTER_CONTEXT* pfc, PFN_IIS_READ pfnRead, const char* pszName,
                                     std::string& csValue) {
    DWORD cbSize = 0;
    if (pfnRead(pfc, const_cast<LPSTR>(pszName), nullptr, &cbSize))
        return true;
    DWORD dwError = PlatformGetLastError();
    if (cbSize == 0)
        return false;
    if (dwError == ERROR_INSUFFICIENT_BUFFER) {
        // One byte more than asked for, so the text is terminated even when the host fills it completely.
        const DWORD cbBuffer = cbSize + 1;
        std::unique_ptr<char[]> spBuffer(new (std::nothrow) char[cbBuffer]());
        if (!spBuffer)
            return false;
        DWORD cbRead = cbSize;
        bool bResult = pfnRead(pfc, const_cast<LPSTR>(pszName), spBuffer.get(), &cbRead) != FALSE;
        if (!bResult) {
            DWORD dwReadError = PlatformGetLastError();
            LogError(dwReadError, "GetIISParmT %s failed Error: %d", pszName, static_cast<int>(dwReadError));
            // Whatever a failing host left in the buffer is not a value.
            csValue.clear();
            return false;
        }
        spBuffer[cbRead < cbBuffer ? cbRead : cbSize] = '\0';
        csValue = spBuffer.get();
        return true;
    }
    if (dwError == ERROR_INVALID_PARAMETER || dwError == ERROR_NO_DATA || dwError == ERROR_INVALID_INDEX)
        LogMessage("GetIISParmT %s %s Error %d", " GetServerVariable failed", pszName,
                   static_cast<int>(dwError));
    return false;
}
