#include "i18n/CPageCharSet.h"

#include "log/Log.h"
#include "platform/CPlatform.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

struct CCharSetEntry {
    const char* pszCharSet;
    UINT nCodePage;
};

// In filling order; several declared charsets share one code page. "windows-1252", the most common legacy
// charset of Western European pages, is there too: without it such a page could not be guarded at all.
constexpr CCharSetEntry g_aCharSetTable[] = {
    {"iso-8859-1", 1252},         {"windows-1252", 1252}, {"iso-8859-2", 28592},  {"iso-8859-9", 1254},
    {"windows-1250", 1250},       {"windows-1254", 1254}, {"iso-8859-7", 28597},  {"windows-1253", 28597},
    {"x-mac-greek", 28597},       {"windows-1255", 1255}, {"iso-8859-8", 1255},   {"iso-8859-8-i", 1255},
    {"x-mac-hebrew", 10005},      {"iso-8859-6", 1256},   {"windows-1256", 1256}, {"x-mac-arabic", 10004},
    {"shift_jis", 932},           {"iso-2022-jp", 932},   {"x-mac-japan", 10001}, {"big5", 950},
    {"x-mac-chinesetrad", 10002}, {"gb2312", 936},        {"hz-gb-2312", 52936},  {"x-mac-chineseimp", 10008},
};

constexpr CaselessStringView CHARSET_KEY = "charset=";
constexpr CaselessStringView CHARSET_UTF8 = "utf-8";
constexpr CaselessStringView CHARSET_UTF16 = "utf-16";

CaselessStringView Caseless(const std::string& cs) {
    return CaselessStringView(cs.data(), cs.size());
}

inline char* AppendLiteral(char* pOut, std::string_view svText) {
    for (char ch : svText)
        *pOut++ = ch;
    return pOut;
}

} // namespace

CPageCharSet::CPageCharSet() = default;

CPageCharSet::~CPageCharSet() = default;

void CPageCharSet::Init(const char* pszProductName, const char* pszModuleFileName,
                        const char* pszResourceModuleName) {
    m_csProductName = pszProductName ? pszProductName : "";
    m_csModuleFileName = pszModuleFileName ? pszModuleFileName : "";
    m_csResourceModuleName = pszResourceModuleName ? pszResourceModuleName : "";
    InitCharSetTable();
}

void CPageCharSet::InitCharSetTable() {
    m_mapCharSets.clear();
    for (const CCharSetEntry& entry : g_aCharSetTable)
        AddCharSet(entry.pszCharSet, entry.nCodePage);
}

void CPageCharSet::AddCharSet(const char* pszCharSet, UINT nCodePage) {
    m_mapCharSets.insert_or_assign(CaselessString(pszCharSet), nCodePage);
}

bool CPageCharSet::DetectCharSet(const char* pData, size_t cbData, std::string& csCharSet) {
    csCharSet.clear();
    if (!pData || cbData == 0)
        return false;
    const CaselessStringView svData(pData, cbData);
    const size_t nKey = svData.find(CHARSET_KEY);
    if (nKey == CaselessStringView::npos)
        return false;
    const size_t nStart = nKey + CHARSET_KEY.size();
    size_t nEnd = svData.find('\r', nStart);
    if (nEnd == CaselessStringView::npos)
        nEnd = cbData;
    csCharSet.assign(pData + nStart, nEnd - nStart);
    return !csCharSet.empty();
}

bool CPageCharSet::GetCodePage(const std::string& csCharSet, UINT& nCodePage) const {
    const auto it = m_mapCharSets.find(Caseless(csCharSet));
    if (it == m_mapCharSets.end())
        return false;
    nCodePage = it->second;
    return true;
}

namespace {

std::u16string EscapeMarkupUnits(const std::u16string& wsText) {
    std::u16string wsOut;
    wsOut.reserve(wsText.size());
    for (char16_t wch : wsText) {
        if (wch == u'"')
            wsOut += u"&quot;";
        else if (wch == u'<')
            wsOut += u"&lt;";
        else if (wch == u'>')
            wsOut += u"&gt;";
        else
            wsOut += wch;
    }
    return wsOut;
}

} // namespace

bool CPageCharSet::ConvertToCharSet(const std::u16string& wsText, const std::string& csCharSet,
                                    std::string& csOut) const {
    csOut.clear();
    if (Caseless(csCharSet) == CHARSET_UTF8) {
        csOut = EncodeUtf8Escaped(wsText);
        return true;
    }
    ICodePages& codePages = CPlatform::CodePages();
    UINT nCodePage = 0;
    if (Caseless(csCharSet) == CHARSET_UTF16)
        nCodePage = codePages.GetThreadAnsiCodePage();
    else if (!GetCodePage(csCharSet, nCodePage))
        return false;

    // The texts are zero-terminated on every path. They go into attribute values and markup of a page,
    // so, as on the UTF-8 path, nothing in them may close an attribute or a tag.
    const std::u16string wsEscaped = EscapeMarkupUnits(wsText.substr(0, wsText.find(u'\0')));
    DWORD dwError = ERROR_SUCCESS;
    const bool bConverted = codePages.WideToMultiByte(nCodePage, wsEscaped, csOut, dwError);
    if (!bConverted) {
        // Half-converted bytes would put wrong characters into the page.
        csOut.clear();
        LogError(dwError, "[CPageCharSet::ConvertToCharSet] Code page %u for charset <%s> is not available.",
                 nCodePage, csCharSet.c_str());
        return false;
    }
    return true;
}

std::string EncodeUtf8Escaped(const std::u16string& wsText) {
    const char16_t* const pwchText = wsText.c_str();
    const size_t nUnits = std::char_traits<char16_t>::length(pwchText);
    // Three bytes hold any unit but the escaped ones, so the buffer is only checked, and grown, at those.
    std::string csOut(nUnits * 3, '\0');
    char* pOut = csOut.data();
    for (size_t i = 0; i < nUnits; ++i) {
        const char16_t wch = pwchText[i];
        if (wch < 0x80) {
            if (wch != u'"' && wch != u'<' && wch != u'>') {
                *pOut++ = static_cast<char>(wch);
                continue;
            }
            const std::string_view svEntity = wch == u'"' ? "&quot;" : wch == u'<' ? "&lt;" : "&gt;";
            const size_t cbUsed = static_cast<size_t>(pOut - csOut.data());
            const size_t cbNeeded = cbUsed + svEntity.size() + (nUnits - i - 1) * 3;
            if (cbNeeded > csOut.size()) {
                csOut.resize(std::max(cbNeeded, csOut.size() * 2));
                pOut = csOut.data() + cbUsed;
            }
            pOut = AppendLiteral(pOut, svEntity);
        } else if (wch < 0x800) {
            *pOut++ = static_cast<char>(0xC0 | (wch >> 6));
            *pOut++ = static_cast<char>(0x80 | (wch & 0x3F));
        } else {
            *pOut++ = static_cast<char>(0xE0 | (wch >> 12));
            *pOut++ = static_cast<char>(0x80 | ((wch >> 6) & 0x3F));
            *pOut++ = static_cast<char>(0x80 | (wch & 0x3F));
        }
    }
    csOut.resize(static_cast<size_t>(pOut - csOut.data()));
    return csOut;
}
