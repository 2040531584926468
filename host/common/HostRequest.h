// One request as a host hands it to the module, built fluently:
//
//     CHostRequest().Method("GET").Url("/owa/?Cmd=logoff").UserAgent(csAgent).SubscriptionType(ST_LOGOFF_CMD)
//
// The builder also carries the host's misbehaviours (a missing callback, a failing one) so that tests can
// drive the module's failure paths through the real ABI.
#pragma once

#include "abi/HostAbi.h"
#include "host/common/HostRecord.h"
#include "host/common/NotificationDriver.h"
#include "platform/ThreadIdentity.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// A GetHeader or GetServerVariable failure: the call returns FALSE with this last error and reports this
// size.
struct CHostReadFailure {
    std::string m_csName; // the name it applies to (ignoring case, trailing ":" ignored); empty: every name
    DWORD m_dwLastError = 0;
    DWORD m_dwReportedSize = 1;     // non-zero, so that a caller sees an error rather than an absent value
    bool m_bSecondCallOnly = false; // the sizing call behaves normally; the call with a buffer fails
};

class CHostRequest {
public:
    CHostRequest& Method(std::string csMethod);
    // The request URL as the client sent it: path, then optionally "?" and the query.
    CHostRequest& Url(std::string csUrl);
    CHostRequest& UserAgent(std::string csUserAgent);
    CHostRequest& Cookie(std::string csCookie);
    CHostRequest& AcceptLanguage(std::string csAcceptLanguage);
    CHostRequest& Referer(std::string csReferer);
    // Any other request header, readable through GetHeader (name without or with its trailing colon).
    CHostRequest& Header(std::string csName, std::string csValue);
    // A value for CRequestInfo's request-value map; overrides the one the host derives.
    CHostRequest& RequestValue(std::string csName, std::string csValue);
    CHostRequest& WithoutRequestValue(std::string csName);
    // A server variable for GetServerVariable; overrides the one the host derives.
    CHostRequest& ServerVariable(std::string csName, std::string csValue);
    CHostRequest& SubscriptionType(DWORD dwType);
    CHostRequest& LinkCriteria(DWORD dwLinkCriteria);
    CHostRequest& ResponseStatus(DWORD dwStatus);
    // A status sent before the final one (100 Continue): SEND_RESPONSE is sent once for each.
    CHostRequest& InterimStatus(DWORD dwStatus);
    // The response body; only with a body does the host send SEND_RAW_DATA.
    CHostRequest& ResponseBody(std::string csBody);
    // The response's header block (status line to the empty line), handed to SEND_RAW_DATA in front of the
    // body as the first data block of a response carries it; the browser receives only the body.
    CHostRequest& ResponseHeaderBlock(std::string csBlock);
    // The webmail address parts of CExchangeURL.
    CHostRequest& ExchangeServer(std::string csServer);
    CHostRequest& VirtualDir(std::string csVirtualDir);
    // The identity the notifications run under (set on the calling thread for each notification).
    CHostRequest& Identity(CIdentityToken spIdentity);

    CHostRequest& Without(EHostPart ePart);
    CHostRequest& FailRead(EHostCallback eCallback,
                           CHostReadFailure failure); // GetHeader or GetServerVariable
    // AddHeader succeeds this many times, then answers FALSE (last error 87) from then on.
    CHostRequest& FailAddHeaderAfter(size_t nSuccesses);
    CHostRequest& FailSetHeader();
    CHostRequest& ThrowFrom(EHostCallback eCallback);

    // The request split as the host does it.
    const std::string& GetMethod() const { return m_csMethod; }
    const std::string& GetUrl() const { return m_csUrl; }
    std::string GetPath() const;
    std::string GetQueryString() const;
    DWORD GetSubscriptionType() const { return m_dwSubscriptionType; }
    DWORD GetLinkCriteria() const { return m_dwLinkCriteria; }
    DWORD GetResponseStatus() const { return m_dwStatus; }
    const std::vector<DWORD>& GetInterimStatuses() const { return m_vInterimStatuses; }
    bool HasResponseBody() const { return m_bHasBody; }
    const std::string& GetResponseBody() const { return m_csBody; }
    const std::string& GetResponseHeaderBlock() const { return m_csHeaderBlock; }
    const CIdentityToken& GetIdentity() const { return m_spIdentity; }

    bool IsWithout(EHostPart ePart) const;
    bool Throws(EHostCallback eCallback) const;
    // The failure configured for this read, or null.
    const CHostReadFailure* FindReadFailure(EHostCallback eCallback, const std::string& csName) const;
    bool HasAddHeaderLimit() const { return m_bAddHeaderLimit; }
    size_t GetAddHeaderLimit() const { return m_nAddHeaderSuccesses; }
    bool FailsSetHeader() const { return m_bFailSetHeader; }

    // The host's objects for the CDLLContext.
    std::shared_ptr<CRequestInfo> BuildRequestInfo() const;
    std::shared_ptr<CExchangeURL> BuildExchangeURL() const;
    // The request headers in the order GetHeader searches them: the named ones, then Header()'s.
    std::vector<std::pair<std::string, std::string>> BuildHeaders() const;
    // Server variables by name, ignoring case.
    std::map<std::string, std::string, CCaselessLess> BuildServerVariables() const;

    CHostRequestSummary Summary() const;

private:
    std::string m_csMethod = "GET";
    std::string m_csUrl = "/owa/";
    bool m_bUserAgent = false, m_bCookie = false, m_bAcceptLanguage = false, m_bReferer = false;
    std::string m_csUserAgent, m_csCookie, m_csAcceptLanguage, m_csReferer;
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::vector<std::pair<std::string, std::string>> m_vRequestValues;
    std::vector<std::string> m_vRemovedRequestValues;
    std::vector<std::pair<std::string, std::string>> m_vServerVariables;
    DWORD m_dwSubscriptionType = 0;
    DWORD m_dwLinkCriteria = 0;
    DWORD m_dwStatus = 200;
    std::vector<DWORD> m_vInterimStatuses;
    bool m_bHasBody = false;
    std::string m_csBody;
    std::string m_csHeaderBlock;
    std::string m_csServer = "https://localhost";
    std::string m_csVirtualDir = "/owa";
    CIdentityToken m_spIdentity;
    std::vector<EHostPart> m_vWithout;
    std::vector<EHostCallback> m_vThrowing;
    std::vector<std::pair<EHostCallback, CHostReadFailure>> m_vReadFailures;
    bool m_bAddHeaderLimit = false;
    size_t m_nAddHeaderSuccesses = 0;
    bool m_bFailSetHeader = false;
};

// Splits a query string at "&" into names and values, decoding %XX and "+"; an item without "=" has an
// empty value, empty items are skipped, and the first occurrence of a name wins.
std::vector<std::pair<std::string, std::string>> ParseQueryString(const std::string& csQuery);
// %XX (two hexadecimal digits) and "+" decoded; a malformed escape stays as written.
std::string DecodeQueryComponent(const std::string& csText);
