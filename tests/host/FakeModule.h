// A module made of test functions: each notification runs the step the test scripted for its code.
#pragma once

#include "host/common/HostSession.h"

#include <functional>
#include <map>

struct CFakeStep {
    DWORD m_dwResult = 0;
    DWORD m_dwControlMessage = CM_NONE;
    std::function<void(CDLLContext*)> m_fnAction;
};

class CFakeModule {
public:
    // Scripted steps by notification code; set before any run, read by every run.
    static inline std::map<DWORD, CFakeStep> s_script;

    static void Reset() { s_script.clear(); }
    static CModuleEntryPoints EntryPoints() { return {&GetFilterVersion, &HttpFilterProc, &TerminateFilter}; }

    static BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
        pVer->dwFilterVersion = 0x60000;
        pVer->dwFlags = 0x40264C0;
        std::snprintf(pVer->lpszFilterDesc, sizeof(pVer->lpszFilterDesc), "%s", "Fake");
        return TRUE;
    }
    static DWORD HttpFilterProc(CDLLContext* pContext) {
        auto it = s_script.find(pContext->m_dwNotificationType);
        if (it == s_script.end())
            return 0;
        if (it->second.m_fnAction)
            it->second.m_fnAction(pContext);
        if (it->second.m_dwControlMessage != CM_NONE)
            pContext->m_dwControlMessage = it->second.m_dwControlMessage;
        return it->second.m_dwResult;
    }
    static BOOL TerminateFilter(DWORD) { return TRUE; }
};

// The notification structure's callbacks; PREPROC_HEADERS, AUTH_COMPLETE and SEND_RESPONSE share the start.
inline HTTP_FILTER_PREPROC_HEADERS* Callbacks(CDLLContext* pContext) {
    return static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pContext->m_pNotification);
}
