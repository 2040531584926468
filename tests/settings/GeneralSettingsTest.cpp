#include "platform/CPlatform.h"
#include "tests/filter/PlatformDoubles.h"
#include "tests/settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace {

class GeneralSettings : public CInstallationTest {
protected:
    void SetUp() override {
        CPlatform::SetSysLog(&m_sysLog);
        CInstallationTest::SetUp();
    }
    void TearDown() override {
        CInstallationTest::TearDown();
        CPlatform::SetSysLog(nullptr);
    }
    DWORD Init(CWKGeneralSettings& settings) {
        settings.SetEventIds(WK_EVENT_INIT_SUCCEEDED, WK_EVENT_INIT_FAILED, WK_EVENT_ERROR_TEXT);
        settings.SetProductNumber(WK_PRODUCT_NUMBER);
        return InitProductSettings(settings);
    }
    DWORD Init() { return Init(m_settings); }

    CRecordingSysLog m_sysLog;
};

TEST_F(GeneralSettings, SuccessfulInitRegistersTheProductAndWritesTheSuccessEvent) {
    ASSERT_EQ(Init(), 1u);
    EXPECT_EQ(m_sysLog.m_vOpened, std::vector<std::string>{"Brindlemark Wendrake"});
    ASSERT_EQ(m_sysLog.m_vRecords.size(), 1u);
    EXPECT_EQ(m_sysLog.m_vRecords[0].eType, EEventType::Information);
    EXPECT_EQ(m_sysLog.m_vRecords[0].dwEventId, 0x60000065u);
    EXPECT_EQ(m_settings.GetRegistryKey(), "Software\\Brindlemark\\Wendrake");
    EXPECT_EQ(m_settings.GetProductFolderName(), "Wendrake");
    EXPECT_EQ(m_settings.GetModuleFileName(), WK_MODULE_FILE_NAME);
    EXPECT_EQ(m_settings.GetModuleFolder(), m_installation.Prefix() + "/Wendrake/");
    EXPECT_EQ(m_settings.GetCommonFolder(), m_installation.Prefix() + "/Common Files/");
    EXPECT_EQ(m_settings.GetSettingsPath(), m_installation.SettingsDir() + "/SWSettings.xml");
    EXPECT_EQ(m_settings.GetResourcePath(),
              m_installation.Prefix() + "/Wendrake/Resource/" + WK_RESOURCE_MODULE_NAME);
    // The sample's groups and links: criteria 2 is group 2, which switches automatic logoff on.
    DWORD dwGroup = 0;
    EXPECT_TRUE(m_settings.GetLinkCriteriaSettingsID(2, dwGroup));
    int32_t nAutoLogoff = -1;
    EXPECT_TRUE(m_settings.GetSettingFromID(ID_AUTO_LOGOFF, nAutoLogoff, dwGroup));
    EXPECT_EQ(nAutoLogoff, 1);
    // A second Init returns at once: no second source, no second event.
    ASSERT_EQ(Init(), 1u);
    EXPECT_EQ(m_sysLog.m_vOpened.size(), 1u);
    EXPECT_EQ(m_sysLog.m_vRecords.size(), 1u);
    EXPECT_EQ(m_settings.Terminate(), 1u);
    EXPECT_EQ(m_settings.Terminate(), 0u);
}

TEST_F(GeneralSettings, FailedInitWritesTheReasonThenTheFailureEvent) {
    CFakeModules modules;
    CPlatform::SetModules(&modules);
    EXPECT_EQ(Init(), 0u);
    CPlatform::SetModules(nullptr);
    EXPECT_FALSE(m_settings.IsInitialized());
    // The load reports its reason where it fails, the initialisation reports it again with the failure.
    ASSERT_EQ(m_sysLog.m_vRecords.size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(m_sysLog.m_vRecords[i].dwEventId, 0x6000006Fu);
        EXPECT_EQ(m_sysLog.m_vRecords[i].eType, EEventType::Error);
        EXPECT_EQ(m_sysLog.m_vRecords[i].vTexts,
                  std::vector<std::string>{std::string("Can not get module path ") + WK_MODULE_FILE_NAME});
    }
    EXPECT_EQ(m_sysLog.m_vRecords[2].dwEventId, 0x6000007Eu);
    EXPECT_EQ(m_sysLog.m_vRecords[2].eType, EEventType::Error);
}

// The reason names the refused file, and where a parse stopped in it.
TEST_F(GeneralSettings, BrokenOrMissingSettingsFailInitWithTheReason) {
    struct {
        const char* pszName;
        std::string csFile;
        const char* pszContent; // null removes the file
        const char* pszWhere;
    } aCases[] = {
        {"missing settings", m_installation.SettingsDir() + "/SWSettings.xml", nullptr,
         "\" The system cannot"},
        {"broken settings", m_installation.SettingsDir() + "/SWSettings.xml", "<SETTINGS>\n<GENERALSETTINGS>",
         "\" line 2, position "},
        {"missing link criteria", m_installation.CommonSettingsDir() + "/LinkCriteriaSettings.xml", nullptr,
         "\" The system cannot"},
    };
    for (const auto& c : aCases) {
        SetUp();
        if (c.pszContent)
            std::ofstream(c.csFile, std::ios::trunc) << c.pszContent;
        else
            std::remove(c.csFile.c_str());
        m_sysLog.m_vRecords.clear();
        CWKGeneralSettings settings;
        EXPECT_EQ(Init(settings), 0u) << c.pszName;
        ASSERT_GE(m_sysLog.m_vRecords.size(), 2u) << c.pszName;
        const CRecordingSysLog::CRecord& reason = m_sysLog.m_vRecords[m_sysLog.m_vRecords.size() - 2];
        EXPECT_EQ(reason.dwEventId, 0x6000006Fu) << c.pszName;
        ASSERT_EQ(reason.vTexts.size(), 1u);
        EXPECT_EQ(reason.vTexts[0].rfind("Loading Settings failed \"" + c.csFile + c.pszWhere, 0), 0u)
            << c.pszName << ": " << reason.vTexts[0];
        EXPECT_EQ(m_sysLog.m_vRecords.back().dwEventId, 0x6000007Eu) << c.pszName;
        settings.Terminate();
    }
}

// A cache setting the cache refuses stops the start (a text without digits reads as 0, as everywhere else):
// the reason names the setting, then the failure event, and never the success event.
TEST_F(GeneralSettings, RefusedCacheSettingFailsTheStartWithItsReason) {
    for (const char* pszValue : {"0", "-1", "0x10", "abc"}) {
        SCOPED_TRACE(pszValue);
        SetUp();
        SetSetting(60, pszValue);
        m_sysLog.m_vRecords.clear();
        CWKGeneralSettings settings;
        EXPECT_EQ(Init(settings), 0u);
        EXPECT_FALSE(settings.IsInitialized());
        ASSERT_EQ(m_sysLog.m_vRecords.size(), 2u);
        EXPECT_EQ(m_sysLog.m_vRecords[0].dwEventId, 0x6000006Fu);
        EXPECT_NE(m_sysLog.m_vRecords[0].vTexts.at(0).find("ADUserConfig cannot be created with setting 60 "),
                  std::string::npos)
            << m_sysLog.m_vRecords[0].vTexts.at(0);
        EXPECT_EQ(m_sysLog.m_vRecords[1].dwEventId, 0x6000007Eu);
        settings.Terminate();
    }
}

// With an interval of 0 an edit is read at the next check.
TEST_F(GeneralSettings, AnEditedSettingIsReadAtTheNextCheckAndAMissingOneKeepsTheDefault) {
    SetSetting(ID_REFRESH_INTERVAL, "0");
    ASSERT_EQ(Init(), 1u);
    SetSetting(ID_GUARD_ENABLED, "0");
    const std::string csFile = m_installation.SettingsDir() + "/SWSettings.xml";
    std::filesystem::last_write_time(csFile,
                                     std::filesystem::last_write_time(csFile) + std::chrono::hours(1));
    bool bChanged = false;
    EXPECT_TRUE(m_settings.RefreshSettingsIfChanged(bChanged));
    int32_t nGuard = -1;
    EXPECT_TRUE(m_settings.GetSettingFromID(ID_GUARD_ENABLED, nGuard, SETTINGS_GROUP_GENERAL));
    EXPECT_EQ(nGuard, 0);
    // Settings missing from the store are logged and keep the default.
    std::string csValue = "default";
    EXPECT_FALSE(m_settings.GetSettingFromID(9999, csValue, SETTINGS_GROUP_GENERAL));
    EXPECT_FALSE(m_settings.GetSettingFromID(9998, nGuard, 3));
    EXPECT_EQ(csValue, "default");
    EXPECT_EQ(nGuard, 0);
    EXPECT_TRUE(m_log.Contains("GetSettingFromID string failed ID 9999, Criteria -1"));
    EXPECT_TRUE(m_log.Contains("GetSettingFromID string failed ID 9998, Criteria 3"));
}

// An edit that does not load leaves the settings in force and writes the error-text event with its reason.
TEST_F(GeneralSettings, ARefusedEditKeepsTheSettingsAndWritesItsReason) {
    SetSetting(ID_REFRESH_INTERVAL, "0");
    ASSERT_EQ(Init(), 1u);
    const std::string csFile = m_installation.SettingsDir() + "/SWSettings.xml";
    const std::pair<const char*, const char*> aCases[] = {
        {"<SETTINGS>\n<GENERALSETTINGS>\n<ITEM ID=\"1\"",
         "\" line 3, position 12: Error parsing start element tag The XML document is not well-formed."},
        {"<OTHER/>", "\": the root element is not SETTINGS The data is invalid."}};
    int nHours = 0;
    for (const auto& [pszContent, pszReason] : aCases) {
        SCOPED_TRACE(pszContent);
        m_sysLog.m_vRecords.clear();
        std::ofstream(csFile, std::ios::trunc) << pszContent;
        std::filesystem::last_write_time(csFile, std::filesystem::last_write_time(csFile) +
                                                     std::chrono::hours(++nHours));
        bool bChanged = false;
        EXPECT_TRUE(m_settings.RefreshSettingsIfChanged(bChanged));
        int32_t nInterval = -1;
        EXPECT_TRUE(m_settings.GetSettingFromID(ID_REFRESH_INTERVAL, nInterval, SETTINGS_GROUP_GENERAL));
        EXPECT_EQ(nInterval, 0);
        ASSERT_EQ(m_sysLog.m_vRecords.size(), 1u);
        EXPECT_EQ(m_sysLog.m_vRecords[0].dwEventId, 0x6000006Fu);
        EXPECT_EQ(m_sysLog.m_vRecords[0].eType, EEventType::Error);
        EXPECT_NE(m_sysLog.m_vRecords[0].vTexts.at(0).find("\"" + csFile + pszReason), std::string::npos)
            << m_sysLog.m_vRecords[0].vTexts.at(0);
    }
}

TEST_F(GeneralSettings, ReportHelpersLimitSkipEmptyAndAppendTheSystemText) {
    ASSERT_EQ(Init(), 1u);
    m_sysLog.m_vRecords.clear();
    const std::string csLong(5000, 'x');
    m_settings.ReportErrorText(EVENT_TYPE_WARNING, "%s", csLong.c_str());
    m_settings.ReportErrorText(EVENT_TYPE_ERROR, "%s", "");
    m_settings.ReportErrorTextHr(EVENT_TYPE_ERROR, E_INVALIDARG, "Loading %s failed", "x.xml");
    // A "%" inside an argument is text, not a format.
    m_settings.ReportErrorText(EVENT_TYPE_ERROR, "%s", "agent %n%s%d");
    ASSERT_EQ(m_sysLog.m_vRecords.size(), 3u);
    EXPECT_EQ(m_sysLog.m_vRecords[0].eType, EEventType::Warning);
    EXPECT_EQ(m_sysLog.m_vRecords[0].dwEventId, 0x6000006Fu);
    EXPECT_EQ(m_sysLog.m_vRecords[0].vTexts[0], std::string(2048, 'x'));
    EXPECT_EQ(m_sysLog.m_vRecords[1].vTexts[0], "Loading x.xml failed The parameter is incorrect.");
    EXPECT_EQ(m_sysLog.m_vRecords[2].vTexts[0], "agent %n%s%d");
    m_sysLog.m_bThrow = true;
    EXPECT_NO_THROW(m_settings.ReportErrorText(EVENT_TYPE_ERROR, "%s", "text"));
    EXPECT_NO_THROW(m_settings.ReportErrorTextHr(EVENT_TYPE_ERROR, E_FAIL, "%s", "text"));
}

} // namespace
