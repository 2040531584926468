// What the request-header pre-processing decides about a request: which webmail pages its URL is, whether the
// browser may use webmail (the allow list, the blocked list and its exceptions), and the blocked-browser
// redirect that also drops the session cookies.
#pragma once

#include "abi/HostAbi.h"
#include "request/UserContextCookies.h"
#include "text/CaselessString.h"

#include <functional>
#include <string>

class CPreProcHeadersHelper {
public:
    // The webmail start page ("/owa", or "/owa/" and a user principal name); a query string disqualifies.
    static bool IsOWAStartPageURL(const CaselessString& csUrl, bool bClosingSlashRequired);
    static bool IsOWAStartPageURL_Helper(const CaselessString& csUrl, bool bClosingSlashRequired);
    // A URL of the guard's base page: its query names "bkwkbase", or it is the start page.
    static bool IsBKWKBaseURL(const CaselessString& csUrl, bool bClosingSlashRequired);
    // A request for the guard's base page: the host says so, or it is the start page and its referer shows it
    // is not a subframe of one.
    static bool IsBKWKBaseRequest(DWORD dwSubscriptionType, const CaselessString& csUrl,
                                  const CaselessString& csReferer);

    // Sets the client-kind flags and decides whether the browser is refused (dwBlock 1). 0, or 13 without a
    // context or its request values.
    static DWORD SetClientFlags_BlockBrowserIfNecessary(CDLLContext* pContext,
                                                        const CaselessString& csUserAgent, DWORD& dwBlock);
    static bool IsBrowserOnAllowList(const CaselessString& csName, const CaselessString& csVersion,
                                     const CaselessString& csPlatform);
    // Negative, zero or positive as the version is below, equal to or above the minimum; segments compare as
    // blank-padded texts, so that "9" sorts before "10".
    static int CompareBrowserVersions(const CaselessString& csVersion, const CaselessString& csMinimum);

    // Answers the request with a redirect to the blocked-browser page and the resets of the session cookies;
    // 0 when it was sent, 13 otherwise.
    static DWORD Redirect2BrowserBlockedPage(CDLLContext* pContext);
    // Appends a "Set-Cookie" removal line for each UserContext cookie of the cookie text.
    static void AppendRemoveUserContextCookieHeaders(const std::string& csCookies, std::string& csHeaders);
};
