// The log module: its locks, and the log writers of several processes serialised by them.

#include "LogTestSupport.h"

#include "filter/log/LogConfig.h"
#include "filter/log/LogModuleAbi.h"
#include "platform/CSync.h"

#include <gmock/gmock.h>

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <set>
#include <thread>

using namespace logtest;

namespace {

class CMapReader : public ILogSettingsReader {
public:
    std::map<DWORD, std::string> m_mapValues;
    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD) override {
        auto it = m_mapValues.find(dwId);
        if (it == m_mapValues.end())
            return false;
        csValue = it->second;
        return true;
    }
};

// An installation whose bin folder holds the built log module, with lock files under the test folder.
class LogModuleTest : public testing::Test {
protected:
    void SetUp() override {
        m_csInstall = m_dir.Path() + "/install/";
        std::filesystem::create_directories(m_csInstall + "bin");
        std::filesystem::create_symlink(WK_LOGMODULE_PATH, m_csInstall + "bin/libLogModule.so");
        std::filesystem::create_directories(m_dir.Path() + "/locks");
        ::setenv("WK_LOGMODULE_LOCK_DIR", (m_dir.Path() + "/locks").c_str(), 1);
        m_csProduct = "WKMod_" + std::to_string(::getpid()) + "_" + TestName();
        m_env.csInstallFolder = m_csInstall;
        m_env.csModuleFileName = "WK_ServiceWorker.so";
        m_reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                                {LOG_SETTING_MODE, "1"},
                                {LOG_SETTING_MAX_SIZE_KB, "1024"},
                                {LOG_SETTING_FOLDER, m_dir.Path()},
                                {LOG_SETTING_PRODUCT_NAME, m_csProduct}};
    }
    void TearDown() override {
        SetLogLevel(LOG_LEVEL_OFF);
        FlushLog(true);
        UnloadLogModule();
        CPlatform::SharedMemory().Unlink("Global\\" + m_csProduct);
    }
    // The probe's verdict on taking the lock from another process: 0 taken, 1 busy.
    int ProbeTryLock(const std::string& csName) { return RunProbe({"trylock", WK_LOGMODULE_PATH, csName}); }

    CTempDir m_dir;
    std::string m_csInstall;
    std::string m_csProduct;
    CLogEnvironment m_env;
    CMapReader m_reader;
};

TEST_F(LogModuleTest, ProductLogLockExcludesOtherProcesses) {
    ConfigureLog(m_reader, m_env);
    CSync* pLock = GetLogLock();
    ASSERT_NE(pLock, nullptr);
    EXPECT_EQ(ProbeTryLock(m_csProduct), 0);
    pLock->Lock();
    EXPECT_TRUE(pLock->IsLocked());
    EXPECT_EQ(ProbeTryLock(m_csProduct), 1);
    // Another log's lock is not this one.
    EXPECT_EQ(ProbeTryLock(m_csProduct + "_other"), 0);
    pLock->Unlock();
    EXPECT_EQ(ProbeTryLock(m_csProduct), 0);
}

TEST_F(LogModuleTest, CommonLogUsesTheGeneralLock) {
    m_reader.m_mapValues.erase(LOG_SETTING_PRODUCT_NAME);
    ConfigureLog(m_reader, m_env);
    CSync* pLock = GetLogLock();
    ASSERT_NE(pLock, nullptr);
    CAutoLock hold(*pLock);
    EXPECT_EQ(ProbeTryLock("-"), 1);
    EXPECT_EQ(ProbeTryLock(m_csProduct), 0);
}

TEST_F(LogModuleTest, UnloadDropsTheLockAndLoggingGoesOn) {
    ConfigureLog(m_reader, m_env);
    ASSERT_NE(GetLogLock(), nullptr);
    UnloadLogModule();
    EXPECT_EQ(GetLogLock(), nullptr);
    LogMessage("[Test] after unload");
    EXPECT_THAT(ReadSection("Global\\" + m_csProduct), testing::HasSubstr("[Test] after unload "));
}

TEST_F(LogModuleTest, ProcessesAndThreadsWriteWholeLines) {
    ConfigureLog(m_reader, m_env);
    ASSERT_NE(GetLogLock(), nullptr);
    constexpr int nProbeLines = 300;
    constexpr int nThreadLines = 150;
    const std::string csOut = m_dir.Path() + "/probe.out";
    std::vector<pid_t> vProbes;
    for (const char* pszTag : {"A", "B"})
        vProbes.push_back(SpawnProbe(
            {"configure-write", m_csInstall, m_dir.Path(), m_csProduct, std::to_string(nProbeLines), pszTag},
            csOut));
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 3; ++t)
        vThreads.emplace_back([t] {
            for (int i = 0; i < nThreadLines; ++i)
                LogMessage("parent %d line %d", t, i);
        });
    for (std::thread& thread : vThreads)
        thread.join();
    for (pid_t pid : vProbes)
        EXPECT_EQ(WaitProbe(pid), 0);

    std::string csView = ReadSection("Global\\" + m_csProduct);
    ASSERT_GT(csView.size(), 100u);
    std::string csText = csView.substr(100, csView.find('\0') - 100);
    std::regex line(TimeStampPattern() +
                    R"(\[WK_ServiceWorker\.so\] (probe (\w) line (\d+)|parent (\d) line (\d+)) )");
    std::map<std::string, std::set<int>> mapSeen;
    size_t nConsumed = 0;
    for (auto it = std::sregex_iterator(csText.begin(), csText.end(), line); it != std::sregex_iterator();
         ++it) {
        ASSERT_EQ(static_cast<size_t>(it->position()), nConsumed) << "garbled text before " << it->str();
        nConsumed += it->length();
        if ((*it)[2].matched)
            mapSeen["probe " + (*it)[2].str()].insert(std::stoi((*it)[3]));
        else
            mapSeen["parent " + (*it)[4].str()].insert(std::stoi((*it)[5]));
    }
    EXPECT_EQ(nConsumed, csText.size());
    ASSERT_EQ(mapSeen.size(), 5u);
    for (const auto& [csWriter, setLines] : mapSeen)
        EXPECT_EQ(setLines.size(), static_cast<size_t>(csWriter[1] == 'r' ? nProbeLines : nThreadLines))
            << csWriter;
    EXPECT_EQ(ParseHeader(csView).nNext, static_cast<int>(csView.find('\0')));
}

// The exports themselves, loaded as the worker loads them.
TEST_F(LogModuleTest, ExportsHandOutOneLockPerName) {
    void* hModule = ::dlopen(WK_LOGMODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(hModule, nullptr);
    auto pfnProduct = reinterpret_cast<PFN_GET_PRODUCT_CS>(::dlsym(hModule, LOG_MODULE_GET_PRODUCT_CS));
    auto pfnGeneral = reinterpret_cast<PFN_GET_GENERAL_CS>(::dlsym(hModule, LOG_MODULE_GET_GENERAL_CS));
    ASSERT_NE(pfnProduct, nullptr);
    ASSERT_NE(pfnGeneral, nullptr);

    CSync* pFirst = nullptr;
    CSync* pAgain = nullptr;
    CSync* pOther = nullptr;
    CSync* pGeneral = nullptr;
    EXPECT_TRUE(pfnProduct("Sales", &pFirst, 1));
    EXPECT_TRUE(pfnProduct("Sales", &pAgain, 1));
    EXPECT_TRUE(pfnProduct("Sales/../..", &pOther, 1));
    EXPECT_TRUE(pfnGeneral(&pGeneral, 1));
    EXPECT_NE(pFirst, nullptr);
    EXPECT_EQ(pFirst, pAgain);
    EXPECT_NE(pFirst, pOther);
    EXPECT_NE(pFirst, pGeneral);
    // Whatever the name, the lock file stays in the lock folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path() + "/locks"),
                            std::filesystem::directory_iterator()),
              3);

    CSync* pNone = reinterpret_cast<CSync*>(0x1);
    EXPECT_FALSE(pfnProduct(nullptr, &pNone, 1));
    EXPECT_EQ(pNone, nullptr);
    EXPECT_FALSE(pfnProduct("", &pNone, 1));
    EXPECT_FALSE(pfnProduct("Sales", nullptr, 1));
    EXPECT_FALSE(pfnGeneral(nullptr, 1));

    // A lock folder that cannot be written gives no lock rather than one that serialises nothing.
    ::setenv("WK_LOGMODULE_LOCK_DIR", (m_dir.Path() + "/no/such/folder").c_str(), 1);
    EXPECT_FALSE(pfnProduct("Elsewhere", &pNone, 1));
    EXPECT_EQ(pNone, nullptr);
    ::dlclose(hModule);
}

} // namespace
