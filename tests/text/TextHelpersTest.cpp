#include "settings/ModulePath.h"
#include "tests/TableFile.h"
#include "text/CTextKeyedCache.h"
#include "text/CaselessString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

namespace {

std::vector<std::string> Plain(const std::vector<CaselessString>& v) {
    std::vector<std::string> vOut;
    for (const auto& cs : v)
        vOut.push_back(ToPlain(cs));
    return vOut;
}

TEST(CaselessString, ComparisonOrderingAndSearchIgnoreCase) {
    EXPECT_EQ(CaselessString("MSIE"), CaselessString("msie"));
    EXPECT_NE(CaselessString("MSIE"), CaselessString("msie "));
    EXPECT_LT(CaselessString("abc"), CaselessString("ABD"));
    EXPECT_LT(CaselessString("ab"), CaselessString("ABC")); // a prefix sorts first
    // Letters sort by their upper-case byte: "_" (0x5F) comes after "Z" but before "a" in plain order.
    EXPECT_LT(CaselessString("z"), CaselessString("_"));
    EXPECT_EQ(CaselessString("Mozilla/4.0 (compatible; MSIE 6.0)").find("msie 6"), 25u);
    EXPECT_EQ(CaselessString("abc").find("X"), CaselessString::npos);
    // Bytes above 0x7F are compared as they are.
    EXPECT_NE(CaselessString("\xC4"), CaselessString("\xE4"));
    std::map<std::string, int, CCaselessLess> map{{"Cmd", 1}};
    EXPECT_EQ(map.count("CMD"), 1u);
    EXPECT_EQ(map.count("cmdx"), 0u);
}

// The fast search against the standard one over the same traits, on random texts from a small alphabet (so
// that matches, near misses and both cases are common), at every start position and past the end.
TEST(CaselessString, FindCaselessAgreesWithTheStandardSearch) {
    const char aAlphabet[] = {'a', 'A', 'b', 'B', '#', '#', '\xC4', '\xE4', '[', '{'};
    std::mt19937 random(7);
    auto text = [&](size_t nMax) {
        std::string cs(random() % (nMax + 1), ' ');
        for (char& ch : cs)
            ch = aAlphabet[random() % sizeof(aAlphabet)];
        return cs;
    };
    for (int i = 0; i < 3000; ++i) {
        const std::string csText = text(24), csWhat = text(4);
        for (size_t nFrom = 0; nFrom <= csText.size() + 1; ++nFrom)
            ASSERT_EQ(FindCaseless(csText, csWhat, nFrom),
                      CaselessStringView(csText.data(), csText.size())
                          .find(CaselessStringView(csWhat.data(), csWhat.size()), nFrom))
                << '"' << csText << "\" \"" << csWhat << "\" from " << nFrom;
    }
}

TEST(SplitTokens, SplitsUpToTheFirstEmptyItem) {
    for (const tabletest::TRow& row : tabletest::ReadTable("text/split-tokens.txt")) {
        std::vector<CaselessString> vItems{"stale"};
        EXPECT_EQ(SplitTokens(row[0].c_str(), row[1].c_str(), vItems, &StripLeadingBlanks), row[2] == "1")
            << row[0];
        EXPECT_EQ(Plain(vItems), std::vector<std::string>(row.begin() + 3, row.end())) << row[0];
    }
}

TEST(SplitList, StopAtEmptyOrSkipEmpty) {
    std::vector<CaselessString> vItems;
    EXPECT_TRUE(SplitList("*MSIE 6*||*Opera*", "|", vItems, true));
    EXPECT_EQ(Plain(vItems), (std::vector<std::string>{"*MSIE 6*"}));
    EXPECT_TRUE(SplitList("*MSIE 6*||*Opera*|", "|", vItems, false));
    EXPECT_EQ(Plain(vItems), (std::vector<std::string>{"*MSIE 6*", "*Opera*"}));
    EXPECT_TRUE(SplitList(" a | b ", "|", vItems, true));
    EXPECT_EQ(Plain(vItems), (std::vector<std::string>{" a ", " b "})); // blanks belong to the pattern
    EXPECT_FALSE(SplitList("", "|", vItems, false));
    EXPECT_TRUE(vItems.empty());
}

TEST(ModuleFolder, RemovesTrailingFolders) {
    for (const tabletest::TRow& row : tabletest::ReadTable("text/module-folders.txt"))
        EXPECT_EQ(ModuleFolderFromPath(tabletest::Bytes(row[0]), std::stoi(row[1]), '/'),
                  tabletest::Bytes(row[2]))
            << row[0] << " " << row[1];
}

} // namespace

namespace {

// The memo's bounds: it empties when full, skips keys that are too long, and forgets everything once the
// settings generation moves on.
TEST(TextKeyedCache, BoundsAndGenerations) {
    CTextKeyedCache<int> cache(3, 8);
    int nValue = 0;
    for (int n = 0; n < 3; ++n)
        cache.Store("key" + std::to_string(n), 1, n);
    EXPECT_TRUE(cache.Find("key2", 1, nValue) && nValue == 2);
    cache.Store("key3", 1, 3);
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(cache.Find("key0", 1, nValue));
    cache.Store("much-too-long", 1, 9);
    EXPECT_FALSE(cache.Find("much-too-long", 1, nValue));
    EXPECT_FALSE(cache.Find("key3", 2, nValue));
    cache.Store("key4", 2, 4);
    EXPECT_FALSE(cache.Find("key3", 1, nValue));
    EXPECT_FALSE(cache.Find("key3", 2, nValue));
    EXPECT_TRUE(cache.Find("key4", 2, nValue) && nValue == 4);
}

// Threads of many requests read and fill one memo; every value found is the one stored for its key.
TEST(CacheConcurrency, TextKeyedCacheReadersAndWriters) {
    CTextKeyedCache<std::string> cache(16, 64);
    std::atomic<int> nWrong{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 4; ++t)
        vThreads.emplace_back([&, t] {
            for (int n = 0; n < 5000; ++n) {
                const std::string csKey = "agent " + std::to_string((n * 7 + t) % 40);
                std::string csValue;
                if (cache.Find(csKey, 1 + n / 2500, csValue) && csValue != "for " + csKey)
                    ++nWrong;
                else
                    cache.Store(csKey, 1 + n / 2500, "for " + csKey);
            }
        });
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(nWrong.load(), 0);
    EXPECT_LE(cache.Size(), 16u);
}

} // namespace
