// End tags and elements: matching (non-nesting, nested, optional and implied end tags), children, depth and
// parents, and start tags by name.
#include "HtmlTestSupport.h"

using namespace htmltest;

namespace {

struct CMatchCase {
    const char* pszName;
    const char* pszText;
    const char* pszTag; // name of the start tag
    int nIndex;         // which one
    TPos nElementEnd;
    int nEndTagKind; // 0: none, 1: real end tag, 2: implied (empty) end tag
    TPos nContentEnd;
};

class EndTagMatching : public ::testing::TestWithParam<CMatchCase> {};

TEST_P(EndTagMatching, ElementSpansAsHtmlImplies) {
    const CMatchCase& c = GetParam();
    CPage page(c.pszText);
    CStartTag* pStart = NthStartTag(page.get(), c.pszTag, c.nIndex);
    ASSERT_NE(pStart, nullptr);
    CElement* pElement = pStart->getElement();
    ASSERT_NE(pElement, nullptr);
    EXPECT_EQ(pStart->getElement(), pElement);
    EXPECT_EQ(pElement->getBegin(), pStart->getBegin());
    EXPECT_EQ(pElement->getEnd(), c.nElementEnd);
    EXPECT_EQ(pElement->getContentEnd(), c.nContentEnd);
    if (c.nEndTagKind == 1) {
        ASSERT_NE(pElement->getEndTag(), nullptr);
        EXPECT_EQ(pElement->getEndTag()->getEnd(), c.nElementEnd);
        EXPECT_EQ(pElement->getEndTag()->getElement(), pElement);
    } else {
        EXPECT_EQ(pElement->getEndTag(), nullptr);
    }
    if (c.nEndTagKind == 0) {
        EXPECT_EQ(pElement->getEnd(), pStart->getEnd());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EndTagMatching,
    ::testing::Values(
        //                                    0         1         2         3
        //                                    0123456789012345678901234567890123456789
        CMatchCase{"Simple", "<b>x</b>", "b", 0, 8, 1, 4},
        CMatchCase{"CaselessName", "<B>x</b>", "b", 0, 8, 1, 4},
        CMatchCase{"NestedOuter", "<div><div></div></div>", "div", 0, 22, 1, 16},
        CMatchCase{"NestedInner", "<div><div></div></div>", "div", 1, 16, 1, 10},
        CMatchCase{"NestedSiblings", "<div><div></div><div></div></div>", "div", 0, 33, 1, 27},
        CMatchCase{"NestedUnbalanced", "<div><div></div>", "div", 0, 5, 0, 5},
        CMatchCase{"NonNestingImpliedEnd", "<a>x<a>y</a>", "a", 0, 4, 2, 4},
        CMatchCase{"NonNestingSecond", "<a>x<a>y</a>", "a", 1, 12, 1, 8},
        CMatchCase{"NonNestingPlain", "<a>x</a><a>y</a>", "a", 0, 8, 1, 4},
        CMatchCase{"ParagraphAtNextParagraph", "<p>a<p>b", "p", 0, 4, 2, 4},
        CMatchCase{"ParagraphAtSourceEnd", "<p>a<p>b", "p", 1, 8, 2, 8},
        CMatchCase{"ParagraphClosedByDiv", "<p>a<div>b</div>", "p", 0, 4, 2, 4},
        CMatchCase{"ParagraphOwnEnd", "<p>a<b>x</b></p>", "p", 0, 16, 1, 12},
        CMatchCase{"ListItemSkipsNestedList", "<ul><li>a<ul><li>b</ul><li>c</ul>", "li", 0, 23, 2, 23},
        CMatchCase{"NestedListItemAtListEnd", "<ul><li>a<ul><li>b</ul><li>c</ul>", "li", 1, 18, 2, 18},
        CMatchCase{"OuterList", "<ul><li>a<ul><li>b</ul><li>c</ul>", "ul", 0, 33, 1, 28},
        CMatchCase{"CellAtTableEnd", "<td>x</table>", "td", 0, 5, 2, 5},
        CMatchCase{"CellSkipsNestedTable", "<td><table><td>y</table>z<td>", "td", 0, 25, 2, 25},
        CMatchCase{"BreakHasNoEnd", "<br></br>", "br", 0, 4, 0, 4},
        CMatchCase{"UnknownEmptyElement", "<foo/></foo>", "foo", 0, 6, 0, 6},
        CMatchCase{"UnknownMatchesEndTag", "<foo>x</foo>", "foo", 0, 12, 1, 6},
        CMatchCase{"DivSlashLooksForEnd", "<div/>x</div>", "div", 0, 13, 1, 7},
        CMatchCase{"EndTagWithBlankClosesNothing", "<div>x</div >", "div", 0, 5, 0, 5},
        CMatchCase{"EmptyElementsSkippedWhenNotRequired", "<foo><foo/></foo>", "foo", 0, 17, 1, 11},
        CMatchCase{"CommentedEndTagIgnored", "<b>x<!-- </b> --></b>", "b", 0, 21, 1, 17},
        CMatchCase{"HtmlImpliedAtEnd", "<html><body>x", "html", 0, 13, 2, 13},
        CMatchCase{"BodyEndsAtHtmlEnd", "<html><body>x</html>", "body", 0, 13, 2, 13},
        CMatchCase{"OptionAtNextOption", "<select><option>a<option>b</select>", "option", 0, 17, 2, 17},
        CMatchCase{"HeadEndsAtBody", "<head><title>t</title><body>", "head", 0, 22, 2, 22},
        CMatchCase{"CommentElement", "<!-- x -->y", "!--", 0, 10, 0, 10}),
    CRowName());

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
    ASSERT_NE(pEnd, nullptr);
    ASSERT_NE(pEnd->getElement(), nullptr);
    EXPECT_EQ(pEnd->getElement()->getName(), "div");
    EXPECT_EQ(pEnd->getElement()->getBegin(), 0u);
    CTag* pItalicEnd = CTag::getTagAt(page.get(), 9);
    ASSERT_NE(pItalicEnd, nullptr);
    ASSERT_FALSE(pItalicEnd->isStartTag());
    ASSERT_NE(pItalicEnd->getElement(), nullptr);
    EXPECT_EQ(pItalicEnd->getElement()->getBegin(), 5u);
    CTag* pUnmatched = CTag::getTagAt(page.get(), 33);
    ASSERT_NE(pUnmatched, nullptr);
    EXPECT_EQ(pUnmatched->getElement(), nullptr);
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

struct CChildCase {
    const char* pszName;
    const char* pszText;
    // Each element in document order of the walk: "name@depth<parent" (parent "-" for top level).
    std::vector<std::string> vExpected;
};

class ChildElements : public ::testing::TestWithParam<CChildCase> {};

void Describe(CElement* pElement, std::vector<std::string>& vOut) {
    // Iterative, as the pages may be deep.
    std::vector<CElement*> vStack{pElement};
    while (!vStack.empty()) {
        CElement* p = vStack.back();
        vStack.pop_back();
        vOut.push_back(p->getName() + "@" + std::to_string(p->getDepth()) + "<" +
                       (p->getParentElement() ? p->getParentElement()->getName() : std::string("-")));
        const auto& v = p->getChildElements();
        for (auto it = v.rbegin(); it != v.rend(); ++it)
            vStack.push_back(*it);
    }
}

TEST_P(ChildElements, TreeWithDepthAndParents) {
    const CChildCase& c = GetParam();
    CPage page(c.pszText);
    std::vector<std::string> vSeen;
    for (CElement* p : page.get()->getChildElements())
        Describe(p, vSeen);
    EXPECT_EQ(vSeen, c.vExpected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChildElements,
    ::testing::Values(
        CChildCase{"Flat", "<b>x</b><i>y</i>", {"b@0<-", "i@0<-"}},
        CChildCase{"Nested", "<div><p>a<b>x</b></p><br></div>", {"div@0<-", "p@1<div", "b@2<p", "br@1<div"}},
        CChildCase{"ImpliedParagraphs", "<body><p>a<p>b</body>", {"body@0<-", "p@1<body", "p@1<body"}},
        CChildCase{"List",
                   "<ul><li>a<ul><li>b</ul><li>c</ul>",
                   {"ul@0<-", "li@1<ul", "ul@2<li", "li@3<ul", "li@1<ul"}},
        CChildCase{"ServerTagsSkipped", "<div><% x %><i>y</i></div>", {"div@0<-", "i@1<div"}},
        CChildCase{"CommentIsAnElement", "<div><!-- c --><i></i></div>", {"div@0<-", "!--@1<div", "i@1<div"}},
        CChildCase{"EmptyContent", "<div></div><br>", {"div@0<-", "br@0<-"}},
        CChildCase{"TextOnly", "just text", {}}),
    CRowName());

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

std::string Repeated(const std::string& csText, int nTimes) {
    std::string cs;
    while (nTimes-- > 0)
        cs += csText;
    return cs;
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
    EXPECT_EQ(p->getParentElement()->getDepth(), nDepth - 2);
}

TEST(StartTagsByName, CollectsNestedMatchesInOrder) {
    CPage page("<form><input name=a><div><INPUT name=b></div><inputx><% <input> %></form><input name=c>");
    CElement* pForm = NthStartTag(page.get(), "form", 0)->getElement();
    ASSERT_NE(pForm, nullptr);
    std::vector<CStartTag*> v = pForm->getStartTagsByTagName("input");
    // A server tag hides nothing: the <input> written inside it counts; <inputx> does not.
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0]->getAttributes()->get("name")->getValue(), "a");
    EXPECT_EQ(v[1]->getAttributes()->get("name")->getValue(), "b");
    EXPECT_EQ(v[2]->getAttributes()->size(), 0u);
    EXPECT_TRUE(pForm->getStartTagsByTagName("table").empty());
}

struct CFinderCase {
    const char* pszName;
    const char* pszText;
    TPos nFrom;
    const char* pszSearch;
    bool bNext;
    TPos nExpected; // INVALID_POS: none
};

class StartTagByName : public ::testing::TestWithParam<CFinderCase> {};

TEST_P(StartTagByName, FindsTheNearestQualifyingTag) {
    const CFinderCase& c = GetParam();
    CPage page(c.pszText);
    CStartTag* pTag = CStartTag::findPreviousOrNext(page.get(), c.nFrom, c.pszSearch, c.bNext);
    if (c.nExpected == INVALID_POS) {
        EXPECT_EQ(pTag, nullptr);
    } else {
        ASSERT_NE(pTag, nullptr);
        EXPECT_EQ(pTag->getBegin(), c.nExpected);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StartTagByName,
                         ::testing::Values(
                             //                               0123456789012345678901234
                             CFinderCase{"Forward", "<inputx><input><input>", 0, "input", true, 8},
                             CFinderCase{"Backward", "<inputx><input><input>", 21, "input", false, 15},
                             CFinderCase{"BackwardSkipsLonger", "<input><inputx>", 14, "input", false, 0},
                             CFinderCase{"CaseIgnored", "<DIV>", 0, "div", true, 0},
                             CFinderCase{"NamespacePrefix", "<o:p>", 0, "o:", true, 0},
                             CFinderCase{"CommentByPrefix", "<b><!-- x -->", 0, "!--", true, 3},
                             CFinderCase{"HiddenInComment", "<!-- <b> --><b>", 0, "b", true, 12},
                             CFinderCase{"EndTagNotAStartTag", "</b><b>", 0, "b", true, 4},
                             CFinderCase{"None", "<i>", 0, "b", true, INVALID_POS},
                             CFinderCase{"AnyStartTag", "</b>x<i>", 0, "", true, 5},
                             CFinderCase{"AnyStartTagBackward", "<i>x</b>", 7, "", false, 0},
                             CFinderCase{"OutsideSource", "<i>", 3, "i", true, INVALID_POS}),
                         CRowName());

TEST(StartTagByNameLog, SlashNameOrMissingTypeFindsNothing) {
    CPage page("<b>");
    CLogCapture log;
    EXPECT_EQ(CStartTag::findPreviousOrNext(page.get(), 0, "/b", SEARCH_NEXT), nullptr);
    EXPECT_TRUE(log.Contains("csSearchName argument \"/b\" must not start with '/' character."));
    EXPECT_EQ(CEndTag::findPreviousOrNext(page.get(), 0, "b", nullptr, SEARCH_NEXT), nullptr);
    EXPECT_TRUE(log.Contains("[CEndTag::findPreviousOrNext] pSource or pEndTagType is 0. nPos <0>."));
}

TEST(EndTagByName, FindsOnlyEndTagsOfTheType) {
    //          012345678901234567890123
    CPage page("</b ></B><!-- </b> --></b>");
    const CEndTagType* pNormal = &EndTagTypes()->m_normal;
    CEndTag* pEnd = CEndTag::findPreviousOrNext(page.get(), 0, "b", pNormal, SEARCH_NEXT);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->getBegin(), 5u);
    pEnd = CEndTag::findPreviousOrNext(page.get(), 6, "b", pNormal, SEARCH_NEXT);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->getBegin(), 22u);
    pEnd = CEndTag::findPreviousOrNext(page.get(), 21, "b", pNormal, SEARCH_PREVIOUS);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->getBegin(), 5u);
    CEndTag* pAny =
        CEndTag::findPreviousOrNext(page.get(), 0, "", &EndTagTypes()->m_unregistered, SEARCH_NEXT);
    ASSERT_NE(pAny, nullptr);
    EXPECT_EQ(pAny->getBegin(), 0u);
}

TEST(ElementNames, SortedForLookupAndCaseless) {
    const CHTMLElementNameSingletonData* pNames = HTMLElementNames();
    ASSERT_NE(pNames, nullptr);
    for (int i = 0; i < CHTMLElementNameSingletonData::NAME_COUNT; ++i) {
        if (i > 0) {
            EXPECT_LT(std::string(pNames->getName(i - 1)), std::string(pNames->getName(i)));
        }
        EXPECT_EQ(pNames->getIndex(pNames->getName(i)), i);
    }
    EXPECT_EQ(GetHTMLNameIndex("HTML"), GetHTMLNameIndex("html"));
    EXPECT_NE(GetHTMLNameIndex("Body"), INVALID_NAME_INDEX);
    for (const char* pszUnknown : {"blink", "", "!--", "zzz"})
        EXPECT_EQ(GetHTMLNameIndex(pszUnknown), INVALID_NAME_INDEX) << pszUnknown;
}

TEST(ElementSets, EveryNameHasExactlyOneEndTagRule) {
    const CHTMLElementsSingletonData* p = HTMLElements();
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < CHTMLElementNameSingletonData::NAME_COUNT; ++i) {
        EXPECT_EQ(p->m_endTagForbidden.contains(i) + p->m_optionalEndTag.contains(i) +
                      p->m_endTagRequired.contains(i),
                  1)
            << i;
        EXPECT_EQ(p->getOptionalEndTagEntry(i) != nullptr, p->m_optionalEndTag.contains(i));
    }
    EXPECT_FALSE(p->m_endTagForbidden.contains(INVALID_NAME_INDEX));
    EXPECT_EQ(p->getOptionalEndTagEntry(INVALID_NAME_INDEX), nullptr);
    CHTMLElementSet set;
    set.add(200);
    EXPECT_TRUE(set.contains(200));
    set.remove(200);
    EXPECT_EQ(set.count(), 0u);
}

} // namespace
