// One handler per notification; a fresh, stateless object serves each call.
#pragma once

#include "request/CBaseNotifications.h"

class CNotifications : public CBaseNotifications {
public:
    DWORD NotifyAuthComplete(CDLLContext* pContext) override;
    DWORD NotifyPreProcHeaders(CDLLContext* pContext) override;
    DWORD NotifySendResponse(CDLLContext* pContext) override;
    DWORD NotifySendRawData(CDLLContext* pContext) override;
    DWORD NotifyEndOfRequest(CDLLContext* pContext) override;

    // Routes one call by its notification code; 0 for codes without a handler.
    DWORD Dispatch(CDLLContext* pContext);
};

// Writes a handler's closing line "[<handler>] finished.  Win32 RC=%d.  Control Message=<%s>" and returns
// the result.
DWORD FinishNotification(const char* pszHandler, DWORD dwResult, const CDLLContext* pContext);
