// mod_wendrake in a real Apache: the notifications each request gets, what a faulty worker cannot break,
// start-up and configuration failures, and the worker module itself behind Apache.
#include "host/testing/TestHost.h"
#include "tests/apache/ApacheServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const char PAGE[] = "<html><head><title>t</title></head><body>page</body></html>";
const char FIREFOX[] =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:128.0) Gecko/20100101 Firefox/128.0";

// The notifications the fake worker logged for one URL, waiting for END_OF_REQUEST (sent after the response).
std::vector<std::string> Notifications(const CApacheServer& server, const std::string& csUrl,
                                       size_t nAtLeast) {
    std::vector<std::string> vLines;
    for (int nTry = 0; nTry < 250; ++nTry) {
        vLines.clear();
        std::istringstream log(server.ReadFile("fake.log"));
        for (std::string csLine; std::getline(log, csLine);)
            if (csLine.compare(0, csUrl.size() + 1, csUrl + " ") == 0)
                vLines.push_back(csLine.substr(csUrl.size() + 1));
        if (vLines.size() >= nAtLeast && (vLines.empty() || vLines.back().rfind("END_OF_REQUEST", 0) == 0))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return vLines;
}

class CFakeWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string csWhy;
        if (!CApacheServer::Available(csWhy))
            GTEST_SKIP() << csWhy;
        m_server.AddFile("/owa/page.html", PAGE);
        m_server.AddFile("/owa/style.css", "body { color: black; }");
        m_server.AddFile("/outside/page.html", PAGE);
        m_server.AddFile("/owa/big.bin", std::string(8 << 20, 'x'));
        std::string csError;
        ASSERT_TRUE(m_server.Start(WK_APACHE_FAKE_WORKER_PATH, "", csError,
                                   {"WK_APACHE_FAKE_LOG=" + m_server.Root() + "/fake.log"}))
            << csError;
    }
    CApacheServer m_server;
};

struct CFakeCase {
    const char* m_pszName;
    const char* m_pszTarget;
    const char* m_pszFake; // the X-Fake header's value
    int m_nStatus;
    const char* m_pszBody;
    std::vector<std::string> m_vNotifications;
};

const std::vector<std::string> ALL = {"PREPROC_HEADERS 0", "AUTHENTICATION 0",  "AUTH_COMPLETE 0",
                                      "SEND_RESPONSE 200", "SEND_RAW_DATA 200", "END_OF_REQUEST 200"};
std::vector<std::string> FirstOf(size_t nCount) {
    std::vector<std::string> v(ALL.begin(), ALL.begin() + static_cast<long>(nCount));
    v.push_back(ALL.back().substr(0, 15) + (nCount > 3 ? "200" : "0"));
    return v;
}

const CFakeCase FAKE_CASES[] = {
    {"HtmlPage", "/owa/page.html", "", 200, PAGE, ALL},
    {"StyleSheet",
     "/owa/style.css",
     "",
     200,
     "body { color: black; }",
     {ALL[0], ALL[1], ALL[2], ALL[3], ALL[5]}},
    {"OutsideTheWebmail", "/outside/page.html", "", 200, PAGE, {}},
    {"IgnoredAtPreprocHeaders", "/owa/page.html", "ignore", 200, PAGE, FirstOf(1)},
    {"AnsweredByTheWorker", "/owa/page.html", "answer", 299, "answered", FirstOf(3)},
    {"ThrowsInPreprocHeaders", "/owa/page.html", "throw-PREPROC_HEADERS", 200, PAGE, FirstOf(1)},
    {"ThrowsInAuthentication", "/owa/page.html", "throw-AUTHENTICATION", 200, PAGE, FirstOf(2)},
    {"ThrowsInAuthComplete", "/owa/page.html", "throw-AUTH_COMPLETE", 200, PAGE, FirstOf(3)},
    {"ThrowsInSendResponse", "/owa/page.html", "throw-SEND_RESPONSE", 200, PAGE, FirstOf(4)},
    {"ThrowsInSendRawData", "/owa/page.html", "throw-SEND_RAW_DATA", 200, PAGE, ALL},
    {"ThrowsInEndOfRequest", "/owa/page.html", "throw-END_OF_REQUEST", 200, PAGE, ALL},
    {"ReturnsGarbage", "/owa/page.html", "garbage", 200, PAGE, ALL},
};

class CFakeWorkerRequests : public CFakeWorkerTest, public ::testing::WithParamInterface<CFakeCase> {};

TEST_P(CFakeWorkerRequests, NotificationsInOrderAndTheResponseIntact) {
    const CFakeCase& c = GetParam();
    const CHttpReply reply = m_server.Get(c.m_pszTarget, {std::string("X-Fake: ") + c.m_pszFake});
    EXPECT_EQ(c.m_nStatus, reply.m_nStatus) << reply.m_csStatusLine;
    EXPECT_EQ(c.m_pszBody, reply.m_csBody);
    EXPECT_EQ(std::to_string(reply.m_csBody.size()), reply.Header("content-length"));
    EXPECT_EQ("", reply.Header("x-evil"));
    EXPECT_EQ(c.m_vNotifications, Notifications(m_server, c.m_pszTarget, c.m_vNotifications.size()));
}

INSTANTIATE_TEST_SUITE_P(Apache, CFakeWorkerRequests, ::testing::ValuesIn(FAKE_CASES),
                         [](const auto& info) { return std::string(info.param.m_pszName); });

TEST_F(CFakeWorkerTest, ClientGoneMidResponseStillEndsTheRequest) {
    const CHttpReply reply = m_server.Get("/owa/big.bin", {}, true);
    EXPECT_EQ(200, reply.m_nStatus);
    const auto vNotifications = Notifications(m_server, "/owa/big.bin", 5);
    ASSERT_FALSE(vNotifications.empty());
    EXPECT_EQ("END_OF_REQUEST 200", vNotifications.back());
}

TEST_F(CFakeWorkerTest, ManyRequestsAtOnceEachGetTheirOwnNotifications) {
    std::vector<std::thread> vThreads;
    std::vector<CHttpReply> vReplies(16);
    for (size_t i = 0; i < vReplies.size(); ++i)
        vThreads.emplace_back(
            [&, i] { vReplies[i] = m_server.Get("/owa/page.html?n=" + std::to_string(i)); });
    for (auto& thread : vThreads)
        thread.join();
    for (size_t i = 0; i < vReplies.size(); ++i) {
        EXPECT_EQ(PAGE, vReplies[i].m_csBody);
        EXPECT_EQ(ALL, Notifications(m_server, "/owa/page.html?n=" + std::to_string(i), ALL.size()));
    }
}

struct CStartCase {
    const char* m_pszName;
    std::string m_csWorker;
    const char* m_pszDirectives;
    const char* m_pszEnvironment;
    const char* m_pszMessage;
};

const CStartCase START_CASES[] = {
    {"WorkerRefuses", WK_APACHE_FAKE_WORKER_PATH, "", "WK_APACHE_FAKE_REFUSE=1",
     "does not start: GetFilterVersion returned 0"},
    {"WorkerMissing", "/nonexistent/WK_ServiceWorker.so", "", "", "module file not found: /nonexistent"},
    {"WorkerNotAModule", "/etc/hostname", "", "", "cannot load module /etc/hostname"},
    {"BodyLimitZero", WK_APACHE_FAKE_WORKER_PATH, "WendrakeBodyLimit 0", "",
     "WendrakeBodyLimit: '0' is no byte count"},
    {"BodyLimitNotANumber", WK_APACHE_FAKE_WORKER_PATH, "WendrakeBodyLimit 1k", "",
     "WendrakeBodyLimit: '1k'"},
    {"PrefixTooShort", WK_APACHE_FAKE_WORKER_PATH, "WendrakeCsmPrefix /abc", "",
     "shorter than the 5 characters"},
    {"UnknownSubscription", WK_APACHE_FAKE_WORKER_PATH, "WendrakeSubscription inbox ^/", "",
     "'inbox' is no subscription type"},
    {"BrokenPattern", WK_APACHE_FAKE_WORKER_PATH, "WendrakeSubscription base (", "",
     "'(' is not a valid regular"},
    {"IdentityWithoutHeader", WK_APACHE_FAKE_WORKER_PATH, "WendrakeIdentity header", "",
     "WendrakeIdentity: expected"},
    {"WorkerInVirtualHost", WK_APACHE_FAKE_WORKER_PATH, "WendrakeWorker /x.so", "",
     "WendrakeWorker cannot occur"},
    {"RelativeWebmail", WK_APACHE_FAKE_WORKER_PATH, "WendrakeWebmail owa", "", "must start with '/'"},
};

class CApacheStart : public ::testing::TestWithParam<CStartCase> {};

TEST_P(CApacheStart, FailsWithAPreciseReason) {
    std::string csWhy;
    if (!CApacheServer::Available(csWhy))
        GTEST_SKIP() << csWhy;
    const CStartCase& c = GetParam();
    CApacheServer server;
    std::string csError;
    std::vector<std::string> vEnvironment;
    if (*c.m_pszEnvironment)
        vEnvironment.push_back(c.m_pszEnvironment);
    EXPECT_FALSE(server.Start(c.m_csWorker, c.m_pszDirectives, csError, vEnvironment));
    EXPECT_NE(std::string::npos, csError.find(c.m_pszMessage)) << csError;
}

INSTANTIATE_TEST_SUITE_P(Apache, CApacheStart, ::testing::ValuesIn(START_CASES),
                         [](const auto& info) { return std::string(info.param.m_pszName); });

// ---------------------------------------------------------------------------------------------------------
// The worker module behind Apache.

std::string SamplePage(const std::string& csName) {
    std::ifstream file(std::string(WK_TEST_DATA_DIR) + "/pages/" + csName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const char WORKER_DIRECTIVES[] = R"(
    WendrakeIdentity header X-Test-User X-Test-Sid
    WendrakeSubscription base "^/owa/([^?]*)\?(.*&)?bkwkbase="
    WendrakeSubscription subframe "^/owa/([^?]*)\?(.*&)?bkwksubfr="
    WendrakeSubscription logoff "^/owa/logoff\.html"
    WendrakeSubscription owa "^/owa/(gz/)?(\?.*)?$"
    WendrakeLinkCriteria 0
)";

struct CWorkerCase {
    const char* m_pszName;
    const char* m_pszTarget;
    const char* m_pszUserAgent;
    const char* m_pszExtraDirective;
    const char* m_pszStatusLine;
    const char* m_pszHeader; // "name: part of the value" that must be there
    const char* m_pszInBody; // a text the body holds; null: the body is the site's file, byte for byte
    const char* m_pszSiteFile;
};

const CWorkerCase WORKER_CASES[] = {
    {"BlockedBrowser", "/owa/", "User-Agent: curl/8.0", "", "HTTP/1.1 302 Object Moved",
     "location: /owa/BKScripts/Wendrake/1.2//bkcsbk_WKDlgNoBrowser.htm", "", "/owa/index.html"},
    {"AllowedBrowser", "/owa/", FIREFOX, "", "HTTP/1.1 200 OK", "content-type: text/html", "g_BKWK_sOWA",
     "/owa/index.html"},
    {"BasePage", "/owa/index.html?bkwkbase=1", FIREFOX, "", "HTTP/1.1 200 OK", "content-type: text/html",
     "g_BKWK_sOWA", "/owa/index.html"},
    {"GuardedStartPage", "/owa/?bkwksubfr=2", FIREFOX, "", "HTTP/1.1 200 OK", "pragma: no-cache", "id=idbkWK",
     "/owa/index.html"},
    {"GzipUpstream", "/owa/gz/?bkwksubfr=2", FIREFOX, "", "HTTP/1.1 200 OK", "pragma: no-cache", "id=idbkWK",
     "/owa/index.html"},
    {"LeftAlonePage", "/owa/error.html?bkwksubfr=2", FIREFOX, "", "HTTP/1.1 200 OK",
     "content-type: text/html", nullptr, "/owa/error.html"},
    {"NonHtml", "/owa/style.css?bkwksubfr=2", FIREFOX, "", "HTTP/1.1 200 OK", "content-type: text/css",
     nullptr, "/owa/style.css"},
    {"Logoff", "/owa/logoff.html", FIREFOX, "", "HTTP/1.1 200 OK", "set-cookie: UserContext=;", nullptr,
     "/owa/logoff.html"},
    {"GuardScriptFile", "/owa/BKScripts/Wendrake/1.2//bkcsbk_WKUtil.js", FIREFOX,
     "WendrakeScripts @ROOT@/scripts", "HTTP/1.1 200 OK", "cache-control: public, max-age=31536000", nullptr,
     "/../scripts/Wendrake/1.2/bk_WKUtil.js"},
    // The host serves the guard's files without the worker, which would send a refused browser back here.
    {"BlockedBrowserGetsTheBlockedPage", "/owa/BKScripts/Wendrake/1.2//bkcsbk_WKDlgNoBrowser.htm",
     "User-Agent: curl/8.0", "WendrakeScripts @ROOT@/scripts", "HTTP/1.1 200 OK",
     "cache-control: public, max-age=3600", nullptr, "/../scripts/Wendrake/1.2/bk_WKDlgNoBrowser.htm"},
    {"GuardScriptOutsideTheFolder", "/owa/BKScripts/../../etc/hostname", FIREFOX,
     "WendrakeScripts @ROOT@/scripts", "HTTP/1.1 404 Not Found", "content-type: text/html", "Not Found", ""},
    {"WebmailScriptUnderThePrefix", "/owa/8.1.240.5/scripts/premium//bkcsm/v1uglobal.js", FIREFOX, "",
     "HTTP/1.1 200 OK", "content-type: text/javascript", nullptr,
     "/owa/8.1.240.5/scripts/premium/uglobal.js"},
    {"PageOverTheCap", "/owa/?bkwksubfr=2", FIREFOX, "WendrakeBodyLimit 1000", "HTTP/1.1 200 OK",
     "pragma: no-cache", nullptr, "/owa/index.html"},
};

class CRealWorker : public ::testing::TestWithParam<CWorkerCase> {
protected:
    void SetUp() override {
        std::string csWhy;
        if (!CApacheServer::Available(csWhy))
            GTEST_SKIP() << csWhy;
        ASSERT_TRUE(m_installation.CopySampleInstallation() && m_installation.InstallModule(WK_MODULE_PATH));
        // The server's children (nobody, when the tests run as root) read the installation.
        std::filesystem::permissions(m_installation.Prefix(), std::filesystem::perms::owner_all |
                                                                  std::filesystem::perms::others_read |
                                                                  std::filesystem::perms::others_exec);
        m_server.AddFile("/owa/index.html", SamplePage("premium-startpage.utf-8.html"));
        m_server.AddFile("/owa/error.html", SamplePage("error.utf-8.html"));
        m_server.AddFile("/owa/logoff.html", PAGE);
        m_server.AddFile("/owa/style.css", "body { color: black; }");
        m_server.AddFile("/owa/8.1.240.5/scripts/premium/uglobal.js", "var g_global = 1;");
        m_server.AddFile("/../scripts/Wendrake/1.2/bk_WKUtil.js", "var g_util = 1;");
        m_server.AddFile("/../scripts/Wendrake/1.2/bk_WKDlgNoBrowser.htm", "<html><h1>Browser</h1></html>");
    }
    CTempInstallation m_installation;
    CApacheServer m_server;
};

TEST_P(CRealWorker, AnswersAsTheWorkerDecides) {
    const CWorkerCase& c = GetParam();
    std::string csError;
    ASSERT_TRUE(m_server.Start(m_installation.ModulePath(),
                               std::string(WORKER_DIRECTIVES) + "    " + c.m_pszExtraDirective, csError))
        << csError;
    const CHttpReply reply =
        m_server.Get(c.m_pszTarget,
                     {c.m_pszUserAgent, "Cookie: sessionid=42; UserContext=a1", "X-Test-User: EXAMPLE\\jane",
                      "X-Test-Sid: S-1-5-21-1004336348-1177238915-682003330-1001"});
    EXPECT_EQ(c.m_pszStatusLine, reply.m_csStatusLine);
    const std::string csHeader = c.m_pszHeader;
    const std::string csName = csHeader.substr(0, csHeader.find(':'));
    bool bFound = false;
    for (auto [it, end] = reply.m_headers.equal_range(csName); it != end; ++it)
        bFound = bFound || it->second.find(csHeader.substr(csName.size() + 2)) != std::string::npos;
    EXPECT_TRUE(bFound) << csHeader;
    if (c.m_pszInBody)
        EXPECT_NE(std::string::npos, reply.m_csBody.find(c.m_pszInBody)) << reply.m_csBody;
    else
        EXPECT_EQ(m_server.ReadFile("site" + std::string(c.m_pszSiteFile)), reply.m_csBody);
    EXPECT_EQ(std::to_string(reply.m_csBody.size()), reply.Header("content-length"));
    EXPECT_EQ("", reply.Header("content-encoding"));
}

INSTANTIATE_TEST_SUITE_P(Apache, CRealWorker, ::testing::ValuesIn(WORKER_CASES),
                         [](const auto& info) { return std::string(info.param.m_pszName); });

} // namespace
