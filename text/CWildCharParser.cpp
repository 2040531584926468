#include "text/CWildCharParser.h"

namespace {

// The token at nCursor, as a view into the pattern; moves the cursor past it. Matching runs for every request
// over every pattern of the lists, so it reads the pattern in place rather than copying tokens.
EWildCharToken ReadToken(CaselessStringView svPattern, size_t& nCursor, CaselessStringView& svToken) {
    svToken = CaselessStringView();
    if (nCursor >= svPattern.size())
        return WILDCHAR_TOKEN_END;
    const size_t nStart = nCursor;
    const char ch = svPattern[nCursor];
    if (ch == '?') {
        ++nCursor;
        svToken = svPattern.substr(nStart, 1);
        return WILDCHAR_TOKEN_QUESTION;
    }
    const EWildCharToken eKind = ch == '*' ? WILDCHAR_TOKEN_STAR : WILDCHAR_TOKEN_LITERAL;
    if (eKind == WILDCHAR_TOKEN_STAR)
        nCursor = svPattern.find_first_not_of('*', nStart);
    else
        nCursor = svPattern.find_first_of("*?", nStart);
    if (nCursor == CaselessStringView::npos)
        nCursor = svPattern.size();
    svToken = svPattern.substr(nStart, nCursor - nStart);
    return eKind;
}

bool MatchFromCursor(CaselessStringView svPattern, size_t& nCursor, CaselessStringView svText) {
    size_t nPos = 0, cPendingQuestions = 0;
    bool bStarPending = false;
    CaselessStringView svToken;
    for (;;) {
        switch (ReadToken(svPattern, nCursor, svToken)) {
        case WILDCHAR_TOKEN_STAR:
            bStarPending = true;
            break;
        case WILDCHAR_TOKEN_QUESTION:
            ++cPendingQuestions;
            break;
        case WILDCHAR_TOKEN_LITERAL: {
            nPos += cPendingQuestions;
            cPendingQuestions = 0;
            if (nPos >= svText.size())
                return false;
            // Without a star before it the literal must stand right here: no need to search the rest.
            const size_t nFound = bStarPending                               ? svText.find(svToken, nPos)
                                  : svText.substr(nPos).starts_with(svToken) ? nPos
                                                                             : CaselessStringView::npos;
            if (nFound == CaselessStringView::npos)
                return false;
            bStarPending = false;
            nPos = nFound + svToken.size();
            break;
        }
        case WILDCHAR_TOKEN_END:
            if (cPendingQuestions)
                return svText.size() - nPos >= cPendingQuestions;
            return bStarPending || nPos == svText.size();
        }
    }
}

bool MatchPattern(CaselessStringView svPattern, CaselessStringView svText) {
    size_t nCursor = 0;
    return !svPattern.empty() && MatchFromCursor(svPattern, nCursor, svText);
}

} // namespace

EWildCharToken CWildCharParser::NextToken(CaselessString& csToken) {
    CaselessStringView svToken;
    const EWildCharToken eKind = ReadToken(m_csPattern, m_nCursor, svToken);
    csToken.assign(svToken.data(), svToken.size());
    return eKind;
}

bool CWildCharParser::Match(const CaselessString& csText) {
    if (m_csPattern.empty())
        return false;
    m_nCursor = 0;
    return MatchFromCursor(m_csPattern, m_nCursor, csText);
}

// Walks the list the way SplitTokens splits it: a leading separator is passed over, and the first empty item
// after it ends the list.
int MatchWildcardList(std::string_view csUserAgent, std::string_view csPatternList) {
    const CaselessStringView svList(csPatternList.data(), csPatternList.size());
    const CaselessStringView svText(csUserAgent.data(), csUserAgent.size());
    size_t nStart = !svList.empty() && svList[0] == '|' ? 1 : 0;
    while (nStart < svList.size()) {
        const size_t nNext = svList.find('|', nStart);
        const size_t nEnd = nNext == CaselessStringView::npos ? svList.size() : nNext;
        if (nEnd == nStart)
            return 0;
        if (MatchPattern(svList.substr(nStart, nEnd - nStart), svText))
            return 1;
        nStart = nEnd + 1;
    }
    return 0;
}
