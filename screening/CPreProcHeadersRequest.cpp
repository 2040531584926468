#include "screening/CPreProcHeadersRequest.h"

#include "log/Log.h"
#include "request/CBaseNotifications.h"
#include "request/ControlMessage.h"
#include "screening/CPreProcHeadersHelper.h"

namespace {

const char PREFIX[] = "[CNotifications::NotifyPreProcHeaders] ";

const char SUBFRAME_MARKER[] = "%3fbkwksubfr%3d2";
const char SUBFRAME_MARKER_SHOWN[] = "%3fbkwksubfr%3d1";
const char BASE_MARKER[] = "%3fbkwkbase%3d2";
const char BASE_MARKER_SHOWN[] = "%3fbkwkbase%3d1";

bool ReadValue(const CRequestInfo& info, const char* pszName, CaselessString& csValue) {
    std::string csText;
    if (!info.GetHeaderValue(pszName, csText))
        return false;
    csValue = ToCaseless(csText);
    return true;
}

} // namespace

CaselessString CPreProcHeadersRequest::NormalizeUrl(const CaselessString& csUrl) {
    CaselessString csNormal;
    csNormal.reserve(csUrl.size());
    for (char ch : csUrl)
        if (ch != '/' || csNormal.empty() || csNormal.back() != '/')
            csNormal += ch;
    return csNormal;
}

DWORD CPreProcHeadersRequest::Run() {
    DWORD dwResult = ERROR_SUCCESS;
    if (!m_pContext) {
        LogMessage("%sCDLLContext pointer is NULL.", PREFIX);
        dwResult = ERROR_INVALID_DATA;
    } else if (!m_pContext->m_spRequestInfo) {
        LogMessage("%sCDLLContext.m_spRequestInfo is NULL.", PREFIX);
        dwResult = ERROR_INVALID_DATA;
        m_pContext->m_dwControlMessage = CM_IGNORE;
    } else {
        // A request starts clean: nothing of an earlier request on this record survives.
        m_pContext->m_dwClientFlags = 0;
        m_pContext->m_pMyOwnContext = nullptr;
        m_pContext->m_dwReserved1 = 0;
        m_pContext->m_qwReserved2 = 0;
        if (ReadRequestLine(dwResult) && ScreenBrowser(dwResult)) {
            if (m_bRedirected)
                return dwResult; // the request is answered: it has no closing line
            MarkBaseAndWarningRequests();
            if (RewriteLogonRedirect(dwResult) && !(m_pContext->m_dwClientFlags & CF_BASE_REQUEST) &&
                !IsKeptRequest()) {
                LogMessage(
                    "%sHTTP URL <%s> Subscription type <%d>. We are not interested in this request. Ignore.",
                    PREFIX, m_csUrl.c_str(), static_cast<int>(m_pContext->m_dwSubscriptionType));
                m_pContext->m_dwControlMessage = CM_IGNORE;
            }
        }
        if (dwResult != ERROR_SUCCESS)
            m_pContext->m_dwControlMessage = CM_IGNORE;
    }
    LogMessage("%sfinished.  Win32 RC=%d.  Control Message=<%s>", PREFIX, static_cast<int>(dwResult),
               ControlMessageWord(m_pContext));
    return dwResult;
}

bool CPreProcHeadersRequest::ReadRequestLine(DWORD& dwResult) {
    const CRequestInfo& info = *m_pContext->m_spRequestInfo;
    CaselessString csRawUrl;
    dwResult = ERROR_ARENA_TRASHED;
    if (!ReadValue(info, "HTTP_URL", csRawUrl)) {
        LogMessage("%sReading HTTP_URL header failed.", PREFIX);
        return false;
    }
    if (!ReadValue(info, "HTTP_METHOD", m_csMethod)) {
        LogMessage("%sHTTP_URL <%s>. Reading HTTP_METHOD header failed. ", PREFIX, csRawUrl.c_str());
        return false;
    }
    if (!ReadValue(info, "HTTP_USER_AGENT", m_csUserAgent)) {
        LogMessage("%sHTTP_URL <%s> HTTP_METHOD <%s>. Reading HTTP_USER_AGENT header failed. ", PREFIX,
                   csRawUrl.c_str(), m_csMethod.c_str());
        return false;
    }
    dwResult = ERROR_SUCCESS;
    std::string csReferer;
    if (CBaseNotifications::GetRequestHeader(m_pContext, "Referer:", csReferer))
        m_csReferer = ToCaseless(csReferer);
    else
        LogMessage("%sReading REFERER header failed. Go with empty referer!", PREFIX);
    m_csUrl = NormalizeUrl(csRawUrl);
    LogMessage("%sMETHOD <%s> HTTP URL <%s> UA <%s> Referer <%s> Subscription type <%d>.", PREFIX,
               m_csMethod.c_str(), m_csUrl.c_str(), m_csUserAgent.c_str(), m_csReferer.c_str(),
               static_cast<int>(m_pContext->m_dwSubscriptionType));
    return true;
}

bool CPreProcHeadersRequest::ScreenBrowser(DWORD& dwResult) {
    if (m_csMethod == "POST") {
        m_pContext->m_dwClientFlags |= CF_POST;
    } else if (m_csMethod != "GET") {
        m_pContext->m_dwControlMessage = CM_IGNORE;
        LogMessage("%sWe are not interested in this request method <%s>. Ignore.", PREFIX,
                   m_csMethod.c_str());
        return false;
    }
    DWORD dwBlock = 0;
    dwResult =
        CPreProcHeadersHelper::SetClientFlags_BlockBrowserIfNecessary(m_pContext, m_csUserAgent, dwBlock);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("%sCPreProcHeadersHelper::SetClientFlags_BlockBrowserIfNecessary() failed.", PREFIX);
        return false;
    }
    if (!dwBlock)
        return true;
    LogMessage("%sBrowser has to be blocked. Redirect client to the browser blocked page.", PREFIX);
    dwResult = CPreProcHeadersHelper::Redirect2BrowserBlockedPage(m_pContext);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("%sCPreProcHeadersHelper::Redirect2BrowserBlockedPage failed.", PREFIX);
        return false;
    }
    m_pContext->m_dwControlMessage = CM_COMPLETED;
    m_bRedirected = true;
    dwResult = PREPROC_REDIRECTED;
    LogMessage(
        "%sClient was successfully redirected to browser blocked page. Request completed. Win32 RC=%d.  "
        "Control Message=<%s>",
        PREFIX, static_cast<int>(dwResult), ControlMessageWord(m_pContext));
    return true;
}

bool CPreProcHeadersRequest::QueryParameterEquals(const char* pszName, const char* pszValue) const {
    std::string csValue;
    return m_pContext->m_spRequestInfo->GetQueryParameter(pszName, csValue) &&
           EqualsCaseless(csValue, pszValue);
}

void CPreProcHeadersRequest::MarkBaseAndWarningRequests() {
    DWORD& dwFlags = m_pContext->m_dwClientFlags;
    const DWORD dwType = m_pContext->m_dwSubscriptionType;
    if (CPreProcHeadersHelper::IsBKWKBaseRequest(dwType, m_csUrl, m_csReferer))
        dwFlags |= CF_BASE_REQUEST;
    if (dwType == ST_BASE_REQUEST && QueryParameterEquals("bkwkbase", "2"))
        dwFlags |= CF_BASE_WARN;
    if (dwType == ST_SUBFRAME_REQUEST && QueryParameterEquals("bkwksubfr", "2"))
        dwFlags |= CF_SUBFRAME_WARN;
    LogMessage(
        "%sBKWK base request <%s> BKWK base show warning message request <%s> BKWK subframe show warning "
        "message request <%s>.",
        PREFIX, dwFlags & CF_BASE_REQUEST ? "Y" : "N", dwFlags & CF_BASE_WARN ? "Y" : "N",
        dwFlags & CF_SUBFRAME_WARN ? "Y" : "N");
}

bool CPreProcHeadersRequest::RewriteLogonRedirect(DWORD& dwResult) {
    if (m_pContext->m_dwSubscriptionType != ST_FBA_LOGON)
        return true;
    CaselessString csNewUrl = m_csUrl;
    size_t nPos = csNewUrl.find(SUBFRAME_MARKER);
    if (nPos != CaselessString::npos) {
        csNewUrl.replace(nPos, sizeof(SUBFRAME_MARKER) - 1, SUBFRAME_MARKER_SHOWN);
    } else if ((nPos = csNewUrl.find(BASE_MARKER)) != CaselessString::npos) {
        csNewUrl.replace(nPos, sizeof(BASE_MARKER) - 1, BASE_MARKER_SHOWN);
    } else {
        return true;
    }
    // The URL goes back to the host as a request header: a control character in it could start another.
    const std::string csPlain = ToPlain(csNewUrl);
    const bool bSet =
        IsSafeHeaderText(csPlain) && CBaseNotifications::SetHeader(m_pContext, "URL", csPlain.c_str());
    LogMessage(
        "%sOWA FBA logon requrest, redirection URL is set to BKWK show message request. Internal redirection "
        "to <%s> <%s>",
        PREFIX, csPlain.c_str(), bSet ? "succeeded" : "FAILED");
    if (bSet)
        return true;
    dwResult = ERROR_ARENA_TRASHED;
    return false;
}

bool CPreProcHeadersRequest::IsKeptRequest() const {
    std::string csValue;
    const CRequestInfo& info = *m_pContext->m_spRequestInfo;
    switch (m_pContext->m_dwSubscriptionType) {
    case ST_OWA_FOLDER:
        return CPreProcHeadersHelper::IsOWAStartPageURL(m_csUrl, false);
    case ST_LOGOFF_CMD:
        return QueryParameterEquals("Cmd", "logoff");
    case ST_SUBFRAME_REQUEST:
    case ST_LOGOFF:
        return true;
    case ST_MODURL:
        return info.GetQueryParameter("modurl", csValue) && !csValue.empty();
    default:
        return false;
    }
}
