#include "text/CaselessString.h"

#include <cstring>

CaselessString StripLeadingBlanks(const CaselessString& csText) {
    size_t nFirst = csText.find_first_not_of(' ');
    return nFirst == CaselessString::npos ? CaselessString() : csText.substr(nFirst);
}

namespace {

void AppendItem(std::vector<CaselessString>& vItems, CaselessString csItem, PFN_TokenTransform pfnTransform) {
    vItems.push_back(pfnTransform ? pfnTransform(csItem) : std::move(csItem));
}

} // namespace

bool SplitTokens(const CaselessString& csText, const CaselessString& csSeparator,
                 std::vector<CaselessString>& vItems, PFN_TokenTransform pfnTransform) {
    vItems.clear();
    if (csText.empty())
        return false;
    size_t nSep = csSeparator.empty() ? CaselessString::npos : csText.find(csSeparator);
    if (nSep == CaselessString::npos) {
        AppendItem(vItems, csText, pfnTransform);
        return true;
    }
    if (nSep > 0)
        AppendItem(vItems, csText.substr(0, nSep), pfnTransform);
    size_t nPos = nSep;
    while (nPos < csText.size()) {
        size_t nStart = nPos + csSeparator.size();
        size_t nNext = csText.find(csSeparator, nStart);
        size_t nEnd = nNext == CaselessString::npos ? csText.size() : nNext;
        if (nEnd == nStart)
            break;
        AppendItem(vItems, csText.substr(nStart, nEnd - nStart), pfnTransform);
        nPos = nEnd;
    }
    return !vItems.empty();
}

bool SplitList(const CaselessString& csText, const CaselessString& csSeparator,
               std::vector<CaselessString>& vItems, bool bStopAtEmpty) {
    if (bStopAtEmpty)
        return SplitTokens(csText, csSeparator, vItems, nullptr);
    vItems.clear();
    if (csText.empty() || csSeparator.empty()) {
        if (!csText.empty())
            vItems.push_back(csText);
        return !vItems.empty();
    }
    size_t nStart = 0;
    while (nStart <= csText.size()) {
        size_t nNext = csText.find(csSeparator, nStart);
        size_t nEnd = nNext == CaselessString::npos ? csText.size() : nNext;
        if (nEnd > nStart)
            vItems.push_back(csText.substr(nStart, nEnd - nStart));
        if (nNext == CaselessString::npos)
            break;
        nStart = nNext + csSeparator.size();
    }
    return !vItems.empty();
}

size_t FindCaseless(std::string_view text, std::string_view what, size_t nFrom) {
    if (nFrom > text.size() || what.size() > text.size() - nFrom)
        return std::string_view::npos;
    if (what.empty())
        return nFrom;
    const char chFirst = what.front();
    const bool bLetter = CCaselessTraits::Upper(chFirst) != chFirst || (chFirst >= 'A' && chFirst <= 'Z');
    const char* const pBegin = text.data();
    const char* const pLast = pBegin + (text.size() - what.size()); // the last place a match can start
    for (const char* p = pBegin + nFrom; p <= pLast; ++p) {
        if (!bLetter) {
            p = static_cast<const char*>(std::memchr(p, chFirst, static_cast<size_t>(pLast - p) + 1));
            if (!p)
                return std::string_view::npos;
        } else if (!CCaselessTraits::eq(*p, chFirst)) {
            continue;
        }
        if (CCaselessTraits::compare(p + 1, what.data() + 1, what.size() - 1) == 0)
            return static_cast<size_t>(p - pBegin);
    }
    return std::string_view::npos;
}
