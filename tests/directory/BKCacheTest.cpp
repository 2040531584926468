#include "directory/CBKCache.h"

#include "host/testing/TestHost.h"
#include "platform/CEventLog.h"
#include "platform/CPlatform.h"
#include "platform/cache/CComError.h"
#include "tests/directory/CacheTestSupport.h"

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_vEvents;

void RecordEvent(WORD wType, const char* pszText) {
    EXPECT_EQ(wType, EVENTLOG_ERROR_TYPE);
    g_vEvents.emplace_back(pszText);
}

// How the double's instances answer the call under test.
enum class EAnswer { Result, ComError, BadAlloc };

// A component whose thread preparation, creation and calls answer as the test says, and which records the
// calls it gets and the instances it makes and releases.
class CFakeComponents : public ICacheComponents {
public:
    HRESULT m_hrThread = S_OK;
    HRESULT m_hrCreate = S_OK;
    EAnswer m_eAnswer = EAnswer::Result;
    HRESULT m_hrCall = S_OK;
    std::optional<std::string> m_getData;
    std::vector<std::string> m_vCalls;
    int m_cCreated = 0;
    int m_cReleased = 0;

    HRESULT InitializeThread() override { return m_hrThread; }
    HRESULT CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) override;

    HRESULT Answer(std::string csCall) {
        m_vCalls.push_back(std::move(csCall));
        if (m_eAnswer == EAnswer::ComError)
            throw CComError(m_hrCall, "Server busy %s");
        if (m_eAnswer == EAnswer::BadAlloc)
            throw std::bad_alloc();
        return m_hrCall;
    }
};

// Records each call as its name and arguments; a get answers with the double's data.
class CFakeCache : public ICacheComponent {
public:
    typedef const std::string& S;
    explicit CFakeCache(CFakeComponents& owner) : m_owner(owner) { ++m_owner.m_cCreated; }
    ~CFakeCache() override { ++m_owner.m_cReleased; }

    HRESULT Initialize() override { return Call(nullptr, "Initialize"); }
    HRESULT CreateCache(S csName, int32_t nMax, int32_t nLife) override {
        return Call(nullptr, "CreateCache", csName, std::to_string(nMax), std::to_string(nLife));
    }
    HRESULT AddItem(S csKey, S csData, S csName) override {
        return Call(nullptr, "AddItem", csKey, csData, csName);
    }
    HRESULT GetItem(S csKey, std::optional<std::string>& data, S csName) override {
        return Call(&data, "GetItem", csKey, csName);
    }
    HRESULT AddItemWithSession(S csKey, S csSession, S csData, S csName) override {
        return Call(nullptr, "AddItemWithSession", csKey, csSession, csData, csName);
    }
    HRESULT GetItemWithSession(S csKey, S csSession, std::optional<std::string>& data, S csName) override {
        return Call(&data, "GetItemWithSession", csKey, csSession, csName);
    }
    HRESULT AddItemWithProperty(S csKey, S csSession, S csProperty, S csData, S csName) override {
        return Call(nullptr, "AddItemWithProperty", csKey, csSession, csProperty, csData, csName);
    }
    HRESULT GetItemWithProperty(S csKey, S csSession, S csProperty, std::optional<std::string>& data,
                                S csName) override {
        return Call(&data, "GetItemWithProperty", csKey, csSession, csProperty, csName);
    }

private:
    template <class... TArgs>
    HRESULT Call(std::optional<std::string>* pData, std::string csCall, TArgs... args) {
        ((csCall += " " + std::string(args)), ...);
        HRESULT hr = m_owner.Answer(std::move(csCall));
        if (pData)
            *pData = m_owner.m_getData;
        return hr;
    }
    CFakeComponents& m_owner;
};

HRESULT CFakeComponents::CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) {
    if (SUCCEEDED(m_hrCreate))
        spInstance = std::make_unique<CFakeCache>(*this);
    return m_hrCreate;
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

TEST_F(CBKCacheTest, NothingRunsBeforeInit) {
    CPlatform::SetCacheComponents(&m_fake);
    std::string csData = "kept";
    EXPECT_FALSE(m_cache.CreateCache("c", 10, 30));
    EXPECT_FALSE(m_cache.AddItem("c", "k", "d", "s", "p", 3));
    EXPECT_FALSE(m_cache.GetItem("c", "k", csData, "s", "p", 3));
    EXPECT_FALSE(m_cache.IsInitialized());
    EXPECT_EQ(m_log.Lines(), (std::vector<std::string>{"CreateCache BKCache is not initialized",
                                                       "AddItem BKCache is not initialized",
                                                       "GetItem BKCache is not initialized"}));
    EXPECT_EQ(m_fake.m_cCreated, 0);
    EXPECT_EQ(csData, "kept");
}

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

TEST_F(CBKCacheTest, FailuresOfTheInProcessComponentAreLoggedWithTheTextsAsArguments) {
    ASSERT_TRUE(m_cache.Init());
    EXPECT_FALSE(m_cache.CreateCache("c", 0, 30));
    EXPECT_FALSE(m_cache.AddItem("missing", "%s%n", "100%", "s%d", "p", 3));
    EXPECT_FALSE(m_cache.AddItem("missing", "k", "d", "s", "p", 4));
    std::string csData;
    EXPECT_FALSE(m_cache.GetItem("missing", "k", csData, "s", "p", 3));
    EXPECT_FALSE(m_cache.GetItem("missing", "k", csData, "s", "p", 0));
    EXPECT_EQ(m_log.Lines(),
              (std::vector<std::string>{
                  "CreateCache failed HR 0x80070057", "AddItem failed HR 0x80070490",
                  "[CBKCache::AddItem() ]  failed Key %s%n Data 100% Session s%d PropName p hr: 0X80070490",
                  "AddItem failed HR 0x80070057",
                  "[CBKCache::AddItem() ]  failed Key k Data d Session s PropName p hr: 0X80070057",
                  "GetItem failed HR 0x80070490", "GetItem failed HR 0x80070057"}));
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
    EXPECT_EQ(m_fake.m_cCreated, 7);
    EXPECT_EQ(m_fake.m_cReleased, 7);
    // A success without a string is a miss.
    m_fake.m_getData.reset();
    csData = "kept";
    EXPECT_FALSE(m_cache.GetItem("name", "key", csData, "session", "prop", 3));
    EXPECT_EQ(csData, "kept");
    EXPECT_TRUE(m_log.Lines().empty());
}

// One failure of the double, the operation it hits, and what the client logs and reports.
struct CFailureCase {
    const char* pszName;
    std::function<void(CFakeComponents&)> fnBreak;
    // For Init, CreateCache, AddItem and GetItem in turn: the log lines, then the events. None when every
    // operation succeeds.
    std::vector<std::vector<std::string>> vvTexts;

    std::vector<std::string> Texts(size_t n) const {
        return vvTexts.empty() ? std::vector<std::string>() : vvTexts[n];
    }
};

void PrintTo(const CFailureCase& failure, std::ostream* pOut) {
    *pOut << failure.pszName;
}

const char* const c_pszAddSummary = "[CBKCache::AddItem() ]  failed Key k Data d Session s PropName p hr: 0X";

const CFailureCase c_aFailures[] = {
    // Threads in another apartment, or prepared already, are usable.
    {"ThreadInOtherApartment", [](CFakeComponents& f) { f.m_hrThread = RPC_E_CHANGED_MODE; }, {}},
    {"ThreadPreparedAlready", [](CFakeComponents& f) { f.m_hrThread = S_FALSE; }, {}},
    {"ThreadRefused",
     [](CFakeComponents& f) { f.m_hrThread = E_OUTOFMEMORY; },
     {{"[CBKCache::Init() ] COM initialization failed hr: 0X8007000e"},
      {},
      {"[CBKCache::Init() ] COM initialization failed hr: 0X8007000e"},
      {},
      {"[CBKCache::AddItem() ] COM initialization COINIT_MULTITHREADED failed hr: 0X8007000e",
       std::string(c_pszAddSummary) + "8007000e"},
      {},
      {"[CBKCache::GetItem() ] COM initialization COINIT_MULTITHREADED failed hr: 0X8007000e"},
      {}}},
    {"CreateFails",
     [](CFakeComponents& f) { f.m_hrCreate = static_cast<HRESULT>(0x80040154); },
     {{"[CBKCache::Init( ] m_spCache.CoCreateInstance failed hr: 0X80040154",
       "[CBKCache::Init( ] m_spCache.Initialize failed hr: 0X80040154"},
      {"Cache component failed to instantiate HRESULT: 0X80040154",
       "Cache component initialization failed HRESULT: 0X80040154"},
      {"[CBKCache::CreateCache() ] COM initialization failed hr: 0X80040154"},
      {},
      {"[CBKCache::AddItem() ] COM initialization failed hr: 0X80040154",
       std::string(c_pszAddSummary) + "80040154"},
      {},
      {"[CBKCache::GetItem() ] COM initialization failed hr: 0X80040154"},
      {}}},
    {"CallFails",
     [](CFakeComponents& f) { f.m_hrCall = E_FAIL; },
     {{"[CBKCache::Init( ] m_spCache.Initialize failed hr: 0X80004005"},
      {"Cache component initialization failed HRESULT: 0X80004005"},
      {"CreateCache failed HR 0x80004005"},
      {},
      {"AddItem failed HR 0x80004005", std::string(c_pszAddSummary) + "80004005"},
      {},
      {"GetItem failed HR 0x80004005"},
      {}}},
    {"ComError",
     [](CFakeComponents& f) {
         f.m_eAnswer = EAnswer::ComError;
         f.m_hrCall = static_cast<HRESULT>(0x800706BA);
     },
     {{"CExchangeAccess::GetErrorInfo got EXCEPTION HR 0x800706ba Server busy %s",
       "[CBKCache::Init( ] m_spCache.Initialize failed hr: 0X800706ba"},
      {"Cache component  failed to initialize with 0x800706ba Server busy %s",
       "Cache component initialization failed HRESULT: 0X800706ba"},
      {"CreateCache got EXCEPTION HR 0x800706ba Server busy %s"},
      {"Cache component  failed COM Exception with 0x800706ba Server busy %s"},
      {"AddItem got EXCEPTION HR 0x800706ba Server busy %s", std::string(c_pszAddSummary) + "800706ba"},
      {"Cache component  AddItem failed COM Exception with 0x800706ba Server busy %s"},
      {"GetItem got EXCEPTION HR 0x800706ba Server busy %s"},
      {"Cache component  GetItem failed COM Exception with 0x800706ba Server busy %s"}}},
    {"GeneralException",
     [](CFakeComponents& f) { f.m_eAnswer = EAnswer::BadAlloc; },
     {{"Cache component got GENERAL EXCEPTION",
       "[CBKCache::Init( ] m_spCache.Initialize failed hr: 0X8000ffff"},
      {"Cache component failed to Initialize GE",
       "Cache component initialization failed HRESULT: 0X8000ffff"},
      {"CCreateCache ache component got GENERAL EXCEPTION"},
      {"CreateCache Cache component failed GE"},
      {"AddItem cache component got GENERAL EXCEPTION", std::string(c_pszAddSummary) + "8000ffff"},
      {"AddItem Cache component failed GE"},
      {"GetItem cache component got GENERAL EXCEPTION"},
      {"GetItem Cache component failed GE"}}},
};

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
    Check([&] { return m_cache.Init(); }, failure.Texts(0), failure.Texts(1));
    EXPECT_EQ(m_cache.IsInitialized(), failure.Texts(0).empty());
    InitOnFake();
    Check([&] { return m_cache.CreateCache("c", 10, 30); }, failure.Texts(2), failure.Texts(3));
    Check([&] { return m_cache.AddItem("c", "k", "d", "s", "p", 3); }, failure.Texts(4), failure.Texts(5));
    std::string csData = "kept";
    Check([&] { return m_cache.GetItem("c", "k", csData, "s", "p", 3); }, failure.Texts(6), failure.Texts(7));
    EXPECT_EQ(csData, failure.Texts(6).empty() ? "data" : "kept");
}

TEST_P(CBKCacheFailure, WithoutACallbackNothingIsReportedAndTheResultHolds) {
    CBKCache::SetErrorCallback(nullptr);
    CPlatform::SetCacheComponents(&m_fake);
    Check([&] { return m_cache.Init(); }, GetParam().Texts(0), {});
}

TEST_P(CBKCacheFailure, AThrowingCallbackCostsOnlyTheEvent) {
    CBKCache::SetErrorCallback([](WORD, const char*) { throw std::runtime_error("event log down"); });
    CPlatform::SetCacheComponents(&m_fake);
    Check([&] { return m_cache.Init(); }, GetParam().Texts(0), {});
}

INSTANTIATE_TEST_SUITE_P(Failures, CBKCacheFailure, testing::ValuesIn(c_aFailures),
                         [](const testing::TestParamInfo<CFailureCase>& info) { return info.param.pszName; });

} // namespace
