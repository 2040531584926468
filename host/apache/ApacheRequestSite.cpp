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

std::string WithoutColon(const std::string& csName) {
    return !csName.empty() && csName.back() == ':' ? csName.substr(0, csName.size() - 1) : csName;
}

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
    : m_pRequest(pRequest), m_pConfig(pConfig), m_csWebmail(pszWebmail) {
    if (const char* pszAgent = apr_table_get(pRequest->headers_in, "User-Agent"))
        m_csUserAgent = pszAgent;
}

std::optional<std::string> CApacheRequestSite::GetHeader(const std::string& csRawName) const {
    const std::string csName = WithoutColon(csRawName);
    request_rec* r = m_pRequest;
    if (m_eHeaders == EHeaderSet::Request) {
        if (Is(csName, "url"))
            return std::string(r->unparsed_uri ? r->unparsed_uri : "");
        if (Is(csName, "method"))
            return std::string(r->method);
        if (Is(csName, "version"))
            return std::string(r->protocol);
        return FromTable(r->headers_in, csName.c_str());
    }
    if (m_eHeaders == EHeaderSet::Response) {
        if (Is(csName, "status"))
            return std::string(r->status_line ? r->status_line : ap_get_status_line(r->status));
        if (Is(csName, "Content-Type") && r->content_type)
            return std::string(r->content_type);
        auto value = FromTable(r->headers_out, csName.c_str());
        return value ? value : FromTable(r->err_headers_out, csName.c_str());
    }
    return std::nullopt;
}

bool CApacheRequestSite::SetHeader(const std::string& csRawName, const std::string& csValue) {
    const std::string csName = WithoutColon(csRawName);
    request_rec* r = m_pRequest;
    if (csName.empty() || !IsSafeHeaderText(csName) || !IsSafeHeaderText(csValue) ||
        m_eHeaders == EHeaderSet::None)
        return false;
    if (m_eHeaders == EHeaderSet::Request) {
        if (Is(csName, "method") || Is(csName, "version"))
            return false;
        if (Is(csName, "url")) {
            if (csValue.empty() || csValue.front() != '/')
                return false;
            ap_parse_uri(r, apr_pstrdup(r->pool, csValue.c_str()));
            return true;
        }
        if (csValue.empty())
            apr_table_unset(r->headers_in, csName.c_str());
        else
            apr_table_set(r->headers_in, csName.c_str(), csValue.c_str());
        return true;
    }
    if (Is(csName, "Content-Type") && !csValue.empty()) {
        ap_set_content_type(r, apr_pstrdup(r->pool, csValue.c_str()));
        return true;
    }
    apr_table_unset(r->err_headers_out, csName.c_str());
    if (csValue.empty())
        apr_table_unset(r->headers_out, csName.c_str());
    else
        apr_table_set(r->headers_out, csName.c_str(), csValue.c_str());
    return true;
}

bool CApacheRequestSite::AddHeader(const std::string& csRawName, const std::string& csValue) {
    const std::string csName = WithoutColon(csRawName);
    if (csName.empty() || !IsSafeHeaderText(csName) || !IsSafeHeaderText(csValue) ||
        m_eHeaders == EHeaderSet::None)
        return false;
    if (m_eHeaders == EHeaderSet::Request) {
        if (Is(csName, "url") || Is(csName, "method") || Is(csName, "version"))
            return false;
        apr_table_add(m_pRequest->headers_in, csName.c_str(), csValue.c_str());
        return true;
    }
    if (Is(csName, "Content-Type"))
        return SetHeader(csName, csValue);
    apr_table_add(m_pRequest->headers_out, csName.c_str(), csValue.c_str());
    return true;
}

bool CApacheRequestSite::SendResponseHeader(const char* pszStatus, const char* pszHeaders) {
    // A null status is "200 OK", as IIS reads it.
    const std::string csStatus = pszStatus && *pszStatus ? pszStatus : "200 OK";
    const int nStatus = std::atoi(csStatus.c_str());
    CApacheAnswer answer;
    if (nStatus < 100 || nStatus > 999 || !IsSafeHeaderText(csStatus) ||
        !ParseHeaderBlock(pszHeaders ? pszHeaders : "", answer.m_vHeaders))
        return false;
    answer.m_nStatus = nStatus;
    answer.m_csStatusLine = csStatus;
    m_answer = std::move(answer);
    m_bAnswered = true;
    return true;
}

bool CApacheRequestSite::SendResponse(const char* pszResponse, size_t cbResponse) {
    const std::string csText(pszResponse, cbResponse);
    const size_t nLineEnd = csText.find("\r\n");
    const size_t nHeadEnd = csText.find("\r\n\r\n");
    if (csText.compare(0, 5, "HTTP/") != 0 || nLineEnd == std::string::npos || nHeadEnd == std::string::npos)
        return false;
    const std::string csStatusLine = csText.substr(0, nLineEnd);
    const size_t nSpace = csStatusLine.find(' ');
    if (nSpace == std::string::npos)
        return false;
    if (!SendResponseHeader(csStatusLine.substr(nSpace + 1).c_str(),
                            csText.substr(nLineEnd + 2, nHeadEnd + 2 - nLineEnd).c_str()))
        return false;
    m_answer.m_csBody = csText.substr(nHeadEnd + 4);
    return true;
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

DWORD CApacheRequestSite::SubmitBufferCommands(const CBufferInstructionList* pInstructions) {
    if (!pInstructions)
        return ERROR_INVALID_PARAMETER;
    std::string csOut, csError;
    const auto qwBegin = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(m_csBody.data()));
    if (!ApplyBufferInstructions(m_csBody, qwBegin, *pInstructions, csOut, csError)) {
        ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, m_pRequest,
                      "wendrake: the worker's page edits were not applied (%s); the page goes out unchanged",
                      csError.c_str());
        return ERROR_INVALID_DATA;
    }
    if (!pInstructions->Instructions().empty()) {
        m_csEdited = std::move(csOut);
        m_bEdited = true;
    }
    return ERROR_SUCCESS;
}
