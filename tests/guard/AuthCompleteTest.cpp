// Authentication-complete handling and the base page, through the test host against the linked core.
#include "filter/CNotifications.h"
#include "guard/CAuthCompleteHelper.h"
#include "guard/JavaScriptText.h"
#include "tests/guard/GuardTestSupport.h"

namespace {

using tabletest::Bytes;
using tabletest::TRow;

class BasePageTable : public GuardTest, public ::testing::WithParamInterface<TRow> {};

// The guard script block of a base page: from its opening line to the end of the head.
std::string ScriptBlock(const std::string& csResponse) {
    const size_t nStart = csResponse.find("\r\n<script language=JavaScript>");
    const size_t nEnd = csResponse.find("</head>");
    return nStart == std::string::npos || nEnd < nStart ? std::string()
                                                        : csResponse.substr(nStart, nEnd - nStart);
}

TEST_P(BasePageTable, ExactBytes) {
    const TRow& row = GetParam();
    Start(row.at(1));
    CHostRequest request = BaseRequest().UserAgent(row.at(2)).Url(row.at(3));
    request.SubscriptionType(std::stoul(row.at(4))).LinkCriteria(std::stoul(row.at(5)));
    if (row.at(6) != "-")
        request.AcceptLanguage(row.at(6));
    if (row.at(7) != "-")
        request.ExchangeServer(row.at(7));
    if (row.at(8) != "-")
        request.ServerVariable("HEADER_BK_USER-AGENT", row.at(8));
    const CHostRunRecord record = m_host.Run(request);
    const CHostNotificationRecord* pAuth = record.Find(SF_NOTIFY_AUTH_COMPLETE);
    ASSERT_NE(pAuth, nullptr);
    ASSERT_EQ(pAuth->m_vResponses.size(), 1u);
    EXPECT_EQ(pAuth->m_dwControlMessage, CM_COMPLETED);
    const CHostResponse& response = pAuth->m_vResponses[0];
    EXPECT_EQ(response.m_dwByteCount, response.m_csText.size());
    const std::string csExpected = ReadFixture(row.at(9));
    ASSERT_FALSE(csExpected.empty()) << row.at(9);
    if (row.at(9).starts_with("page-")) {
        EXPECT_EQ(response.m_csText, csExpected);
        return;
    }
    EXPECT_EQ(ScriptBlock(response.m_csText), csExpected);
    // The script address stands in an attribute: whatever the server part holds stays attribute text.
    if (row.at(7) != "-") {
        EXPECT_NE(response.m_csText.find(
                      "src=\"https://mail.example.com/a&quot;b&lt;c&gt;&amp;&#39;d/owa/BKScripts/Wendrake/"
                      "1.2/abcdebk_WKUtil.js\""),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, BasePageTable,
                         ::testing::ValuesIn(tabletest::ReadTable("guard/base-pages.txt")),
                         tabletest::RowName);

class AuthCompleteTable : public GuardTest, public ::testing::WithParamInterface<TRow> {};

TEST_P(AuthCompleteTable, ResultAndState) {
    const TRow& row = GetParam();
    Start(row.at(1));
    CHostRequest request = BaseRequest().Identity(row.at(2) == "none" ? nullptr : Alice());
    request.SubscriptionType(std::stoul(row.at(3))).Url(row.at(4));
    const std::string& csTweak = row.at(5);
    if (csTweak == "username")
        request.RequestValue("BK_USERNAME", "CORP\\bob");
    else if (csTweak == "explicit")
        request.RequestValue("HTTP_X_OWA_EXPLICITLOGONUSER", "bob@example.com");
    else if (csTweak == "noquery")
        request.WithoutRequestValue("QUERY_STRING");
    else if (csTweak == "nourl")
        request.RequestValue("URL", "");
    else if (csTweak == "nocsm")
        request.ServerVariable("HEADER_BK_CSMPREFIX", "");
    else if (csTweak == "nosend")
        request.Without(EHostPart::SendResponse);
    const CHostRunRecord record = m_host.Run(request);
    const CHostNotificationRecord* pAuth = record.Find(SF_NOTIFY_AUTH_COMPLETE);
    ASSERT_NE(pAuth, nullptr);
    EXPECT_EQ(pAuth->m_dwResult, std::stoul(row.at(6)));
    EXPECT_STREQ(ControlMessageWord(pAuth->m_dwControlMessage), row.at(7).c_str());
    EXPECT_EQ(pAuth->m_vResponses.size(), std::stoul(row.at(8)));
    EXPECT_EQ(pAuth->m_bWorkerContext, row.at(9) == "1");
    EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();
}

INSTANTIATE_TEST_SUITE_P(Requests, AuthCompleteTable,
                         ::testing::ValuesIn(tabletest::ReadTable("guard/auth-complete.txt")),
                         tabletest::RowName);

// Calls without the objects a host always gives: nothing is answered and nothing is left attached.
TEST_F(GuardTest, MissingObjectsFailWithoutAnAnswer) {
    Start("-");
    CNotifications handler;
    EXPECT_EQ(handler.NotifyAuthComplete(nullptr), ERROR_INVALID_DATA);
    CDLLContext context;
    EXPECT_EQ(handler.NotifyAuthComplete(&context), ERROR_INVALID_DATA);
    EXPECT_EQ(context.m_dwControlMessage, CM_IGNORE);
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    context.m_spRequestInfo->m_mapRequestValues["HTTP_USER_AGENT"] = "";
    context.m_spExchangeURL = std::make_shared<CExchangeURL>();
    std::string csScript = "stale";
    EXPECT_EQ(CAuthCompleteHelper::GetWendrakeJavaScriptString(&context, csScript), ERROR_INVALID_DATA);
    EXPECT_EQ(csScript, "");
    context.m_spRequestInfo->m_mapRequestValues.clear();
    EXPECT_EQ(CAuthCompleteHelper::GetWendrakeJavaScriptString(&context, csScript), ERROR_ARENA_TRASHED);
    EXPECT_EQ(CAuthCompleteHelper::SendBaseHTMLResponse(nullptr), ERROR_INVALID_DATA);
    context.m_spExchangeURL.reset();
    EXPECT_EQ(CAuthCompleteHelper::SendBaseHTMLResponse(&context), ERROR_INVALID_DATA);
    EXPECT_EQ(CAuthCompleteHelper::GetWendrakeJavaScriptString(&context, csScript), ERROR_ARENA_TRASHED);
    EXPECT_EQ(context.m_pMyOwnContext, nullptr);
}

class JavaScriptEscapeTable : public ::testing::TestWithParam<TRow> {};

TEST_P(JavaScriptEscapeTable, EscapesWhatCouldEndTheLiteralOrTheBlock) {
    std::string csOut = "stale";
    EscapeJavaScriptString(csOut, tabletest::Units(GetParam().at(1)));
    EXPECT_EQ(csOut, Bytes(GetParam().at(2)));
}

INSTANTIATE_TEST_SUITE_P(Texts, JavaScriptEscapeTable,
                         ::testing::ValuesIn(tabletest::ReadTable("guard/js-escape.txt")),
                         tabletest::RowName);

} // namespace
