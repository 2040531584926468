// Response headers and logoff through the test host, and a whole request sequence through the module file.
#include "filter/CNotifications.h"
#include "guard/CSendResponseHelper.h"
#include "host/common/HostSession.h"
#include "request/CWKSWContext.h"
#include "tests/guard/GuardTestSupport.h"

namespace {

using tabletest::TRow;

class SendResponseTable : public GuardTest, public ::testing::WithParamInterface<TRow> {};

std::string Joined(const std::vector<CHostHeader>& vHeaders) {
    std::string csJoined;
    for (const CHostHeader& header : vHeaders)
        csJoined += (csJoined.empty() ? "" : "^") + header.m_csName + "=" + header.m_csValue;
    return csJoined.empty() ? "-" : csJoined;
}

TEST_P(SendResponseTable, StatusAndLogoff) {
    const TRow& row = GetParam();
    Start("-");
    CHostRequest request = BaseRequest().SubscriptionType(std::stoul(row.at(1))).Url(row.at(2));
    request.ResponseStatus(std::stoul(row.at(3)));
    if (row.at(4) != "-")
        request.InterimStatus(std::stoul(row.at(4)));
    if (row.at(5) != "-")
        request.Cookie(row.at(5));
    if (row.at(6) != "-")
        request.FailAddHeaderAfter(std::stoul(row.at(6)));
    const CHostRunRecord record = m_host.Run(request);
    const CHostNotificationRecord* pLast = nullptr;
    for (const CHostNotificationRecord& notification : record.m_vNotifications)
        if (notification.m_dwCode == SF_NOTIFY_SEND_RESPONSE)
            pLast = &notification;
    ASSERT_NE(pLast, nullptr);
    EXPECT_EQ(pLast->m_dwResult, std::stoul(row.at(7)));
    EXPECT_STREQ(ControlMessageWord(pLast->m_dwControlMessage), row.at(8).c_str());
    EXPECT_EQ(Joined(record.AllHeadersAdded()), row.at(9));
    EXPECT_EQ(pLast->m_bWorkerContext, row.at(10) == "1");
    // A context freed by the logoff is not freed again at the end of the request.
    EXPECT_EQ(m_host.LogContains("[CNotifications::NotifyEndOfRequest] delete"), row.at(10) == "1");
    EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();
}

INSTANTIATE_TEST_SUITE_P(Responses, SendResponseTable,
                         ::testing::ValuesIn(tabletest::ReadTable("guard/send-response.txt")),
                         tabletest::RowName);

// Contexts no host sends after a followed request: a logoff's worker context goes whatever failed before.
TEST_F(GuardTest, SendResponseWithoutWhatItNeeds) {
    Start("-");
    CNotifications handler;
    EXPECT_EQ(handler.NotifySendResponse(nullptr), ERROR_INVALID_DATA);
    CDLLContext context;
    context.m_dwSubscriptionType = ST_LOGOFF;
    for (bool bOutbound : {false, true}) {
        if (bOutbound)
            context.m_spOutboundContext = std::make_shared<COutboundContext>(); // but CF_ENABLED is missing
        context.m_dwControlMessage = CM_NONE;
        context.m_pMyOwnContext = new CWKSWContext("en", 4105);
        EXPECT_EQ(handler.NotifySendResponse(&context), ERROR_INVALID_DATA);
        EXPECT_EQ(context.m_dwControlMessage, CM_IGNORE);
        EXPECT_EQ(context.m_pMyOwnContext, nullptr);
    }
    EXPECT_EQ(CSendResponseHelper::AddRemoveUserContextCookieHeaders(nullptr), ERROR_ARENA_TRASHED);
    EXPECT_EQ(CSendResponseHelper::AddRemoveUserContextCookieHeaders(&context), ERROR_ARENA_TRASHED);
}

// The module file as a host loads it: a base request, a followed page and a logoff of one session.
TEST(GuardModuleTest, BasePagePageAndLogoffThroughTheModuleFile) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_MODULE_PATH)) << WK_MODULE_PATH;
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;
    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);
    CHostRequest request = GuardTest::BaseRequest().Cookie("UserContext=1");

    const CHostRunRecord base = session.Run(CHostRequest(request).SubscriptionType(ST_OWA_FOLDER));
    const CHostRunRecord page =
        session.Run(CHostRequest(request).Url("/owa/?modurl=0").SubscriptionType(ST_MODURL));
    const CHostRunRecord logoff =
        session.Run(CHostRequest(request).Url("/owa/logoff.owa").SubscriptionType(ST_LOGOFF));
    session.TerminateFilter(0);
    ASSERT_EQ(base.AllResponses().size(), 1u);
    EXPECT_TRUE(
        base.AllResponses()[0].m_csText.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"));
    EXPECT_FALSE(base.WasSent(SF_NOTIFY_SEND_RESPONSE));
    EXPECT_EQ(page.AllHeadersAdded().size(), 9u);
    EXPECT_TRUE(page.AllResponses().empty());
    ASSERT_EQ(logoff.AllHeadersAdded().size(), 1u);
    EXPECT_EQ(logoff.AllHeadersAdded()[0].m_csValue,
              "UserContext=; path=/; expires=Thu, 01-Jan-1970 00:00:00 GMT");
    for (const CHostRunRecord* pRecord : {&base, &page, &logoff}) {
        EXPECT_TRUE(pRecord->m_vAnomalies.empty()) << pRecord->m_vAnomalies.front();
        for (const CHostNotificationRecord& notification : pRecord->m_vNotifications)
            EXPECT_FALSE(notification.m_bException) << notification.m_csName;
    }
}

} // namespace
