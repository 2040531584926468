// Configuration of the log from the settings: level, writer, size, file name, folder and lock.

#include "LogTestSupport.h"

#include "filter/log/LogConfig.h"
#include "platform/CSync.h"
#include "platform/posix/PosixServices.h"

#include <gmock/gmock.h>

#include <cstring>
#include <map>
#include <optional>

using namespace logtest;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

struct CRead {
    DWORD dwId;
    DWORD dwGroup;
    DWORD dwLevelDuringRead;
};

class CFakeReader : public ILogSettingsReader {
public:
    std::map<DWORD, std::string> m_mapValues;
    std::vector<CRead> m_vReads;
    bool m_bThrow = false;

    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) override {
        m_vReads.push_back({dwId, dwGroup, GetLogLevel()});
        if (m_bThrow)
            throw std::runtime_error("settings store failed");
        auto it = m_mapValues.find(dwId);
        if (it == m_mapValues.end())
            return false;
        csValue = it->second;
        return true;
    }
};

// The platform's system services with the system log folder moved under a test folder.
class CSystemWithLogRoot : public ISystem {
public:
    std::string m_csRoot;
    CSystemTime GetLocalTime() override { return PosixSystem().GetLocalTime(); }
    CSystemTime FileTimeToUtc(uint64_t ft) override { return PosixSystem().FileTimeToUtc(ft); }
    std::string CTimeNow() override { return PosixSystem().CTimeNow(); }
    DWORD GetCurrentThreadId() override { return PosixSystem().GetCurrentThreadId(); }
    DWORD GetCurrentProcessId() override { return PosixSystem().GetCurrentProcessId(); }
    std::string GetSystemLogRoot() override { return m_csRoot; }
    std::string GetFallbackLogPath() override { return PosixSystem().GetFallbackLogPath(); }
    char PathSeparator() override { return '/'; }
    std::string GetEnv(const char* psz) override { return PosixSystem().GetEnv(psz); }
};

std::vector<std::string> g_vCaptured;
void CaptureSink(const char* pszText) {
    g_vCaptured.push_back(pszText);
}

class LogConfigTest : public testing::Test {
protected:
    void SetUp() override {
        g_vCaptured.clear();
        m_system.m_csRoot = m_dir.Path() + "/var/log";
        CPlatform::SetSystem(&m_system);
        m_env.csInstallFolder = m_dir.Path() + "/install/";
        m_env.csModuleFileName = "WK_ServiceWorker.so";
        m_env.vReservedNames = {"AUX", "CON", "NUL", "PRN", "CLOCKS$"};
        m_reader.m_mapValues[LOG_SETTING_FOLDER] = m_dir.Path();
    }
    void TearDown() override {
        SetLogLevel(LOG_LEVEL_OFF);
        FlushLog(true);
        UnloadLogModule();
        CPlatform::SetSystem(nullptr);
        for (const std::string& csSection : m_vSections)
            CPlatform::SharedMemory().Unlink(csSection);
    }
    std::string UniqueName(const std::string& csStem) {
        std::string csName = csStem + "_" + std::to_string(::getpid()) + "_" + TestName();
        m_vSections.push_back("Global\\" + csName);
        return csName;
    }
    std::string LogFolder() const { return m_dir.Path() + "/BrindlemarkLogs/"; }

    CTempDir m_dir;
    CSystemWithLogRoot m_system;
    CLogEnvironment m_env;
    CFakeReader m_reader;
    std::vector<std::string> m_vSections;
};

TEST_F(LogConfigTest, ReadsEachLogSettingInTheGeneralSection) {
    EXPECT_TRUE(ConfigureLog(m_reader, m_env));
    std::vector<DWORD> vIds;
    for (const CRead& read : m_reader.m_vReads) {
        vIds.push_back(read.dwId);
        EXPECT_EQ(read.dwGroup, 0xFFFFFFFFu);
    }
    EXPECT_THAT(vIds, ElementsAre(14, 12, 13, 39, 75, 23, 76));
}

TEST_F(LogConfigTest, LoggingIsOffWhileFileAndLockChange) {
    m_reader.m_mapValues[LOG_SETTING_LEVEL] = "1";
    SetLogLevel(LOG_LEVEL_ON);
    ConfigureLog(m_reader, m_env);
    for (const CRead& read : m_reader.m_vReads)
        EXPECT_EQ(read.dwLevelDuringRead, read.dwId == 14 || read.dwId == 12 || read.dwId == 13 ? 2u : 0u)
            << read.dwId;
    EXPECT_EQ(GetLogLevel(), LOG_LEVEL_ON);
}

TEST_F(LogConfigTest, MissingOrThrowingReadsKeepDefaultsAndLogNothingTwice) {
    struct CCase {
        std::map<DWORD, std::string> mapValues;
        bool bThrow;
        DWORD dwExpectedLevel;
    };
    const CCase aCases[] = {
        {{}, false, LOG_LEVEL_OFF},
        {{{LOG_SETTING_LEVEL, "1"}, {LOG_SETTING_MODE, "7"}}, false, LOG_LEVEL_ON},
        {{{LOG_SETTING_LEVEL, "1"}}, true, LOG_LEVEL_OFF},
    };
    for (const CCase& c : aCases) {
        g_vCaptured.clear();
        CFakeReader reader;
        reader.m_mapValues = c.mapValues;
        reader.m_mapValues[LOG_SETTING_FOLDER] = m_dir.Path();
        reader.m_bThrow = c.bThrow;
        SetLogSink(&CaptureSink);
        SetLogLevel(LOG_LEVEL_ON);
        EXPECT_NO_THROW(ConfigureLog(reader, m_env));
        EXPECT_EQ(GetLogLevel(), c.dwExpectedLevel);
        // The reader, not the configuration, reports a missing setting.
        for (const std::string& csLine : g_vCaptured)
            EXPECT_EQ(csLine.find("GetSettingFromID"), std::string::npos) << csLine;
        SetLogLevel(LOG_LEVEL_OFF);
    }
}

struct CLevelCase {
    const char* pszName;
    std::optional<std::string> csLevel;
    std::optional<std::string> csMode;
    std::optional<std::string> csSizeKB;
    DWORD dwExpectedLevel;
    PFN_LOG_SINK pfnExpectedSink;
    int32_t nExpectedMaxSize;
    friend void PrintTo(const CLevelCase& c, std::ostream* pOut) { *pOut << c.pszName; }
};

class LogConfigLevelTest : public LogConfigTest, public testing::WithParamInterface<CLevelCase> {};

TEST_P(LogConfigLevelTest, LevelModeAndSizeTakeEffect) {
    const CLevelCase& c = GetParam();
    if (c.csLevel)
        m_reader.m_mapValues[LOG_SETTING_LEVEL] = *c.csLevel;
    if (c.csMode)
        m_reader.m_mapValues[LOG_SETTING_MODE] = *c.csMode;
    if (c.csSizeKB)
        m_reader.m_mapValues[LOG_SETTING_MAX_SIZE_KB] = *c.csSizeKB;
    ASSERT_EQ(GetLogSink(), &LogAppendWriter);
    ConfigureLog(m_reader, m_env);
    EXPECT_EQ(GetLogLevel(), c.dwExpectedLevel);
    EXPECT_EQ(GetLogSink(), c.pfnExpectedSink);
    EXPECT_EQ(GetLogMaxSize(), c.nExpectedMaxSize);
}

constexpr int32_t nDefault = LOG_DEFAULT_MAX_SIZE;
INSTANTIATE_TEST_SUITE_P(
    Settings, LogConfigLevelTest,
    testing::Values(CLevelCase{"OnSharedMemory", "1", "1", "64", 2, &LogSharedMemoryWriter, 65536},
                    CLevelCase{"OnFile", "1", "2", "64", 2, &LogFileWriter, 65536},
                    CLevelCase{"TenKeepsWriterAndSize", "10", "2", "64", 2, &LogAppendWriter, nDefault},
                    CLevelCase{"OffStillChoosesWriter", "0", "2", "64", 0, &LogFileWriter, 65536},
                    CLevelCase{"OtherLevelIsOff", "2", "1", "64", 0, &LogSharedMemoryWriter, 65536},
                    CLevelCase{"AllMissing", std::nullopt, std::nullopt, std::nullopt, 0,
                               &LogSharedMemoryWriter, nDefault},
                    CLevelCase{"OtherModeKeepsWriter", "1", "3", "64", 2, &LogAppendWriter, 65536},
                    CLevelCase{"ZeroSizeKept", "1", "2", "0", 2, &LogFileWriter, nDefault},
                    CLevelCase{"NegativeSizeKept", "1", "2", "-5", 2, &LogFileWriter, nDefault},
                    CLevelCase{"OversizeKept", "1", "2", "3000000", 2, &LogFileWriter, nDefault},
                    CLevelCase{"LargestSize", "1", "2", "2097151", 2, &LogFileWriter, 2097151 * 1024},
                    CLevelCase{"BlanksAroundNumbers", " 1 ", " 2", "32 ", 2, &LogFileWriter, 32768},
                    CLevelCase{"NotNumbersUseDefaults", "on", "two", "big", 0, &LogSharedMemoryWriter,
                               nDefault}),
    [](const testing::TestParamInfo<CLevelCase>& info) { return std::string(info.param.pszName); });

TEST_F(LogConfigTest, PathUnderConfiguredFolderOrSystemFolderOrFallback) {
    struct CCase {
        std::string csFolder; // empty: none configured
        size_t cchSystemRoot; // length of the system log folder (0: the default test one)
        bool bFallback;
    };
    // Under a configured folder the path must stay below 243 characters, under the system folder below 234;
    // "/BrindlemarkLogs/BKCommonLog.log" adds 32.
    const std::string csBase = m_dir.Path() + "/";
    const CCase aCases[] = {
        {"", 0, false},
        {csBase + "logs", 0, false},
        {csBase + std::string(242 - 32 - csBase.size(), 'f'), 0, false},
        {csBase + std::string(243 - 32 - csBase.size(), 'g'), 0, true},
        {std::string(250, 'h'), 0, true},
        {"", 233 - 32, false},
        {"", 234 - 32, true},
    };
    for (const CCase& c : aCases) {
        CFakeReader reader;
        if (!c.csFolder.empty())
            reader.m_mapValues[LOG_SETTING_FOLDER] = c.csFolder;
        m_system.m_csRoot =
            c.cchSystemRoot ? csBase + std::string(c.cchSystemRoot - csBase.size(), 'r') : csBase + "var/log";
        ConfigureLog(reader, m_env);
        std::string csFolder = c.csFolder.empty() ? m_system.m_csRoot : c.csFolder;
        std::string csExpected = csFolder + "/BrindlemarkLogs/BKCommonLog.log";
        if (c.bFallback) {
            EXPECT_EQ(GetLogPath(), "/tmp/LogError.txt") << csExpected.size();
        } else {
            EXPECT_EQ(GetLogPath(), csExpected);
            // The log folder is made when it is missing.
            EXPECT_TRUE(std::filesystem::is_directory(csFolder + "/BrindlemarkLogs")) << csFolder;
        }
        EXPECT_EQ(GetLogLinePrefix(), "[WK_ServiceWorker.so] ");
        EXPECT_FALSE(IsLogProductLog());
    }
}

TEST(LogNameTest, ProductLogNamesAreCleaned) {
    const std::vector<std::string> vReserved = {"AUX", "CON", "NUL", "PRN", "CLOCKS$"};
    const std::string csLong = std::string(200, 'x') + std::string(130, 'y');
    const std::pair<std::string, std::string> aCases[] = {
        {"Sales", "Sales"},
        {"a\\b/c:d\"e?f*g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
        {"con", "BK_con"},
        {"Clocks$", "BK_Clocks$"},
        {"CON.log", "CON.log"},
        {"NULL", "NULL"},
        {"COM1", "BK_COM1"},
        {"lpt9.txt", "BK_lpt9.txt"},
        {"xCOM3", "BK_xCOM3"},
        {"COM12", "COM12"},
        {"COM", "COM"},
        {"COMX_COM1", "COMX_COM1"},
        {"LPT1x", "LPT1x"},
        {"a/COM1", "BK_a_COM1"},
        {std::string(260, 'z'), std::string(260, 'z')},
        {csLong, std::string(130, 'y')},
        {std::string(200, 'x') + "COM1." + std::string(125, ':'), "BK_COM1." + std::string(125, '_')},
    };
    for (const auto& [csName, csExpected] : aCases)
        EXPECT_EQ(CleanProductLogName(csName, vReserved), csExpected) << csName;
    // The list comes from the settings; names not on it are ordinary.
    EXPECT_EQ(CleanProductLogName("AUX", {"PRN"}), "AUX");
    EXPECT_TRUE(IsReservedDeviceName("prn", {}));
}

TEST_F(LogConfigTest, ProductLogNameGivesFileAndPrefix) {
    m_reader.m_mapValues[LOG_SETTING_PRODUCT_NAME] = "Sales|2024";
    ConfigureLog(m_reader, m_env);
    EXPECT_EQ(GetLogPath(), LogFolder() + "Sales_2024");
    EXPECT_EQ(GetLogLinePrefix(), "[WK_ServiceWorker.so] ");
    EXPECT_FALSE(IsLogProductLog());
}

TEST_F(LogConfigTest, ProductLogSwitchNamesTheLogAfterTheModule) {
    const std::pair<const char*, bool> aSwitches[] = {{"1", true},  {"true", true}, {"Y", true},
                                                      {"0", false}, {"", false},    {"no", false}};
    for (const auto& [pszValue, bOn] : aSwitches) {
        SetLogLinePrefix("stale ");
        m_reader.m_mapValues[LOG_SETTING_PRODUCT_LOG] = pszValue;
        m_reader.m_mapValues[LOG_SETTING_PRODUCT_NAME] = "Other";
        ConfigureLog(m_reader, m_env);
        EXPECT_EQ(IsLogProductLog(), bOn) << pszValue;
        EXPECT_EQ(GetLogPath(), LogFolder() + (bOn ? "WK_ServiceWorker.log" : "Other")) << pszValue;
        EXPECT_EQ(GetLogLinePrefix(), bOn ? "" : "[WK_ServiceWorker.so] ") << pszValue;
    }
}

TEST_F(LogConfigTest, ProductLogWritesEvenAForeignSectionAtFlush) {
    const std::string csStem = UniqueName("WKT");
    m_env.csModuleFileName = csStem + ".so";
    m_vSections.push_back("Global\\" + csStem + ".log");
    DWORD dwError = 0;
    auto spForeign = CPlatform::SharedMemory().Create("Global\\" + csStem + ".log", 40000, dwError);
    ASSERT_NE(spForeign, nullptr);
    std::memcpy(spForeign->Data(), HeaderText("100, 100, 20480, 40000").data(), 100);

    m_reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                            {LOG_SETTING_MODE, "1"},
                            {LOG_SETTING_FOLDER, m_dir.Path()},
                            {LOG_SETTING_PRODUCT_LOG, "1"}};
    ConfigureLog(m_reader, m_env);
    LogMessage("[Test] product line");
    EXPECT_FALSE(IsLogSectionCreatedHere());
    FlushLog(true);
    std::string csFile = ReadFile(LogFolder() + csStem + ".log");
    EXPECT_THAT(csFile, testing::EndsWith("[Test] product line "));
}

TEST_F(LogConfigTest, WithoutTheLogModuleNoLockIsSupplied) {
    std::filesystem::create_directories(m_env.csInstallFolder + "bin");
    m_reader.m_mapValues[LOG_SETTING_LEVEL] = "1";
    ConfigureLog(m_reader, m_env);
    EXPECT_EQ(GetLogLock(), nullptr);
    EXPECT_EQ(GetLogLevel(), LOG_LEVEL_ON);
}

// A log module seen through the platform: records where it was looked for and what its exports were given.
struct CLockRequest {
    std::string csExport;
    std::string csName;
    DWORD dwOption;
};
std::vector<CLockRequest> g_vLockRequests;
BOOL g_bGrantLock = TRUE;
CCritSec g_fakeLock;

BOOL FakeGetProductCS(const char* pszName, CSync** ppLock, DWORD dwOption) {
    g_vLockRequests.push_back({"GetProductCS", pszName, dwOption});
    *ppLock = g_bGrantLock ? &g_fakeLock : nullptr;
    return g_bGrantLock;
}
BOOL FakeGetGeneralCS(CSync** ppLock, DWORD dwOption) {
    g_vLockRequests.push_back({"GetGeneralCS", "", dwOption});
    *ppLock = g_bGrantLock ? &g_fakeLock : nullptr;
    return g_bGrantLock;
}

class CFakeModules : public IModules {
public:
    std::vector<std::string> m_vLoads;
    std::string m_csLoadablePath; // the one path that loads
    int m_nFrees = 0;
    bool GetModulePathOf(const void* p, std::string& cs) override {
        return PosixModules().GetModulePathOf(p, cs);
    }
    bool FindLoadedModule(const std::string&, std::string&) override { return false; }
    void* LoadLibrary(const std::string& csPath, DWORD& dwError) override {
        m_vLoads.push_back(csPath);
        dwError = csPath == m_csLoadablePath ? ERROR_SUCCESS : ERROR_MOD_NOT_FOUND;
        return csPath == m_csLoadablePath ? this : nullptr;
    }
    void* GetProcAddress(void* hModule, const char* pszName) override {
        if (hModule != this)
            return nullptr;
        if (std::string(pszName) == "GetProductCS")
            return reinterpret_cast<void*>(&FakeGetProductCS);
        if (std::string(pszName) == "GetGeneralCS")
            return reinterpret_cast<void*>(&FakeGetGeneralCS);
        return nullptr;
    }
    void FreeLibrary(void*) override { ++m_nFrees; }
    std::string LibraryFileName(const std::string& cs) override { return "lib" + cs + ".so"; }
};

TEST_F(LogConfigTest, LockComesFromTheLogModuleWithTheChosenNameAndOption) {
    struct CCase {
        std::map<DWORD, std::string> mapValues;
        bool bInstallHasModule;
        std::vector<std::string> vExpectedLoads; // relative to the install folder when starting with "bin/"
        std::string csExport;
        std::string csName;
        DWORD dwOption;
        BOOL bGrant = TRUE;
    };
    const CCase aCases[] = {
        {{}, true, {"bin/libLogModule.so"}, "GetGeneralCS", "", 1},
        {{{LOG_SETTING_LOCK_OPTION, "7"}}, true, {"bin/libLogModule.so"}, "GetGeneralCS", "", 7},
        {{{LOG_SETTING_PRODUCT_NAME, "a:b"}, {LOG_SETTING_LOCK_OPTION, "0"}},
         true,
         {"bin/libLogModule.so"},
         "GetProductCS",
         "a_b",
         0},
        {{{LOG_SETTING_PRODUCT_LOG, "1"}, {LOG_SETTING_PRODUCT_NAME, "a"}},
         false,
         {"bin/libLogModule.so", "libLogModule.so"},
         "GetProductCS",
         "WK_ServiceWorker.log",
         1},
        // A refused lock leaves the writers with the in-process lock.
        {{}, true, {"bin/libLogModule.so"}, "GetGeneralCS", "", 1, FALSE},
    };
    for (const CCase& c : aCases) {
        CFakeModules modules;
        modules.m_csLoadablePath =
            c.bInstallHasModule ? m_env.csInstallFolder + "bin/libLogModule.so" : "libLogModule.so";
        CPlatform::SetModules(&modules);
        g_vLockRequests.clear();
        g_bGrantLock = c.bGrant;
        CFakeReader reader;
        reader.m_mapValues = c.mapValues;
        reader.m_mapValues[LOG_SETTING_FOLDER] = m_dir.Path();
        ConfigureLog(reader, m_env);
        std::vector<std::string> vExpectedLoads;
        for (const std::string& cs : c.vExpectedLoads)
            vExpectedLoads.push_back(cs.rfind("bin/", 0) == 0 ? m_env.csInstallFolder + cs : cs);
        EXPECT_EQ(modules.m_vLoads, vExpectedLoads);
        ASSERT_EQ(g_vLockRequests.size(), 1u);
        EXPECT_EQ(g_vLockRequests[0].csExport, c.csExport);
        EXPECT_EQ(g_vLockRequests[0].csName, c.csName);
        EXPECT_EQ(g_vLockRequests[0].dwOption, c.dwOption);
        EXPECT_EQ(GetLogLock(), c.bGrant ? &g_fakeLock : nullptr);

        // A reload keeps the loaded module.
        ConfigureLog(reader, m_env);
        EXPECT_EQ(modules.m_vLoads.size(), vExpectedLoads.size());
        UnloadLogModule();
        EXPECT_EQ(modules.m_nFrees, 1);
        EXPECT_EQ(GetLogLock(), nullptr);
        CPlatform::SetModules(nullptr);
    }
}

TEST_F(LogConfigTest, ReloadWithANewPathWritesTheOldSectionToItsFile) {
    const std::string csFirst = UniqueName("WKFirst");
    const std::string csSecond = UniqueName("WKSecond");
    m_reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                            {LOG_SETTING_MODE, "1"},
                            {LOG_SETTING_MAX_SIZE_KB, "64"},
                            {LOG_SETTING_FOLDER, m_dir.Path()},
                            {LOG_SETTING_PRODUCT_NAME, csFirst}};
    ConfigureLog(m_reader, m_env);
    LogMessage("[Test] into the first");
    EXPECT_FALSE(FileExists(LogFolder() + csFirst));

    m_reader.m_mapValues[LOG_SETTING_PRODUCT_NAME] = csSecond;
    ConfigureLog(m_reader, m_env);
    EXPECT_THAT(ReadFile(LogFolder() + csFirst), testing::EndsWith("[Test] into the first "));
    LogMessage("[Test] into the second");
    EXPECT_THAT(ReadSection("Global\\" + csSecond), HasSubstr("[Test] into the second "));
    EXPECT_THAT(ReadSection("Global\\" + csFirst), testing::Not(HasSubstr("second")));
}

} // namespace
