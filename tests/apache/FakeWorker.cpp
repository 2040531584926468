// A worker for mod_wendrake's tests: it writes every notification it gets to WK_APACHE_FAKE_LOG (one line,
// "<url> <notification> <status>") and misbehaves as the request's X-Fake header asks: "ignore", "answer",
// "throw-<code>" (throws in that notification), "garbage" (nonsense through every callback). It refuses to
// register when WK_APACHE_FAKE_REFUSE is set.
#include "abi/HostAbi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct CFakeRequest {
    std::string m_csUrl;
    std::string m_csAction;
};

const char* Name(DWORD dwCode) {
    switch (dwCode) {
    case SF_NOTIFY_PREPROC_HEADERS:
        return "PREPROC_HEADERS";
    case SF_NOTIFY_AUTHENTICATION:
        return "AUTHENTICATION";
    case SF_NOTIFY_AUTH_COMPLETE:
        return "AUTH_COMPLETE";
    case SF_NOTIFY_SEND_RESPONSE:
        return "SEND_RESPONSE";
    case SF_NOTIFY_SEND_RAW_DATA:
        return "SEND_RAW_DATA";
    default:
        return "END_OF_REQUEST";
    }
}

std::string Read(HTTP_FILTER_PREPROC_HEADERS* pHeaders, HTTP_FILTER_CONTEXT* pfc, const char* pszName) {
    char szValue[512] = "";
    DWORD cbValue = sizeof(szValue);
    return pHeaders->GetHeader(pfc, const_cast<char*>(pszName), szValue, &cbValue) ? szValue : "";
}

void Log(const CFakeRequest& request, DWORD dwCode, CDLLContext* p) {
    const char* pszFile = std::getenv("WK_APACHE_FAKE_LOG");
    const DWORD dwStatus = p->m_spOutboundContext ? p->m_spOutboundContext->m_dwHttpStatus : 0;
    const std::string csLine = request.m_csUrl + " " + Name(dwCode) + " " + std::to_string(dwStatus) + "\n";
    const int fd = pszFile ? ::open(pszFile, O_WRONLY | O_APPEND | O_CREAT, 0666) : -1;
    if (fd >= 0) {
        (void)!::write(fd, csLine.data(), csLine.size());
        ::close(fd);
    }
}

void Misbehave(CDLLContext* p, DWORD dwCode) {
    p->m_dwControlMessage = 77;
    auto* pHeaders = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(p->m_pNotification);
    if (dwCode == SF_NOTIFY_AUTH_COMPLETE) {
        DWORD cb = 4000;
        p->m_pCoreServices->SendResponse(p, "no response at all", &cb, p->m_pCoreServices);
        p->m_pFilterContext->ServerSupportFunction(p->m_pFilterContext, SF_REQ_SEND_RESPONSE_HEADER,
                                                   const_cast<char*>("abc"), 0, 0);
    }
    if (dwCode == SF_NOTIFY_SEND_RESPONSE) {
        pHeaders->AddHeader(p->m_pFilterContext, const_cast<char*>("X-Split:"),
                            const_cast<char*>("a\r\nX-Evil: 1"));
        pHeaders->SetHeader(p->m_pFilterContext, const_cast<char*>("Content-Length:"),
                            const_cast<char*>("1"));
    }
    if (dwCode == SF_NOTIFY_SEND_RAW_DATA)
        p->m_pCoreServices->SubmitBufferCommands(p, nullptr);
    DWORD cbSize = 0;
    p->m_pFilterContext->GetServerVariable(p->m_pFilterContext, const_cast<char*>("URL"), nullptr, &cbSize);
}

} // namespace

FAKE_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    if (std::getenv("WK_APACHE_FAKE_REFUSE"))
        return FALSE;
    pVer->dwFilterVersion = 0x60000;
    pVer->dwFlags = 0x40264C0;
    std::snprintf(pVer->lpszFilterDesc, sizeof(pVer->lpszFilterDesc), "Apache test worker");
    return TRUE;
}

FAKE_EXPORT DWORD HttpFilterProc(CDLLContext* p) {
    if (!p)
        return WK_HOST_ABI_CONTRACT;
    const DWORD dwCode = p->m_dwNotificationType;
    auto* pHeaders = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(p->m_pNotification);
    if (dwCode == SF_NOTIFY_PREPROC_HEADERS)
        p->m_pMyOwnContext = new CFakeRequest{Read(pHeaders, p->m_pFilterContext, "url"),
                                              Read(pHeaders, p->m_pFilterContext, "X-Fake:")};
    auto* pRequest = static_cast<CFakeRequest*>(p->m_pMyOwnContext);
    if (!pRequest)
        return ERROR_INVALID_PARAMETER;
    Log(*pRequest, dwCode, p);
    const std::string csAction = pRequest->m_csAction;
    if (dwCode == SF_NOTIFY_END_OF_REQUEST) {
        delete pRequest;
        p->m_pMyOwnContext = nullptr;
    }
    if (csAction == "throw-" + std::string(Name(dwCode)))
        throw std::runtime_error("the fake worker throws on purpose");
    if (csAction == "garbage")
        Misbehave(p, dwCode);
    if (csAction == "ignore" && dwCode == SF_NOTIFY_PREPROC_HEADERS)
        p->m_dwControlMessage = CM_IGNORE;
    if (csAction == "answer" && dwCode == SF_NOTIFY_AUTH_COMPLETE) {
        const char szAnswer[] =
            "HTTP/1.1 299 Fake Answer\r\nX-Fake-Answer: yes\r\nContent-Type: text/plain\r\n\r\nanswered";
        DWORD cb = sizeof(szAnswer) - 1;
        p->m_pCoreServices->SendResponse(p, szAnswer, &cb, p->m_pCoreServices);
        p->m_dwControlMessage = CM_COMPLETED;
    }
    return ERROR_SUCCESS;
}

FAKE_EXPORT BOOL TerminateFilter(DWORD) {
    return TRUE;
}
