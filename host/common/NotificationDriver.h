// One request's side of the module's protocol: the per-request record, the filter context and callback
// table, the notification structures, and the raw callbacks the module makes through them. A host creates
// one driver per request over its IHostRequestSite and sends the notifications as its server reaches them,
// one at a time:
//
//     CNotificationDriver driver(pfnHttpFilterProc, site, setup);
//     if (driver.Send(SF_NOTIFY_PREPROC_HEADERS, 0)) ... later ... driver.Send(SF_NOTIFY_AUTH_COMPLETE, 0);
//     driver.Send(SF_NOTIFY_SEND_RESPONSE, 200); driver.SendRawData(page, 200); driver.EndOfRequest(200);
//
// After an exception or a control message Ignore or Completed the module has let go of the request: every
// later notification is refused (false, the module not called) except END_OF_REQUEST. The driver is not
// shared between threads, but drivers of different requests run side by side.
#pragma once

#include "abi/HostAbi.h"
#include "host/common/HostRequestSite.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Parts of the host's side of the contract that a request can leave out (null pointer or null slot).
enum class EHostPart {
    FilterContext,   // CDLLContext::m_pFilterContext
    CoreServices,    // CDLLContext::m_pCoreServices
    OutboundContext, // CDLLContext::m_spOutboundContext
    RequestInfo,     // CDLLContext::m_spRequestInfo
    ExchangeURL,     // CDLLContext::m_spExchangeURL
    GetHeader,       // the callbacks of the notification structures
    SetHeader,
    AddHeader,
    GetServerVariable, // the callbacks of the filter context
    ServerSupportFunction,
    SendResponse,         // core-services slot 8
    SubmitBufferCommands, // core-services slot 2
};

// The host callbacks a driver announces to its observer before serving them.
enum class EHostCallback {
    GetHeader,
    SetHeader,
    AddHeader,
    GetServerVariable,
    ServerSupportFunction,
    SendResponse,
    SubmitBufferCommands
};
const char* HostCallbackName(EHostCallback eCallback);

// What the request brings before its first notification.
struct CDriverSetup {
    DWORD m_dwLinkCriteria = 0;
    DWORD m_dwSubscriptionType = 0;
    // The request's user (null: anonymous); every notification runs under it.
    std::shared_ptr<const CRequestIdentity> m_spIdentity;
    std::shared_ptr<CRequestInfo> m_spRequestInfo;
    std::shared_ptr<CExchangeURL> m_spExchangeURL;
    // Bit (1 << EHostPart) set: that part is left out.
    uint32_t m_uWithout = 0;

    CDriverSetup& Without(EHostPart ePart) {
        m_uWithout |= 1u << static_cast<unsigned>(ePart);
        return *this;
    }
    bool Has(EHostPart ePart) const { return (m_uWithout & (1u << static_cast<unsigned>(ePart))) == 0; }
};

// How one notification ended.
struct CNotificationOutcome {
    DWORD m_dwCode = 0;
    DWORD m_dwHttpStatus = 0;
    DWORD m_dwResult = 0;
    DWORD m_dwControlMessage = CM_NONE;
    DWORD m_dwClientFlags = 0;
    DWORD m_dwCriteria = 0;
    bool m_bWorkerContext = false; // the module's context was attached when it returned
    bool m_bException = false;     // an exception left HttpFilterProc (caught by the driver)
    std::string m_csException;
};

// Everything a recording host wants to see, with the outcome of each callback. Every method has an empty
// default. OnCallback comes first in a callback and may throw: a host that tests the module's handling of
// a failing server does so there.
class IDriverObserver {
public:
    virtual ~IDriverObserver() = default;
    virtual void OnNotificationBegin(DWORD /*dwCode*/, DWORD /*dwHttpStatus*/) {}
    virtual void OnNotificationEnd(const CNotificationOutcome& /*outcome*/) {}
    virtual void OnCallback(EHostCallback /*eCallback*/) {}
    // A GetHeader or GetServerVariable call as answered: the name as written, whether a buffer came, the
    // result, the last error (0 on success) and the size reported back.
    virtual void OnRead(EHostCallback /*eCallback*/, const char* /*pszName*/, bool /*bWithBuffer*/,
                        bool /*bResult*/, DWORD /*dwLastError*/, DWORD /*dwSize*/) {}
    // A SetHeader or AddHeader call (name as written, maybe with its colon) and the site's answer.
    virtual void OnHeaderChange(EHostCallback /*eCallback*/, const char* /*pszName*/,
                                const char* /*pszValue*/, bool /*bResult*/) {}
    virtual void OnSupportCall(DWORD /*dwRequest*/, std::string_view /*svStatus*/,
                               std::string_view /*svHeaders*/, bool /*bResult*/) {}
    // A SendResponse call: the text taken (never past its zero), and the byte count the module claimed.
    virtual void OnResponse(std::string_view /*svText*/, bool /*bCountGiven*/, DWORD /*dwCount*/) {}
    // Something a well-behaved module never does, one sentence.
    virtual void OnAnomaly(const std::string& /*csText*/) {}
};

class CNotificationDriver {
public:
    CNotificationDriver(PFN_HTTP_FILTER_PROC pfnHttpFilterProc, IHostRequestSite& site,
                        const CDriverSetup& setup, IDriverObserver* pObserver = nullptr);
    CNotificationDriver(const CNotificationDriver&) = delete;
    CNotificationDriver& operator=(const CNotificationDriver&) = delete;

    // PREPROC_HEADERS, AUTH_COMPLETE, SEND_RESPONSE (once per status, 100 Continue included), or a code
    // without a notification structure (the module gets a null one). False when the module has let go of the
    // request (now or before: then it is not called).
    bool Send(DWORD dwCode, DWORD dwHttpStatus);
    // SEND_RAW_DATA over the whole page, which must stay in place until SubmitBufferCommands has been
    // answered; the driver finds the page's main tags for the module. The block may begin with the response's
    // header block (cbHeaderBlock bytes, status line to the empty line), as the first data block of a
    // response does: the module reads the page's charset from its Content-Type line, and the page proper
    // starts after it.
    bool SendRawData(std::string_view svBlock, DWORD dwHttpStatus, size_t cbHeaderBlock = 0);
    // Always sent, also after the module let go.
    void EndOfRequest(DWORD dwHttpStatus);

    bool Following() const { return m_bFollowing; }
    // Why the module let go: "an exception left SEND_RESPONSE", "control message 4 (Completed) after ...".
    std::string StopReason() const;
    const CNotificationOutcome& LastOutcome() const { return m_last; }
    bool InNotification() const { return m_bInNotification; }
    DWORD CurrentCode() const { return m_dwCurrentCode; }
    CDLLContext& Context() { return m_context; }
    const CDLLContext& Context() const { return m_context; }

    // The raw callbacks (public for the C trampolines only).
    static CNotificationDriver* FromFilterContext(HTTP_FILTER_CONTEXT* pfc, const char* pszCallback);
    static CNotificationDriver* FromCoreServices(CDLLContext* pContext, CCoreServices* pCoreServices,
                                                 const char* pszCallback);
    static BOOL Fail(DWORD dwError);
    BOOL GetHeader(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
    BOOL SetHeader(LPSTR lpszName, LPSTR lpszValue);
    BOOL AddHeader(LPSTR lpszName, LPSTR lpszValue);
    BOOL GetServerVariable(LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
    BOOL ServerSupportFunction(SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1);
    void* AllocMem(DWORD cbSize);
    DWORD SendResponse(const char* pszResponse, DWORD* pcbResponse);
    DWORD SubmitBufferCommands(CBufferInstructionList* pInstructions);
    void Anomaly(const std::string& csText);

private:
    void SetUp(const CDriverSetup& setup);
    void* PrepareNotification(DWORD dwCode, DWORD dwHttpStatus);
    void LocatePage(std::string_view svBlock, size_t cbHeaderBlock);
    bool Deliver(DWORD dwCode, DWORD dwHttpStatus, void* pNotification);
    DWORD CallModule(bool& bException, std::string& csException);
    BOOL AnswerRead(EHostCallback eCallback, LPSTR lpszName, const CSiteValue& value, bool bWithBuffer,
                    LPVOID lpvBuffer, LPDWORD lpdwSize);
    void Observe(EHostCallback eCallback) {
        if (m_pObserver)
            m_pObserver->OnCallback(eCallback);
    }

public:
    const DWORD m_dwMagic;

private:
    PFN_HTTP_FILTER_PROC m_pfnHttpFilterProc;
    IHostRequestSite& m_site;
    IDriverObserver* m_pObserver;
    std::shared_ptr<const CRequestIdentity> m_spIdentity;
    uint32_t m_uWithout = 0;

    bool m_bFollowing = true;
    bool m_bInNotification = false;
    DWORD m_dwCurrentCode = 0;
    // What made the driver let go (written out only when asked: most requests are let go of early).
    bool m_bStoppedByException = false;
    DWORD m_dwStopCode = 0;
    DWORD m_dwStopControlMessage = 0;
    CNotificationOutcome m_last;

    HTTP_FILTER_CONTEXT m_filterContext{};
    CCoreServices m_coreServices{}; // slot 0, which the module does not use, leads back to the driver
    CDLLContext m_context;
    HTTP_FILTER_PREPROC_HEADERS m_preprocHeaders{};
    HTTP_FILTER_AUTH_COMPLETE_INFO m_authComplete{};
    HTTP_FILTER_SEND_RESPONSE m_sendResponse{};
    HTTP_FILTER_RAW_DATA m_rawData{};
    CCommonPointers m_commonPointers{};
};
