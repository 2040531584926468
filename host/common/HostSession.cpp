#include "host/common/HostSession.h"

#include "host/common/BufferApply.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

std::string AddressText(const void* p) {
    char szText[32];
    std::snprintf(szText, sizeof(szText), "%p", p);
    return szText;
}

bool ChangesRequestHeaders(DWORD dwCode) {
    return dwCode == SF_NOTIFY_PREPROC_HEADERS || dwCode == SF_NOTIFY_AUTH_COMPLETE;
}

// One request through the driver in the host's fixed order: the request's in-memory headers, server
// variables and page as the site, every call recorded, and the request's configured faults injected.
class CHostRun : public IHostRequestSite, public IDriverObserver {
public:
    CHostRun(const CHostRequest& request, const FN_BUFFER_COMMANDS& fnBufferCommands,
             PFN_HTTP_FILTER_PROC pfnHttpFilterProc, CHostRunRecord& record);
    CHostRun(const CHostRun&) = delete;
    CHostRun& operator=(const CHostRun&) = delete;

    void Execute();

    // IHostRequestSite
    CSiteValue GetHeader(DWORD dwCode, std::string_view svName, bool bWithBuffer) override;
    DWORD SetHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) override;
    DWORD AddHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) override;
    CSiteValue GetServerVariable(std::string_view svName, bool bWithBuffer) override;
    DWORD SendResponseHeader(std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    DWORD SendResponse(std::string_view) override { return ERROR_SUCCESS; }
    DWORD SubmitBufferCommands(const CBufferInstructionList* pInstructions) override;
    void* AllocMem(DWORD cbSize) override;

    // IDriverObserver
    void OnNotificationBegin(DWORD dwCode, DWORD dwHttpStatus) override;
    void OnNotificationEnd(const CNotificationOutcome& outcome) override;
    void OnCallback(EHostCallback eCallback) override {
        if (m_request.Throws(eCallback))
            throw CHostCallbackException(HostCallbackName(eCallback));
    }
    void OnRead(EHostCallback eCallback, const char* pszName, bool bWithBuffer, bool bResult,
                DWORD dwLastError, DWORD dwSize) override {
        Current().m_vReads.push_back(
            {HostCallbackName(eCallback), pszName, bWithBuffer, bResult, dwLastError, dwSize});
    }
    void OnHeaderChange(EHostCallback eCallback, const char* pszName, const char* pszValue,
                        bool bResult) override {
        auto& vHeaders =
            eCallback == EHostCallback::SetHeader ? Current().m_vHeadersSet : Current().m_vHeadersAdded;
        vHeaders.push_back({pszName, pszValue, bResult});
    }
    void OnSupportCall(DWORD dwRequest, std::string_view svStatus, std::string_view svHeaders,
                       bool bResult) override {
        Current().m_vSupportCalls.push_back(
            {dwRequest, std::string(svStatus), std::string(svHeaders), bResult});
    }
    void OnResponse(std::string_view svText, bool bCountGiven, DWORD dwCount) override {
        Current().m_vResponses.push_back({std::string(svText), dwCount, bCountGiven});
    }
    void OnAnomaly(const std::string& csText) override { m_record.m_vAnomalies.push_back(csText); }

private:
    void ReadSubmission(const CBufferInstructionList& list, CHostBufferSubmission& submission) const;
    // What the browser receives: the page, or the page with the accepted edits.
    void DeliverBody();
    void Skip(DWORD dwCode, const std::string& csWhy) {
        m_record.m_vSkipped.push_back({HostNotificationName(dwCode), dwCode, csWhy});
    }
    void SendResponses();
    void CheckLeftovers();
    CHostNotificationRecord& Current();
    CSiteValue Read(EHostCallback eCallback, std::string_view svName, bool bWithBuffer,
                    const std::string* pValue) const;
    const std::string* FindHeader(std::string_view svName) const;

    const CHostRequest& m_request;
    const FN_BUFFER_COMMANDS& m_fnBufferCommands;
    CHostRunRecord& m_record;

    size_t m_nCurrent = 0;
    bool m_bInNotification = false;
    CHostNotificationRecord m_outside; // collects callbacks made outside any notification

    // The request headers as the module can read and change them.
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::string m_csUrl;
    std::string m_csMethod;
    std::map<std::string, std::string, CCaselessLess> m_mapServerVariables;
    size_t m_nAddHeaderCalls = 0;
    std::vector<std::unique_ptr<char[]>> m_vAllocations;
    std::string m_csBody; // what SEND_RAW_DATA hands over: the header block, if any, then the body
    size_t m_cbHeaderBlock = 0;
    CNotificationDriver m_driver; // last: it calls back into the members above
};

CDriverSetup SetupOf(const CHostRequest& request) {
    CDriverSetup setup;
    setup.m_dwLinkCriteria = request.GetLinkCriteria();
    setup.m_dwSubscriptionType = request.GetSubscriptionType();
    setup.m_spIdentity = request.GetIdentity();
    setup.m_spRequestInfo = request.BuildRequestInfo();
    setup.m_spExchangeURL = request.BuildExchangeURL();
    for (unsigned uPart = 0; uPart <= static_cast<unsigned>(EHostPart::SubmitBufferCommands); ++uPart)
        if (request.IsWithout(static_cast<EHostPart>(uPart)))
            setup.Without(static_cast<EHostPart>(uPart));
    return setup;
}

CHostRun::CHostRun(const CHostRequest& request, const FN_BUFFER_COMMANDS& fnBufferCommands,
                   PFN_HTTP_FILTER_PROC pfnHttpFilterProc, CHostRunRecord& record)
    : m_request(request), m_fnBufferCommands(fnBufferCommands), m_record(record),
      m_vHeaders(request.BuildHeaders()), m_csUrl(request.GetUrl()), m_csMethod(request.GetMethod()),
      m_mapServerVariables(request.BuildServerVariables()),
      m_csBody(request.GetResponseHeaderBlock() + request.GetResponseBody()),
      m_cbHeaderBlock(request.GetResponseHeaderBlock().size()),
      m_driver(pfnHttpFilterProc, *this, SetupOf(request), this) {}

CHostNotificationRecord& CHostRun::Current() {
    if (!m_bInNotification || m_nCurrent >= m_record.m_vNotifications.size())
        return m_outside;
    return m_record.m_vNotifications[m_nCurrent];
}

void CHostRun::OnNotificationBegin(DWORD dwCode, DWORD dwHttpStatus) {
    CHostNotificationRecord record;
    record.m_csName = HostNotificationName(dwCode);
    record.m_dwCode = dwCode;
    record.m_dwHttpStatus = dwHttpStatus;
    m_record.m_vNotifications.push_back(std::move(record));
    m_nCurrent = m_record.m_vNotifications.size() - 1;
    m_bInNotification = true;
}

void CHostRun::OnNotificationEnd(const CNotificationOutcome& outcome) {
    m_bInNotification = false;
    CHostNotificationRecord& done = m_record.m_vNotifications[m_nCurrent];
    done.m_dwResult = outcome.m_dwResult;
    done.m_bException = outcome.m_bException;
    done.m_csException = outcome.m_csException;
    done.m_dwControlMessage = outcome.m_dwControlMessage;
    done.m_dwClientFlags = outcome.m_dwClientFlags;
    done.m_dwCriteria = outcome.m_dwCriteria;
    done.m_bWorkerContext = outcome.m_bWorkerContext;
}

const std::string* CHostRun::FindHeader(std::string_view svName) const {
    if (EqualsCaseless(svName, "url"))
        return &m_csUrl;
    if (EqualsCaseless(svName, "method"))
        return &m_csMethod;
    static const std::string s_csVersion = "HTTP/1.1";
    if (EqualsCaseless(svName, "version"))
        return &s_csVersion;
    for (const auto& [csHeader, csValue] : m_vHeaders)
        if (EqualsCaseless(csHeader, svName))
            return &csValue;
    return nullptr;
}

CSiteValue CHostRun::Read(EHostCallback eCallback, std::string_view svName, bool bWithBuffer,
                          const std::string* pValue) const {
    const CHostReadFailure* pFailure = m_request.FindReadFailure(eCallback, std::string(svName));
    if (pFailure && (!pFailure->m_bSecondCallOnly || bWithBuffer))
        return CSiteValue::Failure(pFailure->m_dwLastError, pFailure->m_dwReportedSize);
    return pValue ? CSiteValue::Of(*pValue) : CSiteValue::Absent();
}

CSiteValue CHostRun::GetHeader(DWORD, std::string_view svName, bool bWithBuffer) {
    return Read(EHostCallback::GetHeader, svName, bWithBuffer, FindHeader(svName));
}

CSiteValue CHostRun::GetServerVariable(std::string_view svName, bool bWithBuffer) {
    auto it = m_mapServerVariables.find(std::string(svName));
    return Read(EHostCallback::GetServerVariable, svName, bWithBuffer,
                it == m_mapServerVariables.end() ? nullptr : &it->second);
}

DWORD CHostRun::SetHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) {
    if (m_request.FailsSetHeader())
        return ERROR_INVALID_PARAMETER;
    if (!ChangesRequestHeaders(dwCode))
        return ERROR_SUCCESS;
    // During the request notifications the change applies to what later reads see; an empty value removes.
    if (EqualsCaseless(svName, "url")) {
        m_csUrl = svValue;
        return ERROR_SUCCESS;
    }
    if (EqualsCaseless(svName, "method")) {
        m_csMethod = svValue;
        return ERROR_SUCCESS;
    }
    bool bReplaced = false;
    for (auto it = m_vHeaders.begin(); it != m_vHeaders.end();) {
        if (!EqualsCaseless(it->first, svName)) {
            ++it;
        } else if (!bReplaced && !svValue.empty()) {
            it->second = svValue;
            bReplaced = true;
            ++it;
        } else {
            it = m_vHeaders.erase(it);
        }
    }
    if (!bReplaced && !svValue.empty())
        m_vHeaders.emplace_back(svName, svValue);
    return ERROR_SUCCESS;
}

DWORD CHostRun::AddHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) {
    const bool bResult = !m_request.HasAddHeaderLimit() || m_nAddHeaderCalls < m_request.GetAddHeaderLimit();
    ++m_nAddHeaderCalls;
    if (!bResult)
        return ERROR_INVALID_PARAMETER;
    if (ChangesRequestHeaders(dwCode))
        m_vHeaders.emplace_back(svName, svValue);
    return ERROR_SUCCESS;
}

void* CHostRun::AllocMem(DWORD cbSize) {
    // Freed with the request, as IIS frees filter allocations at the end of the connection's request.
    m_vAllocations.push_back(std::make_unique<char[]>(cbSize ? cbSize : 1));
    return m_vAllocations.back().get();
}

DWORD CHostRun::SubmitBufferCommands(const CBufferInstructionList* pInstructions) {
    CHostBufferSubmission submission;
    submission.m_uInstructions = reinterpret_cast<uintptr_t>(pInstructions);
    if (pInstructions)
        ReadSubmission(*pInstructions, submission);
    auto* pList = const_cast<CBufferInstructionList*>(pInstructions);
    submission.m_dwResult =
        m_fnBufferCommands ? m_fnBufferCommands(&m_driver.Context(), pList) : ERROR_SUCCESS;
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
    // The header block is the server's, not the page's: an edit there is refused, and the body alone goes
    // out.
    for (size_t i = 0; submission.m_bApplied && i < submission.m_vInstructions.size(); ++i)
        if (submission.m_vInstructions[i].m_qwOffset < m_cbHeaderBlock) {
            submission.m_bApplied = false;
            submission.m_csApplyError =
                "instruction " + std::to_string(i) + " lies in the response header block";
            submission.m_csEditedData.clear();
        }
    if (submission.m_bApplied)
        submission.m_csEditedData.erase(0, m_cbHeaderBlock);
}

void CHostRun::DeliverBody() {
    CHostDeliveredBody& body = m_record.m_body;
    body = CHostDeliveredBody();
    if (!m_request.HasResponseBody())
        return;
    body.m_bPresent = true;
    body.m_csBytes = m_request.GetResponseBody();
    body.m_cbOriginal = body.m_csBytes.size();
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

void CHostRun::SendResponses() {
    std::vector<DWORD> vStatuses = m_request.GetInterimStatuses();
    vStatuses.push_back(m_request.GetResponseStatus());
    for (DWORD dwStatus : vStatuses)
        if (!m_driver.Send(SF_NOTIFY_SEND_RESPONSE, dwStatus))
            break;
}

void CHostRun::Execute() {
    for (DWORD dwCode : HOST_NOTIFICATION_ORDER) {
        if (dwCode == SF_NOTIFY_END_OF_REQUEST)
            m_driver.EndOfRequest(m_request.GetResponseStatus());
        else if (!m_driver.Following())
            Skip(dwCode, m_driver.StopReason());
        else if (dwCode == SF_NOTIFY_SEND_RAW_DATA && !m_request.HasResponseBody())
            Skip(dwCode, "no response body");
        else if (dwCode == SF_NOTIFY_SEND_RESPONSE)
            SendResponses();
        else if (dwCode == SF_NOTIFY_SEND_RAW_DATA)
            m_driver.SendRawData(m_csBody, m_request.GetResponseStatus(), m_cbHeaderBlock);
        else
            m_driver.Send(dwCode, 0);
    }
    DeliverBody();
    CheckLeftovers();
}

void CHostRun::CheckLeftovers() {
    if (const void* pWorker = m_driver.Context().m_pMyOwnContext)
        OnAnomaly("a worker context (" + AddressText(pWorker) +
                  ") is still attached after END_OF_REQUEST; the host cannot free it");
    if (!m_outside.m_vReads.empty() || !m_outside.m_vHeadersAdded.empty() ||
        !m_outside.m_vHeadersSet.empty() || !m_outside.m_vResponses.empty() ||
        !m_outside.m_vBufferSubmissions.empty() || !m_outside.m_vSupportCalls.empty())
        OnAnomaly("the module called the host outside a notification");
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
