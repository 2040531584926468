// The browser identified from a user agent, and the four recognizers that identify one. Out of memory
// surfaces as std::bad_alloc; the browser policy catches it.
#pragma once

#include "screening/CUserAgent.h"

#include <memory>
#include <string_view>
#include <utility>

class CBrowser;
typedef std::shared_ptr<CUserAgent> CUserAgentPtr;
typedef std::shared_ptr<CBrowser> CBrowserPtr;

class CBrowser {
public:
    CBrowser(CUserAgentPtr spUserAgent, const CaselessString& csName, const CaselessString& csVersion,
             const CaselessString& csPlatform)
        : m_spUserAgent(std::move(spUserAgent)), m_csBrowserName(csName), m_csBrowserVersion(csVersion),
          m_csPlatform(csPlatform) {}
    virtual ~CBrowser() = default;

    // 1 with spBrowser set when a recognizer accepts the user agent, else 0.
    static int CreateBrowser(std::string_view csUserAgent, CBrowserPtr& spBrowser);

    const CUserAgentPtr& GetUserAgent() const { return m_spUserAgent; }
    const CaselessString& GetMozillaVersion() const { return m_csMozillaVersion; }
    const CaselessString& GetBrowserName() const { return m_csBrowserName; }
    const CaselessString& GetBrowserVersion() const { return m_csBrowserVersion; }
    const CaselessString& GetPlatform() const { return m_csPlatform; }

private:
    CUserAgentPtr m_spUserAgent;
    CaselessString m_csMozillaVersion; // no recognizer fills it; the policy logs it
    CaselessString m_csBrowserName;
    CaselessString m_csBrowserVersion;
    CaselessString m_csPlatform;
};

class CBrowserMsie : public CBrowser {
public:
    using CBrowser::CBrowser;
    static int Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser);
};

// Netscape 4 only: later Netscapes are Gecko browsers.
class CBrowserNetscape : public CBrowser {
public:
    using CBrowser::CBrowser;
    static int Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser);
};

class CBrowserSafari : public CBrowser {
public:
    using CBrowser::CBrowser;
    static int Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser);
};

struct SGeckoComment {
    CaselessString csPlatform, csSecurity, csOsCpu, csLocale, csRevision;
};

class CBrowserGecko : public CBrowser {
public:
    CBrowserGecko(CUserAgentPtr spUserAgent, const CaselessString& csName, const CaselessString& csVersion,
                  const SGeckoComment& comment)
        : CBrowser(std::move(spUserAgent), csName, csVersion, comment.csPlatform),
          m_csSecurity(comment.csSecurity), m_csOsCpu(comment.csOsCpu), m_csLocale(comment.csLocale),
          m_csRevision(comment.csRevision) {}
    static int Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser);

    const CaselessString& GetSecurity() const { return m_csSecurity; }
    const CaselessString& GetOsCpu() const { return m_csOsCpu; }
    const CaselessString& GetLocale() const { return m_csLocale; }
    const CaselessString& GetRevision() const { return m_csRevision; }

private:
    CaselessString m_csSecurity;
    CaselessString m_csOsCpu;
    CaselessString m_csLocale;
    CaselessString m_csRevision;
};
