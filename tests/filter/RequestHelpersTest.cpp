#include "filter/CBaseNotifications.h"
#include "filter/CNotificationsHelper.h"
#include "host/common/HostRecord.h"
#include "host/testing/TestHost.h"
#include "tests/filter/FakeIis.h"

#include <gtest/gtest.h>

namespace {

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

TEST(RequestInfo, QueryParametersIgnoreCase) {
    CRequestInfo info;
    std::string csValue = "kept";
    EXPECT_FALSE(info.GetQueryParameter("Cmd", csValue));
    EXPECT_EQ(csValue, "kept");
    info.m_mapQueryParameters["CMD"] = "logoff";
    EXPECT_TRUE(info.GetQueryParameter("cmd", csValue));
    EXPECT_EQ(csValue, "logoff");
}

// The header callbacks exist only in the notifications whose structures carry them.
class HeaderHelpersPerNotification : public ::testing::TestWithParam<std::pair<DWORD, bool>> {};

TEST_P(HeaderHelpersPerNotification, AddAndSetOnlyWhereTheCallbacksExist) {
    CFakeIis iis;
    CDLLContext context;
    iis.Attach(context, GetParam().first);
    const bool bCarries = GetParam().second;
    EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&context, "X-A:", "1"), bCarries ? 1u : 0u);
    EXPECT_EQ(CBaseNotifications::SetHeader(&context, "URL", "/x"), bCarries ? 1u : 0u);
    EXPECT_EQ(iis.vAdded.size(), bCarries ? 1u : 0u);
    EXPECT_EQ(iis.vSet.size(), bCarries ? 1u : 0u);
    iis.mapHeaders["Referer:"] = "r";
    std::string csValue;
    EXPECT_EQ(CBaseNotifications::GetRequestHeader(&context, "Referer:", csValue), bCarries);
    EXPECT_EQ(csValue, bCarries ? "r" : "");
}

INSTANTIATE_TEST_SUITE_P(Notifications, HeaderHelpersPerNotification,
                         ::testing::Values(std::make_pair(SF_NOTIFY_PREPROC_HEADERS, true),
                                           std::make_pair(SF_NOTIFY_AUTH_COMPLETE, true),
                                           std::make_pair(SF_NOTIFY_SEND_RESPONSE, true),
                                           std::make_pair(SF_NOTIFY_SEND_RAW_DATA, false),
                                           std::make_pair(SF_NOTIFY_END_OF_REQUEST, false),
                                           std::make_pair(SF_NOTIFY_AUTHENTICATION, false)),
                         [](const auto& info) { return HostNotificationName(info.param.first); });

TEST(HeaderHelpers, MissingFilterContextOrCallbackGivesZeroAndLogs) {
    CLogCapture capture;
    CFakeIis iis;
    CDLLContext context;
    iis.Attach(context, SF_NOTIFY_SEND_RESPONSE);
    context.m_pFilterContext = nullptr;
    EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&context, "X-A:", "1"), 0u);
    iis.Attach(context, SF_NOTIFY_SEND_RESPONSE);
    iis.headers.SetHeader = nullptr;
    EXPECT_EQ(CBaseNotifications::SetHeader(&context, "URL", "/"), 0u);
    EXPECT_EQ(CBaseNotifications::AddWorkerHeader(nullptr, "X-B:", "1"), 0u);
    EXPECT_TRUE(capture.Contains("[AddWorkerHeader] for header: X-A: return 0"));
    EXPECT_TRUE(capture.Contains("[SetHeader] for header: URL return 0"));
    EXPECT_TRUE(capture.Contains("[AddWorkerHeader] for header: X-B: return 0"));
}

// The two-call protocol: size query, then a read into size + 1 bytes; what a failure of either call leaves.
TEST(GetIISParmT, ReadsValuesOfAnyLengthAndFailsCleanly) {
    const struct {
        const char* pszName;
        size_t cbValue; // (size_t)-1: no such value
        DWORD dwFirstCallError;
        bool bFailSecondRead;
        bool bResult;
        int nReads;
        const char* pszLine; // the one line logged, or null for none
    } aCases[] = {
        {"1 byte", 1, ERROR_INSUFFICIENT_BUFFER, false, true, 2, nullptr},
        {"4096 bytes", 4096, ERROR_INSUFFICIENT_BUFFER, false, true, 2, nullptr},
        {"70000 bytes", 70000, ERROR_INSUFFICIENT_BUFFER, false, true, 2, nullptr},
        {"empty: done at the first call", 0, ERROR_INSUFFICIENT_BUFFER, false, true, 1, nullptr},
        {"missing: silent", size_t(-1), ERROR_INSUFFICIENT_BUFFER, false, false, 1, nullptr},
        {"sizing 87", 5, ERROR_INVALID_PARAMETER, false, false, 1,
         "GetIISParmT  GetServerVariable failed V Error 87"},
        {"sizing 232", 5, ERROR_NO_DATA, false, false, 1,
         "GetIISParmT  GetServerVariable failed V Error 232"},
        {"sizing 1413", 5, ERROR_INVALID_INDEX, false, false, 1,
         "GetIISParmT  GetServerVariable failed V Error 1413"},
        {"sizing 5: silent", 5, ERROR_ACCESS_DENIED, false, false, 1, nullptr},
        {"sizing 234: silent", 5, ERROR_MORE_DATA, false, false, 1, nullptr},
        {"second read", 5, ERROR_INSUFFICIENT_BUFFER, true, false, 2, "GetIISParmT V failed Error: 232   "},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        CLogCapture capture;
        capture.Clear();
        CFakeIis iis;
        if (c.cbValue != size_t(-1))
            iis.mapServerVariables["V"] = std::string(c.cbValue, 'x');
        iis.dwFirstCallError = c.dwFirstCallError;
        iis.bFailSecondRead = c.bFailSecondRead;
        iis.dwSecondReadError = ERROR_NO_DATA;
        std::string csValue = "kept";
        EXPECT_EQ(CBaseNotifications::GetIISParmT(&iis.filterContext, iis.filterContext.GetServerVariable,
                                                  "V", csValue),
                  c.bResult);
        // A value is replaced only by a read; a failed second read leaves it empty.
        const bool bRead = c.bResult ? c.cbValue > 0 : c.bFailSecondRead;
        EXPECT_EQ(csValue, bRead ? std::string(c.bResult ? c.cbValue : 0, 'x') : "kept");
        EXPECT_EQ(iis.nReads, c.nReads);
        ASSERT_EQ(capture.Lines().size(), c.pszLine ? 1u : 0u);
        if (c.pszLine) {
            EXPECT_NE(capture.Lines()[0].find(c.pszLine), std::string::npos) << capture.Lines()[0];
        }
    }
}

TEST(GetServerVariable, ReadsInEveryHandledNotificationOnly) {
    CFakeIis iis;
    iis.mapServerVariables["LOGON_USER"] = "DOM\\user";
    for (DWORD dwType : {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE, SF_NOTIFY_SEND_RESPONSE,
                         SF_NOTIFY_SEND_RAW_DATA, SF_NOTIFY_END_OF_REQUEST, SF_NOTIFY_AUTHENTICATION}) {
        CDLLContext context;
        iis.Attach(context, dwType);
        std::string csValue;
        EXPECT_EQ(CBaseNotifications::GetServerVariable(&context, "LOGON_USER", csValue), 0u);
        EXPECT_EQ(csValue, dwType == SF_NOTIFY_AUTHENTICATION ? "" : "DOM\\user") << dwType;
    }
}

// Nine pairs in order during SEND_RESPONSE, up to the first one the server refuses; none at END_OF_REQUEST.
TEST(NoCacheHeaders, NinePairsDuringSendResponseUpToTheFirstRefused) {
    const std::vector<std::pair<std::string, std::string>> vAll = {{"X-BKProduct:", "WK_SW"},
                                                                   {"Pragma:", "no-cache"},
                                                                   {"Cache-control:", "no-cache"},
                                                                   {"Cache-control:", "must-revalidate"},
                                                                   {"Cache-control:", "max-age=0"},
                                                                   {"Cache-control:", "s-maxage=0"},
                                                                   {"Cache-control:", "no-store"},
                                                                   {"Cache-control:", "private"},
                                                                   {"Cache-control:", "proxy-revalidate"}};
    for (int nFailAt : {-1, 0, 1, 8}) {
        CLogCapture capture;
        CFakeIis iis;
        iis.nAddHeaderFailAt = nFailAt;
        CDLLContext context;
        iis.Attach(context, SF_NOTIFY_SEND_RESPONSE);
        EXPECT_EQ(CNotificationsHelper::AddNoCacheHeaders(&context), nFailAt < 0) << nFailAt;
        EXPECT_EQ(iis.vAdded,
                  decltype(vAll)(vAll.begin(), nFailAt < 0 ? vAll.end() : vAll.begin() + nFailAt));
        EXPECT_EQ(capture.Count("[CNotificationsHelper::AddNoCacheHeaders] returns <TRUE>"),
                  nFailAt < 0 ? 1u : 0u);
    }
    CLogCapture capture;
    CFakeIis iis;
    CDLLContext context;
    iis.Attach(context, SF_NOTIFY_END_OF_REQUEST);
    EXPECT_FALSE(CNotificationsHelper::AddNoCacheHeaders(&context));
    EXPECT_TRUE(iis.vAdded.empty());
    EXPECT_TRUE(capture.Contains("[CNotificationsHelper::AddNoCacheHeaders] returns <FALSE>"));
}

struct CSentResponse {
    std::string csText;
    DWORD cb = 0;
    CCoreServices* pTable = nullptr;
};
thread_local CSentResponse t_sent;

DWORD RecordResponse(CDLLContext*, const char* pszResponse, DWORD* pcb, CCoreServices* pTable) {
    t_sent = {pszResponse, *pcb, pTable};
    return 12345; // the module does not look at it
}

TEST(SendResponse, CallsSlotEightAndCompletesTheRequest) {
    CLogCapture capture;
    CCoreServices services;
    services.SendResponse = &RecordResponse;
    CDLLContext context;
    context.m_pCoreServices = &services;
    EXPECT_EQ(CBaseNotifications::SendResponse(&context, "HTTP/1.1 200 OK\r\n\r\nbody", "base page", 23), 0u);
    EXPECT_EQ(context.m_dwControlMessage, CM_COMPLETED);
    EXPECT_EQ(t_sent.csText, "HTTP/1.1 200 OK\r\n\r\nbody");
    EXPECT_EQ(t_sent.cb, 23u);
    EXPECT_EQ(t_sent.pTable, &services);
    EXPECT_TRUE(capture.Contains("[CBaseNotifications::SendResponse] SendResponse base page"));
}

TEST(SendResponse, MissingServiceGivesSevenAndKeepsControlMessage) {
    CCoreServices services;
    CDLLContext context;
    context.m_dwControlMessage = CM_NONE;
    EXPECT_EQ(CBaseNotifications::SendResponse(&context, "x", "label", 1), ERROR_ARENA_TRASHED);
    context.m_pCoreServices = &services;
    EXPECT_EQ(CBaseNotifications::SendResponse(&context, "x", "label", 1), ERROR_ARENA_TRASHED);
    EXPECT_EQ(context.m_dwControlMessage, CM_NONE);
}

} // namespace
