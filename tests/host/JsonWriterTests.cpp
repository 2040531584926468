#include "host/common/HostReportJson.h"
#include "host/common/JsonWriter.h"
#include "tests/text/TableFile.h"

#include <gtest/gtest.h>

namespace {

using namespace testtable;

void ExpectParts(const std::string& csText, const std::vector<CRow>& vParts) {
    for (const CRow& part : vParts)
        EXPECT_NE(csText.find(part[0]), std::string::npos) << part[0] << "\nin\n" << csText;
}

TEST(JsonQuoteTest, EscapesAsDocumented) {
    for (const CRow& row : ReadTable("host/json-quote.tsv"))
        EXPECT_EQ(JsonQuote(row[0]), '"' + row[1] + '"') << "input of " << row[0].size() << " bytes";
}

TEST(JsonWriterTest, WritesCompactAndPrettyStructure) {
    CJsonWriter json(false);
    EXPECT_FALSE(json.IsComplete());
    json.BeginObject().Key("a").Number(uint64_t{1}).Key("we\"ird\n").BeginArray().Bool(true).Null();
    json.String("x").Number(int64_t{-5}).EndArray().Key("c").BeginObject().EndObject();
    EXPECT_FALSE(json.IsComplete());
    json.Key("d").BeginArray().EndArray().EndObject();
    EXPECT_TRUE(json.IsComplete());
    // A stray close does not damage what was written.
    json.EndArray();
    EXPECT_EQ(json.Text(), R"({"a":1,"we\"ird\n":[true,null,"x",-5],"c":{},"d":[]})");

    CJsonWriter pretty(true);
    pretty.BeginObject().Key("list").BeginArray().Number(uint32_t{1}).Number(uint32_t{2}).EndArray().Key("o");
    pretty.BeginObject().EndObject().EndObject();
    EXPECT_EQ(pretty.Text(), "{\n  \"list\": [\n    1,\n    2\n  ],\n  \"o\": {}\n}");
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
    ExpectParts(HostReportToJson(report, false), ReadTable("host/report-parts.txt", false));
}

} // namespace
