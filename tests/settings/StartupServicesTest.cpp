// The optional cookie library and the caches at start-up: what is missing is logged, and only the caches
// can fail the initialisation.
#include "platform/CPlatform.h"
#include "settings/CRSALoader.h"
#include "tests/TableFile.h"
#include "tests/directory/CacheTestSupport.h"
#include "tests/filter/PlatformDoubles.h"
#include "tests/settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace {

TEST(RSALoader, AvailableOnlyWithTheLibraryAndAllFiveEntryPoints) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/rsa-loads.txt")) {
        SCOPED_TRACE(row.at(0));
        CLogCapture log;
        CFakeModules modules;
        modules.m_bLoadsAny = row.at(1) == "1";
        std::istringstream exports(row.at(2) == "all" ? "BK_RSACookieInitializeFilt BK_RSAGetUserName "
                                                        "BK_RSAGetLastError BK_RSAFreeMemory "
                                                        "BK_RSACookieInitializeExtNoMFC"
                                                      : row.at(2));
        for (std::istream_iterator<std::string> it(exports); it != std::istream_iterator<std::string>(); ++it)
            modules.m_mapExports[*it] = &modules;
        CPlatform::SetModules(&modules);
        {
            CRSALoader loader;
            EXPECT_EQ(loader.Load(), tabletest::Number(row.at(3)));
            EXPECT_EQ(loader.IsAvailable(), row.at(3) == "0");
            EXPECT_EQ(modules.m_vLoads, std::vector<std::string>{"libBK_RSALoad64.so"});
            for (size_t n = 4; n < row.size(); ++n)
                EXPECT_TRUE(log.Contains(tabletest::Bytes(row.at(n)))) << row.at(n);
            // A second load releases the first.
            loader.Load();
            EXPECT_EQ(modules.m_nFrees, modules.m_bLoadsAny ? 1 : 0);
        }
        EXPECT_EQ(modules.m_nFrees, modules.m_bLoadsAny ? 2 : 0) << "freed with the loader";
        CPlatform::SetModules(nullptr);
    }
}

class StartupCaches : public CInstallationTest {
protected:
    void SetUp() override {
        CInstallationTest::SetUp();
        CPlatform::SetCacheComponents(&m_caches);
    }
    void TearDown() override {
        CPlatform::SetCacheComponents(nullptr);
        CInstallationTest::TearDown();
    }
    static DWORD Init(CWKGeneralSettings& settings) {
        const DWORD dwResult = InitProductSettings(settings);
        settings.Terminate();
        return dwResult;
    }

    // The caches asked for, as name, maximum and lifetime.
    std::vector<std::string> Created() const {
        std::vector<std::string> v;
        for (const std::string& csCall : m_caches.m_vCalls)
            if (csCall.rfind("CreateCache ", 0) == 0)
                v.push_back(csCall.substr(12));
        return v;
    }

    cachetest::CFakeComponents m_caches;
};

TEST_F(StartupCaches, MissingOrBrokenCacheSettingsFallBackToTheStatedDefaults) {
    // The items are removed from the general section: the readers fall back to their defaults.
    for (int nId : {16, 17, 62, 65})
        SetSetting(nId, nullptr);

    CWKGeneralSettings settings;
    ASSERT_EQ(Init(settings), 1u);
    EXPECT_EQ(Created(), (std::vector<std::string>{"HiddenMessage 3000 30", "ADUserConfig 3000 30",
                                                   "CommonFolderID 3000 30", "RecipientSmtp 3000 30"}));
    for (const char* pszLine :
         {"CCoreGeneralSettings::Init could find ID_MAX_CACHE_ITEMS use 3000 as default",
          "CCoreGeneralSettings::Init could find ID_CACHE_LIFETIME use 30 minutes as default",
          "[CSWGeneralSettings::InitializeCommonFolderIdCache] could find ID_COMMONFOLDERID_MAX_CACHE_ITEMS "
          "(62) use "
          "3000 as default",
          "[CSWGeneralSettings::InitializeRecipientSmtpCache] could find ID_COMMONFOLDERID_CACHE_LIFETIME "
          "(65) use 30 "
          "minutes as default",
          "GetSettingFromID string failed ID 16, Criteria 0"})
        EXPECT_TRUE(m_log.Contains(pszLine)) << pszLine;
    EXPECT_EQ(m_log.Count("CCoreGeneralSettings::Init could find"), 2u);
}

TEST_F(StartupCaches, ACacheThatCannotBeMadeFailsTheInitialisation) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/cache-failures.txt")) {
        SCOPED_TRACE(row.at(3));
        m_caches = cachetest::CFakeComponents();
        m_caches.m_hrCreate = row.at(0) == "1" ? S_OK : static_cast<HRESULT>(0x80004002);
        m_caches.m_csFailingCall = "CreateCache " + row.at(1) + " ";
        m_log.Clear();
        CWKGeneralSettings settings;
        EXPECT_EQ(Init(settings), 0u);
        EXPECT_EQ(Created().size(), static_cast<size_t>(tabletest::Number(row.at(2))));
        EXPECT_TRUE(m_log.Contains(row.at(3)));
        EXPECT_TRUE(m_log.Contains("[CWKGeneralSettings::Init] CGeneralSettings::Init() failed."));
    }
}

} // namespace
