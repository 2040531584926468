// The settings' text lookups: the user's language first, English (4105) where it lacks a text, and the
// conversion into the page's charset.
#include "i18n/ResourceModuleData.h"
#include "tests/TableFile.h"
#include "tests/settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

constexpr LANGID FRENCH = 0x040C;
constexpr LANGID GREEK = 0x0408;

class ResourceTexts : public CInstallationTest {
protected:
    void SetUp() override {
        CInstallationTest::SetUp();
        // English has 102 to 105; French has 102, an empty 103, and 106 that English lacks; Greek has 104.
        CResourceModuleWriter writer;
        ASSERT_TRUE(writer.AddString(LANGID_RESOURCE_ENGLISH, 102, u"Leave \"now\" <b>?</b>"));
        ASSERT_TRUE(writer.AddString(LANGID_RESOURCE_ENGLISH, 103, u"Policy"));
        ASSERT_TRUE(writer.AddString(LANGID_RESOURCE_ENGLISH, 104, u"Log off"));
        ASSERT_TRUE(writer.AddString(LANGID_RESOURCE_ENGLISH, 105, u""));
        ASSERT_TRUE(writer.AddString(FRENCH, 102, u"Quitter l\u2019application"));
        ASSERT_TRUE(writer.AddString(FRENCH, 103, u""));
        ASSERT_TRUE(writer.AddString(FRENCH, 106, u"continuer"));
        ASSERT_TRUE(
            writer.AddString(GREEK, 104, u"\u0391\u03C0\u03BF\u03C3\u03CD\u03BD\u03B4\u03B5\u03C3\u03B7"));
        std::vector<BYTE> vImage = writer.Build();
        std::ofstream(m_installation.ResourceDir() + "/" + WK_RESOURCE_MODULE_NAME,
                      std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(vImage.data()), static_cast<std::streamsize>(vImage.size()));
        ASSERT_EQ(InitProductSettings(m_settings), 1u);
        m_log.Clear();
    }
};

TEST_F(ResourceTexts, OneTextFallsBackToEnglish) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/resource-texts.txt")) {
        SCOPED_TRACE(row.at(0) + " " + row.at(1));
        m_log.Clear();
        std::u16string wsText = u"stale";
        EXPECT_EQ(m_settings.GetResourceString(static_cast<UINT>(tabletest::Number(row.at(0))), wsText,
                                               static_cast<LANGID>(tabletest::Number(row.at(1)))),
                  row.at(2) == "1");
        EXPECT_EQ(wsText, tabletest::Units(row.at(3)));
        EXPECT_EQ(m_log.Contains(row.at(4).empty() ? "GetResourceString" : row.at(4)), !row.at(4).empty());
    }
}

TEST_F(ResourceTexts, SeveralTextsAreConvertedAndAMissingOneFailsTheSetButNotTheOthers) {
    std::map<UINT, std::string> mapTexts;
    EXPECT_FALSE(m_settings.GetResources({102, 103, 105, 106, 107}, mapTexts, FRENCH, "utf-8"));
    // 102 French, escaped for the page; 103 English; 106 French; 105 (empty in English too) and 107 missing.
    const std::map<UINT, std::string> mapExpected = {{102, "Quitter l\xE2\x80\x99"
                                                           "application"},
                                                     {103, "Policy"},
                                                     {106, "continuer"}};
    EXPECT_EQ(mapTexts, mapExpected);
    for (const char* pszLine :
         {"GetResource didn't find res ID 103 LANGID 1036, it looked for English version 1",
          "GetResource didn't find res ID 105 LANGID 1036, it looked for English version 0",
          "GetResource can not get res ID 105 for LANGID 1036.",
          "GetResources can not get res ID 105 for LANGID 1036.",
          "GetResources can not get res ID 107 for LANGID 1036."})
        EXPECT_TRUE(m_log.Contains(pszLine)) << pszLine;
    EXPECT_FALSE(m_log.Contains("GetResources can not get res ID 103"));

    mapTexts.clear();
    EXPECT_TRUE(m_settings.GetResources({102}, mapTexts, LANGID_RESOURCE_ENGLISH, "UTF-8"));
    EXPECT_EQ(mapTexts[102], "Leave &quot;now&quot; &lt;b&gt;?&lt;/b&gt;");
}

TEST_F(ResourceTexts, TextsFollowThePageCharset) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/resource-charsets.txt")) {
        SCOPED_TRACE(row.at(0));
        m_log.Clear();
        std::map<UINT, std::string> mapTexts;
        const LANGID wLangId = static_cast<LANGID>(tabletest::Number(row.at(1)));
        const UINT nId = wLangId == GREEK ? 104 : 102;
        EXPECT_EQ(m_settings.GetResources({nId}, mapTexts, wLangId, row.at(0)), row.at(2) == "1");
        EXPECT_EQ(mapTexts[nId], tabletest::Bytes(row.at(3)));
        EXPECT_EQ(m_log.Contains("GetResource can not translate the res ID " + std::to_string(nId) +
                                 " LANGID " + std::to_string(wLangId) + ", CharSet " + row.at(0)),
                  row.at(2) == "0");
    }
}

} // namespace
