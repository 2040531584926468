#include "host/cli/Wkctl.h"
#include "host/cli/WkctlOptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

std::vector<std::string> Args(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

struct CBadCase {
    std::vector<std::string> vArgs;
    const char* pszError;
};

TEST(WkctlOptionsTest, RefusesBadInputWithAPreciseMessage) {
    const std::vector<CBadCase> cases = {
        {Args({}), "no command given"},
        {Args({"frobnicate"}), "unknown command 'frobnicate'"},
        {Args({"run"}), "run needs --install DIR or --module PATH"},
        {Args({"run", "--json"}), "run needs --install DIR or --module PATH"},
        {Args({"run", "--install"}), "option --install needs a value"},
        {Args({"run", "--install", "d", "--url"}), "option --url needs a value"},
        {Args({"run", "--install", "d", "--bogus"}), "unknown option '--bogus'"},
        {Args({"run", "--install", "d", "--bogus=1"}), "unknown option '--bogus'"},
        {Args({"run", "--install", "d", "-x"}), "unexpected argument '-x'"},
        {Args({"run", "--install", "d", "extra"}), "unexpected argument 'extra'"},
        {Args({"run", "--install", "d", "--"}), "unexpected argument '--'"},
        {Args({"run", "--install", "d", "--json=1"}), "option --json takes no value"},
        {Args({"run", "--install", "d", "--install", "e"}), "option --install given more than once"},
        {Args({"run", "--install", "d", "--status", "abc"}), "option --status expects an HTTP status"},
        {Args({"run", "--install", "d", "--status", "99"}), "from 100 to 999, got '99'"},
        {Args({"run", "--install", "d", "--status", "1000"}), "from 100 to 999, got '1000'"},
        {Args({"run", "--install", "d", "--status", ""}), "got ''"},
        {Args({"run", "--install", "d", "--subscription-type", "-1"}),
         "--subscription-type expects a number"},
        {Args({"run", "--install", "d", "--subscription-type", "4294967296"}), "got '4294967296'"},
        {Args({"run", "--install", "d", "--subscription-type", " 1"}), "got ' 1'"},
        {Args({"run", "--install", "d", "--link-criteria", "0x"}), "--link-criteria expects a number"},
        {Args({"run", "--install", "d", "--link-criteria", "12a"}), "got '12a'"},
        {Args({"run", "--install", "d", "--link-criteria", "0x1FFFFFFFF"}), "got '0x1FFFFFFFF'"},
        {Args({"run", "--install", "d", "--header", "NoColon"}), "--header expects \"Name: value\""},
        {Args({"run", "--install", "d", "--header", ": value"}), "--header expects"},
        {Args({"run", "--install", "d", "--header", "Bad Name: v"}), "--header expects"},
        {Args({"run", "--install", "d", "--server-variable", "=v"}), "--server-variable expects NAME=VALUE"},
        {Args({"run", "--install", "d", "--server-variable", "NAME"}),
         "--server-variable expects NAME=VALUE"},
        {Args({"run", "--install", "d", "--request-value", "A B=1"}), "contains a blank"},
        {Args({"run", "--install", "d", "--url", "owa"}), "--url expects a path beginning with '/'"},
        {Args({"run", "--install", "d", "--url", "/a b"}), "--url expects"},
        {Args({"run", "--install", "d", "--method", ""}), "--method expects a method name"},
        {Args({"run", "--install", "d", "--method", "G T"}), "--method expects"},
    };
    for (const auto& c : cases) {
        CWkctlOptions options;
        std::string csError;
        std::string csJoined;
        for (const auto& csArg : c.vArgs)
            csJoined += "[" + csArg + "]";
        EXPECT_FALSE(ParseWkctlArguments(c.vArgs, options, csError)) << csJoined;
        EXPECT_NE(csError.find(c.pszError), std::string::npos) << csJoined << " gave: " << csError;
    }
}

TEST(WkctlOptionsTest, TakesEveryOption) {
    CWkctlOptions options;
    std::string csError;
    ASSERT_TRUE(ParseWkctlArguments(Args({"run",
                                          "--install",
                                          "/opt/wk/",
                                          "--method",
                                          "POST",
                                          "--url=/owa/?Cmd=logoff",
                                          "--user-agent",
                                          "Mozilla/5.0 (X11)",
                                          "--cookie",
                                          "a=b; c=d",
                                          "--subscription-type",
                                          "0x0E",
                                          "--link-criteria",
                                          "7",
                                          "--status=302",
                                          "--header",
                                          "X-One:  1 ",
                                          "--header",
                                          "X-Two:2",
                                          "--server-variable",
                                          "LOGON_USER=D\\u",
                                          "--server-variable",
                                          "EMPTY=",
                                          "--request-value",
                                          "BK_USERNAME=u=v",
                                          "--accept-language",
                                          "de",
                                          "--referer",
                                          "https://r/",
                                          "--server",
                                          "https://m",
                                          "--virtual-dir",
                                          "/mail",
                                          "--body-file",
                                          "b.html",
                                          "--show-log",
                                          "/tmp/l.txt",
                                          "--json"}),
                                    options, csError))
        << csError;
    EXPECT_EQ(options.ModulePath(), "/opt/wk/Wendrake/bin/WK_ServiceWorker.so");
    EXPECT_EQ(options.m_csMethod, "POST");
    EXPECT_EQ(options.m_csUrl, "/owa/?Cmd=logoff");
    EXPECT_EQ(options.m_csUserAgent, "Mozilla/5.0 (X11)");
    EXPECT_EQ(options.m_dwSubscriptionType, 14u);
    EXPECT_EQ(options.m_dwLinkCriteria, 7u);
    EXPECT_EQ(options.m_dwStatus, 302u);
    EXPECT_EQ(options.m_vHeaders,
              (std::vector<std::pair<std::string, std::string>>{{"X-One", "1"}, {"X-Two", "2"}}));
    EXPECT_EQ(options.m_vServerVariables,
              (std::vector<std::pair<std::string, std::string>>{{"LOGON_USER", "D\\u"}, {"EMPTY", ""}}));
    EXPECT_EQ(options.m_vRequestValues,
              (std::vector<std::pair<std::string, std::string>>{{"BK_USERNAME", "u=v"}}));
    EXPECT_EQ(options.m_csBodyFile, "b.html");
    EXPECT_EQ(options.m_csShowLog, "/tmp/l.txt");
    EXPECT_TRUE(options.m_bJson);

    CHostRequest request = options.BuildRequest(nullptr);
    auto spInfo = request.BuildRequestInfo();
    EXPECT_EQ(spInfo->m_mapRequestValues.at("HTTP_METHOD"), "POST");
    EXPECT_EQ(spInfo->m_mapRequestValues.at("BK_USERNAME"), "u=v");
    EXPECT_EQ(spInfo->m_mapQueryParameters.at("cmd"), "logoff");
    EXPECT_EQ(request.BuildExchangeURL()->GetBaseAddress(), "https://m/mail/");
    EXPECT_FALSE(request.HasResponseBody());
    std::string csBody = "<html/>";
    EXPECT_TRUE(options.BuildRequest(&csBody).HasResponseBody());
}

TEST(WkctlOptionsTest, ModuleOverridesInstallAndHelpNeedsNothing) {
    CWkctlOptions options;
    std::string csError;
    ASSERT_TRUE(
        ParseWkctlArguments(Args({"run", "--install", "/i", "--module", "./m.so"}), options, csError));
    EXPECT_EQ(options.ModulePath(), "./m.so");
    for (const auto& vArgs : {Args({"--help"}), Args({"-h"}), Args({"help"}), Args({"run", "--help"}),
                              Args({"run", "-h", "--status", "200"})}) {
        ASSERT_TRUE(ParseWkctlArguments(vArgs, options, csError)) << csError;
        EXPECT_TRUE(options.m_bHelp);
    }
}

TEST(WkctlOptionsTest, ParsesNumbers) {
    const std::vector<std::tuple<const char*, bool, DWORD>> cases = {
        {"0", true, 0},
        {"17", true, 17},
        {"4294967295", true, 0xFFFFFFFF},
        {"0x0", true, 0},
        {"0XfF", true, 255},
        {"0xFFFFFFFF", true, 0xFFFFFFFF},
        {"", false, 0},
        {"0x", false, 0},
        {"4294967296", false, 0},
        {"0x100000000", false, 0},
        {"+1", false, 0},
        {"1 ", false, 0},
        {"0b1", false, 0},
        {"00000000000000000000012", true, 12},
        {"1e3", false, 0},
    };
    for (const auto& [pszText, bValid, dwExpected] : cases) {
        DWORD dwValue = 12345;
        EXPECT_EQ(ParseDword(pszText, dwValue), bValid) << pszText;
        if (bValid) {
            EXPECT_EQ(dwValue, dwExpected) << pszText;
        }
    }
}

TEST(WkctlRunTest, ExitCodesAndMessages) {
    std::ostringstream out, err;
    EXPECT_EQ(RunWkctl(Args({"run", "--bogus"}), out, err), WKCTL_EXIT_USAGE);
    EXPECT_EQ(err.str(), "wkctl: unknown option '--bogus'\nTry 'wkctl --help'.\n");

    out.str(""), err.str("");
    EXPECT_EQ(RunWkctl(Args({"--help"}), out, err), WKCTL_EXIT_COMPLETED);
    EXPECT_NE(out.str().find("Usage: wkctl run --install DIR"), std::string::npos);
    EXPECT_TRUE(err.str().empty());

    out.str(""), err.str("");
    EXPECT_EQ(RunWkctl(Args({"run", "--install", "/nonexistent/prefix"}), out, err),
              WKCTL_EXIT_MODULE_FAILED);
    EXPECT_EQ(err.str(),
              "wkctl: module file not found: /nonexistent/prefix/Wendrake/bin/WK_ServiceWorker.so\n");

    out.str(""), err.str("");
    EXPECT_EQ(RunWkctl(Args({"run", "--module", WK_TEST_DATA_DIR "/host/sample-page.html"}), out, err),
              WKCTL_EXIT_MODULE_FAILED);
    EXPECT_NE(err.str().find("cannot load module"), std::string::npos) << err.str();

    out.str(""), err.str("");
    EXPECT_EQ(RunWkctl(Args({"run", "--module", WK_FAKE_MODULE_PATH, "--body-file", "/nonexistent/body"}),
                       out, err),
              WKCTL_EXIT_USAGE);
    EXPECT_EQ(err.str(), "wkctl: cannot read the body file '/nonexistent/body': no such file\n");
}

TEST(WkctlRunTest, RunsALoadedModuleAndPrintsWhatItDid) {
    std::ostringstream out, err;
    ::unsetenv("WK_FAKE_MODE");
    int nExit = RunWkctl(Args({"run", "--module", WK_FAKE_MODULE_PATH, "--url", "/owa/?a=1", "--user-agent",
                               "UA", "--body-file", WK_TEST_DATA_DIR "/host/sample-page.html"}),
                         out, err);
    EXPECT_EQ(nExit, WKCTL_EXIT_COMPLETED) << err.str();
    const std::string csOut = out.str();
    const char* pszExpected[] = {
        "GetFilterVersion: 1\n",
        "  filter version 0x00060000, flags 0x040264C0 "
        "(SEND_RESPONSE|END_OF_REQUEST|SEND_RAW_DATA|AUTHENTICATION|"
        "PREPROC_HEADERS|ORDER_LOW|AUTH_COMPLETE)\n",
        "  description \"Fake Worker\"\n",
        "Request: GET /owa/?a=1, subscription type 0, link criteria 0, response status 200, body 102 bytes\n",
        "PREPROC_HEADERS (0x00004000): result 0, control message 0 (None), client flags 0x00000001",
        "SEND_RESPONSE (0x00000040) status 200: result 0",
        "  header added: X-Fake: said \"hi\"\n",
        "SEND_RAW_DATA (0x00000400) status 200",
        "END_OF_REQUEST (0x00000080)",
        "TerminateFilter: 1\n",
    };
    for (const char* psz : pszExpected)
        EXPECT_NE(csOut.find(psz), std::string::npos) << psz << "\nin\n" << csOut;
}

TEST(WkctlRunTest, ReportsSkippedNotificationsAndResponses) {
    ::setenv("WK_FAKE_MODE", "answer", 1);
    std::ostringstream out, err;
    EXPECT_EQ(RunWkctl(Args({"run", "--module", WK_FAKE_MODULE_PATH}), out, err), WKCTL_EXIT_COMPLETED);
    const std::string csOut = out.str();
    EXPECT_NE(csOut.find("AUTH_COMPLETE (0x04000000): result 0, control message 4 (Completed)"),
              std::string::npos)
        << csOut;
    EXPECT_NE(
        csOut.find("  response sent (33 bytes):\n    | HTTP/1.1 200 OK\n    | \n    | <html>\\x01</html>\n"),
        std::string::npos)
        << csOut;
    EXPECT_NE(csOut.find("SEND_RESPONSE: not sent (control message 4 (Completed) after AUTH_COMPLETE)"),
              std::string::npos)
        << csOut;
    EXPECT_NE(csOut.find("SEND_RAW_DATA: not sent (control message 4 (Completed) after AUTH_COMPLETE)"),
              std::string::npos)
        << csOut;
}

TEST(WkctlRunTest, ARefusingModuleExitsWithOne) {
    ::setenv("WK_FAKE_MODE", "refuse", 1);
    std::ostringstream out, err;
    EXPECT_EQ(RunWkctl(Args({"run", "--module", WK_FAKE_MODULE_PATH, "--json"}), out, err),
              WKCTL_EXIT_MODULE_FAILED);
    EXPECT_NE(err.str().find("GetFilterVersion returned 0"), std::string::npos);
    EXPECT_NE(out.str().find("\"request\": null"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"terminateFilter\": {\n    \"called\": false"), std::string::npos)
        << out.str();
}

TEST(WkctlRunTest, JsonRecordAndAppendedLogLines) {
    namespace fs = std::filesystem;
    fs::path log = fs::temp_directory_path() / ("wkctl-log-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream existing(log);
        existing << "an older line\n";
    }
    ::setenv("WK_FAKE_LOG_FILE", log.c_str(), 1);
    ::setenv("WK_FAKE_MODE", "ignore", 1);
    std::ostringstream out, err;
    EXPECT_EQ(RunWkctl(Args({"run", "--module", WK_FAKE_MODULE_PATH, "--json", "--show-log", log.c_str()}),
                       out, err),
              WKCTL_EXIT_COMPLETED)
        << err.str();
    const std::string csJson = out.str();
    fs::remove(log);
    ::unsetenv("WK_FAKE_LOG_FILE");
    const char* pszExpected[] = {
        "\"schema\": \"wkctl.run/1\"",
        "\"controlWord\": \"Ignore\"",
        "\"reason\": \"control message 1 (Ignore) after PREPROC_HEADERS\"",
        "\"lines\": [\n      \"[Fake::GetFilterVersion] Starts.\",\n      \"[Fake::HttpFilterProc] "
        "notification "
        "0x4000\",\n      \"[Fake::HttpFilterProc] notification 0x80\",\n      \"[Fake::TerminateFilter] "
        "Starts.\"\n    ]",
        "\"note\": null",
    };
    for (const char* psz : pszExpected)
        EXPECT_NE(csJson.find(psz), std::string::npos) << psz << "\nin\n" << csJson;
    EXPECT_EQ(csJson.find("an older line"), std::string::npos);
}

TEST(WkctlRunTest, ReadsTheWholeLogWhenItShrank) {
    namespace fs = std::filesystem;
    fs::path log = fs::temp_directory_path() / ("wkctl-shrunk-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream file(log, std::ios::binary);
        file << "first\r\n\n" << std::string(4, '\0') << "\nsecond";
    }
    std::string csNote;
    std::vector<std::string> vLines = ReadLogLinesSince(log.string(), 1000, csNote);
    EXPECT_EQ(vLines, (std::vector<std::string>{"first", "second"}));
    EXPECT_NE(csNote.find("smaller than before"), std::string::npos);
    csNote.clear();
    vLines = ReadLogLinesSince(log.string(), 8, csNote);
    EXPECT_EQ(vLines, (std::vector<std::string>{"second"}));
    EXPECT_TRUE(csNote.empty());
    fs::remove(log);
    vLines = ReadLogLinesSince(log.string(), 0, csNote);
    EXPECT_TRUE(vLines.empty());
    EXPECT_NE(csNote.find("cannot be read"), std::string::npos);
}

TEST(WkctlRunTest, ReadableTextEscapesControlCharacters) {
    EXPECT_EQ(ReadableText("a\tb\r\n\x1b[0m\\ \xC3\xA9"), "a\\tb\\r\\n\\x1B[0m\\\\ \xC3\xA9");
}

// The program itself: exit status as a shell sees it.
int RunProgram(const std::string& csArgs) {
    std::string csCommand = std::string("'") + WKCTL_PATH + "' " + csArgs + " >/dev/null 2>&1";
    int nStatus = std::system(csCommand.c_str());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

TEST(WkctlProgramTest, ExitStatus) {
    EXPECT_EQ(RunProgram("--help"), 0);
    EXPECT_EQ(RunProgram(""), 2);
    EXPECT_EQ(RunProgram("run --install /nonexistent --link-criteria x"), 2);
    EXPECT_EQ(RunProgram("run --install /nonexistent"), 1);
    EXPECT_EQ(RunProgram(std::string("run --module '") + WK_FAKE_MODULE_PATH + "' --json"), 0);
}

// A module that stays loaded writes its buffered log at process exit: the program shows the report then.
TEST(WkctlProgramTest, ShowsTheLogOfAModuleThatStaysLoaded) {
    namespace fs = std::filesystem;
    fs::path log = fs::temp_directory_path() / ("wkctl-pinned-" + std::to_string(::getpid()) + ".txt");
    fs::remove(log);
    std::string csCommand = "WK_FAKE_MODE=pin WK_FAKE_LOG_FILE='" + log.string() + "' '" + WKCTL_PATH +
                            "' run --module '" + WK_FAKE_MODULE_PATH + "' --show-log '" + log.string() +
                            "' 2>&1";
    FILE* pPipe = ::popen(csCommand.c_str(), "r");
    ASSERT_NE(pPipe, nullptr);
    std::string csOut;
    char szChunk[4096];
    size_t cb;
    while ((cb = std::fread(szChunk, 1, sizeof(szChunk), pPipe)) > 0)
        csOut.append(szChunk, cb);
    int nStatus = ::pclose(pPipe);
    fs::remove(log);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0);
    EXPECT_NE(csOut.find("TerminateFilter: 1\nLog " + log.string() +
                         ": 6 new line(s) (read at process exit: the module stayed loaded)\n"),
              std::string::npos)
        << csOut;
    EXPECT_NE(csOut.find("  [Fake::TerminateFilter] Starts.\n"), std::string::npos) << csOut;
}

} // namespace
