// A module made of test functions: each notification runs the step the test scripted for its code.
#pragma once

#include "host/common/HostSession.h"

#include <functional>
#include <map>
#include <mutex>
#include <vector>

struct CFakeStep {
    DWORD m_dwResult = 0;
    DWORD m_dwControlMessage = CM_NONE;
    std::function<void(CDLLContext*)> m_fnAction;
};

class CFakeModule {
public:
    // Scripted steps by notification code; set before any run.
    static std::map<DWORD, CFakeStep>& Script() {
        static std::map<DWORD, CFakeStep> s_script;
        return s_script;
    }
    static std::vector<DWORD> Seen() {
        std::lock_guard<std::mutex> guard(Lock());
        return SeenList();
    }
    static void Reset() {
        Script().clear();
        std::lock_guard<std::mutex> guard(Lock());
        SeenList().clear();
    }

    static CModuleEntryPoints EntryPoints() {
        CModuleEntryPoints entryPoints;
        entryPoints.pfnGetFilterVersion = &GetFilterVersion;
        entryPoints.pfnHttpFilterProc = &HttpFilterProc;
        entryPoints.pfnTerminateFilter = &TerminateFilter;
        return entryPoints;
    }

    static BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
        pVer->dwFilterVersion = 0x60000;
        pVer->dwFlags = 0x40264C0;
        std::snprintf(pVer->lpszFilterDesc, sizeof(pVer->lpszFilterDesc), "%s", "Fake");
        return TRUE;
    }

    static DWORD HttpFilterProc(CDLLContext* pContext) {
        {
            std::lock_guard<std::mutex> guard(Lock());
            SeenList().push_back(pContext->m_dwNotificationType);
        }
        auto it = Script().find(pContext->m_dwNotificationType);
        if (it == Script().end())
            return 0;
        if (it->second.m_fnAction)
            it->second.m_fnAction(pContext);
        if (it->second.m_dwControlMessage != CM_NONE)
            pContext->m_dwControlMessage = it->second.m_dwControlMessage;
        return it->second.m_dwResult;
    }

    static BOOL TerminateFilter(DWORD) { return TRUE; }

private:
    static std::mutex& Lock() {
        static std::mutex s_lock;
        return s_lock;
    }
    static std::vector<DWORD>& SeenList() {
        static std::vector<DWORD> s_vSeen;
        return s_vSeen;
    }
};

// The notification structure's callbacks; PREPROC_HEADERS, AUTH_COMPLETE and SEND_RESPONSE share the start.
inline HTTP_FILTER_PREPROC_HEADERS* Callbacks(CDLLContext* pContext) {
    return static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pContext->m_pNotification);
}
