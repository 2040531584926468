#include "i18n/ResourceModuleData.h"

#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <sstream>
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

// ID 5 is never set: an empty entry of an existing block.
TEST(ResourceModuleData, WrittenStringsReadBackExactly) {
    const struct {
        LANGID wLangId;
        uint32_t nId;
        std::u16string ws;
    } aStrings[] = {{c_wEnglish, 0, u"zero"},
                    {c_wEnglish, 65535, u"last"},
                    {c_wEnglish, 1, u"a\U0001F600b"},
                    {c_wEnglish, 2, std::u16string(u"x\0y", 3)},
                    {c_wFrench, 3, std::u16string(c_cchMaxString, u'z')},
                    {c_wFrench, 4, u""},
                    {c_wEnglish, 5, u""}};
    CResourceModuleWriter writer;
    for (const auto& c : aStrings)
        ASSERT_TRUE(c.nId == 5 || writer.AddString(c.wLangId, c.nId, c.ws)) << c.nId;
    // What the format cannot hold is refused, and an ID given twice keeps its first text.
    EXPECT_FALSE(writer.AddString(c_wEnglish, 0, u"again"));
    EXPECT_FALSE(writer.AddString(c_wEnglish, 65536, u"too high"));
    EXPECT_FALSE(writer.AddString(c_wEnglish, 6, std::u16string(c_cchMaxString + 1, u'x')));
    auto sp = ParseOk(writer.Build());
    ASSERT_TRUE(sp);
    EXPECT_EQ(sp->GetBlockCount(), 3u);
    EXPECT_EQ(sp->GetLanguages(), (std::vector<LANGID>{c_wFrench, c_wEnglish}));
    for (const auto& c : aStrings) {
        std::u16string ws = u"stale";
        EXPECT_EQ(sp->FindString(c.wLangId, c.nId, ws), ERROR_SUCCESS) << c.nId;
        EXPECT_EQ(ws, c.ws) << c.nId;
    }
}

// One edit of a module, as tests/data/i18n/module-damages.txt describes it.
void Edit(std::vector<BYTE>& v, const std::string& csEdit) {
    std::istringstream words(csEdit);
    std::string csOp, csPos, csValue;
    words >> csOp >> csPos >> csValue;
    if (csOp == "x0") {
        CResourceModuleWriter writer;
        writer.AddString(c_wEnglish, 0, std::u16string(u"x\0", 2));
        v = writer.Build();
    } else if (csOp == "size") {
        v.resize(csPos == "+1" ? v.size() + 1 : std::stoul(csPos));
    } else {
        const size_t nPos = csPos[0] == '@' ? GetDword(v, std::stoul(csPos.substr(1))) : std::stoul(csPos);
        const uint32_t dw = csValue[0] == '-' ? GetDword(v, nPos) - std::stoul(csValue.substr(1))
                                              : static_cast<uint32_t>(std::stoul(csValue, nullptr, 0));
        if (csOp == "byte")
            v[nPos] = static_cast<BYTE>(dw);
        else if (csOp == "word")
            PutWord(v, nPos, static_cast<WORD>(dw));
        else
            PutDword(v, nPos, dw);
    }
}

class ResourceModuleDamage : public testing::TestWithParam<tabletest::TRow> {};

TEST_P(ResourceModuleDamage, IsRejectedWithItsCode) {
    std::vector<BYTE> v = SampleImage();
    ASSERT_EQ(GetDword(v, 12), 3u);
    std::istringstream edits(GetParam().at(1));
    for (std::string csEdit; std::getline(edits, csEdit, ';');)
        Edit(v, csEdit);
    if (GetParam().at(2) == "1")
        Rechecksum(v);
    DWORD dwError = 0;
    std::string csReason;
    EXPECT_FALSE(CResourceModuleData::Parse(v, dwError, csReason));
    EXPECT_EQ(dwError, static_cast<DWORD>(tabletest::Number(GetParam().at(3))));
    EXPECT_FALSE(csReason.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, ResourceModuleDamage,
                         testing::ValuesIn(tabletest::ReadTable("i18n/module-damages.txt")),
                         tabletest::RowName);

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
