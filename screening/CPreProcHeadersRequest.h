// The pre-processing of one request's headers: the first handler that sees a request resets the module's
// state of it, drops what the guard has no business with, screens the browser, classifies the request and
// rewrites the forms-based logon redirect. One object per call; it holds the request line values it read.
#pragma once

#include "abi/HostAbi.h"
#include "text/CaselessString.h"

// The result of a request answered with the blocked-browser redirect.
constexpr DWORD PREPROC_REDIRECTED = 0x8000001;

class CPreProcHeadersRequest {
public:
    explicit CPreProcHeadersRequest(CDLLContext* pContext) : m_pContext(pContext) {}

    // 0, a Win32 code, or PREPROC_REDIRECTED; the control message tells the host how to go on.
    DWORD Run();

    // Collapses every run of "/" to one.
    static CaselessString NormalizeUrl(const CaselessString& csUrl);

private:
    bool ReadRequestLine(DWORD& dwResult);
    // False when the request ends here (dropped method, screening failure, redirect); dwResult is set then.
    bool ScreenBrowser(DWORD& dwResult);
    void MarkBaseAndWarningRequests();
    bool RewriteLogonRedirect(DWORD& dwResult);
    bool IsKeptRequest() const;
    bool QueryParameterEquals(const char* pszName, const char* pszValue) const;

    CDLLContext* m_pContext;
    CaselessString m_csUrl; // normalised
    CaselessString m_csMethod;
    CaselessString m_csUserAgent;
    CaselessString m_csReferer;
    bool m_bRedirected = false;
};
