#include "host/cli/Wkctl.h"
#include "host/cli/WkctlOptions.h"
#include "host/testing/TestHost.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void ExpectParts(const std::string& csText, std::initializer_list<std::string> parts) {
    for (const std::string& csPart : parts)
        EXPECT_NE(csText.find(csPart), std::string::npos) << csPart << "\nin\n" << csText;
}

// A file in the temporary folder, removed at the end.
struct CTempFile {
    fs::path m_path;
    explicit CTempFile(const std::string& csName)
        : m_path(fs::temp_directory_path() / (csName + "-" + std::to_string(::getpid()) + ".txt")) {
        fs::remove(m_path);
    }
    ~CTempFile() { fs::remove(m_path); }
};

// The arguments of a command line written with "|" between them.
Args Split(const std::string& csLine) {
    Args vArgs(csLine.empty() ? 0 : 1);
    for (char ch : csLine) {
        if (ch == '|')
            vArgs.emplace_back();
        else
            vArgs.back() += ch;
    }
    return vArgs;
}

TEST(WkctlOptionsTest, RefusesBadInputWithAPreciseMessage) {
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-refused.txt")) {
        CWkctlOptions options;
        std::string csError;
        EXPECT_FALSE(ParseWkctlArguments(Split(tabletest::Bytes(row[0])), options, csError)) << row[0];
        EXPECT_NE(csError.find(tabletest::Bytes(row.at(1))), std::string::npos) << row[0] << ": " << csError;
    }
}

TEST(WkctlOptionsTest, TakesEveryOption) {
    CWkctlOptions options;
    std::string csError;
    const std::string csEveryOption = tabletest::ReadTable("host/wkctl-every-option.txt").at(0).at(0);
    ASSERT_TRUE(ParseWkctlArguments(Split(csEveryOption), options, csError)) << csError;
    EXPECT_EQ(options.ModulePath(), "/opt/wk/Wendrake/bin/WK_ServiceWorker.so");
    EXPECT_EQ(std::tie(options.m_csUrl, options.m_csBodyFile), std::make_tuple("/owa/?Cmd=logoff", "b.html"));
    EXPECT_EQ(
        std::tie(options.m_dwSubscriptionType, options.m_dwLinkCriteria, options.m_dwStatus, options.m_bJson),
        std::make_tuple(14u, 10u, 302u, true));
    EXPECT_EQ(options.m_vHeaders, (Pairs{{"X-One", "1"}, {"X-Two", "2"}}));
    EXPECT_EQ(options.m_vServerVariables, (Pairs{{"LOGON_USER", "D\\u"}, {"EMPTY", ""}}));
    EXPECT_EQ(options.m_vRequestValues, (Pairs{{"BK_USERNAME", "u=v"}}));

    CHostRequest request = options.BuildRequest(nullptr);
    auto spInfo = request.BuildRequestInfo();
    EXPECT_EQ(spInfo->m_mapRequestValues.at("HTTP_METHOD"), "POST");
    EXPECT_EQ(request.BuildExchangeURL()->GetBaseAddress(), "https://m/mail/");
    EXPECT_EQ(request.GetIdentity(), nullptr);

    // The request's user, given in part or whole.
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-identities.txt")) {
        ASSERT_TRUE(ParseWkctlArguments(Split(tabletest::Bytes(row[0])), options, csError)) << csError;
        CIdentityToken spIdentity = options.BuildRequest(nullptr).GetIdentity();
        ASSERT_NE(spIdentity, nullptr) << row[0];
        std::vector<BYTE> vUserSid;
        for (size_t n = 0; n + 1 < row.at(3).size(); n += 2)
            vUserSid.push_back(static_cast<BYTE>(std::stoi(row[3].substr(n, 2), nullptr, 16)));
        EXPECT_EQ(std::tie(spIdentity->csUser, spIdentity->csDomain, spIdentity->vUserSid),
                  std::make_tuple(row.at(1), row.at(2), vUserSid));
        EXPECT_EQ(spIdentity->vGroupSids.size(), std::stoul(row.at(4))) << row[0];
    }

    // --module overrides --install; the culture is the texts command's own.
    ASSERT_TRUE(ParseWkctlArguments({"run", "--install", "/i", "--module", "./m.so"}, options, csError));
    EXPECT_EQ(options.ModulePath(), "./m.so");
    ASSERT_TRUE(ParseWkctlArguments({"texts", "--install", "/i", "--culture", "de,fr"}, options, csError));
    EXPECT_EQ(std::tie(options.m_csCommand, options.m_bCulture, options.m_bAcceptLanguage),
              std::make_tuple("texts", true, false));
    // Help needs nothing else, and is the help of the command it was asked for.
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-help.txt")) {
        ASSERT_TRUE(ParseWkctlArguments(Split(row[0]), options, csError)) << csError;
        EXPECT_TRUE(options.m_bHelp) << row[0];
        ExpectParts(options.m_csHelp, {row.at(1)});
    }
}

TEST(WkctlOptionsTest, ParsesNumbers) {
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-numbers.txt")) {
        DWORD dwValue = 12345;
        const bool bTaken = ParseDword(row[0], dwValue);
        EXPECT_EQ(bTaken ? std::to_string(dwValue) : "-", row.at(1)) << '"' << row[0] << '"';
    }
}

// wkctl in this process, with the fake module in the given mode (null: none).
int Wkctl(const Args& vArgs, const char* pszMode, std::string& csOut, std::string& csErr) {
    pszMode ? ::setenv("WK_FAKE_MODE", pszMode, 1) : ::unsetenv("WK_FAKE_MODE");
    std::ostringstream out, err;
    int nExit = RunWkctl(vArgs, out, err);
    csOut = out.str();
    csErr = err.str();
    return nExit;
}

// The report of a run with a page, and of one where the module answers the request itself.
TEST(WkctlRunTest, PrintsWhatTheModuleDid) {
    std::map<std::string, std::string> mapOut;
    std::string csErr;
    EXPECT_EQ(Wkctl({"run", "--module", WK_FAKE_MODULE_PATH, "--url", "/owa/?a=1", "--user-agent", "UA",
                     "--body-file", WK_TEST_DATA_DIR "/host/sample-page.html"},
                    nullptr, mapOut["page"], csErr),
              WKCTL_EXIT_COMPLETED)
        << csErr;
    EXPECT_EQ(Wkctl({"run", "--module", WK_FAKE_MODULE_PATH}, "answer", mapOut["answer"], csErr),
              WKCTL_EXIT_COMPLETED);
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-report.txt"))
        ExpectParts(mapOut[row[0]], {tabletest::Bytes(row.at(1))});
    EXPECT_EQ(ReadableText("a\tb\r\n\x1b[0m\\ \xC3\xA9"), "a\\tb\\r\\n\\x1B[0m\\\\ \xC3\xA9");
}

TEST(WkctlRunTest, JsonRecordAndAppendedLogLines) {
    CTempFile log("wkctl-log");
    std::ofstream(log.m_path) << "an older line\n";
    ::setenv("WK_FAKE_LOG_FILE", log.m_path.c_str(), 1);
    std::string csJson, csErr;
    EXPECT_EQ(Wkctl({"run", "--module", WK_FAKE_MODULE_PATH, "--json", "--show-log", log.m_path}, "ignore",
                    csJson, csErr),
              WKCTL_EXIT_COMPLETED)
        << csErr;
    ::unsetenv("WK_FAKE_LOG_FILE");
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-json.txt"))
        ExpectParts(csJson, {tabletest::Bytes(row[0])});
    EXPECT_EQ(csJson.find("an older line"), std::string::npos);
}

// --out holds the body exactly as the browser receives it; the record gives its Content-Length and the edits.
// An edit inside the response's header block (the fake module edits from the block's first byte) is refused,
// and the page goes out as it came.
TEST(WkctlRunTest, WritesTheDeliveredBody) {
    std::string csPage, csError;
    ASSERT_TRUE(ReadWholeFile(WK_TEST_DATA_DIR "/host/sample-page.html", csPage, csError)) << csError;
    const std::string csEdited = "<!-- edited \xE9 -->" + csPage.substr(0, csPage.size() - 1);
    const struct {
        const char* pszMode;
        const char* pszContentType;
        std::string csBody;
        const char* pszRecordPart;
    } aCases[] = {
        {nullptr, nullptr, csPage,
         "\"edited\": false,\n    \"originalBytes\": 102,\n    \"contentLength\": 102,"},
        {"edit", nullptr, csEdited, "\"headers\": \"Content-Length: 118\\r\\n\""},
        {"edit", "text/html; charset=utf-8", csPage, "lies in the response header block"},
    };
    for (const auto& c : aCases) {
        CTempFile out("wkctl-out");
        std::string csJson, csErr, csWritten;
        Args args = {"run",
                     "--module",
                     WK_FAKE_EDITOR_PATH,
                     "--body-file",
                     WK_TEST_DATA_DIR "/host/sample-page.html",
                     "--json",
                     "--out",
                     out.m_path};
        if (c.pszContentType)
            args.insert(args.end(), {"--content-type", c.pszContentType});
        EXPECT_EQ(Wkctl(args, c.pszMode, csJson, csErr), WKCTL_EXIT_COMPLETED) << csErr;
        ASSERT_TRUE(ReadWholeFile(out.m_path, csWritten, csError)) << csError;
        EXPECT_EQ(csWritten, c.csBody);
        EXPECT_NE(csJson.find(c.pszRecordPart), std::string::npos) << csJson;
    }
}

// Each guard file at the address the worker writes for it: the short prefix in front of the file name, the
// folders below BKScripts kept; an installation without the folder lists nothing.
TEST(WkctlScriptsTest, ListsTheAddressOfEachGuardFile) {
    const fs::path install = fs::temp_directory_path() / ("wkctl-scripts-" + std::to_string(::getpid()));
    fs::create_directories(install / "Wendrake/BKScripts/Wendrake/1.2");
    std::ofstream(install / "Wendrake/BKScripts/Wendrake/1.2/bk_WKWarn.js") << "//";
    std::ofstream(install / "Wendrake/BKScripts/top.htm") << "<p>";
    std::string csOut, csErr;
    EXPECT_EQ(Wkctl({"scripts", "--install", install.string(), "--csm-prefix", "abcde/xyz/", "--virtual-dir",
                     "/mail"},
                    nullptr, csOut, csErr),
              WKCTL_EXIT_COMPLETED)
        << csErr;
    EXPECT_EQ(csOut, "/mail/BKScripts/Wendrake/1.2/abcdebk_WKWarn.js  " +
                         (install / "Wendrake/BKScripts/Wendrake/1.2/bk_WKWarn.js").string() +
                         "\n/mail/BKScripts/abcdetop.htm  " +
                         (install / "Wendrake/BKScripts/top.htm").string() + "\n");
    fs::remove_all(install / "Wendrake");
    EXPECT_EQ(
        Wkctl({"scripts", "--install", install.string(), "--csm-prefix", "abcde/"}, nullptr, csOut, csErr),
        1);
    EXPECT_NE(csErr.find("no guard files under"), std::string::npos) << csErr;
    fs::remove_all(install);
}

TEST(WkctlRunTest, ReadsTheWholeLogWhenItShrank) {
    CTempFile log("wkctl-shrunk");
    std::ofstream(log.m_path, std::ios::binary) << "first\r\n\n" << std::string(4, '\0') << "\nsecond";
    std::string csNote;
    EXPECT_EQ(ReadLogLinesSince(log.m_path, 1000, csNote), (Args{"first", "second"}));
    EXPECT_NE(csNote.find("smaller than before"), std::string::npos);
    csNote.clear();
    EXPECT_EQ(ReadLogLinesSince(log.m_path, 8, csNote), (Args{"second"}));
    EXPECT_TRUE(csNote.empty());
    fs::remove(log.m_path);
    EXPECT_TRUE(ReadLogLinesSince(log.m_path, 0, csNote).empty());
    EXPECT_NE(csNote.find("cannot be read"), std::string::npos);
}

// A module file built against another contract is refused before its first request, with both contracts
// named; the request record is never handed to it.
TEST(HostModuleTest, RefusesAModuleOfAnotherContract) {
    const DWORD cbRecord = sizeof(CDLLContext);
    const struct {
        const char* pszName;
        DWORD dwContract;
        const char* pszReason; // null: loaded
    } aCases[] = {
        {"same contract", WK_HOST_ABI_CONTRACT, nullptr},
        {"next version", ((WK_HOST_ABI_VERSION + 1) << 16) | cbRecord, "for host contract version 3 with "},
        {"larger record", (WK_HOST_ABI_VERSION << 16) | (cbRecord + 8), "-byte request records; this host"},
        {"before versions", 0, "does not tell its host contract"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        ::setenv("WK_FAKE_CONTRACT", std::to_string(c.dwContract).c_str(), 1);
        std::string csError;
        std::unique_ptr<CHostModule> spModule = CHostModule::Load(WK_FAKE_MODULE_PATH, csError);
        EXPECT_EQ(spModule != nullptr, c.pszReason == nullptr) << csError;
        if (c.pszReason)
            ExpectParts(csError, {c.pszReason, "uses version " + std::to_string(WK_HOST_ABI_VERSION) +
                                                   " with " + std::to_string(cbRecord) + "-byte records"});
    }
    ::unsetenv("WK_FAKE_CONTRACT");
}

// The program itself: its exit status as a shell sees it, and what it prints.
int RunProgram(const std::string& csCommand, std::string& csOut) {
    FILE* pPipe = ::popen(csCommand.c_str(), "r");
    if (!pPipe)
        return -1;
    char szChunk[4096];
    for (size_t cb; (cb = std::fread(szChunk, 1, sizeof(szChunk), pPipe)) > 0;)
        csOut.append(szChunk, cb);
    int nStatus = ::pclose(pPipe);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// Each command line in this process, then as the program a shell runs.
TEST(WkctlProgramTest, ExitStatusAndMessages) {
    const std::pair<std::string, std::string> aPaths[] = {
        {"@FAKE@", WK_FAKE_MODULE_PATH}, {"@EDITOR@", WK_FAKE_EDITOR_PATH}, {"@DATA@", WK_TEST_DATA_DIR}};
    for (tabletest::TRow row : tabletest::ReadTable("host/wkctl-exits.txt")) {
        for (const auto& [csName, csPath] : aPaths)
            for (size_t n; (n = row[0].find(csName)) != std::string::npos;)
                row[0].replace(n, csName.size(), csPath);
        SCOPED_TRACE(row[0]);
        const int nExit = std::stoi(row.at(2));
        const std::string csErrStart = tabletest::Bytes(row.at(3)), csOutPart = row.at(4);
        std::string csOut, csErr;
        EXPECT_EQ(Wkctl(Split(row[0]), row[1] == "-" ? nullptr : row[1].c_str(), csOut, csErr), nExit);
        EXPECT_EQ(csErr.substr(0, csErrStart.empty() ? std::string::npos : csErrStart.size()), csErrStart);
        EXPECT_TRUE(csOutPart.empty() ? csOut.empty() : csOut.find(csOutPart) != std::string::npos) << csOut;
        // The program inherits the fake module's mode from this process.
        std::string csCommand = std::string("'") + WKCTL_PATH + "'", csProgramOut;
        for (const std::string& csArg : Split(row[0]))
            csCommand += " '" + csArg + "'";
        EXPECT_EQ(RunProgram(csCommand + " 2>&1", csProgramOut), nExit) << csProgramOut;
        EXPECT_NE(csProgramOut.find(csErrStart), std::string::npos) << csProgramOut;
        EXPECT_NE(csProgramOut.find(csOutPart), std::string::npos) << csProgramOut;
    }
}

// A module that stays loaded writes its buffered log at process exit: the program shows the report then.
TEST(WkctlProgramTest, ShowsTheLogOfAModuleThatStaysLoaded) {
    CTempFile log("wkctl-pinned");
    std::string csOut, csLog = log.m_path.string();
    EXPECT_EQ(RunProgram("WK_FAKE_MODE=pin WK_FAKE_LOG_FILE='" + csLog + "' '" + WKCTL_PATH +
                             "' run --module '" + WK_FAKE_MODULE_PATH + "' --show-log '" + csLog + "' 2>&1",
                         csOut),
              0);
    ExpectParts(csOut, {"TerminateFilter: 1\nLog " + csLog +
                            ": 6 new line(s) (read at process exit: the module stayed loaded)\n",
                        "  [Fake::TerminateFilter] Starts.\n"});
}

// The real module of this build, installed in a temporary folder with the sample settings.
struct CRealInstallation : CTempInstallation {
    bool Install() { return CopySampleInstallation() && InstallModule(WK_MODULE_PATH); }
};

TEST(WkctlScreenTest, ScreensEachLineWithTheRealModule) {
    CRealInstallation installation;
    ASSERT_TRUE(installation.Install());
    CTempFile agents("wkctl-agents");
    std::string csJson, csText;
    {
        std::ofstream file(agents.m_path, std::ios::binary);
        for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-screen.txt")) {
            std::string csLine = tabletest::Bytes(row[0]);
            file << csLine << '\n';
            if (row.at(1) == "-")
                continue;
            csJson += row[1] + '\n';
            csText += row.at(2) + ": " + ReadableText(csLine.substr(0, csLine.find('\r'))) + '\n';
        }
    }
    const std::string csSummary =
        "Screened 5 user agent(s): 2 allowed, 3 blocked, 2 unknown (no browser identified)\n";
    const Args vArgs = {"screen", "--install", installation.Prefix(), "--user-agents", agents.m_path};
    std::string csOut, csErr;
    Args vJson = vArgs;
    vJson.push_back("--json");
    ASSERT_EQ(Wkctl(vJson, nullptr, csOut, csErr), WKCTL_EXIT_COMPLETED) << csErr;
    EXPECT_EQ(csOut, csJson);
    EXPECT_TRUE(csErr.ends_with(csSummary)) << csErr;
    std::string csCommand = std::string("'") + WKCTL_PATH + "'", csProgramOut;
    for (const std::string& csArg : vArgs)
        csCommand += " '" + csArg + "'";
    EXPECT_EQ(RunProgram(csCommand + " 2>/dev/null", csProgramOut), WKCTL_EXIT_COMPLETED);
    EXPECT_EQ(csProgramOut, csText + csSummary);
}

TEST(WkctlScreenTest, RunShowsTheBlockedBrowserRedirect) {
    CRealInstallation installation;
    ASSERT_TRUE(installation.Install());
    std::string csCommand = std::string("'") + WKCTL_PATH + "'";
    Args vArgs = {
        "run",
        "--install",
        installation.Prefix(),
        "--subscription-type",
        "1",
        "--user-agent",
        "Mozilla/5.0 (Macintosh; U; Intel Mac OS X; en-US; rv:1.8.0.12) Gecko/20070508 Firefox/1.5.0.12",
        "--cookie",
        "sessionid=1; UserContext_AB=2; cadata=3",
        "--server-variable",
        "HEADER_BK_CSMPREFIX=abcde/x/"};
    for (const std::string& csArg : vArgs)
        csCommand += " '" + csArg + "'";
    std::map<std::string, std::string> mapOut;
    EXPECT_EQ(RunProgram(csCommand + " --json 2>/dev/null", mapOut["json"]), WKCTL_EXIT_COMPLETED);
    std::string csErr;
    EXPECT_EQ(Wkctl(vArgs, nullptr, mapOut["text"], csErr), WKCTL_EXIT_COMPLETED) << csErr;
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-redirect.txt"))
        ExpectParts(mapOut[row[0]], {tabletest::Bytes(row.at(1))});
}

// Only the module's own redirect, completing the request, is the blocked-browser redirect.
TEST(WkctlRunTest, FindsTheBlockedBrowserRedirectInARecord) {
    for (const tabletest::TRow& row : tabletest::ReadTable("host/wkctl-redirect-records.txt")) {
        CHostRunRecord run;
        run.m_vNotifications.emplace_back();
        run.m_vNotifications[0].m_dwCode = SF_NOTIFY_PREPROC_HEADERS;
        run.m_vNotifications[0].m_dwControlMessage = static_cast<DWORD>(std::stoul(row[0]));
        run.m_vNotifications[0].m_vSupportCalls.push_back(
            {SF_REQ_SEND_RESPONSE_HEADER, row.at(1), tabletest::Bytes(row.at(2)), true});
        const CHostScreening screening = CHostScreening::Of(run);
        std::string csCookies;
        for (const std::string& csCookie : screening.m_vSetCookies)
            csCookies += (csCookies.empty() ? "" : ",") + csCookie;
        EXPECT_EQ(std::make_tuple(screening.m_bRedirected,
                                  screening.m_csLocation.empty() ? "-" : screening.m_csLocation,
                                  csCookies.empty() ? "-" : csCookies),
                  std::make_tuple(row.at(3) == "1", row.at(4), row.at(5)))
            << row[2];
    }
    EXPECT_FALSE(CHostScreening::Of(CHostRunRecord()).m_bScreened);
}

} // namespace
