#include "host/common/HostRequest.h"

#include <gtest/gtest.h>

namespace {

struct CUrlCase {
    const char* pszUrl;
    const char* pszPath;
    const char* pszQuery;
};

TEST(HostRequestTest, SplitsTheUrlIntoPathAndQuery) {
    const CUrlCase cases[] = {
        {"/owa/", "/owa/", ""},
        {"/owa/?Cmd=logoff&a=b", "/owa/", "Cmd=logoff&a=b"},
        {"/owa/?", "/owa/", ""},
        {"/a?b?c", "/a", "b?c"},
        {"/x#frag", "/x", ""},
        {"/x?q=1#frag", "/x", "q=1"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        CHostRequest request;
        request.Url(c.pszUrl);
        EXPECT_EQ(request.GetPath(), c.pszPath) << c.pszUrl;
        EXPECT_EQ(request.GetQueryString(), c.pszQuery) << c.pszUrl;
        auto spInfo = request.BuildRequestInfo();
        EXPECT_EQ(spInfo->m_mapRequestValues.at("URL"), c.pszPath) << c.pszUrl;
        EXPECT_EQ(spInfo->m_mapRequestValues.at("QUERY_STRING"), c.pszQuery) << c.pszUrl;
    }
}

struct CQueryCase {
    const char* pszQuery;
    std::vector<std::pair<std::string, std::string>> vExpected;
};

TEST(HostRequestTest, ParsesQueryStrings) {
    const std::vector<CQueryCase> cases = {
        {"", {}},
        {"a=1&b=2", {{"a", "1"}, {"b", "2"}}},
        {"bkwkbase", {{"bkwkbase", ""}}},
        {"&&a=1&", {{"a", "1"}}},
        {"a=1&A=2", {{"a", "1"}}},
        {"x=%41%2b+y", {{"x", "A+ y"}}},
        {"bad=%zz%4", {{"bad", "%zz%4"}}},
        {"=v&w=", {{"w", ""}}},
        {"m%6Fdurl=%2Fowa%2F%3Fa%3Db", {{"modurl", "/owa/?a=b"}}},
        {"a==b", {{"a", "=b"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseQueryString(c.pszQuery), c.vExpected) << c.pszQuery;
}

TEST(HostRequestTest, QueryParametersIgnoreCase) {
    auto spInfo = CHostRequest().Url("/owa/?CMD=logoff&bkWKbase=1").BuildRequestInfo();
    std::string csValue;
    EXPECT_TRUE(spInfo->GetQueryParameter("Cmd", csValue));
    EXPECT_EQ(csValue, "logoff");
    EXPECT_TRUE(spInfo->GetQueryParameter("bkwkbase", csValue));
    EXPECT_EQ(csValue, "1");
    EXPECT_FALSE(spInfo->GetQueryParameter("modurl", csValue));
    EXPECT_FALSE(CHostRequest().Url("/owa/").BuildRequestInfo()->GetQueryParameter("Cmd", csValue));
}

TEST(HostRequestTest, DerivesTheRequestValues) {
    auto spInfo = CHostRequest()
                      .Method("POST")
                      .Url("/owa/auth/logon.aspx?replaceCurrent=1")
                      .UserAgent("Mozilla/5.0 (Windows NT 10.0)")
                      .Cookie("a=b; c=d")
                      .AcceptLanguage("fr-CA,fr;q=0.8")
                      .Referer("https://mail/owa/")
                      .BuildRequestInfo();
    const auto& values = spInfo->m_mapRequestValues;
    EXPECT_EQ(values.at("HTTP_URL"), "/owa/auth/logon.aspx?replaceCurrent=1");
    EXPECT_EQ(values.at("URL"), "/owa/auth/logon.aspx");
    EXPECT_EQ(values.at("QUERY_STRING"), "replaceCurrent=1");
    EXPECT_EQ(values.at("HTTP_METHOD"), "POST");
    EXPECT_EQ(values.at("HTTP_USER_AGENT"), "Mozilla/5.0 (Windows NT 10.0)");
    EXPECT_EQ(values.at("HTTP_COOKIE"), "a=b; c=d");
    EXPECT_EQ(values.at("HTTP_ACCEPT-LANGUAGE"), "fr-CA,fr;q=0.8");
    // Request values compare exactly, and the referer is a header, not a request value.
    std::string csValue;
    EXPECT_FALSE(spInfo->GetHeaderValue("http_url", csValue));
    EXPECT_FALSE(spInfo->GetHeaderValue("Referer", csValue));
    EXPECT_EQ(values.size(), 7u);
}

TEST(HostRequestTest, HeadersNotGivenAreAbsentNotEmpty) {
    auto spInfo = CHostRequest().BuildRequestInfo();
    for (const char* pszName : {"HTTP_USER_AGENT", "HTTP_COOKIE", "HTTP_ACCEPT-LANGUAGE"})
        EXPECT_EQ(spInfo->m_mapRequestValues.count(pszName), 0u) << pszName;
    auto spEmpty = CHostRequest().UserAgent("").BuildRequestInfo();
    EXPECT_EQ(spEmpty->m_mapRequestValues.at("HTTP_USER_AGENT"), "");
}

TEST(HostRequestTest, RequestValuesCanBeOverriddenRemovedAndRestored) {
    CHostRequest request;
    request.Url("/owa/").RequestValue("BK_USERNAME", "alice").RequestValue("HTTP_URL", "/other/");
    request.WithoutRequestValue("HTTP_METHOD").RequestValue("Referer:", "https://r/");
    auto spInfo = request.BuildRequestInfo();
    std::string csValue;
    EXPECT_EQ(spInfo->m_mapRequestValues.at("HTTP_URL"), "/other/");
    EXPECT_EQ(spInfo->m_mapRequestValues.at("BK_USERNAME"), "alice");
    EXPECT_EQ(spInfo->m_mapRequestValues.count("HTTP_METHOD"), 0u);
    // A header stored with its colon is found under its bare name.
    EXPECT_TRUE(spInfo->GetHeaderValue("Referer", csValue));
    EXPECT_EQ(csValue, "https://r/");

    request.WithoutRequestValue("BK_USERNAME");
    EXPECT_EQ(request.BuildRequestInfo()->m_mapRequestValues.count("BK_USERNAME"), 0u);
    request.RequestValue("HTTP_METHOD", "GET");
    EXPECT_EQ(request.BuildRequestInfo()->m_mapRequestValues.at("HTTP_METHOD"), "GET");
}

TEST(HostRequestTest, DerivesTheServerVariables) {
    auto mapVariables = CHostRequest()
                            .Method("GET")
                            .Url("/owa/?a=1")
                            .UserAgent("UA")
                            .Cookie("k=v")
                            .AcceptLanguage("de")
                            .Referer("https://r/")
                            .Header("BK_User-Agent:", "Inner UA")
                            .ServerVariable("LOGON_USER", "EXAMPLE\\bob")
                            .ServerVariable("http_cookie", "override=1")
                            .BuildServerVariables();
    const std::vector<std::pair<const char*, const char*>> vExpected = {
        {"HTTP_USER_AGENT", "UA"},          {"HTTP_ACCEPT_LANGUAGE", "de"},
        {"HTTP_REFERER", "https://r/"},     {"HEADER_BK_USER-AGENT", "Inner UA"},
        {"HTTP_BK_USER_AGENT", "Inner UA"}, {"URL", "/owa/"},
        {"HTTP_URL", "/owa/?a=1"},          {"QUERY_STRING", "a=1"},
        {"REQUEST_METHOD", "GET"},          {"LOGON_USER", "EXAMPLE\\bob"},
        {"HTTP_COOKIE", "override=1"},
    };
    for (const auto& [pszName, pszValue] : vExpected) {
        auto it = mapVariables.find(pszName);
        ASSERT_NE(it, mapVariables.end()) << pszName;
        EXPECT_EQ(it->second, pszValue) << pszName;
    }
}

TEST(HostRequestTest, HeadersKeepTheirOrderAndLoseTheirColon) {
    auto vHeaders =
        CHostRequest().Referer("r").UserAgent("u").Header("X-One:", "1").Header("X-Two", "2").BuildHeaders();
    std::vector<std::pair<std::string, std::string>> vExpected = {
        {"User-Agent", "u"}, {"Referer", "r"}, {"X-One", "1"}, {"X-Two", "2"}};
    EXPECT_EQ(vHeaders, vExpected);
}

TEST(HostRequestTest, BuildsTheExchangeUrl) {
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"https://mail.example.com", "/owa", "https://mail.example.com/owa/"},
        {"https://mail.example.com/", "owa/", "https://mail.example.com/owa/"},
        {"https://m", "", "https://m//"},
    };
    for (const auto& [pszServer, pszDir, pszBase] : cases) {
        auto spUrl =
            CHostRequest().ExchangeServer(pszServer).VirtualDir(pszDir).Url("/owa/x").BuildExchangeURL();
        EXPECT_EQ(spUrl->GetBaseAddress(), pszBase);
        EXPECT_EQ(spUrl->m_csUrl, "/owa/x");
    }
}

TEST(HostRequestTest, FindsReadFailuresByCallbackAndName) {
    CHostRequest request;
    request.FailRead(EHostCallback::GetHeader, {"Referer:", 87, 1, false});
    request.FailRead(EHostCallback::GetServerVariable, {"", 232, 4, true});
    EXPECT_NE(request.FindReadFailure(EHostCallback::GetHeader, "referer"), nullptr);
    EXPECT_NE(request.FindReadFailure(EHostCallback::GetHeader, "REFERER:"), nullptr);
    EXPECT_EQ(request.FindReadFailure(EHostCallback::GetHeader, "User-Agent:"), nullptr);
    const CHostReadFailure* pAny = request.FindReadFailure(EHostCallback::GetServerVariable, "ANYTHING");
    ASSERT_NE(pAny, nullptr);
    EXPECT_EQ(pAny->m_dwLastError, 232u);
    EXPECT_TRUE(pAny->m_bSecondCallOnly);
}

TEST(HostRequestTest, SummarisesTheRequest) {
    CHostRequestSummary summary = CHostRequest()
                                      .Method("POST")
                                      .Url("/u")
                                      .SubscriptionType(14)
                                      .LinkCriteria(2)
                                      .ResponseStatus(302)
                                      .Summary();
    EXPECT_EQ(summary.m_csMethod, "POST");
    EXPECT_EQ(summary.m_dwSubscriptionType, 14u);
    EXPECT_EQ(summary.m_dwLinkCriteria, 2u);
    EXPECT_EQ(summary.m_dwHttpStatus, 302u);
    EXPECT_FALSE(summary.m_bHasBody);
    EXPECT_TRUE(CHostRequest().ResponseBody("").Summary().m_bHasBody);
}

} // namespace
