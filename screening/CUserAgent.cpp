#include "screening/CUserAgent.h"

#include "platform/CPlatform.h"

namespace {

constexpr const char* WHITESPACE = " \r\n\t";
constexpr const char* PARTIAL_COMMENT = "invalid UserAgent  - partial comment";
const CaselessString FEP_PROXY_PREFIX = "Exch-Srv-FEP-Proxy";

CaselessString CleanProductToken(const CaselessString& csToken) {
    CaselessString csClean = TrimWhitespace(csToken);
    if (csClean.compare(0, FEP_PROXY_PREFIX.size(), FEP_PROXY_PREFIX) == 0) {
        const size_t nFirst = csClean.find_first_not_of(WHITESPACE, FEP_PROXY_PREFIX.size());
        csClean = nFirst == CaselessString::npos ? CaselessString() : csClean.substr(nFirst);
    }
    return csClean;
}

// The position of the ")" that closes the "(" at nOpen, or npos when the parentheses stay open.
size_t FindClosingParenthesis(const CaselessString& csText, size_t nOpen) {
    size_t nDepth = 1;
    for (size_t n = nOpen + 1; n < csText.size(); ++n) {
        if (csText[n] == '(')
            ++nDepth;
        else if (csText[n] == ')' && --nDepth == 0)
            return n;
    }
    return CaselessString::npos;
}

bool IsWhitespace(char ch) {
    return ch == ' ' || ch == '\r' || ch == '\n' || ch == '\t';
}

// A comment written as "((...))" stands for its inner text. Unwrapped by moving the bounds, so that a header
// of many nested parentheses costs no more than its length.
CaselessString UnwrapComment(const CaselessString& csText, size_t nBegin, size_t nEnd) {
    for (;;) {
        while (nBegin < nEnd && IsWhitespace(csText[nBegin]))
            ++nBegin;
        while (nEnd > nBegin && IsWhitespace(csText[nEnd - 1]))
            --nEnd;
        if (nEnd - nBegin < 2 || csText[nBegin] != '(' || csText[nEnd - 1] != ')')
            return csText.substr(nBegin, nEnd - nBegin);
        ++nBegin;
        --nEnd;
    }
}

} // namespace

CaselessString TrimWhitespace(const CaselessString& csText) {
    const size_t nFirst = csText.find_first_not_of(WHITESPACE);
    if (nFirst == CaselessString::npos)
        return CaselessString();
    return csText.substr(nFirst, csText.find_last_not_of(WHITESPACE) - nFirst + 1);
}

CUserAgent::CUserAgent(const CaselessString& csUserAgent) : m_csUserAgent(csUserAgent) {
    if (!m_csUserAgent.empty())
        m_dwParsed = Parse(m_csUserAgent) ? 1 : 0;
}

bool CUserAgent::Parse(const CaselessString& csUserAgent) {
    const size_t nOpen = csUserAgent.find('(');
    if (nOpen == CaselessString::npos) {
        OutputDebugText("user agent string without comment");
        if (csUserAgent.find(')') != CaselessString::npos) {
            OutputDebugText(PARTIAL_COMMENT);
            return false;
        }
        m_csProductToken = CleanProductToken(csUserAgent);
        return !m_csProductToken.empty();
    }
    OutputDebugText("Parse ProductToken");
    m_csProductToken = CleanProductToken(csUserAgent.substr(0, nOpen));
    const size_t nClose = FindClosingParenthesis(csUserAgent, nOpen);
    if (nClose == CaselessString::npos) {
        OutputDebugText(PARTIAL_COMMENT);
        return false;
    }
    OutputDebugText("Parse ProductComment");
    m_csComment = UnwrapComment(csUserAgent, nOpen + 1, nClose);
    const bool bResult = !m_csProductToken.empty() || !m_csComment.empty();
    if (nClose + 1 == csUserAgent.size())
        return bResult;
    OutputDebugText("Parse VendorProductToken");
    m_csVendorProductToken = TrimWhitespace(csUserAgent.substr(nClose + 1));
    return bResult;
}

const CaselessString& CUserAgent::GetProductName() {
    if (m_csProductName.empty())
        DeriveProductNameAndVersion();
    return m_csProductName;
}

const CaselessString& CUserAgent::GetProductVersion() {
    if (m_csProductName.empty())
        DeriveProductNameAndVersion();
    return m_csProductVersion;
}

void CUserAgent::DeriveProductNameAndVersion() {
    const CaselessString csWord = m_csProductToken.substr(0, m_csProductToken.find(' '));
    const size_t nSlash = csWord.find('/');
    m_csProductName = csWord.substr(0, nSlash);
    if (nSlash != CaselessString::npos && nSlash + 1 < csWord.size())
        m_csProductVersion = csWord.substr(nSlash + 1);
}

CaselessString GetTextBetween(const CaselessString& csText, const CaselessString& csStart,
                              const CaselessString& csEnd, size_t nPos) {
    const size_t nStart = csText.find(csStart, nPos);
    if (nStart == CaselessString::npos)
        return CaselessString();
    const size_t nFrom = nStart + csStart.size();
    const size_t nEnd = csText.find(csEnd, nFrom);
    return csText.substr(nFrom, nEnd == CaselessString::npos ? CaselessString::npos : nEnd - nFrom);
}
