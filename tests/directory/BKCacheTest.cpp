#include "directory/CBKCache.h"

#include "host/testing/TestHost.h"
#include "platform/CEventLog.h"
#include "platform/CPlatform.h"
#include "tests/TableFile.h"
#include "tests/directory/CacheTestSupport.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using cachetest::CFakeComponents;
using cachetest::EAnswer;

namespace {

std::vector<std::string> g_vEvents;

void RecordEvent(WORD wType, const char* pszText) {
    EXPECT_EQ(wType, EVENTLOG_ERROR_TYPE);
    g_vEvents.emplace_back(pszText);
}

class CBKCacheTest : public cachetest::CFreshStoreTest {
protected:
    void SetUp() override {
        CFreshStoreTest::SetUp();
        g_vEvents.clear();
        CBKCache::SetErrorCallback(&RecordEvent);
    }
    void TearDown() override {
        CBKCache::SetErrorCallback(nullptr);
        CPlatform::SetCacheComponents(nullptr);
        CFreshStoreTest::TearDown();
    }
    // Initialises m_cache against the double, then forgets what that wrote.
    void InitOnFake() {
        m_fake = CFakeComponents();
        CPlatform::SetCacheComponents(&m_fake);
        ASSERT_TRUE(m_cache.Init());
        m_fake = CFakeComponents();
        m_log.Clear();
    }

    CLogCapture m_log;
    CFakeComponents m_fake;
    CBKCache m_cache;
};

TEST_F(CBKCacheTest, WorksAgainstTheInProcessComponent) {
    ASSERT_TRUE(m_cache.Init());
    ASSERT_TRUE(
        m_cache.CreateCache("ADUserConfig", BKCACHE_DEFAULT_MAX_ITEMS, BKCACHE_DEFAULT_LIFETIME_MINUTES));
    EXPECT_TRUE(m_cache.CreateCache("ADUserConfig", 1, 1));
    // The three forms are three items, even with an empty session and property.
    for (int nMode = 1; nMode <= 3; ++nMode)
        ASSERT_TRUE(m_cache.AddItem("ADUserConfig", "user", "mode" + std::to_string(nMode), "", "", nMode));
    ASSERT_TRUE(m_cache.AddItem("ADUserConfig", "user", "sid", "S-1-5", "culture", 3));
    for (int nMode = 1; nMode <= 3; ++nMode) {
        std::string csData;
        EXPECT_TRUE(m_cache.GetItem("ADUserConfig", "user", csData, "", "", nMode));
        EXPECT_EQ(csData, "mode" + std::to_string(nMode));
    }
    std::string csData = "kept";
    EXPECT_FALSE(m_cache.GetItem("ADUserConfig", "user", csData, "S-1-5c", "ulture", 3));
    EXPECT_EQ(csData, "kept");
    cachetest::SetFakeTime(std::chrono::minutes(BKCACHE_DEFAULT_LIFETIME_MINUTES));
    EXPECT_FALSE(m_cache.GetItem("ADUserConfig", "user", csData, "S-1-5", "culture", 3));
    // Misses are not failures: nothing logged, nothing reported.
    EXPECT_TRUE(m_log.Lines().empty());
    EXPECT_TRUE(g_vEvents.empty());
}

// Before Init nothing runs; after it, failures are logged with the texts as arguments, not formats.
TEST_F(CBKCacheTest, FailuresAreLoggedWithTheTextsAsArguments) {
    std::string csData = "kept";
    for (bool bInit : {false, true}) {
        EXPECT_FALSE(m_cache.CreateCache("c", bInit ? 0 : 10, 30));
        EXPECT_FALSE(m_cache.AddItem("missing", "%s%n", "100%", "s%d", "p", 3));
        EXPECT_FALSE(m_cache.GetItem("missing", "k", csData, "s", "p", 3));
        EXPECT_EQ(m_cache.IsInitialized(), bInit);
        if (!bInit) {
            ASSERT_TRUE(m_cache.Init());
        }
    }
    EXPECT_EQ(csData, "kept");
    EXPECT_FALSE(m_cache.AddItem("missing", "k", "d", "s", "p", 4));
    EXPECT_FALSE(m_cache.GetItem("missing", "k", csData, "s", "p", 0));
    EXPECT_EQ(m_log.Lines(),
              (std::vector<std::string>{
                  "CreateCache BKCache is not initialized", "AddItem BKCache is not initialized",
                  "GetItem BKCache is not initialized", "CreateCache failed HR 0x80070057",
                  "AddItem failed HR 0x80070490",
                  "[CBKCache::AddItem() ]  failed Key %s%n Data 100% Session s%d PropName p hr: 0X80070490",
                  "GetItem failed HR 0x80070490", "AddItem failed HR 0x80070057",
                  "[CBKCache::AddItem() ]  failed Key k Data d Session s PropName p hr: 0X80070057",
                  "GetItem failed HR 0x80070057"}));
    EXPECT_TRUE(g_vEvents.empty());
}

TEST_F(CBKCacheTest, ModesPickTheFormsWithTheirArgumentsInOrder) {
    InitOnFake();
    m_fake.m_getData = "data";
    std::string csData;
    for (int nMode = 1; nMode <= 3; ++nMode) {
        EXPECT_TRUE(m_cache.AddItem("name", "key", "data", "session", "prop", nMode));
        EXPECT_TRUE(m_cache.GetItem("name", "key", csData, "session", "prop", nMode));
    }
    EXPECT_TRUE(m_cache.CreateCache("name", 3000, 30));
    EXPECT_EQ(m_fake.m_vCalls,
              (std::vector<std::string>{
                  "AddItem key data name", "GetItem key name", "AddItemWithSession key session data name",
                  "GetItemWithSession key session name", "AddItemWithProperty key session prop data name",
                  "GetItemWithProperty key session prop name", "CreateCache name 3000 30"}));
    EXPECT_EQ(m_fake.m_cCreated, m_fake.m_cReleased);
    // A success without a string is a miss.
    m_fake.m_getData.reset();
    csData = "kept";
    EXPECT_FALSE(m_cache.GetItem("name", "key", csData, "session", "prop", 3));
    EXPECT_EQ(csData, "kept");
    EXPECT_TRUE(m_log.Lines().empty());
}

// One failure of the double (tests/data/directory/bkcache-failures.txt), and for Init, CreateCache, AddItem
// and GetItem in turn the log lines, then the events, that the client writes. None when every operation
// succeeds.
struct CFailureCase {
    std::string csName;
    std::function<void(CFakeComponents&)> fnBreak;
    std::vector<std::vector<std::string>> vvTexts = std::vector<std::vector<std::string>>(8);
};

void PrintTo(const CFailureCase& failure, std::ostream* pOut) {
    *pOut << failure.csName;
}

std::vector<CFailureCase> FailureCases() {
    const char* const apszOperations[] = {"Init", "CreateCache", "AddItem", "GetItem"};
    std::vector<CFailureCase> vCases;
    for (const tabletest::TRow& row : tabletest::ReadTable("directory/bkcache-failures.txt")) {
        if (vCases.empty() || vCases.back().csName != row.at(0))
            vCases.push_back({row.at(0), nullptr});
        CFailureCase& failure = vCases.back();
        if (row.size() == 4) {
            const size_t nOperation =
                std::find(apszOperations, apszOperations + 4, row.at(1)) - apszOperations;
            failure.vvTexts.at(2 * nOperation + (row.at(2) == "event")).push_back(row.at(3));
            continue;
        }
        const HRESULT hr = static_cast<HRESULT>(tabletest::Number(row.at(2)));
        const std::string csKind = row.at(1);
        failure.fnBreak = [csKind, hr](CFakeComponents& f) {
            (csKind == "thread" ? f.m_hrThread : csKind == "create" ? f.m_hrCreate : f.m_hrCall) = hr;
            f.m_eAnswer = csKind == "comerror"   ? EAnswer::ComError
                          : csKind == "badalloc" ? EAnswer::BadAlloc
                                                 : EAnswer::Result;
        };
    }
    return vCases;
}

class CBKCacheFailure : public CBKCacheTest, public testing::WithParamInterface<CFailureCase> {
protected:
    // Runs one operation against the broken double; checks the result, the texts and that every instance
    // made was released.
    void Check(const std::function<bool()>& fnOperation, const std::vector<std::string>& vLines,
               const std::vector<std::string>& vEvents) {
        m_fake = CFakeComponents();
        m_fake.m_getData = "data";
        GetParam().fnBreak(m_fake);
        m_log.Clear();
        g_vEvents.clear();
        bool bSucceeded = true;
        EXPECT_NO_THROW(bSucceeded = fnOperation());
        EXPECT_EQ(bSucceeded, vLines.empty());
        EXPECT_EQ(m_log.Lines(), vLines);
        EXPECT_EQ(g_vEvents, vEvents);
        EXPECT_EQ(m_fake.m_cCreated, m_fake.m_cReleased);
    }
};

TEST_P(CBKCacheFailure, EachOperationLogsAndReportsItsOwnTexts) {
    const CFailureCase& failure = GetParam();
    CPlatform::SetCacheComponents(&m_fake);
    Check([&] { return m_cache.Init(); }, failure.vvTexts.at(0), failure.vvTexts.at(1));
    EXPECT_EQ(m_cache.IsInitialized(), failure.vvTexts.at(0).empty());
    InitOnFake();
    Check([&] { return m_cache.CreateCache("c", 10, 30); }, failure.vvTexts.at(2), failure.vvTexts.at(3));
    Check([&] { return m_cache.AddItem("c", "k", "d", "s", "p", 3); }, failure.vvTexts.at(4),
          failure.vvTexts.at(5));
    std::string csData = "kept";
    Check([&] { return m_cache.GetItem("c", "k", csData, "s", "p", 3); }, failure.vvTexts.at(6),
          failure.vvTexts.at(7));
    EXPECT_EQ(csData, failure.vvTexts.at(6).empty() ? "data" : "kept");
    // Without a callback, or with one that throws, only the event is lost.
    CBKCache fresh;
    for (PFN_BKCACHE_ERROR pfn : {PFN_BKCACHE_ERROR(nullptr), PFN_BKCACHE_ERROR([](WORD, const char*) {
                                      throw std::runtime_error("event log down");
                                  })}) {
        CBKCache::SetErrorCallback(pfn);
        Check([&] { return fresh.Init(); }, failure.vvTexts.at(0), {});
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, CBKCacheFailure, testing::ValuesIn(FailureCases()),
                         [](const testing::TestParamInfo<CFailureCase>& info) { return info.param.csName; });

} // namespace
