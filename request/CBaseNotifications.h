// The handlers' base: the helpers through which every handler reads request values and changes the response.
#pragma once

#include "abi/HostAbi.h"

#include <string>

// The shape shared by the filter context's GetServerVariable and a notification's GetHeader.
typedef BOOL (*PFN_IIS_READ)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);

class CBaseNotifications {
public:
    virtual ~CBaseNotifications() = default;
    virtual DWORD NotifyAuthComplete(CDLLContext* pContext) = 0;
    virtual DWORD NotifyPreProcHeaders(CDLLContext* pContext) = 0;
    virtual DWORD NotifySendResponse(CDLLContext* pContext) = 0;
    virtual DWORD NotifySendRawData(CDLLContext* pContext) = 0;
    virtual DWORD NotifyEndOfRequest(CDLLContext* pContext) = 0;

    // Hands a complete response to the host; 7 when the host offers no SendResponse service.
    static DWORD SendResponse(CDLLContext* pContext, const char* pszResponse, const char* pszLabel,
                              DWORD cbResponse);
    // AddHeader/SetHeader of the current notification; 0 outside the notifications that carry them.
    static DWORD AddWorkerHeader(CDLLContext* pContext, const char* pszName, const char* pszValue);
    static DWORD SetHeader(CDLLContext* pContext, const char* pszName, const char* pszValue);
    static bool GetRequestHeader(CDLLContext* pContext, const char* pszName, std::string& csValue);
    static DWORD GetServerVariable(CDLLContext* pContext, const char* pszName, std::string& csValue);
    // The two-call read of an IIS value: ask for the size, then read into a buffer of that size.
    static bool GetIISParmT(HTTP_FILTER_CONTEXT* pfc, PFN_IIS_READ pfnRead, const char* pszName,
                            std::string& csValue);
};

// The notification structures whose first members are GetHeader, SetHeader and AddHeader.
bool CarriesHeaderCallbacks(DWORD dwNotificationType);
