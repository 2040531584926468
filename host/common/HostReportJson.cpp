#include "host/common/HostReportJson.h"

#include "host/common/JsonWriter.h"

#include <cstdio>

namespace {

void WriteException(CJsonWriter& json, bool bException, const std::string& csText) {
    json.Key("exception");
    if (bException)
        json.String(csText);
    else
        json.Null();
}

void WriteHeaders(CJsonWriter& json, const char* pszKey, const std::vector<CHostHeader>& vHeaders) {
    json.Key(pszKey).BeginArray();
    for (const auto& header : vHeaders)
        json.BeginObject()
            .Key("name")
            .String(header.m_csName)
            .Key("value")
            .String(header.m_csValue)
            .Key("accepted")
            .Bool(header.m_bResult)
            .EndObject();
    json.EndArray();
}

void WriteNotification(CJsonWriter& json, const CHostNotificationRecord& n) {
    json.BeginObject();
    json.Key("name").String(n.m_csName);
    json.Key("code").Number(n.m_dwCode);
    json.Key("httpStatus").Number(n.m_dwHttpStatus);
    json.Key("result").Number(n.m_dwResult);
    json.Key("controlMessage").Number(n.m_dwControlMessage);
    json.Key("controlWord").String(ControlMessageWord(n.m_dwControlMessage));
    json.Key("clientFlags").Number(n.m_dwClientFlags);
    json.Key("criteria").Number(n.m_dwCriteria);
    json.Key("workerContext").Bool(n.m_bWorkerContext);
    WriteException(json, n.m_bException, n.m_csException);
    WriteHeaders(json, "headersAdded", n.m_vHeadersAdded);
    WriteHeaders(json, "headersSet", n.m_vHeadersSet);
    json.Key("reads").BeginArray();
    for (const auto& read : n.m_vReads)
        json.BeginObject()
            .Key("callback")
            .String(read.m_csCallback)
            .Key("name")
            .String(read.m_csName)
            .Key("withBuffer")
            .Bool(read.m_bWithBuffer)
            .Key("result")
            .Bool(read.m_bResult)
            .Key("lastError")
            .Number(read.m_dwLastError)
            .Key("size")
            .Number(read.m_dwSize)
            .EndObject();
    json.EndArray();
    json.Key("supportCalls").BeginArray();
    for (const auto& call : n.m_vSupportCalls)
        json.BeginObject()
            .Key("request")
            .Number(call.m_dwRequest)
            .Key("status")
            .String(call.m_csStatus)
            .Key("headers")
            .String(call.m_csHeaders)
            .Key("result")
            .Bool(call.m_bResult)
            .EndObject();
    json.EndArray();
    json.Key("responses").BeginArray();
    for (const auto& response : n.m_vResponses) {
        json.BeginObject().Key("text").String(response.m_csText).Key("byteCount");
        if (response.m_bByteCountGiven)
            json.Number(response.m_dwByteCount);
        else
            json.Null();
        json.EndObject();
    }
    json.EndArray();
    json.Key("bufferSubmissions").BeginArray();
    for (const auto& submission : n.m_vBufferSubmissions) {
        char szAddress[32];
        std::snprintf(szAddress, sizeof(szAddress), "0x%llx",
                      static_cast<unsigned long long>(submission.m_uInstructions));
        json.BeginObject().Key("instructions");
        if (submission.m_uInstructions)
            json.String(szAddress);
        else
            json.Null();
        json.Key("result").Number(submission.m_dwResult);
        json.Key("edits").BeginArray();
        for (const auto& instruction : submission.m_vInstructions) {
            json.BeginObject().Key("type").String(instruction.m_nType == 0   ? "insert"
                                                  : instruction.m_nType == 1 ? "delete"
                                                                             : "invalid");
            json.Key("offset").Number(instruction.m_qwOffset);
            if (instruction.m_nType == 0)
                json.Key("text").String(instruction.m_csText);
            else
                json.Key("length").Number(instruction.m_dwLength);
            json.EndObject();
        }
        json.EndArray();
        json.Key("applied").Bool(submission.m_bApplied);
        if (submission.m_bApplied)
            json.Key("editedData").String(submission.m_csEditedData);
        else
            json.Key("applyError").String(submission.m_csApplyError);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

// The body as the browser receives it; null when the response had none.
void WriteDelivered(CJsonWriter& json, const CHostDeliveredBody& body) {
    json.Key("delivered");
    if (!body.m_bPresent) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key("edited").Bool(body.m_bEdited);
    json.Key("originalBytes").Number(static_cast<uint64_t>(body.m_cbOriginal));
    json.Key("contentLength").Number(static_cast<uint64_t>(body.ContentLength()));
    json.Key("headers").String(body.ContentLengthHeader());
    json.Key("body").String(body.m_csBytes);
    json.EndObject();
}

// The browser policy's decision; null when PREPROC_HEADERS was not sent.
void WriteScreening(CJsonWriter& json, const CHostRunRecord& run) {
    const CHostScreening screening = CHostScreening::Of(run);
    json.Key("screening");
    if (!screening.m_bScreened) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key("policyFlags").Number(screening.m_dwClientFlags & HOST_POLICY_CLIENT_FLAGS);
    json.Key("redirected").Bool(screening.m_bRedirected);
    json.Key("redirect");
    if (screening.m_bRedirected) {
        json.BeginObject();
        json.Key("status").String(screening.m_csStatus);
        json.Key("location").String(screening.m_csLocation);
        json.Key("setCookies").BeginArray();
        for (const std::string& csCookie : screening.m_vSetCookies)
            json.String(csCookie);
        json.EndArray();
        json.Key("headers").String(screening.m_csHeaders);
        json.EndObject();
    } else {
        json.Null();
    }
    json.EndObject();
}

} // namespace

std::string HostReportToJson(const CHostReport& report, bool bPretty) {
    CJsonWriter json(bPretty);
    json.BeginObject();
    json.Key("schema").String(HOST_REPORT_SCHEMA);
    json.Key("module").String(report.m_csModulePath);

    const CFilterVersionRecord& v = report.m_version;
    json.Key("getFilterVersion").BeginObject();
    json.Key("called").Bool(v.m_bCalled);
    json.Key("result").Number(v.m_bResult);
    json.Key("serverFilterVersion").Number(v.m_dwServerFilterVersion);
    json.Key("filterVersion").Number(v.m_dwFilterVersion);
    json.Key("flags").Number(v.m_dwFlags);
    json.Key("flagsText").String(HostNotificationFlagsText(v.m_dwFlags));
    json.Key("description").String(v.m_csDescription);
    json.Key("descriptionTerminated").Bool(v.m_bDescriptionTerminated);
    WriteException(json, v.m_bException, v.m_csException);
    json.EndObject();

    json.Key("request");
    if (report.m_bRan) {
        const CHostRequestSummary& r = report.m_request;
        json.BeginObject();
        json.Key("method").String(r.m_csMethod);
        json.Key("url").String(r.m_csUrl);
        json.Key("subscriptionType").Number(r.m_dwSubscriptionType);
        json.Key("linkCriteria").Number(r.m_dwLinkCriteria);
        json.Key("httpStatus").Number(r.m_dwHttpStatus);
        json.Key("bodyBytes");
        if (r.m_bHasBody)
            json.Number(static_cast<uint64_t>(r.m_cbBody));
        else
            json.Null();
        json.EndObject();
    } else {
        json.Null();
    }

    json.Key("notifications").BeginArray();
    for (const auto& notification : report.m_run.m_vNotifications)
        WriteNotification(json, notification);
    json.EndArray();

    json.Key("skipped").BeginArray();
    for (const auto& skipped : report.m_run.m_vSkipped)
        json.BeginObject()
            .Key("name")
            .String(skipped.m_csName)
            .Key("code")
            .Number(skipped.m_dwCode)
            .Key("reason")
            .String(skipped.m_csReason)
            .EndObject();
    json.EndArray();

    WriteScreening(json, report.m_run);
    WriteDelivered(json, report.m_run.m_body);

    json.Key("anomalies").BeginArray();
    for (const auto& csAnomaly : report.m_run.m_vAnomalies)
        json.String(csAnomaly);
    json.EndArray();

    json.Key("terminateFilter").BeginObject();
    json.Key("called").Bool(report.m_terminate.m_bCalled);
    json.Key("result").Number(report.m_terminate.m_bResult);
    WriteException(json, report.m_terminate.m_bException, report.m_terminate.m_csException);
    json.EndObject();

    json.Key("log");
    if (report.m_bLogShown) {
        json.BeginObject();
        json.Key("file").String(report.m_csLogFile);
        json.Key("note");
        if (report.m_csLogNote.empty())
            json.Null();
        else
            json.String(report.m_csLogNote);
        json.Key("lines").BeginArray();
        for (const auto& csLine : report.m_vLogLines)
            json.String(csLine);
        json.EndArray();
        json.EndObject();
    } else {
        json.Null();
    }
    json.EndObject();
    return json.Text() + (bPretty ? "\n" : "");
}
