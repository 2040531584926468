// The binary contract between the worker module and the host that loads it: the per-request record, the
// host's request objects, the core-services callback table and the ISAPI-shaped filter types. Module and
// hosts are built from this one header by the same toolchain.
#pragma once

#include "platform/WinTypes.h"
#include "text/CaselessString.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>

// ---------------------------------------------------------------------------------------------------------
// ISAPI-shaped filter types.

constexpr DWORD SF_MAX_FILTER_DESC_LEN = 256 + 1;

constexpr DWORD SF_NOTIFY_SEND_RESPONSE = 0x00000040;
constexpr DWORD SF_NOTIFY_END_OF_REQUEST = 0x00000080;
constexpr DWORD SF_NOTIFY_SEND_RAW_DATA = 0x00000400;
constexpr DWORD SF_NOTIFY_AUTHENTICATION = 0x00002000;
constexpr DWORD SF_NOTIFY_PREPROC_HEADERS = 0x00004000;
constexpr DWORD SF_NOTIFY_ORDER_LOW = 0x00020000;
constexpr DWORD SF_NOTIFY_AUTH_COMPLETE = 0x04000000;

struct HTTP_FILTER_VERSION {
    DWORD dwServerFilterVersion;
    DWORD dwFilterVersion;
    CHAR lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
    DWORD dwFlags;
};

enum SF_REQ_TYPE {
    SF_REQ_SEND_RESPONSE_HEADER = 0,
    SF_REQ_ADD_HEADERS_ON_DENIAL = 1,
    SF_REQ_SET_NEXT_READ_SIZE = 2,
    SF_REQ_SET_PROXY_INFO = 3,
    SF_REQ_GET_CONNID = 4,
    SF_REQ_SET_CERTIFICATE_INFO = 5,
    SF_REQ_GET_PROPERTY = 6,
    SF_REQ_NORMALIZE_URL = 7,
    SF_REQ_DISABLE_NOTIFICATIONS = 8,
};

struct HTTP_FILTER_CONTEXT;

// The IIS callbacks report failures through the thread's last error (PlatformSetLastError), in the word
// that the record's m_pdwThreadError names.
typedef BOOL (*PFN_GET_SERVER_VARIABLE)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer,
                                        LPDWORD lpdwSize);
typedef BOOL (*PFN_ADD_RESPONSE_HEADERS)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD dwReserved);
typedef BOOL (*PFN_WRITE_CLIENT)(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes,
                                 DWORD dwReserved);
typedef void* (*PFN_ALLOC_MEM)(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
typedef BOOL (*PFN_SERVER_SUPPORT_FUNCTION)(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE sfReq, PVOID pData,
                                            ULONG_PTR ul1, ULONG_PTR ul2);

struct HTTP_FILTER_CONTEXT {
    DWORD cbSize;
    DWORD Revision;
    PVOID ServerContext; // the host's own
    DWORD ulReserved;
    BOOL fIsSecurePort;
    PVOID pFilterContext;
    PFN_GET_SERVER_VARIABLE GetServerVariable;
    PFN_ADD_RESPONSE_HEADERS AddResponseHeaders;
    PFN_WRITE_CLIENT WriteClient;
    PFN_ALLOC_MEM AllocMem;
    PFN_SERVER_SUPPORT_FUNCTION ServerSupportFunction;
};

typedef BOOL (*PFN_GET_HEADER)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
typedef BOOL (*PFN_SET_HEADER)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
typedef BOOL (*PFN_ADD_HEADER)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);

// PREPROC_HEADERS and SEND_RESPONSE share this shape.
struct HTTP_FILTER_PREPROC_HEADERS {
    PFN_GET_HEADER GetHeader;
    PFN_SET_HEADER SetHeader;
    PFN_ADD_HEADER AddHeader;
    DWORD HttpStatus;
    DWORD dwReserved;
};
typedef HTTP_FILTER_PREPROC_HEADERS HTTP_FILTER_SEND_RESPONSE;

struct HTTP_FILTER_AUTH_COMPLETE_INFO {
    PFN_GET_HEADER GetHeader;
    PFN_SET_HEADER SetHeader;
    PFN_ADD_HEADER AddHeader;
    PVOID GetUserToken; // not used by the module
    DWORD HttpStatus;
    BOOL fResetAuth;
    DWORD dwReserved;
};

struct HTTP_FILTER_RAW_DATA {
    PVOID pvInData;
    DWORD cbInData;
    DWORD cbInBuffer;
    DWORD dwReserved;
};

// ---------------------------------------------------------------------------------------------------------
// The host's request objects.

// The response data record of a page (filled by the host for SEND_RAW_DATA): where the response bytes lie
// and where the host found the page's main tags. Every pointer points into the response data, or is null
// when the host has none; the module turns them into offsets from m_pDataBegin.
struct CCommonPointers {
    const char* m_pDataBegin = nullptr;     // first byte of the response data
    const char* m_pDataLast = nullptr;      // last byte (inclusive)
    const char* m_pHtmlDataBegin = nullptr; // where the HTML starts (null: at m_pDataBegin)
    const char* m_pHtmlStartTag = nullptr;  // "<html"
    const char* m_pHeadStartTag = nullptr;  // "<head"
    const char* m_pHeadEndTag = nullptr;    // "</head"
    const char* m_pBodyStartTag = nullptr;  // "<body"
    const char* m_pBodyEndTag = nullptr;    // "</body"
};
// The page edits handed to the host.
class CBufferInstructionList;

struct COutboundContext {
    DWORD m_dwHttpStatus = 0;
    CCommonPointers* m_pCommonPointers = nullptr;
};

// Request values the host collected: query parameters (names compare ignoring case) and server variables
// and headers (names compare exactly; a header may be stored with a trailing colon).
class CRequestInfo {
public:
    std::map<std::string, std::string, CCaselessLess> m_mapQueryParameters;
    std::map<std::string, std::string> m_mapRequestValues;

    bool GetHeaderValue(const std::string& csName, std::string& csValue) const {
        auto it = m_mapRequestValues.find(csName);
        if (it == m_mapRequestValues.end() && (csName.empty() || csName.back() != ':'))
            it = m_mapRequestValues.find(csName + ":");
        if (it == m_mapRequestValues.end())
            return false;
        csValue = it->second;
        return true;
    }

    bool GetQueryParameter(const std::string& csName, std::string& csValue) const {
        if (m_mapQueryParameters.empty())
            return false;
        auto it = m_mapQueryParameters.find(csName);
        if (it == m_mapQueryParameters.end())
            return false;
        csValue = it->second;
        return true;
    }
};

// The parsed webmail address of the request.
struct CExchangeURL {
    std::string m_csServer;     // e.g. "https://mail.example.com"
    std::string m_csVirtualDir; // e.g. "/owa"
    std::string m_csUrl;        // the whole request URL as the host saw it

    // The server part ending with "/", then the virtual directory without a leading "/" and ending with "/"
    // (none for an empty one).
    std::string GetBaseAddress() const {
        std::string csBase = m_csServer;
        if (csBase.empty() || csBase.back() != '/')
            csBase += '/';
        std::string csDir = m_csVirtualDir;
        if (!csDir.empty() && csDir.front() == '/')
            csDir.erase(0, 1);
        // A webmail at the site's root has no directory part: the server part's "/" is the only one.
        if (!csDir.empty() && csDir.back() != '/')
            csDir += '/';
        return csBase + csDir;
    }
};

// ---------------------------------------------------------------------------------------------------------
// The core-services callback table and the per-request record.

struct CDLLContext;
struct CCoreServices;

typedef DWORD (*PFN_SUBMIT_BUFFER_COMMANDS)(CDLLContext* pContext, CBufferInstructionList* pInstructions);
typedef DWORD (*PFN_SEND_RESPONSE)(CDLLContext* pContext, const char* pszResponse, DWORD* pcbResponse,
                                   CCoreServices* pCoreServices);

// A table of function pointers; the module uses slots 2 and 8, a null slot is a missing service.
struct CCoreServices {
    void* m_pSlot0 = nullptr;
    void* m_pSlot1 = nullptr;
    PFN_SUBMIT_BUFFER_COMMANDS SubmitBufferCommands = nullptr; // slot 2
    void* m_pSlot3 = nullptr;
    void* m_pSlot4 = nullptr;
    void* m_pSlot5 = nullptr;
    void* m_pSlot6 = nullptr;
    void* m_pSlot7 = nullptr;
    PFN_SEND_RESPONSE SendResponse = nullptr; // slot 8
    void* m_pSlot9 = nullptr;
    void* m_pSlot10 = nullptr;
    void* m_pSlot11 = nullptr;
};
static_assert(offsetof(CCoreServices, SubmitBufferCommands) == 2 * sizeof(void*));
static_assert(offsetof(CCoreServices, SendResponse) == 8 * sizeof(void*));

// Control messages: how the host goes on with the request.
constexpr DWORD CM_NONE = 0;
constexpr DWORD CM_IGNORE = 1;
constexpr DWORD CM_HANDLED_REDIRECTED = 2;
constexpr DWORD CM_REPLACE = 3;
constexpr DWORD CM_COMPLETED = 4;

// The word for a control message in the module's log lines and the hosts' records.
inline const char* ControlMessageWord(DWORD dwControlMessage) {
    switch (dwControlMessage) {
    case CM_NONE:
        return "None";
    case CM_IGNORE:
        return "Ignore";
    case CM_HANDLED_REDIRECTED:
        return "Handled/Redirected";
    case CM_REPLACE:
        return "Replace";
    case CM_COMPLETED:
        return "Completed";
    default:
        return "Unknown";
    }
}

// Client flags.
constexpr DWORD CF_PREMIUM_CLIENT = 0x1;
constexpr DWORD CF_NC4_CLIENT = 0x2;
constexpr DWORD CF_SAFARI_V1 = 0x4;
constexpr DWORD CF_MAC_CLIENT = 0x8;
constexpr DWORD CF_POST = 0x10;
constexpr DWORD CF_SUBFRAME_WARN = 0x20;
constexpr DWORD CF_BASE_WARN = 0x40;
constexpr DWORD CF_BASE_REQUEST = 0x80;
constexpr DWORD CF_PREMIUM_EXPERIENCE = 0x100;
constexpr DWORD CF_ENABLED = 0x1000;
constexpr DWORD CF_AUTO_LOGOFF = 0x2000;

// Subscription types: the host's class of the request URL.
constexpr DWORD ST_OWA_FOLDER = 1;
constexpr DWORD ST_LOGOFF_CMD = 14;
constexpr DWORD ST_BASE_REQUEST = 15;
constexpr DWORD ST_SUBFRAME_REQUEST = 16;
constexpr DWORD ST_FBA_LOGON = 17;
constexpr DWORD ST_LOGOFF = 18;
constexpr DWORD ST_MODURL = 19;

// The identity a request runs under (platform/ThreadIdentity.h). The module keeps its own per-thread
// identity, out of the host's reach, so the host hands the request's identity over in the record.
struct CRequestIdentity;

// The version of this contract. Raise it with every change a module and a host built apart would misread
// (a field added, moved or retyped, a callback's meaning changed).
constexpr DWORD WK_HOST_ABI_VERSION = 2;

// The host's per-request record, one per request, passed to every notification of it. New fields go at the
// end. The record opens with its size and contract version, at offsets no version moves, so a module reads
// them before trusting anything else and leaves a record of another contract alone.
struct CDLLContext {
    DWORD m_cbSize = sizeof(CDLLContext);
    DWORD m_dwAbiVersion = WK_HOST_ABI_VERSION;
    DWORD m_dwNotificationType = 0;
    DWORD m_dwClientFlags = 0;
    void* m_pMyOwnContext = nullptr; // the module's per-request context
    DWORD m_dwControlMessage = CM_NONE;
    DWORD m_dwReserved1 = 0;
    uint64_t m_qwReserved2 = 0;
    CCoreServices* m_pCoreServices = nullptr;
    std::shared_ptr<COutboundContext> m_spOutboundContext;
    std::shared_ptr<CRequestInfo> m_spRequestInfo;
    std::shared_ptr<CExchangeURL> m_spExchangeURL;
    HTTP_FILTER_CONTEXT* m_pFilterContext = nullptr;
    void* m_pNotification = nullptr;
    DWORD m_dwLinkCriteria = 0;
    DWORD m_dwCriteria = 0;
    DWORD m_dwSubscriptionType = 0;
    // The request's user, shared with the host (the module neither copies it nor keeps it past the call);
    // null for an anonymous request. HttpFilterProc runs the notification under it and puts the thread's
    // previous identity back before it returns.
    std::shared_ptr<const CRequestIdentity> m_spRequestIdentity;
    // The calling thread's error word of the host (PlatformThreadErrorWord() right before each call): the
    // host's callbacks report their failures there, and for the call the module reads and writes the same
    // word. Null: the module's thread keeps its own.
    DWORD* m_pdwThreadError = nullptr;
};

// The contract a module was built with, as one word: the version in the high half, the record's size in the
// low half. HttpFilterProc called with a null record answers it (a module from before the contract carried
// a version answers 0), so a host can refuse a module of another contract before its first request.
constexpr DWORD WK_HOST_ABI_CONTRACT = (WK_HOST_ABI_VERSION << 16) | static_cast<DWORD>(sizeof(CDLLContext));
static_assert(sizeof(CDLLContext) < 0x10000);
constexpr DWORD HostAbiContractVersion(DWORD dwContract) {
    return dwContract >> 16;
}
constexpr DWORD HostAbiContractSize(DWORD dwContract) {
    return dwContract & 0xFFFF;
}

// The exported entry points.
extern "C" {
typedef BOOL (*PFN_GET_FILTER_VERSION)(HTTP_FILTER_VERSION* pVer);
typedef DWORD (*PFN_HTTP_FILTER_PROC)(CDLLContext* pContext);
typedef BOOL (*PFN_TERMINATE_FILTER)(DWORD dwFlags);
}
