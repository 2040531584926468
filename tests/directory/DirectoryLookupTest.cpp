// The directory lookup and the user properties against a real slapd: every identity kind, the value texts,
// filter injection, a directory that dies or hangs mid-run, the cache in front of it, and the culture that
// wins over the browser. Failure paths a real server cannot produce use a directory double.
#include "directory/ADColumnText.h"
#include "directory/CADUserConfig.h"
#include "directory/UserSession.h"
#include "host/common/HostSession.h"
#include "host/testing/TestHost.h"
#include "platform/CPlatform.h"
#include "platform/HResultException.h"
#include "platform/ThreadIdentity.h"
#include "settings/CWKGeneralSettings.h"
#include "tests/TableFile.h"
#include "tests/directory/SlapdFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

using slapdtest::CDirectoryTest;

class Lookup : public CDirectoryTest, public testing::WithParamInterface<tabletest::TRow> {};

TEST_P(Lookup, ReadsTheAttributeOfExactlyTheUserNamed) {
    const tabletest::TRow& row = GetParam();
    CLogCapture log;
    CADUserConfig userConfig(5);
    userConfig.SetIdentity(tabletest::Bytes(row.at(2)), static_cast<int>(tabletest::Number(row.at(1))));
    std::string csValue = "unset";
    const HRESULT hr = userConfig.ReadProperty(row.at(3), csValue);
    if (row.at(4) == "ok") {
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(csValue, row.size() > 5 ? tabletest::Bytes(row.at(5)) : std::string());
        EXPECT_TRUE(log.Contains("Count: 1"));
    } else {
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_EQ(csValue, "unset");
        EXPECT_TRUE(log.Contains("Count = 0 Error! No property was found"));
        EXPECT_TRUE(log.Contains("ConfigType: 5"));
    }
}

INSTANTIATE_TEST_SUITE_P(Directory, Lookup, testing::ValuesIn(tabletest::ReadTable("directory/lookups.txt")),
                         tabletest::RowName);

TEST(ColumnText, EveryTypeAsTheLookupWritesIt) {
    for (const tabletest::TRow& row : tabletest::ReadTable("directory/column-texts.txt")) {
        SCOPED_TRACE(row.at(0));
        CDirectoryColumn column;
        column.eType = static_cast<EADsType>(std::stoi(row.at(1)));
        column.csName = row.at(2);
        std::vector<CaselessString> vValues;
        SplitList(ToCaseless(row.at(3)), ",", vValues, false);
        if (!row.at(3).empty() && row.at(3)[0] == ',')
            vValues.insert(vValues.begin(), CaselessString());
        for (const CaselessString& csValue : vValues) {
            CDirectoryValue value;
            value.csBytes = ToPlain(csValue);
            value.nNumber = std::strtoll(value.csBytes.c_str(), nullptr, 10);
            column.vValues.push_back(value);
        }
        CColumnOutput output;
        AppendColumnText(column, output);
        EXPECT_EQ(output.csText, row.at(4));
        EXPECT_NE(output.csTrace.find(" " + row.at(5) + " "), std::string::npos) << output.csTrace;
        EXPECT_EQ(output.bNeverExpires, row.at(6) == "1");
    }
}

TEST(EscapeFilterValue, EscapesWhatRfc4515Reserves) {
    const std::pair<std::string, std::string> aCases[] = {
        {"plain.name@x", "plain.name@x"},   {"*", "\\2a"}, {"(a)", "\\28a\\29"}, {"a\\b", "a\\5cb"},
        {std::string("a\0b", 3), "a\\00b"}, {"", ""},      {"\\2a", "\\5c2a"},
    };
    for (const auto& [csValue, csEscaped] : aCases)
        EXPECT_EQ(EscapeFilterValue(csValue), csEscaped) << csValue;
}

TEST_F(CDirectoryTest, AFilterPastItsBufferIsCutAndRefused) {
    CLogCapture log;
    CADUserConfig userConfig;
    userConfig.SetIdentity(std::string(600, 'j'), AD_IDENTITY_ACCOUNT_NAME);
    EXPECT_EQ(userConfig.BuildSearchFilter().size(), AD_FILTER_BUFFER_CHARS - 1);
    std::string csValue;
    EXPECT_TRUE(FAILED(userConfig.ReadProperty("msExchUserCulture", csValue)));
    EXPECT_TRUE(log.Contains("Execute search failed"));
}

// A server that stopped answering is left alone for a while: the next lookup fails at once, without a
// connection attempt, and says when the next attempt comes.
TEST_F(CDirectoryTest, AServerThatDidNotAnswerIsLeftAloneForAWhile) {
    std::unique_ptr<IDirectorySearch> spSearch;
    std::string csError;
    ASSERT_EQ(CPlatform::Directory().OpenSearch("LDAP:", spSearch, csError), S_OK) << csError;
    m_slapd.Stop();
    EXPECT_TRUE(FAILED(CPlatform::Directory().OpenSearch("LDAP:", spSearch, csError)));
    EXPECT_EQ(csError.find("next attempt"), std::string::npos) << csError;
    EXPECT_EQ(CPlatform::Directory().OpenSearch("LDAP:", spSearch, csError),
              static_cast<HRESULT>(0x8007203A));
    EXPECT_NE(csError.find("next attempt in 10 s"), std::string::npos) << csError;
    EXPECT_FALSE(spSearch);
}

TEST_F(CDirectoryTest, AllAttributesOfTheUserComeAsOneText) {
    CADUserConfig userConfig;
    userConfig.SetIdentity("nculture", AD_IDENTITY_ACCOUNT_NAME);
    std::unique_ptr<IDirectorySearch> spSearch;
    ASSERT_EQ(userConfig.GetDirectorySearch(spSearch, "GC:"), S_OK);
    std::string csValue;
    EXPECT_EQ(userConfig.FindUsers(*spSearch, userConfig.BuildSearchFilter(), "", csValue), S_OK);
    EXPECT_NE(csValue.find("nculture"), std::string::npos) << csValue;
    EXPECT_NE(csValue.find("person"), std::string::npos) << csValue;
}

TEST(GetSessionId, TakesUserContextThenSessionIdThenTheUser) {
    const std::tuple<std::string, std::string, std::string> aCases[] = {
        {"a=1; UserContext=abc; sessionid=x", "jsmith", "abc"},
        {"sessionid=s1", "jsmith", "s1"},
        {"", "jsmith", "jsmith"},
        {"UserContext=; sessionid=", "jsmith", "jsmith"},
        {"xUserContext=inner", "jsmith", "inner"},
        {"USERCONTEXT=upper", "jsmith", "upper"},
    };
    for (const auto& [csCookies, csUser, csSession] : aCases) {
        std::string csValue;
        EXPECT_TRUE(GetSessionId(csUser, csCookies, csValue));
        EXPECT_EQ(csValue, csSession) << csCookies;
    }
    std::string csValue = "unset";
    EXPECT_FALSE(GetSessionId("", "UserContext=abc", csValue));
    EXPECT_EQ(csValue, "unset");
    CLogCapture log;
    EXPECT_FALSE(extractCookie("UserContext=abc", "UserContext", csValue));
    EXPECT_FALSE(extractCookie("UserContext=abc", "", csValue));
    EXPECT_TRUE(log.Contains("[extractCookie] ERROR Key <UserContext> requires '=' terminator"));
    EXPECT_TRUE(log.Contains("[extractCookie] ERROR Missing Key"));
}

// General settings with a working "ADUserConfig" cache and no lookup double: the cache and the directory.
class UserProperties : public CDirectoryTest {
protected:
    void SetUp() override {
        CDirectoryTest::SetUp();
        ASSERT_TRUE(m_settings.GetADUserConfigCache().Init());
        ASSERT_TRUE(m_settings.GetADUserConfigCache().CreateCache(AD_USER_CONFIG_CACHE_NAME, 100, 30));
    }
    HRESULT Get(const std::string& csUser, const std::string& csCookies, std::string& csValue) {
        return m_settings.GetADProperty(csUser, csCookies, USER_CULTURE_ATTRIBUTE, csValue, "", "");
    }
    CWKGeneralSettings m_settings;
};

TEST_F(UserProperties, ASecondLookupOfTheSessionComesFromTheCache) {
    CLogCapture log;
    std::string csValue;
    ASSERT_EQ(Get("WENDRAKE\\jsmith", "UserContext=abc", csValue), S_OK);
    EXPECT_EQ(csValue, "de-DE");
    m_slapd.Stop();
    csValue.clear();
    EXPECT_EQ(Get("jsmith@wendrake.test", "UserContext=abc", csValue), S_OK);
    EXPECT_EQ(csValue, "de-DE");
    EXPECT_TRUE(log.Contains("Get property from cache successfull, Value: de-DE !"));
    // Another logon session is not in the cache, and the directory is gone.
    EXPECT_TRUE(FAILED(Get("WENDRAKE\\jsmith", "UserContext=other", csValue)));
}

TEST_F(UserProperties, ADirectoryThatDiesOrHangsFailsTheLookupInBoundedTimeAndCachesNothing) {
    for (bool bFreeze : {true, false}) {
        SCOPED_TRACE(bFreeze ? "hung" : "stopped");
        CLogCapture log;
        if (bFreeze)
            m_slapd.Freeze();
        else
            m_slapd.Stop();
        std::string csLanguage;
        LANGID wLangId = 0;
        ELanguageSource eSource = ELanguageSource::Directory;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(m_settings.DetectUserLanguage("DOM\\jsmith", "", "fr-CA,fr;q=0.8", csLanguage, wLangId,
                                                  "", &eSource));
        // Only a guard against a hang: the configured timeouts are three seconds each.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        EXPECT_EQ(csLanguage, "fr");
        EXPECT_EQ(eSource, ELanguageSource::Browser);
        EXPECT_TRUE(log.Contains("Getting property msExchUserCulture for user jsmith from AD failed."));
        std::string csCached;
        EXPECT_FALSE(m_settings.GetADUserConfigCache().GetItem(AD_USER_CONFIG_CACHE_NAME, "jsmith", csCached,
                                                               "jsmith", USER_CULTURE_ATTRIBUTE,
                                                               BKCACHE_MODE_PROPERTY));
        m_slapd.Thaw();
    }
}

TEST_F(UserProperties, TheDirectoryCultureWinsOverTheBrowser) {
    const std::tuple<std::string, std::string, std::string, LANGID, ELanguageSource> aCases[] = {
        {"DOM\\jsmith", "fr", "de", 0x0407, ELanguageSource::Directory},
        {"mdubois", "de", "fr", 0x040C, ELanguageSource::Directory},
        {"DOM\\nculture", "pt-BR,pt;q=0.5", "pt-br", 0x0416, ELanguageSource::Browser},
        {"DOM\\nobody", "ko-KR", "en", 4105, ELanguageSource::Default},
    };
    for (const auto& [csUser, csAccept, csExpected, wExpected, eExpected] : aCases) {
        std::string csLanguage;
        LANGID wLangId = 0;
        ELanguageSource eSource = ELanguageSource::Default;
        EXPECT_TRUE(m_settings.DetectUserLanguage(csUser, "", csAccept, csLanguage, wLangId, "", &eSource));
        EXPECT_EQ(csLanguage, csExpected) << csUser;
        EXPECT_EQ(wLangId, wExpected) << csUser;
        EXPECT_EQ(eSource, eExpected) << csUser;
    }
}

TEST_F(UserProperties, AMailboxOrASidSelectsTheUserAndIsNotCached) {
    std::string csValue;
    EXPECT_EQ(m_settings.GetADProperty("", "", "sAMAccountName", csValue, "marie.dubois@wendrake.test", ""),
              S_OK);
    EXPECT_EQ(csValue, "mdubois");
    EXPECT_EQ(m_settings.GetADProperty("x", "", "msExchUserCulture", csValue, "",
                                       "S-1-5-21-1004336348-1177238915-682003330-1001"),
              S_OK);
    EXPECT_EQ(csValue, "de-DE");
    std::string csCached;
    EXPECT_FALSE(m_settings.GetADUserConfigCache().GetItem(AD_USER_CONFIG_CACHE_NAME, "x", csCached, "x",
                                                           "msExchUserCulture", BKCACHE_MODE_PROPERTY));
    EXPECT_EQ(m_settings.GetADProperty("", "", "msExchUserCulture", csValue, "m@x", ""), E_INVALIDARG);
    EXPECT_EQ(m_settings.GetADProperty("DOM\\", "", "msExchUserCulture", csValue, "", ""), E_INVALIDARG);
}

// A directory double whose open or search fails or throws, and which notes the identity it runs under.
class CBrokenDirectory : public IDirectoryService, public IDirectorySearch {
public:
    int m_nMode = 0;
    DWORD m_dwIdentityError = 0;
    HRESULT OpenSearch(const std::string&, std::unique_ptr<IDirectorySearch>& spSearch,
                       std::string& csError) override {
        CIdentityToken spToken;
        m_dwIdentityError = CThreadIdentity::OpenThreadToken(spToken);
        if (m_nMode == 0) {
            csError = "Can't contact LDAP server";
            return static_cast<HRESULT>(0x8007203A);
        }
        if (m_nMode == 2)
            throw std::runtime_error("no memory left");
        if (m_nMode == 3)
            throw CHResultException(E_OUTOFMEMORY);
        if (m_nMode == 4)
            throw 7;
        spSearch = std::make_unique<CForward>(*this);
        return S_OK;
    }
    HRESULT ExecuteSearch(const std::string&, const std::string&, std::vector<CDirectoryRow>&) override {
        return static_cast<HRESULT>(0x800705B4);
    }
    std::string GetErrorText() const override { return "Timed out"; }
    CSystemTime FileTimeToLocalTime(uint64_t) override { return CSystemTime(); }

private:
    struct CForward : IDirectorySearch {
        explicit CForward(CBrokenDirectory& d) : m_d(d) {}
        HRESULT ExecuteSearch(const std::string& f, const std::string& a,
                              std::vector<CDirectoryRow>& r) override {
            return m_d.ExecuteSearch(f, a, r);
        }
        std::string GetErrorText() const override { return m_d.GetErrorText(); }
        CBrokenDirectory& m_d;
    };
};

TEST(DirectoryFailure, IsLoggedRunsAsTheProcessAndPutsTheUserBack) {
    const std::pair<HRESULT, const char*> aCases[] = {
        {static_cast<HRESULT>(0x8007203A),
         "ReadProperties couldn't get IDirectorySearch 0x8007203a ConfigType: 3"},
        {static_cast<HRESULT>(0x800705B4),
         "CADUserConfig failed to get AD user jsmith Prop msExchUserCulture "
         "hr: 0x800705b4 ConfigType: 3   ExecuteSearch msExchUserCulture"},
        {E_FAIL, "ReadProperty from AD got an std exception no memory left Context:"},
        {E_FAIL, "ReadProperty from AD got an exception HR: 0x8007000e."},
        {E_FAIL, "ReadProperty from AD got an general exception Context:"},
    };
    CBrokenDirectory directory;
    CPlatform::SetDirectory(&directory);
    auto spUser = std::make_shared<CRequestIdentity>();
    spUser->csUser = "jsmith";
    for (int nMode = 0; nMode < 5; ++nMode) {
        CLogCapture log;
        directory.m_nMode = nMode;
        CThreadIdentity::Impersonate(spUser);
        CADUserConfig userConfig(3);
        userConfig.SetIdentity("jsmith", AD_IDENTITY_ACCOUNT_NAME);
        std::string csValue;
        EXPECT_EQ(userConfig.ReadProperty("msExchUserCulture", csValue), aCases[nMode].first) << nMode;
        EXPECT_TRUE(log.Contains(aCases[nMode].second)) << nMode;
        EXPECT_EQ(directory.m_dwIdentityError, static_cast<DWORD>(ERROR_NO_TOKEN)) << nMode;
        CIdentityToken spToken;
        EXPECT_EQ(CThreadIdentity::OpenThreadToken(spToken), static_cast<DWORD>(ERROR_SUCCESS)) << nMode;
        EXPECT_EQ(spToken, spUser) << nMode;
    }
    CThreadIdentity::Impersonate(nullptr);
    CPlatform::SetDirectory(nullptr);
}

// Through the module file, as a host runs it: the base page of a user whose entry holds a culture is in that
// language, whatever the browser asks for; a user without one gets the browser's.
TEST_F(CDirectoryTest, TheModulesBasePageIsInTheDirectorysLanguage) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_MODULE_PATH));
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;
    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);
    for (const auto& [pszUser, pszText] :
         {std::pair{"WENDRAKE\\jsmith", "Sitzung"}, {"WENDRAKE\\nculture", "session"}}) {
        CHostRequest request;
        request.Url("/owa/").SubscriptionType(ST_BASE_REQUEST).AcceptLanguage("en-US");
        request.UserAgent("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)")
            .RequestValue("BK_USERNAME", pszUser);
        request.ServerVariable("HEADER_BK_CSMPREFIX", "abcde/").ServerVariable("LOGON_USER", pszUser);
        const std::vector<CHostResponse> vResponses = session.Run(request).AllResponses();
        ASSERT_EQ(vResponses.size(), 1u) << pszUser;
        EXPECT_NE(vResponses[0].m_csText.find(pszText), std::string::npos) << vResponses[0].m_csText;
    }
    session.TerminateFilter(0);
}

// wkctl's view of a user's texts asks the same directory.
TEST_F(CDirectoryTest, WkctlTextsTakeTheDirectorysCulture) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.CopySampleInstallation());
    const std::string csCommand = std::string("'") + WKCTL_PATH + "' texts --install '" +
                                  installation.Prefix() +
                                  "' --user 'WENDRAKE\\jsmith' --accept-language en-US 2>&1";
    std::string csOut;
    if (FILE* pPipe = ::popen(csCommand.c_str(), "r")) {
        char szChunk[4096];
        for (size_t cb; (cb = std::fread(szChunk, 1, sizeof(szChunk), pPipe)) > 0;)
            csOut.append(szChunk, cb);
        EXPECT_EQ(::pclose(pPipe), 0) << csOut;
    }
    EXPECT_NE(csOut.find("Languages from the directory (msExchUserCulture of WENDRAKE\\jsmith): \"de-DE\""),
              std::string::npos)
        << csOut;
    EXPECT_NE(csOut.find("Language: de,"), std::string::npos) << csOut;
}

} // namespace
