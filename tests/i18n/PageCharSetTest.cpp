// The page charset: detection in response bytes, the charset table, conversion per charset, escaped UTF-8.
#include "i18n/CPageCharSet.h"

#include "platform/CPlatform.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using tabletest::Bytes;
using tabletest::TRow;

class DetectCharSet : public ::testing::TestWithParam<TRow> {};

TEST_P(DetectCharSet, FindsTheTextUpToTheCarriageReturn) {
    const std::string csData = Bytes(GetParam().at(1));
    std::string csCharSet = "stale";
    EXPECT_EQ(CPageCharSet::DetectCharSet(csData.data(), csData.size(), csCharSet), GetParam().at(2) == "1");
    EXPECT_EQ(csCharSet, Bytes(GetParam().at(3)));
}

INSTANTIATE_TEST_SUITE_P(Cases, DetectCharSet,
                         ::testing::ValuesIn(tabletest::ReadTable("i18n/detect-charset.txt")),
                         tabletest::RowName);

TEST(DetectCharSet, ReadsOnlyTheGivenBytes) {
    const char szData[] = "charset=utf-8\r";
    std::string csCharSet;
    EXPECT_TRUE(CPageCharSet::DetectCharSet(szData, 10, csCharSet));
    EXPECT_EQ(csCharSet, "ut");
    EXPECT_FALSE(CPageCharSet::DetectCharSet(szData, 7, csCharSet));
    EXPECT_FALSE(CPageCharSet::DetectCharSet(nullptr, 0, csCharSet));
    EXPECT_TRUE(csCharSet.empty());
}

class CharSetTable : public ::testing::TestWithParam<TRow> {
protected:
    void SetUp() override { m_charSet.Init("Wendrake", "/opt/Wendrake/bin/WK_ServiceWorker.so", "WK_Res64"); }
    CPageCharSet m_charSet;
};

TEST_P(CharSetTable, ConvertsToTheEntrysCodePageOrFailsCleanly) {
    const TRow& row = GetParam();
    UINT nCodePage = 0;
    EXPECT_EQ(m_charSet.GetCodePage(row.at(1), nCodePage), row.at(2) != "0");
    EXPECT_EQ(nCodePage, tabletest::Number(row.at(2)));
    std::string csOut = "stale";
    EXPECT_EQ(m_charSet.ConvertToCharSet(tabletest::Units(row.at(4)), row.at(1), csOut), row.at(3) == "1");
    EXPECT_EQ(csOut, Bytes(row.at(5)));
}

INSTANTIATE_TEST_SUITE_P(Cases, CharSetTable,
                         ::testing::ValuesIn(tabletest::ReadTable("i18n/charset-conversions.txt")),
                         tabletest::RowName);

TEST(PageCharSet, NamesOutsideTheTable) {
    CPageCharSet charSet;
    UINT nCodePage = 7;
    EXPECT_FALSE(charSet.GetCodePage("iso-8859-1", nCodePage)); // not filled yet
    charSet.Init(nullptr, nullptr, nullptr);
    EXPECT_EQ(charSet.GetProductName(), "");
    for (const char* pszName : {"koi8-r", "", "windows-1251", "iso-8859-1 ", " big5", "utf-8\n"}) {
        EXPECT_FALSE(charSet.GetCodePage(pszName, nCodePage)) << pszName;
        std::string csOut = "stale";
        EXPECT_FALSE(charSet.ConvertToCharSet(u"text", pszName, csOut)) << pszName;
    }
    EXPECT_EQ(nCodePage, 7u);
    charSet.Init("Wendrake", "WK_ServiceWorker.so", "WK_Res64"); // a second fill leaves the same table
    EXPECT_TRUE(charSet.GetCodePage("Big5", nCodePage));
    EXPECT_EQ(nCodePage, 950u);
    EXPECT_TRUE(charSet.GetCodePage("Windows-1252", nCodePage));
    EXPECT_EQ(nCodePage, 1252u);
    EXPECT_EQ(charSet.GetResourceModuleName(), "WK_Res64");
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

class EscapedUtf8 : public ::testing::TestWithParam<TRow> {};

TEST_P(EscapedUtf8, EncodesEachUnitAlone) {
    EXPECT_EQ(::EncodeUtf8Escaped(tabletest::Units(GetParam().at(1))), Bytes(GetParam().at(2)));
}

INSTANTIATE_TEST_SUITE_P(Cases, EscapedUtf8,
                         ::testing::ValuesIn(tabletest::ReadTable("i18n/escaped-utf8.txt")),
                         tabletest::RowName);

// Escapes first eat the room later three-byte units need.
TEST(EscapedUtf8Long, EscapesBeforeWideUnitsDoNotOverrunTheOutput) {
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
