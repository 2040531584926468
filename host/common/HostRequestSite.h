// What a host's request offers the notification driver (CNotificationDriver): its header sets, its server
// variables, a way to answer the request and to edit the page it hands over. The driver speaks the module's
// raw protocol (handles, buffers, the thread's last error) and asks the site only these plain questions, so
// a web server implements this on its own request object and nothing else.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <string_view>
#include <utility>

class CBufferInstructionList;

enum class ESiteRead {
    Found,  // the value is m_csValue
    Absent, // no such header or variable (the module sees 1413)
    Failed, // the read fails with m_dwError and reports m_cbReported as the size
};

// The answer to one read. A failure is how a host tests the module's handling of a broken server.
struct CSiteValue {
    ESiteRead m_eRead = ESiteRead::Found;
    std::string m_csValue;
    DWORD m_dwError = 0;
    DWORD m_cbReported = 0;

    static CSiteValue Absent() { return {ESiteRead::Absent, {}, 0, 0}; }
    static CSiteValue Of(std::string csValue) { return {ESiteRead::Found, std::move(csValue), 0, 0}; }
    static CSiteValue Failure(DWORD dwError, DWORD cbReported) {
        return {ESiteRead::Failed, {}, dwError, cbReported};
    }
};

class IHostRequestSite {
public:
    virtual ~IHostRequestSite() = default;

    // The header set of the notification dwCode: the request headers, with the pseudo-headers "url",
    // "method" and "version", during PREPROC_HEADERS and AUTH_COMPLETE; the response headers during
    // SEND_RESPONSE. Names arrive without their trailing colon and compare ignoring case. bWithBuffer says
    // whether this is the module's second (filling) call, for a site that fails only that one.
    virtual CSiteValue GetHeader(DWORD dwCode, std::string_view svName, bool bWithBuffer) = 0;
    // Replaces every header of that name by one with the value (an empty value removes it). ERROR_SUCCESS
    // or the error the module sees.
    virtual DWORD SetHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) = 0;
    // Adds one more header of that name.
    virtual DWORD AddHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) = 0;

    // A server variable by its name as the module wrote it.
    virtual CSiteValue GetServerVariable(std::string_view svName, bool bWithBuffer) = 0;

    // ServerSupportFunction's SF_REQ_SEND_RESPONSE_HEADER: the status line ("302 Object Moved"; empty means
    // "200 OK") and a header block of "Name: value\r\n" lines, maybe empty.
    virtual DWORD SendResponseHeader(std::string_view svStatus, std::string_view svHeaders) = 0;
    // The module answers the request itself with this complete response text (status line, headers, body).
    virtual DWORD SendResponse(std::string_view svResponse) = 0;
    // Edits of the page last handed over with SEND_RAW_DATA; the positions are addresses inside that page.
    // Null when the module passed no list.
    virtual DWORD SubmitBufferCommands(const CBufferInstructionList* pInstructions) = 0;

    // Memory that lives until the request ends (never null for a working site).
    virtual void* AllocMem(DWORD cbSize) = 0;
};
