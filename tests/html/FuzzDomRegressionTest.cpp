// Replays the inputs the facade's fuzzer found (a hang in nested element matching and its slow neighbours)
// and its seed corpus through the same harness, so that they keep passing its checks; and the page that made
// the facade slow on child elements, read as a page.
#include "HtmlTestSupport.h"

#include "fuzz/html/DomFuzzHarness.h"

#include <algorithm>
#include <filesystem>

TEST(FuzzDomRegression, FoundInputsAndSeedCorpusPassTheHarness) {
    const std::filesystem::path data(WK_TEST_DATA_DIR);
    for (const auto& [dir, nMinimum] : {std::pair{data / "html" / "dom" / "fuzz", 3},
                                        {data / ".." / ".." / "fuzz" / "html" / "corpus", 10}}) {
        std::vector<std::filesystem::path> vFiles{std::filesystem::directory_iterator(dir), {}};
        std::sort(vFiles.begin(), vFiles.end());
        EXPECT_GE(vFiles.size(), static_cast<size_t>(nMinimum)) << dir;
        for (const auto& path : vFiles) {
            const std::string csInput = htmltest::ReadFile(path.string());
            EXPECT_TRUE(domfuzz::RunInput(reinterpret_cast<const uint8_t*>(csInput.data()), csInput.size()))
                << path;
        }
    }
}

// Ten thousand divs, most of them closed, in a body that never closes, with a second page glued on behind;
// most end tags lie in a comment left open, which every unclosed div once searched through again. Also a fuzz
// seed (there its first 16 bytes are the harness header).
TEST(FuzzDomRegression, SlowChildElementsPageGivesItsElements) {
    const std::string csPage = htmltest::ReadFixture("dom-slow-child-elements.bin");
    ASSERT_EQ(csPage.size(), 93820u);
    htmltest::CDomPage page(csPage);
    CDOMSource dom(page.m_pointers);
    ASSERT_FALSE(dom.isUndefined());
    CDOMElement head = dom.getHead();
    CDOMElement body = dom.getBody();
    ASSERT_FALSE(head.isUndefined() || body.isUndefined());
    EXPECT_EQ(head.getBeginPos(), 6u);
    EXPECT_EQ(body.getBeginPos(), 42u);
    CDOMStartTagVector scripts = head.getStartTagsByTagName("script");
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts.at(0).getAttribute("src").getValue(), "1");
    const std::vector<CElement*>& vChildren = body.getParserElement()->getChildElements();
    ASSERT_FALSE(vChildren.empty());
    EXPECT_EQ(vChildren.front()->getName(), "div");
    EXPECT_EQ(vChildren.front()->getBegin(), 48u);
    for (const CElement* pChild : vChildren)
        EXPECT_LE(pChild->getEnd(), csPage.size());
    EXPECT_EQ(dom.scanForString("<!-- owapage = ", body.getBeginPos()), 44111u);
}
