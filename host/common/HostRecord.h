// What a host saw the module do: its registration, and for one request every notification with the
// callbacks the module made during it. Both hosts print or serialise these records; tests assert on them.
#pragma once

#include "abi/HostAbi.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <string>
#include <vector>

// The order in which a host sends the notifications of one request.
constexpr DWORD HOST_NOTIFICATION_ORDER[] = {0x00004000, 0x04000000, 0x00000040, 0x00000400, 0x00000080};

// "PREPROC_HEADERS" and so on; "0x%08X" for a code the host does not send.
std::string HostNotificationName(DWORD dwCode);
// The IIS notification flags as "SEND_RESPONSE|END_OF_REQUEST|...", unknown bits as one hexadecimal rest.
std::string HostNotificationFlagsText(DWORD dwFlags);
// "0x%08X".
std::string HostHexText(DWORD dwValue);

struct CHostHeader {
    std::string m_csName;
    std::string m_csValue;
    bool m_bResult = true; // what the host answered
};

// One GetHeader or GetServerVariable call.
struct CHostRead {
    std::string m_csCallback; // "GetHeader" or "GetServerVariable"
    std::string m_csName;
    bool m_bWithBuffer = false; // a buffer and a non-zero size were given
    bool m_bResult = false;
    DWORD m_dwLastError = 0; // set when the call failed
    DWORD m_dwSize = 0;      // the size reported back
};

// A ServerSupportFunction call; SF_REQ_SEND_RESPONSE_HEADER carries a status and a header block.
struct CHostSupportCall {
    DWORD m_dwRequest = 0;
    std::string m_csStatus;
    std::string m_csHeaders;
    bool m_bResult = false;
};

// A complete response handed to the SendResponse slot.
struct CHostResponse {
    std::string m_csText;
    DWORD m_dwByteCount = 0;       // the count the module passed
    bool m_bByteCountGiven = true; // false when the count pointer was null
};

// One page edit as the host read it: offset into the data block (its header block included, if the host
// handed one), insert text or delete length.
struct CHostInstruction {
    int32_t m_nType = -1; // 0 insert, 1 delete
    uint64_t m_qwOffset = 0;
    std::string m_csText;
    uint32_t m_dwLength = 0;
};

// A SubmitBufferCommands call: the list's address, the instructions read from it, the response data with
// them applied (or why they could not be), and the result given back.
struct CHostBufferSubmission {
    uintptr_t m_uInstructions = 0;
    DWORD m_dwResult = 0;
    std::vector<CHostInstruction> m_vInstructions;
    bool m_bApplied = false;
    std::string m_csEditedData;
    std::string m_csApplyError;
};

struct CHostNotificationRecord {
    std::string m_csName;
    DWORD m_dwCode = 0;
    DWORD m_dwHttpStatus = 0; // the status the host had set for it
    DWORD m_dwResult = 0;
    DWORD m_dwControlMessage = 0;
    DWORD m_dwClientFlags = 0;
    DWORD m_dwCriteria = 0;
    bool m_bWorkerContext = false; // a worker context was attached when the notification returned
    bool m_bException = false;     // an exception left HttpFilterProc
    std::string m_csException;
    std::vector<CHostHeader> m_vHeadersAdded;
    std::vector<CHostHeader> m_vHeadersSet;
    std::vector<CHostRead> m_vReads;
    std::vector<CHostSupportCall> m_vSupportCalls;
    std::vector<CHostResponse> m_vResponses;
    std::vector<CHostBufferSubmission> m_vBufferSubmissions;
};

struct CHostSkippedNotification {
    std::string m_csName;
    DWORD m_dwCode = 0;
    std::string m_csReason;
};

// The response body as the browser receives it: the page unchanged, or with the edits of the last
// submission the host applied and answered with success. The response then goes out with the edited length
// as its Content-Length.
struct CHostDeliveredBody {
    bool m_bPresent = false; // the response had a body
    bool m_bEdited = false;  // a submission with at least one instruction was applied
    size_t m_cbOriginal = 0;
    std::string m_csBytes;

    size_t ContentLength() const { return m_csBytes.size(); }
    // "Content-Length: N\r\n" as the response header block carries it.
    std::string ContentLengthHeader() const {
        return "Content-Length: " + std::to_string(ContentLength()) + "\r\n";
    }
};

struct CHostRunRecord {
    std::vector<CHostNotificationRecord> m_vNotifications;
    std::vector<CHostSkippedNotification> m_vSkipped;
    // Things a well-behaved module never does (a callback with a null or foreign handle, a worker context
    // left behind after END_OF_REQUEST, ...), one sentence each.
    std::vector<std::string> m_vAnomalies;
    CHostDeliveredBody m_body;

    const CHostNotificationRecord* Find(DWORD dwCode) const;
    bool WasSent(DWORD dwCode) const { return Find(dwCode) != nullptr; }
    std::vector<DWORD> SentCodes() const;
    // The headers added over the whole run that the host accepted, in order.
    std::vector<CHostHeader> AllHeadersAdded() const;
    std::vector<CHostResponse> AllResponses() const;
};

// The client flags the browser policy sets during PREPROC_HEADERS: premium client, NC4, Safari v1, Mac,
// premium experience. The other flags of the record describe the request, not the browser.
constexpr DWORD HOST_POLICY_CLIENT_FLAGS =
    CF_PREMIUM_CLIENT | CF_NC4_CLIENT | CF_SAFARI_V1 | CF_MAC_CLIENT | CF_PREMIUM_EXPERIENCE;
// The status line of the module's blocked-browser redirect.
constexpr const char HOST_BLOCKED_BROWSER_STATUS[] = "302 Object Moved";

// The policy flags by name, "premium client, Mac", or "none".
std::string HostPolicyFlagsText(DWORD dwClientFlags);

// What the request-header screening decided: the client flags after PREPROC_HEADERS and whether the module
// answered the request with its blocked-browser redirect (control message Completed and a response header
// with HOST_BLOCKED_BROWSER_STATUS), with that redirect's status, Location and cookie resets.
struct CHostScreening {
    bool m_bScreened = false; // PREPROC_HEADERS was sent
    DWORD m_dwClientFlags = 0;
    bool m_bRedirected = false;
    std::string m_csStatus;
    std::string m_csHeaders; // the redirect's header block as sent
    std::string m_csLocation;
    std::vector<std::string> m_vSetCookies; // the value of each Set-Cookie line, in order

    static CHostScreening Of(const CHostRunRecord& run);
};

struct CFilterVersionRecord {
    bool m_bCalled = false;
    BOOL m_bResult = FALSE;
    DWORD m_dwServerFilterVersion = 0;
    DWORD m_dwFilterVersion = 0;
    DWORD m_dwFlags = 0;
    std::string m_csDescription;
    bool m_bDescriptionTerminated = true; // a zero byte ended it inside the field
    bool m_bException = false;
    std::string m_csException;
};

struct CTerminateRecord {
    bool m_bCalled = false;
    BOOL m_bResult = FALSE;
    bool m_bException = false;
    std::string m_csException;
};

// The request as the host saw it, for the report.
struct CHostRequestSummary {
    std::string m_csMethod;
    std::string m_csUrl;
    DWORD m_dwSubscriptionType = 0;
    DWORD m_dwLinkCriteria = 0;
    DWORD m_dwHttpStatus = 0;
    bool m_bHasBody = false;
    size_t m_cbBody = 0;
};

// Everything one host invocation produced: what wkctl prints and serialises.
struct CHostReport {
    std::string m_csModulePath;
    CFilterVersionRecord m_version;
    bool m_bRan = false;
    CHostRequestSummary m_request;
    CHostRunRecord m_run;
    CTerminateRecord m_terminate;
    std::string m_csBodyWrittenTo; // the file the delivered body was written to (wkctl --out)
    bool m_bLogShown = false;
    std::string m_csLogFile;
    std::string m_csLogNote; // why the log text is not simply what was appended, when it is not
    std::vector<std::string> m_vLogLines;
};
