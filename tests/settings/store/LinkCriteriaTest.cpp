#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD UNTOUCHED = 4242;

struct CResolveCase {
    const char* pszName;
    DWORD dwWorker;
    DWORD dwCriteria;
    bool bFound;
    DWORD dwGroup;
    const char* pszLog;
};

const CResolveCase g_resolveCases[] = {
    {"LinkedCriteria", 4, 2, true, 7, "SW Settings ID: 4 for Criteria ID: 2"},
    {"FirstElementLink", 4, 1, true, 5, "SW Settings ID: 4 for Criteria ID: 1"},
    {"UnlinkedCriteriaUsesBackup", 4, 3, false, 0,
     "Criteria 3 for SW 4 is not LinkCriteria settings. Set Backup Default Setting ID 0"},
    {"NonNumericGroupIsZero", 4, 10, true, 0, "SW Settings ID: 4 for Criteria ID: 10"},
    {"LinksOfUnreadableWorkerDropped", 4, 11, false, 0,
     "Criteria 11 for SW 4 is not LinkCriteria settings. Set Backup Default Setting ID 0"},
    {"OtherWorker", 3, 1, true, 9, "SW Settings ID: 3 for Criteria ID: 1"},
    {"UnknownWorker", 5, 1, false, UNTOUCHED, "SW is not LinkCriteria settings 5"},
    {"WorkerWithoutDescrNotRecorded", 6, 1, false, UNTOUCHED, "SW is not LinkCriteria settings 6"},
    {"NoWorkerNumber", 0, 1, false, UNTOUCHED, "SW is not LinkCriteria settings 0"},
};

void PrintTo(const CResolveCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class LinkCriteriaResolve : public testing::TestWithParam<CResolveCase> {};

TEST_P(LinkCriteriaResolve, ResolvesAndLogs) {
    const CResolveCase& c = GetParam();
    CLinkCriteria criteria;
    ASSERT_EQ(S_OK, criteria.LoadSettings(StoreFixture("LinkCriteriaSettings.xml")));
    CLogCapture log;
    DWORD dwGroup = UNTOUCHED;
    EXPECT_EQ(c.bFound, criteria.GetLinkCriteriaSettingsID(c.dwWorker, c.dwCriteria, dwGroup));
    EXPECT_EQ(c.dwGroup, dwGroup);
    EXPECT_EQ(1u, log.Count(c.pszLog)) << testing::PrintToString(log.Lines());
}

INSTANTIATE_TEST_SUITE_P(Fixture, LinkCriteriaResolve, testing::ValuesIn(g_resolveCases),
                         [](const testing::TestParamInfo<CResolveCase>& info) { return info.param.pszName; });

TEST(LinkCriteria, DuplicateWorkersMerge) {
    CLinkCriteria criteria;
    ASSERT_EQ(S_OK, criteria.LoadSettings(StoreFixture("LinkCriteriaSettings.xml")));
    const CLinkCriteria::CWorkerMap& workers = criteria.GetWorkers();
    ASSERT_EQ(2u, workers.size());
    const CLinkCriteria::CWorker& worker = *workers.at(4);
    EXPECT_EQ("Worker four, renamed", worker.csDescr);
    EXPECT_EQ((std::map<int32_t, int32_t>{{1, 5}, {2, 7}, {10, 0}}), worker.mapLinks);
}

TEST(LinkCriteria, MissingFileIsLogged) {
    CLogCapture log;
    CLinkCriteria criteria;
    const std::string csMissing = StoreFixture("NoLinkCriteria.xml");
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), criteria.LoadSettings(csMissing));
    EXPECT_TRUE(log.Contains("Load LoadLinkCriteria can not find file " + csMissing + " error 2"));
    EXPECT_TRUE(criteria.GetPath().empty());
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

TEST(LinkCriteria, BrokenFileKeepsPreviousLinks) {
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
