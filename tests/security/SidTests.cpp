#include "platform/LastError.h"
#include "security/CSid.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tabletest;

std::vector<BYTE> FromHex(const std::string& csHex) {
    std::vector<BYTE> vBytes;
    for (size_t i = 0; i + 1 < csHex.size(); i += 2)
        vBytes.push_back(static_cast<BYTE>(std::stoi(csHex.substr(i, 2), nullptr, 16)));
    return vBytes;
}

TEST(SidTextTest, TextToBinaryAndBack) {
    for (const TRow& row : ReadTable("security/sid-round-trip.txt")) {
        SCOPED_TRACE(row[0]);
        CSid sid;
        ASSERT_EQ(CSid::FromString(row[0].c_str(), sid), ERROR_SUCCESS);
        EXPECT_EQ(sid.GetBytes(), FromHex(row[2]));
        std::string csText;
        ASSERT_EQ(sid.ToString(csText), ERROR_SUCCESS);
        EXPECT_EQ(csText, row[1]);
        CSid fromBinary;
        ASSERT_EQ(CSid::FromBinary(FromHex(row[2]), fromBinary), ERROR_SUCCESS);
        EXPECT_TRUE(fromBinary == sid);
    }
}

TEST(SidTextTest, BadTextFailsWithInvalidSidAndLeavesTheTargetAlone) {
    for (const TRow& row : ReadTable("security/sid-bad-texts.txt")) {
        SCOPED_TRACE('"' + row[0] + '"');
        CSid sid(5, {18});
        EXPECT_EQ(CSid::FromString(row[0].c_str(), sid), ERROR_INVALID_SID);
        EXPECT_EQ(sid.GetBytes(), CSid(5, {18}).GetBytes());
        PlatformSetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ConvertStringSidToSid(row[0].c_str(), sid));
        EXPECT_EQ(PlatformGetLastError(), ERROR_INVALID_SID);
    }
}

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
