// The response of a followed request: a logoff makes the browser drop the webmail's UserContext cookies, a
// page gets the no-cache headers, any other status ends the module's interest.
#pragma once

#include "abi/HostAbi.h"

class CSendResponseHelper {
public:
    // The SEND_RESPONSE handling; 0 or a Win32 code, the control message tells the host how to go on.
    static DWORD HandleSendResponse(CDLLContext* pContext);
    // A removal header for each UserContext cookie of the request; 0, or 7 when a header could not be added
    // or the request's values are missing.
    static DWORD AddRemoveUserContextCookieHeaders(CDLLContext* pContext);
};
