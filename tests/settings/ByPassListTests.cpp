#include "host/testing/TestHost.h"
#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"
#include "settings/ByPassList.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const std::string PARSE_PREFIX = "[CSWSettings::ParseBuildByPassList] ";
const char* const CHECK_PREFIX = "[CSWSettings::CheckByPassList] ";

class ByPassParseTest : public testing::TestWithParam<tabletest::TRow> {};

TEST_P(ByPassParseTest, BuildsTheListAndLogsBadPieces) {
    const tabletest::TRow& row = GetParam();
    CLogCapture log;
    std::vector<CSid> vSids{CSid(5, {99})}; // a previous load's list is replaced
    const std::string& csUsers = row.at(1);
    const std::string& csGroups = row.at(2);
    EXPECT_EQ(ParseBuildByPassList(csUsers == "(missing)" ? nullptr : &csUsers,
                                   csGroups == "(missing)" ? nullptr : &csGroups, vSids),
              tabletest::Number(row.at(4)));
    std::string csTexts;
    for (const CSid& sid : vSids) {
        std::string csText;
        sid.ToString(csText);
        csTexts += (csTexts.empty() ? "" : " ") + csText;
    }
    EXPECT_EQ(csTexts, row.at(3));
    EXPECT_EQ(log.Lines(), row.size() > 5 ? std::vector<std::string>{PARSE_PREFIX + row.at(5)}
                                          : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Settings, ByPassParseTest,
                         testing::ValuesIn(tabletest::ReadTable("settings/bypass-lists.txt")),
                         tabletest::RowName);

bool ThrowingConvert(const char* pszText, CSid& sid) {
    if (std::strcmp(pszText, "S-1-5-7") == 0)
        throw std::bad_alloc();
    return ConvertStringSidToSid(pszText, sid);
}

TEST(ByPassParseExceptionTest, ThrowingConversionIsLoggedWithTheLonePercent) {
    CLogCapture log;
    const std::string csUsers = "S-1-5-7;S-1-5-11";
    std::vector<CSid> vSids;
    EXPECT_EQ(ParseBuildByPassList(&csUsers, nullptr, vSids, &ThrowingConvert), ERROR_EXCEPTION_IN_SERVICE);
    ASSERT_EQ(vSids.size(), 1u);
    EXPECT_TRUE(vSids[0] == AuthenticatedUsersSid());
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{PARSE_PREFIX +
                                       "ParseBuildByPassList got an EXCEPTION for user/group %S-1-5-7"});
}

// Scripted membership answers: one entry per call, FALSE results fail with the given code.
struct CScript {
    std::vector<BOOL> vResults;
    std::vector<BOOL> vMember;
    std::vector<DWORD> vErrors;
    size_t nCalls = 0;
};
CScript* g_pScript = nullptr;

BOOL ScriptedMembership(const CSid&, BOOL& bIsMember) {
    CScript& s = *g_pScript;
    const size_t n = s.nCalls++;
    if (!s.vResults[n]) {
        PlatformSetLastError(s.vErrors[n]);
        return FALSE;
    }
    bIsMember = s.vMember[n];
    return TRUE;
}

struct CCheckCase {
    const char* pszName;
    size_t nSids;
    bool bExcludedBefore;
    CScript script;
    DWORD dwResult;
    bool bExcluded;
    size_t nCalls;
    std::vector<std::string> vLog;
};

TEST(ByPassCheckTest, WalksTheListInOrder) {
    const std::string csMatch = "CheckByPassList found a match user is excluded from QS";
    const std::string csNoMatch = "CheckByPassList didn't find a match user is allow to QS";
    const std::string csFailed = "CheckByPassList  CheckTokeMembership failed error 5 for Criteria";
    // clang-format off
    const CCheckCase aCases[] = {
        {"empty list", 0, false, {}, 0, false, 0, {"CheckByPassList "}},
        {"empty list keeps the caller's value", 0, true, {}, 0, true, 0, {"CheckByPassList "}},
        {"no match", 2, false, {{TRUE, TRUE}, {FALSE, FALSE}, {0, 0}}, 0, false, 2,
         {"CheckByPassList ", csNoMatch}},
        {"match stops before the next SID", 3, false, {{TRUE, TRUE, TRUE}, {TRUE, FALSE, FALSE}, {0, 0, 0}}, 0,
         true, 1, {"CheckByPassList ", csMatch}},
        {"failure logged and the rest still tested", 3, false,
         {{TRUE, FALSE, TRUE}, {FALSE, FALSE, FALSE}, {0, ERROR_ACCESS_DENIED, 0}}, ERROR_ACCESS_DENIED, false, 3,
         {"CheckByPassList ", csFailed, csNoMatch}},
        {"failure then match keeps the error", 2, false,
         {{FALSE, TRUE}, {FALSE, TRUE}, {ERROR_ACCESS_DENIED, 0}}, ERROR_ACCESS_DENIED, true, 2,
         {"CheckByPassList ", csFailed, csMatch}},
    };
    // clang-format on
    for (const CCheckCase& c : aCases) {
        CScript script = c.script;
        g_pScript = &script;
        std::vector<CSid> vSids(c.nSids, EveryoneSid());
        CLogCapture log;
        bool bExcluded = c.bExcludedBefore;
        EXPECT_EQ(CheckByPassList(vSids, bExcluded, &ScriptedMembership), c.dwResult) << c.pszName;
        EXPECT_EQ(bExcluded, c.bExcluded) << c.pszName;
        EXPECT_EQ(script.nCalls, c.nCalls) << c.pszName;
        std::vector<std::string> vExpectedLog;
        for (const std::string& cs : c.vLog)
            vExpectedLog.push_back(CHECK_PREFIX + cs);
        EXPECT_EQ(log.Lines(), vExpectedLog) << c.pszName;
        g_pScript = nullptr;
    }
}

TEST(ByPassCheckTest, ThreadIdentityDecides) {
    const std::string csUsers = "S-1-5-32-544";
    const std::string csGroups = "S-1-5-11";
    std::vector<CSid> vSids;
    ASSERT_EQ(ParseBuildByPassList(&csUsers, &csGroups, vSids), ERROR_SUCCESS);

    // The process itself is never bypassed.
    bool bExcluded = false;
    EXPECT_EQ(CheckByPassList(vSids, bExcluded), ERROR_SUCCESS);
    EXPECT_FALSE(bExcluded);

    auto spUser = std::make_shared<CRequestIdentity>();
    spUser->csUser = "alice";
    CSid user;
    ASSERT_EQ(CSid::FromString("S-1-5-21-1-2-3-1105", user), ERROR_SUCCESS);
    spUser->vUserSid = user.GetBytes();
    CThreadIdentity::Impersonate(spUser);
    EXPECT_EQ(CheckByPassList(vSids, bExcluded), ERROR_SUCCESS);
    EXPECT_TRUE(bExcluded);

    // Only administrators listed: an ordinary user is not excluded, an administrator is.
    vSids.resize(1);
    bExcluded = false;
    EXPECT_EQ(CheckByPassList(vSids, bExcluded), ERROR_SUCCESS);
    EXPECT_FALSE(bExcluded);
    auto spAdmin = std::make_shared<CRequestIdentity>(*spUser);
    spAdmin->vGroupSids.push_back(vSids[0].GetBytes());
    CThreadIdentity::Impersonate(spAdmin);
    EXPECT_EQ(CheckByPassList(vSids, bExcluded), ERROR_SUCCESS);
    EXPECT_TRUE(bExcluded);
    CThreadIdentity::RevertToSelf();
}

} // namespace
