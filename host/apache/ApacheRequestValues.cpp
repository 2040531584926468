// The request values the worker reads: server variables, the record's request values and webmail address,
// and the request's identity.
#include "host/apache/ApacheRequestSite.h"

#include "platform/ThreadIdentity.h"
#include "security/CSid.h"

#include <apr_lib.h>
#include <apr_strings.h>
#include <http_core.h>
#include <http_protocol.h>

#include <cstring>
#include <strings.h>

namespace {

bool Is(const std::string& csName, const char* pszName) {
    return strcasecmp(csName.c_str(), pszName) == 0;
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

std::optional<std::string> CApacheRequestSite::VariableOf(const std::string& csName) const {
    request_rec* r = m_pRequest;
    auto Text = [](const char* psz) { return psz ? std::optional<std::string>(psz) : std::nullopt; };
    // Values the host adds are never taken from the client's headers.
    if (Is(csName, "HEADER_BK_CSMPREFIX"))
        return Text(m_pConfig->m_pszCsmPrefix);
    if (Is(csName, "HEADER_BK_USER-AGENT"))
        return m_pszUserAgent && *m_pszUserAgent ? std::optional<std::string>(m_pszUserAgent) : std::nullopt;
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

CSiteValue CApacheRequestSite::GetServerVariable(std::string_view svName, bool) {
    const auto value = VariableOf(std::string(svName));
    return value ? CSiteValue::Of(*value) : CSiteValue::Absent();
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
    // As ap_construct_url writes it, without its formatting on every request.
    request_rec* r = m_pRequest;
    const apr_port_t nPort = ap_get_server_port(r);
    spUrl->m_csServer = std::string(ap_http_scheme(r)) + "://" + ap_get_server_name_for_url(r);
    if (!ap_is_default_port(nPort, r))
        spUrl->m_csServer += ":" + std::to_string(nPort);
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
