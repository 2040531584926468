// The circular log file (buffered and unbuffered) and the plain append writer.

#include "LogTestSupport.h"

#include "platform/posix/PosixServices.h"

#include <gmock/gmock.h>

using namespace logtest;

namespace {

class LogFileWriterTest : public testing::Test {
protected:
    LogFileWriterTest() : m_log(m_dir) {}
    void SetUp() override {
        SetLogPath(m_log.Path());
        SetLogLinePrefix("[P] ");
        SetLogSink(&LogFileWriter);
        SetLogLevel(LOG_LEVEL_ON);
    }
    void TearDown() override {
        SetLogLevel(LOG_LEVEL_OFF);
        FlushLog(true);
        CPlatform::SetFiles(nullptr);
        CPlatform::SetModules(nullptr);
    }

    CTempDir m_dir;
    CUniqueLog m_log;
};

// Splits a log text into its entries, checking that nothing but entries is there.
std::vector<std::string> Entries(const std::string& csText) {
    std::vector<std::string> vMessages;
    std::regex entry(TimeStampPattern() + R"(\[P\] ([^\r]*) )");
    size_t nConsumed = 0;
    for (auto it = std::sregex_iterator(csText.begin(), csText.end(), entry); it != std::sregex_iterator();
         ++it) {
        EXPECT_EQ(static_cast<size_t>(it->position()), nConsumed);
        nConsumed += it->length();
        vMessages.push_back((*it)[1]);
    }
    EXPECT_EQ(nConsumed, csText.size());
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
    WriteFile(m_log.Path(), "earlier run");
    LogMessage("one");
    LogMessage("two");
    EXPECT_EQ(ReadFile(m_log.Path()), "earlier run");
    FlushLog(true);
    std::string csText = ReadFile(m_log.Path());
    ASSERT_EQ(csText.compare(0, 11, "earlier run"), 0);
    EXPECT_THAT(Entries(csText.substr(11)), testing::ElementsAre("one", "two"));
}

TEST_F(LogFileWriterTest, UnbufferedWriterKeepsItsHeaderAndClosesTheFile) {
    SetLogBufferedWrites(false);
    LogMessage("one");
    LogMessage("two %d", 2);
    std::string csText = ReadFile(m_log.Path());
    ASSERT_GT(csText.size(), 100u);
    std::string csSize = std::to_string(csText.size());
    EXPECT_EQ(csText.substr(0, 100), HeaderText(csSize + ", " + csSize + ","));
    EXPECT_THAT(Entries(csText.substr(100)), testing::ElementsAre("one", "two 2"));
    EXPECT_EQ(GetLogBufferedBytes(), 0u);
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

TEST_F(LogFileWriterTest, UnbufferedWriterStartsBehindTheHeaderOfADamagedFile) {
    const std::string aHeaders[] = {"", "garbage", "-7, -7,", "0, 0,", "9999999, 5,", "99999999999, 5,"};
    SetLogBufferedWrites(false);
    for (const std::string& csHeader : aHeaders) {
        WriteFile(m_log.Path(), HeaderText(csHeader));
        LogMessage("fresh");
        std::string csText = ReadFile(m_log.Path());
        ASSERT_GT(csText.size(), 100u) << csHeader;
        EXPECT_THAT(Entries(csText.substr(100)), testing::ElementsAre("fresh")) << csHeader;
        EXPECT_EQ(ParseHeader(csText).nNext, static_cast<int>(csText.size())) << csHeader;
    }
}

TEST_F(LogFileWriterTest, FileThatCannotBeOpenedIsSkipped) {
    const std::string csPath = m_dir.Path() + "/missing/folder/x.log";
    for (bool bBuffered : {true, false}) {
        SetLogPath(csPath);
        SetLogBufferedWrites(bBuffered);
        EXPECT_NO_THROW(LogMessage("nowhere"));
        EXPECT_NO_THROW(FlushLog(true));
        EXPECT_FALSE(FileExists(csPath));
    }
}

// A file system whose files accept no writes.
class CReadOnlyFiles : public IFileSystem {
public:
    class CFile : public IFile {
    public:
        bool ReadAt(uint64_t, void*, size_t, size_t& cbRead) override {
            cbRead = 0;
            return false;
        }
        bool WriteAt(uint64_t, const void*, size_t) override { return false; }
        bool Append(const void*, size_t) override { return false; }
        bool Flush() override { return false; }
        uint64_t Size() override { return 0; }
    };
    int m_nOpens = 0;
    std::unique_ptr<IFile> Open(const std::string&, EFileOpen, DWORD& dwError) override {
        ++m_nOpens;
        dwError = ERROR_SUCCESS;
        return std::make_unique<CFile>();
    }
    bool Exists(const std::string&) override { return false; }
    bool GetLastWriteTime(const std::string&, FILETIME64&, DWORD& dwError) override {
        dwError = ERROR_FILE_NOT_FOUND;
        return false;
    }
    bool CreateDirectories(const std::string&) override { return false; }
    bool Remove(const std::string&) override { return false; }
};

TEST_F(LogFileWriterTest, WritesThatFailNeverFailTheCaller) {
    CReadOnlyFiles files;
    CPlatform::SetFiles(&files);
    const std::string csMessage(3000, 'w');
    for (bool bBuffered : {true, false}) {
        SetLogBufferedWrites(bBuffered);
        for (int i = 0; i < 40; ++i)
            EXPECT_NO_THROW(LogMessage("%s", csMessage.c_str()));
        EXPECT_NO_THROW(FlushLog(true));
    }
    SetLogSink(&LogAppendWriter);
    EXPECT_NO_THROW(LogMessage("append"));
    EXPECT_GT(files.m_nOpens, 0);
}

// Modules as the platform has them, with a conversion tool loaded from a chosen folder.
class CConvertLoaded : public IModules {
public:
    std::string m_csConvertPath;
    bool GetModulePathOf(const void* p, std::string& cs) override {
        return PosixModules().GetModulePathOf(p, cs);
    }
    bool FindLoadedModule(const std::string& csName, std::string& csPath) override {
        if (csName != "Convert")
            return false;
        csPath = m_csConvertPath;
        return true;
    }
    void* LoadLibrary(const std::string& cs, DWORD& dw) override {
        return PosixModules().LoadLibrary(cs, dw);
    }
    void* GetProcAddress(void* h, const char* psz) override { return PosixModules().GetProcAddress(h, psz); }
    void FreeLibrary(void* h) override { PosixModules().FreeLibrary(h); }
    std::string LibraryFileName(const std::string& cs) override { return PosixModules().LibraryFileName(cs); }
};

TEST_F(LogFileWriterTest, AppendWriterAddsATimeStampedBlockPerMessage) {
    SetLogSink(&LogAppendWriter);
    LogMessage("first %d", 1);
    LogMessage("second");
    const std::string csCTime = R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d{2}:\d{2}:\d{2} \d{4})";
    EXPECT_TRUE(
        std::regex_match(ReadFile(m_log.Path()), std::regex("\n\n \\*\\*\\*\\*  " + csCTime + " first 1" +
                                                            "\n\n \\*\\*\\*\\*  " + csCTime + " second")))
        << ReadFile(m_log.Path());
}

TEST_F(LogFileWriterTest, AppendWriterWritesOnlyWithTheEntriesBit) {
    SetLogSink(&LogAppendWriter);
    SetLogLevel(1);
    LogMessage("level one");
    EXPECT_FALSE(FileExists(m_log.Path()));
    SetLogLevel(3);
    LogMessage("level three");
    EXPECT_THAT(ReadFile(m_log.Path()), testing::EndsWith(" level three"));
}

TEST_F(LogFileWriterTest, AppendWriterMovesBesideTheConversionTool) {
    CConvertLoaded modules;
    modules.m_csConvertPath = m_dir.Path() + "/tools/Convert.so";
    std::filesystem::create_directories(m_dir.Path() + "/tools");
    CPlatform::SetModules(&modules);
    SetLogSink(&LogAppendWriter);
    LogMessage("converted");
    EXPECT_EQ(GetLogPath(), m_dir.Path() + "/tools/BK_Log.txt");
    EXPECT_THAT(ReadFile(m_dir.Path() + "/tools/BK_Log.txt"), testing::EndsWith(" converted"));
    EXPECT_FALSE(FileExists(m_log.Path()));
}

} // namespace
