#include "host/apache/ApacheRequestSite.h"

#include "host/common/BufferApply.h"

#include <apr_strings.h>
#include <http_log.h>
#include <http_protocol.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

APLOG_USE_MODULE(wendrake);

namespace {

bool Is(const std::string& csName, const char* pszName) {
    return strcasecmp(csName.c_str(), pszName) == 0;
}

// A header value with a line break or another control character would let a text split the response.
bool IsSafeHeaderText(const std::string& csText) {
    for (unsigned char ch : csText)
        if ((ch < ' ' && ch != '\t') || ch == 0x7F)
            return false;
    return true;
}

std::optional<std::string> FromTable(const apr_table_t* pTable, const char* pszName) {
    const char* pszValue = apr_table_get(pTable, pszName);
    return pszValue ? std::optional<std::string>(pszValue) : std::nullopt;
}

} // namespace

bool ParseHeaderBlock(const std::string& csBlock,
                      std::vector<std::pair<std::string, std::string>>& vHeaders) {
    size_t nStart = 0;
    while (nStart < csBlock.size()) {
        size_t nEnd = csBlock.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = csBlock.size();
        std::string csLine = csBlock.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (!csLine.empty() && csLine.back() == '\r')
            csLine.pop_back();
        if (csLine.empty())
            break;
        const size_t nColon = csLine.find(':');
        if (nColon == std::string::npos || nColon == 0 || !IsSafeHeaderText(csLine))
            return false;
        std::string csValue = csLine.substr(nColon + 1);
        csValue.erase(0, csValue.find_first_not_of(" \t"));
        vHeaders.emplace_back(csLine.substr(0, nColon), csValue);
    }
    return true;
}

CApacheRequestSite::CApacheRequestSite(request_rec* pRequest, const CWendrakeServerConfig* pConfig,
                                       const char* pszWebmail)
    : m_pRequest(pRequest), m_pConfig(pConfig), m_csWebmail(pszWebmail),
      m_pszUserAgent(apr_table_get(pRequest->headers_in, "User-Agent")) {}

namespace {

enum class EHeaderSet { None, Request, Response };

EHeaderSet HeaderSetOf(DWORD dwCode) {
    if (dwCode == SF_NOTIFY_PREPROC_HEADERS || dwCode == SF_NOTIFY_AUTH_COMPLETE)
        return EHeaderSet::Request;
    return dwCode == SF_NOTIFY_SEND_RESPONSE ? EHeaderSet::Response : EHeaderSet::None;
}

} // namespace

std::optional<std::string> CApacheRequestSite::HeaderOf(DWORD dwCode, const std::string& csName) const {
    request_rec* r = m_pRequest;
    const EHeaderSet eSet = HeaderSetOf(dwCode);
    if (eSet == EHeaderSet::Request) {
        if (Is(csName, "url"))
            return std::string(r->unparsed_uri ? r->unparsed_uri : "");
        if (Is(csName, "method"))
            return std::string(r->method);
        if (Is(csName, "version"))
            return std::string(r->protocol);
        return FromTable(r->headers_in, csName.c_str());
    }
    if (eSet == EHeaderSet::Response) {
        if (Is(csName, "status"))
            return std::string(r->status_line ? r->status_line : ap_get_status_line(r->status));
        if (Is(csName, "Content-Type") && r->content_type)
            return std::string(r->content_type);
        auto value = FromTable(r->headers_out, csName.c_str());
        return value ? value : FromTable(r->err_headers_out, csName.c_str());
    }
    return std::nullopt;
}

CSiteValue CApacheRequestSite::GetHeader(DWORD dwCode, std::string_view svName, bool) {
    const auto value = HeaderOf(dwCode, std::string(svName));
    return value ? CSiteValue::Of(*value) : CSiteValue::Absent();
}

bool CApacheRequestSite::ChangeHeader(DWORD dwCode, const std::string& csName, const std::string& csValue,
                                      bool bAdd) {
    request_rec* r = m_pRequest;
    const EHeaderSet eSet = HeaderSetOf(dwCode);
    if (csName.empty() || !IsSafeHeaderText(csName) || !IsSafeHeaderText(csValue) ||
        eSet == EHeaderSet::None || Is(csName, "method") || Is(csName, "version"))
        return false;
    if (eSet == EHeaderSet::Request && Is(csName, "url")) {
        // Before Apache maps the request, the worker may send it elsewhere on this server.
        if (bAdd || dwCode != SF_NOTIFY_PREPROC_HEADERS || csValue.empty() || csValue.front() != '/')
            return false;
        ap_parse_uri(r, apr_pstrdup(r->pool, csValue.c_str()));
        return true;
    }
    apr_table_t* pTable = eSet == EHeaderSet::Request ? r->headers_in : r->headers_out;
    if (eSet == EHeaderSet::Response && Is(csName, "Content-Type") && !csValue.empty()) {
        ap_set_content_type(r, apr_pstrdup(r->pool, csValue.c_str()));
        return true;
    }
    if (eSet == EHeaderSet::Response && !bAdd)
        apr_table_unset(r->err_headers_out, csName.c_str());
    if (bAdd)
        apr_table_add(pTable, csName.c_str(), csValue.c_str());
    else if (csValue.empty())
        apr_table_unset(pTable, csName.c_str());
    else
        apr_table_set(pTable, csName.c_str(), csValue.c_str());
    return true;
}

DWORD CApacheRequestSite::SetHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) {
    return ChangeHeader(dwCode, std::string(svName), std::string(svValue), false) ? ERROR_SUCCESS
                                                                                  : ERROR_INVALID_PARAMETER;
}

DWORD CApacheRequestSite::AddHeader(DWORD dwCode, std::string_view svName, std::string_view svValue) {
    return ChangeHeader(dwCode, std::string(svName), std::string(svValue), true) ? ERROR_SUCCESS
                                                                                 : ERROR_INVALID_PARAMETER;
}

bool CApacheRequestSite::TakeAnswer(const std::string& csStatusText, const std::string& csHeaders) {
    // An empty status is "200 OK", as IIS reads it.
    const std::string csStatus = csStatusText.empty() ? "200 OK" : csStatusText;
    const int nStatus = std::atoi(csStatus.c_str());
    CApacheAnswer answer;
    if (nStatus < 100 || nStatus > 999 || !IsSafeHeaderText(csStatus) ||
        !ParseHeaderBlock(csHeaders, answer.m_vHeaders))
        return false;
    answer.m_nStatus = nStatus;
    answer.m_csStatusLine = csStatus;
    m_answer = std::move(answer);
    m_bAnswered = true;
    return true;
}

DWORD CApacheRequestSite::SendResponseHeader(std::string_view svStatus, std::string_view svHeaders) {
    return TakeAnswer(std::string(svStatus), std::string(svHeaders)) ? ERROR_SUCCESS
                                                                     : ERROR_INVALID_PARAMETER;
}

DWORD CApacheRequestSite::SendResponse(std::string_view svResponse) {
    const std::string csText(svResponse);
    const size_t nLineEnd = csText.find("\r\n");
    const size_t nHeadEnd = csText.find("\r\n\r\n");
    if (csText.compare(0, 5, "HTTP/") != 0 || nLineEnd == std::string::npos || nHeadEnd == std::string::npos)
        return ERROR_INVALID_DATA;
    const std::string csStatusLine = csText.substr(0, nLineEnd);
    const size_t nSpace = csStatusLine.find(' ');
    if (nSpace == std::string::npos ||
        !TakeAnswer(csStatusLine.substr(nSpace + 1), csText.substr(nLineEnd + 2, nHeadEnd + 2 - nLineEnd)))
        return ERROR_INVALID_DATA;
    m_answer.m_csBody = csText.substr(nHeadEnd + 4);
    return ERROR_SUCCESS;
}

void* CApacheRequestSite::AllocMem(DWORD cbSize) {
    return apr_pcalloc(m_pRequest->pool, cbSize ? cbSize : 1);
}

void CApacheRequestSite::WriteAnswer() {
    request_rec* r = m_pRequest;
    ap_discard_request_body(r);
    r->status = m_answer.m_nStatus;
    // Apache sends a status line of its own unless this one starts with the status and a blank.
    r->status_line = apr_pstrdup(r->pool, m_answer.m_csStatusLine.c_str());
    for (const auto& [csName, csValue] : m_answer.m_vHeaders) {
        if (Is(csName, "Content-Length"))
            continue;
        if (Is(csName, "Content-Type"))
            ap_set_content_type(r, apr_pstrdup(r->pool, csValue.c_str()));
        else
            apr_table_add(r->headers_out, csName.c_str(), csValue.c_str());
    }
    ap_set_content_length(r, static_cast<apr_off_t>(m_answer.m_csBody.size()));
    if (!r->header_only && !m_answer.m_csBody.empty())
        ap_rwrite(m_answer.m_csBody.data(), static_cast<int>(m_answer.m_csBody.size()), r);
}

std::string_view CApacheRequestSite::RawDataBlock(DWORD dwHttpStatus) {
    m_csBlock = "HTTP/1.1 " + std::to_string(dwHttpStatus) + "\r\n";
    if (m_pRequest->content_type)
        m_csBlock += std::string("Content-Type: ") + m_pRequest->content_type + "\r\n";
    m_csBlock += "\r\n";
    m_cbHeaderBlock = m_csBlock.size();
    m_csBlock += m_csBody;
    return m_csBlock;
}

DWORD CApacheRequestSite::SubmitBufferCommands(const CBufferInstructionList* pInstructions) {
    if (!pInstructions)
        return ERROR_INVALID_PARAMETER;
    std::string csOut, csError;
    const auto qwBegin = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(m_csBlock.data()));
    // The header block is Apache's to send: an edit aimed into it is refused with the rest.
    for (const CBufferInstructionPtr& spInstruction : pInstructions->Instructions())
        if (spInstruction && spInstruction->m_qwPosition >= qwBegin &&
            spInstruction->m_qwPosition < qwBegin + m_cbHeaderBlock)
            csError = "an edit lies in the response header block";
    if (!csError.empty() || !ApplyBufferInstructions(m_csBlock, qwBegin, *pInstructions, csOut, csError)) {
        ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, m_pRequest,
                      "wendrake: the worker's page edits were not applied (%s); the page goes out unchanged",
                      csError.c_str());
        return ERROR_INVALID_DATA;
    }
    if (!pInstructions->Instructions().empty()) {
        csOut.erase(0, m_cbHeaderBlock);
        m_csEdited = std::move(csOut);
        m_bEdited = true;
    }
    return ERROR_SUCCESS;
}
