// Wildcard patterns over the whole user-agent text, as administrators write them in the browser lists:
// "*" any run, "?" one character, anything else literal ignoring case; patterns of a list separated by "|".
#pragma once

#include "text/CaselessString.h"

#include <cstddef>
#include <string_view>

enum EWildCharToken {
    WILDCHAR_TOKEN_LITERAL = 0,
    WILDCHAR_TOKEN_STAR = 1,
    WILDCHAR_TOKEN_QUESTION = 2,
    WILDCHAR_TOKEN_END = 3,
};

class CWildCharParser {
public:
    explicit CWildCharParser(const CaselessString& csPattern) : m_csPattern(csPattern) {}
    virtual ~CWildCharParser() = default;

    // Takes the token under the cursor and moves past it.
    EWildCharToken NextToken(CaselessString& csToken);
    // Anchored at both ends; a literal takes its first occurrence, without backtracking to a later one.
    bool Match(const CaselessString& csText);

private:
    CaselessString m_csPattern;
    size_t m_nCursor = 0;
};

// 1 when some pattern of the list (up to its first empty item) matches the text, else 0.
int MatchWildcardList(std::string_view csUserAgent, std::string_view csPatternList);
