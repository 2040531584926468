// The page charset: detection in response bytes, the charset table, conversion per charset, escaped UTF-8.
#include "i18n/CPageCharSet.h"

#include "platform/CPlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct CDetectCase {
    std::string csData;
    bool bFound;
    std::string csCharSet;
};

std::ostream& operator<<(std::ostream& os, const CDetectCase& c) {
    return os << c.csData.size() << " bytes";
}

class DetectCharSet : public ::testing::TestWithParam<CDetectCase> {};

TEST_P(DetectCharSet, FindsTheTextUpToTheCarriageReturn) {
    std::string csCharSet = "stale";
    EXPECT_EQ(CPageCharSet::DetectCharSet(GetParam().csData.data(), GetParam().csData.size(), csCharSet),
              GetParam().bFound);
    EXPECT_EQ(csCharSet, GetParam().csCharSet);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectCharSet,
    ::testing::Values(CDetectCase{"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nX: y\r\n\r\n",
                                  true, "utf-8"},
                      CDetectCase{"Content-Type: text/html; CHARSET=Windows-1255\r\n", true, "Windows-1255"},
                      CDetectCase{"Content-Type: text/html; ChArSeT=Big5", true, "Big5"},
                      // A line feed alone does not end the value: it runs to the end of the data.
                      CDetectCase{"Content-Type: text/html; charset=utf-8\nContent-Length: 3\n\nabc", true,
                                  "utf-8\nContent-Length: 3\n\nabc"},
                      CDetectCase{"charset= utf-8 ;\r", true, " utf-8 ;"}, // untrimmed
                      CDetectCase{"charset=\"gb2312\"\r", true, "\"gb2312\""},
                      CDetectCase{"charset=a\rcharset=b\r", true, "a"},
                      CDetectCase{"\0\0Content-Type: text/html; charset=gb2312\r\n"s, true, "gb2312"},
                      CDetectCase{"charset=ab\0cd\r"s, true, "ab\0cd"s},
                      CDetectCase{"\xC4\xFF charset=\xE4\r", true, "\xE4"},
                      CDetectCase{"Content-Type: text/html; charset=", false, ""},
                      // The first one counts, and it is empty.
                      CDetectCase{"charset=\r\ncharset=utf-8\r", false, ""},
                      CDetectCase{"Content-Type: text/html; charset =utf-8\r", false, ""},
                      CDetectCase{"Content-Type: text/html; chars", false, ""}, CDetectCase{"", false, ""},
                      CDetectCase{"\0charset\0=utf-8"s, false, ""}));

TEST(DetectCharSet, ReadsOnlyTheGivenBytes) {
    const char szData[] = "charset=utf-8\r";
    std::string csCharSet;
    EXPECT_TRUE(CPageCharSet::DetectCharSet(szData, 10, csCharSet));
    EXPECT_EQ(csCharSet, "ut");
    EXPECT_FALSE(CPageCharSet::DetectCharSet(szData, 7, csCharSet));
    EXPECT_FALSE(CPageCharSet::DetectCharSet(nullptr, 0, csCharSet));
    EXPECT_TRUE(csCharSet.empty());
}

// Every table name (in any letter case) with a sample text of its script, and the exact bytes, or none
// where this system lacks the code page.
struct CTableCase {
    const char* pszCharSet;
    UINT nCodePage;
    std::u16string wsText;
    std::string csExpected; // empty: the code page cannot be converted into here
};

std::ostream& operator<<(std::ostream& os, const CTableCase& c) {
    return os << c.pszCharSet;
}

const std::u16string WESTERN = u"Caf\u00E9 \u00AB\u20AC\u00BB";
const std::u16string TURKISH = u"\u0130stanbul \u011F";
const std::u16string GREEK = u"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC";
const std::u16string HEBREW = u"\u05E9\u05DC\u05D5\u05DD";
const std::u16string ARABIC = u"\u0645\u0631\u062D\u0628\u0627";
const std::u16string JAPANESE = u"\u65E5\u672C\u8A9E";
const std::u16string CHINESE = u"\u4E2D\u6587";

const std::vector<CTableCase>& TableCases() {
    static const std::vector<CTableCase> s_vCases = {
        {"iso-8859-1", 1252, WESTERN, "Caf\xE9 \xAB\x80\xBB"},
        {"ISO-8859-2", 28592, u"\u0141\u00F3d\u017A", "\xA3\xF3\x64\xBC"},
        {"iso-8859-9", 1254, TURKISH, "\xDDstanbul \xF0"},
        {"Windows-1250", 1250, u"\u0141\u00F3d\u017A", "\xA3\xF3\x64\x9F"},
        {"windows-1254", 1254, TURKISH, "\xDDstanbul \xF0"},
        {"iso-8859-7", 28597, GREEK, "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC"},
        {"windows-1253", 28597, GREEK, "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC"},
        {"X-Mac-Greek", 28597, GREEK, "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC"},
        {"windows-1255", 1255, HEBREW, "\xF9\xEC\xE5\xED"},
        {"iso-8859-8", 1255, HEBREW, "\xF9\xEC\xE5\xED"},
        {"ISO-8859-8-I", 1255, HEBREW, "\xF9\xEC\xE5\xED"},
        {"x-mac-hebrew", 10005, HEBREW, ""},
        {"iso-8859-6", 1256, ARABIC, "\xE3\xD1\xCD\xC8\xC7"},
        {"windows-1256", 1256, ARABIC, "\xE3\xD1\xCD\xC8\xC7"},
        {"x-mac-arabic", 10004, ARABIC, ""},
        {"Shift_JIS", 932, JAPANESE, "\x93\xFA\x96\x7B\x8C\xEA"},
        {"iso-2022-jp", 932, JAPANESE, "\x93\xFA\x96\x7B\x8C\xEA"},
        {"x-mac-japan", 10001, JAPANESE, ""},
        {"BIG5", 950, CHINESE, "\xA4\xA4\xA4\xE5"},
        {"x-mac-chinesetrad", 10002, CHINESE, ""},
        {"GB2312", 936, CHINESE, "\xD6\xD0\xCE\xC4"},
        {"hz-gb-2312", 52936, CHINESE, ""},
        {"x-mac-chineseimp", 10008, CHINESE, ""},
    };
    return s_vCases;
}

class CharSetTable : public ::testing::TestWithParam<CTableCase> {
protected:
    void SetUp() override { m_charSet.Init("Wendrake", "/opt/Wendrake/bin/WK_ServiceWorker.so", "WK_Res64"); }
    CPageCharSet m_charSet;
};

TEST_P(CharSetTable, ConvertsToTheEntrysCodePageOrFailsCleanly) {
    UINT nCodePage = 0;
    ASSERT_TRUE(m_charSet.GetCodePage(GetParam().pszCharSet, nCodePage));
    EXPECT_EQ(nCodePage, GetParam().nCodePage);
    std::string csOut = "stale";
    EXPECT_EQ(m_charSet.ConvertToCharSet(GetParam().wsText, GetParam().pszCharSet, csOut),
              !GetParam().csExpected.empty());
    EXPECT_EQ(csOut, GetParam().csExpected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CharSetTable, ::testing::ValuesIn(TableCases()));

TEST(PageCharSet, NamesOutsideTheTable) {
    CPageCharSet charSet;
    UINT nCodePage = 7;
    EXPECT_FALSE(charSet.GetCodePage("iso-8859-1", nCodePage)); // not filled yet
    charSet.Init(nullptr, nullptr, nullptr);
    EXPECT_EQ(charSet.GetProductName(), "");
    for (const char* pszName :
         {"koi8-r", "", "utf-8", "utf-16", "windows-1252", "iso-8859-1 ", " big5", "utf-8\n"}) {
        EXPECT_FALSE(charSet.GetCodePage(pszName, nCodePage)) << pszName;
        std::string csOut = "stale";
        EXPECT_EQ(charSet.ConvertToCharSet(u"text", pszName, csOut),
                  std::string(pszName) == "utf-8" || std::string(pszName) == "utf-16")
            << pszName;
    }
    EXPECT_EQ(nCodePage, 7u);
    charSet.Init("Wendrake", "WK_ServiceWorker.so", "WK_Res64"); // a second fill leaves the same table
    EXPECT_TRUE(charSet.GetCodePage("Big5", nCodePage));
    EXPECT_EQ(nCodePage, 950u);
    EXPECT_EQ(charSet.GetResourceModuleName(), "WK_Res64");
}

TEST(PageCharSet, Utf8IsEscapedUtf16IsTheThreadsCodePage) {
    CPageCharSet charSet;
    charSet.Init("Wendrake", "WK_ServiceWorker.so", "WK_Res64");
    struct {
        const char* pszCharSet;
        std::u16string wsText;
        std::string csExpected;
    } aCases[] = {
        {"utf-8", u"a < b \"c\"", "a &lt; b &quot;c&quot;"},
        {"UTF-8", u"\u00E9&\u20AC", "\xC3\xA9&\xE2\x82\xAC"},
        {"Utf-16", u"a < b \"\u00E9\"", "a < b \"\xC3\xA9\""},
        {"utf-16", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        // Every path stops at the first zero unit.
        {"utf-8", u"ab\0cd"s, "ab"},
        {"utf-16", u"ab\0cd"s, "ab"},
        {"iso-8859-1", u"\u00E9\0\u00E9"s, "\xE9"},
        {"iso-8859-1", u"\0abc"s, ""},
    };
    for (const auto& c : aCases) {
        std::string csOut = "stale";
        EXPECT_TRUE(charSet.ConvertToCharSet(c.wsText, c.pszCharSet, csOut)) << c.pszCharSet;
        EXPECT_EQ(csOut, c.csExpected) << c.pszCharSet;
    }
}

// A platform whose thread code page is Greek and whose converter can be told to fail half-way.
class CRecordingCodePages : public ICodePages {
public:
    bool WideToMultiByte(UINT nCodePage, const std::u16string& wsText, std::string& csOut,
                         DWORD& dwError) override {
        vCodePages.push_back(nCodePage);
        wsLastText = wsText;
        csOut = "partial";
        dwError = bFail ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
        return !bFail;
    }
    UINT GetThreadAnsiCodePage() override { return 1253; }

    std::vector<UINT> vCodePages;
    std::u16string wsLastText;
    bool bFail = false;
};

class PageCharSetPlatform : public ::testing::Test {
protected:
    void SetUp() override {
        CPlatform::SetCodePages(&m_codePages);
        m_charSet.Init("Wendrake", "WK_ServiceWorker.so", "WK_Res64");
    }
    void TearDown() override { CPlatform::SetCodePages(nullptr); }
    CRecordingCodePages m_codePages;
    CPageCharSet m_charSet;
};

TEST_F(PageCharSetPlatform, HandsTheCodePageAndTextToThePlatform) {
    std::string csOut;
    EXPECT_TRUE(m_charSet.ConvertToCharSet(u"abc", "utf-16", csOut));
    EXPECT_TRUE(m_charSet.ConvertToCharSet(u"x\0y"s, "iso-8859-8-i", csOut));
    EXPECT_EQ(m_codePages.wsLastText, u"x");
    EXPECT_TRUE(m_charSet.ConvertToCharSet(u"abc", "utf-8", csOut)); // never reaches the platform
    EXPECT_EQ(csOut, "abc");
    EXPECT_EQ(m_codePages.vCodePages, (std::vector<UINT>{1253, 1255}));
}

TEST_F(PageCharSetPlatform, PlatformFailureLeavesNoBytes) {
    m_codePages.bFail = true;
    for (const char* pszCharSet : {"utf-16", "gb2312"}) {
        std::string csOut = "stale";
        EXPECT_FALSE(m_charSet.ConvertToCharSet(u"abc", pszCharSet, csOut));
        EXPECT_TRUE(csOut.empty());
    }
}

struct CEscapeCase {
    std::u16string wsText;
    std::string csExpected;
};

std::ostream& operator<<(std::ostream& os, const CEscapeCase& c) {
    return os << c.wsText.size() << " units";
}

class EscapedUtf8 : public ::testing::TestWithParam<CEscapeCase> {};

TEST_P(EscapedUtf8, EncodesEachUnitAlone) {
    EXPECT_EQ(::EncodeUtf8Escaped(GetParam().wsText), GetParam().csExpected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapedUtf8,
    ::testing::Values(CEscapeCase{u"", ""}, CEscapeCase{u"a < b \"c\"", "a &lt; b &quot;c&quot;"},
                      CEscapeCase{u"<>&amp;'", "&lt;&gt;&amp;'"}, CEscapeCase{u"\x01\x7F", "\x01\x7F"},
                      CEscapeCase{u"\x80", "\xC2\x80"}, CEscapeCase{u"\x7FF", "\xDF\xBF"},
                      CEscapeCase{u"\x800", "\xE0\xA0\x80"}, CEscapeCase{u"\xFFFF", "\xEF\xBF\xBF"},
                      CEscapeCase{u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},
                      CEscapeCase{u"\xDC00", "\xED\xB0\x80"}, CEscapeCase{u"ab\0cd"s, "ab"},
                      CEscapeCase{u"\0ab"s, ""}));

TEST(EscapedUtf8Long, MatchesPlainUtf8WhereNothingIsEscaped) {
    std::u16string wsText;
    for (char16_t wch = 1; wch < 0xD800; wch += 7)
        if (wch != u'"' && wch != u'<' && wch != u'>')
            wsText += wch;
    std::string csUtf8;
    DWORD dwError = 0;
    ASSERT_TRUE(CPlatform::CodePages().WideToMultiByte(CP_UTF8_CODE_PAGE, wsText, csUtf8, dwError));
    EXPECT_EQ(::EncodeUtf8Escaped(wsText), csUtf8);

    // Escapes first eat the room later three-byte units need.
    std::u16string wsMarkup;
    std::string csExpected;
    for (int i = 0; i < 1000; ++i) {
        wsMarkup.insert(0, u"<\"&>");
        wsMarkup += u"\u4E2D";
        csExpected.insert(0, "&lt;&quot;&&gt;");
        csExpected += "\xE4\xB8\xAD";
    }
    EXPECT_EQ(::EncodeUtf8Escaped(wsMarkup), csExpected);
}

} // namespace
