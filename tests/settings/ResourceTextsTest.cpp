// The settings' text lookups: the user's language first, English (4105) where it lacks a text, and the
// conversion into the page's charset.
#include "i18n/ResourceModuleData.h"
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
    void TearDown() override {
        m_settings.Terminate();
        CInstallationTest::TearDown();
    }

    CWKGeneralSettings m_settings;
};

TEST_F(ResourceTexts, OneTextFallsBackToEnglish) {
    struct {
        UINT nId;
        LANGID wLangId;
        bool bFound;
        std::u16string wsText;
        const char* pszLine; // null: no fallback line
    } aCases[] = {
        {102, FRENCH, true, u"Quitter l\u2019application", nullptr},
        {103, FRENCH, true, u"Policy",
         "GetResourceString didn't find res ID 103 LANGID 1036, it looked for English version 1"},
        {104, FRENCH, true, u"Log off",
         "GetResourceString didn't find res ID 104 LANGID 1036, it looked for English version 1"},
        {106, FRENCH, true, u"continuer", nullptr},
        {105, FRENCH, false, u"", "GetResourceString LoadString failed  ID 105, LANGID 1036"},
        {107, 0x0411, false, u"",
         "GetResourceString didn't find res ID 107 LANGID 1041, it looked for English version 0"},
        {102, LANGID_RESOURCE_ENGLISH, true, u"Leave \"now\" <b>?</b>", nullptr},
    };
    for (const auto& c : aCases) {
        m_log.Clear();
        std::u16string wsText = u"stale";
        EXPECT_EQ(m_settings.GetResourceString(c.nId, wsText, c.wLangId), c.bFound) << c.nId;
        EXPECT_EQ(wsText, c.wsText) << c.nId;
        if (c.pszLine) {
            EXPECT_TRUE(m_log.Contains(c.pszLine)) << c.pszLine;
        } else {
            EXPECT_FALSE(m_log.Contains("GetResourceString")) << c.nId;
        }
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
    struct {
        const char* pszCharSet;
        LANGID wLangId;
        bool bResult;
        std::string csText;
    } aCases[] = {
        {"iso-8859-7", GREEK, true, "\xC1\xF0\xEF\xF3\xFD\xED\xE4\xE5\xF3\xE7"},
        {"windows-1253", GREEK, true, "\xC1\xF0\xEF\xF3\xFD\xED\xE4\xE5\xF3\xE7"},
        {"ISO-8859-1", FRENCH, true,
         "Quitter l\x92"
         "application"},
        {"koi8-r", FRENCH, false, ""},
        {"", FRENCH, false, ""},
    };
    for (const auto& c : aCases) {
        m_log.Clear();
        std::map<UINT, std::string> mapTexts;
        const UINT nId = c.wLangId == GREEK ? 104 : 102;
        EXPECT_EQ(m_settings.GetResources({nId}, mapTexts, c.wLangId, c.pszCharSet), c.bResult)
            << c.pszCharSet;
        EXPECT_EQ(mapTexts[nId], c.csText) << c.pszCharSet;
        if (!c.bResult) {
            EXPECT_TRUE(m_log.Contains("GetResource can not translate the res ID " + std::to_string(nId) +
                                       " LANGID " + std::to_string(c.wLangId) + ", CharSet " + c.pszCharSet))
                << c.pszCharSet;
        }
    }
}

} // namespace
