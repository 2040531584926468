// Tag types: the candidate order at a '<', which tag is recognised at a position, where tags are hidden, and
// what every operation answers without a source.
#include "HtmlTestSupport.h"

#include <functional>
#include <map>

using namespace htmltest;

namespace {

// The candidate types at a '<': longest delimiter first, then the latest registered.
class CandidateOrder : public ::testing::TestWithParam<CRow> {};

TEST_P(CandidateOrder, LongestDelimiterFirstThenLatestRegistered) {
    CPage page(GetParam()[1]);
    CProspectiveTagTypeIterator it(page.get(), 0);
    std::string csSeen;
    while (!it.isDone())
        csSeen += (csSeen.empty() ? "" : ",") + it.getNextTagType()->getDescription();
    EXPECT_EQ(csSeen, GetParam()[2]);
}

INSTANTIATE_TEST_SUITE_P(Table, CandidateOrder, ::testing::ValuesIn(ReadTable("tag-order.txt")), RowName);

class TagAtPosition : public ::testing::TestWithParam<CRow> {};

TEST_P(TagAtPosition, RecognisesTheExpectedTag) {
    const CRow& r = GetParam();
    CPage page(r[1]);
    CTag* pTag = CTag::getTagAt(page.get(), r.pos(2));
    if (r[3] == "-") {
        EXPECT_EQ(pTag, nullptr) << (pTag ? pTag->getText() : "");
        return;
    }
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getTagType()->getDescription(), r[3]);
    EXPECT_EQ(pTag->getName(), r[4]);
    EXPECT_EQ(pTag->getBegin(), r.pos(2));
    EXPECT_EQ(pTag->getEnd(), r.pos(5));
    EXPECT_EQ(CTag::getTagAt(page.get(), r.pos(2)), pTag); // the same object answers again
}

INSTANTIATE_TEST_SUITE_P(Table, TagAtPosition, ::testing::ValuesIn(ReadTable("tag-at.txt")), RowName);

TEST(TagAtPosition, TheValidityCheckCanBeSkipped) {
    CPage page("<!-- <b> -->");
    EXPECT_EQ(CTagType::getTagAt(page.get(), 5, false), nullptr);
    CTag* pTag = CTagType::getTagAt(page.get(), 5, true);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getName(), "b");
}

// Inside comments and CDATA sections only server tags may start.
class PositionValidity : public ::testing::TestWithParam<CRow> {};

TEST_P(PositionValidity, OnlyServerTagsInsideHidingTags) {
    CPage page(GetParam()[1]);
    EXPECT_EQ(StartTagTypes()->m_normal.isValidPosition(page.get(), GetParam().pos(2)), GetParam()[3] == "1");
    EXPECT_EQ(StartTagTypes()->m_serverCommon.isValidPosition(page.get(), GetParam().pos(2)),
              GetParam()[4] == "1");
}

INSTANTIATE_TEST_SUITE_P(Table, PositionValidity, ::testing::ValuesIn(ReadTable("position-validity.txt")),
                         RowName);

TEST(TagTypes, EveryOperationWithoutASourceAnswersNothingAndLogs) {
    CLogCapture log;
    const CStartTagTypeSingletonData& s = *StartTagTypes();
    const CEndTagTypeSingletonData& e = *EndTagTypes();
    const std::function<bool()> rgAnswersNothing[] = {
        [] { return !StartTagTypes()->m_normal.isValidPosition(nullptr, 1); },
        [] { return !CTagType::getTagAt(nullptr, 1, false) && !CTag::getTagAt(nullptr, 1); },
        [&] {
            return !s.m_normal.constructTagAt(nullptr, 1) && !s.m_unregistered.constructTagAt(nullptr, 1);
        },
        [&] { return !s.m_markupDeclaration.constructTagAt(nullptr, 1); },
        [&] { return s.m_comment.findEnd(nullptr, 1) == INVALID_POS; },
        [&] { return s.m_doctypeDeclaration.findEnd(nullptr, 1) == INVALID_POS; },
        [&] { return s.m_markupDeclaration.findEnd(nullptr, 1) == INVALID_POS; },
        [&] { return !s.m_normal.atEndOfAttributes(nullptr, 1, false); },
        [&] { return !s.m_comment.atEndOfAttributes(nullptr, 1, false); },
        [&] {
            return !e.m_normal.constructTagAt(nullptr, 1) && !e.m_unregistered.constructTagAt(nullptr, 1);
        },
        [] { return !CStartTag::findPreviousOrNext(nullptr, 1, "b", SEARCH_NEXT); },
        [] { return !CEndTag::findPreviousOrNext(nullptr, 1, "b", &EndTagTypes()->m_normal, SEARCH_NEXT); },
        [] {
            CProspectiveTagTypeIterator it(nullptr, 1);
            return it.isDone() && !it.getNextTagType();
        },
    };
    for (size_t i = 0; i < std::size(rgAnswersNothing); ++i) {
        const size_t nLogged = log.Count("is 0. nPos <1>");
        EXPECT_TRUE(rgAnswersNothing[i]()) << "operation " << i;
        EXPECT_GT(log.Count("is 0. nPos <1>"), nLogged) << "operation " << i;
    }
}

TEST(TagFinders, NearestTagOfTheTypeOrName) {
    const std::map<std::string, const CTagType*> types = {{"-", nullptr},
                                                          {"comment", &StartTagTypes()->m_comment},
                                                          {"/normal", &EndTagTypes()->m_normal},
                                                          {"/unregistered", &EndTagTypes()->m_unregistered}};
    for (const CRow& r : ReadTable("tag-finders.txt")) {
        CPage page(r[1]);
        const CTagType* pType = types.at(r[3]);
        const bool bNext = r[5] == "1";
        CTag* pTag =
            r[4] == "-" ? CTag::findPreviousOrNextTag(page.get(), r.pos(2), pType, bNext)
            : r[4][0] == '/'
                ? CEndTag::findPreviousOrNext(page.get(), r.pos(2), r[4].substr(1),
                                              static_cast<const CEndTagType*>(pType), bNext)
                : static_cast<CTag*>(CStartTag::findPreviousOrNext(page.get(), r.pos(2), r[4], bNext));
        EXPECT_EQ(pTag ? pTag->getBegin() : INVALID_POS, r.pos(6)) << r[0];
    }
}

} // namespace
