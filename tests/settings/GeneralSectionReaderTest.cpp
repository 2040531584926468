#include "settings/CGeneralSectionReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

class GeneralSectionReader : public ::testing::Test {
protected:
    std::string Write(const std::string& csContent) {
        std::ofstream file(m_csPath, std::ios::binary | std::ios::trunc);
        file << csContent;
        return m_csPath;
    }
    void TearDown() override { std::remove(m_csPath.c_str()); }

    std::string m_csPath = ::testing::TempDir() + "SWSettings_" + std::to_string(::getpid()) + ".xml";
    CGeneralSectionReader m_reader;
};

const char g_szValid[] = R"(<?xml version="1.0"?>
<SETTINGS>
  <GENERALSETTINGS>
    <ITEM ID="14" DESCR="level" VALUE="1"/>
    <ITEM ID="12" DESCR="mode" VALUE="2"/>
    <ITEM ID="12" DESCR="mode again" VALUE="1"/>
    <ITEM ID="x9" DESCR="bad id" VALUE="7"/>
    <ITEM ID="39" DESCR="no value"/>
  </GENERALSETTINGS>
  <SETTING ID="3" DESCR="group three"><ITEMS><ITEM ID="14" VALUE="0"/><ITEM ID="110" VALUE="0"/></ITEMS></SETTING>
</SETTINGS>)";

TEST_F(GeneralSectionReader, GroupsFallBackToTheGeneralSection) {
    std::string csError;
    ASSERT_EQ(m_reader.Load(Write(g_szValid), csError), S_OK) << csError;
    struct {
        DWORD dwId;
        DWORD dwGroup;
        bool bFound;
        const char* pszValue;
    } aCases[] = {
        {14, 0xFFFFFFFF, true, "1"},  {14, 3, true, "0"},          {14, 4, true, "1"}, {110, 3, true, "0"},
        {110, 0xFFFFFFFF, false, ""}, {12, 0xFFFFFFFF, true, "1"}, // the later item wins
        {39, 0xFFFFFFFF, false, ""},  {9, 0xFFFFFFFF, false, ""},
    };
    for (const auto& c : aCases) {
        std::string csValue;
        EXPECT_EQ(m_reader.GetSettingFromID(c.dwId, csValue, c.dwGroup), c.bFound)
            << c.dwId << "/" << c.dwGroup;
        EXPECT_EQ(csValue, c.pszValue) << c.dwId << "/" << c.dwGroup;
    }
}

TEST_F(GeneralSectionReader, BadFilesKeepThePreviousContent) {
    std::string csError;
    ASSERT_EQ(m_reader.Load(Write(g_szValid), csError), S_OK);
    const struct {
        const char* pszContent;
        HRESULT hrExpected;
    } aBad[] = {
        {"<SETTINGS><GENERALSETTINGS><ITEM ID=\"14\" VALUE=\"0\"/>", E_FAIL}, // truncated
        {"not xml at all", E_FAIL},
        {"<OTHER/>", E_FAIL},
        {"", E_FAIL},
    };
    for (const auto& bad : aBad) {
        csError.clear();
        EXPECT_EQ(m_reader.Load(Write(bad.pszContent), csError), bad.hrExpected) << bad.pszContent;
        EXPECT_FALSE(csError.empty());
        std::string csValue;
        EXPECT_TRUE(m_reader.GetSettingFromID(14, csValue, 0xFFFFFFFF));
        EXPECT_EQ(csValue, "1");
    }
    EXPECT_EQ(m_reader.Load(m_csPath + ".missing", csError), HRESULT_FILE_NOT_FOUND);
    EXPECT_TRUE(m_reader.IsLoaded());
}

TEST_F(GeneralSectionReader, ByteOrderMarkIsAccepted) {
    std::string csError;
    ASSERT_EQ(m_reader.Load(Write(std::string("\xEF\xBB\xBF") + g_szValid), csError), S_OK) << csError;
    std::string csValue;
    EXPECT_TRUE(m_reader.GetSettingFromID(14, csValue, 0xFFFFFFFF));
}

} // namespace
