#include "settings/SettingIds.h"
#include "tests/TableFile.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <atomic>
#include <climits>
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
    EXPECT_EQ(StoreFixture("SWSettings.xml"), settings.GetPath());
    EXPECT_FALSE(settings.GetVersionHash().empty());
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

TEST(SWSettings, MissingFileIsLoggedAndKeepsContent) {
    CLogCapture log;
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(StoreFixture("SWSettingsSmall.xml")));
    const std::string csHash = settings.GetVersionHash();
    const std::string csMissing = StoreFixture("NoSuchFile.xml");
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), settings.LoadSettings(csMissing));
    EXPECT_TRUE(log.Contains("Load LoadSettings can not find file " + csMissing + " error 2"));
    int32_t nValue = 0;
    EXPECT_TRUE(settings.GetSettingFromID(ID_LOG_OUTPUT, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(StoreFixture("SWSettingsSmall.xml"), settings.GetPath());
    EXPECT_EQ(csHash, settings.GetVersionHash());
}

struct CBrokenCase {
    const char* pszName;
    const char* pszText;
    long nLine; // 0: not checked
    long nPos;
};

const CBrokenCase g_brokenCases[] = {
    {"Empty", "", 0, 0},
    {"Truncated", "<SETTINGS>\n  <GENERALSETTINGS>\n    <ITEM ID=\"81\" DESCR=\"x\" VAL", 3, 0},
    {"MismatchedTag", "<SETTINGS>\n<GENERALSETTINGS>\n</SETTINGS>\n", 3, 3},
    {"NotXml", "this is not a settings file", 0, 0},
    {"UnclosedAttribute", "<SETTINGS><GENERALSETTINGS><ITEM ID=\"81 DESCR=/></GENERALSETTINGS></SETTINGS>", 1,
     0},
    {"ByteOrderMarkNotCounted", "\xEF\xBB\xBF<SETTINGS></SETTING>", 1, 13},
    {"MultiByteCharacterCountsOnce", "<SETTINGS DESCR=\"\xC3\xBC\xE2\x82\xAC\"></SETTING>", 1, 24},
    {"BinaryGarbage", "\x01\x02\xff\xfe<\x00>", 0, 0},
};

void PrintTo(const CBrokenCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class SWSettingsBroken : public testing::TestWithParam<CBrokenCase> {};

TEST_P(SWSettingsBroken, ParseErrorKeepsContentHashAndInterval) {
    const CBrokenCase& c = GetParam();
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    WriteText(csPath, ReadText(StoreFixture("SWSettingsSmall.xml")));

    CLogCapture log;
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    const std::string csHash = settings.GetVersionHash();
    const FILETIME64 ftWrite = settings.GetLastWriteTime();
    ASSERT_EQ(30, settings.GetRefreshInterval());

    WriteText(csPath, std::string(c.pszText, c.pszText + std::char_traits<char>::length(c.pszText)));
    testing::internal::CaptureStderr();
    const HRESULT hr = settings.LoadSettings(csPath);
    const std::string csStderr = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(std::string::npos, csStderr.find("Error on line ")) << csStderr;
    EXPECT_NE(std::string::npos, csStderr.find(" in \"" + csPath + "\".\n")) << csStderr;
    EXPECT_EQ(std::string::npos, csStderr.find("loaded successfully"));
    if (c.nLine) {
        const std::string csWhere = "Error on line " + std::to_string(c.nLine) + ", position ";
        EXPECT_NE(std::string::npos, csStderr.find(csWhere)) << csStderr;
    }
    if (c.nPos) {
        const std::string csWhere = ", position " + std::to_string(c.nPos) + " in";
        EXPECT_NE(std::string::npos, csStderr.find(csWhere)) << csStderr;
    }
    char szCode[32];
    std::snprintf(szCode, sizeof(szCode), "%x", static_cast<unsigned>(hr));
    EXPECT_TRUE(log.Contains(std::string("LoadSettings HRESULT exception ") + szCode));

    int32_t nValue = 0;
    EXPECT_TRUE(settings.GetSettingFromID(ID_LOG_OUTPUT, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(1, nValue);
    EXPECT_EQ(csHash, settings.GetVersionHash());
    EXPECT_EQ(ftWrite, settings.GetLastWriteTime());
    EXPECT_EQ(30, settings.GetRefreshInterval());
}

INSTANTIATE_TEST_SUITE_P(Files, SWSettingsBroken, testing::ValuesIn(g_brokenCases),
                         [](const testing::TestParamInfo<CBrokenCase>& info) { return info.param.pszName; });

TEST(SWSettings, ByteOrderMarkLoads) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    WriteText(csPath, "\xEF\xBB\xBF<SETTINGS><GENERALSETTINGS><ITEM ID=\"23\" DESCR=\"Name\" "
                      "VALUE=\"Gr\xC3\xBC\xC3\x9F\"/></GENERALSETTINGS></SETTINGS>");
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    std::string csValue;
    EXPECT_TRUE(settings.GetSettingFromID(ID_LOG_PRODUCT_NAME, csValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F", csValue);
}

TEST(SWSettings, OtherRootLoadsEmpty) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    WriteText(csPath, "<SERVICEWORKERS><SW ID=\"4\" DESCR=\"x\"/></SERVICEWORKERS>");
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(StoreFixture("SWSettingsSmall.xml")));
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    EXPECT_TRUE(settings.GetGeneralItems().empty());
    EXPECT_TRUE(settings.GetGroups().empty());
    // The interval of the previous file stays: the new file has no setting 81.
    EXPECT_EQ(30, settings.GetRefreshInterval());
}

TEST(SWSettings, NullTextAndIntegerValues) {
    CSWSettings settings;
    settings.SetItem(std::nullopt, {401, std::string("null"), CSettingValue::NullText()});
    settings.SetItem(std::nullopt, {402, std::string("int"), CSettingValue::Integer(-5)});
    settings.SetItem(std::nullopt, {403, std::string("empty"), CSettingValue()});
    settings.SetItem(4, {402, std::nullopt, CSettingValue::Integer(8)});

    int32_t nValue = UNTOUCHED;
    EXPECT_TRUE(settings.GetSettingFromID(401, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(UNTOUCHED, nValue);
    std::string csValue = "untouched";
    EXPECT_FALSE(settings.GetSettingFromID(401, csValue, SETTINGS_GROUP_GENERAL));

    EXPECT_TRUE(settings.GetSettingFromID(402, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(-5, nValue);
    EXPECT_TRUE(settings.GetSettingFromID(402, nValue, 4));
    EXPECT_EQ(8, nValue);
    EXPECT_FALSE(settings.GetSettingFromID(402, csValue, SETTINGS_GROUP_GENERAL));

    nValue = UNTOUCHED;
    EXPECT_FALSE(settings.GetSettingFromID(403, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_FALSE(settings.GetSettingFromID(403, csValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(UNTOUCHED, nValue);
    EXPECT_EQ("untouched", csValue);
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

TEST(SWSettings, SaveThenLoadGivesTheSameContent) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    CSWSettings original;
    ASSERT_EQ(S_OK, original.LoadSettings(StoreFixture("SWSettings.xml")));
    const std::string csSaved = temp.SettingsDir() + "/Saved.xml";
    ASSERT_EQ(S_OK, original.SaveSettings(csSaved));

    CSWSettings reloaded;
    ASSERT_EQ(S_OK, reloaded.LoadSettings(csSaved));
    EXPECT_TRUE(SameContent(original, reloaded));
    EXPECT_EQ(original.GetRefreshInterval(), reloaded.GetRefreshInterval());
    EXPECT_EQ(original.GetHighestGroupId(), reloaded.GetHighestGroupId());

    // Saving what was read back writes the same file again.
    const std::string csSavedTwice = temp.SettingsDir() + "/SavedTwice.xml";
    ASSERT_EQ(S_OK, reloaded.SaveSettings(csSavedTwice));
    EXPECT_EQ(ReadText(csSaved), ReadText(csSavedTwice));
}

TEST(SWSettings, SaveKeepsItemsWithoutDescriptionAndIntegers) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    CSWSettings settings;
    settings.SetItem(std::nullopt, {ID_LOG_LEVEL, std::nullopt, CSettingValue::Integer(10)});
    settings.SetItem(2, {ID_GUARD_ENABLED, std::string("Guard <&\"'>"), CSettingValue::Text("0")});
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    ASSERT_EQ(S_OK, settings.SaveSettings(csPath));

    CSWSettings reloaded;
    ASSERT_EQ(S_OK, reloaded.LoadSettings(csPath));
    int32_t nValue = 0;
    EXPECT_TRUE(reloaded.GetSettingFromID(ID_LOG_LEVEL, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(10, nValue);
    EXPECT_TRUE(reloaded.GetSettingFromID(ID_GUARD_ENABLED, nValue, 2));
    EXPECT_EQ(0, nValue);
    EXPECT_EQ("Guard <&\"'>", reloaded.GetGroups().at(2)->spItems->at(ID_GUARD_ENABLED).DESCR.value_or(""));
}

TEST(SWSettings, SaveToUnwritablePathFails) {
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(StoreFixture("SWSettingsSmall.xml")));
    EXPECT_TRUE(FAILED(settings.SaveSettings("/nonexistent-folder/for/sure/SWSettings.xml")));
}

TEST(SWSettings, ReloadReplacesWholeContent) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    WriteText(csPath, ReadText(StoreFixture("SWSettings.xml")));
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    WriteText(csPath, ReadText(StoreFixture("SWSettingsSmall.xml")));
    ASSERT_EQ(S_OK, settings.Refresh());
    std::string csValue;
    EXPECT_FALSE(settings.GetSettingFromID(ID_EWS_URL, csValue, 0));
    EXPECT_TRUE(settings.GetGroups().empty());
    EXPECT_EQ(30, settings.GetRefreshInterval());
    // The highest group ID only ever rises.
    EXPECT_EQ(7, settings.GetHighestGroupId());
}

TEST(SWSettings, RefreshOfVanishedFileLogsAndKeepsContent) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    WriteText(csPath, ReadText(StoreFixture("SWSettingsSmall.xml")));
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    const std::string csHash = settings.GetVersionHash();
    std::filesystem::remove(csPath);

    CLogCapture log;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), settings.Refresh());
    EXPECT_TRUE(log.Contains("Refresh failed to load " + csPath + " HR= 0x80070002"));
    EXPECT_TRUE(
        log.Contains("CBasicSettings::HashFileDate failed to read filedate " + csPath + ". HR 0x80070002"));
    EXPECT_EQ(csHash, settings.GetVersionHash());
    int32_t nValue = 0;
    EXPECT_TRUE(settings.GetSettingFromID(ID_REFRESH_INTERVAL, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(30, nValue);
}

} // namespace

namespace {

// A writer replaces the file (a new file renamed over it, as editors and deployments do) between two
// versions while the store reloads it: every load gives one version whole, never a mixture. (A file
// rewritten in place can be read half old, half new; that is the writer's fault and no reader can tell.)
TEST(SWSettings, FileRewrittenDuringLoadsGivesOneVersionWhole) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/SWSettings.xml";
    auto version = [](int n) {
        std::string csText = "<SETTINGS><GENERALSETTINGS>";
        for (int i = 0; i < 200; ++i)
            csText += "<ITEM ID=\"" + std::to_string(1000 + i) + "\" DESCR=\"d\" VALUE=\"" +
                      std::to_string(n) + "\"/>";
        return csText + "</GENERALSETTINGS></SETTINGS>";
    };
    const std::string csA = version(1);
    const std::string csB = version(2);
    WriteText(csPath, csA);
    CSWSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));

    std::atomic<bool> bStop{false};
    std::thread writer([&] {
        const std::string csTemp = csPath + ".new";
        for (int n = 0; n < 400 && !bStop.load(); ++n) {
            WriteText(csTemp, n % 2 ? csA : csB);
            std::rename(csTemp.c_str(), csPath.c_str());
        }
        WriteText(csTemp, csB);
        std::rename(csTemp.c_str(), csPath.c_str());
    });
    int nFailures = 0;
    testing::internal::CaptureStderr();
    for (int nLoad = 0; nLoad < 200; ++nLoad) {
        if (FAILED(settings.LoadSettings(csPath)))
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
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    int32_t nValue = 0;
    EXPECT_TRUE(settings.GetSettingFromID(1199, nValue, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(2, nValue);
}

} // namespace
