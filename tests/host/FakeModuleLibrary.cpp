// A small module file for testing wkctl's loading, reporting and log reading without the real module. It
// registers like a worker, follows a request the way WK_FAKE_MODE tells it, and buffers its log lines until
// it is unloaded (into WK_FAKE_LOG_FILE), as a buffered log writer does.
#include "abi/HostAbi.h"
#ifdef WK_FAKE_EDITS
#include "html/CBufferInstruction.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define WK_FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct CBufferedLog {
    std::vector<std::string> m_vLines;
    ~CBufferedLog() {
        const char* pszFile = std::getenv("WK_FAKE_LOG_FILE");
        FILE* pFile = pszFile ? std::fopen(pszFile, "ab") : nullptr;
        if (!pFile)
            return;
        for (const auto& csLine : m_vLines)
            std::fprintf(pFile, "%s\n", csLine.c_str());
        std::fclose(pFile);
    }
};
CBufferedLog g_log;

// Storage of the calling thread with a destructor: while a thread holds some, the library cannot be unloaded.
thread_local std::string t_csPin;

bool ModeIs(const char* pszMode) {
    const char* pszValue = std::getenv("WK_FAKE_MODE");
    return pszValue && std::strcmp(pszValue, pszMode) == 0;
}

} // namespace

WK_FAKE_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    g_log.m_vLines.push_back("[Fake::GetFilterVersion] Starts.");
    if (ModeIs("refuse"))
        return FALSE;
    pVer->dwFilterVersion = 0x60000;
    pVer->dwFlags = 0x40264C0;
    // Shows whether the host asked the module's event log for standard error.
    const char* pszEvents = ModeIs("events") ? std::getenv("WENDRAKE_EVENTS_TO_STDERR") : nullptr;
    std::snprintf(pVer->lpszFilterDesc, sizeof(pVer->lpszFilterDesc), "Fake Worker%s%s",
                  pszEvents ? ", events to standard error: " : "", pszEvents ? pszEvents : "");
    return TRUE;
}

WK_FAKE_EXPORT DWORD HttpFilterProc(CDLLContext* p) {
    // WK_FAKE_CONTRACT stands for a module built against another contract.
    if (!p) {
        const char* pszContract = std::getenv("WK_FAKE_CONTRACT");
        return pszContract ? static_cast<DWORD>(std::strtoul(pszContract, nullptr, 0)) : WK_HOST_ABI_CONTRACT;
    }
    char szLine[128];
    std::snprintf(szLine, sizeof(szLine), "[Fake::HttpFilterProc] notification 0x%X",
                  p->m_dwNotificationType);
    g_log.m_vLines.push_back(szLine);
    if (ModeIs("pin"))
        t_csPin = szLine;
#ifdef WK_FAKE_EDITS
    if (p->m_dwNotificationType == SF_NOTIFY_SEND_RAW_DATA && ModeIs("edit") && p->m_pCoreServices &&
        p->m_pCoreServices->SubmitBufferCommands) {
        // Marks the page's start and drops its last byte, so that the delivered length differs both ways.
        auto* pRaw = static_cast<HTTP_FILTER_RAW_DATA*>(p->m_pNotification);
        const auto qwBegin = reinterpret_cast<uintptr_t>(pRaw->pvInData);
        CBufferInstructionList list;
        InsertHtmlStringAtPosition(qwBegin, "<!-- edited \xE9 -->", &list);
        DeleteHtmlStringAtPosition(qwBegin + pRaw->cbInData - 1, 1, &list);
        p->m_pCoreServices->SubmitBufferCommands(p, &list);
    }
#endif
    auto* pHeaders = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(p->m_pNotification);
    if (p->m_dwNotificationType == SF_NOTIFY_PREPROC_HEADERS) {
        p->m_dwClientFlags = CF_PREMIUM_CLIENT;
        if (ModeIs("ignore"))
            p->m_dwControlMessage = CM_IGNORE;
    } else if (p->m_dwNotificationType == SF_NOTIFY_AUTH_COMPLETE && ModeIs("answer") && p->m_pCoreServices &&
               p->m_pCoreServices->SendResponse) {
        static const char s_szPage[] = "HTTP/1.1 200 OK\r\n\r\n<html>\x01</html>";
        DWORD cb = sizeof(s_szPage) - 1;
        p->m_pCoreServices->SendResponse(p, s_szPage, &cb, p->m_pCoreServices);
        p->m_dwControlMessage = CM_COMPLETED;
    } else if (p->m_dwNotificationType == SF_NOTIFY_SEND_RESPONSE && pHeaders && pHeaders->AddHeader &&
               p->m_pFilterContext) {
        pHeaders->AddHeader(p->m_pFilterContext, const_cast<LPSTR>("X-Fake:"),
                            const_cast<LPSTR>("said \"hi\""));
    }
    return 0;
}

WK_FAKE_EXPORT BOOL TerminateFilter(DWORD) {
    g_log.m_vLines.push_back("[Fake::TerminateFilter] Starts.");
    return TRUE;
}
