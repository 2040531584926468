#include "host/common/HostReportJson.h"
#include "host/common/HostRequest.h"
#include "host/common/JsonWriter.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace tabletest;
using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(HostRequestTest, SplitsTheUrlIntoPathAndQuery) {
    for (const TRow& row : ReadTable("host/url-split.txt")) {
        auto spInfo = CHostRequest().Url(row[0]).BuildRequestInfo();
        EXPECT_EQ(spInfo->m_mapRequestValues.at("URL"), row[1]) << row[0];
        EXPECT_EQ(spInfo->m_mapRequestValues.at("QUERY_STRING"), row[2]) << row[0];
    }
}

TEST(HostRequestTest, ParsesQueryStrings) {
    for (const TRow& row : ReadTable("host/query-strings.txt")) {
        Pairs vExpected;
        for (size_t i = 1; i < row.size(); ++i)
            vExpected.emplace_back(row[i].substr(0, row[i].find('=')), row[i].substr(row[i].find('=') + 1));
        EXPECT_EQ(ParseQueryString(row[0]), vExpected) << row[0];
    }
}

TEST(HostRequestTest, DerivesRequestValuesThatCanBeOverriddenAndRemoved) {
    CHostRequest request;
    request.Method("POST").Url("/owa/logon.aspx?CMD=logoff&bkWKbase=1").UserAgent("Mozilla/5.0 (X11)");
    request.Cookie("a=b; c=d").AcceptLanguage("fr-CA,fr;q=0.8").Referer("https://mail/owa/");
    auto spInfo = request.BuildRequestInfo();
    // The referer is a header, not a request value.
    std::map<std::string, std::string> mapExpected;
    for (const TRow& row : ReadTable("host/request-values.txt"))
        mapExpected[row[0]] = row.at(1);
    EXPECT_EQ(spInfo->m_mapRequestValues, mapExpected);

    // Headers not given are absent, not empty.
    EXPECT_EQ(CHostRequest().BuildRequestInfo()->m_mapRequestValues.count("HTTP_USER_AGENT"), 0u);
    EXPECT_EQ(CHostRequest().UserAgent("").BuildRequestInfo()->m_mapRequestValues.at("HTTP_USER_AGENT"), "");

    request.RequestValue("BK_USERNAME", "alice").RequestValue("HTTP_URL", "/other/");
    request.WithoutRequestValue("HTTP_METHOD").RequestValue("Referer:", "https://r/");
    spInfo = request.BuildRequestInfo();
    EXPECT_EQ(spInfo->m_mapRequestValues.at("HTTP_URL"), "/other/");
    EXPECT_EQ(spInfo->m_mapRequestValues.at("BK_USERNAME"), "alice");
    EXPECT_EQ(spInfo->m_mapRequestValues.count("HTTP_METHOD"), 0u);
    EXPECT_EQ(spInfo->m_mapRequestValues.at("Referer:"), "https://r/");
}

TEST(HostRequestTest, DerivesServerVariablesAndHeaders) {
    CHostRequest request;
    request.Method("GET").Url("/owa/?a=1").Referer("https://r/").UserAgent("UA").Cookie("k=v");
    request.AcceptLanguage("de").Header("BK_User-Agent:", "Inner UA").Header("X-Two", "2");
    request.ServerVariable("LOGON_USER", "EXAMPLE\\bob").ServerVariable("http_cookie", "override=1");
    auto mapVariables = request.BuildServerVariables();
    for (const TRow& row : ReadTable("host/server-variables.txt")) {
        auto it = mapVariables.find(row[0]);
        ASSERT_NE(it, mapVariables.end()) << row[0];
        EXPECT_EQ(it->second, Bytes(row[1])) << row[0];
    }
    // Headers keep their order, the named ones first, and lose their colon.
    Pairs vHeaders;
    for (const TRow& row : ReadTable("host/request-headers.txt"))
        vHeaders.emplace_back(row[0], row.at(1));
    EXPECT_EQ(request.BuildHeaders(), vHeaders);
}

void ExpectParts(const std::string& csText, const std::vector<TRow>& vParts) {
    for (const TRow& part : vParts)
        EXPECT_NE(csText.find(part[0]), std::string::npos) << part[0] << "\nin\n" << csText;
}

TEST(JsonQuoteTest, EscapesAsDocumented) {
    for (const TRow& row : ReadTable("host/json-quote.txt"))
        EXPECT_EQ(JsonQuote(Bytes(row[0])), '"' + Bytes(row[1]) + '"') << row[0];
}

TEST(HostReportJsonTest, SerialisesAReport) {
    CHostReport report;
    // Without a run, the request and the log are null.
    std::string csJson = HostReportToJson(report, false);
    ExpectParts(csJson, {{R"("request":null,"notifications":[],"skipped":[])"}, {R"("log":null})"}});
    // The pretty form ends with a line end; the compact one has none.
    EXPECT_EQ(HostReportToJson(report, true).back(), '\n');
    EXPECT_EQ(csJson.back(), '}');

    report.m_csModulePath = "/opt/x/Wendrake/bin/WK_ServiceWorker.so";
    report.m_version = {true, TRUE, 0, 0, 0x40264C0, "Brindlemark Wendrake", true, false, ""};
    report.m_bRan = true;
    report.m_request.m_csMethod = "GET";
    report.m_request.m_csUrl = "/owa/?a=\"1\"";
    CHostNotificationRecord notification;
    notification.m_csName = "SEND_RESPONSE";
    notification.m_dwCode = 0x40;
    notification.m_dwControlMessage = 1;
    notification.m_vHeadersAdded.push_back({"X-BKProduct:", "WK_SW", true});
    notification.m_vResponses.push_back({"line1\r\nline2\x01", 14, true});
    CHostBufferSubmission submission;
    submission.m_uInstructions = 0x1234;
    submission.m_vInstructions.push_back({0, 7, "<b>\"", 0});
    submission.m_vInstructions.push_back({1, 9, "", 3});
    submission.m_bApplied = false;
    submission.m_csApplyError = "instruction 1 deletes past the end of the page";
    notification.m_vBufferSubmissions.push_back(submission);
    report.m_run.m_vNotifications.push_back(notification);
    report.m_run.m_vSkipped.push_back(
        {"SEND_RAW_DATA", 0x400, "control message 1 (Ignore) after SEND_RESPONSE"});
    report.m_bLogShown = true;
    report.m_csLogFile = "/var/log/x.txt";
    report.m_vLogLines = {"[A::B] Starts."};
    ExpectParts(HostReportToJson(report, false), ReadTable("host/report-parts.txt"));
}

} // namespace
