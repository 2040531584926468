#include "host/apache/ApacheRequestSite.h"

#include "host/common/BufferApply.h"
#include "platform/ThreadIdentity.h"
#include "security/CSid.h"

#include <apr_lib.h>
#include <apr_strings.h>
#include <http_core.h>
#include <http_log.h>
#include <http_protocol.h>
#include <util_script.h>

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

// "HTTP_ACCEPT_LANGUAGE" names the header "Accept-Language": capitals, '-' as '_'.
bool IsHttpVariableOf(const char* pszHeader, const std::string& csVariable) {
    if (std::strlen(pszHeader) + 5 != csVariable.size())
        return false;
    for (size_t i = 0; pszHeader[i]; ++i) {
        char ch = pszHeader[i] == '-' ? '_' : pszHeader[i];
        char chVariable = csVariable[i + 5] == '-' ? '_' : csVariable[i + 5];
        if (apr_toupper(ch) != apr_toupper(chVariable))
            return false;
    }
    return true;
}

std::string DecodeQueryPart(std::string csText) {
    for (char& ch : csText)
        if (ch == '+')
            ch = ' ';
    std::string csCopy = csText;
    // A malformed escape keeps the text as sent.
    return ap_unescape_url(csCopy.data()) == OK ? std::string(csCopy.c_str()) : csText;
}

void AddSids(const char* pszList, std::vector<std::vector<BYTE>>& vSids) {
    std::string csList = pszList;
    size_t nStart = 0;
    while (nStart <= csList.size()) {
        size_t nEnd = csList.find_first_of(",;", nStart);
        if (nEnd == std::string::npos)
            nEnd = csList.size();
        std::string csItem = csList.substr(nStart, nEnd - nStart);
        csItem.erase(0, csItem.find_first_not_of(" \t"));
        csItem.erase(csItem.find_last_not_of(" \t") + 1);
        CSid sid;
        if (!csItem.empty() && CSid::FromString(csItem.c_str(), sid) == ERROR_SUCCESS)
            vSids.push_back(sid.GetBytes());
        nStart = nEnd + 1;
    }
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

std::optional<std::string> CApacheRequestSite::GetServerVariable(const std::string& csName) const {
    request_rec* r = m_pRequest;
    auto Text = [](const char* psz) { return psz ? std::optional<std::string>(psz) : std::nullopt; };
    // Values the host adds are never taken from the client's headers.
    if (Is(csName, "HEADER_BK_CSMPREFIX"))
        return Text(m_pConfig->m_pszCsmPrefix);
    if (Is(csName, "HEADER_BK_USER-AGENT"))
        return m_csUserAgent.empty() ? std::nullopt : std::optional<std::string>(m_csUserAgent);
    if (strncasecmp(csName.c_str(), "HEADER_BK_", 10) == 0)
        return std::nullopt;
    if (strncasecmp(csName.c_str(), "HEADER_", 7) == 0)
        return FromTable(r->headers_in, csName.c_str() + 7);
    if (Is(csName, "URL"))
        return Text(r->parsed_uri.path ? r->parsed_uri.path : r->uri);
    if (Is(csName, "HTTP_URL"))
        return Text(r->unparsed_uri);
    if (Is(csName, "QUERY_STRING"))
        return std::string(r->args ? r->args : "");
    if (Is(csName, "REQUEST_METHOD") || Is(csName, "HTTP_METHOD"))
        return Text(r->method);
    if (Is(csName, "SERVER_PROTOCOL") || Is(csName, "HTTP_VERSION"))
        return Text(r->protocol);
    if (Is(csName, "LOGON_USER") || Is(csName, "AUTH_USER") || Is(csName, "REMOTE_USER")) {
        std::string csUser = IdentityUserName();
        return csUser.empty() ? std::nullopt : std::optional<std::string>(csUser);
    }
    if (Is(csName, "AUTH_TYPE"))
        return Text(r->ap_auth_type);
    if (Is(csName, "REMOTE_ADDR"))
        return Text(r->useragent_ip);
    if (Is(csName, "SERVER_NAME"))
        return Text(ap_get_server_name(r));
    if (Is(csName, "SERVER_PORT"))
        return std::to_string(ap_get_server_port(r));
    if (Is(csName, "HTTPS"))
        return std::string(strcmp(ap_http_scheme(r), "https") == 0 ? "on" : "off");
    if (strncasecmp(csName.c_str(), "HTTP_", 5) == 0) {
        const apr_array_header_t* pEntries = apr_table_elts(r->headers_in);
        const auto* pEntry = reinterpret_cast<const apr_table_entry_t*>(pEntries->elts);
        for (int i = 0; i < pEntries->nelts; ++i)
            if (pEntry[i].key && IsHttpVariableOf(pEntry[i].key, csName))
                return Text(pEntry[i].val);
    }
    return std::nullopt;
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

std::shared_ptr<CRequestInfo> CApacheRequestSite::BuildRequestInfo() const {
    request_rec* r = m_pRequest;
    auto spInfo = std::make_shared<CRequestInfo>();
    const std::string csQuery = r->args ? r->args : "";
    size_t nStart = 0;
    while (nStart < csQuery.size()) {
        size_t nEnd = csQuery.find('&', nStart);
        if (nEnd == std::string::npos)
            nEnd = csQuery.size();
        const std::string csItem = csQuery.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        const size_t nEquals = csItem.find('=');
        std::string csName = DecodeQueryPart(csItem.substr(0, nEquals));
        if (!csName.empty())
            spInfo->m_mapQueryParameters.emplace(
                std::move(csName),
                nEquals == std::string::npos ? "" : DecodeQueryPart(csItem.substr(nEquals + 1)));
    }
    auto& values = spInfo->m_mapRequestValues;
    values["HTTP_URL"] = r->unparsed_uri ? r->unparsed_uri : "";
    values["URL"] = r->parsed_uri.path ? r->parsed_uri.path : "";
    values["QUERY_STRING"] = csQuery;
    values["HTTP_METHOD"] = r->method;
    const std::pair<const char*, const char*> aHeaders[] = {{"HTTP_USER_AGENT", "User-Agent"},
                                                            {"HTTP_COOKIE", "Cookie"},
                                                            {"HTTP_ACCEPT-LANGUAGE", "Accept-Language"}};
    for (const auto& [pszValue, pszHeader] : aHeaders)
        if (const char* pszText = apr_table_get(r->headers_in, pszHeader))
            values[pszValue] = pszText;
    return spInfo;
}

std::shared_ptr<CExchangeURL> CApacheRequestSite::BuildExchangeUrl() const {
    auto spUrl = std::make_shared<CExchangeURL>();
    // "http://host:port" as the client addressed the server (the Host header, unless UseCanonicalName).
    spUrl->m_csServer = ap_construct_url(m_pRequest->pool, "", m_pRequest);
    spUrl->m_csVirtualDir = m_csWebmail == "/" ? "" : m_csWebmail;
    spUrl->m_csUrl = m_pRequest->unparsed_uri ? m_pRequest->unparsed_uri : "";
    return spUrl;
}

std::string CApacheRequestSite::IdentityUserName() const {
    switch (m_pConfig->m_eIdentity) {
    case IDENTITY_NONE:
        return std::string();
    case IDENTITY_HEADER: {
        const char* pszUser = apr_table_get(m_pRequest->headers_in, m_pConfig->m_pszUserHeader);
        return pszUser ? pszUser : "";
    }
    default:
        return m_pRequest->user ? m_pRequest->user : "";
    }
}

std::shared_ptr<const CRequestIdentity> CApacheRequestSite::BuildIdentity() const {
    const std::string csName = IdentityUserName();
    if (csName.empty())
        return nullptr;
    auto spIdentity = std::make_shared<CRequestIdentity>();
    const size_t nSlash = csName.find('\\');
    spIdentity->csUser = nSlash == std::string::npos ? csName : csName.substr(nSlash + 1);
    spIdentity->csDomain = nSlash == std::string::npos ? "" : csName.substr(0, nSlash);
    if (m_pConfig->m_pszSidHeader)
        if (const char* pszSid = apr_table_get(m_pRequest->headers_in, m_pConfig->m_pszSidHeader)) {
            std::vector<std::vector<BYTE>> vSid;
            AddSids(pszSid, vSid);
            if (vSid.size() == 1)
                spIdentity->vUserSid = vSid.front();
        }
    if (m_pConfig->m_pszGroupsHeader)
        if (const char* pszGroups = apr_table_get(m_pRequest->headers_in, m_pConfig->m_pszGroupsHeader))
            AddSids(pszGroups, spIdentity->vGroupSids);
    return spIdentity;
}
