// The circular log file (buffered and unbuffered) and the plain append writer.

#include "LogTestSupport.h"

#include <gmock/gmock.h>

using namespace logtest;
using testing::ElementsAre;
using testing::EndsWith;

namespace {

class LogFileWriterTest : public CLogTest {
protected:
    void SetUp() override { StartLog(&LogFileWriter, "[P] "); }
};

// The messages of a log text that holds nothing but entries.
std::vector<std::string> Entries(const std::string& csText) {
    std::vector<std::string> vMessages;
    for (const std::smatch& entry : WholeEntries(csText, R"(\[P\] ([^\r]*) )"))
        vMessages.push_back(entry[1]);
    return vMessages;
}

TEST_F(LogFileWriterTest, BufferedEntriesReachTheFileWhenTheReserveWouldBeExceeded) {
    const std::string csMessage(1000, 'b');
    size_t cbWritten = 0;
    int nFlushes = 0;
    for (int i = 0; i < 120; ++i) {
        size_t cbBefore = GetLogBufferedBytes();
        LogMessage("%03d %s", i, csMessage.c_str());
        size_t cbFile = ReadFile(m_log.Path()).size();
        if (GetLogBufferedBytes() == 0) {
            // The buffer and then this entry, written together.
            size_t cbEntry = cbFile - cbWritten - cbBefore;
            EXPECT_GT(cbBefore + cbEntry + 259, static_cast<size_t>(LOG_DEFAULT_BUFFER_RESERVE)) << i;
            cbWritten = cbFile;
            ++nFlushes;
        } else {
            size_t cbEntry = GetLogBufferedBytes() - cbBefore;
            EXPECT_LE(cbBefore + cbEntry + 259, static_cast<size_t>(LOG_DEFAULT_BUFFER_RESERVE)) << i;
            EXPECT_EQ(cbFile, cbWritten) << i;
        }
    }
    EXPECT_EQ(nFlushes, 2);
    FlushLog(false);
    EXPECT_EQ(GetLogBufferedBytes(), 0u);
    std::vector<std::string> vMessages = Entries(ReadFile(m_log.Path()));
    ASSERT_EQ(vMessages.size(), 120u);
    EXPECT_EQ(vMessages[119].substr(0, 4), "119 ");
}

TEST_F(LogFileWriterTest, BufferedWriterContinuesBehindEarlierRuns) {
    std::ofstream(m_log.Path()) << "earlier run";
    LogMessage("one");
    LogMessage("two");
    EXPECT_EQ(ReadFile(m_log.Path()), "earlier run");
    FlushLog(true);
    std::string csText = ReadFile(m_log.Path());
    ASSERT_EQ(csText.compare(0, 11, "earlier run"), 0);
    EXPECT_THAT(Entries(csText.substr(11)), ElementsAre("one", "two"));
}

TEST_F(LogFileWriterTest, UnbufferedWriterWrapsBehindHeaderAndWrapOffset) {
    SetLogBufferedWrites(false);
    const int nMaxSize = 30000;
    SetLogMaxSize(nMaxSize);
    const int nResume = 100 + GetLogWrapOffset();
    const std::string csMessage(2000, 'u');
    LogMessage("first");
    int nWraps = 0;
    for (int i = 0; i < 40 && nWraps < 2; ++i) {
        std::string csBefore = ReadFile(m_log.Path());
        CHeader before = ParseHeader(csBefore);
        LogMessage("%s", csMessage.c_str());
        std::string csAfter = ReadFile(m_log.Path());
        CHeader after = ParseHeader(csAfter);
        ASSERT_LE(csAfter.size(), static_cast<size_t>(nMaxSize));
        size_t cchEntry =
            static_cast<size_t>(after.nNext - (after.nNext < before.nNext ? nResume : before.nNext));
        bool bWraps = before.nNext + static_cast<int>(cchEntry) > nMaxSize;
        EXPECT_EQ(csAfter.compare(bWraps ? nResume : before.nNext, 2, "\r\n"), 0) << i;
        // Once they are written, the first wrap-offset bytes of entries are never overwritten.
        if (csBefore.size() >= static_cast<size_t>(nResume)) {
            EXPECT_EQ(csAfter.substr(100, 20480), csBefore.substr(100, 20480)) << i;
        }
        EXPECT_EQ(after.nHighest, std::max(before.nHighest, after.nNext)) << i;
        nWraps += bWraps;
    }
    EXPECT_EQ(nWraps, 2);
}

// A new file, or one whose header this writer did not leave: the entries start behind the header, which then
// tells where the next one goes.
TEST_F(LogFileWriterTest, UnbufferedWriterKeepsItsHeaderAndStartsBehindADamagedOne) {
    SetLogBufferedWrites(false);
    for (const char* pszHeader :
         {"new", "", "garbage", "-7, -7,", "0, 0,", "9999999, 5,", "99999999999, 5,"}) {
        if (std::string(pszHeader) != "new")
            std::ofstream(m_log.Path()) << HeaderText(pszHeader);
        LogMessage("one");
        LogMessage("two %d", 2);
        std::string csText = ReadFile(m_log.Path());
        ASSERT_GT(csText.size(), 100u) << pszHeader;
        std::string csSize = std::to_string(csText.size());
        EXPECT_EQ(csText.substr(0, 100), HeaderText(csSize + ", " + csSize + ",")) << pszHeader;
        EXPECT_THAT(Entries(csText.substr(100)), ElementsAre("one", "two 2")) << pszHeader;
    }
}

// A file that cannot be opened, or whose writes fail, never fails the caller.
TEST_F(LogFileWriterTest, FilesThatCannotBeOpenedOrWrittenAreSkipped) {
    const std::string csMissing = m_log.Dir() + "/missing/folder/x.log";
    for (bool bBuffered : {true, false}) {
        SetLogPath(csMissing);
        SetLogBufferedWrites(bBuffered);
        EXPECT_NO_THROW(LogMessage("nowhere"));
        EXPECT_NO_THROW(FlushLog(true));
        EXPECT_FALSE(std::filesystem::exists(csMissing));
        // Every write to this device fails.
        SetLogPath("/dev/full");
        for (int i = 0; i < 40; ++i)
            EXPECT_NO_THROW(LogMessage("%s", std::string(3000, 'w').c_str()));
        EXPECT_NO_THROW(FlushLog(true));
        EXPECT_EQ(GetLogBufferedBytes(), 0u);
    }
    SetLogSink(&LogAppendWriter);
    EXPECT_NO_THROW(LogMessage("append"));
}

// Nothing without the entries bit of the level; then a time-stamped block per message.
TEST_F(LogFileWriterTest, AppendWriterAddsATimeStampedBlockPerMessageWithTheEntriesBit) {
    SetLogSink(&LogAppendWriter);
    SetLogLevel(1);
    LogMessage("level one");
    EXPECT_FALSE(std::filesystem::exists(m_log.Path()));
    SetLogLevel(3);
    LogMessage("first %d", 1);
    LogMessage("second");
    const std::string csCTime = R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d{2}:\d{2}:\d{2} \d{4})";
    EXPECT_TRUE(
        std::regex_match(ReadFile(m_log.Path()), std::regex("\n\n \\*\\*\\*\\*  " + csCTime + " first 1" +
                                                            "\n\n \\*\\*\\*\\*  " + csCTime + " second")))
        << ReadFile(m_log.Path());
}

TEST_F(LogFileWriterTest, AppendWriterMovesBesideTheConversionTool) {
    CFakeModules modules;
    modules.m_mapLoaded["Convert"] = m_log.Dir() + "/tools/Convert.so";
    std::filesystem::create_directories(m_log.Dir() + "/tools");
    CPlatform::SetModules(&modules);
    SetLogSink(&LogAppendWriter);
    LogMessage("converted");
    EXPECT_EQ(GetLogPath(), m_log.Dir() + "/tools/BK_Log.txt");
    EXPECT_THAT(ReadFile(m_log.Dir() + "/tools/BK_Log.txt"), EndsWith(" converted"));
    EXPECT_FALSE(std::filesystem::exists(m_log.Path()));
}

} // namespace
