#include "text/CWildCharParser.h"

#include <vector>

EWildCharToken CWildCharParser::NextToken(CaselessString& csToken) {
    csToken.clear();
    if (m_nCursor >= m_csPattern.size())
        return WILDCHAR_TOKEN_END;
    const size_t nStart = m_nCursor;
    const char ch = m_csPattern[m_nCursor];
    if (ch == '?') {
        ++m_nCursor;
        csToken = m_csPattern.substr(nStart, 1);
        return WILDCHAR_TOKEN_QUESTION;
    }
    const EWildCharToken eKind = ch == '*' ? WILDCHAR_TOKEN_STAR : WILDCHAR_TOKEN_LITERAL;
    if (eKind == WILDCHAR_TOKEN_STAR)
        m_nCursor = m_csPattern.find_first_not_of('*', nStart);
    else
        m_nCursor = m_csPattern.find_first_of("*?", nStart);
    if (m_nCursor == CaselessString::npos)
        m_nCursor = m_csPattern.size();
    csToken = m_csPattern.substr(nStart, m_nCursor - nStart);
    return eKind;
}

bool CWildCharParser::Match(const CaselessString& csText) {
    if (m_csPattern.empty())
        return false;
    m_nCursor = 0;
    size_t nPos = 0, cPendingQuestions = 0;
    bool bStarPending = false;
    CaselessString csToken;
    for (;;) {
        switch (NextToken(csToken)) {
        case WILDCHAR_TOKEN_STAR:
            bStarPending = true;
            break;
        case WILDCHAR_TOKEN_QUESTION:
            ++cPendingQuestions;
            break;
        case WILDCHAR_TOKEN_LITERAL: {
            nPos += cPendingQuestions;
            cPendingQuestions = 0;
            if (nPos >= csText.size())
                return false;
            const size_t nFound = csText.find(csToken, nPos);
            if (nFound == CaselessString::npos || (!bStarPending && nFound != nPos))
                return false;
            bStarPending = false;
            nPos = nFound + csToken.size();
            break;
        }
        case WILDCHAR_TOKEN_END:
            if (cPendingQuestions)
                return csText.size() - nPos >= cPendingQuestions;
            return bStarPending || nPos == csText.size();
        }
    }
}

int MatchWildcardList(std::string_view csUserAgent, std::string_view csPatternList) {
    if (csPatternList.empty())
        return 0;
    std::vector<CaselessString> vPatterns;
    SplitList(ToCaseless(csPatternList), "|", vPatterns, true);
    const CaselessString csText = ToCaseless(csUserAgent);
    for (const CaselessString& csPattern : vPatterns) {
        if (!csPattern.empty() && CWildCharParser(csPattern).Match(csText))
            return 1;
    }
    return 0;
}
