#include "platform/LastError.h"
#include "security/CSid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CRoundTrip {
    const char* pszText;
    const char* pszCanonical; // the text written back
    std::vector<BYTE> vBytes;
};

class SidRoundTripTest : public testing::TestWithParam<CRoundTrip> {};

TEST_P(SidRoundTripTest, TextToBinaryAndBack) {
    const CRoundTrip& c = GetParam();
    CSid sid;
    ASSERT_EQ(CSid::FromString(c.pszText, sid), ERROR_SUCCESS);
    EXPECT_EQ(sid.GetBytes(), c.vBytes);
    std::string csText;
    ASSERT_EQ(sid.ToString(csText), ERROR_SUCCESS);
    EXPECT_EQ(csText, c.pszCanonical);

    CSid fromBinary;
    ASSERT_EQ(CSid::FromBinary(c.vBytes, fromBinary), ERROR_SUCCESS);
    EXPECT_TRUE(fromBinary == sid);
}

INSTANTIATE_TEST_SUITE_P(
    Sids, SidRoundTripTest,
    testing::Values(
        CRoundTrip{"S-1-1-0", "S-1-1-0", {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
        CRoundTrip{"S-1-5-32-544", "S-1-5-32-544", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}},
        CRoundTrip{"s-1-5-32-544", "S-1-5-32-544", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}},
        CRoundTrip{"BA", "S-1-5-32-544", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}},
        CRoundTrip{"S-1-5", "S-1-5", {1, 0, 0, 0, 0, 0, 0, 5}},
        CRoundTrip{"S-1-5-21-4294967295-1-1105",
                   "S-1-5-21-4294967295-1-1105",
                   {1, 4, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0x51, 4, 0, 0}},
        CRoundTrip{"S-1-4294967295-7", "S-1-4294967295-7", {1, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}},
        CRoundTrip{"S-1-0x0000000000FF-7", "S-1-255-7", {1, 1, 0, 0, 0, 0, 0, 0xFF, 7, 0, 0, 0}},
        CRoundTrip{"S-1-0x123456789abc-7",
                   "S-1-0x123456789ABC-7",
                   {1, 1, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 7, 0, 0, 0}},
        CRoundTrip{"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15",
                   [] {
                       std::vector<BYTE> v{1, 15, 0, 0, 0, 0, 0, 5};
                       for (BYTE b = 1; b <= 15; ++b)
                           v.insert(v.end(), {b, 0, 0, 0});
                       return v;
                   }()}));

class SidBadTextTest : public testing::TestWithParam<const char*> {};

TEST_P(SidBadTextTest, FailsWithInvalidSidAndLeavesTheTargetAlone) {
    CSid sid(5, {18});
    const std::vector<BYTE> vBefore = sid.GetBytes();
    EXPECT_EQ(CSid::FromString(GetParam(), sid), ERROR_INVALID_SID);
    EXPECT_EQ(sid.GetBytes(), vBefore);

    PlatformSetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ConvertStringSidToSid(GetParam(), sid));
    EXPECT_EQ(PlatformGetLastError(), ERROR_INVALID_SID);
}

INSTANTIATE_TEST_SUITE_P(Texts, SidBadTextTest,
                         testing::Values("", "S", "S-", "S-1", "S-1-", "S-2-5", "S-0-5", "S-01x-5",
                                         "X-1-5-32", "S-1-5-", "S-1-5--1", "S-1-5-32-544x", "S-1-5-32-544 ",
                                         " S-1-5-32", "S-1--5", "S-1-+5", "S-1-5--",
                                         "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "S-1-4294967296-1",
                                         "S-1-0x1000000000000-1", "S-1-0x-1", "S-1-5-4294967296",
                                         "S-1-5-99999999999999999999999", "S-256-5", "S-1-5-0x20", "ba",
                                         "BAD"));

struct CBinaryCase {
    const char* pszName;
    std::vector<BYTE> vBytes;
};

TEST(SidBinaryTest, RejectsMalformedBytes) {
    const CBinaryCase aCases[] = {
        {"empty", {}},
        {"short header", {1, 0, 0, 0, 0, 0, 0}},
        {"revision 2", {2, 0, 0, 0, 0, 0, 0, 5}},
        {"count past the end", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0}},
        {"bytes after the end", {1, 0, 0, 0, 0, 0, 0, 5, 0}},
        {"sixteen sub-authorities", std::vector<BYTE>(8 + 64, 0)},
    };
    for (const CBinaryCase& c : aCases) {
        std::vector<BYTE> vBytes = c.vBytes;
        if (vBytes.size() == 72) {
            vBytes[0] = 1;
            vBytes[1] = 16;
        }
        CSid sid;
        EXPECT_EQ(CSid::FromBinary(vBytes, sid), ERROR_INVALID_SID) << c.pszName;
        EXPECT_FALSE(sid.IsValid()) << c.pszName;
    }
    CSid sid;
    EXPECT_EQ(CSid::FromBinary(nullptr, 8, sid), ERROR_INVALID_SID);
}

TEST(SidBinaryTest, EmptySidHasNoTextAndEqualsOnlyAnotherEmptyOne) {
    CSid empty;
    std::string csText = "unchanged";
    EXPECT_EQ(empty.ToString(csText), ERROR_INVALID_SID);
    EXPECT_EQ(csText, "unchanged");
    PlatformSetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ConvertSidToStringSid(empty, csText));
    EXPECT_EQ(PlatformGetLastError(), ERROR_INVALID_SID);
    EXPECT_FALSE(empty.Equals({}));
    EXPECT_FALSE(empty == EveryoneSid());
    EXPECT_FALSE(CSid(5, {11}) == CSid(5, {11, 0}));
    EXPECT_TRUE(CSid(5, {11}) == AuthenticatedUsersSid());
    EXPECT_EQ(CSid::FromString(nullptr, empty), ERROR_INVALID_PARAMETER);
}

} // namespace
