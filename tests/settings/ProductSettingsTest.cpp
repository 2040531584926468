// What the product's settings make of the installation: browser lists, the no-redirect mode, the machine's
// names, the optional cookie library, the SSL offloading value and the four caches.
#include "platform/CPlatform.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/RegistryFile.h"
#include "tests/TableFile.h"
#include "tests/filter/PlatformDoubles.h"
#include "tests/settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

const std::string DEFAULT_ALLOW_LIST = "Firefox/1.8 IEMAC/5.0 IEWIN/5.0 Mozilla/1.7 Netscape/7.1 Safari/312";

class ProductSettings : public CInstallationTest {};

TEST_F(ProductSettings, SampleInstallationInitialisesCompletely) {
    ASSERT_EQ(InitProductSettings(m_settings), 1u);
    EXPECT_EQ(m_settings.GetKnownBrowsers().size(), 6u);
    EXPECT_EQ(m_settings.GetKnownBrowsers().at("iewin"), "5.0");
    EXPECT_TRUE(m_settings.GetBlockedBrowsers().empty());
    EXPECT_FALSE(m_settings.GetDnsHostName().empty());
    EXPECT_TRUE(m_settings.GetResource().IsLoaded());
    EXPECT_TRUE(m_log.Contains("GetRegistryInfo SSLOffloaded 0"));
    EXPECT_TRUE(m_log.Contains("Load RSA failed with error 126"));
    EXPECT_TRUE(m_log.Contains("Load RSA BK_RSALoad.dll failed with error 126"));
    EXPECT_TRUE(m_log.Contains("General Settings successful initialization "));
    for (CBKCache* pCache : {&m_settings.GetCoreCache(), &m_settings.GetADUserConfigCache(),
                             &m_settings.GetCommonFolderIdCache(), &m_settings.GetRecipientSmtpCache()})
        EXPECT_TRUE(pCache->IsInitialized());
    // The caches exist in the component: what one client adds, another reads.
    EXPECT_TRUE(m_settings.GetADUserConfigCache().AddItem("ADUserConfig", "jsmith", "de-DE", "s1",
                                                          "msExchUserCulture", 3));
    std::string csValue;
    EXPECT_TRUE(
        m_settings.GetCoreCache().GetItem("ADUserConfig", "jsmith", csValue, "s1", "msExchUserCulture", 3));
    EXPECT_EQ(csValue, "de-DE");
}

TEST_F(ProductSettings, AllowListItemsAreCheckedAgainstTheKnownBrowsers) {
    const std::string csPrefix = "[CWKGeneralSettings::InitializeAllowBrowserList] ";
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/allow-browsers.txt")) {
        SCOPED_TRACE(row.at(0));
        SetUp();
        SetSetting(ID_ALLOW_BROWSER_LIST, row.at(0) == "(missing)" ? nullptr : row.at(0).c_str());
        m_log.Rearm();
        m_log.Clear();
        CWKGeneralSettings settings;
        ASSERT_EQ(InitProductSettings(settings), 1u);
        std::string csList;
        for (const auto& [name, csVersion] : settings.GetAllowBrowsers())
            csList += (csList.empty() ? "" : " ") + ToPlain(name) + "/" + csVersion;
        EXPECT_EQ(csList, row.at(1) == "(default)" ? DEFAULT_ALLOW_LIST : row.at(1));
        EXPECT_TRUE(m_log.Contains(csPrefix + tabletest::Bytes(row.at(2))));
        EXPECT_TRUE(m_log.Contains(csPrefix + "returned."));
        settings.Terminate();
    }
}

TEST_F(ProductSettings, NoRedirectModeIsZeroOrOne) {
    const std::pair<const char*, int32_t> aCases[] = {{"1", 1},  {"0", 0}, {"2", 0},
                                                      {"-1", 0}, {"x", 0}, {nullptr, 0}};
    for (const auto& c : aCases) {
        SetUp();
        SetSetting(ID_NO_REDIRECT_MODE, c.first);
        SetSetting(ID_BLOCKED_BROWSERS, "*Opera*|*Lynx*");
        CWKGeneralSettings settings;
        ASSERT_EQ(InitProductSettings(settings), 1u);
        EXPECT_EQ(settings.GetNoRedirectMode(), c.second) << (c.first ? c.first : "(missing)");
        EXPECT_EQ(settings.GetBlockedBrowsers(), "*Opera*|*Lynx*");
        settings.Terminate();
    }
}

TEST_F(ProductSettings, ComputerNamesAreReadWithTheBufferProtocol) {
    struct {
        std::string csFull;
        std::string csHost;
        DWORD dwFailure;
        std::vector<std::string> vLines;
    } aCases[] = {
        {"mail.example.org",
         "mail",
         0,
         {"GetComputerName ComputerNameDnsFullyQualified mail.example.org",
          "GetComputerName ComputerNameDnsHostname mail Err: 0"}},
        {"x", std::string(300, 'h'), 0, {"GetComputerName ComputerNameDnsHostname " + std::string(300, 'h')}},
        {"",
         "",
         ERROR_NOT_SUPPORTED,
         {"Failed to get the size for computer name  Error: 50 Ret 0",
          "Failed to get the size for computer name ComputerNameDnsHostname Error: 50 Ret 0",
          "GetComputerName failed"}},
    };
    for (const auto& c : aCases) {
        SetUp();
        CFakeSystem system;
        system.m_mapNames = {{EComputerName::DnsFullyQualified, c.csFull},
                             {EComputerName::DnsHostname, c.csHost}};
        system.m_dwNameFailure = c.dwFailure;
        CPlatform::SetSystem(&system);
        m_log.Clear();
        CWKGeneralSettings settings;
        DWORD dwResult = InitProductSettings(settings);
        settings.Terminate();
        CPlatform::SetSystem(nullptr);
        EXPECT_EQ(dwResult, 1u) << "missing names never fail the initialisation";
        EXPECT_EQ(settings.GetDnsHostName(), c.dwFailure ? "" : c.csHost);
        EXPECT_EQ(settings.GetDnsFullyQualifiedName(), c.dwFailure ? "" : c.csFull);
        for (const std::string& csLine : c.vLines)
            EXPECT_TRUE(m_log.Contains(csLine)) << csLine;
    }
}

TEST_F(ProductSettings, SslOffloadingComesFromTheInstallationKeyFile) {
    const std::string csKeyFile = m_installation.SettingsDir() + "/Registry.ini";
    std::ofstream(csKeyFile, std::ios::trunc)
        << "[system\\CurrentControlSet\\Services\\MSExchange OWA]\nsslOFFLOADED = 0x1\n";
    ASSERT_EQ(InitProductSettings(m_settings), 1u);
    EXPECT_TRUE(m_log.Contains("GetRegistryInfo SSLOffloaded 1"));
    m_settings.Terminate();

    std::remove(csKeyFile.c_str());
    m_log.Clear();
    CWKGeneralSettings settings;
    ASSERT_EQ(InitProductSettings(settings), 1u);
    EXPECT_TRUE(m_log.Contains("GetRegistryInfo can not read SSLOffloaded error 2"));
    settings.Terminate();
}

TEST(RegistryFile, FindsAValueUnderItsKeyIgnoringCase) {
    std::stringstream text;
    text << std::ifstream(std::string(WK_TEST_DATA_DIR) + "/settings/registry-sample.ini", std::ios::binary)
                .rdbuf();
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/registry-text.txt")) {
        DWORD dwValue = 0;
        EXPECT_EQ(QueryRegistryText(text.str(), tabletest::Bytes(row.at(0)), row.at(1), dwValue),
                  tabletest::Number(row.at(2)))
            << row.at(0) << " " << row.at(1);
        EXPECT_EQ(dwValue, tabletest::Number(row.at(3))) << row.at(0) << " " << row.at(1);
    }
}

} // namespace
