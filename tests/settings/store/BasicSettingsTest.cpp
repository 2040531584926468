#include "settings/SettingIds.h"
#include "tests/TableFile.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

// A settings file with nothing of its own, to reach the base's behaviour.
class CBareSettings : public CBasicSettings {
public:
    HRESULT LoadSettings(const std::string& csPath) override {
        m_csPath = csPath;
        CommitLoad();
        return S_OK;
    }
};

TEST(SettingsAtoi, FollowsTheCLibraryRules) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/atoi.txt"))
        EXPECT_EQ(tabletest::Number(row.at(0)), SettingsAtoi(tabletest::Bytes(row.at(1)))) << row.at(1);
}

TEST(BasicSettings, ItemConversionRules) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/item-slots.txt")) {
        SCOPED_TRACE(row.at(0));
        CAttributeSlots slots;
        std::istringstream words(row.at(1));
        for (std::string csWord; words >> csWord;) {
            const std::string csValue = csWord.substr(csWord.find('=') + 1);
            slots.emplace_back(csWord.substr(0, csWord.find('=')),
                               csValue == "-" ? CSettingValue()
                               : csValue.rfind("i:", 0) == 0
                                   ? CSettingValue::Integer(std::stoi(csValue.substr(2)))
                                   : CSettingValue::Text(csValue));
        }
        CBasicSettings::TAGITEM item;
        EXPECT_EQ(row.at(2) == "1", CBasicSettings::_functBaseTrans()(slots, item));
        if (row.at(2) == "1") {
            EXPECT_EQ(tabletest::Number(row.at(3)), item.ID);
            EXPECT_EQ(row.at(4) == "1", item.DESCR.has_value());
            EXPECT_EQ(slots[2].second, item.VALUE);
        }
    }
}

TEST(BasicSettings, HashOfKnownFileTimes) {
    // Independently computed: times 33 plus each byte over "low_high".
    EXPECT_EQ("55455", CBasicSettings::HashFileTime(0));
    EXPECT_EQ("379866602", CBasicSettings::HashFileTime(0x01D912345678ABCDull));
    EXPECT_EQ("39334475", CBasicSettings::HashFileTime(133000000000000000ull));
}

TEST(BasicSettings, HashFileDateFollowsTheFile) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    const std::string csPath = temp.SettingsDir() + "/Any.xml";
    WriteText(csPath, "<X/>");
    SetFileTimeOfUnixSeconds(csPath, 1700000000);
    CBareSettings settings;
    ASSERT_EQ(S_OK, settings.LoadSettings(csPath));
    EXPECT_EQ(FileTimeOfUnixSeconds(1700000000), settings.GetLastWriteTime());
    EXPECT_EQ(CBasicSettings::HashFileTime(FileTimeOfUnixSeconds(1700000000)), settings.GetVersionHash());

    SetFileTimeOfUnixSeconds(csPath, 1700000060);
    settings.HashFileDate();
    EXPECT_EQ(CBasicSettings::HashFileTime(FileTimeOfUnixSeconds(1700000060)), settings.GetVersionHash());
    EXPECT_NE(CBasicSettings::HashFileTime(FileTimeOfUnixSeconds(1700000000)), settings.GetVersionHash());
}

TEST(BasicSettings, SaveIsNotImplementedInTheBase) {
    CBareSettings settings;
    EXPECT_EQ(static_cast<HRESULT>(0x80004001), settings.SaveSettings("/tmp/unused.xml"));
    CXmlNode node(&settings);
    EXPECT_EQ(0u, settings.ReleaseNode(node));
    EXPECT_FALSE(node);
}

TEST(BasicSettings, DipatchSaveItemActsOnlyOnWrite) {
    CLogCapture log;
    CBareSettings settings;
    std::unique_ptr<IXmlDocument> spDocument = CreateXmlDocument();
    CXmlNode items = spDocument->AppendElement(CXmlNode(), "ITEMS");
    const CBasicSettings::TAGITEM item{5, std::string("d"), CSettingValue::Integer(6)};

    EXPECT_EQ(S_OK, settings.DipatchSaveItem(2, nullptr, CXmlNode(), nullptr));
    EXPECT_TRUE(spDocument->Children(items, "ITEM").empty());
    EXPECT_EQ(E_POINTER,
              settings.DipatchSaveItem(SAVE_ACTION_WRITE_ITEM, spDocument.get(), CXmlNode(), &item));
    EXPECT_EQ(E_POINTER, settings.DipatchSaveItem(SAVE_ACTION_WRITE_ITEM, spDocument.get(), items, nullptr));
    EXPECT_EQ(2u, log.Count("CBasicSettings::DipatchSaveItem pItemsNode NULL"));

    ASSERT_EQ(S_OK, settings.DipatchSaveItem(SAVE_ACTION_WRITE_ITEM, spDocument.get(), items, &item));
    std::vector<CXmlNode> vecItems = spDocument->Children(items, "ITEM");
    ASSERT_EQ(1u, vecItems.size());
    std::string csValue;
    EXPECT_TRUE(spDocument->GetAttribute(vecItems[0], "VALUE", csValue));
    EXPECT_EQ("6", csValue);
}

class CheckFileDate : public CStoreFileTest {
protected:
    // One check with the clock at llNow: its result, whether it asks for a reload, and whether it logged one.
    void Check(int64_t llNow, HRESULT hrExpected, bool bReload, const char* pszStep = "") {
        m_settings.m_ftNow = FileTimeOfUnixSeconds(llNow);
        bool bAsked = false;
        m_log.Clear();
        EXPECT_EQ(hrExpected, m_settings.CheckFileDate(bAsked)) << pszStep;
        EXPECT_EQ(bReload, bAsked) << pszStep;
        EXPECT_EQ(bReload, m_log.Contains("Reload Settings " + m_csPath + ". Curent LastModifiedDate"))
            << pszStep;
    }
    CLogCapture m_log;
};

// Date checks at given minutes after the load, against a file whose date the test moves.
TEST_F(CheckFileDate, IsGatedByTheInterval) {
    constexpr int64_t llFileTime = 1700000000;
    constexpr int64_t llLoadTime = 1700001000;
    LoadAt(llLoadTime, llFileTime);
    ASSERT_EQ(30, m_settings.GetRefreshInterval());
    ASSERT_EQ(FileTimeOfUnixSeconds(llFileTime), m_settings.GetLastWriteTime());
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/file-date-checks.txt")) {
        if (row.at(2) != "-")
            SetFileTimeOfUnixSeconds(m_csPath, llFileTime + tabletest::Number(row.at(2)));
        Check(llLoadTime + tabletest::Number(row.at(1)), S_OK, row.at(3) == "1", row.at(0).c_str());
        EXPECT_EQ(FileTimeOfUnixSeconds(llLoadTime + tabletest::Number(row.at(4))),
                  m_settings.GetLastCheckTime())
            << row.at(0);
    }
}

TEST_F(CheckFileDate, LogsBothDates) {
    // 2023-11-14 22:13:20 UTC, then 2024-02-29 01:02:03 UTC.
    LoadAt(1700000000, 1700000000);
    SetFileTimeOfUnixSeconds(m_csPath, 1709168523);
    Check(1709168600, S_OK, true);
    EXPECT_TRUE(m_log.Contains("Reload Settings " + m_csPath +
                               ". Curent LastModifiedDate 29.2.2024 - 1:2:3:0 Interval: 30 minutes"));
    EXPECT_TRUE(m_log.Contains("Previous LastModifiedDate 14.11.2023 - 22:13:20:0"));
    EXPECT_EQ(FileTimeOfUnixSeconds(1709168523), m_settings.GetLastWriteTime());
}

TEST_F(CheckFileDate, FailureDoesNotAdvance) {
    LoadAt(1700000000);
    std::filesystem::remove(m_csPath);
    Check(1700000000 + 31 * 60, static_cast<HRESULT>(0x80070002), false);
    EXPECT_TRUE(m_log.Contains("GetFileDate " + m_csPath));
    EXPECT_EQ(FileTimeOfUnixSeconds(1700000000), m_settings.GetLastCheckTime());
}

TEST_F(CheckFileDate, WithoutPathDoesNothing) {
    CClockedStore<CSWSettings> settings;
    settings.m_ftNow = FileTimeOfUnixSeconds(1700000000);
    bool bReload = false;
    EXPECT_EQ(S_OK, settings.CheckFileDate(bReload));
    EXPECT_FALSE(bReload);
    EXPECT_EQ(0u, settings.GetLastCheckTime());
}

TEST_F(CheckFileDate, IntervalZeroChecksEveryCall) {
    LoadAt(
        1700000100, 1700000000,
        "<SETTINGS><GENERALSETTINGS><ITEM ID=\"81\" DESCR=\"i\" VALUE=\"0\"/></GENERALSETTINGS></SETTINGS>");
    ASSERT_EQ(0, m_settings.GetRefreshInterval());
    SetFileTimeOfUnixSeconds(m_csPath, 1700000050);
    Check(1700000100, S_OK, true);
}

} // namespace
