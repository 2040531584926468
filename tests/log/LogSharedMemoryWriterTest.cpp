// The circular log in a named shared-memory section.

#include "LogTestSupport.h"

#include "platform/posix/PosixServices.h"
#include "tests/TableFile.h"

#include <gmock/gmock.h>

#include <cstring>

using namespace logtest;
using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;

namespace {

const std::string g_csPrefix = "[WK_ServiceWorker.so] ";

class LogSharedMemoryWriterTest : public CLogTest {
protected:
    void SetUp() override { StartLog(&LogSharedMemoryWriter, g_csPrefix); }
    // Creates the section as another process would have left it.
    void CreateForeignSection(size_t cbSize, const std::string& csHeader) {
        DWORD dwError = 0;
        auto spSection = CPlatform::SharedMemory().Create(m_log.Section(), cbSize, dwError);
        ASSERT_NE(spSection, nullptr) << dwError;
        std::memcpy(spSection->Data(), HeaderText(csHeader).data(), 100);
    }
    std::string View() { return ReadSection(m_log.Section()); }
};

// The length of the entry at nOffset: up to the next entry or the first zero byte.
int EntryLength(const std::string& csView, size_t nOffset) {
    return static_cast<int>(std::min(csView.find("\r\n", nOffset + 2), csView.find('\0', nOffset)) - nOffset);
}

TEST_F(LogSharedMemoryWriterTest, FirstEntryGoesBehindTheInitialHeader) {
    SetLogMaxSize(65536);
    LogMessage("hello %s", "world");
    std::string csView = View();
    ASSERT_EQ(csView.size(), 65536u);
    const std::string csNext = std::to_string(100 + EntryLength(csView, 100));
    EXPECT_EQ(csView.substr(0, 100), HeaderText(csNext + ", " + csNext + ", 20480, 65536"));
    EXPECT_TRUE(IsLogSectionCreatedHere());
    // The time stamp line carries this thread's number.
    char szThread[16];
    std::snprintf(szThread, sizeof(szThread), "%4X ",
                  static_cast<unsigned>(CPlatform::System().GetCurrentThreadId()));
    const std::string csText = EntriesOf(csView);
    auto vEntries = WholeEntries(csText, R"(\[WK_ServiceWorker\.so\] hello world )");
    ASSERT_EQ(vEntries.size(), 1u);
    EXPECT_THAT(vEntries[0].str(), HasSubstr(szThread + g_csPrefix));
}

TEST_F(LogSharedMemoryWriterTest, MaximumSizeNotAboveWrapOffsetWritesNothing) {
    SetLogMaxSize(GetLogWrapOffset());
    LogMessage("dropped");
    EXPECT_TRUE(View().empty());
}

// Entries of several lengths into a small section: an entry that would reach the end goes to the wrap
// offset, and the header follows.
class LogSharedMemoryWrapTest : public LogSharedMemoryWriterTest,
                                public testing::WithParamInterface<size_t> {};

TEST_P(LogSharedMemoryWrapTest, EntryThatWouldReachTheSizeGoesToTheWrapOffset) {
    const int nSize = 30000;
    SetLogMaxSize(nSize);
    const std::string csMessage(GetParam(), 'a');
    const std::string csEntry = R"(\[WK_ServiceWorker\.so\] a{)" + std::to_string(GetParam()) + "} ";
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
        EXPECT_EQ(WholeEntries(csView.substr(nAt, after.nNext - nAt), csEntry).size(), 1u) << i;
        nHighestSeen = std::max(nHighestSeen, after.nNext);
        EXPECT_EQ(after.nHighest, nHighestSeen) << i;
        EXPECT_LT(after.nHighest, nSize);
        // The entries before the wrap offset are kept.
        EXPECT_NE(csView.find("first"), std::string::npos);
        nWraps += bWraps;
    }
    EXPECT_EQ(nWraps, 2);
}

INSTANTIATE_TEST_SUITE_P(MessageLengths, LogSharedMemoryWrapTest, testing::Values(700, 2000, 4095),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param); });

// A second process adopts the size the first gave the section and goes on where it left off; the process
// that created the section writes it to the file when it ends.
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
    EXPECT_FALSE(std::filesystem::exists(m_log.Path()));
    // A flush that keeps the section writes it to the file all the same.
    FlushLog(false);
    EXPECT_TRUE(IsLogSectionOpen());
    EXPECT_EQ(ReadFile(m_log.Path()), csView.substr(0, csView.find('\0')));

    // The last process to let go saves the section and removes it; a process after it goes on from the file.
    FlushLog(true);
    EXPECT_TRUE(View().empty());
    EXPECT_EQ(ReadFile(m_log.Path()), csView.substr(0, csView.find('\0')));
    ASSERT_EQ(RunProbe({"write", m_log.Path(), "3", "ending"}, &csOutput), 0);
    EXPECT_TRUE(View().empty());
    const std::string csFile = ReadFile(m_log.Path());
    EXPECT_EQ(csFile.find("parent before"), nBefore);
    EXPECT_LT(csFile.find("parent after"), csFile.find("probe ending line 0"));
    EXPECT_THAT(csFile, EndsWith("probe ending line 2 "));
}

// A section another process left: its size is adopted, damaged header values never lead outside it, and as
// its creator has gone, this process is its last user: it saves the section to the file and removes it.
class LogSharedMemoryForeignTest : public LogSharedMemoryWriterTest,
                                   public testing::WithParamInterface<tabletest::TRow> {};

TEST_P(LogSharedMemoryForeignTest, ForeignSectionIsUsedWithinItsBounds) {
    const int nExpectedAt = std::stoi(GetParam()[2]);
    const int nExpectedSize = std::stoi(GetParam()[3]);
    CreateForeignSection(40000, GetParam()[1]);
    LogMessage("after damage");
    std::string csView = View();
    ASSERT_EQ(csView.size(), 40000u);
    EXPECT_EQ(csView.compare(nExpectedAt, 2, "\r\n"), 0) << csView.substr(0, 100);
    EXPECT_NE(csView.find("after damage", nExpectedAt), std::string::npos);
    CHeader header = ParseHeader(csView);
    EXPECT_EQ(header.nNext, nExpectedAt + EntryLength(csView, nExpectedAt));
    EXPECT_EQ(header.nSize, nExpectedSize);
    EXPECT_EQ(GetLogMaxSize(), nExpectedSize);
    EXPECT_GE(header.nWrap, 100);
    EXPECT_LT(header.nWrap, header.nSize);
    EXPECT_LE(header.nHighest, header.nSize);
    EXPECT_EQ(csView[99], ' ');
    EXPECT_FALSE(IsLogSectionCreatedHere());
    FlushLog(true);
    EXPECT_EQ(ReadFile(m_log.Path()), csView.substr(0, csView.find('\0')));
    EXPECT_TRUE(View().empty());
    EXPECT_FALSE(IsLogSectionOpen());
}

INSTANTIATE_TEST_SUITE_P(Headers, LogSharedMemoryForeignTest,
                         testing::ValuesIn(tabletest::ReadTable("log/foreign-headers.txt")),
                         tabletest::RowName);

// Shared memory whose successive Open calls fail with the given errors and whose Create fails with the given
// one; otherwise the real one.
class CFailingSharedMemory : public ISharedMemory {
public:
    std::vector<DWORD> m_vOpenErrors;
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
        dwError = m_dwCreateError;
        return dwError ? nullptr : PosixSharedMemory().Create(csName, cbSize, dwError);
    }
    bool Unlink(const std::string& csName) override { return PosixSharedMemory().Unlink(csName); }

private:
    size_t m_nOpens = 0;
};

// Another process creating the section between this one's Open and Create; then a section that cannot be
// opened (nothing is created over it) or created is skipped, without failing the caller, and retried.
TEST_F(LogSharedMemoryWriterTest, CreateRaceAndSectionsThatCannotBeMapped) {
    CreateForeignSection(40000, "100, 100, 20480, 40000");
    CFailingSharedMemory shm;
    shm.m_vOpenErrors = {ERROR_FILE_NOT_FOUND};
    shm.m_dwCreateError = ERROR_ALREADY_EXISTS;
    CPlatform::SetSharedMemory(&shm);
    LogMessage("raced");
    EXPECT_THAT(shm.m_vCalls, ElementsAre("Open", "Create", "Open"));
    EXPECT_THAT(View(), HasSubstr("raced"));
    EXPECT_EQ(GetLogMaxSize(), 40000);

    FlushLog(true);
    CPlatform::SharedMemory().Unlink(m_log.Section());
    CFailingSharedMemory failing;
    failing.m_vOpenErrors = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND};
    failing.m_dwCreateError = ERROR_NOT_ENOUGH_MEMORY;
    CPlatform::SetSharedMemory(&failing);
    SetLogMaxSize(65536);
    EXPECT_NO_THROW(LogMessage("denied"));
    EXPECT_NO_THROW(LogMessage("no memory"));
    // An access error is not a missing section: nothing is created over it.
    EXPECT_THAT(failing.m_vCalls, ElementsAre("Open", "Open", "Create"));
    EXPECT_TRUE(View().empty());
    failing.m_dwCreateError = ERROR_SUCCESS;
    LogMessage("recovered");
    EXPECT_THAT(View(), HasSubstr("recovered"));
}

} // namespace
