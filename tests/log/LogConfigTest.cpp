// Configuration of the log from the settings: level, writer, size, file name, folder and lock.

#include "LogTestSupport.h"

#include "platform/posix/PosixServices.h"
#include "tests/TableFile.h"

#include <gmock/gmock.h>

#include <cstring>

using namespace logtest;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

class LogConfigTest : public CLogTest {
protected:
    void SetUp() override {
        m_system.m_optLogRoot = m_log.Dir() + "/var/log";
        CPlatform::SetSystem(&m_system);
        m_env.csInstallFolder = m_log.Dir() + "/install/";
        m_env.csModuleFileName = "WK_ServiceWorker.so";
        m_env.vReservedNames = {"AUX", "CON", "NUL", "PRN", "CLOCKS$"};
        m_reader.m_mapValues[LOG_SETTING_FOLDER] = m_log.Dir();
    }
    std::string LogFolder() const { return m_log.Dir() + "/BrindlemarkLogs/"; }
    // The test's own log name without its extension: its section is the test's.
    std::string Stem() const { return std::filesystem::path(m_log.Path()).stem().string(); }

    CFakeSystem m_system;
    CLogEnvironment m_env;
    CMapReader m_reader;
};

// Each setting is read in the general section; logging is off while the file and the lock change, after the
// level, mode and size were read.
TEST_F(LogConfigTest, ReadsEachLogSettingInTheGeneralSectionWithLoggingOffWhileFileAndLockChange) {
    m_reader.m_mapValues[LOG_SETTING_LEVEL] = "1";
    SetLogLevel(LOG_LEVEL_ON);
    EXPECT_TRUE(ConfigureLog(m_reader, m_env));
    std::vector<DWORD> vIds;
    for (const CMapReader::CRead& read : m_reader.m_vReads) {
        vIds.push_back(read.dwId);
        EXPECT_EQ(read.dwGroup, 0xFFFFFFFFu);
        EXPECT_EQ(read.dwLevelDuringRead, read.dwId == 14 || read.dwId == 12 || read.dwId == 13 ? 2u : 0u);
    }
    EXPECT_THAT(vIds, ElementsAre(14, 12, 13, 39, 75, 23, 76));
}

// Missing settings keep their defaults and a reader that throws counts as missing; the reader, not the
// configuration, reports a missing setting.
TEST_F(LogConfigTest, MissingOrThrowingReadsKeepDefaultsAndLogNothingTwice) {
    for (bool bThrow : {false, true}) {
        g_vCaptured.clear();
        CMapReader reader;
        reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"}, {LOG_SETTING_MODE, "7"}};
        reader.m_bThrow = bThrow;
        SetLogSink(&CaptureSink);
        SetLogLevel(LOG_LEVEL_ON);
        EXPECT_NO_THROW(ConfigureLog(reader, m_env));
        EXPECT_EQ(GetLogLevel(), bThrow ? LOG_LEVEL_OFF : LOG_LEVEL_ON);
        for (const std::string& csLine : g_vCaptured)
            EXPECT_EQ(csLine.find("GetSettingFromID"), std::string::npos) << csLine;
        SetLogLevel(LOG_LEVEL_OFF);
    }
}

class LogConfigLevelTest : public LogConfigTest, public testing::WithParamInterface<tabletest::TRow> {};

TEST_P(LogConfigLevelTest, LevelModeAndSizeTakeEffect) {
    const tabletest::TRow& c = GetParam();
    for (auto [dwId, nField] : {std::pair(LOG_SETTING_LEVEL, 1), std::pair(LOG_SETTING_MODE, 2),
                                std::pair(LOG_SETTING_MAX_SIZE_KB, 3)})
        if (c[nField] != "-")
            m_reader.m_mapValues[dwId] = c[nField];
    ASSERT_EQ(GetLogSink(), &LogAppendWriter);
    ConfigureLog(m_reader, m_env);
    EXPECT_EQ(GetLogLevel(), std::stoul(c[4]));
    const std::map<std::string, PFN_LOG_SINK> mapSinks = {
        {"shm", &LogSharedMemoryWriter}, {"file", &LogFileWriter}, {"append", &LogAppendWriter}};
    EXPECT_EQ(GetLogSink(), mapSinks.at(c[5]));
    EXPECT_EQ(GetLogMaxSize(), c[6] == "default" ? LOG_DEFAULT_MAX_SIZE : std::stoi(c[6]));
}

INSTANTIATE_TEST_SUITE_P(Settings, LogConfigLevelTest,
                         testing::ValuesIn(tabletest::ReadTable("log/level-settings.txt")),
                         tabletest::RowName);

TEST_F(LogConfigTest, PathUnderConfiguredFolderOrSystemFolderOrFallback) {
    struct CCase {
        std::string csFolder; // empty: none configured
        size_t cchSystemRoot; // length of the system log folder (0: the default test one)
        bool bFallback;
    };
    // Under a configured folder the path must stay below 243 characters, under the system folder below 234;
    // "/BrindlemarkLogs/BKCommonLog.log" adds 32.
    const std::string csBase = m_log.Dir() + "/";
    const CCase aCases[] = {{"", 0, false},
                            {csBase + "logs", 0, false},
                            {csBase + std::string(242 - 32 - csBase.size(), 'f'), 0, false},
                            {csBase + std::string(243 - 32 - csBase.size(), 'g'), 0, true},
                            {std::string(250, 'h'), 0, true},
                            {"", 233 - 32, false},
                            {"", 234 - 32, true}};
    for (const CCase& c : aCases) {
        CMapReader reader;
        if (!c.csFolder.empty())
            reader.m_mapValues[LOG_SETTING_FOLDER] = c.csFolder;
        m_system.m_optLogRoot =
            c.cchSystemRoot ? csBase + std::string(c.cchSystemRoot - csBase.size(), 'r') : csBase + "var/log";
        ConfigureLog(reader, m_env);
        std::string csFolder = c.csFolder.empty() ? *m_system.m_optLogRoot : c.csFolder;
        std::string csExpected = csFolder + "/BrindlemarkLogs/BKCommonLog.log";
        if (c.bFallback) {
            EXPECT_EQ(GetLogPath(), "/tmp/LogError.txt") << csExpected.size();
        } else {
            EXPECT_EQ(GetLogPath(), csExpected);
            // The log folder is made when it is missing.
            EXPECT_TRUE(std::filesystem::is_directory(csFolder + "/BrindlemarkLogs")) << csFolder;
        }
    }
}

TEST(LogNameTest, ProductLogNamesAreCleaned) {
    const std::vector<std::string> vReserved = {"AUX", "CON", "NUL", "PRN", "CLOCKS$"};
    for (const tabletest::TRow& row : tabletest::ReadTable("log/product-log-names.txt"))
        EXPECT_EQ(CleanProductLogName(tabletest::Bytes(row[0]), vReserved), row.at(1)) << row[0];
    // The list comes from the settings; names not on it are ordinary.
    EXPECT_EQ(CleanProductLogName("AUX", {"PRN"}), "AUX");
    EXPECT_TRUE(IsReservedDeviceName("prn", {}));
}

// Without the switch the product log name, cleaned, names the file; with it the module's name does.
TEST_F(LogConfigTest, ProductLogSwitchNamesTheLogAfterTheModule) {
    const std::pair<const char*, bool> aSwitches[] = {{"1", true},  {"true", true}, {"Y", true},
                                                      {"0", false}, {"", false},    {"no", false}};
    for (const auto& [pszValue, bOn] : aSwitches) {
        SetLogLinePrefix("stale ");
        m_reader.m_mapValues[LOG_SETTING_PRODUCT_LOG] = pszValue;
        m_reader.m_mapValues[LOG_SETTING_PRODUCT_NAME] = "Other|2024";
        ConfigureLog(m_reader, m_env);
        EXPECT_EQ(IsLogProductLog(), bOn) << pszValue;
        EXPECT_EQ(GetLogPath(), LogFolder() + (bOn ? "WK_ServiceWorker.log" : "Other_2024")) << pszValue;
        EXPECT_EQ(GetLogLinePrefix(), bOn ? "" : "[WK_ServiceWorker.so] ") << pszValue;
    }
}

// The product log writes its section to the file at flush even when another process created it.
TEST_F(LogConfigTest, ProductLogWritesEvenAForeignSectionAtFlush) {
    m_env.csModuleFileName = Stem() + ".so";
    DWORD dwError = 0;
    auto spForeign = CPlatform::SharedMemory().Create(m_log.Section(), 40000, dwError);
    ASSERT_NE(spForeign, nullptr);
    std::memcpy(spForeign->Data(), HeaderText("100, 100, 20480, 40000").data(), 100);
    m_reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                            {LOG_SETTING_MODE, "1"},
                            {LOG_SETTING_FOLDER, m_log.Dir()},
                            {LOG_SETTING_PRODUCT_LOG, "1"}};
    ConfigureLog(m_reader, m_env);
    LogMessage("[Test] product line");
    EXPECT_FALSE(IsLogSectionCreatedHere());
    FlushLog(true);
    EXPECT_THAT(ReadFile(LogFolder() + Stem() + ".log"), testing::EndsWith("[Test] product line "));
}

TEST_F(LogConfigTest, LockComesFromTheLogModuleWithTheChosenNameAndOption) {
    const std::string csInBin = m_env.csInstallFolder + "bin/libLogModule.so";
    for (const tabletest::TRow& c : tabletest::ReadTable("log/lock-requests.txt")) {
        SCOPED_TRACE(c[0]);
        const bool bInstallHasModule = c.at(2) == "install", bGrant = c.at(4) == "yes";
        CFakeModules modules;
        LoadableLogModule(modules, bInstallHasModule ? csInBin : "libLogModule.so");
        CPlatform::SetModules(&modules);
        g_vLockRequests.clear();
        g_bGrantLock = bGrant;
        CMapReader reader;
        std::istringstream settings(c[1] == "-" ? "" : c[1]);
        for (std::string csSetting; settings >> csSetting;)
            reader.m_mapValues[std::stoul(csSetting)] = csSetting.substr(csSetting.find('=') + 1);
        reader.m_mapValues[LOG_SETTING_FOLDER] = m_log.Dir();
        ConfigureLog(reader, m_env);
        // The installation's bin folder first, then the library search path.
        std::vector<std::string> vExpectedLoads = {csInBin};
        if (!bInstallHasModule)
            vExpectedLoads.push_back("libLogModule.so");
        EXPECT_EQ(modules.m_vLoads, vExpectedLoads);
        EXPECT_THAT(g_vLockRequests, ElementsAre(c.at(3)));
        EXPECT_EQ(GetLogLock(), bGrant ? &g_fakeLock : nullptr);

        // A reload keeps the loaded module.
        ConfigureLog(reader, m_env);
        EXPECT_EQ(modules.m_vLoads, vExpectedLoads);
        UnloadLogModule();
        EXPECT_EQ(modules.m_nFrees, 1);
        EXPECT_EQ(GetLogLock(), nullptr);
        CPlatform::SetModules(nullptr);
    }
}

TEST_F(LogConfigTest, ReloadWithANewPathWritesTheOldSectionToItsFile) {
    const std::string csFirst = Stem() + ".log";
    const std::string csSecond = Stem() + "_second.log";
    m_reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                            {LOG_SETTING_MODE, "1"},
                            {LOG_SETTING_MAX_SIZE_KB, "64"},
                            {LOG_SETTING_FOLDER, m_log.Dir()},
                            {LOG_SETTING_PRODUCT_NAME, csFirst}};
    ConfigureLog(m_reader, m_env);
    LogMessage("[Test] into the first");
    EXPECT_FALSE(std::filesystem::exists(LogFolder() + csFirst));

    m_reader.m_mapValues[LOG_SETTING_PRODUCT_NAME] = csSecond;
    ConfigureLog(m_reader, m_env);
    EXPECT_THAT(ReadFile(LogFolder() + csFirst), testing::EndsWith("[Test] into the first "));
    LogMessage("[Test] into the second");
    EXPECT_THAT(ReadSection("Global\\" + csSecond), HasSubstr("[Test] into the second "));
    EXPECT_THAT(ReadSection(m_log.Section()), testing::Not(HasSubstr("second")));
    FlushLog(true);
    CPlatform::SharedMemory().Unlink("Global\\" + csSecond);
}

} // namespace
