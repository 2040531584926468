// A small module file for testing wkctl's loading, reporting and log reading without the real module. It
// registers like a worker, follows a request the way the environment tells it, and buffers its log lines
// until it is unloaded, as a buffered log writer does.
#include "host/abi/HostAbi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct CBufferedLog {
    std::vector<std::string> m_vLines;
    ~CBufferedLog() {
        const char* pszFile = std::getenv("WK_FAKE_LOG_FILE");
        if (!pszFile)
            return;
        if (FILE* pFile = std::fopen(pszFile, "ab")) {
            for (const auto& csLine : m_vLines)
                std::fprintf(pFile, "%s\n", csLine.c_str());
            std::fclose(pFile);
        }
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

extern "C" __attribute__((visibility("default"))) BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    g_log.m_vLines.push_back("[Fake::GetFilterVersion] Starts.");
    if (ModeIs("refuse"))
        return FALSE;
    pVer->dwFilterVersion = 0x60000;
    pVer->dwFlags = 0x40264C0;
    std::snprintf(pVer->lpszFilterDesc, sizeof(pVer->lpszFilterDesc), "%s", "Fake Worker");
    return TRUE;
}

extern "C" __attribute__((visibility("default"))) DWORD HttpFilterProc(CDLLContext* pContext) {
    if (!pContext)
        return 0;
    char szLine[128];
    std::snprintf(szLine, sizeof(szLine), "[Fake::HttpFilterProc] notification 0x%X",
                  pContext->m_dwNotificationType);
    g_log.m_vLines.push_back(szLine);
    if (ModeIs("pin"))
        t_csPin = szLine;
    auto* pHeaders = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pContext->m_pNotification);
    switch (pContext->m_dwNotificationType) {
    case SF_NOTIFY_PREPROC_HEADERS:
        pContext->m_dwClientFlags = CF_PREMIUM_CLIENT;
        if (ModeIs("ignore"))
            pContext->m_dwControlMessage = CM_IGNORE;
        return 0;
    case SF_NOTIFY_AUTH_COMPLETE:
        if (ModeIs("answer") && pContext->m_pCoreServices && pContext->m_pCoreServices->SendResponse) {
            static const char s_szPage[] = "HTTP/1.1 200 OK\r\n\r\n<html>\x01</html>";
            DWORD cb = sizeof(s_szPage) - 1;
            pContext->m_pCoreServices->SendResponse(pContext, s_szPage, &cb, pContext->m_pCoreServices);
            pContext->m_dwControlMessage = CM_COMPLETED;
        }
        return 0;
    case SF_NOTIFY_SEND_RESPONSE:
        if (pHeaders && pHeaders->AddHeader && pContext->m_pFilterContext)
            pHeaders->AddHeader(pContext->m_pFilterContext, const_cast<LPSTR>("X-Fake:"),
                                const_cast<LPSTR>("said \"hi\""));
        return 0;
    default:
        return 0;
    }
}

extern "C" __attribute__((visibility("default"))) BOOL TerminateFilter(DWORD) {
    g_log.m_vLines.push_back("[Fake::TerminateFilter] Starts.");
    return TRUE;
}
