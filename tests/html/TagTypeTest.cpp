// Tag types, the candidate order at a '<', and which tag is recognised at a position.
#include "HtmlTestSupport.h"

using namespace htmltest;

namespace {

struct CTypeRow {
    const CTagType* pType;
    const char* pszDescription;
    const char* pszStart;
    const char* pszClose;
    const char* pszNamePrefix;
    bool bServer;
};

TEST(TagTypes, DelimitersPrefixesAndFlags) {
    const CStartTagTypeSingletonData& s = *StartTagTypes();
    const CEndTagTypeSingletonData& e = *EndTagTypes();
    const CTypeRow rows[] = {
        {&s.m_unregistered, "unregistered", "<", ">", "", false},
        {&s.m_normal, "normal", "<", ">", "", false},
        {&s.m_comment, "comment", "<!--", "-->", "!--", false},
        {&s.m_xmlDeclaration, "XML declaration", "<?xml", "?>", "?xml", false},
        {&s.m_xmlProcessingInstruction, "XML processing instruction", "<?", "?>", "?", false},
        {&s.m_doctypeDeclaration, "document type declaration", "<!doctype", ">", "!doctype", false},
        {&s.m_markupDeclaration, "markup declaration", "<!", ">", "!", false},
        {&s.m_cdataSection, "CDATA section", "<![cdata[", "]]>", "![cdata[", false},
        {&s.m_serverCommon, "common server tag", "<%", "%>", "%", true},
        {&e.m_unregistered, "/unregistered", "</", ">", "", false},
        {&e.m_normal, "/normal", "</", ">", "", false},
    };
    for (const CTypeRow& r : rows) {
        SCOPED_TRACE(r.pszDescription);
        EXPECT_EQ(r.pType->getDescription(), r.pszDescription);
        EXPECT_EQ(r.pType->getStartDelimiter(), r.pszStart);
        EXPECT_EQ(r.pType->getClosingDelimiter(), r.pszClose);
        EXPECT_EQ(r.pType->getNamePrefix(), r.pszNamePrefix);
        EXPECT_EQ(r.pType->getStartDelimiterPrefix(), "<");
        EXPECT_EQ(r.pType->isServerTag(), r.bServer);
    }
    EXPECT_EQ(s.m_normal.getCorrespondingEndTagType(), &e.m_normal);
    EXPECT_EQ(e.m_normal.getCorrespondingStartTagType(), &s.m_normal);
    EXPECT_EQ(e.m_unregistered.getCorrespondingStartTagType(), nullptr);
    EXPECT_TRUE(s.m_normal.hasAttributes() && s.m_xmlDeclaration.hasAttributes());
    EXPECT_FALSE(s.m_comment.hasAttributes() || s.m_unregistered.hasAttributes());
    EXPECT_TRUE(s.m_markupDeclaration.isNameAfterPrefixRequired() &&
                s.m_xmlProcessingInstruction.isNameAfterPrefixRequired());
    EXPECT_FALSE(s.m_doctypeDeclaration.isNameAfterPrefixRequired());
    EXPECT_TRUE(s.m_normal.prefixEndsWithoutLetter() && s.m_comment.prefixEndsWithoutLetter());
    EXPECT_FALSE(s.m_doctypeDeclaration.prefixEndsWithoutLetter() ||
                 s.m_xmlDeclaration.prefixEndsWithoutLetter());
}

struct COrderCase {
    const char* pszName;
    const char* pszText;
    std::vector<const char*> vDescriptions;
};

class CandidateOrder : public ::testing::TestWithParam<COrderCase> {};

TEST_P(CandidateOrder, LongestDelimiterFirstThenLatestRegistered) {
    const COrderCase& c = GetParam();
    CPage page(c.pszText);
    CProspectiveTagTypeIterator it(page.get(), 0);
    std::vector<std::string> vSeen;
    while (!it.isDone())
        vSeen.push_back(it.getNextTagType()->getDescription());
    std::vector<std::string> vExpected(c.vDescriptions.begin(), c.vDescriptions.end());
    EXPECT_EQ(vSeen, vExpected);
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
        COrderCase{"CdataUpper", "<![CDATA[x]]>", {"markup declaration", "normal", "unregistered"}},
        COrderCase{"PartialDelimiterAtEnd", "<![cda", {"markup declaration", "normal", "unregistered"}},
        COrderCase{"Server", "<%= x %>", {"common server tag", "normal", "unregistered"}},
        COrderCase{"NotATag", "x<", {}}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(CandidateOrder, MissingSourceOrExhaustedCursorIsLogged) {
    CLogCapture log;
    CProspectiveTagTypeIterator it(nullptr, 4);
    EXPECT_TRUE(it.isDone());
    EXPECT_EQ(it.getNextTagType(), nullptr);
    EXPECT_TRUE(
        log.contains("[CProspectiveTagTypeIterator::CProspectiveTagTypeIterator] pSource is 0. nPos <4>."));
    EXPECT_TRUE(log.contains("[CProspectiveTagTypeIterator::getNextTagType] m_pCursor is 0."));
}

struct CTagAtCase {
    const char* pszName;
    const char* pszText;
    TPos nPos;
    const char* pszType; // nullptr: no tag
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
    // The same object answers again.
    EXPECT_EQ(CTag::getTagAt(page.get(), c.nPos), pTag);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TagAtPosition,
    ::testing::Values(
        CTagAtCase{"Normal", "<div id=a>", 0, "normal", "div", 10},
        CTagAtCase{"NormalKeepsCase", "<DiV>", 0, "normal", "DiV", 5},
        CTagAtCase{"Comment", "<!-- x -->", 0, "comment", "!--", 10},
        CTagAtCase{"CommentUpperText", "<!-- X <B> -->", 0, "comment", "!--", 14},
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
        CTagAtCase{"LessThanAtEnd", "text<", 4, nullptr, "", 0},
        CTagAtCase{"NoClosingAtAll", "<div", 0, nullptr, "", 0},
        CTagAtCase{"EndTagNoClosing", "</div", 0, nullptr, "", 0},
        CTagAtCase{"NotAtLessThan", "<b>", 1, nullptr, "", 0},
        CTagAtCase{"OutsideSource", "<b>", 3, nullptr, "", 0},
        CTagAtCase{"DivInsideComment", "<!-- <div> -->", 5, nullptr, "", 0},
        CTagAtCase{"ServerTagInsideComment", "<!-- <% x %> -->", 5, "common server tag", "%", 12},
        CTagAtCase{"CommentInsideCdata", "<![cdata[ <!-- x --> ]]>", 10, nullptr, "", 0},
        CTagAtCase{"DivInsideCdata", "<![cdata[ <b> ]]>", 10, nullptr, "", 0},
        CTagAtCase{"DivAfterComment", "<!-- x --><b>", 10, "normal", "b", 13},
        CTagAtCase{"CommentInsideCommentIsNot", "<!-- <!-- -->", 5, nullptr, "", 0}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(TagAtPosition, NulBytesInsideTextAreOrdinaryBytes) {
    std::string csText("<a b='\0'>\0<i>", 13);
    CPage page(csText);
    CTag* pTag = CTag::getTagAt(page.get(), 0);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getEnd(), 9u);
    CTag* pItalic = CTag::getTagAt(page.get(), 10);
    ASSERT_NE(pItalic, nullptr);
    EXPECT_EQ(pItalic->getName(), "i");
}

TEST(TagAtPosition, UnregisteredTagsAreLogged) {
    CPage page("<!FOO x></a b>");
    CLogCapture log;
    ASSERT_NE(CTag::getTagAt(page.get(), 0), nullptr);
    EXPECT_TRUE(log.contains(
        "[CStartTagTypeUnregistered::constructTagAt] Encountered possible StartTag <<!FOO x>> at "
        "<0> whose content does not match a registered StartTagType."));
    ASSERT_NE(CTag::getTagAt(page.get(), 8), nullptr);
    EXPECT_TRUE(log.contains(
        "[CEndTagGenericImplementation::constructTagAt] EndTag <a> at <8> not recognized as type "
        "</normal> because its closing delimiter does not immediately follow its name."));
    EXPECT_TRUE(log.contains(
        "[CEndTagTypeUnregistered::constructTagAt] Encountered possible EndTag <a b> at <8> whose "
        "content does not match a registered EndTagType."));
}

TEST(TagAtPosition, MissingClosingDelimiterIsLogged) {
    CPage page("<!-- never closed");
    CLogCapture log;
    EXPECT_EQ(CTag::getTagAt(page.get(), 0), nullptr);
    EXPECT_TRUE(log.contains("[CStartTagTypeGenericImplementation::constructTagAt] StartTag <!--> at <0> not "
                             "recognized as type <comment> because it has no closing delimiter."));
}

TEST(TagAtPosition, SkippingTheValidityCheckFindsTagsInComments) {
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
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(PositionValidity, MissingSourceIsLogged) {
    CLogCapture log;
    EXPECT_FALSE(StartTagTypes()->m_normal.isValidPosition(nullptr, 3));
    EXPECT_EQ(CTagType::getTagAt(nullptr, 3, false), nullptr);
    EXPECT_EQ(CTag::getTagAt(nullptr, 3), nullptr);
    EXPECT_TRUE(log.contains("[CTagType::isValidPosition] pSource is 0. nPos <3>."));
    EXPECT_TRUE(log.contains("[CTagType::getTagAt] pSource is 0. nPos <3>."));
    EXPECT_TRUE(log.contains("[CTag::getTagAt] pSource is 0. nPos <3>."));
}

TEST(TagFinders, NearestTagSkipsUnregisteredAndHiddenTags) {
    //                0123456789012345678901234567
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
