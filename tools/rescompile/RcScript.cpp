#include "tools/rescompile/RcScript.h"

#include "i18n/ResourceModuleData.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

enum class ETokenType { End, Identifier, Number, String, Comma, OpenBrace, CloseBrace, Pragma };

struct CToken {
    ETokenType eType = ETokenType::End;
    int nLine = 0;
    std::string csText;      // identifier, or the pragma's line
    uint32_t nValue = 0;     // number
    std::u16string wsString; // string
};

bool IsIdentifierStart(char ch) {
    return std::isalpha(static_cast<unsigned char>(ch)) || ch == '_';
}
bool IsIdentifierChar(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_';
}
bool EqualsNoCase(const std::string& csA, const char* pszB) {
    size_t i = 0;
    for (; i < csA.size() && pszB[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(csA[i])) !=
            std::toupper(static_cast<unsigned char>(pszB[i])))
            return false;
    return i == csA.size() && !pszB[i];
}
void AppendCodePoint(std::u16string& ws, uint32_t nCodePoint) {
    if (nCodePoint < 0x10000) {
        ws.push_back(static_cast<char16_t>(nCodePoint));
    } else {
        nCodePoint -= 0x10000;
        ws.push_back(static_cast<char16_t>(0xD800 + (nCodePoint >> 10)));
        ws.push_back(static_cast<char16_t>(0xDC00 + (nCodePoint & 0x3FF)));
    }
}

class CLexer {
public:
    CLexer(const std::string& csFile, const std::string& csText) : m_csFile(csFile), m_csText(csText) {
        if (m_csText.compare(0, 3, "\xEF\xBB\xBF") == 0)
            m_nPos = 3;
    }

    // The next token, or false with the error.
    bool Next(CToken& token, std::string& csError) {
        token = CToken();
        if (!SkipBlanksAndComments(csError))
            return false;
        token.nLine = m_nLine;
        if (m_nPos >= m_csText.size()) {
            token.eType = ETokenType::End;
            return true;
        }
        const char ch = m_csText[m_nPos];
        if (ch == '#')
            return ReadDirective(token, csError);
        if (ch == ',' || ch == '{' || ch == '}') {
            token.eType = ch == ','   ? ETokenType::Comma
                          : ch == '{' ? ETokenType::OpenBrace
                                      : ETokenType::CloseBrace;
            ++m_nPos;
            return true;
        }
        if (ch == '"')
            return ReadString(token, csError);
        if ((ch == 'L' || ch == 'l') && m_nPos + 1 < m_csText.size() && m_csText[m_nPos + 1] == '"') {
            ++m_nPos;
            return ReadString(token, csError);
        }
        if (std::isdigit(static_cast<unsigned char>(ch)))
            return ReadNumber(token, csError);
        if (IsIdentifierStart(ch)) {
            size_t nStart = m_nPos;
            while (m_nPos < m_csText.size() && IsIdentifierChar(m_csText[m_nPos]))
                ++m_nPos;
            token.eType = ETokenType::Identifier;
            token.csText = m_csText.substr(nStart, m_nPos - nStart);
            return true;
        }
        char szText[64];
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7F)
            std::snprintf(szText, sizeof(szText), "unexpected byte 0x%02X", static_cast<unsigned char>(ch));
        else
            std::snprintf(szText, sizeof(szText), "unexpected character '%c'", ch);
        return Fail(m_nLine, szText, csError);
    }

    bool Fail(int nLine, const std::string& csMessage, std::string& csError) const {
        csError = m_csFile + ":" + std::to_string(nLine) + ": " + csMessage;
        return false;
    }

private:
    bool SkipBlanksAndComments(std::string& csError) {
        while (m_nPos < m_csText.size()) {
            const char ch = m_csText[m_nPos];
            if (ch == '\n') {
                ++m_nLine;
                ++m_nPos;
            } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\f' || ch == '\v') {
                ++m_nPos;
            } else if (m_csText.compare(m_nPos, 2, "//") == 0) {
                while (m_nPos < m_csText.size() && m_csText[m_nPos] != '\n')
                    ++m_nPos;
            } else if (m_csText.compare(m_nPos, 2, "/*") == 0) {
                const int nStartLine = m_nLine;
                const size_t nEnd = m_csText.find("*/", m_nPos + 2);
                if (nEnd == std::string::npos)
                    return Fail(nStartLine, "unterminated comment", csError);
                m_nLine +=
                    static_cast<int>(std::count(m_csText.begin() + static_cast<std::ptrdiff_t>(m_nPos),
                                                m_csText.begin() + static_cast<std::ptrdiff_t>(nEnd), '\n'));
                m_nPos = nEnd + 2;
            } else {
                break;
            }
        }
        return true;
    }

    // Only the code-page pragma: the resource compiler needs it to read UTF-8, and nothing else is needed.
    bool ReadDirective(CToken& token, std::string& csError) {
        const size_t nEnd = std::min(m_csText.find('\n', m_nPos), m_csText.size());
        std::string csLine = m_csText.substr(m_nPos, nEnd - m_nPos);
        m_nPos = nEnd;
        const size_t nComment = csLine.find("//");
        if (nComment != std::string::npos)
            csLine.erase(nComment);
        std::string csCompact;
        for (char ch : csLine)
            if (!std::isspace(static_cast<unsigned char>(ch)))
                csCompact += ch;
        if (csCompact.compare(0, 7, "#pragma") != 0)
            return Fail(token.nLine,
                        "unsupported directive '" + csLine.substr(0, csLine.find_first_of(" \t\r")) + "'",
                        csError);
        if (csCompact != "#pragmacode_page(65001)")
            return Fail(token.nLine, "only '#pragma code_page(65001)' is supported: the scripts are UTF-8",
                        csError);
        token.eType = ETokenType::Pragma;
        token.csText = csLine;
        return true;
    }

    bool ReadNumber(CToken& token, std::string& csError) {
        uint64_t qwValue = 0;
        unsigned nBase = 10;
        if (m_csText.compare(m_nPos, 2, "0x") == 0 || m_csText.compare(m_nPos, 2, "0X") == 0) {
            nBase = 16;
            m_nPos += 2;
        }
        const size_t nDigits = m_nPos;
        while (m_nPos < m_csText.size() && std::isxdigit(static_cast<unsigned char>(m_csText[m_nPos]))) {
            const char ch = m_csText[m_nPos];
            unsigned nDigit =
                std::isdigit(static_cast<unsigned char>(ch))
                    ? static_cast<unsigned>(ch - '0')
                    : static_cast<unsigned>(std::toupper(static_cast<unsigned char>(ch)) - 'A' + 10);
            if (nDigit >= nBase)
                break;
            qwValue = qwValue * nBase + nDigit;
            if (qwValue > 0xFFFFFFFFull)
                return Fail(token.nLine, "number too large", csError);
            ++m_nPos;
        }
        if (m_nPos == nDigits)
            return Fail(token.nLine, "hexadecimal number without digits", csError);
        if (m_nPos < m_csText.size() && m_csText[m_nPos] != '\0' && std::strchr("LlUu", m_csText[m_nPos]))
            ++m_nPos;
        if (m_nPos < m_csText.size() && IsIdentifierChar(m_csText[m_nPos]))
            return Fail(token.nLine, "malformed number", csError);
        token.eType = ETokenType::Number;
        token.nValue = static_cast<uint32_t>(qwValue);
        return true;
    }

    bool ReadString(CToken& token, std::string& csError) {
        ++m_nPos; // the opening quote
        token.eType = ETokenType::String;
        std::u16string& ws = token.wsString;
        while (true) {
            if (m_nPos >= m_csText.size() || m_csText[m_nPos] == '\n' || m_csText[m_nPos] == '\r')
                return Fail(token.nLine, "unterminated string", csError);
            const unsigned char ch = static_cast<unsigned char>(m_csText[m_nPos]);
            if (ch == '"') {
                if (m_nPos + 1 < m_csText.size() && m_csText[m_nPos + 1] == '"') {
                    ws.push_back(u'"');
                    m_nPos += 2;
                    continue;
                }
                ++m_nPos;
                return true;
            }
            if (ch == '\\') {
                if (!ReadEscape(ws, token.nLine, csError))
                    return false;
                continue;
            }
            if (ch < 0x80) {
                if (ch < 0x20 && ch != '\t')
                    return Fail(token.nLine, "control character in string; write it as an escape", csError);
                ws.push_back(static_cast<char16_t>(ch));
                ++m_nPos;
                continue;
            }
            uint32_t nCodePoint = 0;
            if (!DecodeUtf8(nCodePoint))
                return Fail(token.nLine, "invalid UTF-8 in string", csError);
            AppendCodePoint(ws, nCodePoint);
        }
    }

    bool ReadEscape(std::u16string& ws, int nLine, std::string& csError) {
        if (m_nPos + 1 >= m_csText.size())
            return Fail(nLine, "unterminated string", csError);
        const char ch = m_csText[m_nPos + 1];
        m_nPos += 2;
        switch (ch) {
        case 'n':
            ws.push_back(u'\n');
            return true;
        case 't':
            ws.push_back(u'\t');
            return true;
        case 'r':
            ws.push_back(u'\r');
            return true;
        case '\\':
            ws.push_back(u'\\');
            return true;
        case '"':
            ws.push_back(u'"');
            return true;
        case 'x':
        case 'X': {
            uint32_t nValue = 0;
            size_t cDigits = 0;
            while (cDigits < 4 && m_nPos < m_csText.size() &&
                   std::isxdigit(static_cast<unsigned char>(m_csText[m_nPos]))) {
                const char chDigit = m_csText[m_nPos];
                nValue =
                    nValue * 16 +
                    static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(chDigit))
                                              ? chDigit - '0'
                                              : std::toupper(static_cast<unsigned char>(chDigit)) - 'A' + 10);
                ++m_nPos;
                ++cDigits;
            }
            if (cDigits == 0)
                return Fail(nLine, "bad escape sequence '\\x' without hexadecimal digits", csError);
            ws.push_back(static_cast<char16_t>(nValue));
            return true;
        }
        default:
            break;
        }
        if (ch >= '0' && ch <= '7') {
            uint32_t nValue = static_cast<uint32_t>(ch - '0');
            for (int i = 0;
                 i < 2 && m_nPos < m_csText.size() && m_csText[m_nPos] >= '0' && m_csText[m_nPos] <= '7';
                 ++i, ++m_nPos)
                nValue = nValue * 8 + static_cast<uint32_t>(m_csText[m_nPos] - '0');
            ws.push_back(static_cast<char16_t>(nValue));
            return true;
        }
        if (ch == '\n' || ch == '\r')
            return Fail(nLine, "unterminated string", csError);
        const unsigned char uch = static_cast<unsigned char>(ch);
        char szShown[8];
        if (uch >= 0x20 && uch < 0x7F)
            std::snprintf(szShown, sizeof(szShown), "%c", ch);
        else
            std::snprintf(szShown, sizeof(szShown), "<0x%02X>", uch);
        return Fail(nLine, std::string("bad escape sequence '\\") + szShown + "'", csError);
    }

    // One well-formed UTF-8 sequence: no overlong forms, no surrogates, nothing above U+10FFFF.
    bool DecodeUtf8(uint32_t& nCodePoint) {
        const unsigned char chLead = static_cast<unsigned char>(m_csText[m_nPos]);
        size_t cTrail = 0;
        uint32_t nMin = 0;
        if (chLead >= 0xC2 && chLead <= 0xDF) {
            cTrail = 1;
            nCodePoint = chLead & 0x1F;
            nMin = 0x80;
        } else if (chLead >= 0xE0 && chLead <= 0xEF) {
            cTrail = 2;
            nCodePoint = chLead & 0x0F;
            nMin = 0x800;
        } else if (chLead >= 0xF0 && chLead <= 0xF4) {
            cTrail = 3;
            nCodePoint = chLead & 0x07;
            nMin = 0x10000;
        } else {
            return false;
        }
        if (m_csText.size() - m_nPos <= cTrail)
            return false;
        for (size_t i = 1; i <= cTrail; ++i) {
            const unsigned char chTrail = static_cast<unsigned char>(m_csText[m_nPos + i]);
            if ((chTrail & 0xC0) != 0x80)
                return false;
            nCodePoint = (nCodePoint << 6) | (chTrail & 0x3F);
        }
        if (nCodePoint < nMin || nCodePoint > 0x10FFFF || (nCodePoint >= 0xD800 && nCodePoint <= 0xDFFF))
            return false;
        m_nPos += cTrail + 1;
        return true;
    }

    const std::string& m_csFile;
    const std::string& m_csText;
    size_t m_nPos = 0;
    int m_nLine = 1;
};

class CScriptParser {
public:
    CScriptParser(const std::string& csFile, const std::string& csText)
        : m_csFile(csFile), m_lexer(csFile, csText) {}

    bool Parse(std::vector<CRcString>& vStrings, std::string& csError) {
        if (!Advance(csError))
            return false;
        while (m_token.eType != ETokenType::End) {
            if (m_token.eType == ETokenType::Pragma) {
                if (!Advance(csError))
                    return false;
            } else if (IsKeyword("LANGUAGE")) {
                if (!ParseLanguage(m_wLangId, csError))
                    return false;
                m_bHasLanguage = true;
            } else if (IsKeyword("STRINGTABLE")) {
                if (!ParseStringTable(vStrings, csError))
                    return false;
            } else {
                return m_lexer.Fail(m_token.nLine,
                                    "expected LANGUAGE or STRINGTABLE, found " + Describe(m_token) +
                                        " (only string tables are read)",
                                    csError);
            }
        }
        return true;
    }

private:
    bool Advance(std::string& csError) { return m_lexer.Next(m_token, csError); }

    bool IsKeyword(const char* pszKeyword) const {
        return m_token.eType == ETokenType::Identifier && EqualsNoCase(m_token.csText, pszKeyword);
    }

    static std::string Describe(const CToken& token) {
        switch (token.eType) {
        case ETokenType::End:
            return "the end of the file";
        case ETokenType::Identifier:
            return "'" + token.csText + "'";
        case ETokenType::Number:
            return "the number " + std::to_string(token.nValue);
        case ETokenType::String:
            return "a string";
        case ETokenType::Comma:
            return "','";
        case ETokenType::OpenBrace:
            return "'{'";
        case ETokenType::CloseBrace:
            return "'}'";
        case ETokenType::Pragma:
            return "a #pragma";
        }
        return "a token";
    }

    bool ExpectNumber(const char* pszWhat, uint32_t& nValue, std::string& csError) {
        if (m_token.eType != ETokenType::Number)
            return m_lexer.Fail(m_token.nLine,
                                std::string("expected ") + pszWhat + ", found " + Describe(m_token), csError);
        nValue = m_token.nValue;
        return Advance(csError);
    }

    // LANGUAGE primary, sub
    bool ParseLanguage(LANGID& wLangId, std::string& csError) {
        const int nLine = m_token.nLine;
        uint32_t nPrimary = 0, nSub = 0;
        if (!Advance(csError) || !ExpectNumber("the primary language number", nPrimary, csError))
            return false;
        if (m_token.eType != ETokenType::Comma)
            return m_lexer.Fail(m_token.nLine,
                                "expected ',' between the primary language and the sublanguage", csError);
        if (!Advance(csError) || !ExpectNumber("the sublanguage number", nSub, csError))
            return false;
        char szText[96];
        if (nPrimary > 0x3FF) {
            std::snprintf(szText, sizeof(szText), "primary language 0x%X is out of range (0 to 0x3FF)",
                          nPrimary);
            return m_lexer.Fail(nLine, szText, csError);
        }
        if (nSub > 0x3F) {
            std::snprintf(szText, sizeof(szText), "sublanguage 0x%X is out of range (0 to 0x3F)", nSub);
            return m_lexer.Fail(nLine, szText, csError);
        }
        wLangId = static_cast<LANGID>((nSub << 10) | nPrimary);
        return true;
    }

    bool ParseStringTable(std::vector<CRcString>& vStrings, std::string& csError) {
        const int nTableLine = m_token.nLine;
        bool bHasLanguage = m_bHasLanguage;
        LANGID wLangId = m_wLangId;
        if (!Advance(csError))
            return false;
        // Options until BEGIN.
        while (!IsKeyword("BEGIN") && m_token.eType != ETokenType::OpenBrace) {
            if (IsKeyword("LANGUAGE")) {
                if (!ParseLanguage(wLangId, csError))
                    return false;
                bHasLanguage = true;
            } else if (IsKeyword("CHARACTERISTICS") || IsKeyword("VERSION")) {
                uint32_t nIgnored = 0;
                if (!Advance(csError) || !ExpectNumber("a number", nIgnored, csError))
                    return false;
            } else if (IsKeyword("DISCARDABLE") || IsKeyword("MOVEABLE") || IsKeyword("FIXED") ||
                       IsKeyword("PURE") || IsKeyword("IMPURE") || IsKeyword("PRELOAD") ||
                       IsKeyword("LOADONCALL") || IsKeyword("SHARED") || IsKeyword("NONSHARED")) {
                if (!Advance(csError))
                    return false;
            } else {
                return m_lexer.Fail(m_token.nLine,
                                    "expected BEGIN after STRINGTABLE, found " + Describe(m_token), csError);
            }
        }
        if (!bHasLanguage)
            return m_lexer.Fail(nTableLine, "STRINGTABLE without a LANGUAGE statement before it", csError);
        if (!Advance(csError))
            return false;
        std::set<uint32_t> setIds;
        while (!IsKeyword("END") && m_token.eType != ETokenType::CloseBrace) {
            if (m_token.eType == ETokenType::End)
                return m_lexer.Fail(m_token.nLine,
                                    "end of file inside the STRINGTABLE of line " +
                                        std::to_string(nTableLine) + " (missing END)",
                                    csError);
            if (m_token.eType != ETokenType::Number)
                return m_lexer.Fail(m_token.nLine, "expected a string ID or END, found " + Describe(m_token),
                                    csError);
            const int nLine = m_token.nLine;
            const uint32_t nId = m_token.nValue;
            if (nId > ResourceModuleFormat::c_nMaxStringId)
                return m_lexer.Fail(
                    nLine, "string ID " + std::to_string(nId) + " is out of range (0 to 65535)", csError);
            if (!Advance(csError))
                return false;
            if (m_token.eType == ETokenType::Comma && !Advance(csError))
                return false;
            if (m_token.eType != ETokenType::String)
                return m_lexer.Fail(m_token.nLine,
                                    "expected a string after ID " + std::to_string(nId) + ", found " +
                                        Describe(m_token),
                                    csError);
            if (m_token.wsString.size() > ResourceModuleFormat::c_cchMaxString)
                return m_lexer.Fail(
                    nLine, "string " + std::to_string(nId) + " is longer than 65535 UTF-16 code units",
                    csError);
            vStrings.push_back(CRcString{wLangId, nId, std::move(m_token.wsString), m_csFile, nLine});
            if (!Advance(csError))
                return false;
        }
        return Advance(csError);
    }

    const std::string& m_csFile;
    CLexer m_lexer;
    CToken m_token;
    bool m_bHasLanguage = false;
    LANGID m_wLangId = 0;
};

std::string Where(const CRcString& str) {
    return str.csFile + ":" + std::to_string(str.nLine);
}

std::string LanguageText(LANGID wLangId) {
    char szText[16];
    std::snprintf(szText, sizeof(szText), "0x%04X", wLangId);
    return szText;
}

std::string JoinConversions(const std::vector<std::string>& vConversions) {
    if (vConversions.empty())
        return "none";
    std::string cs;
    for (const std::string& csConversion : vConversions)
        cs += (cs.empty() ? "\"" : " \"") + csConversion + "\"";
    return cs;
}

} // namespace

bool ParseResourceScript(const std::string& csFile, const std::string& csText,
                         std::vector<CRcString>& vStrings, std::string& csError) {
    std::vector<CRcString> vParsed;
    CScriptParser parser(csFile, csText);
    if (!parser.Parse(vParsed, csError))
        return false;
    vStrings.insert(vStrings.end(), std::make_move_iterator(vParsed.begin()),
                    std::make_move_iterator(vParsed.end()));
    return true;
}

std::vector<std::string> FormatConversions(const std::u16string& wsText) {
    std::vector<std::string> vConversions;
    auto isIn = [](char16_t ch, const char* pszSet) { return ch < 0x80 && ch && std::strchr(pszSet, ch); };
    for (size_t i = 0; i < wsText.size(); ++i) {
        if (wsText[i] != u'%')
            continue;
        if (i + 1 < wsText.size() && wsText[i + 1] == u'%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < wsText.size() && isIn(wsText[j], "-+ #0"))
            ++j;
        while (j < wsText.size() && isIn(wsText[j], "0123456789*"))
            ++j;
        if (j < wsText.size() && wsText[j] == u'.') {
            ++j;
            while (j < wsText.size() && isIn(wsText[j], "0123456789*"))
                ++j;
        }
        while (j < wsText.size() && isIn(wsText[j], "hlLqjztIw")) {
            const bool bSized = wsText[j] == u'I' && (wsText.compare(j + 1, 2, u"64") == 0 ||
                                                      wsText.compare(j + 1, 2, u"32") == 0);
            j += bSized ? 3 : 1;
        }
        if (j < wsText.size())
            ++j; // the conversion character
        std::string csConversion;
        for (size_t k = i; k < j; ++k)
            csConversion += wsText[k] < 0x80 ? static_cast<char>(wsText[k]) : '?';
        vConversions.push_back(csConversion);
        i = j - 1;
    }
    return vConversions;
}

bool CRcCompiler::AddScript(const std::string& csFile, const std::string& csText, std::string& csError) {
    std::vector<CRcString> vStrings;
    if (!ParseResourceScript(csFile, csText, vStrings, csError))
        return false;
    std::map<std::pair<LANGID, uint32_t>, const CRcString*> mapNew;
    for (const CRcString& str : vStrings) {
        const std::pair<LANGID, uint32_t> key{str.wLangId, str.nId};
        auto itOld = m_mapStrings.find(key);
        auto itNew = mapNew.find(key);
        if (itOld != m_mapStrings.end() || itNew != mapNew.end()) {
            const CRcString& first = itOld != m_mapStrings.end() ? itOld->second : *itNew->second;
            csError = Where(str) + ": duplicate string ID " + std::to_string(str.nId) + " in language " +
                      LanguageText(str.wLangId) + " (first defined at " + Where(first) + ")";
            return false;
        }
        mapNew.emplace(key, &str);
    }
    for (CRcString& str : vStrings) {
        if (!m_bHasReference) {
            m_bHasReference = true;
            m_wReference = str.wLangId;
        }
        m_mapStrings.emplace(std::make_pair(str.wLangId, str.nId), std::move(str));
    }
    return true;
}

bool CRcCompiler::CheckConsistency(std::string& csErrors) const {
    csErrors.clear();
    if (!m_bHasReference)
        return true;
    std::map<uint32_t, const CRcString*> mapReference;
    std::map<LANGID, const CRcString*> mapFirstOfLanguage;
    for (const auto& [key, str] : m_mapStrings) {
        if (key.first == m_wReference)
            mapReference.emplace(key.second, &str);
        mapFirstOfLanguage.emplace(key.first, &str);
    }
    auto addError = [&csErrors](const std::string& csLine) {
        if (!csErrors.empty())
            csErrors += '\n';
        csErrors += csLine;
    };
    const std::string csReference = "the reference language " + LanguageText(m_wReference);
    for (const auto& [wLangId, pFirst] : mapFirstOfLanguage) {
        if (wLangId == m_wReference)
            continue;
        for (const auto& [nId, pReference] : mapReference) {
            auto it = m_mapStrings.find({wLangId, nId});
            if (it == m_mapStrings.end()) {
                addError(pFirst->csFile + ": language " + LanguageText(wLangId) + " has no string " +
                         std::to_string(nId) + " (" + csReference + " has it at " + Where(*pReference) + ")");
                continue;
            }
            const std::vector<std::string> vExpected = FormatConversions(pReference->wsText);
            const std::vector<std::string> vFound = FormatConversions(it->second.wsText);
            if (vExpected != vFound)
                addError(Where(it->second) + ": string " + std::to_string(nId) + " has the conversions " +
                         JoinConversions(vFound) + " where " + csReference + " has " +
                         JoinConversions(vExpected) + " (" + Where(*pReference) + ")");
        }
    }
    for (const auto& [key, str] : m_mapStrings)
        if (key.first != m_wReference && !mapReference.count(key.second))
            addError(Where(str) + ": string " + std::to_string(key.second) + " is not in " + csReference);
    return csErrors.empty();
}

std::vector<BYTE> CRcCompiler::Build() const {
    CResourceModuleWriter writer;
    for (const auto& [key, str] : m_mapStrings)
        writer.AddString(key.first, key.second, str.wsText); // IDs and lengths were checked when parsed
    return writer.Build();
}
