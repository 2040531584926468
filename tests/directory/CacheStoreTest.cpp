#include "tests/TableFile.h"
#include "tests/directory/CacheTestSupport.h"

#include <climits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using cachetest::CFreshStoreTest;
using cachetest::SetFakeTime;

namespace {

class CacheStore : public CFreshStoreTest {};

std::optional<std::string> Lookup(const std::string& csCache, const std::string& csKey) {
    std::optional<std::string> data;
    CCacheStore::Instance().Get(csCache, csKey, data);
    return data;
}

TEST(ComposeCacheKey, DistinctPartListsNeverShareAKey) {
    const std::string aKeys[] = {ComposeCacheKey({"a|b", "c"}),
                                 ComposeCacheKey({"a", "b|c"}),
                                 ComposeCacheKey({"k"}),
                                 ComposeCacheKey({"k", ""}),
                                 ComposeCacheKey({"k", "", ""}),
                                 ComposeCacheKey({"ab"}),
                                 ComposeCacheKey({"a", "b"}),
                                 ComposeCacheKey({"1:a"}),
                                 ComposeCacheKey({"1", "a"}),
                                 ComposeCacheKey({""}),
                                 ComposeCacheKey({}),
                                 ComposeCacheKey({"2:x", "y"}),
                                 ComposeCacheKey({"2:x:y"})};
    for (size_t n = 0; n < std::size(aKeys); ++n)
        for (size_t m = n + 1; m < std::size(aKeys); ++m)
            EXPECT_NE(aKeys[n], aKeys[m]) << n << " " << m;
}

class CacheLru : public CFreshStoreTest, public testing::WithParamInterface<tabletest::TRow> {};

TEST_P(CacheLru, EvictsTheLeastRecentlyUsedAtTheMaximum) {
    ASSERT_EQ(Store().CreateCache("lru", 3, 30), S_OK);
    std::istringstream ops(GetParam().at(1));
    std::map<std::string, int> mapAdds;
    for (std::string csOp; ops >> csOp;) {
        const std::string csKey = csOp.substr(1);
        if (csOp[0] == '+')
            ASSERT_EQ(Store().Add("lru", csKey, csKey + std::to_string(++mapAdds[csKey])), S_OK);
        else
            Lookup("lru", csKey);
        ASSERT_LE(Store().ItemCount("lru"), 3u);
    }
    for (char ch : GetParam().at(2))
        EXPECT_EQ(Lookup("lru", std::string(1, ch)), std::string(1, ch) + std::to_string(mapAdds[{ch}]))
            << ch;
    for (char ch : GetParam().at(3))
        EXPECT_EQ(Lookup("lru", std::string(1, ch)), std::nullopt) << ch;
}

INSTANTIATE_TEST_SUITE_P(Orders, CacheLru,
                         testing::ValuesIn(tabletest::ReadTable("directory/lru-orders.txt")),
                         tabletest::RowName);

// The longest lifetime must not overflow the expiry time.
TEST_F(CacheStore, AnItemLivesUntilItsAgeReachesTheLifetime) {
    const std::tuple<int32_t, std::chrono::nanoseconds, bool> aAges[] = {
        {30, -5min, true},
        {30, 0ns, true},
        {30, 30min - 1ns, true},
        {30, 30min, false},
        {INT32_MAX, std::chrono::hours(24 * 365 * 99), true}};
    for (const auto& [nLifetime, age, bAlive] : aAges) {
        SCOPED_TRACE(age.count());
        const std::string csName = "age" + std::to_string(age.count());
        ASSERT_EQ(Store().CreateCache(csName, 10, nLifetime), S_OK);
        SetFakeTime(1h);
        ASSERT_EQ(Store().Add(csName, "k", "v"), S_OK);
        SetFakeTime(1h + age);
        std::optional<std::string> data;
        EXPECT_EQ(Store().Get(csName, "k", data), bAlive ? S_OK : S_FALSE);
        EXPECT_EQ(data.has_value(), bAlive);
        // A miss drops the item at once.
        EXPECT_EQ(Store().ItemCount(csName), bAlive ? 1u : 0u);
    }
}

TEST_F(CacheStore, AddingAgainReplacesTheDataAndRestartsTheAge) {
    ASSERT_EQ(Store().CreateCache("c", 10, 30), S_OK);
    Store().Add("c", "k", "old");
    SetFakeTime(20min);
    Store().Add("c", "k", "new");
    SetFakeTime(49min);
    EXPECT_EQ(Lookup("c", "k"), "new");
    SetFakeTime(50min);
    EXPECT_EQ(Lookup("c", "k"), std::nullopt);
}

TEST_F(CacheStore, AnAddSweepsExpiredItemsThatAreNotAtTheLeastRecentlyUsedEnd) {
    ASSERT_EQ(Store().CreateCache("c", 100, 1), S_OK);
    for (int n = 0; n < 50; ++n)
        Store().Add("c", "old" + std::to_string(n), "v");
    SetFakeTime(50s);
    Store().Add("c", "young", "v");
    for (int n = 0; n < 50; ++n)
        ASSERT_TRUE(Lookup("c", "old" + std::to_string(n))); // "young" is now the least recently used
    SetFakeTime(70s);
    Store().Add("c", "new", "v");
    EXPECT_EQ(Store().ItemCount("c"), 2u);
}

TEST_F(CacheStore, AnExistingNameKeepsItsLimitsAndItems) {
    ASSERT_EQ(Store().CreateCache("c", 5, 30), S_OK);
    Store().Add("c", "k", "v");
    EXPECT_EQ(Store().CreateCache("c", 500, 1), S_FALSE);
    int32_t nMax = 0, nLifetime = 0;
    ASSERT_TRUE(Store().GetLimits("c", nMax, nLifetime));
    EXPECT_EQ(nMax, 5);
    EXPECT_EQ(nLifetime, 30);
    EXPECT_EQ(Lookup("c", "k"), "v");
    // Names are exact: another case is another cache.
    EXPECT_EQ(Store().CreateCache("C", 7, 30), S_OK);
}

TEST_F(CacheStore, InvalidLimitsCreateNothingAndUnknownCachesFail) {
    const std::vector<std::tuple<std::string, int32_t, int32_t>> vCases = {
        {"c", 0, 30}, {"c", -1, 30}, {"c", INT32_MIN, 30}, {"c", 10, 0}, {"c", 10, -30}, {"", 10, 30}};
    for (const auto& [csName, nMax, nLifetime] : vCases) {
        EXPECT_EQ(Store().CreateCache(csName, nMax, nLifetime), E_INVALIDARG) << nMax << " " << nLifetime;
        int32_t nGotMax = 0, nGotLifetime = 0;
        EXPECT_FALSE(Store().GetLimits(csName, nGotMax, nGotLifetime));
    }
    std::optional<std::string> data = "stale";
    EXPECT_EQ(Store().Get("c", "k", data), CACHE_E_UNKNOWN_CACHE);
    EXPECT_EQ(data, std::nullopt);
    EXPECT_EQ(Store().Add("c", "k", "v"), CACHE_E_UNKNOWN_CACHE);
    EXPECT_EQ(Store().ItemCount("c"), 0u);
}

TEST_F(CacheStore, ShardsShareTheMaximumExactly) {
    const std::pair<int32_t, size_t> aSizes[] = {{1, 1},   {2, 1},     {127, 1},  {128, 2},
                                                 {129, 2}, {1000, 15}, {3000, 16}};
    for (const auto& [nMax, cShards] : aSizes) {
        const std::string csName = "c" + std::to_string(nMax);
        ASSERT_EQ(Store().CreateCache(csName, nMax, 30), S_OK);
        EXPECT_EQ(Store().ShardCount(csName), cShards) << nMax;
        for (int32_t n = 0; n < nMax * 20; ++n) {
            Store().Add(csName, "key" + std::to_string(n), "v");
            ASSERT_LE(Store().ItemCount(csName), static_cast<size_t>(nMax));
        }
        EXPECT_EQ(Store().ItemCount(csName), static_cast<size_t>(nMax));
    }
}

} // namespace
