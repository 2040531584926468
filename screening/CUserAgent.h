// The User-Agent request header split into product token, comment and vendor product token. Tolerant: a
// malformed header parses to false, never to an error.
#pragma once

#include "platform/WinTypes.h"
#include "text/CaselessString.h"
#include "text/UserAgentTraits.h"

#include <cstddef>
#include <string_view>

class CUserAgent {
public:
    explicit CUserAgent(const CaselessString& csUserAgent);
    virtual ~CUserAgent() = default;

    // Progress notes go to the debugger output channel, not to the diagnostic log.
    bool Parse(const CaselessString& csUserAgent);
    // Both derived from the product token's first word on the first call.
    const CaselessString& GetProductName();
    const CaselessString& GetProductVersion();

    const CaselessString& GetUserAgent() const { return m_csUserAgent; }
    const CaselessString& GetProductToken() const { return m_csProductToken; }
    const CaselessString& GetComment() const { return m_csComment; }
    const CaselessString& GetVendorProductToken() const { return m_csVendorProductToken; }
    bool IsParsed() const { return m_dwParsed != 0; }

private:
    void DeriveProductNameAndVersion();

    CaselessString m_csUserAgent;
    CaselessString m_csProductToken;
    CaselessString m_csComment;
    CaselessString m_csVendorProductToken;
    DWORD m_dwParsed = 0;
    CaselessString m_csProductName;
    CaselessString m_csProductVersion;
};

// The whitespace set of user-agent texts: blank, carriage return, line feed, tab.
CaselessString TrimWhitespace(const CaselessString& csText);

// The text after the first csStart at or after nPos, up to the next csEnd or the end; empty without csStart.
CaselessString GetTextBetween(const CaselessString& csText, const CaselessString& csStart,
                              const CaselessString& csEnd, size_t nPos);
