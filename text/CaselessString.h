// Byte text whose equality, ordering and search ignore ASCII letter case, and the list splitters that
// request screening, the browser policy and the page forms share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct CCaselessTraits : std::char_traits<char> {
    static char Upper(char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch; }
    static bool eq(char a, char b) { return Upper(a) == Upper(b); }
    static bool lt(char a, char b) {
        return static_cast<unsigned char>(Upper(a)) < static_cast<unsigned char>(Upper(b));
    }
    static int compare(const char* a, const char* b, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (lt(a[i], b[i]))
                return -1;
            if (lt(b[i], a[i]))
                return 1;
        }
        return 0;
    }
    static const char* find(const char* p, size_t n, char ch) {
        for (size_t i = 0; i < n; ++i)
            if (eq(p[i], ch))
                return p + i;
        return nullptr;
    }
};

typedef std::basic_string<char, CCaselessTraits> CaselessString;
typedef std::basic_string_view<char, CCaselessTraits> CaselessStringView;

inline CaselessString ToCaseless(std::string_view sv) {
    return CaselessString(sv.data(), sv.size());
}
inline std::string ToPlain(CaselessStringView sv) {
    return std::string(sv.data(), sv.size());
}

// Plain texts compared and searched ignoring ASCII letter case (never the locale's idea of case).
inline bool EqualsCaseless(std::string_view a, std::string_view b) {
    return CaselessStringView(a.data(), a.size()) == CaselessStringView(b.data(), b.size());
}
// As std::string_view::find ignoring case. A first character that is no letter is looked for with memchr,
// which is how the page forms' placeholders ("###...") are found fast in the dialog templates.
size_t FindCaseless(std::string_view text, std::string_view what, size_t nFrom = 0);

// Orders plain texts ignoring ASCII letter case (for maps keyed by names that ignore case).
struct CCaselessLess {
    bool operator()(std::string_view a, std::string_view b) const {
        return CaselessStringView(a.data(), a.size()) < CaselessStringView(b.data(), b.size());
    }
    using is_transparent = void;
};

typedef CaselessString (*PFN_TokenTransform)(const CaselessString&);

// Removes leading blanks (" ") only.
CaselessString StripLeadingBlanks(const CaselessString& csText);

// Splits at a separator; an empty item ends the list. False (and no items) for an empty text.
bool SplitTokens(const CaselessString& csText, const CaselessString& csSeparator,
                 std::vector<CaselessString>& vItems, PFN_TokenTransform pfnTransform = nullptr);

// The list splitter of pattern lists: with bStopAtEmpty it splits as SplitTokens without a transform;
// without it, empty items are skipped and the split goes on.
bool SplitList(const CaselessString& csText, const CaselessString& csSeparator,
               std::vector<CaselessString>& vItems, bool bStopAtEmpty);
