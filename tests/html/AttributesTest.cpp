// Attribute lists of start tags: quoting styles, tolerated and counted errors, rejection, the empty-element
// slash.
#include "HtmlTestSupport.h"

using namespace htmltest;

namespace {

struct CAttr {
    std::string csKey;
    bool bHasValue;
    std::string csValue;
};

struct CAttributesCase {
    const char* pszName;
    const char* pszText;
    bool bNormal; // recognised as a normal start tag at 0
    std::vector<CAttr> vAttributes;
    TPos nEnd;                     // end of the tag (any type)
    std::vector<const char*> vLog; // texts that must appear in the log
};

class StartTagAttributes : public ::testing::TestWithParam<CAttributesCase> {};

TEST_P(StartTagAttributes, ParsesAsExpected) {
    const CAttributesCase& c = GetParam();
    CPage page(c.pszText);
    CLogCapture log;
    CTag* pTag = CTag::getTagAt(page.get(), 0);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getEnd(), c.nEnd);
    ASSERT_TRUE(pTag->isStartTag());
    CStartTag* pStart = static_cast<CStartTag*>(pTag);
    EXPECT_EQ(pStart->getStartTagType() == &StartTagTypes()->m_normal, c.bNormal);
    if (c.bNormal) {
        ASSERT_NE(pStart->getAttributes(), nullptr);
        const auto& v = pStart->getAttributes()->getAttributes();
        ASSERT_EQ(v.size(), c.vAttributes.size());
        for (size_t i = 0; i < v.size(); ++i) {
            SCOPED_TRACE(c.vAttributes[i].csKey);
            EXPECT_EQ(v[i]->getKey(), c.vAttributes[i].csKey);
            EXPECT_EQ(v[i]->getNameSegment()->getText(), c.vAttributes[i].csKey);
            EXPECT_EQ(v[i]->hasValue(), c.vAttributes[i].bHasValue);
            EXPECT_EQ(v[i]->getValue(), c.vAttributes[i].csValue);
            // Every segment lies inside the tag.
            EXPECT_GE(v[i]->getBegin(), pTag->getBegin());
            EXPECT_LE(v[i]->getEnd(), pTag->getEnd());
        }
    } else {
        EXPECT_EQ(pStart->getAttributes(), nullptr);
    }
    for (const char* pszLine : c.vLog)
        EXPECT_TRUE(log.contains(pszLine)) << pszLine;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartTagAttributes,
    ::testing::Values(
        CAttributesCase{"None", "<div>", true, {}, 5, {}},
        CAttributesCase{"Quoting",
                        "<a b='1' c=\"2\" d=3 e>",
                        true,
                        {{"b", true, "1"}, {"c", true, "2"}, {"d", true, "3"}, {"e", false, ""}},
                        21,
                        {}},
        CAttributesCase{"GreaterThanInQuotes", "<a href='x>y'>", true, {{"href", true, "x>y"}}, 14, {}},
        CAttributesCase{"DoubleQuotedGreaterThan", "<a href=\"x>y\">", true, {{"href", true, "x>y"}}, 14, {}},
        CAttributesCase{"QuoteInsideUnquoted", "<p a=1'b=2>", true, {{"a", true, "1'b=2"}}, 11, {}},
        CAttributesCase{
            "MissingWhitespaceAfterQuote",
            "<td a='1'b='2'>",
            true,
            {{"a", true, "1"}, {"b", true, "2"}},
            15,
            {"[CAttributes::construct] Type <StartTag> Tag name <td> Begin pos <0> Has missing whitespace "
             "after quoted attribute value at <9>."}},
        CAttributesCase{"TwoCountedErrors",
                        "<x ! #>",
                        true,
                        {{"!", false, ""}, {"#", false, ""}},
                        7,
                        {"Contains attribute name with invalid first character at <3>."}},
        CAttributesCase{
            "ThirdCountedErrorRejects",
            "<x ! # $>",
            false,
            {},
            9,
            {"[CAttributes::reachedMaxErrorCount] Type <StartTag> Tag name <x> Begin pos <0> Rejected "
             "because it contains too many errors.",
             "[CStartTagTypeGenericImplementation::constructTagAt] parseAttributes() returned 0. "
             "Attributes are not properly formed. nPos <0> csName <x> nNameInd <-1>."}},
        CAttributesCase{"InvalidCharactersInNameCount",
                        "<x a!b#c$>",
                        false,
                        {},
                        10,
                        {"Contains attribute name with invalid character at <4>"}},
        CAttributesCase{"EmptyValueBeforeClose",
                        "<input value=>",
                        true,
                        {{"value", true, ""}},
                        14,
                        {"Has missing attribute value after '=' sign at <13>."}},
        CAttributesCase{"SpacesAroundEquals", "<a b = 'c' >", true, {{"b", true, "c"}}, 12, {}},
        CAttributesCase{"LessThanInUnquotedValueRejects",
                        "<a href=x<b>",
                        false,
                        {},
                        12,
                        {"Rejected because of '<' character in unquoted attribute value at <9>."}},
        CAttributesCase{"LessThanStartsValueRejects",
                        "<a href=<b>",
                        false,
                        {},
                        11,
                        {"Rejected because of '<' character at start of attribute value at <8>."}},
        CAttributesCase{"LessThanInNameRejects",
                        "<a hr<ef>",
                        false,
                        {},
                        9,
                        {"Rejected because of '<' character in attribute name at <5>."}},
        CAttributesCase{
            "LessThanBetweenRejects", "<a <b>", false, {}, 6, {"Rejected because of '<' character at <3>."}},
        CAttributesCase{"BadCharacterAfterName",
                        "<a\"b>",
                        false,
                        {},
                        5,
                        {"Rejected because name contains invalid character at <2>."}},
        CAttributesCase{"EmptyElementSlash", "<br/>", true, {}, 5, {}},
        CAttributesCase{"UnknownEmptyElement", "<foo/>", true, {}, 6, {}},
        CAttributesCase{
            "IgnoredSlash",
            "<div/>",
            true,
            {},
            6,
            {"[CAttributes::isInvalidEmptyElementTag] Type <StartTag> Tag name <div> Begin pos <0> "
             "Contains a '/' character before the closing '>', which is ignored because tags of this name "
             "cannot be empty-element tags."}},
        CAttributesCase{
            "IgnoredSlashAfterName", "<div a/>", true, {{"a", false, ""}}, 8, {"isInvalidEmptyElementTag"}},
        CAttributesCase{"SlashAfterValue", "<br a=b/>", true, {{"a", true, "b"}}, 9, {}},
        CAttributesCase{"DuplicateNamesKept",
                        "<a x=1 X=2 x=3>",
                        true,
                        {{"x", true, "1"}, {"X", true, "2"}, {"x", true, "3"}},
                        15,
                        {}}),
    [](const auto& info) { return std::string(info.param.pszName); });

// The unclosed-quote row has no tag at all; the table test asserts a tag, so that row is checked here.
TEST(StartTagAttributesEdge, UnclosedQuoteYieldsNoTag) {
    CPage page("<a href='x");
    CLogCapture log;
    EXPECT_EQ(CTag::getTagAt(page.get(), 0), nullptr);
    EXPECT_TRUE(log.contains("Rejected because it has no closing '>' character."));
}

TEST(StartTagAttributesEdge, ValuePositionsPointIntoThePage) {
    //               0123456789012345678901
    CPage page("<a href='abc' t=x u>");
    CStartTag* pTag = static_cast<CStartTag*>(CTag::getTagAt(page.get(), 0));
    ASSERT_NE(pTag, nullptr);
    CAttributes* pList = pTag->getAttributes();
    ASSERT_NE(pList, nullptr);
    EXPECT_EQ(pList->getBegin(), 2u);
    EXPECT_EQ(pList->getEnd(), 19u);
    CAttribute* pHref = pList->get("HREF");
    ASSERT_NE(pHref, nullptr);
    EXPECT_EQ(pHref->getValueSegment()->getBegin(), 9u);
    EXPECT_EQ(pHref->getValueSegment()->getEnd(), 12u);
    EXPECT_EQ(pHref->getValueSegmentIncludingQuotes()->getBegin(), 8u);
    EXPECT_EQ(pHref->getValueSegmentIncludingQuotes()->getEnd(), 13u);
    EXPECT_EQ(pHref->getBegin(), 3u);
    EXPECT_EQ(pHref->getEnd(), 13u);
    CAttribute* pT = pList->get("t");
    ASSERT_NE(pT, nullptr);
    EXPECT_EQ(pT->getValueSegment()->getBegin(), pT->getValueSegmentIncludingQuotes()->getBegin());
    EXPECT_EQ(pT->getValueSegment()->getEnd(), pT->getValueSegmentIncludingQuotes()->getEnd());
    CAttribute* pU = pList->get("u");
    ASSERT_NE(pU, nullptr);
    EXPECT_EQ(pU->getValueSegment(), nullptr);
    EXPECT_EQ(pU->getValueSegmentIncludingQuotes(), nullptr);
    EXPECT_EQ(pU->getEnd(), 19u);
    EXPECT_EQ(pList->get("missing"), nullptr);
}

TEST(StartTagAttributesEdge, XmlDeclarationHasAttributes) {
    CPage page("<?xml version='1.0' encoding=\"utf-8\"?>");
    CStartTag* pTag = static_cast<CStartTag*>(CTag::getTagAt(page.get(), 0));
    ASSERT_NE(pTag, nullptr);
    ASSERT_NE(pTag->getAttributes(), nullptr);
    ASSERT_EQ(pTag->getAttributes()->size(), 2u);
    EXPECT_EQ(pTag->getAttributes()->get("version")->getValue(), "1.0");
    EXPECT_EQ(pTag->getAttributes()->get("encoding")->getValue(), "utf-8");
}

TEST(StartTagAttributesEdge, HugeAttributeListIsLinearAndComplete) {
    std::string csText = "<div";
    for (int i = 0; i < 20000; ++i)
        csText += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    csText += ">";
    CPage page(csText);
    CStartTag* pTag = static_cast<CStartTag*>(CTag::getTagAt(page.get(), 0));
    ASSERT_NE(pTag, nullptr);
    ASSERT_EQ(pTag->getAttributes()->size(), 20000u);
    EXPECT_EQ(pTag->getAttributes()->get("a19999")->getValue(), "19999");
    EXPECT_EQ(pTag->getEnd(), csText.size());
}

struct CSegmentAttributesCase {
    const char* pszName;
    const char* pszText;
    TPos nBegin;
    TPos nEnd;
    bool bAccepted;
    size_t nCount;
    const char* pszLastValue;
    const char* pszLog;
};

class SegmentAttributes : public ::testing::TestWithParam<CSegmentAttributesCase> {};

TEST_P(SegmentAttributes, ParseWithinTheSegment) {
    const CSegmentAttributesCase& c = GetParam();
    CPage page(c.pszText);
    CLogCapture log;
    CSegment* pSegment = CSegment::CREATE_NEW_INST(page.get(), c.nBegin, c.nEnd);
    ASSERT_NE(pSegment, nullptr);
    CAttributes* pList = pSegment->parseAttributes();
    EXPECT_EQ(pList != nullptr, c.bAccepted);
    if (pList) {
        ASSERT_EQ(pList->size(), c.nCount);
        if (c.nCount) {
            EXPECT_EQ(pList->getAttributes().back()->getValue(), c.pszLastValue);
        }
        EXPECT_LE(pList->getEnd(), c.nEnd);
    }
    if (*c.pszLog) {
        EXPECT_TRUE(log.contains(c.pszLog)) << c.pszLog;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SegmentAttributes,
    ::testing::Values(
        CSegmentAttributesCase{"Plain", "a=1 b='2'", 0, 9, true, 2, "2", ""},
        CSegmentAttributesCase{"StopsAtLimit", "a=1 b=2 c=3", 0, 7, true, 2, "2", ""},
        CSegmentAttributesCase{
            "QuoteCutByLimit", "a='xyz' b", 0, 4, true, 1, "x",
            "Begin pos <0>. Tag terminated in the middle of a quoted attribute value at <4>. "},
        CSegmentAttributesCase{"Empty", "", 0, 0, true, 0, "", ""},
        CSegmentAttributesCase{"GreaterThanEnds", "a=1> b=2", 0, 8, true, 1, "1", ""},
        CSegmentAttributesCase{
            "LessThanRejects", "a=1 <b", 0, 6, false, 0, "",
            "Type <Attributes> Tag name <> Begin pos <0> Rejected because of '<' character at <4>."}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(AttributeChecks, CreationArgumentsAreChecked) {
    CPage page("<a b=c>");
    CPage other("<a b=c>");
    CLogCapture log;
    CSegment* pName = CSegment::CREATE_NEW_INST(page.get(), 3, 4);
    CSegment* pForeign = CSegment::CREATE_NEW_INST(other.get(), 5, 6);
    EXPECT_EQ(CAttribute::CREATE_NEW_INST(page.get(), "b", nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(log.contains("[CAttribute::checkConstructorArgs] pNameSegment is 0"));
    EXPECT_TRUE(log.contains("[CAttribute::CREATE_NEW_INST] checkConstructorArgs() failed."));
    EXPECT_EQ(CAttribute::CREATE_NEW_INST(page.get(), "b", pName, pForeign, pForeign), nullptr);
    EXPECT_TRUE(
        log.contains("[CAttribute::checkConstructorArgs] Source of pValueSegment differs from pSource."));
    EXPECT_EQ(CAttribute::CREATE_NEW_INST(page.get(), "b", pForeign, nullptr, nullptr), nullptr);
    EXPECT_TRUE(
        log.contains("[CAttribute::checkConstructorArgs] Source of pNameSegment differs from pSource."));
    CAttribute* pGood = CAttribute::CREATE_NEW_INST(page.get(), "b", pName, nullptr, nullptr);
    ASSERT_NE(pGood, nullptr);
    EXPECT_EQ(pGood->getEnd(), 4u);

    EXPECT_EQ(CAttributes::CREATE_NEW_INST(page.get(), 2, 6, nullptr), nullptr);
    EXPECT_TRUE(
        log.contains("[CAttribute::checkConstructorArgs] pAttributesVec is 0. nBegin <2> nEnd <6>. "));
    EXPECT_TRUE(
        log.contains("[CAttributes::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <2> nEnd <6>."));
    std::vector<CAttribute*> v;
    EXPECT_EQ(CAttributes::CREATE_NEW_INST(page.get(), 6, 2, &v), nullptr);

    EXPECT_EQ(CAttributes::construct(page.get(), "T", 0, 0, 2, INVALID_POS, nullptr, "a", -1, 2), nullptr);
    EXPECT_TRUE(
        log.contains("[CAttributes::construct] Type <T> Tag name <a> Begin pos <0> pSource or pStartTagType "
                     "is 0."));
}

TEST(StartTagChecks, CreationArgumentsAreChecked) {
    CPage page("<a b=c>");
    CPage other("<a b=c>");
    CLogCapture log;
    const CStartTagType* pNormal = &StartTagTypes()->m_normal;
    EXPECT_EQ(CStartTag::CREATE_NEW_INST(page.get(), 5, 2, "a", 0, nullptr, pNormal), nullptr);
    EXPECT_TRUE(
        log.contains("[CTag::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <5> nEnd "
                     "<2> ."));
    EXPECT_TRUE(
        log.contains("[CStartTag::checkConstructorArgs] CTag::checkConstructorArgs() failed. nBegin <5> nEnd "
                     "<2> csName <a>."));
    EXPECT_TRUE(
        log.contains("[CStartTag::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <5> nEnd <2> csName "
                     "<a> ."));
    EXPECT_EQ(CStartTag::CREATE_NEW_INST(page.get(), 0, 7, "a", 0, nullptr, nullptr), nullptr);
    EXPECT_TRUE(
        log.contains("[CStartTag::checkConstructorArgs] pStartTagTypes is 0. nBegin <0> nEnd <7> csName <a> "
                     ". "));
    std::vector<CAttribute*> v;
    CAttributes* pForeign = CAttributes::CREATE_NEW_INST(other.get(), 2, 2, &v);
    ASSERT_NE(pForeign, nullptr);
    EXPECT_EQ(CStartTag::CREATE_NEW_INST(page.get(), 0, 7, "a", 0, pForeign, pNormal), nullptr);
    EXPECT_TRUE(log.contains("[CStartTag::checkConstructorArgs] pAttributes's source differs from pSource."));
    EXPECT_EQ(pNormal->constructStartTag(page.get(), 0, 9, "a", 0, nullptr), nullptr);
    EXPECT_TRUE(log.contains(
        "[CStartTagType::constructStartTag] CStartTag::CREATE_NEW_INST() failed. nBegin <0> nEnd "
        "<9> csName <a> ."));
}

TEST(StartTagChecks, MissingSourceIsLoggedByEveryTypeOperation) {
    CLogCapture log;
    const CStartTagTypeSingletonData& s = *StartTagTypes();
    EXPECT_EQ(s.m_normal.constructTagAt(nullptr, 1), nullptr);
    EXPECT_EQ(s.m_unregistered.constructTagAt(nullptr, 1), nullptr);
    EXPECT_EQ(s.m_markupDeclaration.constructTagAt(nullptr, 1), nullptr);
    EXPECT_EQ(s.m_comment.findEnd(nullptr, 1), INVALID_POS);
    EXPECT_EQ(s.m_doctypeDeclaration.findEnd(nullptr, 1), INVALID_POS);
    EXPECT_EQ(s.m_markupDeclaration.findEnd(nullptr, 1), INVALID_POS);
    EXPECT_FALSE(s.m_normal.atEndOfAttributes(nullptr, 1, false));
    EXPECT_FALSE(s.m_comment.atEndOfAttributes(nullptr, 1, false));
    EXPECT_EQ(EndTagTypes()->m_normal.constructTagAt(nullptr, 1), nullptr);
    EXPECT_EQ(EndTagTypes()->m_unregistered.constructTagAt(nullptr, 1), nullptr);
    for (const char* pszLine : {"[CStartTagTypeGenericImplementation::constructTagAt] pSource is 0. nPos <1>",
                                "[CStartTagTypeUnregistered::constructTagAt] pSource is 0. nPos <1>.",
                                "[CStartTagTypeMarkupDeclaration::constructTagAt] pSource is 0. nPos <1>.",
                                "[CStartTagTypeGenericImplementation::findEnd] pSource is 0. nPos <1>.",
                                "[CStartTagTypeDoctypeDeclaration::findEnd] pSource is 0. nPos <1>.",
                                "[CStartTagTypeMarkupDeclaration::findEnd] pSource is 0. nPos <1>.",
                                "[CStartTagTypeNormal::atEndOfAttributes] pSource is 0. nPos <1>.",
                                "[CStartTag::atEndOfAttributes] pSource is 0. nPos <1>.",
                                "[CEndTagTypeGenericImplementation::constructTagAt] pSource is 0. nPos <1>. ",
                                "[CEndTagTypeUnregistered::constructTagAt] pSource is 0. nPos <1>. "})
        EXPECT_TRUE(log.contains(pszLine)) << pszLine;
}

} // namespace
