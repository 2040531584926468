// What the worker's callbacks do on Apache's objects for one request: request or response headers, server
// variables, the worker's own answers and its page edits. Nothing here knows the calling convention of the
// callbacks; that is the plumbing's business.
#pragma once

#include "abi/HostAbi.h"
#include "host/apache/ApacheConfig.h"

#include <httpd.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CBufferInstructionList;

// Which headers the header callbacks work on: the request's before the response exists, the response's at
// SEND_RESPONSE, none otherwise.
enum class EHeaderSet { None, Request, Response };

// A complete answer the worker gave instead of the web site's.
struct CApacheAnswer {
    int m_nStatus = 0;
    std::string m_csStatusLine; // "302 Object Moved"
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::string m_csBody;
};

class CApacheRequestSite {
public:
    CApacheRequestSite(request_rec* pRequest, const CWendrakeServerConfig* pConfig, const char* pszWebmail);

    // The request may change under an internal redirect; the site follows it.
    void SetRequest(request_rec* pRequest) { m_pRequest = pRequest; }
    request_rec* Request() const { return m_pRequest; }
    const CWendrakeServerConfig* Config() const { return m_pConfig; }
    void SetHeaderSet(EHeaderSet eSet) { m_eHeaders = eSet; }

    std::optional<std::string> GetHeader(const std::string& csName) const;
    bool SetHeader(const std::string& csName, const std::string& csValue);
    bool AddHeader(const std::string& csName, const std::string& csValue);
    std::optional<std::string> GetServerVariable(const std::string& csName) const;

    // The worker answers: a status line and a header block ("Name: value\r\n"...), or a whole HTTP response.
    bool SendResponseHeader(const char* pszStatus, const char* pszHeaders);
    bool SendResponse(const char* pszResponse, size_t cbResponse);
    bool HasAnswer() const { return m_bAnswered; }
    // Writes the worker's answer to the client; the hook then returns DONE.
    void WriteAnswer();

    // The body handed to the worker in SEND_RAW_DATA, and its edited form once instructions were applied.
    std::string& Body() { return m_csBody; }
    bool IsBodyEdited() const { return m_bEdited; }
    const std::string& EditedBody() const { return m_csEdited; }
    DWORD SubmitBufferCommands(const CBufferInstructionList* pInstructions);

    // What the worker reads from the record: the request's values, its webmail address, its identity.
    std::shared_ptr<CRequestInfo> BuildRequestInfo() const;
    std::shared_ptr<CExchangeURL> BuildExchangeUrl() const;
    std::shared_ptr<const CRequestIdentity> BuildIdentity() const;

private:
    std::string IdentityUserName() const;

    request_rec* m_pRequest;
    const CWendrakeServerConfig* m_pConfig;
    std::string m_csWebmail;
    std::string m_csUserAgent; // as the client sent it, before any change (HEADER_BK_USER-AGENT)
    EHeaderSet m_eHeaders = EHeaderSet::None;
    bool m_bAnswered = false;
    CApacheAnswer m_answer;
    std::string m_csBody;
    std::string m_csEdited;
    bool m_bEdited = false;
};

// "Name: value" lines of a header block, up to the first empty line; false when a line is not a header.
bool ParseHeaderBlock(const std::string& csBlock, std::vector<std::pair<std::string, std::string>>& vHeaders);
