#include "settings/ModulePath.h"
#include "tests/TableFile.h"
#include "text/CaselessString.h"

#include <gtest/gtest.h>

#include <map>

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
