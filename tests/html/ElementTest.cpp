// End tags and elements: matching (non-nesting, nested, optional and implied end tags), children, depth and
// parents, and start tags by name.
#include "HtmlTestSupport.h"

using namespace htmltest;

namespace {

// Row: page, start tag name, which one, element end, end tag (0 none, 1 its own, 2 implied), content end.
class EndTagMatching : public ::testing::TestWithParam<CRow> {};

TEST_P(EndTagMatching, ElementSpansAsHtmlImplies) {
    const CRow& r = GetParam();
    CPage page(r[1]);
    CStartTag* pStart = NthStartTag(page.get(), r[2], std::stoi(r[3]));
    ASSERT_NE(pStart, nullptr);
    CElement* pElement = pStart->getElement();
    ASSERT_NE(pElement, nullptr);
    EXPECT_EQ(pElement->getBegin(), pStart->getBegin());
    EXPECT_EQ(pElement->getEnd(), r.pos(4));
    EXPECT_EQ(pElement->getContentEnd(), r.pos(6));
    if (r[5] == "1") {
        ASSERT_NE(pElement->getEndTag(), nullptr);
        EXPECT_EQ(pElement->getEndTag()->getEnd(), r.pos(4));
        EXPECT_EQ(pElement->getEndTag()->getElement(), pElement);
    } else {
        EXPECT_EQ(pElement->getEndTag(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EndTagMatching, ::testing::ValuesIn(ReadTable("end-tag-matching.txt")),
                         RowName);

TEST(EndTagMatchingLog, MissingAndTwiceClaimedEndTagsAreLogged) {
    CLogCapture log;
    CPage page("<a>x<a>y</a><div>");
    ASSERT_NE(NthStartTag(page.get(), "a")->getElement(), nullptr);
    EXPECT_TRUE(log.Contains("StartTag <a> at <0> missing required end tag - invalid nested start tag"));
    ASSERT_NE(NthStartTag(page.get(), "div")->getElement(), nullptr);
    EXPECT_TRUE(log.Contains("StartTag <div> at <12> missing required end tag."));

    CPage bold("<b>x</b>");
    CStartTag* pStart = NthStartTag(bold.get(), "b");
    CEndTag* pEnd = CEndTag::findPreviousOrNext(bold.get(), 0, "b", &EndTagTypes()->m_normal, SEARCH_NEXT);
    ASSERT_NE(pEnd, nullptr);
    CElement* pFirst = CElement::CREATE_NEW_INST(bold.get(), pStart, pEnd);
    ASSERT_NE(pFirst, nullptr);
    pEnd->setElement(pFirst);
    CElement* pElement = pStart->getElement();
    ASSERT_NE(pElement, nullptr);
    EXPECT_NE(pElement, pFirst);
    EXPECT_TRUE(
        log.Contains("[CStartTag::getElement] EndTag <b> at pos <4> terminates more than one element."));
    EXPECT_EQ(pEnd->getElement(), pElement);
}

TEST(EndTagElement, WalksBackToItsStartTagOrHasNone) {
    CPage page("<div><i>a</i><b>x</b></div><span></u>");
    CEndTag* pEnd = CEndTag::findPreviousOrNext(page.get(), 0, "div", &EndTagTypes()->m_normal, SEARCH_NEXT);
    ASSERT_TRUE(pEnd && pEnd->getElement());
    EXPECT_EQ(pEnd->getElement()->getBegin(), 0u);
    CPage lone("x</b>");
    for (CPage* pPage : {&page, &lone}) {
        CTag* pUnmatched =
            CTag::findPreviousOrNextTag(pPage->get(), pPage->get()->getEnd() - 1, SEARCH_PREVIOUS);
        ASSERT_NE(pUnmatched, nullptr);
        EXPECT_EQ(pUnmatched->getElement(), nullptr);
    }
}

TEST(EndTagChecks, CreationArgumentsAndEmptyEndTags) {
    CPage page("<b>x</b>");
    CPage other("<b>y</b>");
    CLogCapture log;
    const CEndTagType* pNormal = &EndTagTypes()->m_normal;
    CEndTag* pEmpty = CEndTag::CREATE_NEW_INST(page.get(), 8, 8, pNormal, "b");
    ASSERT_NE(pEmpty, nullptr);
    EXPECT_TRUE(pEmpty->isEmpty());
    EXPECT_EQ(pEmpty->getNameIndex(), GetHTMLNameIndex("b"));
    EXPECT_EQ(CEndTag::CREATE_NEW_INST(page.get(), 4, 8, nullptr, "b"), nullptr);
    EXPECT_EQ(CEndTag::CREATE_NEW_INST(page.get(), 4, 9, pNormal, "b"), nullptr);
    EXPECT_EQ(log.Count("[CEndTag::checkConstructorArgs] "), 2u);
    EXPECT_EQ(pNormal->constructEndTag(page.get(), 4, 9, "b"), nullptr);
    EXPECT_TRUE(log.Contains("[CEndTagType::constructEndTag] CEndTag::CREATE_NEW_INST() failed."));
    EXPECT_EQ(CElement::CREATE_NEW_INST(page.get(), nullptr, nullptr), nullptr);
    EXPECT_EQ(CElement::CREATE_NEW_INST(page.get(), NthStartTag(other.get(), "b"), nullptr), nullptr);
    EXPECT_EQ(log.Count("[CElement::CREATE_NEW_INST] checkConstructorArgs failed."), 2u);
    EXPECT_EQ(CElement::CREATE_NEW_INST(page.get(), NthStartTag(page.get(), "b"), pEmpty)->getEnd(), 8u);
}

class ChildElements : public ::testing::TestWithParam<CRow> {};

// Each element in the order of the walk as "name@depth<parent" (parent "-" at top level).
void Describe(CElement* pElement, std::string& csOut) {
    std::vector<CElement*> vStack{pElement}; // iterative, as the pages may be deep
    while (!vStack.empty()) {
        CElement* p = vStack.back();
        vStack.pop_back();
        csOut += (csOut.empty() ? "" : ",") + p->getName() + "@" + std::to_string(p->getDepth()) + "<" +
                 (p->getParentElement() ? p->getParentElement()->getName() : std::string("-"));
        vStack.insert(vStack.end(), p->getChildElements().rbegin(), p->getChildElements().rend());
    }
}

TEST_P(ChildElements, TreeWithDepthAndParents) {
    CPage page(GetParam()[1]);
    std::string csSeen;
    for (CElement* p : page.get()->getChildElements())
        Describe(p, csSeen);
    EXPECT_EQ(csSeen, GetParam()[2]);
}

INSTANTIATE_TEST_SUITE_P(Table, ChildElements, ::testing::ValuesIn(ReadTable("child-elements.txt")), RowName);

TEST(ChildElementsEdge, ChildBeyondParentIsLoggedAndKept) {
    // The inner <a> is implied to end at the second <a>, which lies after the <b> element's end.
    CPage page("<b><a>x</b>y<a>z</a>");
    CLogCapture log;
    CElement* pB = NthStartTag(page.get(), "b", 0)->getElement();
    ASSERT_NE(pB, nullptr);
    const auto& v = pB->getChildElements(0);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0]->getName(), "a");
    EXPECT_GT(v[0]->getEnd(), pB->getEnd());
    EXPECT_TRUE(
        log.Contains("ChildElement <a> (ends at <12>) extends beyond end of parent <b> (ending at <11>)."));
}

TEST(ChildElementsEdge, PlainSegmentChildrenHaveNoParents) {
    CPage page("xx<b>1</b><i>2</i><u>3</u>");
    CSegment* pSegment = CSegment::CREATE_NEW_INST(page.get(), 1, 18);
    ASSERT_NE(pSegment, nullptr);
    const auto& v = pSegment->getChildElements();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0]->getName(), "b");
    EXPECT_EQ(v[1]->getName(), "i");
    EXPECT_FALSE(v[0]->isParentComputed());
}

TEST(ChildElementsEdge, DeepNestingUsesNoDeepRecursion) {
    const int nDepth = 50000;
    // Every unclosed div ends at its own start tag, so all are top level.
    CPage unclosed(Repeated("<div>", nDepth));
    const auto& vFlat = unclosed.get()->getChildElements();
    ASSERT_EQ(vFlat.size(), static_cast<size_t>(nDepth));
    EXPECT_EQ(vFlat.back()->getBegin(), unclosed.m_csText.size() - 5);
    EXPECT_EQ(vFlat.back()->getDepth(), 0);
    // Optional end tags: the first element runs to the source end.
    CPage optional(Repeated("<html>", nDepth));
    ASSERT_NE(NthStartTag(optional.get(), "html")->getElement(), nullptr);
    EXPECT_EQ(NthStartTag(optional.get(), "html")->getElement()->getEnd(), optional.m_csText.size());
    CPage closed(Repeated("<div>", nDepth) + Repeated("</div>", nDepth));
    const auto& v = closed.get()->getChildElements();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0]->getEnd(), closed.m_csText.size());
    CElement* p = v[0];
    int nLevels = 1;
    for (; !p->getChildElements().empty(); ++nLevels) {
        ASSERT_EQ(p->getChildElements().size(), 1u);
        p = p->getChildElements()[0];
    }
    EXPECT_EQ(nLevels, nDepth);
    EXPECT_EQ(p->getDepth(), nDepth - 1);
}

TEST(StartTagByNameLog, SlashNameOrMissingTypeFindsNothing) {
    CPage page("<b>");
    CLogCapture log;
    EXPECT_EQ(CStartTag::findPreviousOrNext(page.get(), 0, "/b", SEARCH_NEXT), nullptr);
    EXPECT_TRUE(log.Contains("csSearchName argument \"/b\" must not start with '/' character."));
    EXPECT_EQ(CEndTag::findPreviousOrNext(page.get(), 0, "b", nullptr, SEARCH_NEXT), nullptr);
    EXPECT_TRUE(log.Contains("[CEndTag::findPreviousOrNext] pSource or pEndTagType is 0. nPos <0>."));
}

TEST(MalformedPages, FixturePageParsesIntoTheExpectedTree) {
    const std::string csText = ReadFixture("mailbox.html");
    CPage page(csText);
    for (const char* pszName : {"html", "head", "form", "script"}) {
        CStartTag* pTag = NthStartTag(page.get(), pszName);
        ASSERT_TRUE(pTag && pTag->getElement() && pTag->getElement()->getEndTag()) << pszName;
    }
    EXPECT_EQ(NthStartTag(page.get(), "html")->getElement()->getEnd(), csText.rfind("</html>") + 7);
    // The input inside the CDATA section is hidden.
    std::vector<CStartTag*> vInputs =
        NthStartTag(page.get(), "form")->getElement()->getStartTagsByTagName("input");
    ASSERT_EQ(vInputs.size(), 2u);
    EXPECT_EQ(vInputs[0]->getAttributes()->get("name")->getValue(), "hidpnst");
    EXPECT_NE(vInputs[1]->getAttributes()->get("disabled"), nullptr);
    // The script's text hides nothing from the tag finder, but its element ends at </script>.
    EXPECT_EQ(NthStartTag(page.get(), "script")->getElement()->getEndTag()->getName(), "script");
    ASSERT_NE(CTag::getTagAt(page.get(), 0), nullptr);
    EXPECT_TRUE(CTag::getTagAt(page.get(), 0)->isUnregistered()); // upper-case DOCTYPE
}

TEST(ElementNames, EveryNameFoundCaselessWithExactlyOneEndTagRule) {
    const CHTMLElementNameSingletonData* pNames = HTMLElementNames();
    const CHTMLElementsSingletonData* p = HTMLElements();
    ASSERT_TRUE(pNames && p);
    for (int i = 0; i < CHTMLElementNameSingletonData::NAME_COUNT; ++i) {
        EXPECT_EQ(pNames->getIndex(pNames->getName(i)), i);
        EXPECT_EQ(p->m_endTagForbidden.contains(i) + p->m_optionalEndTag.contains(i) +
                      p->m_endTagRequired.contains(i),
                  1)
            << i;
        EXPECT_EQ(p->getOptionalEndTagEntry(i) != nullptr, p->m_optionalEndTag.contains(i));
    }
    EXPECT_EQ(GetHTMLNameIndex("HTML"), GetHTMLNameIndex("html"));
    EXPECT_NE(GetHTMLNameIndex("Body"), INVALID_NAME_INDEX);
    for (const char* pszUnknown : {"blink", "", "!--", "zzz"})
        EXPECT_EQ(GetHTMLNameIndex(pszUnknown), INVALID_NAME_INDEX) << pszUnknown;
    EXPECT_FALSE(p->m_endTagForbidden.contains(INVALID_NAME_INDEX));
    EXPECT_EQ(p->getOptionalEndTagEntry(INVALID_NAME_INDEX), nullptr);
}

} // namespace
