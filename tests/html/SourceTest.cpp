// The source: creation checks, text access, caseless searches, segments and the process-wide singletons.
#include "HtmlTestSupport.h"

#include <random>
#include <thread>

using namespace htmltest;

namespace {

struct CSourceArgsCase {
    const char* pszName;
    TPos nBegin;
    TPos nLength;
    bool bCreated;
};

class SourceCreation : public ::testing::TestWithParam<CSourceArgsCase> {};

TEST_P(SourceCreation, ChecksItsPositions) {
    const CSourceArgsCase& c = GetParam();
    static const char s_szData[] = "<html><body>text</body></html>";
    CLogCapture log;
    std::unique_ptr<CSource> pSource = CSource::CREATE_NEW_INST(s_szData, c.nBegin, c.nLength);
    EXPECT_EQ(pSource != nullptr, c.bCreated);
    if (pSource) {
        EXPECT_EQ(pSource->getBegin(), c.nBegin);
        EXPECT_EQ(pSource->getEnd(), c.nLength);
        EXPECT_EQ(pSource->getSource(), pSource.get());
    } else {
        EXPECT_TRUE(log.contains("[CSource::checkConstructorArgs] CSegment::checkConstructorArgs() failed."));
        EXPECT_TRUE(log.contains("[CSource::CREATE_NEW_INT] checkConstructorArgs() failed."));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SourceCreation,
                         ::testing::Values(CSourceArgsCase{"Whole", 0, 30, true},
                                           CSourceArgsCase{"Empty", 0, 0, true},
                                           CSourceArgsCase{"EmptyAtEnd", 30, 30, true},
                                           CSourceArgsCase{"OffsetBegin", 6, 30, true},
                                           CSourceArgsCase{"BeginAfterLength", 31, 30, false},
                                           CSourceArgsCase{"InvalidBegin", INVALID_POS, 30, false},
                                           CSourceArgsCase{"InvalidLength", 0, INVALID_POS, false}),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(SourceText, NullDataWithLengthIsRefused) {
    EXPECT_EQ(CSource::CREATE_NEW_INST(nullptr, 0, 5), nullptr);
    EXPECT_NE(CSource::CREATE_NEW_INST(nullptr, 0, 0), nullptr);
}

TEST(SourceText, SubstringClampsAndLogsOutsidePositions) {
    CPage page("0123456789", 2);
    CLogCapture log;
    EXPECT_EQ(page.get()->substring(2, 3), "234");
    EXPECT_EQ(page.get()->substring(8, 100), "89");
    EXPECT_EQ(page.get()->substring(5, INVALID_POS), "56789");
    EXPECT_EQ(page.get()->substring(5, 0), "");
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(page.get()->substring(1, 3), "");
    EXPECT_EQ(page.get()->substring(10, 1), "");
    EXPECT_EQ(log.count("[CSource::substring] Invalid nPos <"), 2u);
    EXPECT_TRUE(log.contains("[CSource::substring] Invalid nPos <10> value. nBegin <2> nEnd <10>. "));
}

// A plain reference search to compare the specialised routines against.
TPos NaiveFind(const std::string& csText, const std::string& csPattern, TPos nFrom, TPos nStartLimit) {
    for (TPos i = nFrom; i + csPattern.size() <= csText.size() && i < nStartLimit; ++i)
        if (EqualsCaseless(std::string_view(csText).substr(i, csPattern.size()), csPattern))
            return i;
    return INVALID_POS;
}
TPos NaiveFindReverse(const std::string& csText, const std::string& csPattern, TPos nPos, TPos nLower) {
    if (csPattern.size() > csText.size())
        return INVALID_POS;
    TPos nStart = std::min<TPos>(nPos, csText.size() - csPattern.size());
    for (TPos i = nStart + 1; i > nLower;) {
        --i;
        if (EqualsCaseless(std::string_view(csText).substr(i, csPattern.size()), csPattern))
            return i;
    }
    return INVALID_POS;
}

class CaselessSearch : public ::testing::TestWithParam<size_t> {};

TEST_P(CaselessSearch, AgreesWithReferenceOnRandomText) {
    const size_t nPatternLength = GetParam();
    std::mt19937 rng(static_cast<unsigned>(nPatternLength * 7919));
    const char rgAlphabet[] = "aAbB<>-";
    for (int nRound = 0; nRound < 200; ++nRound) {
        std::string csText(rng() % 64, 'a');
        for (char& c : csText)
            c = rgAlphabet[rng() % 7];
        std::string csPattern(nPatternLength, 'a');
        for (char& c : csPattern)
            c = rgAlphabet[rng() % 7];
        if (rng() % 2 && csText.size() >= nPatternLength) // plant an occurrence with other case
            for (size_t i = 0, nAt = rng() % (csText.size() - nPatternLength + 1); i < nPatternLength; ++i)
                csText[nAt + i] = static_cast<char>(std::toupper(static_cast<unsigned char>(csPattern[i])));
        CPage page(csText);
        TPos nFrom = csText.empty() ? 0 : rng() % csText.size();
        TPos nLength = rng() % 20;
        EXPECT_EQ(page.get()->findCaseless(csPattern, nFrom),
                  NaiveFind(csText, csPattern, nFrom, csText.size()))
            << csText << " / " << csPattern;
        EXPECT_EQ(page.get()->findCaseless(csPattern, nFrom, nLength),
                  NaiveFind(csText, csPattern, nFrom, std::min<TPos>(csText.size(), nFrom + nLength)))
            << csText << " / " << csPattern << " from " << nFrom << " length " << nLength;
        TPos nLower = nFrom / 2;
        EXPECT_EQ(page.get()->findCaselessReverse(csPattern, nFrom, nLower),
                  NaiveFindReverse(csText, csPattern, nFrom, nLower))
            << csText << " / " << csPattern;
        EXPECT_EQ(page.get()->findCaselessToEnd(csPattern, nFrom),
                  NaiveFind(csText, csPattern, nFrom, csText.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(PatternLengths, CaselessSearch, ::testing::Values(1, 2, 3, 4, 5, 6, 7, 11));

TEST(SourceText, RememberedSearchAnswersLaterStartsAndRescansEarlierOnes) {
    CPage page("<a>..<b>..<c>");
    CSource* p = page.get();
    EXPECT_EQ(p->findCaselessToEnd("<", 1), 5u);
    EXPECT_EQ(p->findCaselessToEnd("<", 3), 5u);
    EXPECT_EQ(p->findCaselessToEnd("<", 0), 0u);
    EXPECT_EQ(p->findCaselessToEnd("<", 6), 10u);
    EXPECT_EQ(p->findCaselessToEnd("<", 11), INVALID_POS);
    EXPECT_EQ(p->findCaselessToEnd("<", 12), INVALID_POS);
    EXPECT_EQ(p->findCaselessToEnd("<", 13), INVALID_POS);
}

TEST(SourceText, SearchesRespectTheSourceBeginAndEnd) {
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

struct CSegmentCase {
    const char* pszName;
    TPos nBegin;
    TPos nEnd;
    bool bValid;
    const char* pszLog;
};

class SegmentChecks : public ::testing::TestWithParam<CSegmentCase> {};

TEST_P(SegmentChecks, CreateOnlyInsideTheSource) {
    const CSegmentCase& c = GetParam();
    CPage page("0123456789", 2);
    CLogCapture log;
    CSegment* pSegment = CSegment::CREATE_NEW_INST(page.get(), c.nBegin, c.nEnd);
    EXPECT_EQ(pSegment != nullptr, c.bValid);
    if (pSegment) {
        EXPECT_EQ(pSegment->getSource(), page.get());
        EXPECT_EQ(pSegment->getText(), page.m_csText.substr(c.nBegin, c.nEnd - c.nBegin));
    } else {
        EXPECT_TRUE(log.contains(c.pszLog)) << c.pszLog;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SegmentChecks,
    ::testing::Values(
        CSegmentCase{"Inside", 3, 5, true, ""}, CSegmentCase{"EmptyAtEnd", 10, 10, true, ""},
        CSegmentCase{"WholeSource", 2, 10, true, ""},
        CSegmentCase{"Reversed", 5, 4, false,
                     "[CSegment::checkConstructorArgs] invalid nBegin <5>, nEnd <4> values"},
        CSegmentCase{"InvalidBegin", INVALID_POS, 4, false,
                     "[CSegment::checkConstructorArgs] invalid nBegin <-1>, nEnd <4> values"},
        CSegmentCase{
            "BeforeBegin", 1, 4, false,
            "[CSegment::checkConstructorArgs] pSource doesn't enclose this segment. nBegin <1>, nEnd <4> "},
        CSegmentCase{"PastEnd", 4, 11, false,
                     "pSource doesn't enclose this segment. nBegin <4>, nEnd <11> "}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(SegmentChecks, MissingSourceIsLogged) {
    CLogCapture log;
    EXPECT_EQ(CSegment::CREATE_NEW_INST(nullptr, 0, 0), nullptr);
    EXPECT_TRUE(log.contains("[CSegment::checkConstructorArgs] pSource is 0."));
}

TEST(SourceOwnership, ObjectsAreOwnedByTheirSource) {
    CPage page("<div a=1 b='2'><p>x</div>");
    size_t nBefore = page.get()->getOwnedSegmentCount();
    EXPECT_EQ(nBefore, 0u);
    ASSERT_EQ(page.get()->getChildElements().size(), 1u);
    // tag, attribute list, two attributes with name, value and quoted-value segments, elements, end tags ...
    EXPECT_GT(page.get()->getOwnedSegmentCount(), 10u);
}

TEST(SourceChildren, EmptySourceHasNoChildrenAndLogsNoNote) {
    CPage page("<p>", 3);
    CLogCapture log;
    EXPECT_TRUE(page.get()->getChildElements().empty());
    EXPECT_FALSE(log.contains("NOTE"));
}

TEST(SourceChildren, FirstComputationLogsTheNoteOnce) {
    CPage page("<b>x</b><i>y</i>");
    CLogCapture log;
    EXPECT_EQ(page.get()->getChildElements().size(), 2u);
    EXPECT_EQ(page.get()->getChildElements().size(), 2u);
    EXPECT_EQ(
        log.count("[CSource::getChildElements] NOTE: Calling CSource.fullSequentialParse() can significantly "
                  "improve the performance of this operation."),
        1u);
}

TEST(SourceChildren, ServerTagsAreSkippedAtTopLevel) {
    CPage page("<% x %><b>y</b><%= z %>");
    const auto& v = page.get()->getChildElements();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0]->getName(), "b");
    EXPECT_EQ(v[0]->getDepth(), 0);
    EXPECT_TRUE(v[0]->isParentComputed());
    EXPECT_EQ(v[0]->getParentElement(), nullptr);
}

TEST(ParserSingletons, CreatedOnceUnderConcurrentFirstUse) {
    std::vector<std::thread> vThreads;
    std::vector<const void*> vSeen(8, nullptr);
    for (size_t i = 0; i < vSeen.size(); ++i)
        vThreads.emplace_back([&vSeen, i] {
            const CTagTypeRegister* pRegister = TagTypeRegister();
            const CHTMLElementsSingletonData* pElements = HTMLElements();
            vSeen[i] = (pRegister && pElements) ? pRegister : nullptr;
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

TEST(ParserSingletons, EnclosedMarkupTypesAreCommentThenCdata) {
    const CTagTypeSingletonData* p = EnclosedMarkupTagTypes();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->m_vEnclosedMarkupTypes.size(), 2u);
    EXPECT_EQ(p->m_vEnclosedMarkupTypes[0], &StartTagTypes()->m_comment);
    EXPECT_EQ(p->m_vEnclosedMarkupTypes[1], &StartTagTypes()->m_cdataSection);
}

} // namespace
