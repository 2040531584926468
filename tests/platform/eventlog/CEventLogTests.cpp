#include "platform/CEventLog.h"

#include "platform/CPlatform.h"
#include "platform/ThreadIdentity.h"
#include "platform/posix/PosixSysLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records what reaches the journal, and whether the reporting thread still carried a request identity.
class CRecordingSysLog : public ISysLog {
public:
    struct CSource {
        std::string csName;
        std::atomic<bool> bOpen{true};
    };
    struct CRecord {
        CSource* pSource;
        EEventType eType;
        WORD wCategory;
        DWORD dwEventId;
        std::vector<std::string> vTexts;
        std::vector<BYTE> vData;
        bool bHadIdentity;
    };

    void* Open(const std::string& csSource) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vOpened.push_back(csSource);
        if (m_bFailOpen)
            return nullptr;
        m_vSources.push_back(std::make_unique<CSource>());
        m_vSources.back()->csName = csSource;
        return m_vSources.back().get();
    }

    DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                 const std::vector<std::string>& vTexts, const void* pData, DWORD cbData) override {
        auto* pSource = static_cast<CSource*>(hSource);
        if (!pSource->bOpen.load())
            m_cClosedUse.fetch_add(1);
        CIdentityToken spToken;
        bool bHadIdentity = CThreadIdentity::OpenThreadToken(spToken) == ERROR_SUCCESS;
        const BYTE* pb = static_cast<const BYTE*>(pData);
        std::lock_guard<std::mutex> guard(m_lock);
        m_vRecords.push_back({pSource, eType, wCategory, dwEventId, vTexts,
                              pb ? std::vector<BYTE>(pb, pb + cbData) : std::vector<BYTE>(), bHadIdentity});
        return m_dwReportResult;
    }

    bool Close(void* hSource) override {
        static_cast<CSource*>(hSource)->bOpen.store(false);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_cClosed;
        return m_bCloseResult;
    }

    std::mutex m_lock;
    std::vector<std::unique_ptr<CSource>> m_vSources;
    std::vector<std::string> m_vOpened;
    std::vector<CRecord> m_vRecords;
    int m_cClosed = 0;
    std::atomic<int> m_cClosedUse{0};
    bool m_bFailOpen = false;
    bool m_bCloseResult = true;
    DWORD m_dwReportResult = ERROR_SUCCESS;
};

constexpr DWORD c_dwErrorText = 0x6000006F;

CIdentityToken MakeIdentity(const std::string& csUser) {
    return std::make_shared<const CRequestIdentity>(CRequestIdentity{csUser, "CORP", {1, 2, 3}, {}});
}

class CEventLogTest : public ::testing::Test {
protected:
    void SetUp() override { CPlatform::SetSysLog(&m_sysLog); }
    void TearDown() override {
        CThreadIdentity::Impersonate(nullptr);
        CPlatform::SetSysLog(nullptr);
    }

    CRecordingSysLog m_sysLog;
};

TEST_F(CEventLogTest, ReportBeforeRegisterIsRefusedAndWritesNothing) {
    CEventLog log;
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, c_dwErrorText, 0, nullptr, "text", nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, c_dwErrorText, 0, nullptr, std::vector<std::string>{"text"}),
              ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(m_sysLog.m_vOpened.empty());
    EXPECT_TRUE(m_sysLog.m_vRecords.empty());
}

TEST_F(CEventLogTest, RegisterTakesTheNameOrTheDefaultSource) {
    const struct {
        const char* pszName;
        const char* pszOpened;
    } aCases[] = {
        {nullptr, "Brindlemark Quillspeck"}, {"Brindlemark Wendrake", "Brindlemark Wendrake"}, {"", ""}};
    for (const auto& c : aCases) {
        CRecordingSysLog sysLog;
        CPlatform::SetSysLog(&sysLog);
        CEventLog log;
        EXPECT_TRUE(log.Register(c.pszName));
        EXPECT_TRUE(log.IsRegistered());
        ASSERT_EQ(sysLog.m_vOpened.size(), 1u);
        EXPECT_EQ(sysLog.m_vOpened[0], c.pszOpened);
        EXPECT_TRUE(log.Deregister());
        CPlatform::SetSysLog(&m_sysLog);
    }
}

TEST_F(CEventLogTest, SecondRegisterKeepsTheFirstSource) {
    CEventLog log;
    ASSERT_TRUE(log.Register("First"));
    EXPECT_FALSE(log.Register("Second"));
    EXPECT_FALSE(log.Register(nullptr));
    ASSERT_EQ(log.Report(EVENTLOG_INFORMATION_TYPE, 0, 1, 0, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(m_sysLog.m_vOpened, std::vector<std::string>{"First"});
    ASSERT_EQ(m_sysLog.m_vRecords.size(), 1u);
    EXPECT_EQ(m_sysLog.m_vRecords[0].pSource->csName, "First");
}

TEST_F(CEventLogTest, RefusedSourceLeavesTheLogUnregisteredAndRetryable) {
    CEventLog log;
    m_sysLog.m_bFailOpen = true;
    EXPECT_FALSE(log.Register("Source"));
    EXPECT_FALSE(log.IsRegistered());
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(log.Deregister());
    m_sysLog.m_bFailOpen = false;
    EXPECT_TRUE(log.Register("Source"));
    EXPECT_EQ(m_sysLog.m_vOpened.size(), 2u);
}

TEST_F(CEventLogTest, AtMostSixInsertionsUpToTheFirstNull) {
    const char* apszTexts[] = {"t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8"};
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    for (size_t cGiven : {0u, 1u, 5u, 6u, 7u, 8u}) {
        const char* apsz[9] = {};
        for (size_t i = 0; i < cGiven; ++i)
            apsz[i] = apszTexts[i];
        ASSERT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, c_dwErrorText, 0, nullptr, apsz[0], apsz[1], apsz[2],
                             apsz[3], apsz[4], apsz[5], apsz[6], apsz[7], apsz[8], nullptr),
                  ERROR_SUCCESS);
        std::vector<std::string> vExpected(apszTexts, apszTexts + std::min<size_t>(cGiven, 6));
        EXPECT_EQ(m_sysLog.m_vRecords.back().vTexts, vExpected) << cGiven << " given";

        std::vector<std::string> vGiven(apszTexts, apszTexts + cGiven);
        ASSERT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, c_dwErrorText, 0, nullptr, vGiven), ERROR_SUCCESS);
        EXPECT_EQ(m_sysLog.m_vRecords.back().vTexts, vExpected) << cGiven << " given as a list";
    }
    log.Report(EVENTLOG_ERROR_TYPE, 0, c_dwErrorText, 0, nullptr, "a", static_cast<const char*>(nullptr), "c",
               nullptr);
    EXPECT_EQ(m_sysLog.m_vRecords.back().vTexts, std::vector<std::string>{"a"});
}

TEST_F(CEventLogTest, CallerTypeChoosesTheJournalType) {
    const struct {
        WORD wType;
        EEventType eExpected;
    } aCases[] = {{EVENTLOG_ERROR_TYPE, EEventType::Error},
                  {EVENTLOG_WARNING_TYPE, EEventType::Warning},
                  {EVENTLOG_INFORMATION_TYPE, EEventType::Information},
                  {0, EEventType::Information},
                  {3, EEventType::Information},
                  {8, EEventType::Information},
                  {16, EEventType::Information},
                  {0xFFFF, EEventType::Information}};
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    for (const auto& c : aCases) {
        ASSERT_EQ(log.Report(c.wType, 0, 1, 0, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(m_sysLog.m_vRecords.back().eType, c.eExpected) << "type " << c.wType;
    }
}

TEST_F(CEventLogTest, CategoryEventIdAndDataReachTheJournal) {
    const BYTE abData[] = {0xDE, 0xAD, 0x00, 0x01};
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    ASSERT_EQ(log.Report(EVENTLOG_WARNING_TYPE, 7, 0x6000007E, sizeof(abData), abData, "x", nullptr),
              ERROR_SUCCESS);
    const auto& record = m_sysLog.m_vRecords.back();
    EXPECT_EQ(record.wCategory, 7);
    EXPECT_EQ(record.dwEventId, 0x6000007Eu);
    EXPECT_EQ(record.vData, std::vector<BYTE>(abData, abData + sizeof(abData)));

    // Data without a size is ignored; a size without data is refused before anything is written.
    ASSERT_EQ(log.Report(EVENTLOG_WARNING_TYPE, 0, 1, 0, abData, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(m_sysLog.m_vRecords.back().vData.empty());
    EXPECT_EQ(log.Report(EVENTLOG_WARNING_TYPE, 0, 1, 4, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_sysLog.m_vRecords.size(), 2u);
}

TEST_F(CEventLogTest, JournalErrorIsReturned) {
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    m_sysLog.m_dwReportResult = ERROR_DISK_FULL;
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, "x", nullptr), ERROR_DISK_FULL);
}

TEST_F(CEventLogTest, ReportRunsAsTheProcessAndPutsTheIdentityBack) {
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    for (DWORD dwResult : {ERROR_SUCCESS, ERROR_ACCESS_DENIED}) {
        m_sysLog.m_dwReportResult = dwResult;
        CIdentityToken spUser = MakeIdentity("alice");
        CThreadIdentity::Impersonate(spUser);
        EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, "x", nullptr), dwResult);
        EXPECT_FALSE(m_sysLog.m_vRecords.back().bHadIdentity);
        CIdentityToken spAfter;
        ASSERT_EQ(CThreadIdentity::OpenThreadToken(spAfter), ERROR_SUCCESS);
        EXPECT_EQ(spAfter, spUser);
    }
    // A thread that runs as the process stays so.
    CThreadIdentity::Impersonate(nullptr);
    log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, nullptr);
    CIdentityToken spAfter;
    EXPECT_EQ(CThreadIdentity::OpenThreadToken(spAfter), ERROR_NO_TOKEN);
}

TEST_F(CEventLogTest, ConcurrentReportsAreAllWrittenAsTheProcess) {
    constexpr int c_cThreads = 8;
    constexpr int c_cReports = 250;
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    std::atomic<int> cWrongIdentity{0};
    std::atomic<int> cFailed{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < c_cThreads; ++t) {
        vThreads.emplace_back([&, t] {
            // Half the threads serve a request user, half run as the process.
            CIdentityToken spUser = t % 2 ? MakeIdentity("user" + std::to_string(t)) : nullptr;
            CThreadIdentity::Impersonate(spUser);
            for (int i = 0; i < c_cReports; ++i) {
                std::string csText = std::to_string(t) + "/" + std::to_string(i);
                if (log.Report(EVENTLOG_WARNING_TYPE, 0, c_dwErrorText, 0, nullptr, csText.c_str(), nullptr))
                    cFailed.fetch_add(1);
                CIdentityToken spNow;
                CThreadIdentity::OpenThreadToken(spNow);
                if (spNow != spUser)
                    cWrongIdentity.fetch_add(1);
            }
        });
    }
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(cFailed.load(), 0);
    EXPECT_EQ(cWrongIdentity.load(), 0);
    ASSERT_EQ(m_sysLog.m_vRecords.size(), static_cast<size_t>(c_cThreads * c_cReports));
    std::set<std::string> setTexts;
    for (const auto& record : m_sysLog.m_vRecords) {
        EXPECT_FALSE(record.bHadIdentity);
        ASSERT_EQ(record.vTexts.size(), 1u);
        setTexts.insert(record.vTexts[0]);
    }
    EXPECT_EQ(setTexts.size(), static_cast<size_t>(c_cThreads * c_cReports));
}

TEST_F(CEventLogTest, DeregisterWaitsForReportsInFlight) {
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    std::atomic<bool> bStop{false};
    std::atomic<int> cWritten{0};
    std::atomic<int> cUnexpected{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 4; ++t) {
        vThreads.emplace_back([&] {
            while (!bStop.load()) {
                DWORD dw = log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, "x", nullptr);
                if (dw == ERROR_SUCCESS)
                    cWritten.fetch_add(1);
                else if (dw != ERROR_INVALID_PARAMETER)
                    cUnexpected.fetch_add(1);
                std::this_thread::yield();
            }
        });
    }
    while (cWritten.load() < 200)
        std::this_thread::yield();
    EXPECT_TRUE(log.Deregister());
    size_t cAtDeregister = m_sysLog.m_vRecords.size();
    for (int i = 0; i < 50; ++i)
        std::this_thread::yield();
    bStop.store(true);
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(m_sysLog.m_cClosedUse.load(), 0);
    EXPECT_EQ(cUnexpected.load(), 0);
    EXPECT_EQ(m_sysLog.m_vRecords.size(), cAtDeregister);
    EXPECT_EQ(m_sysLog.m_cClosed, 1);
}

TEST_F(CEventLogTest, DeregisterTwice) {
    CEventLog log;
    EXPECT_FALSE(log.Deregister());
    ASSERT_TRUE(log.Register(nullptr));
    EXPECT_TRUE(log.Deregister());
    EXPECT_FALSE(log.IsRegistered());
    EXPECT_FALSE(log.Deregister());
    EXPECT_EQ(m_sysLog.m_cClosed, 1);
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    // A new source may follow.
    EXPECT_TRUE(log.Register("Again"));
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(m_sysLog.m_vRecords.back().pSource->csName, "Again");
}

TEST_F(CEventLogTest, FailedCloseStillForgetsTheSource) {
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    m_sysLog.m_bCloseResult = false;
    EXPECT_FALSE(log.Deregister());
    EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(log.Register("Next"));
}

TEST_F(CEventLogTest, DestructionClosesARegisteredSource) {
    {
        CEventLog log;
        ASSERT_TRUE(log.Register(nullptr));
    }
    EXPECT_EQ(m_sysLog.m_cClosed, 1);
}

// The operating system's journal: reports from several threads on two sources, one closed while the other
// keeps reporting.
TEST(PosixSysLogTest, ConcurrentReportsOnTheRealJournal) {
    CPlatform::SetSysLog(nullptr);
    CEventLog logA;
    CEventLog logB;
    ASSERT_TRUE(logA.Register("wk-eventlog-test-a"));
    ASSERT_TRUE(logB.Register("wk-eventlog-test-b"));
    std::atomic<int> cFailed{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 4; ++t) {
        vThreads.emplace_back([&, t] {
            CEventLog& log = t % 2 ? logA : logB;
            for (int i = 0; i < 5; ++i) {
                if (log.Report(EVENTLOG_INFORMATION_TYPE, 1, 0x60000065, 0, nullptr, "test", nullptr))
                    cFailed.fetch_add(1);
            }
        });
    }
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_TRUE(logA.Deregister());
    EXPECT_EQ(logB.Report(EVENTLOG_ERROR_TYPE, 1, 0x6000007E, 0, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(cFailed.load(), 0);
}

TEST(PosixSysLogTest, MessageText) {
    const BYTE abData[70] = {0x00, 0x1F, 0xA0, 0xFF};
    const struct {
        WORD wCategory;
        DWORD dwEventId;
        std::vector<std::string> vTexts;
        DWORD cbData;
        const char* pszExpected;
    } aCases[] = {
        {0, 0x60000065, {}, 0, "event 0x60000065 category 0"},
        {3, 0x6000006F, {"Init failed"}, 0, "event 0x6000006F category 3: Init failed"},
        {65535, 0, {"a", "", "%s%n"}, 0, "event 0x00000000 category 65535: a: : %s%n"},
        {0, 1, {"x"}, 4, "event 0x00000001 category 0: x data (4 bytes): 001FA0FF"},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(FormatSysLogMessage(c.wCategory, c.dwEventId, c.vTexts, abData, c.cbData), c.pszExpected);
    // Long data is cut after 64 bytes.
    EXPECT_EQ(FormatSysLogMessage(0, 1, {}, abData, sizeof(abData)),
              "event 0x00000001 category 0 data (70 bytes): 001FA0FF" + std::string(2 * 60, '0') + "...");
}

} // namespace
