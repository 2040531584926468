#include "settings/SettingIds.h"
#include "tests/TableFile.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <atomic>
#include <thread>

namespace {

constexpr int32_t UNTOUCHED = -777;

class SWSettingsLookup : public testing::TestWithParam<tabletest::TRow> {};

TEST_P(SWSettingsLookup, BothFormsFollowTheGroupRules) {
    const tabletest::TRow& row = GetParam();
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(StoreFixture("SWSettings.xml")));
    const int32_t nId = static_cast<int32_t>(tabletest::Number(row.at(1)));
    const int32_t nGroup = static_cast<int32_t>(tabletest::Number(row.at(2)));
    int32_t nValue = UNTOUCHED;
    EXPECT_EQ(row.at(3) != "-", settings.GetSettingFromID(nId, nValue, nGroup));
    EXPECT_EQ(row.at(3) == "-" ? UNTOUCHED : tabletest::Number(row.at(3)), nValue);
    std::string csValue = "-";
    EXPECT_EQ(row.at(4) != "-", settings.GetSettingFromID(nId, csValue, nGroup));
    EXPECT_EQ(tabletest::Bytes(row.at(4)), csValue);
}

INSTANTIATE_TEST_SUITE_P(Fixture, SWSettingsLookup,
                         testing::ValuesIn(tabletest::ReadTable("settings/lookups.txt")), tabletest::RowName);

TEST(SWSettings, LoadReadsIntervalHighestGroupAndSkipsBadItems) {
    CSWSettings settings;
    testing::internal::CaptureStderr();
    ASSERT_EQ(S_OK, settings.LoadSettings(StoreFixture("SWSettings.xml")));
    EXPECT_EQ("XML document loaded successfully\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(5, settings.GetRefreshInterval());
    EXPECT_EQ(7, settings.GetHighestGroupId());
    // The twenty-character ID never became an item of any number.
    for (const auto& [nId, item] : settings.GetGeneralItems())
        EXPECT_NE("ID of twenty characters", item.DESCR.value_or(""));
    EXPECT_EQ((std::vector<int32_t>{0, 5, 7}), [&] {
        std::vector<int32_t> vec;
        for (const auto& [nId, spGroup] : settings.GetGroups())
            vec.push_back(nId);
        return vec;
    }());
    EXPECT_EQ("Group five", settings.GetGroups().at(5)->DESCR.value_or(""));
    EXPECT_EQ(nullptr, settings.GetGroups().at(7)->spItems);
}

TEST(SWSettings, FileWithoutGeneralSectionLoadsAndKeepsInterval) {
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(StoreFixture("SWSettingsNoGeneral.xml")));
    int32_t nValue = UNTOUCHED;
    EXPECT_FALSE(settings.GetSettingFromID(ID_GUARD_ENABLED, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_FALSE(settings.GetSettingFromID(ID_GUARD_ENABLED, nValue, 0));
    EXPECT_EQ(UNTOUCHED, nValue);
    EXPECT_TRUE(settings.GetSettingFromID(ID_GUARD_ENABLED, nValue, 3));
    EXPECT_EQ(0, nValue);
    EXPECT_EQ(DEFAULT_REFRESH_INTERVAL, settings.GetRefreshInterval());
    EXPECT_EQ(3, settings.GetHighestGroupId());
}

class SWSettingsBroken : public CStoreFileTest, public testing::WithParamInterface<tabletest::TRow> {};

TEST_P(SWSettingsBroken, ParseErrorKeepsContentHashAndInterval) {
    const tabletest::TRow& row = GetParam();
    CLogCapture log;
    LoadAt(0);
    const std::string csHash = m_settings.GetVersionHash();
    const FILETIME64 ftWrite = m_settings.GetLastWriteTime();
    ASSERT_EQ(30, m_settings.GetRefreshInterval());

    WriteText(m_csPath, tabletest::Bytes(row.at(1)));
    testing::internal::CaptureStderr();
    const HRESULT hr = m_settings.LoadSettings(m_csPath);
    const std::string csStderr = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(std::string::npos, csStderr.find(" in \"" + m_csPath + "\".\n")) << csStderr;
    EXPECT_EQ(std::string::npos, csStderr.find("loaded successfully"));
    const std::string csLine = row.at(2) == "0" ? "" : row.at(2);
    const std::string csPos = row.at(3) == "0" ? "" : row.at(3) + " in";
    EXPECT_NE(std::string::npos, csStderr.find("Error on line " + csLine)) << csStderr;
    EXPECT_NE(std::string::npos, csStderr.find(", position " + csPos)) << csStderr;
    char szCode[32];
    std::snprintf(szCode, sizeof(szCode), "%x", static_cast<unsigned>(hr));
    EXPECT_TRUE(log.Contains(std::string("LoadSettings HRESULT exception ") + szCode));

    int32_t nValue = 0;
    EXPECT_TRUE(m_settings.GetSettingFromID(ID_LOG_OUTPUT, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(1, nValue);
    EXPECT_EQ(csHash, m_settings.GetVersionHash());
    EXPECT_EQ(ftWrite, m_settings.GetLastWriteTime());
    EXPECT_EQ(30, m_settings.GetRefreshInterval());
}

INSTANTIATE_TEST_SUITE_P(Files, SWSettingsBroken,
                         testing::ValuesIn(tabletest::ReadTable("settings/broken-settings.txt")),
                         tabletest::RowName);

class SWSettingsFile : public CStoreFileTest {};

TEST(SWSettings, NullTextAndIntegerValues) {
    CSWSettings settings;
    settings.SetItem(std::nullopt, {401, std::string("null"), CSettingValue::NullText()});
    settings.SetItem(std::nullopt, {402, std::string("int"), CSettingValue::Integer(-5)});
    settings.SetItem(std::nullopt, {403, std::string("empty"), CSettingValue()});
    settings.SetItem(4, {402, std::nullopt, CSettingValue::Integer(8)});
    // ID, group, found as an integer, the integer; none is found as a text.
    const std::tuple<int32_t, int32_t, bool, int32_t> aCases[] = {
        {401, SETTINGS_GROUP_GENERAL, true, UNTOUCHED},
        {402, SETTINGS_GROUP_GENERAL, true, -5},
        {402, 4, true, 8},
        {403, SETTINGS_GROUP_GENERAL, false, UNTOUCHED}};
    for (const auto& [nId, nGroup, bFound, nExpected] : aCases) {
        int32_t nValue = UNTOUCHED;
        EXPECT_EQ(settings.GetSettingFromID(nId, nValue, nGroup), bFound) << nId;
        EXPECT_EQ(nValue, nExpected) << nId;
        std::string csValue = "untouched";
        EXPECT_FALSE(settings.GetSettingFromID(nId, csValue, nGroup)) << nId;
        EXPECT_EQ(csValue, "untouched");
    }
}

bool SameContent(const CSWSettings& a, const CSWSettings& b) {
    if (a.GetGeneralItems() != b.GetGeneralItems() || a.GetGroups().size() != b.GetGroups().size())
        return false;
    for (const auto& [nId, spGroup] : a.GetGroups()) {
        auto it = b.GetGroups().find(nId);
        if (it == b.GetGroups().end() || it->second->nId != spGroup->nId ||
            it->second->DESCR != spGroup->DESCR || !spGroup->spItems != !it->second->spItems ||
            (spGroup->spItems && *spGroup->spItems != *it->second->spItems))
            return false;
    }
    return true;
}

TEST_F(SWSettingsFile, SaveThenLoadGivesTheSameContent) {
    CSWSettings original;
    ASSERT_EQ(S_OK, original.LoadSettings(StoreFixture("SWSettings.xml")));
    original.SetItem(5, {ID_GUARD_ENABLED, std::string("Guard <&\"'>"), CSettingValue::Text("0")});
    ASSERT_EQ(S_OK, original.SaveSettings(m_csPath));
    CSWSettings reloaded;
    ASSERT_EQ(S_OK, reloaded.LoadSettings(m_csPath));
    EXPECT_TRUE(SameContent(original, reloaded));
    EXPECT_EQ(original.GetRefreshInterval(), reloaded.GetRefreshInterval());
    EXPECT_EQ(original.GetHighestGroupId(), reloaded.GetHighestGroupId());

    // Saving what was read back writes the same file again.
    const std::string csSavedTwice = m_temp.SettingsDir() + "/SavedTwice.xml";
    ASSERT_EQ(S_OK, reloaded.SaveSettings(csSavedTwice));
    EXPECT_EQ(ReadText(m_csPath), ReadText(csSavedTwice));
    EXPECT_TRUE(FAILED(reloaded.SaveSettings("/nonexistent-folder/for/sure/SWSettings.xml")));
}

TEST_F(SWSettingsFile, SaveWritesAnEmptyDescriptionAndIntegersAsDigits) {
    CSWSettings settings;
    settings.SetItem(std::nullopt, {ID_LOG_LEVEL, std::nullopt, CSettingValue::Integer(10)});
    ASSERT_EQ(S_OK, settings.SaveSettings(m_csPath));
    CSWSettings reloaded;
    ASSERT_EQ(S_OK, reloaded.LoadSettings(m_csPath));
    EXPECT_EQ((CBasicSettings::TAGITEM{ID_LOG_LEVEL, std::string(), CSettingValue::Text("10")}),
              reloaded.GetGeneralItems().at(ID_LOG_LEVEL));
}

// A reload replaces the whole content; a reload of a vanished file logs and keeps it.
TEST_F(SWSettingsFile, ReloadReplacesWholeContentOrKeepsItOnFailure) {
    LoadAt(0, 0, ReadText(StoreFixture("SWSettings.xml")));
    WriteText(m_csPath, ReadText(StoreFixture("SWSettingsSmall.xml")));
    ASSERT_EQ(S_OK, m_settings.Refresh());
    std::string csValue;
    EXPECT_FALSE(m_settings.GetSettingFromID(ID_EWS_URL, csValue, 0));
    EXPECT_TRUE(m_settings.GetGroups().empty());
    EXPECT_EQ(30, m_settings.GetRefreshInterval());
    // The highest group ID only ever rises.
    EXPECT_EQ(7, m_settings.GetHighestGroupId());

    const std::string csHash = m_settings.GetVersionHash();
    std::filesystem::remove(m_csPath);
    CLogCapture log;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), m_settings.Refresh());
    EXPECT_TRUE(log.Contains("Load LoadSettings can not find file " + m_csPath + " error 2"));
    EXPECT_TRUE(log.Contains("Refresh failed to load " + m_csPath + " HR= 0x80070002"));
    EXPECT_TRUE(
        log.Contains("CBasicSettings::HashFileDate failed to read filedate " + m_csPath + ". HR 0x80070002"));
    EXPECT_EQ(csHash, m_settings.GetVersionHash());
    int32_t nValue = 0;
    EXPECT_TRUE(m_settings.GetSettingFromID(ID_REFRESH_INTERVAL, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(30, nValue);
}

// A writer replaces the file (a new file renamed over it, as editors and deployments do) between two
// versions while the store reloads it: every load gives one version whole, never a mixture. (A file
// rewritten in place can be read half old, half new; that is the writer's fault and no reader can tell.)
TEST_F(SWSettingsFile, FileRewrittenDuringLoadsGivesOneVersionWhole) {
    auto version = [](int n) {
        std::string csText = "<SETTINGS><GENERALSETTINGS>";
        for (int i = 0; i < 200; ++i)
            csText += "<ITEM ID=\"" + std::to_string(1000 + i) + "\" DESCR=\"d\" VALUE=\"" +
                      std::to_string(n) + "\"/>";
        return csText + "</GENERALSETTINGS></SETTINGS>";
    };
    const std::string csA = version(1);
    const std::string csB = version(2);
    WriteText(m_csPath, csA);
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(m_csPath));

    std::atomic<bool> bStop{false};
    std::thread writer([&] {
        const std::string csTemp = m_csPath + ".new";
        for (int n = 0; n < 400 && !bStop.load(); ++n) {
            WriteText(csTemp, n % 2 ? csA : csB);
            std::rename(csTemp.c_str(), m_csPath.c_str());
        }
        WriteText(csTemp, csB);
        std::rename(csTemp.c_str(), m_csPath.c_str());
    });
    int nFailures = 0;
    testing::internal::CaptureStderr();
    for (int nLoad = 0; nLoad < 200; ++nLoad) {
        if (FAILED(settings.LoadSettings(m_csPath)))
            ++nFailures;
        ASSERT_EQ(200u, settings.GetGeneralItems().size());
        int32_t nFirst = 0;
        ASSERT_TRUE(settings.GetSettingFromID(1000, nFirst, SETTINGS_GROUP_GENERAL));
        ASSERT_TRUE(nFirst == 1 || nFirst == 2);
        for (const auto& [nId, item] : settings.GetGeneralItems())
            ASSERT_EQ(std::to_string(nFirst), item.VALUE.GetText()) << "mixed versions at " << nId;
    }
    bStop = true;
    writer.join();
    testing::internal::GetCapturedStderr();
    RecordProperty("FailedLoads", nFailures);
    ASSERT_EQ(S_OK, settings.LoadSettings(m_csPath));
    int32_t nValue = 0;
    EXPECT_TRUE(settings.GetSettingFromID(1199, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(2, nValue);
}

} // namespace
