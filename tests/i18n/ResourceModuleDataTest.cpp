#include "i18n/ResourceModuleData.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace ResourceModuleFormat;

constexpr LANGID c_wEnglish = 0x1009;
constexpr LANGID c_wFrench = 0x040C;

void Rechecksum(std::vector<BYTE>& v) {
    const uint64_t qw = ResourceModuleChecksum(v.data(), v.size() - c_cbChecksum);
    for (size_t i = 0; i < 8; ++i)
        v[v.size() - c_cbChecksum + i] = static_cast<BYTE>(qw >> (8 * i));
}
void PutWord(std::vector<BYTE>& v, size_t nPos, WORD w) {
    v[nPos] = static_cast<BYTE>(w);
    v[nPos + 1] = static_cast<BYTE>(w >> 8);
}
void PutDword(std::vector<BYTE>& v, size_t nPos, uint32_t dw) {
    PutWord(v, nPos, static_cast<WORD>(dw));
    PutWord(v, nPos + 2, static_cast<WORD>(dw >> 16));
}
uint32_t GetDword(const std::vector<BYTE>& v, size_t nPos) {
    return v[nPos] | (v[nPos + 1] << 8) | (v[nPos + 2] << 16) | (static_cast<uint32_t>(v[nPos + 3]) << 24);
}

// English strings in blocks 7 and 8, French only in block 8: two languages, three blocks.
std::vector<BYTE> SampleImage() {
    CResourceModuleWriter writer;
    EXPECT_TRUE(writer.AddString(c_wEnglish, 102, u"Leaving"));
    EXPECT_TRUE(writer.AddString(c_wEnglish, 110, u"%sL%sog off"));
    EXPECT_TRUE(writer.AddString(c_wEnglish, 114, u"Event"));
    EXPECT_TRUE(writer.AddString(c_wFrench, 114, u"Événement"));
    return writer.Build();
}

std::unique_ptr<const CResourceModuleData> ParseOk(std::vector<BYTE> v) {
    DWORD dwError = 0;
    std::string csReason;
    auto sp = CResourceModuleData::Parse(std::move(v), dwError, csReason);
    EXPECT_TRUE(sp) << csReason;
    EXPECT_EQ(dwError, ERROR_SUCCESS);
    return sp;
}

TEST(ResourceModuleData, WrittenStringsReadBackExactly) {
    const std::u16string wsSurrogates = u"a\U0001F600b";
    const std::u16string wsWithNul(u"x\0y", 3);
    const std::u16string wsLongest(c_cchMaxString, u'z');
    CResourceModuleWriter writer;
    ASSERT_TRUE(writer.AddString(c_wEnglish, 0, u"zero"));
    ASSERT_TRUE(writer.AddString(c_wEnglish, 65535, u"last"));
    ASSERT_TRUE(writer.AddString(c_wEnglish, 1, wsSurrogates));
    ASSERT_TRUE(writer.AddString(c_wEnglish, 2, wsWithNul));
    ASSERT_TRUE(writer.AddString(c_wFrench, 3, wsLongest));
    ASSERT_TRUE(writer.AddString(c_wFrench, 4, u""));
    // What the format cannot hold is refused, and an ID given twice keeps its first text.
    EXPECT_FALSE(writer.AddString(c_wEnglish, 0, u"again"));
    EXPECT_FALSE(writer.AddString(c_wEnglish, 65536, u"too high"));
    EXPECT_FALSE(writer.AddString(c_wEnglish, 6, std::u16string(c_cchMaxString + 1, u'x')));
    auto sp = ParseOk(writer.Build());
    ASSERT_TRUE(sp);
    EXPECT_EQ(sp->GetBlockCount(), 3u);
    EXPECT_EQ(sp->GetLanguages(), (std::vector<LANGID>{c_wFrench, c_wEnglish}));

    const struct {
        LANGID wLangId;
        uint32_t nId;
        std::u16string wsExpected;
    } aCases[] = {{c_wEnglish, 0, u"zero"},   {c_wEnglish, 65535, u"last"}, {c_wEnglish, 1, wsSurrogates},
                  {c_wEnglish, 2, wsWithNul}, {c_wFrench, 3, wsLongest},    {c_wFrench, 4, u""},
                  {c_wEnglish, 5, u""} /* never set: an empty entry of an existing block */};
    for (const auto& c : aCases) {
        std::u16string ws = u"stale";
        EXPECT_EQ(sp->FindString(c.wLangId, c.nId, ws), ERROR_SUCCESS) << c.nId;
        EXPECT_EQ(ws, c.wsExpected) << c.nId;
    }
}

struct CDamage {
    const char* pszName;
    std::function<void(std::vector<BYTE>&)> fnDamage;
    bool bRechecksum; // so that the damage itself is what the parser meets
    DWORD dwExpected;
};

// Table rows, sorted by LANGID: French block 8 at offset 16, English block 7 at 28, English block 8 at 40;
// each row is LANGID, block, offset, size.
const CDamage g_aDamages[] = {
    {"empty file", [](std::vector<BYTE>& v) { v.clear(); }, false, ERROR_BAD_FORMAT},
    {"shorter than the magic", [](std::vector<BYTE>& v) { v.resize(3); }, false, ERROR_BAD_FORMAT},
    {"other magic", [](std::vector<BYTE>& v) { v[0] = 'M'; }, true, ERROR_BAD_FORMAT},
    {"next format version", [](std::vector<BYTE>& v) { PutWord(v, 4, 2); }, true, ERROR_BAD_FORMAT},
    {"magic only", [](std::vector<BYTE>& v) { v.resize(20); }, false, ERROR_INVALID_DATA},
    {"one byte more", [](std::vector<BYTE>& v) { v.push_back(0); }, false, ERROR_INVALID_DATA},
    {"reserved field set", [](std::vector<BYTE>& v) { PutWord(v, 6, 1); }, true, ERROR_INVALID_DATA},
    {"block count beyond the file", [](std::vector<BYTE>& v) { PutDword(v, 12, 0x10000000); }, true,
     ERROR_INVALID_DATA},
    {"block count too small", [](std::vector<BYTE>& v) { PutDword(v, 12, 2); }, true, ERROR_INVALID_DATA},
    {"block count zero", [](std::vector<BYTE>& v) { PutDword(v, 12, 0); }, true, ERROR_INVALID_DATA},
    {"block number zero", [](std::vector<BYTE>& v) { PutWord(v, 18, 0); }, true, ERROR_INVALID_DATA},
    {"block number above 4096", [](std::vector<BYTE>& v) { PutWord(v, 42, 4097); }, true, ERROR_INVALID_DATA},
    {"rows out of order", [](std::vector<BYTE>& v) { PutWord(v, 16, 0x7FFF); }, true, ERROR_INVALID_DATA},
    {"row repeated", [](std::vector<BYTE>& v) { PutWord(v, 42, 7); }, true, ERROR_INVALID_DATA},
    {"offset beyond the file", [](std::vector<BYTE>& v) { PutDword(v, 20, 0x7FFFFFF0); }, true,
     ERROR_INVALID_DATA},
    {"offset inside the table", [](std::vector<BYTE>& v) { PutDword(v, 20, 8); }, true, ERROR_INVALID_DATA},
    {"size beyond the file", [](std::vector<BYTE>& v) { PutDword(v, 48, 0xFFFFFFF0); }, true,
     ERROR_INVALID_DATA},
    {"size one entry short", [](std::vector<BYTE>& v) { PutDword(v, 24, GetDword(v, 24) - 2); }, true,
     ERROR_INVALID_DATA},
    {"string length past its block", [](std::vector<BYTE>& v) { PutWord(v, GetDword(v, 20), 0xFFFF); }, true,
     ERROR_INVALID_DATA},
    // "x" and a NUL unit, announced as one unit: the NUL reads as entry 1, and the last two bytes are left
    // over.
    {"bytes after the 16th entry",
     [](std::vector<BYTE>& v) {
         CResourceModuleWriter writer;
         writer.AddString(c_wEnglish, 0, std::u16string(u"x\0", 2));
         v = writer.Build();
         PutWord(v, GetDword(v, 20), 1);
     },
     true, ERROR_INVALID_DATA},
};

void PrintTo(const CDamage& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class ResourceModuleDamage : public testing::TestWithParam<CDamage> {};

TEST_P(ResourceModuleDamage, IsRejectedWithItsCode) {
    std::vector<BYTE> v = SampleImage();
    ASSERT_EQ(GetDword(v, 12), 3u);
    GetParam().fnDamage(v);
    if (GetParam().bRechecksum)
        Rechecksum(v);
    DWORD dwError = 0;
    std::string csReason;
    EXPECT_FALSE(CResourceModuleData::Parse(v, dwError, csReason));
    EXPECT_EQ(dwError, GetParam().dwExpected);
    EXPECT_FALSE(csReason.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, ResourceModuleDamage, testing::ValuesIn(g_aDamages),
                         [](const testing::TestParamInfo<CDamage>& info) {
                             std::string cs;
                             for (const char* p = info.param.pszName; *p; ++p)
                                 cs += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return cs;
                         });

// No prefix of a module, and no module with one byte changed, is taken for a module.
TEST(ResourceModuleData, EveryTruncationAndEveryByteFlipIsRejected) {
    const std::vector<BYTE> vGood = SampleImage();
    for (size_t cb = 0; cb < vGood.size(); ++cb) {
        DWORD dwError = 0;
        std::string csReason;
        EXPECT_FALSE(CResourceModuleData::Parse(std::vector<BYTE>(vGood.begin(), vGood.begin() + cb), dwError,
                                                csReason))
            << cb;
        EXPECT_NE(dwError, ERROR_SUCCESS);
    }
    for (size_t i = 0; i < vGood.size(); ++i) {
        std::vector<BYTE> v = vGood;
        v[i] ^= 0x10;
        DWORD dwError = 0;
        std::string csReason;
        EXPECT_FALSE(CResourceModuleData::Parse(v, dwError, csReason)) << i;
    }
}

} // namespace
