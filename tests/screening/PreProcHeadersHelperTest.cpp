#include "request/SettingsSingleton.h"
#include "screening/CPreProcHeadersHelper.h"
#include "screening/CPreProcHeadersRequest.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

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

// Allocation failure while the browser is identified: the policy catches it and refuses the browser.
namespace {
thread_local bool t_bFailAllocations = false;
}
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t cb) {
    void* p = t_bFailAllocations ? nullptr : std::malloc(cb ? cb : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
// The nothrow form too: under AddressSanitizer it would otherwise come from the sanitizer's allocator and be
// freed by the delete above.
void* operator new(size_t cb, const std::nothrow_t&) noexcept {
    try {
        return operator new(cb);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

TEST(BrowserPolicy, OutOfMemoryWhileIdentifyingRefusesTheBrowser) {
    CDLLContext context;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    const CaselessString csAgent =
        "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0";
    DWORD dwBlock = 0, dwResult = 1;
    GetGeneralSettingsInstance(); // made on first use, before allocations fail
    t_bFailAllocations = true;
    dwResult = CPreProcHeadersHelper::SetClientFlags_BlockBrowserIfNecessary(&context, csAgent, dwBlock);
    t_bFailAllocations = false;
    EXPECT_EQ(std::make_pair(dwResult, dwBlock), std::make_pair(DWORD(0), DWORD(1)));
}
