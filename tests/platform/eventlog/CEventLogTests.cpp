#include "platform/CEventLog.h"

#include "platform/CPlatform.h"
#include "platform/ThreadIdentity.h"
#include "platform/posix/PosixSysLog.h"
#include "tests/TableFile.h"
#include "tests/filter/PlatformDoubles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

constexpr DWORD c_dwErrorText = 0x6000006F;

CIdentityToken MakeIdentity(const std::string& csUser) {
    return std::make_shared<const CRequestIdentity>(CRequestIdentity{csUser, "CORP", {1, 2, 3}, {}});
}

class CEventLogTest : public ::testing::Test {
protected:
    void SetUp() override { CPlatform::SetSysLog(&m_sysLog); }
    void TearDown() override { CPlatform::SetSysLog(nullptr); }
    DWORD ReportOne(CEventLog& log) {
        return log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, "x", nullptr);
    }

    CRecordingSysLog m_sysLog;
};

// Without a source nothing is written: before the first Register, after a refused one and after every
// Deregister, whether the journal closed the source or not. A second Register keeps the first source (the
// default one for null); destruction closes the last.
TEST_F(CEventLogTest, ReportsGoOnlyToTheRegisteredSource) {
    {
        CEventLog log;
        EXPECT_EQ(ReportOne(log), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(log.Report(EVENTLOG_ERROR_TYPE, 0, 1, 0, nullptr, std::vector<std::string>{"x"}),
                  ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(log.Deregister());
        m_sysLog.m_bFailOpen = true;
        EXPECT_FALSE(log.Register("Refused"));
        EXPECT_FALSE(log.IsRegistered());
        EXPECT_EQ(ReportOne(log), ERROR_INVALID_PARAMETER);
        m_sysLog.m_bFailOpen = false;
        for (bool bCloses : {false, true}) {
            m_sysLog.m_bCloseResult = bCloses;
            ASSERT_TRUE(log.Register(nullptr));
            EXPECT_FALSE(log.Register("Second"));
            ASSERT_EQ(ReportOne(log), ERROR_SUCCESS);
            EXPECT_EQ(m_sysLog.m_vRecords.back().csSource, "Brindlemark Quillspeck");
            EXPECT_EQ(log.Deregister(), bCloses);
            EXPECT_FALSE(log.IsRegistered());
            EXPECT_FALSE(log.Deregister());
            EXPECT_EQ(ReportOne(log), ERROR_INVALID_PARAMETER);
        }
        ASSERT_TRUE(log.Register("Again"));
    }
    EXPECT_EQ(m_sysLog.m_vOpened, (std::vector<std::string>{"Refused", "Brindlemark Quillspeck",
                                                            "Brindlemark Quillspeck", "Again"}));
    EXPECT_EQ(m_sysLog.m_cClosed, 3);
    EXPECT_EQ(m_sysLog.m_vRecords.size(), 2u);
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

TEST_F(CEventLogTest, TypeCategoryEventIdAndDataReachTheJournal) {
    using enum EEventType;
    const WORD awTypes[] = {
        EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE, 0, 3, 0xFFFF};
    const EEventType aeExpected[] = {Error, Warning, Information, Information, Information, Information};
    const BYTE abData[] = {0xDE, 0xAD, 0x00, 0x01};
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    for (size_t n = 0; n < std::size(awTypes); ++n) {
        ASSERT_EQ(log.Report(awTypes[n], 7, 0x6000007E, sizeof(abData), abData, nullptr), ERROR_SUCCESS);
        const auto& r = m_sysLog.m_vRecords.back();
        EXPECT_EQ(std::tie(r.eType, r.wCategory, r.dwEventId, r.vData),
                  std::make_tuple(aeExpected[n], 7, 0x6000007Eu,
                                  std::vector<BYTE>(std::begin(abData), std::end(abData))))
            << "type " << awTypes[n];
    }
    // Data without a size is ignored; a size without data is refused before anything is written.
    ASSERT_EQ(log.Report(EVENTLOG_WARNING_TYPE, 0, 1, 0, abData, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(m_sysLog.m_vRecords.back().vData.empty());
    EXPECT_EQ(log.Report(EVENTLOG_WARNING_TYPE, 0, 1, 4, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_sysLog.m_vRecords.size(), std::size(awTypes) + 1);
    // The journal's answer is returned, a failure too.
    m_sysLog.m_dwReportResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(ReportOne(log), ERROR_ACCESS_DENIED);
}

// Reports from many threads, half of them serving a request user, are all written, as the process, and leave
// each thread with the identity it had; Deregister in the middle of them waits for those in flight, and
// nothing reaches the closed source.
TEST_F(CEventLogTest, ConcurrentReportsAndDeregisterWhileReporting) {
    constexpr int c_cThreads = 8;
    constexpr int c_cReports = 250;
    CEventLog log;
    ASSERT_TRUE(log.Register(nullptr));
    std::atomic<int> cDone{0}, cWritten{0}, cFailed{0}, cWrongIdentity{0};
    std::atomic<bool> bStop{false};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < c_cThreads; ++t) {
        vThreads.emplace_back([&, t] {
            CIdentityToken spUser = t % 2 ? MakeIdentity("user" + std::to_string(t)) : nullptr;
            CThreadIdentity::Impersonate(spUser);
            // The first reports all succeed; the ones that follow race with Deregister.
            for (int i = 0; !bStop.load(); ++i) {
                cDone += i == c_cReports;
                std::string csText = std::to_string(t) + "/" + std::to_string(i);
                DWORD dw =
                    log.Report(EVENTLOG_WARNING_TYPE, 0, c_dwErrorText, 0, nullptr, csText.c_str(), nullptr);
                cWritten += dw == ERROR_SUCCESS;
                cFailed += dw != ERROR_SUCCESS && (i < c_cReports || dw != ERROR_INVALID_PARAMETER);
                CIdentityToken spNow;
                CThreadIdentity::OpenThreadToken(spNow);
                cWrongIdentity += spNow != spUser;
                if (i >= c_cReports)
                    std::this_thread::yield();
            }
        });
    }
    while (cDone.load() < c_cThreads)
        std::this_thread::yield();
    EXPECT_TRUE(log.Deregister());
    size_t cAtDeregister = m_sysLog.m_vRecords.size();
    for (int i = 0; i < 50; ++i)
        std::this_thread::yield();
    bStop.store(true);
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(cFailed.load(), 0);
    EXPECT_EQ(cWrongIdentity.load(), 0);
    EXPECT_EQ(m_sysLog.m_cClosedUse, 0);
    EXPECT_EQ(m_sysLog.m_cClosed, 1);
    EXPECT_GE(cWritten.load(), c_cThreads * c_cReports);
    EXPECT_EQ(m_sysLog.m_vRecords.size(), cAtDeregister);
    ASSERT_EQ(m_sysLog.m_vRecords.size(), static_cast<size_t>(cWritten.load()));
    std::set<std::string> setTexts;
    for (const auto& record : m_sysLog.m_vRecords) {
        EXPECT_FALSE(record.bHadIdentity);
        ASSERT_EQ(record.vTexts.size(), 1u);
        setTexts.insert(record.vTexts[0]);
    }
    EXPECT_EQ(setTexts.size(), m_sysLog.m_vRecords.size());
}

// The operating system's journal: reports from several threads on two sources, one closed while the other
// keeps reporting.
TEST(PosixSysLogTest, ConcurrentReportsOnTheRealJournal) {
    CPlatform::SetSysLog(nullptr);
    CEventLog aLogs[2];
    ASSERT_TRUE(aLogs[0].Register("wk-eventlog-test-a"));
    ASSERT_TRUE(aLogs[1].Register("wk-eventlog-test-b"));
    std::atomic<int> cFailed{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 4; ++t) {
        vThreads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i)
                cFailed += aLogs[t % 2].Report(EVENTLOG_INFORMATION_TYPE, 1, 0x60000065, 0, nullptr, "test",
                                               nullptr) != ERROR_SUCCESS;
        });
    }
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_TRUE(aLogs[0].Deregister());
    EXPECT_EQ(aLogs[1].Report(EVENTLOG_ERROR_TYPE, 1, 0x6000007E, 0, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(cFailed.load(), 0);
}

TEST(PosixSysLogTest, MessageText) {
    const BYTE abData[70] = {0x00, 0x1F, 0xA0, 0xFF};
    for (const tabletest::TRow& row : tabletest::ReadTable("platform/syslog-messages.txt")) {
        const std::vector<std::string> vTexts(row.begin() + 5, row.end());
        EXPECT_EQ(FormatSysLogMessage(static_cast<WORD>(tabletest::Number(row.at(1))),
                                      static_cast<DWORD>(tabletest::Number(row[2])), vTexts, abData,
                                      static_cast<DWORD>(tabletest::Number(row[3]))),
                  row[4])
            << row[0];
    }
}

} // namespace
