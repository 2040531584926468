#include "host/common/HostRecord.h"

#include <cstdio>
#include <cstring>

namespace {

struct CNotificationInfo {
    DWORD dwCode;
    const char* pszName;
};

// Every IIS notification flag the module may register, in the order they are printed.
constexpr CNotificationInfo NOTIFICATIONS[] = {
    {0x00000040, "SEND_RESPONSE"},
    {0x00000080, "END_OF_REQUEST"},
    {0x00000400, "SEND_RAW_DATA"},
    {0x00002000, "AUTHENTICATION"},
    {0x00004000, "PREPROC_HEADERS"},
    {0x00008000, "READ_RAW_DATA"},
    {0x00020000, "ORDER_LOW"},
    {0x00040000, "ORDER_MEDIUM"},
    {0x00080000, "ORDER_HIGH"},
    {0x00000800, "SECURE_PORT"},
    {0x00001000, "NONSECURE_PORT"},
    {0x04000000, "AUTH_COMPLETE"},
    {0x00000100, "LOG"},
    {0x00000200, "URL_MAP"},
    {0x00000008, "ACCESS_DENIED"},
};

} // namespace

std::string HostHexText(DWORD dwValue) {
    char szText[16];
    std::snprintf(szText, sizeof(szText), "0x%08X", dwValue);
    return szText;
}

std::string HostNotificationName(DWORD dwCode) {
    for (const auto& info : NOTIFICATIONS)
        if (info.dwCode == dwCode)
            return info.pszName;
    return HostHexText(dwCode);
}

std::string HostNotificationFlagsText(DWORD dwFlags) {
    std::string csText;
    DWORD dwRest = dwFlags;
    for (const auto& info : NOTIFICATIONS) {
        if ((dwFlags & info.dwCode) != info.dwCode)
            continue;
        if (!csText.empty())
            csText += '|';
        csText += info.pszName;
        dwRest &= ~info.dwCode;
    }
    if (dwRest != 0) {
        if (!csText.empty())
            csText += '|';
        csText += HostHexText(dwRest);
    }
    return csText.empty() ? std::string("0") : csText;
}

const CHostNotificationRecord* CHostRunRecord::Find(DWORD dwCode) const {
    for (const auto& notification : m_vNotifications)
        if (notification.m_dwCode == dwCode)
            return &notification;
    return nullptr;
}

std::vector<DWORD> CHostRunRecord::SentCodes() const {
    std::vector<DWORD> vCodes;
    for (const auto& notification : m_vNotifications)
        vCodes.push_back(notification.m_dwCode);
    return vCodes;
}

std::vector<CHostHeader> CHostRunRecord::AllHeadersAdded() const {
    std::vector<CHostHeader> vHeaders;
    for (const auto& notification : m_vNotifications)
        for (const auto& header : notification.m_vHeadersAdded)
            if (header.m_bResult)
                vHeaders.push_back(header);
    return vHeaders;
}

std::vector<CHostResponse> CHostRunRecord::AllResponses() const {
    std::vector<CHostResponse> vResponses;
    for (const auto& notification : m_vNotifications)
        vResponses.insert(vResponses.end(), notification.m_vResponses.begin(),
                          notification.m_vResponses.end());
    return vResponses;
}

std::string HostPolicyFlagsText(DWORD dwClientFlags) {
    static const std::pair<DWORD, const char*> s_aNames[] = {{CF_PREMIUM_CLIENT, "premium client"},
                                                             {CF_NC4_CLIENT, "NC4"},
                                                             {CF_SAFARI_V1, "Safari v1"},
                                                             {CF_MAC_CLIENT, "Mac"},
                                                             {CF_PREMIUM_EXPERIENCE, "premium experience"}};
    std::string csText;
    for (const auto& [dwFlag, pszName] : s_aNames)
        if (dwClientFlags & dwFlag)
            csText += (csText.empty() ? "" : ", ") + std::string(pszName);
    return csText.empty() ? "none" : csText;
}

namespace {

// The value of a "Name: value" line when the name is the one asked for (ignoring case), else null.
const char* HeaderValue(const std::string& csLine, const char* pszName) {
    const size_t cchName = std::strlen(pszName);
    if (csLine.size() <= cchName || csLine[cchName] != ':' ||
        !EqualsCaseless(csLine.substr(0, cchName), pszName))
        return nullptr;
    const size_t nValue = csLine.find_first_not_of(' ', cchName + 1);
    return nValue == std::string::npos ? "" : csLine.c_str() + nValue;
}

void ReadRedirectHeaders(CHostScreening& screening) {
    const std::string& csBlock = screening.m_csHeaders;
    for (size_t nStart = 0; nStart < csBlock.size();) {
        size_t nEnd = csBlock.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = csBlock.size();
        std::string csLine = csBlock.substr(nStart, nEnd - nStart);
        if (!csLine.empty() && csLine.back() == '\r')
            csLine.pop_back();
        if (const char* pszLocation = HeaderValue(csLine, "Location"))
            screening.m_csLocation = pszLocation;
        else if (const char* pszCookie = HeaderValue(csLine, "Set-Cookie"))
            screening.m_vSetCookies.emplace_back(pszCookie);
        nStart = nEnd + 1;
    }
}

} // namespace

CHostScreening CHostScreening::Of(const CHostRunRecord& run) {
    CHostScreening screening;
    const CHostNotificationRecord* pHeaders = run.Find(SF_NOTIFY_PREPROC_HEADERS);
    if (!pHeaders)
        return screening;
    screening.m_bScreened = true;
    screening.m_dwClientFlags = pHeaders->m_dwClientFlags;
    if (pHeaders->m_dwControlMessage != CM_COMPLETED)
        return screening;
    for (const CHostSupportCall& call : pHeaders->m_vSupportCalls) {
        if (call.m_dwRequest != SF_REQ_SEND_RESPONSE_HEADER || call.m_csStatus != HOST_BLOCKED_BROWSER_STATUS)
            continue;
        screening.m_bRedirected = true;
        screening.m_csStatus = call.m_csStatus;
        screening.m_csHeaders = call.m_csHeaders;
        ReadRedirectHeaders(screening);
        break;
    }
    return screening;
}
