#include "host/testing/TestHost.h"
#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"
#include "settings/ByPassList.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <sstream>
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

// Scripted membership answers, one a call (tests/data/settings/bypass-checks.txt).
std::vector<std::string> g_vAnswers;
size_t g_nCalls = 0;

BOOL ScriptedMembership(const CSid&, BOOL& bIsMember) {
    const std::string& csAnswer = g_vAnswers.at(g_nCalls++);
    if (csAnswer[0] == '!') {
        PlatformSetLastError(static_cast<DWORD>(std::stoul(csAnswer.substr(1))));
        return FALSE;
    }
    bIsMember = csAnswer == "+1";
    return TRUE;
}

TEST(ByPassCheckTest, WalksTheListInOrder) {
    const std::map<std::string, std::string> mapLines = {
        {"match", "CheckByPassList found a match user is excluded from QS"},
        {"nomatch", "CheckByPassList didn't find a match user is allow to QS"},
        {"failed", "CheckByPassList  CheckTokeMembership failed error 5 for Criteria"}};
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/bypass-checks.txt")) {
        SCOPED_TRACE(row.at(0));
        std::istringstream answers(row.at(3));
        g_vAnswers.assign(std::istream_iterator<std::string>(answers), {});
        g_nCalls = 0;
        std::vector<CSid> vSids(static_cast<size_t>(tabletest::Number(row.at(1))), EveryoneSid());
        CLogCapture log;
        bool bExcluded = row.at(2) == "1";
        EXPECT_EQ(CheckByPassList(vSids, bExcluded, &ScriptedMembership), tabletest::Number(row.at(4)));
        EXPECT_EQ(bExcluded, row.at(5) == "1");
        EXPECT_EQ(g_nCalls, static_cast<size_t>(tabletest::Number(row.at(6))));
        std::vector<std::string> vExpectedLog{CHECK_PREFIX + std::string("CheckByPassList ")};
        for (size_t n = 7; n < row.size(); ++n)
            vExpectedLog.push_back(CHECK_PREFIX + mapLines.at(row.at(n)));
        EXPECT_EQ(log.Lines(), vExpectedLog);
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
