#include "host/cli/Wkctl.h"

#include "host/cli/WkctlScreen.h"
#include "host/cli/WkctlScripts.h"
#include "host/cli/WkctlTexts.h"

#include "host/cli/WkctlOptions.h"
#include "host/common/HostReportJson.h"
#include "host/common/HostSession.h"
#include "platform/posix/PosixSysLog.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace {

const char* YesNo(bool b) {
    return b ? "yes" : "no";
}

void PrintIndentedBlock(std::ostream& out, const std::string& csText, const char* pszIndent) {
    std::istringstream in(csText);
    std::string csLine;
    while (std::getline(in, csLine)) {
        if (!csLine.empty() && csLine.back() == '\r')
            csLine.pop_back();
        out << pszIndent << "| " << ReadableText(csLine) << '\n';
    }
}

void PrintInstruction(std::ostream& out, const CHostInstruction& instruction) {
    out << "    at offset " << instruction.m_qwOffset << ": ";
    if (instruction.m_nType == 0)
        out << "insert \"" << ReadableText(instruction.m_csText) << "\"\n";
    else if (instruction.m_nType == 1)
        out << "delete " << instruction.m_dwLength << " byte(s)\n";
    else
        out << "invalid instruction (type " << instruction.m_nType << ")\n";
}

// The body as the browser receives it, with the Content-Length the response carries; the bytes themselves
// only when they were not written to a file.
void PrintDelivered(std::ostream& out, const CHostDeliveredBody& body, const std::string& csWrittenTo) {
    if (!body.m_bPresent)
        return;
    out << "Response body delivered: Content-Length " << body.ContentLength();
    if (body.m_bEdited)
        out << " (edited; the page had " << body.m_cbOriginal << " bytes)";
    else
        out << " (unchanged)";
    if (!csWrittenTo.empty()) {
        out << ", written to " << ReadableText(csWrittenTo) << '\n';
        return;
    }
    out << '\n';
    PrintIndentedBlock(out, body.m_csBytes, "  ");
}

// The browser policy's decision, after the line of PREPROC_HEADERS; the redirect itself is among the
// response headers sent.
void PrintScreening(std::ostream& out, const CHostScreening& screening) {
    const DWORD dwFlags = screening.m_dwClientFlags & HOST_POLICY_CLIENT_FLAGS;
    out << "  screening: policy flags " << HostHexText(dwFlags) << " (" << HostPolicyFlagsText(dwFlags)
        << "), "
        << (screening.m_bRedirected
                ? "answered with the blocked-browser redirect to " + ReadableText(screening.m_csLocation) +
                      " resetting " + std::to_string(screening.m_vSetCookies.size()) + " cookie(s)"
                : std::string("not redirected"))
        << '\n';
}

void PrintNotification(std::ostream& out, const CHostNotificationRecord& n, const CHostScreening& screening) {
    out << n.m_csName << " (" << HostHexText(n.m_dwCode) << ")";
    if (n.m_dwCode == 0x40 || n.m_dwCode == 0x400)
        out << " status " << n.m_dwHttpStatus;
    out << ": result " << n.m_dwResult << ", control message " << n.m_dwControlMessage << " ("
        << ControlMessageWord(n.m_dwControlMessage) << "), client flags " << HostHexText(n.m_dwClientFlags)
        << ", criteria " << n.m_dwCriteria << ", worker context " << YesNo(n.m_bWorkerContext) << '\n';
    if (n.m_dwCode == SF_NOTIFY_PREPROC_HEADERS)
        PrintScreening(out, screening);
    if (n.m_bException)
        out << "  exception left HttpFilterProc: " << ReadableText(n.m_csException) << '\n';
    for (const auto& read : n.m_vReads) {
        out << "  read " << read.m_csCallback << " " << ReadableText(read.m_csName)
            << (read.m_bWithBuffer ? " (with buffer)" : " (size query)") << ": ";
        if (read.m_bResult)
            out << "TRUE, size " << read.m_dwSize << '\n';
        else
            out << "FALSE, last error " << read.m_dwLastError << ", size " << read.m_dwSize << '\n';
    }
    for (const auto& header : n.m_vHeadersSet)
        out << "  header set: " << ReadableText(header.m_csName) << " " << ReadableText(header.m_csValue)
            << (header.m_bResult ? "" : "  [refused]") << '\n';
    for (const auto& header : n.m_vHeadersAdded)
        out << "  header added: " << ReadableText(header.m_csName) << " " << ReadableText(header.m_csValue)
            << (header.m_bResult ? "" : "  [refused]") << '\n';
    for (const auto& call : n.m_vSupportCalls) {
        if (call.m_dwRequest == 0) {
            out << "  response header sent: status \"" << ReadableText(call.m_csStatus) << "\"\n";
            PrintIndentedBlock(out, call.m_csHeaders, "    ");
        } else {
            out << "  ServerSupportFunction request " << call.m_dwRequest << " refused (not supported)\n";
        }
    }
    for (const auto& response : n.m_vResponses) {
        out << "  response sent (";
        if (response.m_bByteCountGiven)
            out << response.m_dwByteCount << " bytes";
        else
            out << "no byte count";
        out << "):\n";
        PrintIndentedBlock(out, response.m_csText, "    ");
    }
    for (const auto& submission : n.m_vBufferSubmissions) {
        char szAddress[32];
        std::snprintf(szAddress, sizeof(szAddress), "0x%llx",
                      static_cast<unsigned long long>(submission.m_uInstructions));
        out << "  buffer instructions submitted: list " << (submission.m_uInstructions ? szAddress : "null")
            << ", result " << submission.m_dwResult << ", " << submission.m_vInstructions.size()
            << " instruction(s)\n";
        for (const auto& instruction : submission.m_vInstructions)
            PrintInstruction(out, instruction);
        if (submission.m_bApplied)
            out << "    applied: " << submission.m_csEditedData.size() << " bytes\n";
        else
            out << "    not applied: " << ReadableText(submission.m_csApplyError) << '\n';
    }
}

static bool WriteWholeFile(const std::string& csPath, const std::string& csContent) {
    std::ofstream out(csPath, std::ios::binary | std::ios::trunc);
    out.write(csContent.data(), static_cast<std::streamsize>(csContent.size()));
    return static_cast<bool>(out.flush());
}

uintmax_t FileSizeOrZero(const std::string& csPath) {
    std::error_code ec;
    uintmax_t qwSize = std::filesystem::file_size(csPath, ec);
    return ec ? 0 : qwSize;
}

} // namespace

bool ReadWholeFile(const std::string& csPath, std::string& csContent, std::string& csError) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(csPath, ec)) {
        csError = std::filesystem::is_directory(csPath, ec) ? "it is a folder" : "no such file";
        return false;
    }
    std::ifstream in(csPath, std::ios::binary);
    if (!in) {
        csError = "cannot open it";
        return false;
    }
    csContent.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        csError = "read error";
        return false;
    }
    return true;
}

std::string ReadableText(const std::string& csText) {
    std::string csOut;
    csOut.reserve(csText.size());
    for (unsigned char ch : csText) {
        if (ch == '\n')
            csOut += "\\n";
        else if (ch == '\r')
            csOut += "\\r";
        else if (ch == '\t')
            csOut += "\\t";
        else if (ch == '\\')
            csOut += "\\\\";
        else if (ch < 0x20 || ch == 0x7F) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof(szEscape), "\\x%02X", ch);
            csOut += szEscape;
        } else
            csOut += static_cast<char>(ch);
    }
    return csOut;
}

std::vector<std::string> ReadLogLinesSince(const std::string& csFile, uintmax_t qwBaselineSize,
                                           std::string& csNote) {
    std::vector<std::string> vLines;
    std::string csContent, csError;
    if (!ReadWholeFile(csFile, csContent, csError)) {
        csNote = "the log file cannot be read (" + csError + ")";
        return vLines;
    }
    size_t nStart = 0;
    if (csContent.size() < qwBaselineSize)
        csNote = "the log file is smaller than before the run (wrapped or replaced); showing all of it";
    else
        nStart = static_cast<size_t>(qwBaselineSize);
    std::string csLine;
    auto Flush = [&]() {
        if (!csLine.empty() && csLine.back() == '\r')
            csLine.pop_back();
        // A wrapping writer pads with zero bytes and blanks; such stretches are not lines.
        if (csLine.find_first_not_of(std::string(" \0", 2)) != std::string::npos)
            vLines.push_back(csLine);
        csLine.clear();
    };
    for (size_t i = nStart; i < csContent.size(); ++i) {
        if (csContent[i] == '\n')
            Flush();
        else
            csLine += csContent[i];
    }
    Flush();
    return vLines;
}

void PrintHostReport(const CHostReport& report, std::ostream& out) {
    const CFilterVersionRecord& v = report.m_version;
    out << "Module: " << ReadableText(report.m_csModulePath) << '\n';
    out << "GetFilterVersion: " << v.m_bResult;
    if (v.m_bException)
        out << " (an exception left it: " << ReadableText(v.m_csException) << ")";
    out << '\n';
    out << "  filter version " << HostHexText(v.m_dwFilterVersion) << ", flags " << HostHexText(v.m_dwFlags)
        << " (" << HostNotificationFlagsText(v.m_dwFlags) << ")\n";
    out << "  description \"" << ReadableText(v.m_csDescription) << "\""
        << (v.m_bDescriptionTerminated ? "" : " (not terminated inside its field)") << '\n';

    if (report.m_bRan) {
        const CHostRequestSummary& r = report.m_request;
        out << "Request: " << ReadableText(r.m_csMethod) << " " << ReadableText(r.m_csUrl)
            << ", subscription type " << r.m_dwSubscriptionType << ", link criteria " << r.m_dwLinkCriteria
            << ", response status " << r.m_dwHttpStatus;
        if (r.m_bHasBody)
            out << ", body " << r.m_cbBody << " bytes";
        out << '\n';
        // In the host's order, the notifications left out where they would have come.
        const CHostScreening screening = CHostScreening::Of(report.m_run);
        for (DWORD dwCode : HOST_NOTIFICATION_ORDER) {
            for (const auto& notification : report.m_run.m_vNotifications)
                if (notification.m_dwCode == dwCode)
                    PrintNotification(out, notification, screening);
            for (const auto& skipped : report.m_run.m_vSkipped)
                if (skipped.m_dwCode == dwCode)
                    out << skipped.m_csName << ": not sent (" << skipped.m_csReason << ")\n";
        }
        PrintDelivered(out, report.m_run.m_body, report.m_csBodyWrittenTo);
        for (const auto& csAnomaly : report.m_run.m_vAnomalies)
            out << "Anomaly: " << ReadableText(csAnomaly) << '\n';
    }
    if (report.m_terminate.m_bCalled) {
        out << "TerminateFilter: " << report.m_terminate.m_bResult;
        if (report.m_terminate.m_bException)
            out << " (an exception left it: " << ReadableText(report.m_terminate.m_csException) << ")";
        out << '\n';
    }
    if (report.m_bLogShown) {
        out << "Log " << ReadableText(report.m_csLogFile) << ": " << report.m_vLogLines.size()
            << " new line(s)";
        if (!report.m_csLogNote.empty())
            out << " (" << report.m_csLogNote << ")";
        out << '\n';
        for (const auto& csLine : report.m_vLogLines)
            out << "  " << ReadableText(csLine) << '\n';
        if (const char* pszSource = LanguageSourceFromLog(report.m_vLogLines))
            out << "Language of the user from: " << pszSource << '\n';
    }
}

namespace {

// A report whose log lines can only be read when the process ends: a module that cannot be unloaded (its
// threads' storage still needs its destructors) writes out its buffered log in its static destructors at
// exit. The handler is registered before the module is loaded, so it runs after those destructors.
struct CDeferredReport {
    bool m_bPending = false;
    CHostReport m_report;
    bool m_bJson = false;
    uintmax_t m_qwLogBaseline = 0;
};

CDeferredReport& DeferredReport() {
    static CDeferredReport s_deferred;
    return s_deferred;
}

void FillLog(CHostReport& report, const std::string& csLogFile, uintmax_t qwBaseline) {
    report.m_bLogShown = true;
    report.m_csLogFile = csLogFile;
    report.m_vLogLines = ReadLogLinesSince(csLogFile, qwBaseline, report.m_csLogNote);
}

std::string ReportText(const CHostReport& report, bool bJson) {
    if (bJson)
        return HostReportToJson(report);
    std::ostringstream out;
    PrintHostReport(report, out);
    return out.str();
}

void PrintDeferredReportAtExit() {
    CDeferredReport& deferred = DeferredReport();
    if (!deferred.m_bPending)
        return;
    deferred.m_bPending = false;
    FillLog(deferred.m_report, deferred.m_report.m_csLogFile, deferred.m_qwLogBaseline);
    std::string& csNote = deferred.m_report.m_csLogNote;
    csNote += std::string(csNote.empty() ? "" : "; ") + "read at process exit: the module stayed loaded";
    std::string csText = ReportText(deferred.m_report, deferred.m_bJson);
    std::fwrite(csText.data(), 1, csText.size(), stdout);
    std::fflush(stdout);
}

} // namespace

int RunWkctl(const std::vector<std::string>& vArgs, std::ostream& out, std::ostream& err,
             bool bMayDeferToExit) {
    CWkctlOptions options;
    std::string csError;
    if (!ParseWkctlArguments(vArgs, options, csError)) {
        err << "wkctl: " << csError << "\nTry 'wkctl --help'.\n";
        return WKCTL_EXIT_USAGE;
    }
    if (options.m_bHelp) {
        out << options.m_csHelp;
        return WKCTL_EXIT_COMPLETED;
    }
    if (options.m_csCommand == "texts")
        return RunWkctlTexts(options, out, err);
    if (options.m_csCommand == "screen")
        return RunWkctlScreen(options, out, err);
    if (options.m_csCommand == "scripts")
        return RunWkctlScripts(options, out, err);

    std::string csBody;
    if (!options.m_csBodyFile.empty() && !ReadWholeFile(options.m_csBodyFile, csBody, csError)) {
        err << "wkctl: cannot read the body file '" << options.m_csBodyFile << "': " << csError << '\n';
        return WKCTL_EXIT_USAGE;
    }

    CHostReport report;
    report.m_csModulePath = options.ModulePath();
    bool bShowLog = !options.m_csShowLog.empty();
    uintmax_t qwLogBaseline = bShowLog ? FileSizeOrZero(options.m_csShowLog) : 0;
    if (bShowLog && bMayDeferToExit) {
        DeferredReport();
        std::atexit(&PrintDeferredReportAtExit);
    }

    // The module's events of this run belong in front of the administrator, also where a system log takes
    // them; the module reads this when it reports.
    ::setenv(EVENTS_TO_STDERR_VARIABLE, "1", 1);
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(report.m_csModulePath, csError);
    if (!spModule) {
        err << "wkctl: " << csError << '\n';
        return WKCTL_EXIT_MODULE_FAILED;
    }
    CHostSession session(spModule->EntryPoints());
    int nWriteFailed = 0;
    bool bRegistered = session.GetFilterVersion() != FALSE;
    report.m_version = session.GetVersionRecord();
    if (bRegistered) {
        CHostRequest request = options.BuildRequest(options.m_csBodyFile.empty() ? nullptr : &csBody);
        report.m_request = request.Summary();
        report.m_run = session.Run(request);
        report.m_bRan = true;
        if (!options.m_csOutFile.empty() &&
            !WriteWholeFile(options.m_csOutFile, report.m_run.m_body.m_csBytes)) {
            err << "wkctl: cannot write the delivered body to '" << options.m_csOutFile << "'\n";
            nWriteFailed = 1;
        } else {
            report.m_csBodyWrittenTo = options.m_csOutFile;
        }
        session.TerminateFilter(0);
        report.m_terminate = session.GetTerminateRecord();
    }
    // Unloading runs the module's static destructors, which write out a buffered log.
    bool bUnloaded = spModule->Unload();
    if (!bRegistered)
        err << "wkctl: GetFilterVersion returned 0: the module refused to start (see its event log and "
               "log)\n";
    int nExit =
        bRegistered ? (nWriteFailed ? WKCTL_EXIT_USAGE : WKCTL_EXIT_COMPLETED) : WKCTL_EXIT_MODULE_FAILED;

    if (bShowLog && !bUnloaded && bMayDeferToExit) {
        CDeferredReport& deferred = DeferredReport();
        deferred.m_report = std::move(report);
        deferred.m_report.m_csLogFile = options.m_csShowLog;
        deferred.m_bJson = options.m_bJson;
        deferred.m_qwLogBaseline = qwLogBaseline;
        deferred.m_bPending = true;
        return nExit;
    }
    if (bShowLog) {
        FillLog(report, options.m_csShowLog, qwLogBaseline);
        if (!bUnloaded) {
            if (!report.m_csLogNote.empty())
                report.m_csLogNote += "; ";
            report.m_csLogNote += "the module stayed loaded, so lines it still buffers are missing";
        }
    }
    out << ReportText(report, options.m_bJson);
    return nExit;
}
