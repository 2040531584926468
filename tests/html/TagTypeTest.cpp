// Tag types: the candidate order at a '<', which tag is recognised at a position, where tags are hidden, and
// what every operation answers without a source.
#include "HtmlTestSupport.h"

#include <functional>

using namespace htmltest;

namespace {

struct COrderCase {
    const char* pszName;
    const char* pszText;
    std::vector<std::string> vDescriptions;
};

class CandidateOrder : public ::testing::TestWithParam<COrderCase> {};

TEST_P(CandidateOrder, LongestDelimiterFirstThenLatestRegistered) {
    CPage page(GetParam().pszText);
    CProspectiveTagTypeIterator it(page.get(), 0);
    std::vector<std::string> vSeen;
    while (!it.isDone())
        vSeen.push_back(it.getNextTagType()->getDescription());
    EXPECT_EQ(vSeen, GetParam().vDescriptions);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CandidateOrder,
    ::testing::Values(
        COrderCase{"Comment", "<!-- x -->", {"comment", "markup declaration", "normal", "unregistered"}},
        COrderCase{"XmlDeclaration",
                   "<?xml v?>",
                   {"XML declaration", "XML processing instruction", "normal", "unregistered"}},
        COrderCase{"EndTag", "</div>", {"/normal", "/unregistered", "normal", "unregistered"}},
        COrderCase{"Div", "<div>", {"normal", "unregistered"}},
        COrderCase{"DoctypeUpper", "<!DOCTYPE html>", {"markup declaration", "normal", "unregistered"}},
        COrderCase{"DoctypeLower",
                   "<!doctype html>",
                   {"document type declaration", "markup declaration", "normal", "unregistered"}},
        COrderCase{"PartialDelimiterAtEnd", "<![cda", {"markup declaration", "normal", "unregistered"}},
        COrderCase{"Server", "<%= x %>", {"common server tag", "normal", "unregistered"}},
        COrderCase{"NotATag", "x<", {}}),
    CRowName());

struct CTagAtCase {
    const char* pszName;
    const char* pszText;
    TPos nPos;
    const char* pszType; // null: no tag
    const char* pszTagName;
    TPos nEnd;
};

class TagAtPosition : public ::testing::TestWithParam<CTagAtCase> {};

TEST_P(TagAtPosition, RecognisesTheExpectedTag) {
    const CTagAtCase& c = GetParam();
    CPage page(c.pszText);
    CTag* pTag = CTag::getTagAt(page.get(), c.nPos);
    if (!c.pszType) {
        EXPECT_EQ(pTag, nullptr) << (pTag ? pTag->getText() : "");
        return;
    }
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getTagType()->getDescription(), c.pszType);
    EXPECT_EQ(pTag->getName(), c.pszTagName);
    EXPECT_EQ(pTag->getBegin(), c.nPos);
    EXPECT_EQ(pTag->getEnd(), c.nEnd);
    EXPECT_EQ(CTag::getTagAt(page.get(), c.nPos), pTag); // the same object answers again
}

INSTANTIATE_TEST_SUITE_P(
    Table, TagAtPosition,
    ::testing::Values(
        CTagAtCase{"Normal", "<div id=a>", 0, "normal", "div", 10},
        CTagAtCase{"NormalKeepsCase", "<DiV>", 0, "normal", "DiV", 5},
        CTagAtCase{"Comment", "<!-- X <B> -->", 0, "comment", "!--", 14},
        CTagAtCase{"CommentWithoutClose", "<!-- x >", 0, "unregistered", "", 8},
        CTagAtCase{"CdataLower", "<![cdata[a<b]]>", 0, "CDATA section", "![cdata[", 15},
        CTagAtCase{"CdataUpperIsUnregistered", "<![CDATA[x]]>", 0, "unregistered", "", 13},
        CTagAtCase{"DoctypeLower", "<!doctype html>", 0, "document type declaration", "!doctype", 15},
        CTagAtCase{"DoctypeUpperIsUnregistered", "<!DOCTYPE html>", 0, "unregistered", "", 15},
        CTagAtCase{"DoctypeInternalSubset", "<!doctype x [ <!ENTITY a '>'> ]>", 0,
                   "document type declaration", "!doctype", 32},
        CTagAtCase{"DoctypeQuotedBracket", "<!doctype x \"]>\">", 0, "document type declaration", "!doctype",
                   17},
        CTagAtCase{"MarkupElement", "<!ELEMENT x (y)>", 0, "markup declaration", "!ELEMENT", 16},
        CTagAtCase{"MarkupEntityQuoted", "<!entity a \"x>y\">", 0, "markup declaration", "!entity", 17},
        CTagAtCase{"MarkupUnknownIsUnregistered", "<!FOO x>", 0, "unregistered", "", 8},
        CTagAtCase{"XmlDeclaration", "<?xml version='1.0'?>", 0, "XML declaration", "?xml", 21},
        CTagAtCase{"XmlDeclarationNeedsBreak", "<?xmlfoo a?>", 0, "XML processing instruction", "?xmlfoo",
                   12},
        CTagAtCase{"ProcessingInstruction", "<?php x ?>", 0, "XML processing instruction", "?php", 10},
        CTagAtCase{"ServerTag", "<% a > b %>", 0, "common server tag", "%", 11},
        CTagAtCase{"EndTag", "</div>", 0, "/normal", "div", 6},
        CTagAtCase{"EndTagWithBlankIsUnregistered", "</div >", 0, "/unregistered", "div ", 7},
        CTagAtCase{"EndTagWithoutName", "</ >", 0, "/unregistered", " ", 4},
        CTagAtCase{"LessThanBlank", "< b>", 0, "unregistered", "", 4},
        CTagAtCase{"UnregisteredEndTagWithAttributes", "<!FOO x></a b>", 8, "/unregistered", "a b", 14},
        CTagAtCase{"LessThanAtEnd", "text<", 4, nullptr, "", 0},
        CTagAtCase{"NoClosingAtAll", "<div", 0, nullptr, "", 0},
        CTagAtCase{"CommentNeverClosed", "<!-- never closed", 0, nullptr, "", 0},
        CTagAtCase{"EndTagNoClosing", "</div", 0, nullptr, "", 0},
        CTagAtCase{"NotAtLessThan", "<b>", 1, nullptr, "", 0},
        CTagAtCase{"OutsideSource", "<b>", 3, nullptr, "", 0},
        CTagAtCase{"DivInsideComment", "<!-- <div> -->", 5, nullptr, "", 0},
        CTagAtCase{"ServerTagInsideComment", "<!-- <% x %> -->", 5, "common server tag", "%", 12},
        CTagAtCase{"CommentInsideCdata", "<![cdata[ <!-- x --> ]]>", 10, nullptr, "", 0},
        CTagAtCase{"DivInsideCdata", "<![cdata[ <b> ]]>", 10, nullptr, "", 0},
        CTagAtCase{"DivAfterComment", "<!-- x --><b>", 10, "normal", "b", 13},
        CTagAtCase{"CommentInsideCommentIsNot", "<!-- <!-- -->", 5, nullptr, "", 0}),
    CRowName());

TEST(TagAtPosition, NulBytesAreOrdinaryAndTheValidityCheckCanBeSkipped) {
    CPage nul(std::string("<a b='\0'>\0<i>", 13));
    ASSERT_NE(CTag::getTagAt(nul.get(), 0), nullptr);
    EXPECT_EQ(CTag::getTagAt(nul.get(), 0)->getEnd(), 9u);
    ASSERT_NE(CTag::getTagAt(nul.get(), 10), nullptr);
    CPage page("<!-- <b> -->");
    EXPECT_EQ(CTagType::getTagAt(page.get(), 5, false), nullptr);
    CTag* pTag = CTagType::getTagAt(page.get(), 5, true);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getName(), "b");
}

struct CValidityCase {
    const char* pszName;
    const char* pszText;
    TPos nPos;
    bool bNormalValid;
    bool bServerValid;
};

class PositionValidity : public ::testing::TestWithParam<CValidityCase> {};

TEST_P(PositionValidity, OnlyServerTagsInsideHidingTags) {
    const CValidityCase& c = GetParam();
    CPage page(c.pszText);
    EXPECT_EQ(StartTagTypes()->m_normal.isValidPosition(page.get(), c.nPos), c.bNormalValid);
    EXPECT_EQ(StartTagTypes()->m_serverCommon.isValidPosition(page.get(), c.nPos), c.bServerValid);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PositionValidity,
    ::testing::Values(CValidityCase{"Start", "<!-- a --> b", 0, true, true},
                      CValidityCase{"CommentBegin", "x<!-- a --> b", 1, true, true},
                      CValidityCase{"InsideComment", "<!-- a --> b", 5, false, true},
                      CValidityCase{"LastByteOfComment", "<!-- a --> b", 9, false, true},
                      CValidityCase{"RightAfterComment", "<!-- a --> b", 10, true, true},
                      CValidityCase{"InsideCdata", "<![cdata[ x ]]>", 3, false, true},
                      CValidityCase{"AfterTwoComments", "<!--a--><!--b-->c", 16, true, true},
                      CValidityCase{"InSecondComment", "<!--a--><!--b-->c", 12, false, true},
                      CValidityCase{"UnclosedComment", "<!-- a b", 5, true, true},
                      CValidityCase{"OutsideSource", "<b>", 3, false, false}),
    CRowName());

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

TEST(TagFinders, NearestTagSkipsUnregisteredAndHiddenTags) {
    //          0123456789012345678901234567
    CPage page("< x><!-- <b> --><i></i>< y>");
    CTag* pNext = CTag::findPreviousOrNextTag(page.get(), 0, SEARCH_NEXT);
    ASSERT_NE(pNext, nullptr);
    EXPECT_EQ(pNext->getTagType()->getDescription(), "comment");
    pNext = CTag::findPreviousOrNextTag(page.get(), 5, SEARCH_NEXT);
    ASSERT_NE(pNext, nullptr);
    EXPECT_EQ(pNext->getName(), "i");
    CTag* pPrevious = CTag::findPreviousOrNextTag(page.get(), 26, SEARCH_PREVIOUS);
    ASSERT_NE(pPrevious, nullptr);
    EXPECT_EQ(pPrevious->getBegin(), 19u);
    EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 2, SEARCH_PREVIOUS), nullptr);
    CTag* pComment =
        CTag::findPreviousOrNextTag(page.get(), 20, &StartTagTypes()->m_comment, SEARCH_PREVIOUS);
    ASSERT_NE(pComment, nullptr);
    EXPECT_EQ(pComment->getBegin(), 4u);
    EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 5, &StartTagTypes()->m_comment, SEARCH_NEXT), nullptr);
    CTag* pEnd = CTag::findPreviousOrNextTag(page.get(), 0, &EndTagTypes()->m_normal, SEARCH_NEXT);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->getBegin(), 19u);
}

} // namespace
