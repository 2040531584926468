// Bad input: truncated pages, stray '<', NUL bytes, and generated pages of random tag fragments. Whatever the
// parser returns must lie inside its source, and nothing may crash or loop.
#include "HtmlTestSupport.h"

using namespace htmltest;

namespace {

using htmltest::PrintTo;

// A segment the parser returned must lie inside its source.
void ExpectInside(const CSource* pSource, const CSegment* pSegment) {
    if (!pSegment)
        return;
    EXPECT_EQ(pSegment->getSource(), pSource);
    EXPECT_LE(pSegment->getBegin(), pSegment->getEnd());
    EXPECT_GE(pSegment->getBegin(), pSource->getBegin());
    EXPECT_LE(pSegment->getEnd(), pSource->getEnd());
}

// Asks every question the parser answers about a page and checks the answers' positions. Returns the number
// of tags seen, so that callers can tell the walk did something.
size_t ExercisePage(CSource* pSource) {
    size_t nTags = 0;
    for (TPos nPos = pSource->getBegin(); nPos < pSource->getEnd(); ++nPos) {
        CTag* pTag = CTag::getTagAt(pSource, nPos);
        if (!pTag)
            continue;
        ++nTags;
        ExpectInside(pSource, pTag);
        EXPECT_EQ(pTag->getBegin(), nPos);
        if (pTag->isStartTag()) {
            CStartTag* pStart = static_cast<CStartTag*>(pTag);
            if (CAttributes* pList = pStart->getAttributes()) {
                ExpectInside(pSource, pList);
                for (CAttribute* pAttribute : pList->getAttributes()) {
                    ExpectInside(pSource, pAttribute);
                    ExpectInside(pSource, pAttribute->getNameSegment());
                    ExpectInside(pSource, pAttribute->getValueSegment());
                    ExpectInside(pSource, pAttribute->getValueSegmentIncludingQuotes());
                    EXPECT_LE(pAttribute->getEnd(), pTag->getEnd());
                }
            }
        }
        CElement* pElement = pTag->getElement();
        if (pElement) {
            ExpectInside(pSource, pElement);
            ExpectInside(pSource, pElement->getEndTag());
            EXPECT_LE(pElement->getContentEnd(), pElement->getEnd());
        }
    }
    std::vector<CElement*> vStack(pSource->getChildElements().begin(), pSource->getChildElements().end());
    while (!vStack.empty()) {
        CElement* p = vStack.back();
        vStack.pop_back();
        ExpectInside(pSource, p);
        // A child that runs past its parent's end can be claimed again by an outer element, so parents are
        // checked by the table tests; here only that each child starts inside its parent's content.
        for (CElement* pChild : p->getChildElements()) {
            EXPECT_GE(pChild->getBegin(), p->getStartTag()->getEnd());
            EXPECT_LT(pChild->getBegin(), p->getContentEnd());
            vStack.push_back(pChild);
        }
    }
    CTag* pLast =
        CTag::findPreviousOrNextTag(pSource, pSource->getEnd() ? pSource->getEnd() - 1 : 0, SEARCH_PREVIOUS);
    ExpectInside(pSource, pLast);
    return nTags;
}

TEST(MalformedPages, GeneratedFragmentsStayInsideTheSource) {
    std::mt19937 rng(20240611);
    size_t nTotalTags = 0;
    for (int nPage = 0; nPage < 300; ++nPage) {
        const std::string csText = FragmentPage(rng, 60);
        CPage page(csText, csText.empty() ? 0 : rng() % (csText.size() / 4 + 1));
        ASSERT_NE(page.get(), nullptr);
        SCOPED_TRACE(csText);
        nTotalTags += ExercisePage(page.get());
        if (HasFailure())
            return;
    }
    EXPECT_GT(nTotalTags, 1000u);
}

struct CTruncatedCase {
    const char* pszName;
    const char* pszText;
};

class TruncatedPages : public ::testing::TestWithParam<CTruncatedCase> {};

TEST_P(TruncatedPages, EveryPrefixParsesSafely) {
    const std::string csText = GetParam().pszText;
    for (size_t n = 0; n <= csText.size(); ++n) {
        CPage page(csText.substr(0, n));
        ASSERT_NE(page.get(), nullptr);
        ExercisePage(page.get());
        if (HasFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TruncatedPages,
    ::testing::Values(CTruncatedCase{"Attributes", "<a href='x' b=\"y\" c=z d><b>t</b></a>"},
                      CTruncatedCase{"Comment", "<div><!-- <p> --></div>"},
                      CTruncatedCase{"Doctype", "<!doctype x [ <!ENTITY a '>'> ]><html>"},
                      CTruncatedCase{"Lists", "<ul><li>a<ul><li>b</ul><li>c</ul>"},
                      CTruncatedCase{"Declarations", "<?xml version='1.0'?><?php x ?><![cdata[<]]><% y %>"},
                      CTruncatedCase{"LessThanAtEnd", "text <b>bold</b> <"}),
    CRowName());

TEST(MalformedPages, FixturePageParsesIntoTheExpectedTree) {
    std::string csText = ReadFixture("mailbox.html");
    ASSERT_FALSE(csText.empty());
    CPage page(csText);
    ExercisePage(page.get());
    CStartTag* pHtml = NthStartTag(page.get(), "html");
    ASSERT_NE(pHtml, nullptr);
    CElement* pHtmlElement = pHtml->getElement();
    ASSERT_NE(pHtmlElement, nullptr);
    ASSERT_NE(pHtmlElement->getEndTag(), nullptr);
    EXPECT_EQ(pHtmlElement->getEnd(), csText.rfind("</html>") + 7);
    CElement* pForm = NthStartTag(page.get(), "form")->getElement();
    ASSERT_NE(pForm, nullptr);
    // The input inside the CDATA section is hidden.
    std::vector<CStartTag*> vInputs = pForm->getStartTagsByTagName("input");
    ASSERT_EQ(vInputs.size(), 2u);
    EXPECT_EQ(vInputs[0]->getAttributes()->get("name")->getValue(), "hidpnst");
    EXPECT_TRUE(vInputs[1]->getAttributes()->get("disabled") != nullptr);
    // The script's text hides nothing from the tag finder, but its element ends at </script>.
    CElement* pScript = NthStartTag(page.get(), "script")->getElement();
    ASSERT_NE(pScript, nullptr);
    ASSERT_NE(pScript->getEndTag(), nullptr);
    EXPECT_EQ(pScript->getEndTag()->getName(), "script");
    CElement* pHead = NthStartTag(page.get(), "head")->getElement();
    ASSERT_NE(pHead->getEndTag(), nullptr);
    CTag* pDoctype = CTag::getTagAt(page.get(), 0);
    ASSERT_NE(pDoctype, nullptr);
    EXPECT_TRUE(pDoctype->isUnregistered()); // upper-case DOCTYPE
}

TEST(MalformedPages, ManyUnclosedCommentsAndQuotesStayFast) {
    // Each unclosed construct used to mean a scan to the end of the page; the remembered searches keep the
    // whole walk linear. A quadratic walk over this page would take minutes.
    std::string csText;
    for (int i = 0; i < 20000; ++i)
        csText += "<!-- <a b='x < <p <!doctype <!ELEMENT </div ";
    CPage page(csText);
    EXPECT_TRUE(page.get()->getChildElements().empty());
    EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 0, SEARCH_NEXT), nullptr);
}

} // namespace
