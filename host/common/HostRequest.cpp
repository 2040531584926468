#include "host/common/HostRequest.h"

#include <algorithm>
#include <utility>

namespace {

std::string WithoutTrailingColon(std::string csName) {
    if (!csName.empty() && csName.back() == ':')
        csName.pop_back();
    return csName;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// The server-variable form of a header name, as IIS builds HTTP_<NAME>: upper case, "-" becomes "_".
std::string HttpVariableName(const std::string& csHeader) {
    std::string csName = "HTTP_";
    for (char ch : csHeader) {
        if (ch == '-')
            ch = '_';
        else if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
        csName += ch;
    }
    return csName;
}

template <class T> bool Contains(const std::vector<T>& v, const T& value) {
    return std::find(v.begin(), v.end(), value) != v.end();
}

} // namespace

std::string DecodeQueryComponent(const std::string& csText) {
    std::string csOut;
    csOut.reserve(csText.size());
    for (size_t i = 0; i < csText.size(); ++i) {
        char ch = csText[i];
        if (ch == '+') {
            csOut += ' ';
        } else if (ch == '%' && i + 2 < csText.size() && HexDigit(csText[i + 1]) >= 0 &&
                   HexDigit(csText[i + 2]) >= 0) {
            csOut += static_cast<char>(HexDigit(csText[i + 1]) * 16 + HexDigit(csText[i + 2]));
            i += 2;
        } else {
            csOut += ch;
        }
    }
    return csOut;
}

std::vector<std::pair<std::string, std::string>> ParseQueryString(const std::string& csQuery) {
    std::vector<std::pair<std::string, std::string>> vParameters;
    size_t nStart = 0;
    while (nStart <= csQuery.size()) {
        size_t nEnd = csQuery.find('&', nStart);
        if (nEnd == std::string::npos)
            nEnd = csQuery.size();
        std::string csItem = csQuery.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (csItem.empty())
            continue;
        size_t nEquals = csItem.find('=');
        std::string csName = DecodeQueryComponent(csItem.substr(0, nEquals));
        std::string csValue =
            nEquals == std::string::npos ? std::string() : DecodeQueryComponent(csItem.substr(nEquals + 1));
        if (csName.empty())
            continue;
        bool bSeen = std::any_of(vParameters.begin(), vParameters.end(), [&](const auto& item) {
            return CaselessStringView(item.first.data(), item.first.size()) ==
                   CaselessStringView(csName.data(), csName.size());
        });
        if (!bSeen)
            vParameters.emplace_back(std::move(csName), std::move(csValue));
    }
    return vParameters;
}

CHostRequest& CHostRequest::Method(std::string csMethod) {
    m_csMethod = std::move(csMethod);
    return *this;
}

CHostRequest& CHostRequest::Url(std::string csUrl) {
    // Clients never send a fragment; one typed by hand is dropped as a browser would.
    size_t nHash = csUrl.find('#');
    if (nHash != std::string::npos)
        csUrl.erase(nHash);
    m_csUrl = std::move(csUrl);
    return *this;
}

CHostRequest& CHostRequest::UserAgent(std::string csUserAgent) {
    m_csUserAgent = std::move(csUserAgent);
    m_bUserAgent = true;
    return *this;
}

CHostRequest& CHostRequest::Cookie(std::string csCookie) {
    m_csCookie = std::move(csCookie);
    m_bCookie = true;
    return *this;
}

CHostRequest& CHostRequest::AcceptLanguage(std::string csAcceptLanguage) {
    m_csAcceptLanguage = std::move(csAcceptLanguage);
    m_bAcceptLanguage = true;
    return *this;
}

CHostRequest& CHostRequest::Referer(std::string csReferer) {
    m_csReferer = std::move(csReferer);
    m_bReferer = true;
    return *this;
}

CHostRequest& CHostRequest::Header(std::string csName, std::string csValue) {
    m_vHeaders.emplace_back(WithoutTrailingColon(std::move(csName)), std::move(csValue));
    return *this;
}

CHostRequest& CHostRequest::RequestValue(std::string csName, std::string csValue) {
    m_vRemovedRequestValues.erase(
        std::remove(m_vRemovedRequestValues.begin(), m_vRemovedRequestValues.end(), csName),
        m_vRemovedRequestValues.end());
    m_vRequestValues.emplace_back(std::move(csName), std::move(csValue));
    return *this;
}

CHostRequest& CHostRequest::WithoutRequestValue(std::string csName) {
    m_vRequestValues.erase(std::remove_if(m_vRequestValues.begin(), m_vRequestValues.end(),
                                          [&](const auto& item) { return item.first == csName; }),
                           m_vRequestValues.end());
    m_vRemovedRequestValues.push_back(std::move(csName));
    return *this;
}

CHostRequest& CHostRequest::ServerVariable(std::string csName, std::string csValue) {
    m_vServerVariables.emplace_back(std::move(csName), std::move(csValue));
    return *this;
}

CHostRequest& CHostRequest::SubscriptionType(DWORD dwType) {
    m_dwSubscriptionType = dwType;
    return *this;
}

CHostRequest& CHostRequest::LinkCriteria(DWORD dwLinkCriteria) {
    m_dwLinkCriteria = dwLinkCriteria;
    return *this;
}

CHostRequest& CHostRequest::ResponseStatus(DWORD dwStatus) {
    m_dwStatus = dwStatus;
    return *this;
}

CHostRequest& CHostRequest::InterimStatus(DWORD dwStatus) {
    m_vInterimStatuses.push_back(dwStatus);
    return *this;
}

CHostRequest& CHostRequest::ResponseHeaderBlock(std::string csBlock) {
    m_csHeaderBlock = std::move(csBlock);
    return *this;
}

CHostRequest& CHostRequest::ResponseBody(std::string csBody) {
    m_csBody = std::move(csBody);
    m_bHasBody = true;
    return *this;
}

CHostRequest& CHostRequest::ExchangeServer(std::string csServer) {
    m_csServer = std::move(csServer);
    return *this;
}

CHostRequest& CHostRequest::VirtualDir(std::string csVirtualDir) {
    m_csVirtualDir = std::move(csVirtualDir);
    return *this;
}

CHostRequest& CHostRequest::Identity(CIdentityToken spIdentity) {
    m_spIdentity = std::move(spIdentity);
    return *this;
}

CHostRequest& CHostRequest::Without(EHostPart ePart) {
    if (!Contains(m_vWithout, ePart))
        m_vWithout.push_back(ePart);
    return *this;
}

CHostRequest& CHostRequest::FailRead(EHostCallback eCallback, CHostReadFailure failure) {
    failure.m_csName = WithoutTrailingColon(std::move(failure.m_csName));
    m_vReadFailures.emplace_back(eCallback, std::move(failure));
    return *this;
}

CHostRequest& CHostRequest::FailAddHeaderAfter(size_t nSuccesses) {
    m_bAddHeaderLimit = true;
    m_nAddHeaderSuccesses = nSuccesses;
    return *this;
}

CHostRequest& CHostRequest::FailSetHeader() {
    m_bFailSetHeader = true;
    return *this;
}

CHostRequest& CHostRequest::ThrowFrom(EHostCallback eCallback) {
    if (!Contains(m_vThrowing, eCallback))
        m_vThrowing.push_back(eCallback);
    return *this;
}

std::string CHostRequest::GetPath() const {
    return m_csUrl.substr(0, m_csUrl.find('?'));
}

std::string CHostRequest::GetQueryString() const {
    size_t nQuestion = m_csUrl.find('?');
    return nQuestion == std::string::npos ? std::string() : m_csUrl.substr(nQuestion + 1);
}

bool CHostRequest::IsWithout(EHostPart ePart) const {
    return Contains(m_vWithout, ePart);
}

bool CHostRequest::Throws(EHostCallback eCallback) const {
    return Contains(m_vThrowing, eCallback);
}

const CHostReadFailure* CHostRequest::FindReadFailure(EHostCallback eCallback,
                                                      const std::string& csName) const {
    std::string csBare = WithoutTrailingColon(csName);
    for (const auto& [eWhich, failure] : m_vReadFailures) {
        if (eWhich != eCallback)
            continue;
        if (failure.m_csName.empty() ||
            CaselessStringView(failure.m_csName.data(), failure.m_csName.size()) ==
                CaselessStringView(csBare.data(), csBare.size()))
            return &failure;
    }
    return nullptr;
}

std::shared_ptr<CRequestInfo> CHostRequest::BuildRequestInfo() const {
    auto spInfo = std::make_shared<CRequestInfo>();
    for (auto& [csName, csValue] : ParseQueryString(GetQueryString()))
        spInfo->m_mapQueryParameters.emplace(std::move(csName), std::move(csValue));

    auto& values = spInfo->m_mapRequestValues;
    values["HTTP_URL"] = m_csUrl;
    values["URL"] = GetPath();
    values["QUERY_STRING"] = GetQueryString();
    values["HTTP_METHOD"] = m_csMethod;
    if (m_bUserAgent)
        values["HTTP_USER_AGENT"] = m_csUserAgent;
    if (m_bCookie)
        values["HTTP_COOKIE"] = m_csCookie;
    if (m_bAcceptLanguage)
        values["HTTP_ACCEPT-LANGUAGE"] = m_csAcceptLanguage;
    for (const auto& [csName, csValue] : m_vRequestValues)
        values[csName] = csValue;
    for (const auto& csName : m_vRemovedRequestValues)
        values.erase(csName);
    return spInfo;
}

std::shared_ptr<CExchangeURL> CHostRequest::BuildExchangeURL() const {
    auto spUrl = std::make_shared<CExchangeURL>();
    spUrl->m_csServer = m_csServer;
    spUrl->m_csVirtualDir = m_csVirtualDir;
    spUrl->m_csUrl = m_csUrl;
    return spUrl;
}

std::vector<std::pair<std::string, std::string>> CHostRequest::BuildHeaders() const {
    std::vector<std::pair<std::string, std::string>> vHeaders;
    if (m_bUserAgent)
        vHeaders.emplace_back("User-Agent", m_csUserAgent);
    if (m_bCookie)
        vHeaders.emplace_back("Cookie", m_csCookie);
    if (m_bAcceptLanguage)
        vHeaders.emplace_back("Accept-Language", m_csAcceptLanguage);
    if (m_bReferer)
        vHeaders.emplace_back("Referer", m_csReferer);
    vHeaders.insert(vHeaders.end(), m_vHeaders.begin(), m_vHeaders.end());
    return vHeaders;
}

std::map<std::string, std::string, CCaselessLess> CHostRequest::BuildServerVariables() const {
    std::map<std::string, std::string, CCaselessLess> mapVariables;
    // Every request header as HTTP_<NAME> and HEADER_<Name>; the first header of a name wins.
    for (const auto& [csName, csValue] : BuildHeaders()) {
        mapVariables.emplace(HttpVariableName(csName), csValue);
        mapVariables.emplace("HEADER_" + csName, csValue);
    }
    mapVariables["URL"] = GetPath();
    mapVariables["HTTP_URL"] = m_csUrl;
    mapVariables["QUERY_STRING"] = GetQueryString();
    mapVariables["REQUEST_METHOD"] = m_csMethod;
    mapVariables["SERVER_PROTOCOL"] = "HTTP/1.1";
    if (m_spIdentity) {
        std::string csUser = m_spIdentity->csDomain.empty()
                                 ? m_spIdentity->csUser
                                 : m_spIdentity->csDomain + "\\" + m_spIdentity->csUser;
        mapVariables["LOGON_USER"] = csUser;
        mapVariables["AUTH_USER"] = csUser;
        mapVariables["REMOTE_USER"] = csUser;
    }
    for (const auto& [csName, csValue] : m_vServerVariables)
        mapVariables[csName] = csValue;
    return mapVariables;
}

CHostRequestSummary CHostRequest::Summary() const {
    CHostRequestSummary summary;
    summary.m_csMethod = m_csMethod;
    summary.m_csUrl = m_csUrl;
    summary.m_dwSubscriptionType = m_dwSubscriptionType;
    summary.m_dwLinkCriteria = m_dwLinkCriteria;
    summary.m_dwHttpStatus = m_dwStatus;
    summary.m_bHasBody = m_bHasBody;
    summary.m_cbBody = m_csBody.size();
    return summary;
}
