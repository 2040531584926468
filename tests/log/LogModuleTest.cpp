// The log module: its locks, and the log writers of several processes serialised by them.

#include "LogTestSupport.h"

#include "log/LogModuleAbi.h"
#include "platform/CSync.h"

#include <gmock/gmock.h>

#include <dlfcn.h>

#include <cstdlib>
#include <set>
#include <thread>

using namespace logtest;

namespace {

// An installation whose bin folder holds the built log module, with lock files under the test folder.
class LogModuleTest : public CLogTest {
protected:
    void SetUp() override {
        m_csInstall = m_log.Dir() + "/install/";
        std::filesystem::create_directories(m_csInstall + "bin");
        std::filesystem::create_symlink(WK_LOGMODULE_PATH, m_csInstall + "bin/libLogModule.so");
        std::filesystem::create_directories(m_log.Dir() + "/locks");
        ::setenv("WK_LOGMODULE_LOCK_DIR", (m_log.Dir() + "/locks").c_str(), 1);
        // The product log's section is the test's own.
        m_csProduct = std::filesystem::path(m_log.Path()).filename().string();
        m_env.csInstallFolder = m_csInstall;
        m_env.csModuleFileName = "WK_ServiceWorker.so";
        m_reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                                {LOG_SETTING_MODE, "1"},
                                {LOG_SETTING_MAX_SIZE_KB, "1024"},
                                {LOG_SETTING_FOLDER, m_log.Dir()},
                                {LOG_SETTING_PRODUCT_NAME, m_csProduct}};
    }
    // The probe's verdict on taking the lock from another process: 0 taken, 1 busy.
    int ProbeTryLock(const std::string& csName) { return RunProbe({"trylock", WK_LOGMODULE_PATH, csName}); }

    std::string m_csInstall;
    std::string m_csProduct;
    CLogEnvironment m_env;
    CMapReader m_reader;
};

// A product log takes its own lock, the common log the general one: held here, another process cannot take
// it, but can take another log's. Without the module the lock is gone and logging goes on.
TEST_F(LogModuleTest, LockExcludesOtherProcessesUntilUnload) {
    for (bool bProduct : {false, true}) {
        if (bProduct)
            m_reader.m_mapValues[LOG_SETTING_PRODUCT_NAME] = m_csProduct;
        else
            m_reader.m_mapValues.erase(LOG_SETTING_PRODUCT_NAME);
        const std::string csOwn = bProduct ? m_csProduct : "-";
        const std::string csOther = bProduct ? m_csProduct + "_other" : m_csProduct;
        ConfigureLog(m_reader, m_env);
        CSync* pLock = GetLogLock();
        ASSERT_NE(pLock, nullptr);
        EXPECT_EQ(ProbeTryLock(csOwn), 0);
        pLock->Lock();
        EXPECT_TRUE(pLock->IsLocked());
        EXPECT_EQ(ProbeTryLock(csOwn), 1);
        EXPECT_EQ(ProbeTryLock(csOther), 0);
        pLock->Unlock();
        EXPECT_EQ(ProbeTryLock(csOwn), 0);
        UnloadLogModule();
        EXPECT_EQ(GetLogLock(), nullptr);
    }
    LogMessage("[Test] after unload");
    EXPECT_THAT(ReadSection(m_log.Section()), testing::HasSubstr("[Test] after unload "));
}

TEST_F(LogModuleTest, ProcessesAndThreadsWriteWholeLines) {
    ConfigureLog(m_reader, m_env);
    ASSERT_NE(GetLogLock(), nullptr);
    constexpr int nProbeLines = 300;
    constexpr int nThreadLines = 150;
    std::vector<FILE*> vProbes;
    for (const char* pszTag : {"A", "B"})
        vProbes.push_back(StartProbe(
            {"configure-write", m_csInstall, m_log.Dir(), m_csProduct, std::to_string(nProbeLines), pszTag}));
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 3; ++t)
        vThreads.emplace_back([t] {
            for (int i = 0; i < nThreadLines; ++i)
                LogMessage("parent %d line %d", t, i);
        });
    for (std::thread& thread : vThreads)
        thread.join();
    for (FILE* pProbe : vProbes)
        EXPECT_EQ(EndProbe(pProbe), 0);

    std::string csView = ReadSection(m_log.Section());
    ASSERT_GT(csView.size(), 100u);
    const std::string csText = EntriesOf(csView);
    std::map<std::string, std::set<int>> mapSeen;
    for (const std::smatch& entry :
         WholeEntries(csText, R"(\[WK_ServiceWorker\.so\] (probe \w|parent \d) line (\d+) )"))
        mapSeen[entry[1]].insert(std::stoi(entry[2]));
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

    CSync *pFirst = nullptr, *pAgain = nullptr, *pOther = nullptr, *pGeneral = nullptr;
    EXPECT_TRUE(pfnProduct("Sales", &pFirst, 1));
    EXPECT_TRUE(pfnProduct("Sales", &pAgain, 1));
    EXPECT_TRUE(pfnProduct("Sales/../..", &pOther, 1));
    EXPECT_TRUE(pfnGeneral(&pGeneral, 1));
    EXPECT_NE(pFirst, nullptr);
    EXPECT_EQ(pFirst, pAgain);
    EXPECT_NE(pFirst, pOther);
    EXPECT_NE(pFirst, pGeneral);
    // Whatever the name, the lock file stays in the lock folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_log.Dir() + "/locks"),
                            std::filesystem::directory_iterator()),
              3);

    CSync* pNone = reinterpret_cast<CSync*>(0x1);
    EXPECT_FALSE(pfnProduct(nullptr, &pNone, 1));
    EXPECT_EQ(pNone, nullptr);
    EXPECT_FALSE(pfnProduct("", &pNone, 1));
    EXPECT_FALSE(pfnProduct("Sales", nullptr, 1));
    EXPECT_FALSE(pfnGeneral(nullptr, 1));

    // A lock folder that cannot be written gives no lock rather than one that serialises nothing.
    ::setenv("WK_LOGMODULE_LOCK_DIR", (m_log.Dir() + "/no/such/folder").c_str(), 1);
    EXPECT_FALSE(pfnProduct("Elsewhere", &pNone, 1));
    EXPECT_EQ(pNone, nullptr);
    ::dlclose(hModule);
}

} // namespace
