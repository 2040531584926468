#include "i18n/CResource.h"

#include "i18n/ResourceModuleData.h"
#include "platform/CEventLog.h"
#include "platform/CPlatform.h"
#include "platform/SystemMessage.h"
#include "tests/TableFile.h"
#include "tests/filter/PlatformDoubles.h"
#include "tests/i18n/ResourceTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

namespace {

constexpr LANGID c_wEnglish = LANGID_RESOURCE_ENGLISH;
constexpr LANGID c_wFrench = 0x040C;

class CRecordingDebug : public IDebugOutput {
public:
    void Write(const char* pszText) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vLines.emplace_back(pszText);
    }
    std::mutex m_lock;
    std::vector<std::string> m_vLines;
};

// The system text as the resource reports quote it: one line, no trailing blanks.
std::string SystemLine(DWORD dwCode) {
    std::string cs = SystemMessageOrFallback(dwCode);
    for (char& ch : cs)
        if (ch == '\r' || ch == '\n')
            ch = ' ';
    cs.erase(cs.find_last_not_of(' ') + 1);
    return cs;
}

std::vector<BYTE> TwoLanguageModule() {
    CResourceModuleWriter writer;
    writer.AddString(c_wEnglish, 15, u"fifteen");
    writer.AddString(c_wEnglish, 16, u"sixteen");
    writer.AddString(c_wEnglish, 17, u"");
    writer.AddString(c_wEnglish, 102, u"Leaving");
    writer.AddString(c_wFrench, 102, u"Départ");
    return writer.Build();
}

class CResourceTest : public testing::Test {
protected:
    void SetUp() override {
        CCallbackRecord::Clear();
        CResource::SetLogCallback(&CCallbackRecord::OnLog);
        CResource::SetErrorCallback(&CCallbackRecord::OnError);
        CPlatform::SetDebug(&m_debug);
    }
    void TearDown() override {
        CResource::SetLogCallback(nullptr);
        CResource::SetErrorCallback(nullptr);
        CPlatform::SetDebug(nullptr);
        CPlatform::SetFiles(nullptr);
    }
    std::string WriteModule(const std::string& csName, const std::vector<BYTE>& v) {
        const std::string csPath = m_folder.Path(csName);
        WriteFileBytes(csPath, v);
        return csPath;
    }
    static std::vector<std::string> Logs() { return CCallbackRecord::s_vLogLines; }
    static std::vector<std::pair<WORD, std::string>> Errors() { return CCallbackRecord::s_vErrors; }

    void ExpectLoadFailureReported(const std::string& csPath, DWORD dwCode) {
        const std::string csCode = std::to_string(dwCode);
        ASSERT_EQ(Errors().size(), 1u);
        EXPECT_EQ(Errors()[0].first, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(Errors()[0].second, " Resource Class LoadModule failed  " + csPath + " error " + csCode +
                                          "   " + SystemLine(dwCode));
        ASSERT_EQ(Logs().size(), 1u);
        EXPECT_EQ(Logs()[0], "Resource Class LoadModule failed  " + csPath + " error " + csCode + ", " +
                                 SystemLine(dwCode));
    }
    void ExpectNothingLoaded(const CResource& resource) {
        EXPECT_FALSE(resource.IsLoaded());
        EXPECT_TRUE(resource.GetModulePath().empty());
        CCallbackRecord::Clear();
        std::u16string ws = u"stale";
        EXPECT_FALSE(resource.LoadString(102, ws, c_wEnglish));
        EXPECT_TRUE(ws.empty());
        EXPECT_EQ(Logs(), std::vector<std::string>{"Resource class NULL handler LoadString"});
    }

    CTempFolder m_folder;
    CRecordingDebug m_debug;
};

// Only the exact names of the language list are known; any other name gets English, with a log line.
TEST_F(CResourceTest, DetectLanguageKnowsTheListsNamesOnly) {
    CResource resource;
    const std::pair<const char*, LANGID> aCases[] = {
        {"en", 0x1009}, {"pt-br", 0x0416}, {"pt", 0x0816}, {"el", 0x0408}, {"en-us", 0}, {"EN", 0},
        {"", 0},        {"english", 0},    {"zh-cn", 0},   {"pt_br", 0},   {"en ", 0},   {"%s%n", 0}};
    for (const auto& [pszName, wExpected] : aCases) {
        CCallbackRecord::Clear();
        LANGID wFound = 0;
        EXPECT_EQ(resource.DetectLanguage(pszName, wFound), wExpected != 0) << pszName;
        EXPECT_EQ(wFound, wExpected ? wExpected : 4105) << pszName;
        EXPECT_EQ(Logs(),
                  wExpected ? std::vector<std::string>()
                            : std::vector<std::string>{std::string("Resource class can not find language ") +
                                                       pszName + ". Set english as default"});
    }
}

// A missing or damaged file fails the load with its code and frees the module that was loaded before; the
// reason goes to the debugger output only.
TEST_F(CResourceTest, BadFileFailsTheLoadAndTheOldModuleIsGone) {
    std::vector<BYTE> vTruncated = TwoLanguageModule();
    vTruncated.resize(vTruncated.size() / 2);
    const struct {
        const char* pszName;
        std::optional<std::vector<BYTE>> file;
        DWORD dwExpected;
    } aCases[] = {{"missing", std::nullopt, ERROR_FILE_NOT_FOUND},
                  {"truncated", vTruncated, ERROR_INVALID_DATA},
                  {"empty", std::vector<BYTE>(), ERROR_BAD_FORMAT}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        CResource resource;
        ASSERT_TRUE(resource.LoadModule(WriteModule("good.dat", TwoLanguageModule())));
        const std::string csBad = c.file ? WriteModule("bad.dat", *c.file) : m_folder.Path("absent.dat");
        CCallbackRecord::Clear();
        EXPECT_FALSE(resource.LoadModule(csBad));
        ExpectLoadFailureReported(csBad, c.dwExpected);
        ExpectNothingLoaded(resource);
        if (c.file) {
            ASSERT_FALSE(m_debug.m_vLines.empty());
            EXPECT_EQ(m_debug.m_vLines.back().rfind("Resource module rejected: ", 0), 0u);
        }
    }
}

TEST_F(CResourceTest, FileSystemFailuresAreReportedWithTheirCodes) {
    const struct {
        const char* pszName;
        CFileFault fault;
        size_t cbHeld;
        DWORD dwExpected;
    } aCases[] = {
        {"access denied", {false, ERROR_ACCESS_DENIED}, 64, ERROR_ACCESS_DENIED},
        {"open fails without a code", {false, ERROR_SUCCESS}, 64, ERROR_FILE_NOT_FOUND},
        {"read fails", {true, ERROR_SUCCESS, 0}, 64, ERROR_READ_FAULT},
        {"file shrinks while read", {true, ERROR_SUCCESS, -1, 54}, 10, ERROR_READ_FAULT},
        {"larger than any module",
         {true, ERROR_SUCCESS, -1, ResourceModuleFormat::c_cbMaxFile + 1},
         0,
         ERROR_BAD_FORMAT},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        CMemoryFiles files;
        files.m_fault = c.fault;
        files.m_vBytes.assign(c.cbHeld, 0);
        CPlatform::SetFiles(&files);
        CCallbackRecord::Clear();
        CResource resource;
        EXPECT_FALSE(resource.LoadModule("/x/WK_Res64.dat"));
        CPlatform::SetFiles(nullptr);
        EXPECT_EQ(files.m_eLastMode, EFileOpen::ReadExisting);
        ExpectLoadFailureReported("/x/WK_Res64.dat", c.dwExpected);
        ExpectNothingLoaded(resource);
    }
}

TEST_F(CResourceTest, LoadStringFindsExactLanguageBlockAndEntry) {
    CResource resource;
    const std::string csPath = WriteModule("m.dat", TwoLanguageModule());
    ASSERT_TRUE(resource.LoadModule(csPath));
    EXPECT_EQ(resource.GetModulePath(), csPath);
    EXPECT_TRUE(Logs().empty());
    EXPECT_TRUE(Errors().empty());

    // Entry 15 ends block 1 and 16 starts block 2; an empty entry is missing, silently.
    for (const tabletest::TRow& row : tabletest::ReadTable("i18n/resource-lookups.txt")) {
        SCOPED_TRACE(row.at(0) + " " + row.at(1));
        CCallbackRecord::Clear();
        std::u16string ws = u"stale";
        EXPECT_EQ(resource.LoadString(static_cast<UINT>(tabletest::Number(row.at(0))), ws,
                                      static_cast<LANGID>(tabletest::Number(row.at(1)))),
                  row.at(2) == "1");
        EXPECT_EQ(ws, tabletest::Units(row.at(3)));
        EXPECT_EQ(Logs(),
                  row.at(4).empty() ? std::vector<std::string>{} : std::vector<std::string>{row.at(4)});
    }
}

TEST_F(CResourceTest, UnloadAndReload) {
    CResource resource;
    EXPECT_TRUE(resource.UnloadModule()); // nothing loaded: nothing to do
    const std::string csFirst = WriteModule("first.dat", TwoLanguageModule());
    CResourceModuleWriter writer;
    writer.AddString(c_wEnglish, 102, u"Second");
    const std::string csSecond = WriteModule("second.dat", writer.Build());

    ASSERT_TRUE(resource.LoadModule(csFirst));
    ASSERT_TRUE(resource.LoadModule(csSecond));
    EXPECT_EQ(resource.GetModulePath(), csSecond);
    std::u16string ws;
    EXPECT_TRUE(resource.LoadString(102, ws, c_wEnglish));
    EXPECT_EQ(ws, u"Second");
    EXPECT_FALSE(resource.LoadString(102, ws, c_wFrench)); // the first module's French is gone

    EXPECT_TRUE(resource.UnloadModule());
    ExpectNothingLoaded(resource);
    EXPECT_TRUE(Errors().empty());

    ASSERT_TRUE(resource.LoadModule(WriteModule("empty.dat", CResourceModuleWriter().Build())));
    CCallbackRecord::Clear();
    EXPECT_FALSE(resource.LoadString(102, ws, c_wEnglish));
    EXPECT_EQ(Logs(), std::vector<std::string>{
                          "Resource Class LoadString failed. It couldn't find the resource 102 error 1813"});
}

// Without callbacks nothing is written, and callbacks that throw only cost their text.
TEST_F(CResourceTest, MissingOrThrowingCallbacksAreHarmless) {
    for (bool bThrow : {false, true}) {
        CResource::SetLogCallback(bThrow ? [](const char*) { throw std::runtime_error("log sink down"); }
                                         : PFN_RESOURCE_LOG(nullptr));
        CResource::SetErrorCallback(
            bThrow ? [](WORD, const char*) { throw std::runtime_error("event log down"); }
                   : PFN_RESOURCE_ERROR(nullptr));
        m_debug.m_vLines.clear();
        CResource resource;
        std::u16string ws;
        LANGID wLangId = 0;
        EXPECT_NO_THROW(EXPECT_FALSE(resource.LoadString(102, ws, c_wEnglish)));
        EXPECT_NO_THROW(EXPECT_FALSE(resource.LoadModule(m_folder.Path("absent.dat"))));
        EXPECT_NO_THROW(EXPECT_FALSE(resource.DetectLanguage("xx", wLangId)));
        EXPECT_EQ(wLangId, c_wEnglish);
        EXPECT_TRUE(Logs().empty());
        EXPECT_TRUE(Errors().empty());
        EXPECT_EQ(m_debug.m_vLines.size(), bThrow ? 4u : 0u);
    }
}

// Log lines are cut at 2048 characters; an error report keeps 511 characters of its message, then three
// blanks and the whole system text.
TEST_F(CResourceTest, LongPathsAreTruncatedToTheBufferSizes) {
    CResource resource;
    const std::string csPath = "/" + std::string(3000, 'p');
    EXPECT_FALSE(resource.LoadModule(csPath));
    ASSERT_EQ(Logs().size(), 1u);
    EXPECT_EQ(Logs()[0].size(), CResource::c_cchLogLine - 1);
    EXPECT_EQ(Logs()[0].rfind("Resource Class LoadModule failed  /ppp", 0), 0u);
    ASSERT_EQ(Errors().size(), 1u);
    const std::string csSystem = SystemLine(ERROR_FILENAME_EXCED_RANGE);
    const std::string csError = Errors()[0].second;
    EXPECT_EQ(csError.size(), CResource::c_cchErrorMessage - 1 + 3 + csSystem.size());
    EXPECT_EQ(csError.substr(CResource::c_cchErrorMessage - 1), "   " + csSystem);
}

class CResourceProbe : public CResource {
public:
    using CResource::Log;
    using CResource::ReportError;
};

TEST_F(CResourceTest, FormattingFailureIsReportedInItsPlace) {
    // A wide character that the C locale cannot write makes the formatting fail.
    CResourceProbe::Log("%ls", L"\u00e9");
    CResourceProbe::ReportError(EVENTLOG_WARNING_TYPE, ERROR_INVALID_DATA, "%ls", L"\u00e9");
    EXPECT_EQ(Logs(), std::vector<std::string>{" An error on logging occured"});
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0],
              std::make_pair(EVENTLOG_WARNING_TYPE, std::string(" An error on logging occured")));
    EXPECT_EQ(m_debug.m_vLines, (std::vector<std::string>{"An error on logging", "An error on logging"}));
}

// Lookups from many threads at once see the same texts as one thread does.
TEST_F(CResourceTest, ConcurrentLookupsAgree) {
    CResource resource;
    ASSERT_TRUE(resource.LoadModule(WriteModule("m.dat", TwoLanguageModule())));
    CResource::SetLogCallback(nullptr); // misses are expected below
    const UINT anIds[] = {14, 15, 16, 17, 102, 500};
    std::map<std::pair<LANGID, UINT>, std::u16string> mapOneThread;
    for (LANGID wLangId : {c_wEnglish, c_wFrench})
        for (UINT nId : anIds)
            resource.LoadString(nId, mapOneThread[{wLangId, nId}], wLangId);
    std::atomic<int> cMismatches{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 8; ++t)
        vThreads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const LANGID wLangId = (t + i) % 2 ? c_wFrench : c_wEnglish;
                const UINT nId = anIds[(i * 7 + t) % std::size(anIds)];
                std::u16string ws;
                resource.LoadString(nId, ws, wLangId);
                cMismatches += ws != mapOneThread.at({wLangId, nId});
            }
        });
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(cMismatches.load(), 0);
}

} // namespace
