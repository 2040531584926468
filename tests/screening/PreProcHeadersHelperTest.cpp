#include "screening/CPreProcHeadersHelper.h"
#include "screening/CPreProcHeadersRequest.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

namespace {

using tabletest::TRow;

class UrlClassTest : public ::testing::TestWithParam<TRow> {};

TEST_P(UrlClassTest, ClassifiesTheUrl) {
    const TRow& row = GetParam();
    const CaselessString csUrl = ToCaseless(row.at(1));
    const bool bExpected = row.at(4) == "1";
    if (row[0] == "start")
        EXPECT_EQ(CPreProcHeadersHelper::IsOWAStartPageURL(csUrl, row.at(2) == "Y"), bExpected);
    else if (row[0] == "base")
        EXPECT_EQ(CPreProcHeadersHelper::IsBKWKBaseURL(csUrl, row.at(2) == "Y"), bExpected);
    else
        EXPECT_EQ(
            CPreProcHeadersHelper::IsBKWKBaseRequest(std::stoul(row.at(3)), csUrl, ToCaseless(row.at(2))),
            bExpected);
}

INSTANTIATE_TEST_SUITE_P(Urls, UrlClassTest,
                         ::testing::ValuesIn(tabletest::ReadTable("screening/url-classes.txt")),
                         [](const auto& info) {
                             return tabletest::NameOf(info.param.at(0) + "_" + std::to_string(info.index));
                         });

TEST(CompareBrowserVersions, SegmentsCompareAsBlankPaddedTexts) {
    for (const TRow& row : tabletest::ReadTable("screening/versions.txt")) {
        SCOPED_TRACE(row.at(0) + " vs " + row.at(1));
        const int nResult =
            CPreProcHeadersHelper::CompareBrowserVersions(ToCaseless(row[0]), ToCaseless(row[1]));
        EXPECT_EQ((nResult > 0) - (nResult < 0), std::stoi(row.at(2)));
    }
}

TEST(UserContextCookies, OnlyCookiesOfThatNameAreReset) {
    for (const TRow& row : tabletest::ReadTable("screening/user-context-cookies.txt")) {
        SCOPED_TRACE(row.at(0));
        std::string csHeaders, csExpected;
        CPreProcHeadersHelper::AppendRemoveUserContextCookieHeaders(row[0], csHeaders);
        std::vector<CaselessString> vNames;
        SplitList(ToCaseless(row.at(1)), ",", vNames, false);
        for (const CaselessString& csName : vNames)
            csExpected += CookieRemovalLine(ToPlain(csName));
        EXPECT_EQ(csHeaders, csExpected);
    }
}

TEST(PreProcHeadersRequest, NormalizeCollapsesRunsOfSlashes) {
    EXPECT_EQ(CPreProcHeadersRequest::NormalizeUrl("//owa///x//?a=//b"), "/owa/x/?a=/b");
    EXPECT_EQ(CPreProcHeadersRequest::NormalizeUrl(""), "");
}

} // namespace
