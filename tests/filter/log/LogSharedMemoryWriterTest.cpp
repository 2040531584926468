// The circular log in a named shared-memory section.

#include "LogTestSupport.h"

#include "platform/posix/PosixServices.h"

#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

using namespace logtest;

namespace {

const std::string g_csPrefix = "[WK_ServiceWorker.so] ";

class LogSharedMemoryWriterTest : public testing::Test {
protected:
    LogSharedMemoryWriterTest() : m_log(m_dir) {}
    void SetUp() override {
        SetLogPath(m_log.Path());
        SetLogLinePrefix(g_csPrefix);
        SetLogSink(&LogSharedMemoryWriter);
        SetLogLevel(LOG_LEVEL_ON);
    }
    void TearDown() override {
        SetLogLevel(LOG_LEVEL_OFF);
        FlushLog(true);
        CPlatform::SetSharedMemory(nullptr);
    }
    // Creates the section as another process would have left it.
    void CreateForeignSection(size_t cbSize, const std::string& csHeader) {
        DWORD dwError = 0;
        auto spSection = CPlatform::SharedMemory().Create(m_log.Section(), cbSize, dwError);
        ASSERT_NE(spSection, nullptr) << dwError;
        std::memcpy(spSection->Data(), csHeader.data(), std::min(csHeader.size(), cbSize));
    }
    std::string View() { return ReadSection(m_log.Section()); }

    CTempDir m_dir;
    CUniqueLog m_log;
};

size_t EntryLength(const std::string& csView, size_t nOffset) {
    size_t nEnd = csView.find("\r\n", nOffset + 2);
    size_t nZero = csView.find('\0', nOffset);
    return std::min(nEnd, nZero) - nOffset;
}

TEST_F(LogSharedMemoryWriterTest, FirstEntryGoesBehindTheInitialHeader) {
    SetLogMaxSize(65536);
    LogMessage("hello");
    std::string csView = View();
    ASSERT_EQ(csView.size(), 65536u);
    size_t cchEntry = EntryLength(csView, 100);
    EXPECT_EQ(csView.substr(0, 100), HeaderText(std::to_string(100 + cchEntry) + ", " +
                                                std::to_string(100 + cchEntry) + ", 20480, 65536"));
    EXPECT_EQ(csView[99], ' ');
    EXPECT_TRUE(IsLogSectionCreatedHere());
}

TEST_F(LogSharedMemoryWriterTest, EntryHasTimeStampThreadPrefixAndMessage) {
    SetLogMaxSize(65536);
    LogMessage("hello %s", "world");
    std::string csView = View();
    std::string csEntry = csView.substr(100, EntryLength(csView, 100));
    char szThread[16];
    std::snprintf(szThread, sizeof(szThread), "%4X",
                  static_cast<unsigned>(CPlatform::System().GetCurrentThreadId()));
    EXPECT_TRUE(std::regex_match(csEntry, std::regex(R"(\r\n\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )" +
                                                     std::string(szThread) +
                                                     R"( \[WK_ServiceWorker\.so\] hello world )")))
        << csEntry;
}

TEST_F(LogSharedMemoryWriterTest, MaximumSizeNotAboveWrapOffsetWritesNothing) {
    SetLogMaxSize(GetLogWrapOffset());
    LogMessage("dropped");
    EXPECT_FALSE(SectionExists(m_log.Section()));
}

// Entries of several lengths into a small section: an entry that would reach the end goes to the wrap
// offset, and the header follows.
class LogSharedMemoryWrapTest : public LogSharedMemoryWriterTest,
                                public testing::WithParamInterface<size_t> {};

TEST_P(LogSharedMemoryWrapTest, EntryThatWouldReachTheSizeGoesToTheWrapOffset) {
    const int nSize = 30000;
    SetLogMaxSize(nSize);
    const std::string csMessage(GetParam(), 'a');
    const std::regex entry(TimeStampPattern() + R"(\[WK_ServiceWorker\.so\] a{)" +
                           std::to_string(GetParam()) + "} ");
    int nWraps = 0;
    int nHighestSeen = 100;
    LogMessage("first");
    for (int i = 0; i < 200 && nWraps < 2; ++i) {
        CHeader before = ParseHeader(View());
        LogMessage("%s", csMessage.c_str());
        std::string csView = View();
        CHeader after = ParseHeader(csView);
        bool bWraps = before.nNext + static_cast<int>(g_csPrefix.size() + csMessage.size()) + 260 >= nSize;
        int nAt = bWraps ? 20480 : before.nNext;
        ASSERT_GT(after.nNext, nAt) << i;
        // Exactly one whole entry between where it went and where the header says the next one goes.
        EXPECT_TRUE(std::regex_match(csView.substr(nAt, after.nNext - nAt), entry)) << i;
        nHighestSeen = std::max(nHighestSeen, after.nNext);
        EXPECT_EQ(after.nHighest, nHighestSeen) << i;
        EXPECT_EQ(after.nWrap, 20480);
        EXPECT_EQ(after.nSize, nSize);
        EXPECT_LT(after.nHighest, nSize);
        // The entries before the wrap offset are kept.
        EXPECT_NE(csView.find("first"), std::string::npos);
        nWraps += bWraps;
    }
    EXPECT_EQ(nWraps, 2);
}

INSTANTIATE_TEST_SUITE_P(MessageLengths, LogSharedMemoryWrapTest, testing::Values(700, 2000, 4095));

TEST_F(LogSharedMemoryWriterTest, SecondWriterAdoptsTheStoredSize) {
    CreateForeignSection(40000, HeaderText("100, 100, 20480, 40000"));
    ASSERT_EQ(GetLogMaxSize(), LOG_DEFAULT_MAX_SIZE);
    LogMessage("from the second process");
    EXPECT_EQ(GetLogMaxSize(), 40000);
    EXPECT_FALSE(IsLogSectionCreatedHere());
    std::string csView = View();
    CHeader header = ParseHeader(csView);
    EXPECT_EQ(header.nSize, 40000);
    EXPECT_EQ(header.nNext, 100 + static_cast<int>(EntryLength(csView, 100)));
    // A section this process did not create is not written to the file.
    FlushLog(true);
    EXPECT_FALSE(FileExists(m_log.Path()));
    EXPECT_FALSE(IsLogSectionOpen());
}

TEST_F(LogSharedMemoryWriterTest, SecondProcessAdoptsSizeAndContinuesTheLog) {
    SetLogMaxSize(50 * 1024);
    LogMessage("parent before");
    std::string csOutput;
    ASSERT_EQ(RunProbe({"write", m_log.Path(), "20", "child"}, &csOutput), 0);
    EXPECT_EQ(csOutput, "maxsize=51200\n");
    LogMessage("parent after");
    std::string csView = View();
    size_t nBefore = csView.find("parent before");
    size_t nChild0 = csView.find("probe child line 0 ");
    size_t nChild19 = csView.find("probe child line 19 ");
    size_t nAfter = csView.find("parent after");
    ASSERT_NE(nAfter, std::string::npos);
    EXPECT_LT(nBefore, nChild0);
    EXPECT_LT(nChild0, nChild19);
    EXPECT_LT(nChild19, nAfter);
    EXPECT_EQ(ParseHeader(csView).nNext, static_cast<int>(csView.find('\0')));
}

TEST_F(LogSharedMemoryWriterTest, ProcessThatCreatedTheSectionWritesItToTheFileWhenItEnds) {
    std::string csOutput;
    ASSERT_EQ(RunProbe({"write", m_log.Path(), "3", "ending"}, &csOutput), 0);
    std::string csFile = ReadFile(m_log.Path());
    std::string csView = View();
    EXPECT_EQ(csFile, csView.substr(0, csView.find('\0')));
    EXPECT_THAT(csFile, testing::EndsWith("probe ending line 2 "));
}

struct CCorruptCase {
    const char* pszName;
    std::string csHeader;
    int nExpectedAt; // where the entry must land
    int nExpectedSize;
    friend void PrintTo(const CCorruptCase& c, std::ostream* pOut) { *pOut << '"' << c.csHeader << '"'; }
};

class LogSharedMemoryCorruptTest : public LogSharedMemoryWriterTest,
                                   public testing::WithParamInterface<CCorruptCase> {};

TEST_P(LogSharedMemoryCorruptTest, DamagedHeaderNeverLeadsOutsideTheSection) {
    const CCorruptCase& c = GetParam();
    CreateForeignSection(40000, HeaderText(c.csHeader));
    LogMessage("after damage");
    std::string csView = View();
    ASSERT_EQ(csView.size(), 40000u);
    EXPECT_EQ(csView.compare(c.nExpectedAt, 2, "\r\n"), 0) << csView.substr(0, 100);
    EXPECT_NE(csView.find("after damage", c.nExpectedAt), std::string::npos);
    CHeader header = ParseHeader(csView);
    EXPECT_EQ(header.nNext, c.nExpectedAt + static_cast<int>(EntryLength(csView, c.nExpectedAt)));
    EXPECT_EQ(header.nSize, c.nExpectedSize);
    EXPECT_GE(header.nWrap, 100);
    EXPECT_LT(header.nWrap, header.nSize);
    EXPECT_LE(header.nHighest, header.nSize);
    EXPECT_EQ(csView[99], ' ');
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LogSharedMemoryCorruptTest,
    testing::Values(CCorruptCase{"NextBeyondSection", "999999, 100, 20480, 40000", 20480, 40000},
                    CCorruptCase{"NextInsideHeader", "12, 100, 20480, 40000", 20480, 40000},
                    CCorruptCase{"AllNegative", "-5, -5, -5, -5", 100, 40000},
                    CCorruptCase{"Garbage", "not a header at all", 100, 40000},
                    CCorruptCase{"Overflowing", "99999999999999, 1, 1, 1", 100, 40000},
                    CCorruptCase{"SizeBeyondMapping", "100, 100, 20480, 99999999", 100, 40000},
                    CCorruptCase{"WrapBeyondSize", "39990, 39990, 50000, 40000", 20480, 40000},
                    CCorruptCase{"SmallerSizeIsKept", "29900, 29900, 20480, 30000", 20480, 30000}),
    [](const testing::TestParamInfo<CCorruptCase>& info) { return std::string(info.param.pszName); });

TEST_F(LogSharedMemoryWriterTest, ThreadsNeverInterleaveLines) {
    SetLogMaxSize(4 * 1024 * 1024);
    constexpr int nThreads = 8;
    constexpr int nLines = 250;
    std::vector<std::thread> vThreads;
    for (int t = 0; t < nThreads; ++t)
        vThreads.emplace_back([t] {
            for (int i = 0; i < nLines; ++i)
                LogMessage("thread %d line %d %s", t, i,
                           std::string(static_cast<size_t>(i % 90), '.').c_str());
        });
    for (std::thread& thread : vThreads)
        thread.join();

    std::string csView = View();
    std::string csText = csView.substr(100, csView.find('\0') - 100);
    std::regex line("(" + TimeStampPattern() + R"(\[WK_ServiceWorker\.so\] thread (\d+) line (\d+) (\.*) ))");
    std::set<std::pair<int, int>> setSeen;
    size_t nConsumed = 0;
    for (auto it = std::sregex_iterator(csText.begin(), csText.end(), line); it != std::sregex_iterator();
         ++it) {
        ASSERT_EQ(static_cast<size_t>(it->position()), nConsumed) << "garbled text before " << it->str();
        nConsumed += it->length();
        int nLine = std::stoi((*it)[3]);
        EXPECT_EQ((*it)[4].length(), static_cast<size_t>(nLine % 90));
        setSeen.insert({std::stoi((*it)[2]), nLine});
    }
    EXPECT_EQ(nConsumed, csText.size());
    EXPECT_EQ(setSeen.size(), static_cast<size_t>(nThreads * nLines));
}

TEST_F(LogSharedMemoryWriterTest, FlushLogWritesCreatedSectionToTheFile) {
    SetLogMaxSize(65536);
    LogMessage("one");
    LogMessage("two");
    FlushLog(false);
    EXPECT_TRUE(IsLogSectionOpen());
    std::string csView = View();
    EXPECT_EQ(ReadFile(m_log.Path()), csView.substr(0, csView.find('\0')));

    LogMessage("three");
    FlushLog(true);
    EXPECT_FALSE(IsLogSectionOpen());
    std::string csFile = ReadFile(m_log.Path());
    EXPECT_EQ(csFile.substr(0, 100), View().substr(0, 100));
    EXPECT_THAT(csFile, testing::HasSubstr("one"));
    EXPECT_THAT(csFile, testing::EndsWith("three "));
}

// Shared memory that fails in chosen ways, or passes through to the real one.
class CFailingSharedMemory : public ISharedMemory {
public:
    std::vector<DWORD> m_vOpenErrors; // errors for successive Open calls; past the end: the real Open
    DWORD m_dwCreateError = ERROR_SUCCESS;
    std::vector<std::string> m_vCalls;

    std::unique_ptr<ISharedSection> Open(const std::string& csName, size_t cbMap, DWORD& dwError) override {
        m_vCalls.push_back("Open");
        if (m_nOpens < m_vOpenErrors.size()) {
            dwError = m_vOpenErrors[m_nOpens++];
            return nullptr;
        }
        return PosixSharedMemory().Open(csName, cbMap, dwError);
    }
    std::unique_ptr<ISharedSection> Create(const std::string& csName, size_t cbSize,
                                           DWORD& dwError) override {
        m_vCalls.push_back("Create");
        if (m_dwCreateError != ERROR_SUCCESS) {
            dwError = m_dwCreateError;
            return nullptr;
        }
        return PosixSharedMemory().Create(csName, cbSize, dwError);
    }
    bool Unlink(const std::string& csName) override { return PosixSharedMemory().Unlink(csName); }

private:
    size_t m_nOpens = 0;
};

TEST_F(LogSharedMemoryWriterTest, CreateRaceFallsBackToOpen) {
    CreateForeignSection(40000, HeaderText("100, 100, 20480, 40000"));
    CFailingSharedMemory shm;
    shm.m_vOpenErrors = {ERROR_FILE_NOT_FOUND};
    shm.m_dwCreateError = ERROR_ALREADY_EXISTS;
    CPlatform::SetSharedMemory(&shm);
    LogMessage("raced");
    EXPECT_THAT(shm.m_vCalls, testing::ElementsAre("Open", "Create", "Open"));
    EXPECT_NE(View().find("raced"), std::string::npos);
    EXPECT_EQ(GetLogMaxSize(), 40000);
}

TEST_F(LogSharedMemoryWriterTest, SectionThatCannotBeMappedIsSkippedAndRetried) {
    CFailingSharedMemory shm;
    shm.m_vOpenErrors = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND};
    shm.m_dwCreateError = ERROR_NOT_ENOUGH_MEMORY;
    CPlatform::SetSharedMemory(&shm);
    SetLogMaxSize(65536);
    EXPECT_NO_THROW(LogMessage("denied"));
    EXPECT_NO_THROW(LogMessage("no memory"));
    // An access error is not a missing section: nothing is created over it.
    EXPECT_THAT(shm.m_vCalls, testing::ElementsAre("Open", "Open", "Create"));
    EXPECT_FALSE(SectionExists(m_log.Section()));
    shm.m_dwCreateError = ERROR_SUCCESS;
    LogMessage("recovered");
    EXPECT_NE(View().find("recovered"), std::string::npos);
}

} // namespace
