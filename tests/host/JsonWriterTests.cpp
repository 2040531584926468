#include "host/common/HostReportJson.h"
#include "host/common/JsonWriter.h"

#include <gtest/gtest.h>

namespace {

void ExpectParts(const std::string& csText, std::initializer_list<const char*> parts) {
    for (const char* pszPart : parts)
        EXPECT_NE(csText.find(pszPart), std::string::npos) << pszPart << "\nin\n" << csText;
}

TEST(JsonQuoteTest, EscapesAsDocumented) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "\"\""},
        {"plain text", "\"plain text\""},
        {"a\"b", "\"a\\\"b\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"/owa/", "\"/owa/\""},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::string("nul\0byte", 8), "\"nul\\u0000byte\""},
        {"\x01\x1f", "\"\\u0001\\u001f\""},
        {"del\x7f", "\"del\\u007f\""},
        // Valid UTF-8 passes through: 2, 3 and 4 byte sequences.
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"\xE2\x82\xAC", "\"\xE2\x82\xAC\""},
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
        {"\xE2\x80\xA8", "\"\xE2\x80\xA8\""},
        // Anything else is read as Latin-1, byte by byte.
        {"caf\xE9", "\"caf\\u00e9\""},
        {"\xC3", "\"\\u00c3\""},
        {"\xC3(", "\"\\u00c3(\""},
        {"\xC0\xAF", "\"\\u00c0\\u00af\""},
        {"\xE0\x80\xAF", "\"\\u00e0\\u0080\\u00af\""},
        {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
        {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
        {"\xF0\x9F\x98", "\"\\u00f0\\u009f\\u0098\""},
        {"\x80", "\"\\u0080\""},
        {"\xFF\xFE", "\"\\u00ff\\u00fe\""},
        {"ok\xE9\xC3\xA9", "\"ok\\u00e9\xC3\xA9\""},
    };
    for (const auto& [csInput, csExpected] : cases)
        EXPECT_EQ(JsonQuote(csInput), csExpected) << "input of " << csInput.size() << " bytes";
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
    ExpectParts(csJson, {R"("request":null,"notifications":[],"skipped":[])", R"("log":null})"});
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
    ExpectParts(
        HostReportToJson(report, false),
        {R"({"schema":"wkctl.run/1","module":"/opt/x/Wendrake/bin/WK_ServiceWorker.so",)",
         R"("flags":67265728,"flagsText":"SEND_RESPONSE|END_OF_REQUEST|SEND_RAW_DATA|AUTHENTICATION|PREPROC_HEADERS|ORDER_LOW|AUTH_COMPLETE")",
         R"("description":"Brindlemark Wendrake","descriptionTerminated":true,"exception":null})",
         R"("url":"/owa/?a=\"1\"")", R"("bodyBytes":null)", R"("controlMessage":1,"controlWord":"Ignore")",
         R"("headersAdded":[{"name":"X-BKProduct:","value":"WK_SW","accepted":true}])",
         R"("responses":[{"text":"line1\r\nline2\u0001","byteCount":14}])",
         R"("bufferSubmissions":[{"instructions":"0x1234","result":0,"edits":[{"type":"insert","offset":7,)"
         R"("text":"<b>\""},{"type":"delete","offset":9,"length":3}],"applied":false,)"
         R"("applyError":"instruction 1 deletes past the end of the page"}])",
         R"("skipped":[{"name":"SEND_RAW_DATA","code":1024,"reason":"control message 1 (Ignore) after SEND_RESPONSE"}])",
         R"("anomalies":[])", R"("terminateFilter":{"called":false,"result":0,"exception":null})",
         R"("log":{"file":"/var/log/x.txt","note":null,"lines":["[A::B] Starts."]}})"});
}

} // namespace
