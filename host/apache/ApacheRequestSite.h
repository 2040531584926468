// What the worker's callbacks do on Apache's objects for one request: request or response headers, server
// variables, the worker's own answers and its page edits. The notification driver speaks the worker's
// calling convention and asks this site plain questions.
#pragma once

#include "abi/HostAbi.h"
#include "host/apache/ApacheConfig.h"
#include "host/common/HostRequestSite.h"

#include <httpd.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A complete answer the worker gave instead of the web site's.
struct CApacheAnswer {
    int m_nStatus = 0;
    std::string m_csStatusLine; // "302 Object Moved"
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::string m_csBody;
};

class CApacheRequestSite : public IHostRequestSite {
public:
    CApacheRequestSite(request_rec* pRequest, const CWendrakeServerConfig* pConfig, const char* pszWebmail);

    // The request may change under an internal redirect; the site follows it.
    void SetRequest(request_rec* pRequest) { m_pRequest = pRequest; }
    request_rec* Request() const { return m_pRequest; }
    const CWendrakeServerConfig* Config() const { return m_pConfig; }
    // Request headers during PREPROC_HEADERS and AUTH_COMPLETE, response headers during SEND_RESPONSE.
    CSiteValue GetHeader(DWORD dwCode, std::string_view svName, bool bWithBuffer) override;
    DWORD SetHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) override;
    DWORD AddHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) override;
    CSiteValue GetServerVariable(std::string_view svName, bool bWithBuffer) override;

    // The worker answers: a status line and a header block ("Name: value\r\n"...), or a whole HTTP response.
    DWORD SendResponseHeader(std::string_view svStatus, std::string_view svHeaders) override;
    DWORD SendResponse(std::string_view svResponse) override;
    void* AllocMem(DWORD cbSize) override;
    bool HasAnswer() const { return m_bAnswered; }
    // Writes the worker's answer to the client; the hook then returns DONE.
    void WriteAnswer();

    // The body held for the worker, and its edited form once instructions were applied.
    std::string& Body() { return m_csBody; }
    // What SEND_RAW_DATA hands over: the response's header block, as a first data block carries it (its
    // Content-Type line is where the worker finds a charset the page itself does not declare), then the body.
    std::string_view RawDataBlock(DWORD dwHttpStatus);
    size_t HeaderBlockSize() const { return m_cbHeaderBlock; }
    bool IsBodyEdited() const { return m_bEdited; }
    const std::string& EditedBody() const { return m_csEdited; }
    DWORD SubmitBufferCommands(const CBufferInstructionList* pInstructions) override;

    // What the worker reads from the record: the request's values, its webmail address, its identity.
    std::shared_ptr<CRequestInfo> BuildRequestInfo() const;
    std::shared_ptr<CExchangeURL> BuildExchangeUrl() const;
    std::shared_ptr<const CRequestIdentity> BuildIdentity() const;

private:
    std::optional<std::string> HeaderOf(DWORD dwCode, const std::string& csName) const;
    std::optional<std::string> VariableOf(const std::string& csName) const;
    bool ChangeHeader(DWORD dwCode, const std::string& csName, const std::string& csValue, bool bAdd);
    bool TakeAnswer(const std::string& csStatus, const std::string& csHeaders);
    std::string IdentityUserName() const;

    request_rec* m_pRequest;
    const CWendrakeServerConfig* m_pConfig;
    std::string m_csWebmail;
    // As the client sent it, before any change (HEADER_BK_USER-AGENT): the table's own text, which stays in
    // the request's pool when a module replaces the header.
    const char* m_pszUserAgent = nullptr;
    bool m_bAnswered = false;
    CApacheAnswer m_answer;
    std::string m_csBody;
    std::string m_csBlock; // the header block, then the body
    size_t m_cbHeaderBlock = 0;
    std::string m_csEdited;
    bool m_bEdited = false;
};

// "Name: value" lines of a header block, up to the first empty line; false when a line is not a header.
bool ParseHeaderBlock(const std::string& csBlock, std::vector<std::pair<std::string, std::string>>& vHeaders);
