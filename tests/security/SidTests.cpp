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

TEST(SidBinaryTest, RejectsMalformedBytes) {
    for (const TRow& row : ReadTable("security/sid-bad-binaries.txt")) {
        CSid sid;
        EXPECT_EQ(CSid::FromBinary(FromHex(row.at(1)), sid), ERROR_INVALID_SID) << row[0];
        EXPECT_FALSE(sid.IsValid()) << row[0];
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
