#include "host/common/HostSession.h"

#include "host/common/BufferApply.h"

#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

constexpr DWORD HOST_RUN_MAGIC = 0x5748524E;
// HTTP_FILTER_CONTEXT::Revision as the host fills it.
constexpr DWORD HOST_FILTER_REVISION = 0x00060000;

class CHostRun;

// The run whose notification this thread is in: lets a callback made with a null or foreign handle still be
// recorded as an anomaly of the right run.
thread_local CHostRun* t_pCurrentRun = nullptr;

const char* CallbackName(EHostCallback eCallback) {
    switch (eCallback) {
    case EHostCallback::GetHeader:
        return "GetHeader";
    case EHostCallback::SetHeader:
        return "SetHeader";
    case EHostCallback::AddHeader:
        return "AddHeader";
    case EHostCallback::GetServerVariable:
        return "GetServerVariable";
    case EHostCallback::ServerSupportFunction:
        return "ServerSupportFunction";
    case EHostCallback::SendResponse:
        return "SendResponse";
    case EHostCallback::SubmitBufferCommands:
        return "SubmitBufferCommands";
    }
    return "?";
}

std::string WithoutTrailingColon(const char* pszName) {
    std::string csName = pszName;
    if (!csName.empty() && csName.back() == ':')
        csName.pop_back();
    return csName;
}

std::string AddressText(const void* p) {
    char szText[32];
    std::snprintf(szText, sizeof(szText), "%p", p);
    return szText;
}

class CHostRun {
public:
    CHostRun(const CHostRequest& request, const FN_BUFFER_COMMANDS& fnBufferCommands,
             PFN_HTTP_FILTER_PROC pfnHttpFilterProc, CHostRunRecord& record)
        : m_request(request), m_fnBufferCommands(fnBufferCommands), m_pfnHttpFilterProc(pfnHttpFilterProc),
          m_record(record) {}
    CHostRun(const CHostRun&) = delete;
    CHostRun& operator=(const CHostRun&) = delete;

    void Execute();

    static CHostRun* FromFilterContext(HTTP_FILTER_CONTEXT* pfc, const char* pszCallback);
    static CHostRun* FromCoreServices(CDLLContext* pContext, CCoreServices* pCoreServices,
                                      const char* pszCallback);
    static BOOL Fail(DWORD dwError) {
        PlatformSetLastError(dwError);
        return FALSE;
    }

    BOOL GetHeader(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
    BOOL SetHeader(LPSTR lpszName, LPSTR lpszValue);
    BOOL AddHeader(LPSTR lpszName, LPSTR lpszValue);
    BOOL GetServerVariable(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
    BOOL ServerSupportFunction(SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1);
    void* AllocMem(DWORD cbSize);
    DWORD SendResponse(CDLLContext* pContext, const char* pszResponse, DWORD* pcbResponse);
    DWORD SubmitBufferCommands(CDLLContext* pContext, CBufferInstructionList* pInstructions);
    void ReadSubmission(const CBufferInstructionList& list, CHostBufferSubmission& submission) const;
    // Fills the page-data record for the response body.
    void LocatePage();
    // What the browser receives: the page, or the page with the accepted edits.
    void DeliverBody();
    void Anomaly(std::string csText) { m_record.m_vAnomalies.push_back(std::move(csText)); }

private:
    void SetUp();
    // Sends one notification; false when the module ended its interest in the request.
    bool Send(DWORD dwCode, DWORD dwHttpStatus);
    // The notification structure for the code, filled for this request (null for END_OF_REQUEST).
    void* PrepareNotification(DWORD dwCode, DWORD dwHttpStatus);
    void BeginRecord(DWORD dwCode, DWORD dwHttpStatus);
    // Calls the module as the request's user; an exception that leaves it is caught and described.
    DWORD CallModule(bool& bException, std::string& csException);
    CHostNotificationRecord& Current();
    void ThrowIfAsked(EHostCallback eCallback) const {
        if (m_request.Throws(eCallback))
            throw CHostCallbackException(CallbackName(eCallback));
    }
    BOOL AnswerRead(CHostRead read, EHostCallback eCallback, const std::string* pValue, LPVOID lpvBuffer,
                    LPDWORD lpdwSize);
    const std::string* FindHeader(const std::string& csName) const;
    bool ChangesRequestHeaders() const {
        return m_dwCurrentCode == SF_NOTIFY_PREPROC_HEADERS || m_dwCurrentCode == SF_NOTIFY_AUTH_COMPLETE;
    }

public:
    const DWORD m_dwMagic = HOST_RUN_MAGIC;

private:
    const CHostRequest& m_request;
    const FN_BUFFER_COMMANDS& m_fnBufferCommands;
    PFN_HTTP_FILTER_PROC m_pfnHttpFilterProc;
    CHostRunRecord& m_record;

    size_t m_nCurrent = 0;
    bool m_bInNotification = false;
    DWORD m_dwCurrentCode = 0;
    CHostNotificationRecord m_outside; // collects callbacks made outside any notification

    // The request headers as the module can read and change them.
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::string m_csUrl;
    std::string m_csMethod;
    std::map<std::string, std::string, CCaselessLess> m_mapServerVariables;
    size_t m_nAddHeaderCalls = 0;
    std::vector<std::unique_ptr<char[]>> m_vAllocations;
    std::string m_csBody;

    HTTP_FILTER_CONTEXT m_filterContext{};
    CCoreServices m_coreServices{}; // slot 0, which the module does not use, leads back to the run
    CDLLContext m_context;
    HTTP_FILTER_PREPROC_HEADERS m_preprocHeaders{};
    HTTP_FILTER_AUTH_COMPLETE_INFO m_authComplete{};
    HTTP_FILTER_SEND_RESPONSE m_sendResponse{};
    HTTP_FILTER_RAW_DATA m_rawData{};
    CCommonPointers m_commonPointers{};
};

// ---------------------------------------------------------------------------------------------------------
// The callbacks as the module calls them.

BOOL HostGetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    CHostRun* pRun = CHostRun::FromFilterContext(pfc, "GetHeader");
    return pRun ? pRun->GetHeader(lpszName, lpvBuffer, lpdwSize) : CHostRun::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostSetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
    CHostRun* pRun = CHostRun::FromFilterContext(pfc, "SetHeader");
    return pRun ? pRun->SetHeader(lpszName, lpszValue) : CHostRun::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostAddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
    CHostRun* pRun = CHostRun::FromFilterContext(pfc, "AddHeader");
    return pRun ? pRun->AddHeader(lpszName, lpszValue) : CHostRun::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer,
                           LPDWORD lpdwSize) {
    CHostRun* pRun = CHostRun::FromFilterContext(pfc, "GetServerVariable");
    return pRun ? pRun->GetServerVariable(lpszVariableName, lpvBuffer, lpdwSize)
                : CHostRun::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1,
                               ULONG_PTR) {
    CHostRun* pRun = CHostRun::FromFilterContext(pfc, "ServerSupportFunction");
    return pRun ? pRun->ServerSupportFunction(sfReq, pData, ul1) : CHostRun::Fail(ERROR_INVALID_PARAMETER);
}

// The module has no business writing to the client or adding raw header blocks; the calls are recorded.
BOOL HostAddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR, DWORD) {
    if (CHostRun* pRun = CHostRun::FromFilterContext(pfc, "AddResponseHeaders"))
        pRun->Anomaly("the module called AddResponseHeaders, which this host does not support");
    return CHostRun::Fail(ERROR_NOT_SUPPORTED);
}

BOOL HostWriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID, LPDWORD, DWORD) {
    if (CHostRun* pRun = CHostRun::FromFilterContext(pfc, "WriteClient"))
        pRun->Anomaly("the module called WriteClient, which this host does not support");
    return CHostRun::Fail(ERROR_NOT_SUPPORTED);
}

void* HostAllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD) {
    CHostRun* pRun = CHostRun::FromFilterContext(pfc, "AllocMem");
    return pRun ? pRun->AllocMem(cbSize) : nullptr;
}

DWORD HostSendResponse(CDLLContext* pContext, const char* pszResponse, DWORD* pcbResponse,
                       CCoreServices* pCoreServices) {
    CHostRun* pRun = CHostRun::FromCoreServices(pContext, pCoreServices, "SendResponse");
    return pRun ? pRun->SendResponse(pContext, pszResponse, pcbResponse) : ERROR_INVALID_PARAMETER;
}

DWORD HostSubmitBufferCommands(CDLLContext* pContext, CBufferInstructionList* pInstructions) {
    CHostRun* pRun = CHostRun::FromCoreServices(pContext, nullptr, "SubmitBufferCommands");
    return pRun ? pRun->SubmitBufferCommands(pContext, pInstructions) : ERROR_INVALID_PARAMETER;
}

// ---------------------------------------------------------------------------------------------------------

CHostRun* CHostRun::FromFilterContext(HTTP_FILTER_CONTEXT* pfc, const char* pszCallback) {
    // The run this thread is in answers first, without trusting anything the handle points to.
    if (t_pCurrentRun && pfc == &t_pCurrentRun->m_filterContext)
        return t_pCurrentRun;
    CHostRun* pRun = pfc ? static_cast<CHostRun*>(pfc->ServerContext) : nullptr;
    if (pRun && pRun->m_dwMagic == HOST_RUN_MAGIC && pfc == &pRun->m_filterContext)
        return pRun;
    if (t_pCurrentRun)
        t_pCurrentRun->Anomaly(std::string(pszCallback) + " was called with " +
                               (pfc ? "a filter context this host did not give (" + AddressText(pfc) + ")"
                                    : std::string("a null filter context")));
    return nullptr;
}

CHostRun* CHostRun::FromCoreServices(CDLLContext* pContext, CCoreServices* pCoreServices,
                                     const char* pszCallback) {
    CCoreServices* pTable = pCoreServices ? pCoreServices : (pContext ? pContext->m_pCoreServices : nullptr);
    CHostRun* pRun = nullptr;
    if (t_pCurrentRun && pTable == &t_pCurrentRun->m_coreServices)
        pRun = t_pCurrentRun;
    else if (pTable && pTable->m_pSlot0 &&
             static_cast<CHostRun*>(pTable->m_pSlot0)->m_dwMagic == HOST_RUN_MAGIC)
        pRun = static_cast<CHostRun*>(pTable->m_pSlot0);
    if (pRun && pTable == &pRun->m_coreServices && pContext == &pRun->m_context)
        return pRun;
    if (t_pCurrentRun)
        t_pCurrentRun->Anomaly(std::string(pszCallback) + " was called with " +
                               (pContext ? std::string("a record or callback table this host did not give")
                                         : std::string("a null CDLLContext")));
    return nullptr;
}

CHostNotificationRecord& CHostRun::Current() {
    if (!m_bInNotification || m_nCurrent >= m_record.m_vNotifications.size())
        return m_outside;
    return m_record.m_vNotifications[m_nCurrent];
}

const std::string* CHostRun::FindHeader(const std::string& csName) const {
    if (EqualsCaseless(csName, "url"))
        return &m_csUrl;
    if (EqualsCaseless(csName, "method"))
        return &m_csMethod;
    static const std::string s_csVersion = "HTTP/1.1";
    if (EqualsCaseless(csName, "version"))
        return &s_csVersion;
    for (const auto& [csHeader, csValue] : m_vHeaders)
        if (EqualsCaseless(csHeader, csName))
            return &csValue;
    return nullptr;
}

// The two-call buffer protocol: a call without room fails with 122 and reports the size needed (with the
// terminating zero); an absent value fails with 1413 and size 0; an empty value fits any buffer.
BOOL CHostRun::AnswerRead(CHostRead read, EHostCallback eCallback, const std::string* pValue,
                          LPVOID lpvBuffer, LPDWORD lpdwSize) {
    read.m_bWithBuffer = lpvBuffer && *lpdwSize > 0;
    const CHostReadFailure* pFailure = m_request.FindReadFailure(eCallback, read.m_csName);
    BOOL bResult = FALSE;
    DWORD dwError = ERROR_SUCCESS;
    if (pFailure && (!pFailure->m_bSecondCallOnly || read.m_bWithBuffer)) {
        *lpdwSize = pFailure->m_dwReportedSize;
        dwError = pFailure->m_dwLastError;
    } else if (!pValue) {
        *lpdwSize = 0;
        dwError = ERROR_INVALID_INDEX;
    } else if (pValue->empty()) {
        if (read.m_bWithBuffer)
            static_cast<char*>(lpvBuffer)[0] = '\0';
        *lpdwSize = read.m_bWithBuffer ? 1 : 0;
        bResult = TRUE;
    } else {
        DWORD cbNeeded = static_cast<DWORD>(pValue->size() + 1);
        if (!read.m_bWithBuffer || *lpdwSize < cbNeeded) {
            *lpdwSize = cbNeeded;
            dwError = ERROR_INSUFFICIENT_BUFFER;
        } else {
            std::memcpy(lpvBuffer, pValue->c_str(), cbNeeded);
            *lpdwSize = cbNeeded;
            bResult = TRUE;
        }
    }
    read.m_bResult = bResult != FALSE;
    read.m_dwLastError = dwError;
    read.m_dwSize = *lpdwSize;
    Current().m_vReads.push_back(std::move(read));
    // Last: recording may allocate, and the module reads the error right after the call.
    return bResult ? TRUE : Fail(dwError);
}

BOOL CHostRun::GetHeader(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    ThrowIfAsked(EHostCallback::GetHeader);
    if (!lpszName || !lpdwSize) {
        Anomaly("GetHeader was called without a name or size pointer");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    CHostRead read;
    read.m_csCallback = "GetHeader";
    read.m_csName = lpszName;
    return AnswerRead(std::move(read), EHostCallback::GetHeader, FindHeader(WithoutTrailingColon(lpszName)),
                      lpvBuffer, lpdwSize);
}

BOOL CHostRun::GetServerVariable(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    ThrowIfAsked(EHostCallback::GetServerVariable);
    if (!lpszName || !lpdwSize) {
        Anomaly("GetServerVariable was called without a name or size pointer");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    CHostRead read;
    read.m_csCallback = "GetServerVariable";
    read.m_csName = lpszName;
    auto it = m_mapServerVariables.find(read.m_csName);
    const std::string* pValue = it == m_mapServerVariables.end() ? nullptr : &it->second;
    return AnswerRead(std::move(read), EHostCallback::GetServerVariable, pValue, lpvBuffer, lpdwSize);
}

BOOL CHostRun::SetHeader(LPSTR lpszName, LPSTR lpszValue) {
    ThrowIfAsked(EHostCallback::SetHeader);
    if (!lpszName || !lpszValue) {
        Anomaly("SetHeader was called without a name or value");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    bool bResult = !m_request.FailsSetHeader();
    Current().m_vHeadersSet.push_back({lpszName, lpszValue, bResult});
    if (!bResult)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!ChangesRequestHeaders())
        return TRUE;
    // During the request notifications the change applies to what later reads see; an empty value removes.
    std::string csName = WithoutTrailingColon(lpszName);
    if (EqualsCaseless(csName, "url")) {
        m_csUrl = lpszValue;
        return TRUE;
    }
    if (EqualsCaseless(csName, "method")) {
        m_csMethod = lpszValue;
        return TRUE;
    }
    bool bReplaced = false;
    for (auto it = m_vHeaders.begin(); it != m_vHeaders.end();) {
        if (!EqualsCaseless(it->first, csName)) {
            ++it;
        } else if (!bReplaced && *lpszValue) {
            it->second = lpszValue;
            bReplaced = true;
            ++it;
        } else {
            it = m_vHeaders.erase(it);
        }
    }
    if (!bReplaced && *lpszValue)
        m_vHeaders.emplace_back(csName, lpszValue);
    return TRUE;
}

BOOL CHostRun::AddHeader(LPSTR lpszName, LPSTR lpszValue) {
    ThrowIfAsked(EHostCallback::AddHeader);
    if (!lpszName || !lpszValue) {
        Anomaly("AddHeader was called without a name or value");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    bool bResult = !m_request.HasAddHeaderLimit() || m_nAddHeaderCalls < m_request.GetAddHeaderLimit();
    ++m_nAddHeaderCalls;
    Current().m_vHeadersAdded.push_back({lpszName, lpszValue, bResult});
    if (!bResult)
        return Fail(ERROR_INVALID_PARAMETER);
    if (ChangesRequestHeaders())
        m_vHeaders.emplace_back(WithoutTrailingColon(lpszName), lpszValue);
    return TRUE;
}

BOOL CHostRun::ServerSupportFunction(SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1) {
    ThrowIfAsked(EHostCallback::ServerSupportFunction);
    CHostSupportCall call;
    call.m_dwRequest = static_cast<DWORD>(sfReq);
    if (sfReq == SF_REQ_SEND_RESPONSE_HEADER) {
        // Null status means "200 OK" to IIS; the header block is optional.
        call.m_csStatus = pData ? static_cast<const char*>(pData) : "";
        call.m_csHeaders = ul1 ? reinterpret_cast<const char*>(ul1) : "";
        call.m_bResult = true;
    }
    Current().m_vSupportCalls.push_back(call);
    return call.m_bResult ? TRUE : Fail(ERROR_NOT_SUPPORTED);
}

void* CHostRun::AllocMem(DWORD cbSize) {
    // Freed with the request, as IIS frees filter allocations at the end of the connection's request.
    m_vAllocations.push_back(std::make_unique<char[]>(cbSize ? cbSize : 1));
    return m_vAllocations.back().get();
}

DWORD CHostRun::SendResponse(CDLLContext*, const char* pszResponse, DWORD* pcbResponse) {
    ThrowIfAsked(EHostCallback::SendResponse);
    CHostResponse response;
    if (!pszResponse) {
        Anomaly("SendResponse was called without a response text");
        Current().m_vResponses.push_back(response);
        return ERROR_INVALID_PARAMETER;
    }
    size_t cbText = std::strlen(pszResponse);
    response.m_bByteCountGiven = pcbResponse != nullptr;
    response.m_dwByteCount = pcbResponse ? *pcbResponse : 0;
    // The count is the module's claim; never read past the text's end on its word.
    if (pcbResponse && *pcbResponse != cbText)
        Anomaly("SendResponse was given a byte count of " + std::to_string(*pcbResponse) + " for a text of " +
                std::to_string(cbText) + " bytes");
    size_t cbTake = pcbResponse && *pcbResponse < cbText ? *pcbResponse : cbText;
    response.m_csText.assign(pszResponse, cbTake);
    Current().m_vResponses.push_back(std::move(response));
    return ERROR_SUCCESS;
}

DWORD CHostRun::SubmitBufferCommands(CDLLContext* pContext, CBufferInstructionList* pInstructions) {
    ThrowIfAsked(EHostCallback::SubmitBufferCommands);
    CHostBufferSubmission submission;
    submission.m_uInstructions = reinterpret_cast<uintptr_t>(pInstructions);
    if (pInstructions)
        ReadSubmission(*pInstructions, submission);
    submission.m_dwResult = m_fnBufferCommands ? m_fnBufferCommands(pContext, pInstructions) : ERROR_SUCCESS;
    Current().m_vBufferSubmissions.push_back(submission);
    return submission.m_dwResult;
}

void CHostRun::ReadSubmission(const CBufferInstructionList& list, CHostBufferSubmission& submission) const {
    const uint64_t qwBegin = reinterpret_cast<uintptr_t>(m_csBody.data());
    for (const CBufferInstructionPtr& spInstruction : list.Instructions()) {
        CHostInstruction instruction;
        if (spInstruction) {
            instruction.m_nType = spInstruction->m_nType;
            instruction.m_qwOffset = spInstruction->m_qwPosition - qwBegin;
            instruction.m_csText = spInstruction->m_pData ? spInstruction->m_pData : "";
            instruction.m_dwLength = spInstruction->m_dwLength;
        }
        submission.m_vInstructions.push_back(std::move(instruction));
    }
    submission.m_bApplied = ApplyBufferInstructions(m_csBody, qwBegin, list, submission.m_csEditedData,
                                                    submission.m_csApplyError);
}

void CHostRun::DeliverBody() {
    CHostDeliveredBody& body = m_record.m_body;
    body = CHostDeliveredBody();
    if (!m_request.HasResponseBody())
        return;
    body.m_bPresent = true;
    body.m_cbOriginal = m_csBody.size();
    body.m_csBytes = m_csBody;
    // Every submission points into the page as the host received it; the last one accepted is what goes out.
    for (const CHostNotificationRecord& notification : m_record.m_vNotifications) {
        if (notification.m_dwCode != SF_NOTIFY_SEND_RAW_DATA)
            continue;
        for (const CHostBufferSubmission& submission : notification.m_vBufferSubmissions)
            if (submission.m_bApplied && submission.m_dwResult == ERROR_SUCCESS &&
                !submission.m_vInstructions.empty()) {
                body.m_csBytes = submission.m_csEditedData;
                body.m_bEdited = true;
            }
    }
}

void CHostRun::LocatePage() {
    m_commonPointers = CCommonPointers();
    if (m_csBody.empty())
        return;
    const char* pBegin = m_csBody.data();
    m_commonPointers.m_pDataBegin = pBegin;
    m_commonPointers.m_pDataLast = pBegin + m_csBody.size() - 1;
    m_commonPointers.m_pHtmlDataBegin = pBegin;
    // Where the core services find the page's main tags: the first of each, the last "</body".
    const CaselessStringView svBody(m_csBody.data(), m_csBody.size());
    auto at = [&](size_t nPos) { return nPos == CaselessStringView::npos ? nullptr : pBegin + nPos; };
    m_commonPointers.m_pHtmlStartTag = at(svBody.find("<html"));
    size_t nHead = svBody.find("<head");
    m_commonPointers.m_pHeadStartTag = at(nHead);
    m_commonPointers.m_pHeadEndTag = at(svBody.find("</head", nHead == CaselessStringView::npos ? 0 : nHead));
    m_commonPointers.m_pBodyStartTag = at(svBody.find("<body"));
    m_commonPointers.m_pBodyEndTag = at(svBody.rfind("</body"));
}

void CHostRun::SetUp() {
    m_vHeaders = m_request.BuildHeaders();
    m_csUrl = m_request.GetUrl();
    m_csMethod = m_request.GetMethod();
    m_mapServerVariables = m_request.BuildServerVariables();
    m_csBody = m_request.GetResponseBody();

    auto bWith = [this](EHostPart ePart) { return !m_request.IsWithout(ePart); };

    m_filterContext.cbSize = sizeof(HTTP_FILTER_CONTEXT);
    m_filterContext.Revision = HOST_FILTER_REVISION;
    m_filterContext.ServerContext = this;
    m_filterContext.fIsSecurePort = FALSE;
    m_filterContext.GetServerVariable =
        bWith(EHostPart::GetServerVariable) ? &HostGetServerVariable : nullptr;
    m_filterContext.AddResponseHeaders = &HostAddResponseHeaders;
    m_filterContext.WriteClient = &HostWriteClient;
    m_filterContext.AllocMem = &HostAllocMem;
    m_filterContext.ServerSupportFunction =
        bWith(EHostPart::ServerSupportFunction) ? &HostServerSupportFunction : nullptr;

    m_coreServices.m_pSlot0 = this;
    m_coreServices.SubmitBufferCommands =
        bWith(EHostPart::SubmitBufferCommands) ? &HostSubmitBufferCommands : nullptr;
    m_coreServices.SendResponse = bWith(EHostPart::SendResponse) ? &HostSendResponse : nullptr;

    m_context.m_pCoreServices = bWith(EHostPart::CoreServices) ? &m_coreServices : nullptr;
    if (bWith(EHostPart::OutboundContext))
        m_context.m_spOutboundContext = std::make_shared<COutboundContext>();
    if (bWith(EHostPart::RequestInfo))
        m_context.m_spRequestInfo = m_request.BuildRequestInfo();
    if (bWith(EHostPart::ExchangeURL))
        m_context.m_spExchangeURL = m_request.BuildExchangeURL();
    m_context.m_pFilterContext = bWith(EHostPart::FilterContext) ? &m_filterContext : nullptr;
    m_context.m_dwLinkCriteria = m_request.GetLinkCriteria();
    m_context.m_dwSubscriptionType = m_request.GetSubscriptionType();
    m_context.m_spRequestIdentity = m_request.GetIdentity();
}

void* CHostRun::PrepareNotification(DWORD dwCode, DWORD dwHttpStatus) {
    auto bWith = [this](EHostPart ePart) { return !m_request.IsWithout(ePart); };
    PFN_GET_HEADER pfnGetHeader = bWith(EHostPart::GetHeader) ? &HostGetHeader : nullptr;
    PFN_SET_HEADER pfnSetHeader = bWith(EHostPart::SetHeader) ? &HostSetHeader : nullptr;
    PFN_ADD_HEADER pfnAddHeader = bWith(EHostPart::AddHeader) ? &HostAddHeader : nullptr;

    switch (dwCode) {
    case SF_NOTIFY_PREPROC_HEADERS:
        m_preprocHeaders = {pfnGetHeader, pfnSetHeader, pfnAddHeader, 0, 0};
        return &m_preprocHeaders;
    case SF_NOTIFY_AUTH_COMPLETE:
        m_authComplete = {pfnGetHeader, pfnSetHeader, pfnAddHeader, nullptr, 0, FALSE, 0};
        return &m_authComplete;
    case SF_NOTIFY_SEND_RESPONSE:
        m_sendResponse = {pfnGetHeader, pfnSetHeader, pfnAddHeader, dwHttpStatus, 0};
        return &m_sendResponse;
    case SF_NOTIFY_SEND_RAW_DATA:
        m_rawData = {m_csBody.data(), static_cast<DWORD>(m_csBody.size()),
                     static_cast<DWORD>(m_csBody.size()), 0};
        LocatePage();
        if (m_context.m_spOutboundContext)
            m_context.m_spOutboundContext->m_pCommonPointers = m_csBody.empty() ? nullptr : &m_commonPointers;
        return &m_rawData;
    default:
        return nullptr;
    }
}

void CHostRun::BeginRecord(DWORD dwCode, DWORD dwHttpStatus) {
    CHostNotificationRecord record;
    record.m_csName = HostNotificationName(dwCode);
    record.m_dwCode = dwCode;
    record.m_dwHttpStatus = dwHttpStatus;
    m_record.m_vNotifications.push_back(std::move(record));
    m_nCurrent = m_record.m_vNotifications.size() - 1;
    m_dwCurrentCode = dwCode;
}

DWORD CHostRun::CallModule(bool& bException, std::string& csException) {
    CIdentityToken spPrevious;
    const bool bImpersonate = m_request.GetIdentity() != nullptr;
    if (bImpersonate) {
        CThreadIdentity::OpenThreadToken(spPrevious);
        CThreadIdentity::Impersonate(m_request.GetIdentity());
    }
    CHostRun* pPreviousRun = t_pCurrentRun;
    t_pCurrentRun = this;
    m_bInNotification = true;

    DWORD dwResult = 0;
    m_context.m_pdwThreadError = PlatformThreadErrorWord();
    try {
        dwResult = m_pfnHttpFilterProc(&m_context);
    } catch (const std::exception& e) {
        bException = true;
        csException = e.what();
    } catch (...) {
        bException = true;
        csException = "an exception that is not a std::exception";
    }

    m_bInNotification = false;
    t_pCurrentRun = pPreviousRun;
    if (bImpersonate)
        CThreadIdentity::SetThreadToken(spPrevious);
    return dwResult;
}

bool CHostRun::Send(DWORD dwCode, DWORD dwHttpStatus) {
    void* pNotification = PrepareNotification(dwCode, dwHttpStatus);
    if (m_context.m_spOutboundContext &&
        (dwCode == SF_NOTIFY_SEND_RESPONSE || dwCode == SF_NOTIFY_SEND_RAW_DATA))
        m_context.m_spOutboundContext->m_dwHttpStatus = dwHttpStatus;
    m_context.m_dwNotificationType = dwCode;
    m_context.m_pNotification = pNotification;
    BeginRecord(dwCode, dwHttpStatus);

    bool bException = false;
    std::string csException;
    const DWORD dwResult = CallModule(bException, csException);

    CHostNotificationRecord& done = m_record.m_vNotifications[m_nCurrent];
    done.m_dwResult = dwResult;
    done.m_bException = bException;
    done.m_csException = csException;
    done.m_dwControlMessage = m_context.m_dwControlMessage;
    done.m_dwClientFlags = m_context.m_dwClientFlags;
    done.m_dwCriteria = m_context.m_dwCriteria;
    done.m_bWorkerContext = m_context.m_pMyOwnContext != nullptr;
    if (bException)
        Anomaly("an exception left HttpFilterProc during " + done.m_csName + ": " + csException);
    return !bException && done.m_dwControlMessage != CM_IGNORE && done.m_dwControlMessage != CM_COMPLETED;
}

void CHostRun::Execute() {
    SetUp();
    bool bFollowing = true;
    std::string csReason;
    auto Skip = [this](DWORD dwCode, const std::string& csWhy) {
        m_record.m_vSkipped.push_back({HostNotificationName(dwCode), dwCode, csWhy});
    };
    auto Stop = [&](const CHostNotificationRecord& last) {
        bFollowing = false;
        csReason = last.m_bException
                       ? "an exception left " + last.m_csName
                       : "control message " + std::to_string(last.m_dwControlMessage) + " (" +
                             ControlMessageWord(last.m_dwControlMessage) + ") after " + last.m_csName;
    };

    for (DWORD dwCode : HOST_NOTIFICATION_ORDER) {
        if (dwCode == SF_NOTIFY_END_OF_REQUEST) {
            Send(dwCode, m_request.GetResponseStatus());
            continue;
        }
        if (!bFollowing) {
            Skip(dwCode, csReason);
            continue;
        }
        if (dwCode == SF_NOTIFY_SEND_RAW_DATA && !m_request.HasResponseBody()) {
            Skip(dwCode, "no response body");
            continue;
        }
        if (dwCode == SF_NOTIFY_SEND_RESPONSE) {
            std::vector<DWORD> vStatuses = m_request.GetInterimStatuses();
            vStatuses.push_back(m_request.GetResponseStatus());
            for (DWORD dwStatus : vStatuses)
                if (!Send(dwCode, dwStatus)) {
                    Stop(m_record.m_vNotifications.back());
                    break;
                }
            continue;
        }
        DWORD dwStatus = dwCode == SF_NOTIFY_SEND_RAW_DATA ? m_request.GetResponseStatus() : 0;
        if (!Send(dwCode, dwStatus))
            Stop(m_record.m_vNotifications.back());
    }

    DeliverBody();
    if (m_context.m_pMyOwnContext)
        Anomaly("a worker context (" + AddressText(m_context.m_pMyOwnContext) +
                ") is still attached after END_OF_REQUEST; the host cannot free it");
    if (!m_outside.m_vReads.empty() || !m_outside.m_vHeadersAdded.empty() ||
        !m_outside.m_vHeadersSet.empty() || !m_outside.m_vResponses.empty() ||
        !m_outside.m_vBufferSubmissions.empty() || !m_outside.m_vSupportCalls.empty())
        Anomaly("the module called the host outside a notification");
}

std::string ThrownText(const std::exception_ptr& pException) {
    try {
        std::rethrow_exception(pException);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

} // namespace

BOOL CHostSession::GetFilterVersion() {
    m_version = CFilterVersionRecord();
    if (!m_entryPoints.pfnGetFilterVersion)
        return FALSE;
    HTTP_FILTER_VERSION version;
    std::memset(&version, 0, sizeof(version));
    version.dwServerFilterVersion = HOST_SERVER_FILTER_VERSION;
    m_version.m_bCalled = true;
    try {
        m_version.m_bResult = m_entryPoints.pfnGetFilterVersion(&version);
    } catch (...) {
        m_version.m_bException = true;
        m_version.m_csException = ThrownText(std::current_exception());
        m_version.m_bResult = FALSE;
    }
    m_version.m_dwServerFilterVersion = version.dwServerFilterVersion;
    m_version.m_dwFilterVersion = version.dwFilterVersion;
    m_version.m_dwFlags = version.dwFlags;
    const void* pEnd = std::memchr(version.lpszFilterDesc, '\0', sizeof(version.lpszFilterDesc));
    m_version.m_bDescriptionTerminated = pEnd != nullptr;
    size_t cbDescription = pEnd ? static_cast<size_t>(static_cast<const char*>(pEnd) - version.lpszFilterDesc)
                                : sizeof(version.lpszFilterDesc);
    m_version.m_csDescription.assign(version.lpszFilterDesc, cbDescription);
    return m_version.m_bResult;
}

CHostRunRecord CHostSession::Run(const CHostRequest& request) const {
    CHostRunRecord record;
    if (!m_entryPoints.pfnHttpFilterProc) {
        record.m_vAnomalies.push_back("the module has no HttpFilterProc; no notification was sent");
        return record;
    }
    auto spRun =
        std::make_unique<CHostRun>(request, m_fnBufferCommands, m_entryPoints.pfnHttpFilterProc, record);
    spRun->Execute();
    return record;
}

BOOL CHostSession::TerminateFilter(DWORD dwFlags) {
    m_terminate = CTerminateRecord();
    if (!m_entryPoints.pfnTerminateFilter)
        return FALSE;
    m_terminate.m_bCalled = true;
    try {
        m_terminate.m_bResult = m_entryPoints.pfnTerminateFilter(dwFlags);
    } catch (...) {
        m_terminate.m_bException = true;
        m_terminate.m_csException = ThrownText(std::current_exception());
        m_terminate.m_bResult = FALSE;
    }
    return m_terminate.m_bResult;
}
