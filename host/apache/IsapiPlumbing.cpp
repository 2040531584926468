#include "host/apache/IsapiPlumbing.h"

#include "platform/LastError.h"
#include "text/CaselessString.h"

#include <cstring>
#include <exception>

namespace {

BOOL Fail(DWORD dwError) {
    PlatformSetLastError(dwError);
    return FALSE;
}

// The two-call buffer protocol: without room the call fails with 122 and reports the size needed (with the
// terminating zero); an absent value fails with 1413 and size 0.
BOOL AnswerRead(const std::optional<std::string>& value, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    if (!lpdwSize)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!value) {
        *lpdwSize = 0;
        return Fail(ERROR_INVALID_INDEX);
    }
    const bool bWithBuffer = lpvBuffer && *lpdwSize > 0;
    if (value->empty()) {
        if (bWithBuffer)
            static_cast<char*>(lpvBuffer)[0] = '\0';
        *lpdwSize = bWithBuffer ? 1 : 0;
        return TRUE;
    }
    const DWORD cbNeeded = static_cast<DWORD>(value->size() + 1);
    if (!bWithBuffer || *lpdwSize < cbNeeded) {
        *lpdwSize = cbNeeded;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpvBuffer, value->c_str(), cbNeeded);
    *lpdwSize = cbNeeded;
    return TRUE;
}

BOOL HostGetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    CIsapiRequest* pRequest = CIsapiRequest::FromFilterContext(pfc);
    if (!pRequest || !lpszName)
        return Fail(ERROR_INVALID_PARAMETER);
    return AnswerRead(pRequest->Site().GetHeader(lpszName), lpvBuffer, lpdwSize);
}

BOOL HostSetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
    CIsapiRequest* pRequest = CIsapiRequest::FromFilterContext(pfc);
    if (!pRequest || !lpszName || !lpszValue)
        return Fail(ERROR_INVALID_PARAMETER);
    return pRequest->Site().SetHeader(lpszName, lpszValue) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostAddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
    CIsapiRequest* pRequest = CIsapiRequest::FromFilterContext(pfc);
    if (!pRequest || !lpszName || !lpszValue)
        return Fail(ERROR_INVALID_PARAMETER);
    return pRequest->Site().AddHeader(lpszName, lpszValue) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    CIsapiRequest* pRequest = CIsapiRequest::FromFilterContext(pfc);
    if (!pRequest || !lpszName)
        return Fail(ERROR_INVALID_PARAMETER);
    return AnswerRead(pRequest->Site().GetServerVariable(lpszName), lpvBuffer, lpdwSize);
}

BOOL HostServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1,
                               ULONG_PTR) {
    CIsapiRequest* pRequest = CIsapiRequest::FromFilterContext(pfc);
    if (!pRequest)
        return Fail(ERROR_INVALID_PARAMETER);
    if (sfReq != SF_REQ_SEND_RESPONSE_HEADER)
        return Fail(ERROR_NOT_SUPPORTED);
    return pRequest->Site().SendResponseHeader(static_cast<const char*>(pData),
                                               reinterpret_cast<const char*>(ul1))
               ? TRUE
               : Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostRefuseWrite(HTTP_FILTER_CONTEXT*, LPVOID, LPDWORD, DWORD) {
    return Fail(ERROR_NOT_SUPPORTED);
}
BOOL HostRefuseHeaders(HTTP_FILTER_CONTEXT*, LPSTR, DWORD) {
    return Fail(ERROR_NOT_SUPPORTED);
}
void* HostRefuseAlloc(HTTP_FILTER_CONTEXT*, DWORD, DWORD) {
    return nullptr;
}

DWORD HostSendResponse(CDLLContext* pContext, const char* pszResponse, DWORD* pcbResponse, CCoreServices*) {
    CIsapiRequest* pRequest = CIsapiRequest::FromRecord(pContext);
    if (!pRequest || !pszResponse)
        return ERROR_INVALID_PARAMETER;
    // The count is the worker's claim; never read past the text's end on its word.
    const size_t cbText = std::strlen(pszResponse);
    const size_t cbTake = pcbResponse && *pcbResponse < cbText ? *pcbResponse : cbText;
    return pRequest->Site().SendResponse(pszResponse, cbTake) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD HostSubmitBufferCommands(CDLLContext* pContext, CBufferInstructionList* pInstructions) {
    CIsapiRequest* pRequest = CIsapiRequest::FromRecord(pContext);
    if (!pRequest || pContext->m_dwNotificationType != SF_NOTIFY_SEND_RAW_DATA)
        return ERROR_INVALID_PARAMETER;
    return pRequest->Site().SubmitBufferCommands(pInstructions);
}

} // namespace

CIsapiRequest::CIsapiRequest(CApacheRequestSite& site, const CWorkerEntryPoints& worker)
    : m_site(site), m_worker(worker) {
    m_filterContext.cbSize = sizeof(HTTP_FILTER_CONTEXT);
    m_filterContext.Revision = 0x00060000;
    m_filterContext.ServerContext = this;
    m_filterContext.GetServerVariable = &HostGetServerVariable;
    m_filterContext.AddResponseHeaders = &HostRefuseHeaders;
    m_filterContext.WriteClient = &HostRefuseWrite;
    m_filterContext.AllocMem = &HostRefuseAlloc;
    m_filterContext.ServerSupportFunction = &HostServerSupportFunction;
    m_coreServices.m_pSlot0 = this;
    m_coreServices.SubmitBufferCommands = &HostSubmitBufferCommands;
    m_coreServices.SendResponse = &HostSendResponse;
    m_context.m_pCoreServices = &m_coreServices;
    m_context.m_pFilterContext = &m_filterContext;
    m_context.m_spOutboundContext = std::make_shared<COutboundContext>();
}

CIsapiRequest* CIsapiRequest::FromFilterContext(HTTP_FILTER_CONTEXT* pfc) {
    auto* pRequest = pfc ? static_cast<CIsapiRequest*>(pfc->ServerContext) : nullptr;
    return pRequest && pRequest->m_dwMagic == MAGIC && pfc == &pRequest->m_filterContext ? pRequest : nullptr;
}

CIsapiRequest* CIsapiRequest::FromRecord(CDLLContext* pContext) {
    CCoreServices* pTable = pContext ? pContext->m_pCoreServices : nullptr;
    auto* pRequest = pTable ? static_cast<CIsapiRequest*>(pTable->m_pSlot0) : nullptr;
    return pRequest && pRequest->m_dwMagic == MAGIC && pContext == &pRequest->m_context ? pRequest : nullptr;
}

void CIsapiRequest::Classify(DWORD dwSubscriptionType, DWORD dwLinkCriteria) {
    m_context.m_dwSubscriptionType = dwSubscriptionType;
    m_context.m_dwLinkCriteria = dwLinkCriteria;
}

void CIsapiRequest::RefreshRecord(bool bWithIdentity) {
    m_context.m_spRequestInfo = m_site.BuildRequestInfo();
    m_context.m_spExchangeURL = m_site.BuildExchangeUrl();
    if (bWithIdentity)
        m_context.m_spRequestIdentity = m_site.BuildIdentity();
}

void CIsapiRequest::LocatePage() {
    m_commonPointers = CCommonPointers();
    const std::string& csBody = m_site.Body();
    if (csBody.empty())
        return;
    const char* pBegin = csBody.data();
    m_commonPointers.m_pDataBegin = pBegin;
    m_commonPointers.m_pDataLast = pBegin + csBody.size() - 1;
    m_commonPointers.m_pHtmlDataBegin = pBegin;
    // The first of each main tag, the last "</body".
    const CaselessStringView svBody(csBody.data(), csBody.size());
    auto At = [&](size_t nPos) { return nPos == CaselessStringView::npos ? nullptr : pBegin + nPos; };
    m_commonPointers.m_pHtmlStartTag = At(svBody.find("<html"));
    const size_t nHead = svBody.find("<head");
    m_commonPointers.m_pHeadStartTag = At(nHead);
    m_commonPointers.m_pHeadEndTag = At(svBody.find("</head", nHead == CaselessStringView::npos ? 0 : nHead));
    m_commonPointers.m_pBodyStartTag = At(svBody.find("<body"));
    m_commonPointers.m_pBodyEndTag = At(svBody.rfind("</body"));
}

void* CIsapiRequest::PrepareNotification(DWORD dwCode, DWORD dwHttpStatus) {
    switch (dwCode) {
    case SF_NOTIFY_PREPROC_HEADERS:
    case SF_NOTIFY_SEND_RESPONSE:
        m_headers = {&HostGetHeader, &HostSetHeader, &HostAddHeader,
                     dwCode == SF_NOTIFY_SEND_RESPONSE ? dwHttpStatus : 0, 0};
        return &m_headers;
    case SF_NOTIFY_AUTH_COMPLETE:
        m_authComplete = {&HostGetHeader, &HostSetHeader, &HostAddHeader, nullptr, 0, FALSE, 0};
        return &m_authComplete;
    case SF_NOTIFY_SEND_RAW_DATA: {
        std::string& csBody = m_site.Body();
        m_rawData = {csBody.data(), static_cast<DWORD>(csBody.size()), static_cast<DWORD>(csBody.size()), 0};
        LocatePage();
        m_context.m_spOutboundContext->m_pCommonPointers = csBody.empty() ? nullptr : &m_commonPointers;
        return &m_rawData;
    }
    default:
        // AUTHENTICATION has no structure in the contract; END_OF_REQUEST has none at all.
        return nullptr;
    }
}

CNotifyOutcome CIsapiRequest::Notify(DWORD dwCode, DWORD dwHttpStatus) {
    const bool bRequestSide = dwCode == SF_NOTIFY_PREPROC_HEADERS || dwCode == SF_NOTIFY_AUTH_COMPLETE;
    m_site.SetHeaderSet(bRequestSide                        ? EHeaderSet::Request
                        : dwCode == SF_NOTIFY_SEND_RESPONSE ? EHeaderSet::Response
                                                            : EHeaderSet::None);
    m_context.m_pNotification = PrepareNotification(dwCode, dwHttpStatus);
    m_context.m_dwNotificationType = dwCode;
    if (dwCode == SF_NOTIFY_SEND_RESPONSE || dwCode == SF_NOTIFY_SEND_RAW_DATA)
        m_context.m_spOutboundContext->m_dwHttpStatus = dwHttpStatus;
    m_context.m_pdwThreadError = PlatformThreadErrorWord();

    CNotifyOutcome outcome;
    try {
        outcome.m_dwResult = m_worker.pfnHttpFilterProc(&m_context);
    } catch (const std::exception& e) {
        outcome.m_bException = true;
        outcome.m_csException = e.what();
    } catch (...) {
        outcome.m_bException = true;
        outcome.m_csException = "an exception that is not a std::exception";
    }
    m_site.SetHeaderSet(EHeaderSet::None);
    outcome.m_dwControlMessage = m_context.m_dwControlMessage;
    if (dwCode == SF_NOTIFY_SEND_RAW_DATA)
        m_context.m_spOutboundContext->m_pCommonPointers = nullptr;
    return outcome;
}
