// The tag cache must never change an answer: every finder is run over the same pages with the cache on, with
// only one of its switches on, and without it, in several orders of questions, and the answers (positions and
// types) compared. Then the records themselves: their shape after walks, what they spare the text, and the
// repair when they contradict a search.
#include "HtmlTestSupport.h"

#include "html/CCache.h"

#include <algorithm>
#include <random>
#include <sstream>

using namespace htmltest;

namespace {

CCache* CacheOf(CSource* pSource) {
    return static_cast<CCache*>(pSource->getCache());
}

std::string Describe(const CSegment* pSegment) {
    if (!pSegment)
        return "-";
    std::ostringstream os;
    os << pSegment->getBegin() << ':' << pSegment->getEnd();
    if (const CTag* pTag = dynamic_cast<const CTag*>(pSegment))
        os << ':' << pTag->getTagType()->getDescription() << ':' << pTag->getName();
    return os.str();
}

// Whatever the parser answers lies inside its source, attributes inside their tags, content inside elements.
void ExpectInside(const CSource* pSource, const CSegment* pSegment) {
    if (!pSegment)
        return;
    EXPECT_EQ(pSegment->getSource(), pSource);
    EXPECT_LE(pSegment->getBegin(), pSegment->getEnd());
    EXPECT_GE(pSegment->getBegin(), pSource->getBegin());
    EXPECT_LE(pSegment->getEnd(), pSource->getEnd());
    if (const CElement* pElement = dynamic_cast<const CElement*>(pSegment)) {
        EXPECT_LE(pElement->getContentEnd(), pElement->getEnd());
        ExpectInside(pSource, pElement->getEndTag());
    }
}

std::vector<const CTagType*> FinderTypes() {
    const CStartTagTypeSingletonData& s = *StartTagTypes();
    const CEndTagTypeSingletonData& e = *EndTagTypes();
    return {nullptr,           &s.m_comment,      &s.m_cdataSection,
            &s.m_normal,       &s.m_unregistered, &s.m_markupDeclaration,
            &s.m_serverCommon, &e.m_normal,       &e.m_unregistered};
}

// The positions in the order the questions are asked: forward, backward, or shuffled.
std::vector<TPos> Positions(const CSource* pSource, int nOrder) {
    std::vector<TPos> v;
    for (TPos n = pSource->getBegin(); n < pSource->getEnd(); ++n)
        v.push_back(n);
    if (nOrder == 1)
        std::reverse(v.begin(), v.end());
    else if (nOrder == 2)
        std::shuffle(v.begin(), v.end(), std::mt19937(static_cast<unsigned>(v.size())));
    return v;
}

// Asks every finder about every position and returns the answers, keyed by question so that orders compare.
std::vector<std::string> Answers(CSource* pSource, int nOrder) {
    std::vector<std::string> v;
    const std::vector<TPos> vPositions = Positions(pSource, nOrder);
    const std::vector<const CTagType*> vTypes = FinderTypes();
    auto add = [&](const std::string& csQuestion, const CSegment* pAnswer) {
        ExpectInside(pSource, pAnswer);
        v.push_back(csQuestion + " = " + Describe(pAnswer));
    };
    for (TPos nPos : vPositions) {
        const std::string csAt = std::to_string(nPos);
        add("at " + csAt, CTag::getTagAt(pSource, nPos));
        for (size_t t = 0; t < vTypes.size(); ++t)
            for (bool bNext : {SEARCH_PREVIOUS, SEARCH_NEXT})
                add("tag " + std::to_string(t) + (bNext ? " next " : " prev ") + csAt,
                    CTag::findPreviousOrNextTag(pSource, nPos, vTypes[t], bNext));
    }
    // Elements and end-tag matching from positions sampled across the page, in the same order.
    static const char* const s_rgNames[] = {"",  "html", "head", "body",   "div",
                                            "p", "li",   "td",   "script", "a"};
    const CEndTagType* pEndNormal = &EndTagTypes()->m_normal;
    for (size_t i = 0; i < vPositions.size(); i += 3) {
        TPos nPos = vPositions[i];
        const std::string csAt = std::to_string(nPos);
        for (const char* pszName : s_rgNames) {
            for (bool bNext : {SEARCH_PREVIOUS, SEARCH_NEXT}) {
                CStartTag* pStart = CStartTag::findPreviousOrNext(pSource, nPos, pszName, bNext);
                add(std::string("start ") + pszName + (bNext ? " next " : " prev ") + csAt, pStart);
                if (pStart) {
                    CElement* pElement = pStart->getElement();
                    add("element " + Describe(pStart), pElement);
                    add("end tag " + Describe(pStart), pElement ? pElement->getEndTag() : nullptr);
                }
                if (*pszName)
                    add(std::string("end ") + pszName + (bNext ? " next " : " prev ") + csAt,
                        CEndTag::findPreviousOrNext(pSource, nPos, pszName, pEndNormal, bNext));
            }
        }
    }
    // The element tree with the children of each element, and the start tags each one contains.
    std::vector<CElement*> vStack(pSource->getChildElements().begin(), pSource->getChildElements().end());
    for (CElement* pTop : vStack)
        add("top", pTop);
    while (!vStack.empty()) {
        CElement* pElement = vStack.back();
        vStack.pop_back();
        for (CElement* pChild : pElement->getChildElements()) {
            // A child that runs past its parent's end can be claimed again by an outer element; it starts
            // inside.
            EXPECT_GE(pChild->getBegin(), pElement->getStartTag()->getEnd());
            EXPECT_LT(pChild->getBegin(), pElement->getContentEnd());
            add("child of " + Describe(pElement), pChild);
            vStack.push_back(pChild);
        }
        for (const char* pszName : {"div", "input", "li"})
            for (CStartTag* pTag : pElement->getStartTagsByTagName(pszName))
                add(std::string("contains ") + pszName + " " + Describe(pElement), pTag);
    }
    std::sort(v.begin(), v.end());
    return v;
}

// The shape every sub-cache keeps: sorted, numbered, bookends in place, flags that agree across each gap, no
// record that tells nothing, nothing left marked for removal.
void ExpectWellFormed(CSource* pSource) {
    CCache* pCache = CacheOf(pSource);
    ASSERT_NE(pCache, nullptr);
    std::vector<CSubCache*> vSubCaches = {&pCache->getAllTypesSubCache(),
                                          pCache->getSubCache(&StartTagTypes()->m_comment),
                                          pCache->getSubCache(&StartTagTypes()->m_cdataSection)};
    for (CSubCache* pSub : vSubCaches) {
        ASSERT_NE(pSub, nullptr);
        ASSERT_GE(pSub->size(), 2u);
        EXPECT_EQ(pSub->getEntry(0).m_nPos, pSource->getBegin() - 1);
        EXPECT_EQ(pSub->getEntry(pSub->size() - 1).m_nPos, pSource->getEnd());
        for (size_t i = 0; i < pSub->size(); ++i) {
            const CCacheEntry& entry = pSub->getEntry(i);
            EXPECT_FALSE(entry.m_bRemove);
            if (i > 0 && i + 1 < pSub->size()) {
                EXPECT_LT(pSub->getEntry(i - 1).m_nPos + 1, entry.m_nPos + 1) << "unsorted at " << i;
                EXPECT_FALSE(!entry.m_pTag && entry.m_bPreviousCompleted && entry.m_bNextCompleted)
                    << "idle record at " << entry.m_nPos;
                EXPECT_TRUE(!entry.m_pTag || entry.m_pTag->getBegin() == entry.m_nPos) << entry.m_nPos;
                EXPECT_TRUE(!entry.m_pTag || !pSub->getTagType() ||
                            entry.m_pTag->getTagType() == pSub->getTagType());
            }
            EXPECT_TRUE(i + 1 == pSub->size() ||
                        entry.m_bNextCompleted == pSub->getEntry(i + 1).m_bPreviousCompleted)
                << "gap " << i;
        }
    }
}

// The cache on, with only one of its switches on, and off, in several orders of questions.
void ExpectSameAnswers(const std::string& csText, TPos nBegin) {
    for (int nOrder = 0; nOrder < 3; ++nOrder) {
        CPage reference(csText, nBegin);
        ASSERT_NE(reference.get(), nullptr);
        reference.get()->setCache(nullptr);
        const std::vector<std::string> vExpected = Answers(reference.get(), nOrder);
        for (const auto& [bAllTypes, bTyped] : {std::pair{true, true}, {true, false}, {false, true}}) {
            CPage page(csText, nBegin);
            page.get()->setCacheSwitches(bAllTypes, bTyped);
            SCOPED_TRACE("switches " + std::to_string(bAllTypes) + std::to_string(bTyped) + ", order " +
                         std::to_string(nOrder));
            ASSERT_EQ(Answers(page.get(), nOrder), vExpected);
            ExpectWellFormed(page.get());
        }
    }
}

// Row: begin of the source, page, 1 when every prefix of the page is asked about as well.
class SameAnswers : public ::testing::TestWithParam<CRow> {};

TEST_P(SameAnswers, WithAndWithoutTheCache) {
    const std::string& csPage = GetParam()[2];
    for (size_t n = GetParam()[3] == "1" ? 0 : csPage.size(); n <= csPage.size() && !HasFailure(); ++n)
        ExpectSameAnswers(csPage.substr(0, n), GetParam().pos(1));
}

INSTANTIATE_TEST_SUITE_P(Pages, SameAnswers, ::testing::ValuesIn(ReadTable("cache-pages.txt")), RowName);

TEST(TagCache, FixturePageGivesTheSameAnswers) {
    std::string csText = ReadFixture("mailbox.html");
    ASSERT_FALSE(csText.empty());
    ExpectSameAnswers(csText, 0);
}

// Bad input: stray '<', unclosed quotes and comments, NUL bytes. Nothing may crash or loop either.
TEST(TagCache, GeneratedMalformedPagesGiveTheSameAnswers) {
    std::mt19937 rng(977);
    for (int nPage = 0; nPage < 40; ++nPage) {
        const std::string csText = FragmentPage(rng, 60);
        const TPos nBegin = rng() % 3 == 0 ? rng() % (csText.size() / 3 + 1) : 0;
        SCOPED_TRACE(csText);
        ExpectSameAnswers(csText, nBegin);
        if (HasFailure())
            return;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// What the records spare the text

TEST(TagCache, SearchedStretchesAreNotScannedAgain) {
    CPage page("<b>x</b> some words and more <i>y</i>");
    CCache* pCache = CacheOf(page.get());
    CTag* pNext = CTag::findPreviousOrNextTag(page.get(), 8, SEARCH_NEXT);
    ASSERT_TRUE(pNext && pNext->getName() == "i");
    const size_t nSearches = pCache->getUncachedSearchCount();
    const size_t nLookups = pCache->getUncachedLookupCount();
    for (TPos nPos = 9; nPos < pNext->getBegin(); ++nPos) {
        EXPECT_EQ(CTag::getTagAt(page.get(), nPos), nullptr) << nPos;
        EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), nPos, SEARCH_NEXT), pNext) << nPos;
    }
    EXPECT_EQ(pCache->getUncachedSearchCount(), nSearches);
    EXPECT_EQ(pCache->getUncachedLookupCount(), nLookups);
    // And backward over the same stretch: the tag before is found from the records of the first tags.
    EXPECT_EQ(Describe(CTag::findPreviousOrNextTag(page.get(), pNext->getBegin() - 1, SEARCH_PREVIOUS)),
              "4:8:/normal:b");
}

TEST(TagCache, WalksDropRecordsThatTellNothing) {
    // Each '<' inside the comment is no tag and leaves a tagless record; a walk across them makes them
    // redundant.
    std::string csText = "<!-- ";
    for (int i = 0; i < 200; ++i)
        csText += "a < b ";
    csText += "--><p>";
    CPage page(csText);
    CSubCache& all = CacheOf(page.get())->getAllTypesSubCache();
    for (TPos nPos = 5; nPos + 6 < csText.size(); nPos += 6)
        EXPECT_EQ(CTag::getTagAt(page.get(), nPos + 2), nullptr) << nPos + 2;
    EXPECT_GT(all.size(), 200u); // grown past the initial capacity, records in order
    ExpectWellFormed(page.get());
    CTag* pP = CTag::findPreviousOrNextTag(page.get(), 1, SEARCH_NEXT);
    ASSERT_NE(pP, nullptr);
    EXPECT_EQ(pP->getBegin(), csText.size() - 3);
    EXPECT_LE(all.size(), 5u); // bookends, the comment, the paragraph, perhaps the start
    ExpectWellFormed(page.get());
}

TEST(TagCache, OutsideTheSourceNothingIsFoundOrRecorded) {
    for (const auto& [pszText, nBegin] :
         {std::pair<const char*, TPos>{"", 0}, {"<p>x</p>", 0}, {"xx<p>x</p>", 2}, {"xyz", 3}}) {
        SCOPED_TRACE(pszText);
        CPage page(pszText, nBegin);
        CCache* pCache = CacheOf(page.get());
        ASSERT_NE(pCache, nullptr);
        CSubCache& all = pCache->getAllTypesSubCache();
        EXPECT_EQ(CTag::getTagAt(page.get(), page.get()->getEnd()), nullptr);
        EXPECT_EQ(all.findPreviousOrNextTag(page.get()->getEnd(), SEARCH_NEXT), nullptr);
        EXPECT_EQ(all.findPreviousOrNextTag(INVALID_POS, SEARCH_PREVIOUS), nullptr);
        if (nBegin > 0) {
            EXPECT_EQ(CTag::getTagAt(page.get(), nBegin - 1), nullptr);
            EXPECT_EQ(all.getTagAt(0), nullptr);
        }
        EXPECT_EQ(all.size(), 2u); // its bookends only
        EXPECT_FALSE(all.addNextTag(page.get()->getEnd(), nullptr));
    }
}

TEST(TagCache, BackwardSearchClampsToTheLastByteAndNoCacheWithoutASource) {
    CPage page("<p>a</p>");
    CSubCache& all = CacheOf(page.get())->getAllTypesSubCache();
    EXPECT_EQ(Describe(all.findPreviousOrNextTag(100, SEARCH_PREVIOUS)), "4:8:/normal:p");
    CLogCapture log;
    EXPECT_EQ(CCache::CREATE_NEW_INST(nullptr), nullptr);
    EXPECT_TRUE(log.Contains("[CCache::CREATE_NEW_INST] pSource is 0."));
}

// ---------------------------------------------------------------------------------------------------------------
// Repair

// A record at the wrong place that names a real tag: the walk meets it and returns the tag, whose own place
// has no record. The search still answers right, the sub-cache is cleared, and later answers stay right.
TEST(TagCacheRepair, MisplacedRecordIsClearedAndTheSearchResumes) {
    for (const auto& [bNext, bTyped] :
         {std::pair{true, false}, {false, false}, {true, true}, {false, true}}) {
        SCOPED_TRACE(std::string(bTyped ? "comments " : "all types ") + (bNext ? "forward" : "backward"));
        const std::string csText = "<div>one <!-- c --> two <p>three</p> four</div>";
        CPage page(csText);
        CCache* pCache = CacheOf(page.get());
        const CTagType* pType = bTyped ? &StartTagTypes()->m_comment : nullptr;
        CSubCache* pSub = bTyped ? pCache->getSubCache(pType) : &pCache->getAllTypesSubCache();
        // The tag the search should find, taken from a page without a cache.
        CPage reference(csText);
        reference.get()->setCache(nullptr);
        const TPos nFrom = bNext ? 5 : csText.size() - 2;
        CTag* pExpected = CTag::findPreviousOrNextTag(reference.get(), nFrom, pType, bNext);
        ASSERT_NE(pExpected, nullptr);
        // The same tag in the cached page, and a second record of it between the start and its place.
        CTag* pTag = CTag::getTagAt(page.get(), pExpected->getBegin());
        ASSERT_NE(pTag, nullptr);
        const TPos nWrong = bNext ? pTag->getBegin() - 2 : pTag->getBegin() + 2;
        pSub->clear();
        ASSERT_TRUE(pSub->insertEntryUnchecked(nWrong, pTag, false, false));
        const std::string csMethod = bNext ? "addNextTag" : "addPreviousTag";
        CLogCapture log;
        CTag* pFound = CTag::findPreviousOrNextTag(page.get(), nFrom, pType, bNext);
        EXPECT_EQ(pFound, pTag);
        EXPECT_EQ(
            log.Count("[CSubCache::" + csMethod + "] INTERNAL ERROR: Missing cache entry for found tag."),
            1u);
        EXPECT_EQ(log.Count("] " + csMethod + "() failed. nPos <" + std::to_string(nFrom) + ">. Clear cache"),
                  1u);
        ExpectWellFormed(page.get());
        for (TPos nPos = 0; nPos < csText.size(); ++nPos) {
            EXPECT_EQ(Describe(CTag::findPreviousOrNextTag(page.get(), nPos, pType, bNext)),
                      Describe(CTag::findPreviousOrNextTag(reference.get(), nPos, pType, bNext)))
                << nPos;
        }
    }
}

TEST(TagCacheRepair, RecordBehindTheSearchIsDroppedAndTheSearchResumes) {
    // The misplaced record names a tag that lies before the start of a forward search. The search that met it
    // cannot be marked; once the records are cleared, the resumed search finds the true next tag, and the
    // unregistered tag passed on the way keeps its record.
    CPage page("<i>a</i> bcd </ e> gh <b>x</b>");
    CSubCache& all = CacheOf(page.get())->getAllTypesSubCache();
    CTag* pI = CTag::getTagAt(page.get(), 0);
    CTag* pOdd = CTag::getTagAt(page.get(), 13);
    ASSERT_TRUE(pI && pOdd && pOdd->isUnregistered());
    ASSERT_TRUE(all.insertEntryUnchecked(11, pI, false, false));
    CLogCapture log;
    CTag* pB = CTag::findPreviousOrNextTag(page.get(), 10, SEARCH_NEXT);
    ASSERT_NE(pB, nullptr);
    EXPECT_EQ(pB->getName(), "b");
    EXPECT_EQ(log.Count("[CSubCache::addNextTag] INTERNAL ERROR: Missing cache entry for found tag."), 1u);
    EXPECT_EQ(log.Count("] addNextTag() failed. nPos <10>. Clear cache"), 1u);
    // The objects found before the clearing answer again.
    EXPECT_EQ(CTag::getTagAt(page.get(), 0), pI);
    EXPECT_EQ(CTag::getTagAt(page.get(), 13), pOdd);
    EXPECT_EQ(CTag::getTagAt(page.get(), 11), nullptr);
    EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 12, SEARCH_PREVIOUS), pI->getElement()->getEndTag());
    ExpectWellFormed(page.get());
}

// A record holding a registered tag inside the stretch a search claims to have crossed means the records and
// the text disagree; the marking refuses and leaves the records as they were.
TEST(TagCacheRepair, MarkingOverARecordedTagFails) {
    for (const bool bNext : {true, false}) {
        SCOPED_TRACE(bNext ? "forward" : "backward");
        CPage page("<a>1</a> 2 <b>3</b> 4 <i>5</i>");
        CSubCache& all = CacheOf(page.get())->getAllTypesSubCache();
        CTag* pA = CTag::getTagAt(page.get(), 0);
        CTag* pB = CTag::getTagAt(page.get(), 11);
        CTag* pI = CTag::getTagAt(page.get(), 22);
        ASSERT_TRUE(pA && pB && pI);
        const size_t nSize = all.size();
        CLogCapture log;
        EXPECT_FALSE(bNext ? all.addNextTag(1, pI) : all.addPreviousTag(21, pA));
        const std::string csMethod = bNext ? "addNextTag" : "addPreviousTag";
        EXPECT_TRUE(log.Contains("[CSubCache::" + csMethod +
                                 "] INTERNAL ERROR: Cache entry no longer found in source."));
        EXPECT_EQ(all.size(), nSize); // the start lies next to a recorded tag and needs no record
        EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 9, SEARCH_NEXT), pB);
        EXPECT_EQ(Describe(CTag::findPreviousOrNextTag(page.get(), 21, SEARCH_PREVIOUS)), "15:19:/normal:b");
    }
}

TEST(TagCacheRepair, TextWinsOverARecordClaimingAnEmptyStretch) {
    // A record that wrongly claims a stretch holds no tag is corrected when a tag is recorded inside it.
    CPage page("abc <p>x</p>");
    CSubCache& all = CacheOf(page.get())->getAllTypesSubCache();
    ASSERT_TRUE(all.insertEntryUnchecked(1, nullptr, false, true));
    ASSERT_TRUE(all.insertEntryUnchecked(10, nullptr, true, false));
    CTag* pP = CTag::getTagAtUncached(page.get(), 4);
    ASSERT_NE(pP, nullptr);
    EXPECT_EQ(all.addTagAt(4, pP), pP);
    EXPECT_EQ(CTag::getTagAt(page.get(), 4), pP);
    ExpectWellFormed(page.get());
    EXPECT_FALSE(all.insertEntryUnchecked(page.get()->getEnd(), nullptr, false, false));
}

} // namespace
