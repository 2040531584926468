// Attribute lists of start tags: quoting styles, tolerated and counted errors, rejection, the empty-element
// slash, and the creation checks of attributes, lists and start tags.
#include "HtmlTestSupport.h"

using namespace htmltest;

namespace {

// Row: page, 1 when the tag at 0 keeps an attribute list (a rejected list leaves an unregistered tag),
// the attributes as "key=value;key", the tag end ("-": no tag at all), a text the log must hold ("-": none).
class StartTagAttributes : public ::testing::TestWithParam<CRow> {};

TEST_P(StartTagAttributes, ParsesAsExpected) {
    const CRow& r = GetParam();
    CPage page(r[1]);
    CLogCapture log;
    CTag* pTag = CTag::getTagAt(page.get(), 0);
    if (r[5] != "-") {
        EXPECT_TRUE(log.Contains(r[5])) << r[5];
    }
    ASSERT_EQ(pTag == nullptr, r.pos(4) == INVALID_POS);
    if (!pTag)
        return;
    EXPECT_EQ(pTag->getEnd(), r.pos(4));
    ASSERT_TRUE(pTag->isStartTag());
    CAttributes* pList = static_cast<CStartTag*>(pTag)->getAttributes();
    ASSERT_EQ(pList != nullptr, r[2] == "1");
    std::string csSeen;
    for (CAttribute* pAttribute : pList ? pList->getAttributes() : std::vector<CAttribute*>()) {
        EXPECT_EQ(pAttribute->getNameSegment()->getText(), pAttribute->getKey());
        EXPECT_GE(pAttribute->getBegin(), pTag->getBegin());
        EXPECT_LE(pAttribute->getEnd(), pTag->getEnd());
        csSeen += (csSeen.empty() ? "" : ";") + pAttribute->getKey() +
                  (pAttribute->hasValue() ? "=" + pAttribute->getValue() : "");
    }
    EXPECT_EQ(csSeen, r[3]);
}

INSTANTIATE_TEST_SUITE_P(Table, StartTagAttributes, ::testing::ValuesIn(ReadTable("attributes.txt")),
                         RowName);

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

// Row: text, segment end, 1 when a list is parsed, the attributes it holds, the value of the last.
class SegmentAttributes : public ::testing::TestWithParam<CRow> {};

TEST_P(SegmentAttributes, ParseWithinTheSegment) {
    const CRow& r = GetParam();
    CPage page(r[1]);
    CSegment* pSegment = CSegment::CREATE_NEW_INST(page.get(), 0, r.pos(2));
    ASSERT_NE(pSegment, nullptr);
    CAttributes* pList = pSegment->parseAttributes();
    ASSERT_EQ(pList != nullptr, r[3] == "1");
    if (!pList)
        return;
    ASSERT_EQ(pList->size(), r.pos(4));
    if (pList->size()) {
        EXPECT_EQ(pList->getAttributes().back()->getValue(), r[5]);
    }
    EXPECT_LE(pList->getEnd(), r.pos(2));
}

INSTANTIATE_TEST_SUITE_P(Table, SegmentAttributes, ::testing::ValuesIn(ReadTable("segment-attributes.txt")),
                         RowName);

TEST(AttributeChecks, CreationArgumentsAreChecked) {
    CPage page("<a b=c>");
    CPage other("<a b=c>");
    CLogCapture log;
    CSegment* pName = CSegment::CREATE_NEW_INST(page.get(), 3, 4);
    CSegment* pForeign = CSegment::CREATE_NEW_INST(other.get(), 5, 6);
    EXPECT_EQ(CAttribute::CREATE_NEW_INST(page.get(), "b", nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CAttribute::CREATE_NEW_INST(page.get(), "b", pName, pForeign, pForeign), nullptr);
    EXPECT_EQ(CAttribute::CREATE_NEW_INST(page.get(), "b", pForeign, nullptr, nullptr), nullptr);
    EXPECT_EQ(log.Count("[CAttribute::CREATE_NEW_INST] checkConstructorArgs() failed."), 3u);
    CAttribute* pGood = CAttribute::CREATE_NEW_INST(page.get(), "b", pName, nullptr, nullptr);
    ASSERT_NE(pGood, nullptr);
    EXPECT_EQ(pGood->getEnd(), 4u);
    std::vector<CAttribute*> v;
    EXPECT_EQ(CAttributes::CREATE_NEW_INST(page.get(), 2, 6, nullptr), nullptr);
    EXPECT_EQ(CAttributes::CREATE_NEW_INST(page.get(), 6, 2, &v), nullptr);
    EXPECT_EQ(log.Count("[CAttributes::CREATE_NEW_INST] checkConstructorArgs() failed."), 2u);
    EXPECT_EQ(CAttributes::construct(page.get(), "T", 0, 0, 2, INVALID_POS, nullptr, "a", -1, 2), nullptr);

    const CStartTagType* pNormal = &StartTagTypes()->m_normal;
    CAttributes* pForeignList = CAttributes::CREATE_NEW_INST(other.get(), 2, 2, &v);
    ASSERT_NE(pForeignList, nullptr);
    EXPECT_EQ(CStartTag::CREATE_NEW_INST(page.get(), 5, 2, "a", 0, nullptr, pNormal), nullptr);
    EXPECT_EQ(CStartTag::CREATE_NEW_INST(page.get(), 0, 7, "a", 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(CStartTag::CREATE_NEW_INST(page.get(), 0, 7, "a", 0, pForeignList, pNormal), nullptr);
    EXPECT_EQ(log.Count("[CStartTag::CREATE_NEW_INST] checkConstructorArgs() failed."), 3u);
    EXPECT_EQ(pNormal->constructStartTag(page.get(), 0, 9, "a", 0, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("[CStartTagType::constructStartTag] CStartTag::CREATE_NEW_INST() failed."));
}

} // namespace
