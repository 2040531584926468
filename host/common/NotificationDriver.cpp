#include "host/common/NotificationDriver.h"

#include <algorithm>

#include "host/common/HostRecord.h"

#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"
#include "text/CaselessString.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

constexpr DWORD DRIVER_MAGIC = 0x5748524E;
// HTTP_FILTER_CONTEXT::Revision as the host fills it.
constexpr DWORD HOST_FILTER_REVISION = 0x00060000;

// The driver whose notification this thread is in: lets a callback made with a null or foreign handle still
// be reported as an anomaly of the right request.
thread_local CNotificationDriver* t_pCurrentDriver = nullptr;

std::string_view WithoutTrailingColon(const char* pszName) {
    std::string_view svName = pszName;
    if (!svName.empty() && svName.back() == ':')
        svName.remove_suffix(1);
    return svName;
}

std::string AddressText(const void* p) {
    char szText[32];
    std::snprintf(szText, sizeof(szText), "%p", p);
    return szText;
}

// ---------------------------------------------------------------------------------------------------------
// The callbacks as the module calls them.

BOOL HostGetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "GetHeader");
    return pDriver ? pDriver->GetHeader(lpszName, lpvBuffer, lpdwSize)
                   : CNotificationDriver::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostSetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
    CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "SetHeader");
    return pDriver ? pDriver->SetHeader(lpszName, lpszValue)
                   : CNotificationDriver::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostAddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
    CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "AddHeader");
    return pDriver ? pDriver->AddHeader(lpszName, lpszValue)
                   : CNotificationDriver::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer,
                           LPDWORD lpdwSize) {
    CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "GetServerVariable");
    return pDriver ? pDriver->GetServerVariable(lpszVariableName, lpvBuffer, lpdwSize)
                   : CNotificationDriver::Fail(ERROR_INVALID_PARAMETER);
}

BOOL HostServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1,
                               ULONG_PTR) {
    CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "ServerSupportFunction");
    return pDriver ? pDriver->ServerSupportFunction(sfReq, pData, ul1)
                   : CNotificationDriver::Fail(ERROR_INVALID_PARAMETER);
}

// The module has no business writing to the client or adding raw header blocks; the calls are reported.
BOOL HostAddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR, DWORD) {
    if (CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "AddResponseHeaders"))
        pDriver->Anomaly("the module called AddResponseHeaders, which this host does not support");
    return CNotificationDriver::Fail(ERROR_NOT_SUPPORTED);
}

BOOL HostWriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID, LPDWORD, DWORD) {
    if (CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "WriteClient"))
        pDriver->Anomaly("the module called WriteClient, which this host does not support");
    return CNotificationDriver::Fail(ERROR_NOT_SUPPORTED);
}

void* HostAllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD) {
    CNotificationDriver* pDriver = CNotificationDriver::FromFilterContext(pfc, "AllocMem");
    return pDriver ? pDriver->AllocMem(cbSize) : nullptr;
}

DWORD HostSendResponse(CDLLContext* pContext, const char* pszResponse, DWORD* pcbResponse,
                       CCoreServices* pCoreServices) {
    CNotificationDriver* pDriver =
        CNotificationDriver::FromCoreServices(pContext, pCoreServices, "SendResponse");
    return pDriver ? pDriver->SendResponse(pszResponse, pcbResponse) : ERROR_INVALID_PARAMETER;
}

DWORD HostSubmitBufferCommands(CDLLContext* pContext, CBufferInstructionList* pInstructions) {
    CNotificationDriver* pDriver =
        CNotificationDriver::FromCoreServices(pContext, nullptr, "SubmitBufferCommands");
    return pDriver ? pDriver->SubmitBufferCommands(pInstructions) : ERROR_INVALID_PARAMETER;
}

} // namespace

const char* HostCallbackName(EHostCallback eCallback) {
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

CNotificationDriver::CNotificationDriver(PFN_HTTP_FILTER_PROC pfnHttpFilterProc, IHostRequestSite& site,
                                         const CDriverSetup& setup, IDriverObserver* pObserver)
    : m_dwMagic(DRIVER_MAGIC), m_pfnHttpFilterProc(pfnHttpFilterProc), m_site(site), m_pObserver(pObserver) {
    SetUp(setup);
}

BOOL CNotificationDriver::Fail(DWORD dwError) {
    PlatformSetLastError(dwError);
    return FALSE;
}

void CNotificationDriver::Anomaly(const std::string& csText) {
    if (m_pObserver)
        m_pObserver->OnAnomaly(csText);
}

CNotificationDriver* CNotificationDriver::FromFilterContext(HTTP_FILTER_CONTEXT* pfc,
                                                            const char* pszCallback) {
    // The driver this thread is in answers first, without trusting anything the handle points to.
    if (t_pCurrentDriver && pfc == &t_pCurrentDriver->m_filterContext)
        return t_pCurrentDriver;
    auto* pDriver = pfc ? static_cast<CNotificationDriver*>(pfc->ServerContext) : nullptr;
    if (pDriver && pDriver->m_dwMagic == DRIVER_MAGIC && pfc == &pDriver->m_filterContext)
        return pDriver;
    if (t_pCurrentDriver)
        t_pCurrentDriver->Anomaly(std::string(pszCallback) + " was called with " +
                                  (pfc ? "a filter context this host did not give (" + AddressText(pfc) + ")"
                                       : std::string("a null filter context")));
    return nullptr;
}

CNotificationDriver* CNotificationDriver::FromCoreServices(CDLLContext* pContext,
                                                           CCoreServices* pCoreServices,
                                                           const char* pszCallback) {
    CCoreServices* pTable = pCoreServices ? pCoreServices : (pContext ? pContext->m_pCoreServices : nullptr);
    CNotificationDriver* pDriver = nullptr;
    if (t_pCurrentDriver && pTable == &t_pCurrentDriver->m_coreServices)
        pDriver = t_pCurrentDriver;
    else if (pTable && pTable->m_pSlot0 &&
             static_cast<CNotificationDriver*>(pTable->m_pSlot0)->m_dwMagic == DRIVER_MAGIC)
        pDriver = static_cast<CNotificationDriver*>(pTable->m_pSlot0);
    if (pDriver && pTable == &pDriver->m_coreServices && pContext == &pDriver->m_context)
        return pDriver;
    if (t_pCurrentDriver)
        t_pCurrentDriver->Anomaly(std::string(pszCallback) + " was called with " +
                                  (pContext ? std::string("a record or callback table this host did not give")
                                            : std::string("a null CDLLContext")));
    return nullptr;
}

// The two-call buffer protocol: a call without room fails with 122 and reports the size needed (with the
// terminating zero); an absent value fails with 1413 and size 0; an empty value fits any buffer.
BOOL CNotificationDriver::AnswerRead(EHostCallback eCallback, LPSTR lpszName, const CSiteValue& value,
                                     bool bWithBuffer, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    BOOL bResult = FALSE;
    DWORD dwError = ERROR_SUCCESS;
    if (value.m_eRead == ESiteRead::Failed) {
        *lpdwSize = value.m_cbReported;
        dwError = value.m_dwError;
    } else if (value.m_eRead == ESiteRead::Absent) {
        *lpdwSize = 0;
        dwError = ERROR_INVALID_INDEX;
    } else if (value.m_csValue.empty()) {
        if (bWithBuffer)
            static_cast<char*>(lpvBuffer)[0] = '\0';
        *lpdwSize = bWithBuffer ? 1 : 0;
        bResult = TRUE;
    } else {
        const auto cbNeeded = static_cast<DWORD>(value.m_csValue.size() + 1);
        if (!bWithBuffer || *lpdwSize < cbNeeded) {
            *lpdwSize = cbNeeded;
            dwError = ERROR_INSUFFICIENT_BUFFER;
        } else {
            std::memcpy(lpvBuffer, value.m_csValue.c_str(), cbNeeded);
            *lpdwSize = cbNeeded;
            bResult = TRUE;
        }
    }
    if (m_pObserver)
        m_pObserver->OnRead(eCallback, lpszName, bWithBuffer, bResult != FALSE, dwError, *lpdwSize);
    // Last: observing may allocate, and the module reads the error right after the call.
    return bResult ? TRUE : Fail(dwError);
}

BOOL CNotificationDriver::GetHeader(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    Observe(EHostCallback::GetHeader);
    if (!lpszName || !lpdwSize) {
        Anomaly("GetHeader was called without a name or size pointer");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool bWithBuffer = lpvBuffer && *lpdwSize > 0;
    const CSiteValue value = m_site.GetHeader(m_dwCurrentCode, WithoutTrailingColon(lpszName), bWithBuffer);
    return AnswerRead(EHostCallback::GetHeader, lpszName, value, bWithBuffer, lpvBuffer, lpdwSize);
}

BOOL CNotificationDriver::GetServerVariable(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    Observe(EHostCallback::GetServerVariable);
    if (!lpszName || !lpdwSize) {
        Anomaly("GetServerVariable was called without a name or size pointer");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool bWithBuffer = lpvBuffer && *lpdwSize > 0;
    const CSiteValue value = m_site.GetServerVariable(lpszName, bWithBuffer);
    return AnswerRead(EHostCallback::GetServerVariable, lpszName, value, bWithBuffer, lpvBuffer, lpdwSize);
}

BOOL CNotificationDriver::SetHeader(LPSTR lpszName, LPSTR lpszValue) {
    Observe(EHostCallback::SetHeader);
    if (!lpszName || !lpszValue) {
        Anomaly("SetHeader was called without a name or value");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD dwError = m_site.SetHeader(m_dwCurrentCode, WithoutTrailingColon(lpszName), lpszValue);
    if (m_pObserver)
        m_pObserver->OnHeaderChange(EHostCallback::SetHeader, lpszName, lpszValue, dwError == ERROR_SUCCESS);
    return dwError == ERROR_SUCCESS ? TRUE : Fail(dwError);
}

BOOL CNotificationDriver::AddHeader(LPSTR lpszName, LPSTR lpszValue) {
    Observe(EHostCallback::AddHeader);
    if (!lpszName || !lpszValue) {
        Anomaly("AddHeader was called without a name or value");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD dwError = m_site.AddHeader(m_dwCurrentCode, WithoutTrailingColon(lpszName), lpszValue);
    if (m_pObserver)
        m_pObserver->OnHeaderChange(EHostCallback::AddHeader, lpszName, lpszValue, dwError == ERROR_SUCCESS);
    return dwError == ERROR_SUCCESS ? TRUE : Fail(dwError);
}

BOOL CNotificationDriver::ServerSupportFunction(SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1) {
    Observe(EHostCallback::ServerSupportFunction);
    if (sfReq != SF_REQ_SEND_RESPONSE_HEADER) {
        if (m_pObserver)
            m_pObserver->OnSupportCall(static_cast<DWORD>(sfReq), {}, {}, false);
        return Fail(ERROR_NOT_SUPPORTED);
    }
    // Null status means "200 OK" to IIS; the header block is optional.
    const std::string_view svStatus = pData ? static_cast<const char*>(pData) : "";
    const std::string_view svHeaders = ul1 ? reinterpret_cast<const char*>(ul1) : "";
    const DWORD dwError = m_site.SendResponseHeader(svStatus, svHeaders);
    if (m_pObserver)
        m_pObserver->OnSupportCall(static_cast<DWORD>(sfReq), svStatus, svHeaders, dwError == ERROR_SUCCESS);
    return dwError == ERROR_SUCCESS ? TRUE : Fail(dwError);
}

void* CNotificationDriver::AllocMem(DWORD cbSize) {
    return m_site.AllocMem(cbSize);
}

DWORD CNotificationDriver::SendResponse(const char* pszResponse, DWORD* pcbResponse) {
    Observe(EHostCallback::SendResponse);
    if (!pszResponse) {
        Anomaly("SendResponse was called without a response text");
        if (m_pObserver)
            m_pObserver->OnResponse({}, true, 0);
        return ERROR_INVALID_PARAMETER;
    }
    const size_t cbText = std::strlen(pszResponse);
    // The count is the module's claim; never read past the text's end on its word.
    if (pcbResponse && *pcbResponse != cbText)
        Anomaly("SendResponse was given a byte count of " + std::to_string(*pcbResponse) + " for a text of " +
                std::to_string(cbText) + " bytes");
    const size_t cbTake = pcbResponse && *pcbResponse < cbText ? *pcbResponse : cbText;
    const std::string_view svText(pszResponse, cbTake);
    if (m_pObserver)
        m_pObserver->OnResponse(svText, pcbResponse != nullptr, pcbResponse ? *pcbResponse : 0);
    return m_site.SendResponse(svText);
}

DWORD CNotificationDriver::SubmitBufferCommands(CBufferInstructionList* pInstructions) {
    Observe(EHostCallback::SubmitBufferCommands);
    return m_site.SubmitBufferCommands(pInstructions);
}

// ---------------------------------------------------------------------------------------------------------

void CNotificationDriver::SetUp(const CDriverSetup& setup) {
    m_spIdentity = setup.m_spIdentity;
    m_uWithout = setup.m_uWithout;

    m_filterContext.cbSize = sizeof(HTTP_FILTER_CONTEXT);
    m_filterContext.Revision = HOST_FILTER_REVISION;
    m_filterContext.ServerContext = this;
    m_filterContext.fIsSecurePort = FALSE;
    m_filterContext.GetServerVariable =
        setup.Has(EHostPart::GetServerVariable) ? &HostGetServerVariable : nullptr;
    m_filterContext.AddResponseHeaders = &HostAddResponseHeaders;
    m_filterContext.WriteClient = &HostWriteClient;
    m_filterContext.AllocMem = &HostAllocMem;
    m_filterContext.ServerSupportFunction =
        setup.Has(EHostPart::ServerSupportFunction) ? &HostServerSupportFunction : nullptr;

    m_coreServices.m_pSlot0 = this;
    m_coreServices.SubmitBufferCommands =
        setup.Has(EHostPart::SubmitBufferCommands) ? &HostSubmitBufferCommands : nullptr;
    m_coreServices.SendResponse = setup.Has(EHostPart::SendResponse) ? &HostSendResponse : nullptr;

    m_context.m_pCoreServices = setup.Has(EHostPart::CoreServices) ? &m_coreServices : nullptr;
    if (setup.Has(EHostPart::OutboundContext))
        m_context.m_spOutboundContext = std::make_shared<COutboundContext>();
    if (setup.Has(EHostPart::RequestInfo))
        m_context.m_spRequestInfo = setup.m_spRequestInfo;
    if (setup.Has(EHostPart::ExchangeURL))
        m_context.m_spExchangeURL = setup.m_spExchangeURL;
    m_context.m_pFilterContext = setup.Has(EHostPart::FilterContext) ? &m_filterContext : nullptr;
    m_context.m_dwLinkCriteria = setup.m_dwLinkCriteria;
    m_context.m_dwSubscriptionType = setup.m_dwSubscriptionType;
    m_context.m_spRequestIdentity = setup.m_spIdentity;
}

void CNotificationDriver::LocatePage(std::string_view svBlock, size_t cbHeaderBlock) {
    m_commonPointers = CCommonPointers();
    if (svBlock.empty())
        return;
    const char* pBegin = svBlock.data();
    cbHeaderBlock = std::min(cbHeaderBlock, svBlock.size());
    m_commonPointers.m_pDataBegin = pBegin;
    m_commonPointers.m_pDataLast = pBegin + svBlock.size() - 1;
    m_commonPointers.m_pHtmlDataBegin = pBegin + cbHeaderBlock;
    // Where the core services find the page's main tags, past the header block: the first of each, the last
    // "</body".
    const CaselessStringView svPage(svBlock.data() + cbHeaderBlock, svBlock.size() - cbHeaderBlock);
    const char* pPage = pBegin + cbHeaderBlock;
    auto at = [&](size_t nPos) { return nPos == CaselessStringView::npos ? nullptr : pPage + nPos; };
    m_commonPointers.m_pHtmlStartTag = at(svPage.find("<html"));
    const size_t nHead = svPage.find("<head");
    m_commonPointers.m_pHeadStartTag = at(nHead);
    m_commonPointers.m_pHeadEndTag = at(svPage.find("</head", nHead == CaselessStringView::npos ? 0 : nHead));
    m_commonPointers.m_pBodyStartTag = at(svPage.find("<body"));
    m_commonPointers.m_pBodyEndTag = at(svPage.rfind("</body"));
}

void* CNotificationDriver::PrepareNotification(DWORD dwCode, DWORD dwHttpStatus) {
    auto bWith = [this](EHostPart ePart) { return (m_uWithout & (1u << static_cast<unsigned>(ePart))) == 0; };
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
    default:
        return nullptr;
    }
}

DWORD CNotificationDriver::CallModule(bool& bException, std::string& csException) {
    CIdentityToken spPrevious;
    const bool bImpersonate = m_spIdentity != nullptr;
    if (bImpersonate) {
        CThreadIdentity::OpenThreadToken(spPrevious);
        CThreadIdentity::Impersonate(m_spIdentity);
    }
    CNotificationDriver* pPreviousDriver = t_pCurrentDriver;
    t_pCurrentDriver = this;
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
    t_pCurrentDriver = pPreviousDriver;
    if (bImpersonate)
        CThreadIdentity::SetThreadToken(spPrevious);
    return dwResult;
}

bool CNotificationDriver::Deliver(DWORD dwCode, DWORD dwHttpStatus, void* pNotification) {
    if (m_context.m_spOutboundContext &&
        (dwCode == SF_NOTIFY_SEND_RESPONSE || dwCode == SF_NOTIFY_SEND_RAW_DATA))
        m_context.m_spOutboundContext->m_dwHttpStatus = dwHttpStatus;
    m_context.m_dwNotificationType = dwCode;
    m_context.m_pNotification = pNotification;
    m_dwCurrentCode = dwCode;
    if (m_pObserver)
        m_pObserver->OnNotificationBegin(dwCode, dwHttpStatus);

    CNotificationOutcome outcome;
    outcome.m_dwCode = dwCode;
    outcome.m_dwHttpStatus = dwHttpStatus;
    outcome.m_dwResult = CallModule(outcome.m_bException, outcome.m_csException);
    outcome.m_dwControlMessage = m_context.m_dwControlMessage;
    outcome.m_dwClientFlags = m_context.m_dwClientFlags;
    outcome.m_dwCriteria = m_context.m_dwCriteria;
    outcome.m_bWorkerContext = m_context.m_pMyOwnContext != nullptr;
    m_last = outcome;
    if (m_pObserver)
        m_pObserver->OnNotificationEnd(outcome);
    if (outcome.m_bException)
        Anomaly("an exception left HttpFilterProc during " + HostNotificationName(dwCode) + ": " +
                outcome.m_csException);

    const bool bLetGo = outcome.m_bException || outcome.m_dwControlMessage == CM_IGNORE ||
                        outcome.m_dwControlMessage == CM_COMPLETED;
    if (bLetGo && m_bFollowing && dwCode != SF_NOTIFY_END_OF_REQUEST) {
        m_bFollowing = false;
        m_bStoppedByException = outcome.m_bException;
        m_dwStopCode = dwCode;
        m_dwStopControlMessage = outcome.m_dwControlMessage;
    }
    return !bLetGo;
}

std::string CNotificationDriver::StopReason() const {
    if (m_bFollowing)
        return std::string();
    if (m_bStoppedByException)
        return "an exception left " + HostNotificationName(m_dwStopCode);
    return "control message " + std::to_string(m_dwStopControlMessage) + " (" +
           ControlMessageWord(m_dwStopControlMessage) + ") after " + HostNotificationName(m_dwStopCode);
}

bool CNotificationDriver::Send(DWORD dwCode, DWORD dwHttpStatus) {
    if (dwCode == SF_NOTIFY_END_OF_REQUEST) {
        EndOfRequest(dwHttpStatus);
        return m_bFollowing;
    }
    if (!m_bFollowing)
        return false;
    return Deliver(dwCode, dwHttpStatus, PrepareNotification(dwCode, dwHttpStatus));
}

bool CNotificationDriver::SendRawData(std::string_view svBlock, DWORD dwHttpStatus, size_t cbHeaderBlock) {
    if (!m_bFollowing)
        return false;
    const auto cbBlock = static_cast<DWORD>(svBlock.size());
    m_rawData = {const_cast<char*>(svBlock.data()), cbBlock, cbBlock, 0};
    LocatePage(svBlock, cbHeaderBlock);
    if (m_context.m_spOutboundContext)
        m_context.m_spOutboundContext->m_pCommonPointers = svBlock.empty() ? nullptr : &m_commonPointers;
    return Deliver(SF_NOTIFY_SEND_RAW_DATA, dwHttpStatus, &m_rawData);
}

void CNotificationDriver::EndOfRequest(DWORD dwHttpStatus) {
    Deliver(SF_NOTIFY_END_OF_REQUEST, dwHttpStatus, nullptr);
}
