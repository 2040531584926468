#include "host/common/HostReportJson.h"
#include "host/common/JsonWriter.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

namespace {

using namespace tabletest;

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
