#include "tests/TableFile.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD UNTOUCHED = 4242;

class LinkCriteriaResolve : public testing::TestWithParam<tabletest::TRow> {};

TEST_P(LinkCriteriaResolve, ResolvesAndLogs) {
    const tabletest::TRow& row = GetParam();
    CLinkCriteria criteria;
    ASSERT_EQ(S_OK, criteria.LoadSettings(StoreFixture("LinkCriteriaSettings.xml")));
    CLogCapture log;
    DWORD dwGroup = UNTOUCHED;
    EXPECT_EQ(row.at(3) == "1", criteria.GetLinkCriteriaSettingsID(tabletest::Number(row.at(1)),
                                                                   tabletest::Number(row.at(2)), dwGroup));
    EXPECT_EQ(row.at(4) == "-" ? UNTOUCHED : static_cast<DWORD>(tabletest::Number(row.at(4))), dwGroup);
    EXPECT_EQ(1u, log.Count(row.at(5))) << testing::PrintToString(log.Lines());
}

INSTANTIATE_TEST_SUITE_P(Fixture, LinkCriteriaResolve,
                         testing::ValuesIn(tabletest::ReadTable("settings/link-resolve.txt")),
                         tabletest::RowName);

TEST(LinkCriteria, DuplicateWorkersMerge) {
    CLinkCriteria criteria;
    ASSERT_EQ(S_OK, criteria.LoadSettings(StoreFixture("LinkCriteriaSettings.xml")));
    const CLinkCriteria::CWorkerMap& workers = criteria.GetWorkers();
    ASSERT_EQ(2u, workers.size());
    const CLinkCriteria::CWorker& worker = *workers.at(4);
    EXPECT_EQ("Worker four, renamed", worker.csDescr);
    EXPECT_EQ((std::map<int32_t, int32_t>{{1, 5}, {2, 7}, {10, 0}}), worker.mapLinks);
}

// The link criteria fixture copied into a throwaway installation, for tests that rewrite it; empty on
// failure.
std::string CopyLinkCriteriaFixture(const CTempInstallation& temp) {
    if (!temp.IsValid())
        return std::string();
    const std::string csPath = temp.CommonSettingsDir() + "/LinkCriteriaSettings.xml";
    WriteText(csPath, ReadText(StoreFixture("LinkCriteriaSettings.xml")));
    return csPath;
}

TEST(LinkCriteria, BrokenOrMissingFileKeepsPreviousLinks) {
    CTempInstallation temp;
    const std::string csPath = CopyLinkCriteriaFixture(temp);
    ASSERT_FALSE(csPath.empty());
    CLinkCriteria criteria;
    ASSERT_EQ(S_OK, criteria.LoadSettings(csPath));
    const std::string csHash = criteria.GetVersionHash();

    WriteText(csPath, "<SERVICEWORKERS><SW ID=\"4\" DESCR=\"x\"><LINK CRITERIA_ID=\"2\" SETTINGS_ID=\"1\">");
    CLogCapture log;
    testing::internal::CaptureStderr();
    const HRESULT hr = criteria.LoadSettings(csPath);
    const std::string csStderr = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(std::string::npos, csStderr.find("Error on line 1, position "));
    EXPECT_TRUE(log.Contains("LoadLinkCriteria HRESULT exception "));
    std::filesystem::remove(csPath);
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), criteria.LoadSettings(csPath));
    EXPECT_TRUE(log.Contains("Load LoadLinkCriteria can not find file " + csPath + " error 2"));
    DWORD dwGroup = 0;
    EXPECT_TRUE(criteria.GetLinkCriteriaSettingsID(4, 2, dwGroup));
    EXPECT_EQ(7u, dwGroup);
    EXPECT_EQ(csHash, criteria.GetVersionHash());
}

TEST(LinkCriteria, SaveThenLoadGivesTheSameLinks) {
    CTempInstallation temp;
    ASSERT_TRUE(temp.IsValid());
    CLinkCriteria original;
    ASSERT_EQ(S_OK, original.LoadSettings(StoreFixture("LinkCriteriaSettings.xml")));
    const std::string csPath = temp.CommonSettingsDir() + "/Saved.xml";
    ASSERT_EQ(S_OK, original.SaveSettings(csPath));
    CLinkCriteria reloaded;
    ASSERT_EQ(S_OK, reloaded.LoadSettings(csPath));
    ASSERT_EQ(original.GetWorkers().size(), reloaded.GetWorkers().size());
    for (const auto& [nId, spWorker] : original.GetWorkers()) {
        const CLinkCriteria::CWorker& other = *reloaded.GetWorkers().at(nId);
        EXPECT_EQ(spWorker->nId, other.nId);
        EXPECT_EQ(spWorker->csDescr, other.csDescr);
        EXPECT_EQ(spWorker->mapLinks, other.mapLinks);
    }
}

TEST(LinkCriteria, ReloadDropsRemovedWorkers) {
    CTempInstallation temp;
    const std::string csPath = CopyLinkCriteriaFixture(temp);
    ASSERT_FALSE(csPath.empty());
    CLinkCriteria criteria;
    ASSERT_EQ(S_OK, criteria.LoadSettings(csPath));
    WriteText(csPath, "<SERVICEWORKERS><SW ID=\"3\" DESCR=\"only\"/></SERVICEWORKERS>");
    ASSERT_EQ(S_OK, criteria.Refresh());
    CLogCapture log;
    DWORD dwGroup = UNTOUCHED;
    EXPECT_FALSE(criteria.GetLinkCriteriaSettingsID(4, 2, dwGroup));
    EXPECT_EQ(UNTOUCHED, dwGroup);
    EXPECT_TRUE(log.Contains("SW is not LinkCriteria settings 4"));
}

} // namespace
