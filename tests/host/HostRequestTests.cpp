#include "host/common/HostRequest.h"
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
    EXPECT_EQ(request.BuildHeaders(), (Pairs{{"User-Agent", "UA"},
                                             {"Cookie", "k=v"},
                                             {"Accept-Language", "de"},
                                             {"Referer", "https://r/"},
                                             {"BK_User-Agent", "Inner UA"},
                                             {"X-Two", "2"}}));
}

} // namespace
