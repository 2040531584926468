// The page pipeline's fuzz harness, shared by the libFuzzer target and the property test: a whole followed
// request of a signed-in user through the test host, with the fuzz bytes as the response page. Whatever the
// page, the module either submits instructions that apply cleanly inside it or submits nothing; no exception
// leaves it, and the host sees nothing it could not handle.
//
// Input layout: one byte of request flags, then the page.
//   bit 0    : the show-warning subframe request (subscription 16) instead of a plain one (19)
//   bit 1    : no cached-script prefix
//   bits 2-4 : the Accept-Language, from a table (none, several languages, malformed)
//   bit 5    : a current Firefox instead of an old Internet Explorer
//   bits 6-7 : the response status (200, 200, 404, 500)
#pragma once

#include "host/common/HostRecord.h"
#include "host/common/HostRequest.h"
#include "platform/ThreadIdentity.h"
#include "security/CSid.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pagefuzz {

inline constexpr size_t HEADER_SIZE = 1;

inline CHostRequest BuildRequest(const uint8_t* pData, size_t cbData) {
    static const char* const s_rgLanguages[] = {"",   "en-US",          "fr",       "de-DE,de;q=0.9,en;q=0.5",
                                                "ja", "zh-tw,he;q=0.3", "xx;q=,,;", "pt-br"};
    static const DWORD s_rgStatuses[] = {200, 200, 404, 500};
    const uint8_t nFlags = cbData ? pData[0] : 0;
    const size_t cbHeader = cbData ? HEADER_SIZE : 0;

    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "alice";
    spIdentity->csDomain = "CORP";
    // A user SID: without one the module has no user to guard and ends its interest before the page.
    CSid sid;
    if (CSid::FromString("S-1-5-21-7-8-9-1001", sid) == 0)
        spIdentity->vUserSid = sid.GetBytes();
    CHostRequest request;
    request.ExchangeServer("https://mail.example.com").Identity(spIdentity);
    request.ServerVariable("HEADER_BK_CSMPREFIX", (nFlags & 0x02) ? "" : "abcde/");
    if (nFlags & 0x01)
        request.SubscriptionType(16).Url("/owa/?bkwksubfr=2");
    else
        request.SubscriptionType(19).Url("/owa/?modurl=0");
    if (const char* pszLanguage = s_rgLanguages[(nFlags >> 2) & 0x07]; *pszLanguage)
        request.AcceptLanguage(pszLanguage);
    request.UserAgent((nFlags & 0x20) ? "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 "
                                        "Firefox/121.0"
                                      : "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    request.ResponseStatus(s_rgStatuses[nFlags >> 6]);
    request.ResponseBody(std::string(reinterpret_cast<const char*>(pData) + cbHeader, cbData - cbHeader));
    return request;
}

// Empty when the run keeps the invariant, otherwise what broke it.
inline std::string CheckRun(const CHostRunRecord& record) {
    if (!record.m_vAnomalies.empty())
        return "host anomaly: " + record.m_vAnomalies.front();
    bool bEnded = false;
    for (const CHostNotificationRecord& notification : record.m_vNotifications) {
        if (notification.m_bException)
            return "exception left " + notification.m_csName + ": " + notification.m_csException;
        bEnded = bEnded || notification.m_dwCode == SF_NOTIFY_END_OF_REQUEST;
        for (const CHostBufferSubmission& submission : notification.m_vBufferSubmissions) {
            if (notification.m_dwCode != SF_NOTIFY_SEND_RAW_DATA)
                return "instructions submitted during " + notification.m_csName;
            if (!submission.m_bApplied)
                return "instructions that do not apply: " + submission.m_csApplyError;
        }
    }
    if (!bEnded)
        return "no END_OF_REQUEST";
    return std::string();
}

} // namespace pagefuzz
