#include "host/testing/TestHost.h"
#include "request/CBaseNotifications.h"
#include "request/CNotificationsHelper.h"
#include "tests/TableFile.h"
#include "tests/host/FakeModule.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

constexpr DWORD PREPROC = SF_NOTIFY_PREPROC_HEADERS;
constexpr DWORD SEND = SF_NOTIFY_SEND_RESPONSE;
constexpr DWORD AUTHENTICATION = SF_NOTIFY_AUTHENTICATION;
using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(RequestInfo, HeaderLookupRetriesWithColonOnlyWhenNameHasNone) {
    CRequestInfo info;
    info.m_mapRequestValues = {{"Referer:", "https://a/"}, {"HTTP_URL", "/owa/"}, {"X:", "colon"}};
    struct {
        const char* pszName;
        bool bFound;
        const char* pszValue;
    } aCases[] = {
        {"Referer", true, "https://a/"},  {"Referer:", true, "https://a/"}, {"HTTP_URL", true, "/owa/"},
        {"http_url", false, "unchanged"}, {"X::", false, "unchanged"},      {"", false, "unchanged"},
    };
    for (const auto& c : aCases) {
        std::string csValue = "unchanged";
        EXPECT_EQ(info.GetHeaderValue(c.pszName, csValue), c.bFound) << c.pszName;
        EXPECT_EQ(csValue, c.pszValue) << c.pszName;
    }
}

// The base address always has one "/" between its parts and one at its end, however the host spells them.
TEST(ExchangeURL, BaseAddressJoinsServerAndVirtualDirectory) {
    const std::tuple<const char*, const char*, const char*> aCases[] = {
        {"https://mail", "/owa", "https://mail/owa/"}, {"https://mail/", "owa/", "https://mail/owa/"},
        {"https://mail", "", "https://mail/"},         {"", "/owa", "/owa/"},
        {"https://mail", "/", "https://mail/"},        {"https://mail/", "/a/b/", "https://mail/a/b/"},
    };
    for (const auto& [pszServer, pszDir, pszBase] : aCases) {
        CExchangeURL url;
        url.m_csServer = pszServer;
        url.m_csVirtualDir = pszDir;
        EXPECT_EQ(url.GetBaseAddress(), pszBase) << pszServer << " + " << pszDir;
    }
}

TEST(RequestInfo, QueryParametersIgnoreCase) {
    CRequestInfo info;
    std::string csValue = "kept";
    EXPECT_FALSE(info.GetQueryParameter("Cmd", csValue));
    EXPECT_EQ(csValue, "kept");
    info.m_mapQueryParameters["CMD"] = "logoff";
    EXPECT_TRUE(info.GetQueryParameter("cmd", csValue));
    EXPECT_EQ(csValue, "logoff");
}

// The helpers run inside a notification of the host, against its callbacks.
class RequestHelpersTest : public ::testing::Test {
protected:
    void TearDown() override { CFakeModule::Reset(); }
    // Runs fnAction during the notification dwCode of the request (which has a body, so that every
    // notification is sent); the context claims the type dwAs meanwhile, when that is given. The host sends
    // no AUTHENTICATION notification: SEND_RESPONSE stands in for it.
    CHostRunRecord RunIn(DWORD dwCode, CHostRequest request,
                         const std::function<void(CDLLContext*)>& fnAction, DWORD dwAs = 0) {
        CFakeModule::Reset();
        CFakeModule::s_script[dwCode == AUTHENTICATION ? SEND : dwCode].m_fnAction = [&](CDLLContext* p) {
            const DWORD dwType = p->m_dwNotificationType;
            p->m_dwNotificationType = dwAs ? dwAs : dwType;
            fnAction(p);
            p->m_dwNotificationType = dwType;
        };
        return m_session.Run(request.ResponseBody("<html/>"));
    }
    CHostSession m_session{CFakeModule::EntryPoints()};
};

// The header callbacks exist only in the notifications whose structures carry them.
class HeaderHelpersPerNotification : public RequestHelpersTest,
                                     public ::testing::WithParamInterface<std::pair<DWORD, bool>> {};

// GetServerVariable reads in every handled notification; AUTHENTICATION is not one of them.
TEST_P(HeaderHelpersPerNotification, AddSetAndGetOnlyWhereTheCallbacksExist) {
    const auto [dwType, bCarries] = GetParam();
    DWORD dwAdded = 9, dwSet = 9, dwVariable = 9;
    bool bGot = !bCarries;
    std::string csValue, csVariable;
    CHostRunRecord record = RunIn(
        dwType, CHostRequest().Referer("r").ServerVariable("LOGON_USER", "DOM\\user"),
        [&](CDLLContext* p) {
            dwAdded = CBaseNotifications::AddWorkerHeader(p, "X-A:", "1");
            dwSet = CBaseNotifications::SetHeader(p, "URL", "/x");
            bGot = CBaseNotifications::GetRequestHeader(p, "Referer:", csValue);
            dwVariable = CBaseNotifications::GetServerVariable(p, "LOGON_USER", csVariable);
        },
        dwType);
    EXPECT_EQ(std::make_tuple(dwAdded, dwSet, record.AllHeadersAdded().size(), bGot, csValue),
              bCarries ? std::make_tuple(1u, 1u, size_t(1), true, std::string("r"))
                       : std::make_tuple(0u, 0u, size_t(0), false, std::string()));
    EXPECT_EQ(dwVariable, 0u);
    EXPECT_EQ(csVariable, dwType == AUTHENTICATION ? "" : "DOM\\user");
}

INSTANTIATE_TEST_SUITE_P(
    Notifications, HeaderHelpersPerNotification,
    ::testing::Values(std::make_pair(PREPROC, true), std::make_pair(SF_NOTIFY_AUTH_COMPLETE, true),
                      std::make_pair(SEND, true), std::make_pair(SF_NOTIFY_SEND_RAW_DATA, false),
                      std::make_pair(SF_NOTIFY_END_OF_REQUEST, false), std::make_pair(AUTHENTICATION, false)),
    [](const auto& info) { return HostNotificationName(info.param.first); });

TEST_F(RequestHelpersTest, MissingFilterContextOrCallbackGivesZeroAndLogs) {
    CLogCapture capture;
    std::vector<DWORD> vResults;
    RunIn(SEND, CHostRequest().Without(EHostPart::FilterContext), [&](CDLLContext* p) {
        vResults.push_back(CBaseNotifications::AddWorkerHeader(p, "X-A:", "1"));
        vResults.push_back(CBaseNotifications::AddWorkerHeader(nullptr, "X-B:", "1"));
    });
    RunIn(SEND, CHostRequest().Without(EHostPart::SetHeader),
          [&](CDLLContext* p) { vResults.push_back(CBaseNotifications::SetHeader(p, "URL", "/")); });
    EXPECT_EQ(vResults, std::vector<DWORD>(3, 0));
    EXPECT_TRUE(capture.Contains("[AddWorkerHeader] for header: X-A: return 0"));
    EXPECT_TRUE(capture.Contains("[SetHeader] for header: URL return 0"));
    EXPECT_TRUE(capture.Contains("[AddWorkerHeader] for header: X-B: return 0"));
}

// The two-call protocol: size query, then a read into size + 1 bytes; what a failure of either call leaves.
TEST_F(RequestHelpersTest, GetIISParmTReadsValuesOfAnyLengthAndFailsCleanly) {
    for (const tabletest::TRow& c : tabletest::ReadTable("host/iis-parm-reads.txt")) {
        SCOPED_TRACE(c[0]);
        const DWORD dwFirstCallError = static_cast<DWORD>(std::stoul(c.at(2)));
        const bool bFailSecondRead = c.at(3) == "yes", bExpected = c.at(4) == "1";
        CHostRequest request;
        if (c[1] != "none")
            request.ServerVariable("V", std::string(std::stoul(c[1]), 'x'));
        if (dwFirstCallError || bFailSecondRead)
            request.FailRead(EHostCallback::GetServerVariable,
                             {"V", dwFirstCallError ? dwFirstCallError : ERROR_NO_DATA, 1, bFailSecondRead});
        std::string csValue = "kept";
        bool bResult = !bExpected;
        CLogCapture capture;
        CHostRunRecord record = RunIn(PREPROC, request, [&](CDLLContext* p) {
            HTTP_FILTER_CONTEXT* pfc = p->m_pFilterContext;
            bResult = CBaseNotifications::GetIISParmT(pfc, pfc->GetServerVariable, "V", csValue);
        });
        EXPECT_EQ(bResult, bExpected);
        // A value is replaced only by a read; a failed second read leaves it empty.
        const bool bRead = bExpected ? c[1] != "0" : bFailSecondRead;
        EXPECT_EQ(csValue, bRead ? std::string(bExpected ? std::stoul(c[1]) : 0, 'x') : "kept");
        EXPECT_EQ(record.Find(PREPROC)->m_vReads.size(), std::stoul(c.at(5)));
        ASSERT_EQ(capture.Lines().size(), c.at(6) == "-" ? 0u : 1u);
        if (c[6] != "-") {
            EXPECT_NE(capture.Lines()[0].find(c[6]), std::string::npos) << capture.Lines()[0];
        }
    }
}

// Nine pairs in order during SEND_RESPONSE, up to the first one the server refuses; none at END_OF_REQUEST.
TEST_F(RequestHelpersTest, NoCacheHeadersUpToTheFirstRefused) {
    Pairs vAll;
    for (const tabletest::TRow& row : tabletest::ReadTable("host/no-cache-headers.txt"))
        vAll.emplace_back(row[0], row.at(1));
    for (int nFailAt : {-1, 0, 1, 8, 99}) {
        CHostRequest request;
        if (nFailAt >= 0)
            request.FailAddHeaderAfter(static_cast<size_t>(nFailAt));
        const DWORD dwCode = nFailAt == 99 ? SF_NOTIFY_END_OF_REQUEST : SEND;
        const bool bExpected = nFailAt < 0;
        bool bResult = !bExpected;
        CLogCapture capture;
        CHostRunRecord record = RunIn(
            dwCode, request, [&](CDLLContext* p) { bResult = CNotificationsHelper::AddNoCacheHeaders(p); });
        Pairs vAdded;
        for (const CHostHeader& header : record.AllHeadersAdded())
            vAdded.emplace_back(header.m_csName, header.m_csValue);
        EXPECT_EQ(bResult, bExpected) << nFailAt;
        EXPECT_EQ(vAdded, Pairs(vAll.begin(),
                                vAll.begin() + (dwCode == SEND ? std::min<size_t>(nFailAt, vAll.size()) : 0)))
            << nFailAt;
        EXPECT_TRUE(capture.Contains(std::string("[CNotificationsHelper::AddNoCacheHeaders] returns <") +
                                     (bExpected ? "TRUE>" : "FALSE>")))
            << nFailAt;
    }
}

// Slot eight of the core services, with the table itself; without it, 7 and the control message unchanged.
TEST_F(RequestHelpersTest, SendResponseCompletesTheRequestOrGivesSevenWithoutTheService) {
    CLogCapture capture;
    DWORD dwResult = 1, dwControlMessage = 0;
    auto fnSend = [&](CDLLContext* p) {
        dwResult = CBaseNotifications::SendResponse(p, "HTTP/1.1 200 OK\r\n\r\nbody", "base page", 23);
        dwControlMessage = p->m_dwControlMessage;
    };
    CHostRunRecord record = RunIn(SF_NOTIFY_AUTH_COMPLETE, CHostRequest(), fnSend);
    EXPECT_EQ(dwResult, 0u);
    EXPECT_EQ(dwControlMessage, CM_COMPLETED);
    ASSERT_EQ(record.AllResponses().size(), 1u);
    EXPECT_EQ(record.AllResponses()[0].m_csText, "HTTP/1.1 200 OK\r\n\r\nbody");
    EXPECT_EQ(record.AllResponses()[0].m_dwByteCount, 23u);
    EXPECT_TRUE(record.m_vAnomalies.empty());
    EXPECT_TRUE(capture.Contains("[CBaseNotifications::SendResponse] SendResponse base page"));
    for (EHostPart ePart : {EHostPart::CoreServices, EHostPart::SendResponse}) {
        RunIn(SF_NOTIFY_AUTH_COMPLETE, CHostRequest().Without(ePart), fnSend);
        EXPECT_EQ(dwResult, ERROR_ARENA_TRASHED);
        EXPECT_EQ(dwControlMessage, CM_NONE);
    }
}

// The host hands the cached-script-manager prefix in a server variable; too short or missing, no decorator.
TEST_F(RequestHelpersTest, CachedScriptDecoratorComesFromTheCsmPrefixVariable) {
    const char* pszEmpty =
        "[CNotificationsHelper::GetCachedScriptDecorator] Error: <HEADER_BK_CSMPREFIX> header empty !";
    const struct {
        const char* pszPrefix;
        const char* pszFullPrefix;
        const char* pszLog;
    } aCases[] = {{nullptr, "none", pszEmpty},
                  {"", "none", pszEmpty},
                  {"abcd", "none", nullptr},
                  {"abcde/xyz/", "abcde/xyz/", nullptr}};
    for (const auto& c : aCases) {
        CHostRequest request;
        if (c.pszPrefix)
            request.ServerVariable("HEADER_BK_CSMPREFIX", c.pszPrefix);
        std::string csFullPrefix;
        CLogCapture capture;
        RunIn(PREPROC, request, [&](CDLLContext* p) {
            auto spDecorator = CNotificationsHelper::GetCachedScriptDecorator(p);
            csFullPrefix = spDecorator ? spDecorator->GetFullPrefix() : "none";
        });
        EXPECT_EQ(csFullPrefix, c.pszFullPrefix);
        EXPECT_EQ(capture.Lines(),
                  c.pszLog ? std::vector<std::string>{c.pszLog} : std::vector<std::string>{});
    }
    EXPECT_FALSE(CNotificationsHelper::GetCachedScriptDecorator(nullptr));
}

} // namespace
