// The source: creation checks, text access, caseless searches against a plain scan, segments and the
// process-wide singletons.
#include "HtmlTestSupport.h"

#include <thread>

using namespace htmltest;

namespace {

// Sources and segments are created only over positions inside what they stand on.
class Positions : public ::testing::TestWithParam<CRow> {};

TEST_P(Positions, CreatedOnlyInside) {
    const CRow& r = GetParam();
    CPage page("0123456789", 2);
    CLogCapture log;
    if (r[0].starts_with("Segment")) {
        CSegment* pSegment = CSegment::CREATE_NEW_INST(page.get(), r.pos(1), r.pos(2));
        ASSERT_EQ(pSegment != nullptr, r[3] == "1");
        if (pSegment) {
            EXPECT_EQ(pSegment->getText(), page.m_csText.substr(r.pos(1), r.pos(2) - r.pos(1)));
        }
    } else {
        std::unique_ptr<CSource> pSource =
            CSource::CREATE_NEW_INST("<html><body>text</body></html>", r.pos(1), r.pos(2));
        ASSERT_EQ(pSource != nullptr, r[3] == "1");
        if (pSource) {
            EXPECT_EQ(pSource->getBegin(), r.pos(1));
            EXPECT_EQ(pSource->getEnd(), r.pos(2));
        }
    }
    EXPECT_TRUE(r[4] == "-" || log.Contains(r[4])) << r[4];
}

INSTANTIATE_TEST_SUITE_P(Table, Positions, ::testing::ValuesIn(ReadTable("source-positions.txt")), RowName);

TEST(SourceText, MissingDataOrSourceIsRefused) {
    CLogCapture log;
    EXPECT_EQ(CSource::CREATE_NEW_INST(nullptr, 0, 5), nullptr);
    EXPECT_NE(CSource::CREATE_NEW_INST(nullptr, 0, 0), nullptr);
    EXPECT_EQ(CSegment::CREATE_NEW_INST(nullptr, 0, 0), nullptr);
    EXPECT_TRUE(log.Contains("[CSegment::checkConstructorArgs] pSource is 0."));
}

// The first start in [nFrom, nStartLimit) of an occurrence inside the text, ignoring case.
TPos NaiveFind(const std::string& csText, const std::string& csPattern, TPos nFrom, TPos nStartLimit) {
    for (TPos i = nFrom; i < nStartLimit && i + csPattern.size() <= csText.size(); ++i)
        if (EqualsCaseless(std::string_view(csText).substr(i, csPattern.size()), csPattern))
            return i;
    return INVALID_POS;
}

// The last start in [nLower, nPos] of an occurrence inside the text, ignoring case.
TPos NaiveFindReverse(const std::string& csText, const std::string& csPattern, TPos nPos, TPos nLower) {
    if (csPattern.size() > csText.size())
        return INVALID_POS;
    for (TPos i = std::min<TPos>(nPos, csText.size() - csPattern.size()) + 1; i > nLower;)
        if (EqualsCaseless(std::string_view(csText).substr(--i, csPattern.size()), csPattern))
            return i;
    return INVALID_POS;
}

TEST(SourceSearch, CaselessSearchesAgreeWithAPlainScan) {
    // Patterns that begin with a letter and patterns that do not take different routines.
    static const char* const s_rgPatterns[] = {"<",   ">",       "<!", "-->",   "</b",     "<DIV",
                                               "]]>", "a",       "Ab", "<!--x", "<script", "</BODY>",
                                               "?>",  "aAbB<>-", "@a", "a`"};
    static const char* const s_rgPieces[] = {
        "<", ">", "!", "-", "a",      "A",    "b", "B", "div", "DiV",  " ",
        "]", "?", "/", "x", "script", "body", "@", "`", "{",   "\xC1", "\xE1"}; // one bit from a letter
    std::mt19937 rng(4711);
    for (int nRound = 0; nRound < 300; ++nRound) {
        std::string csText;
        for (size_t i = 0, nPieces = rng() % 40; i < nPieces; ++i)
            csText += s_rgPieces[rng() % std::size(s_rgPieces)];
        const TPos nBegin = csText.empty() ? 0 : rng() % (csText.size() / 3 + 1);
        CPage page(csText, nBegin);
        ASSERT_NE(page.get(), nullptr);
        std::vector<std::string> vPatterns(std::begin(s_rgPatterns), std::end(s_rgPatterns));
        for (size_t nLength : {1 + rng() % 11, 1 + rng() % 5}) { // short alphabets give long borders
            vPatterns.emplace_back();
            while (vPatterns.back().size() < nLength)
                vPatterns.back() += "aAbB<>-"[rng() % 7];
        }
        for (const std::string& csPattern : vPatterns) {
            for (TPos nFrom = nBegin; nFrom <= csText.size(); ++nFrom) {
                const TPos nLength = rng() % 12;
                const TPos nLimit = std::min<TPos>(nFrom + nLength, csText.size());
                const TPos nLower = nBegin + (nFrom - nBegin) / 2;
                SCOPED_TRACE(csText + " / " + csPattern + " from " + std::to_string(nFrom));
                const TPos nToEnd = NaiveFind(csText, csPattern, nFrom, csText.size());
                ASSERT_EQ(page.get()->findCaseless(csPattern, nFrom), nToEnd);
                ASSERT_EQ(page.get()->findCaselessToEnd(csPattern, nFrom), nToEnd);
                ASSERT_EQ(page.get()->findCaseless(csPattern, nFrom, nLength),
                          NaiveFind(csText, csPattern, nFrom, nLimit));
                ASSERT_EQ(page.get()->findCaselessBefore(csPattern, nFrom, nLimit),
                          NaiveFind(csText, csPattern, nFrom, nLimit));
                ASSERT_EQ(page.get()->findCaselessReverse(csPattern, nFrom, nLower),
                          NaiveFindReverse(csText, csPattern, nFrom, nLower));
            }
        }
    }
}

TEST(SourceSearch, RememberedSearchAnswersLaterStartsAndRescansEarlierOnes) {
    CPage page("<a>..<b>..<c>");
    const std::pair<TPos, TPos> rgAsked[] = {{1, 5},           {3, 5}, {0, 0}, {6, 10}, {11, INVALID_POS},
                                             {13, INVALID_POS}};
    for (const auto& [nFrom, nExpected] : rgAsked)
        EXPECT_EQ(page.get()->findCaselessToEnd("<", nFrom), nExpected) << nFrom;
}

TEST(SourceSearch, SearchesRespectTheSourceBeginAndEnd) {
    CPage page("<x><x><x>", 3);
    CSource* p = page.get();
    EXPECT_EQ(p->findCaseless("<X", 0), 3u);
    EXPECT_EQ(p->findCaselessReverse("<x", 2), INVALID_POS);
    EXPECT_EQ(p->findCaselessReverse("<x", 100), 6u);
    EXPECT_EQ(p->findCaseless("<x><x><x><", 0), INVALID_POS);
    EXPECT_EQ(p->findCaseless("", 3), INVALID_POS);
    EXPECT_TRUE(p->startsWithCaseless(6, "<X>"));
    EXPECT_FALSE(p->startsWithCaseless(7, "x><"));
    EXPECT_FALSE(p->startsWithCaseless(0, "<x"));
    EXPECT_EQ(p->findChar('X', 0), 4u);
    EXPECT_EQ(p->findChar('<', 4, 6), INVALID_POS);
    EXPECT_EQ(p->findCharReverse('>', 100), 8u);
    EXPECT_EQ(p->findCharReverse('<', 5, 4), INVALID_POS);
}

TEST(SourceChildren, ComputedOnceWithOneNoteAndServerTagsSkipped) {
    CLogCapture log;
    EXPECT_TRUE(CPage("<p>", 3).get()->getChildElements().empty());
    CPage page("<% x %><b>y</b><%= z %><i a=1 b='2'></i>");
    const auto& v = page.get()->getChildElements();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(&page.get()->getChildElements(), &v);
    EXPECT_TRUE(v[0]->getName() == "b" && v[0]->isParentComputed() && !v[0]->getParentElement());
    EXPECT_EQ(log.Count("[CSource::getChildElements] NOTE"), 1u);
    EXPECT_GT(page.get()->getOwnedSegmentCount(),
              10u); // tags, attributes, their segments, elements: all owned
}

TEST(ParserSingletons, CreatedOnceUnderConcurrentFirstUse) {
    std::vector<std::thread> vThreads;
    std::vector<const void*> vSeen(8, nullptr);
    for (size_t i = 0; i < vSeen.size(); ++i)
        vThreads.emplace_back([&vSeen, i] {
            const CTagTypeRegister* pRegister = TagTypeRegister();
            vSeen[i] = (pRegister && HTMLElements()) ? pRegister : nullptr;
        });
    for (auto& t : vThreads)
        t.join();
    for (const void* p : vSeen)
        EXPECT_EQ(p, vSeen[0]);
    EXPECT_NE(vSeen[0], nullptr);
    EXPECT_EQ(CParserSingleton<CTagTypeRegisterSingletonData>::creations(), 1);
    EXPECT_EQ(CParserSingleton<CStartTagTypeSingletonData>::creations(), 1);
    EXPECT_EQ(CParserSingleton<CEndTagTypeSingletonData>::creations(), 1);
    EXPECT_EQ(CParserSingleton<CHTMLElementsSingletonData>::creations(), 1);
}

} // namespace
