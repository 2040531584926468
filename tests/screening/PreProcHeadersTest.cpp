// Requests through the pre-processing handler, driven by the test host against the core linked into this
// program, with the sample installation's settings.
#include "host/testing/TestHost.h"
#include "log/Log.h"
#include "tests/TableFile.h"
#include "tests/settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using tabletest::Bytes;
using tabletest::TRow;

const std::map<std::string, std::string> g_mapUserAgents = {
    {"ff2", "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.6) Gecko/20070725 Firefox/2.0.0.6"},
    {"ff15",
     "Mozilla/5.0 (Macintosh; U; Intel Mac OS X; en-US; rv:1.8.0.12) Gecko/20070508 Firefox/1.5.0.12"},
    {"owa", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; owaauth)"},
    {"", ""},
};

class PreProcHeadersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_installation.CopySampleInstallation());
        m_installation.PointProcessHere();
        ASSERT_EQ(m_host.GetFilterVersion(), TRUE);
    }
    void TearDown() override {
        m_host.TerminateFilter();
        m_installation.StopPointing();
    }

    CHostRequest Request(const TRow& row) const {
        CHostRequest request;
        request.Method(row.at(1)).Url(row.at(2)).SubscriptionType(std::stoul(row.at(3)));
        request.ExchangeServer("https://mail.example.com").ServerVariable("HEADER_BK_CSMPREFIX", "abcde/");
        if (!row.at(4).empty())
            request.Referer(row.at(4));
        if (row.at(5) != "-")
            request.UserAgent(g_mapUserAgents.at(row.at(5)));
        if (row.at(6) != "-")
            request.Cookie(row.at(6));
        return request;
    }

    CTempInstallation m_installation;
    CTestHost m_host;
};

class PreProcHeadersTable : public PreProcHeadersTest, public ::testing::WithParamInterface<TRow> {};

TEST_P(PreProcHeadersTable, ClassifiesScreensAndRewrites) {
    const TRow& row = GetParam();
    const CHostRunRecord record = m_host.Run(Request(row));
    const CHostNotificationRecord* pPreproc = record.Find(SF_NOTIFY_PREPROC_HEADERS);
    ASSERT_NE(pPreproc, nullptr);
    EXPECT_EQ(pPreproc->m_dwResult, std::stoul(row.at(7)));
    EXPECT_STREQ(ControlMessageWord(pPreproc->m_dwControlMessage), row.at(8).c_str());
    EXPECT_EQ(pPreproc->m_dwClientFlags, std::stoul(row.at(9), nullptr, 16));
    std::string csUrlSet = "-";
    for (const CHostHeader& header : pPreproc->m_vHeadersSet)
        if (header.m_csName == "URL")
            csUrlSet = header.m_csValue;
    EXPECT_EQ(csUrlSet, row.at(10));
    if (row.at(11) == "-") {
        EXPECT_TRUE(pPreproc->m_vSupportCalls.empty());
        return;
    }
    ASSERT_EQ(pPreproc->m_vSupportCalls.size(), 1u);
    EXPECT_EQ(pPreproc->m_vSupportCalls[0].m_csStatus, "302 Object Moved");
    EXPECT_EQ(pPreproc->m_vSupportCalls[0].m_csHeaders, Bytes(row[11]));
    // An answered request has no closing line.
    EXPECT_FALSE(m_host.LogContains("[CNotifications::NotifyPreProcHeaders] finished."));
}

INSTANTIATE_TEST_SUITE_P(Requests, PreProcHeadersTable,
                         ::testing::ValuesIn(tabletest::ReadTable("screening/preproc-requests.txt")),
                         tabletest::RowName);

// Failures of the host: no cached-script prefix for the redirect, a URL that cannot be set, an address that
// would end its header line.
TEST_F(PreProcHeadersTest, HostFailuresIgnoreTheRequest) {
    CHostRequest refused;
    refused.UserAgent(g_mapUserAgents.at("ff15")).SubscriptionType(ST_OWA_FOLDER);
    CHostRequest unsafeAddress = refused;
    unsafeAddress.ServerVariable("HEADER_BK_CSMPREFIX", "abcde/").ExchangeServer("https://a\r\nX-Evil: 1");
    CHostRequest logon;
    logon.UserAgent(g_mapUserAgents.at("ff2")).Url("/owa/auth/logon.aspx?url=%3fbkwkbase%3d2");
    logon.SubscriptionType(ST_FBA_LOGON).FailSetHeader();
    for (const auto& [request, dwResult] :
         {std::pair{refused, ERROR_INVALID_DATA}, std::pair{unsafeAddress, ERROR_INVALID_DATA},
          std::pair{logon, ERROR_ARENA_TRASHED}}) {
        const CHostRunRecord record = m_host.Run(request);
        const CHostNotificationRecord* pPreproc = record.Find(SF_NOTIFY_PREPROC_HEADERS);
        ASSERT_NE(pPreproc, nullptr);
        EXPECT_EQ(pPreproc->m_dwResult, dwResult);
        EXPECT_EQ(pPreproc->m_dwControlMessage, CM_IGNORE);
        EXPECT_TRUE(pPreproc->m_vSupportCalls.empty());
    }
}

// The corpus under the default lists, then a blocked list, then that list with exceptions: the client flags
// and the three block decisions (the columns after the browser's identity).
constexpr const char* BLOCKED_LIST = "*Linux*|*MSIE 5.5*|*Mobile*";
constexpr const char* EXCEPTIONS_LIST = "*Android*|*owaauth*|*rv:1.8.0.12*";

class CorpusPolicyTest : public PreProcHeadersTest, public ::testing::WithParamInterface<TRow> {
protected:
    // A request of the agent through the test host: the policy's flags, and whether it was answered with the
    // blocked-browser redirect that resets its session cookies.
    std::pair<DWORD, DWORD> Screen(const std::string& csAgent) {
        CHostRequest request;
        request.UserAgent(csAgent).Cookie("sessionid=1; UserContext=2").SubscriptionType(ST_OWA_FOLDER);
        request.ServerVariable("HEADER_BK_CSMPREFIX", "abcde/");
        const CHostRunRecord record = m_bQuiet ? QuietRun(request) : m_host.Run(request);
        const CHostNotificationRecord* pPreproc = record.Find(SF_NOTIFY_PREPROC_HEADERS);
        if (!pPreproc)
            return {0, 9};
        const bool bRedirected =
            pPreproc->m_dwControlMessage == CM_COMPLETED && pPreproc->m_vSupportCalls.size() == 1 &&
            pPreproc->m_vSupportCalls[0].m_csHeaders.find(
                "Set-Cookie: sessionid=; path=/; expires=Thu, 01-Jan-1970 00:00:00 GMT\r\n"
                "Set-Cookie: UserContext=; path=/; expires=Thu, 01-Jan-1970 00:00:00 GMT\r\n") !=
                std::string::npos;
        constexpr DWORD POLICY_FLAGS =
            CF_PREMIUM_CLIENT | CF_NC4_CLIENT | CF_SAFARI_V1 | CF_MAC_CLIENT | CF_PREMIUM_EXPERIENCE;
        return {pPreproc->m_dwClientFlags & POLICY_FLAGS, bRedirected ? 1u : 0u};
    }
    void Restart(int nId, const char* pszValue) {
        m_host.TerminateFilter();
        ASSERT_TRUE(SetInstallationSetting(m_installation, nId, pszValue));
        ASSERT_EQ(m_host.GetFilterVersion(), TRUE);
    }
    // With logging off, as a server runs: decisions come from the module's memo after the first request.
    static CHostRunRecord QuietRun(const CHostRequest& request) {
        SetLogLevel(LOG_LEVEL_OFF);
        CHostSession session(CTestHost::LinkedEntryPoints());
        return session.Run(request);
    }
    // The decisions of the three lists, as the table's columns put them.
    std::string Decisions(const std::string& csAgent) {
        const auto [dwFlags, dwDefault] = Screen(csAgent);
        Restart(113, BLOCKED_LIST);
        const DWORD dwBlocked = Screen(csAgent).second;
        Restart(114, EXCEPTIONS_LIST);
        const DWORD dwExcepted = Screen(csAgent).second;
        char szActual[64];
        std::snprintf(szActual, sizeof(szActual), "%X %u%u%u", static_cast<unsigned>(dwFlags),
                      static_cast<unsigned>(dwDefault), static_cast<unsigned>(dwBlocked),
                      static_cast<unsigned>(dwExcepted));
        return szActual;
    }
    bool m_bQuiet = false;
};

TEST_P(CorpusPolicyTest, FlagsAndBlockDecisions) {
    const TRow& row = GetParam();
    EXPECT_EQ(Decisions(Bytes(row.at(1))), row.at(7) + " " + row.at(8)) << row.at(1);
}

// The same decisions remembered: each list's first request fills the memo, the second reads it, and loading
// other lists must not leave the old decision in place.
TEST_P(CorpusPolicyTest, RememberedDecisionsFollowTheLists) {
    const TRow& row = GetParam();
    m_bQuiet = true;
    const std::string csAgent = Bytes(row.at(1));
    EXPECT_EQ(Screen(csAgent), Screen(csAgent));
    EXPECT_EQ(Decisions(csAgent), row.at(7) + " " + row.at(8)) << row.at(1);
    Restart(114, "");
    Restart(113, "");
    EXPECT_EQ(Decisions(csAgent), row.at(7) + " " + row.at(8)) << row.at(1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusPolicyTest,
                         ::testing::ValuesIn(tabletest::ReadTable("screening/user-agents.txt")),
                         tabletest::RowName);

} // namespace
