#include "settings/ModulePath.h"
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

struct CSplitCase {
    const char* pszText;
    const char* pszSeparator;
    bool bResult;
    std::vector<std::string> vItems;
};

class SplitTokensTable : public ::testing::TestWithParam<CSplitCase> {};

TEST_P(SplitTokensTable, SplitsUpToTheFirstEmptyItem) {
    std::vector<CaselessString> vItems{"stale"};
    EXPECT_EQ(SplitTokens(GetParam().pszText, GetParam().pszSeparator, vItems, &StripLeadingBlanks),
              GetParam().bResult);
    EXPECT_EQ(Plain(vItems), GetParam().vItems);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTokensTable,
    ::testing::Values(CSplitCase{"", ";", false, {}}, CSplitCase{"abc", ";", true, {"abc"}},
                      CSplitCase{"  abc", ";", true, {"abc"}},
                      CSplitCase{"a; b;  c", ";", true, {"a", "b", "c"}},
                      CSplitCase{"a;b;", ";", true, {"a", "b"}}, CSplitCase{";a;b", ";", true, {"a", "b"}},
                      CSplitCase{"a;;b", ";", true, {"a"}}, CSplitCase{";", ";", false, {}},
                      CSplitCase{"Gecko/2007  Firefox/2.0", " ", true, {"Gecko/2007"}},
                      CSplitCase{"aXXbXXc", "xx", true, {"a", "b", "c"}},
                      CSplitCase{"a;   ;b", ";", true, {"a", "", "b"}}));

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
    struct {
        const char* pszPath;
        int nLevels;
        const char* pszFolder;
    } aCases[] = {
        {"/opt/x/Wendrake/bin/WK_ServiceWorker.so", 1, "/opt/x/Wendrake/"},
        {"/opt/x/Wendrake/bin/WK_ServiceWorker.so", 0, "/opt/x/Wendrake/bin/"},
        {"/opt/x/Wendrake/bin/WK_ServiceWorker.so", 2, "/opt/x/"},
        {"C:\\X\\Wendrake\\bin\\WK_ServiceWorker.dll", 1, "C:\\X\\Wendrake/"},
        {"\\\\?\\C:\\X\\Wendrake\\bin\\WK_ServiceWorker.dll", 1, "C:\\X\\Wendrake/"},
        {"WK_ServiceWorker.so", 1, ""},
        {"/bin/WK_ServiceWorker.so", 2, ""},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(ModuleFolderFromPath(c.pszPath, c.nLevels, '/'), c.pszFolder)
            << c.pszPath << " " << c.nLevels;
}

} // namespace
