// The module the build made from resources/: what the guard's dialog and script block rely on.
#include "i18n/CResource.h"

#include "tests/i18n/ResourceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const UINT c_anIds[] = {102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 114, 115, 116};
const UINT c_anFormats[] = {108, 110, 111};

size_t CountOf(const std::u16string& ws, const std::u16string& wsPart) {
    size_t c = 0;
    for (size_t n = ws.find(wsPart); n != std::u16string::npos; n = ws.find(wsPart, n + wsPart.size()))
        ++c;
    return c;
}

// The first "%s" becomes csFirst and the second csSecond, as the page forms fill them.
std::u16string FillFormat(std::u16string ws, const std::u16string& wsFirst, const std::u16string& wsSecond) {
    const size_t nFirst = ws.find(u"%s");
    ws.replace(nFirst, 2, wsFirst);
    ws.replace(ws.find(u"%s", nFirst + wsFirst.size()), 2, wsSecond);
    return ws;
}

class CRealModuleTest : public testing::TestWithParam<std::pair<std::string, LANGID>> {
protected:
    void SetUp() override {
        CCallbackRecord::Clear();
        CResource::SetLogCallback(&CCallbackRecord::OnLog);
        ASSERT_TRUE(m_resource.LoadModule(WK_RESOURCE_MODULE_PATH));
    }
    void TearDown() override { CResource::SetLogCallback(nullptr); }

    std::u16string Text(UINT nId, LANGID wLangId) {
        std::u16string ws;
        EXPECT_TRUE(m_resource.LoadString(nId, ws, wLangId)) << nId << " in 0x" << std::hex << wLangId;
        return ws;
    }

    CResource m_resource;
};

// Every string is there, without blanks at its ends (the dialog puts its own blanks between the pieces) or
// control characters; the formats hold exactly two string arguments and the others none; the button captions
// give a one-character access key (the text between the first ">" and the next "<" once the access-key
// format is filled with "<u>" and "</u>").
TEST_P(CRealModuleTest, StringsFitTheDialog) {
    const LANGID wLangId = GetParam().second;
    for (UINT nId : c_anIds) {
        const std::u16string ws = Text(nId, wLangId);
        ASSERT_FALSE(ws.empty()) << nId;
        EXPECT_NE(ws.front(), u' ') << nId;
        EXPECT_NE(ws.back(), u' ') << nId;
        EXPECT_TRUE(std::all_of(ws.begin(), ws.end(), [](char16_t ch) { return ch >= 0x20; })) << nId;
        const bool bFormat =
            std::find(std::begin(c_anFormats), std::end(c_anFormats), nId) != std::end(c_anFormats);
        EXPECT_EQ(CountOf(ws, u"%"), bFormat ? 2u : 0u) << nId;
        EXPECT_EQ(CountOf(ws, u"%s"), bFormat ? 2u : 0u) << nId;
    }
    EXPECT_TRUE(CCallbackRecord::LogLines().empty());
    for (UINT nId : {110u, 111u}) {
        const std::u16string ws = FillFormat(Text(nId, wLangId), u"<u>", u"</u>");
        const size_t nOpen = ws.find(u'>');
        ASSERT_NE(nOpen, std::u16string::npos) << nId;
        EXPECT_EQ(ws.find(u'<', nOpen), nOpen + 2) << nId;
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, CRealModuleTest, testing::ValuesIn(CResource().GetLanguages()),
                         [](const testing::TestParamInfo<std::pair<std::string, LANGID>>& info) {
                             std::string cs = info.param.first;
                             std::replace(cs.begin(), cs.end(), '-', '_');
                             return cs;
                         });

} // namespace
