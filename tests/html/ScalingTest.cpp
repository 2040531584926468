// Pages built to make the finders repeat work: many records inserted into the middle of the tag cache, and
// many unclosed tags of one name. The bounds are on counted work, never on time.
#include "HtmlTestSupport.h"

#include "abi/HostAbi.h"
#include "html/CCache.h"
#include "html/CDOMSource.h"

using namespace htmltest;

namespace {

using htmltest::PrintTo;

// ---------------------------------------------------------------------------------------------------------------
// The record array with a hole, against a plain vector doing the same.

struct CBufferOp {
    enum EKind { INSERT, REMOVE } eKind;
    size_t nIndex; // INSERT: where; REMOVE: first of the range
    size_t nTo;    // REMOVE: last of the range; the records at nIndex, nTo and every third between are marked
};

struct CBufferCase {
    const char* pszName;
    size_t nInitial;
    std::vector<CBufferOp> vOps;
    size_t nMaxMoved;
};

std::vector<CBufferOp> Repeat(CBufferOp op, size_t nTimes, long nStep) {
    std::vector<CBufferOp> v;
    for (size_t i = 0; i < nTimes; ++i) {
        v.push_back(op);
        op.nIndex = static_cast<size_t>(static_cast<long>(op.nIndex) + nStep);
    }
    return v;
}

class EntryBufferTest : public ::testing::TestWithParam<CBufferCase> {};

TEST_P(EntryBufferTest, MatchesVectorAndMovesLittle) {
    const CBufferCase& c = GetParam();
    CCacheEntryBuffer buffer;
    std::vector<CCacheEntry> vReference;
    TPos nNextPos = 0;
    for (size_t i = 0; i < c.nInitial; ++i) {
        CCacheEntry entry{nNextPos++, nullptr, false, false, false};
        buffer.push_back(entry);
        vReference.push_back(entry);
    }
    const size_t nMovedBefore = buffer.getMovedCount();
    for (const CBufferOp& op : c.vOps) {
        if (op.eKind == CBufferOp::INSERT) {
            CCacheEntry entry{nNextPos++, nullptr, true, false, false};
            buffer.insert(op.nIndex, entry);
            vReference.insert(vReference.begin() + static_cast<std::ptrdiff_t>(op.nIndex), entry);
            continue;
        }
        size_t nExpectedFirst = vReference.size();
        for (size_t k = op.nIndex; k <= op.nTo && k < vReference.size(); ++k) {
            if (k == op.nIndex || k == op.nTo || (k - op.nIndex) % 3 == 0) {
                buffer[k].m_bRemove = vReference[k].m_bRemove = true;
                nExpectedFirst = std::min(nExpectedFirst, k);
            }
        }
        EXPECT_EQ(buffer.removeMarked(op.nIndex, op.nTo), nExpectedFirst);
        std::erase_if(vReference, [](const CCacheEntry& entry) { return entry.m_bRemove; });
    }
    ASSERT_EQ(buffer.size(), vReference.size());
    for (size_t i = 0; i < vReference.size(); ++i) {
        EXPECT_EQ(buffer[i].m_nPos, vReference[i].m_nPos) << "at " << i;
        EXPECT_EQ(buffer[i].m_bPreviousCompleted, vReference[i].m_bPreviousCompleted) << "at " << i;
        EXPECT_FALSE(buffer[i].m_bRemove) << "at " << i;
    }
    EXPECT_LE(buffer.getMovedCount() - nMovedBefore, c.nMaxMoved);
}

INSTANTIATE_TEST_SUITE_P(
    Ops, EntryBufferTest,
    ::testing::Values(
        CBufferCase{"Appending", 0, Repeat({CBufferOp::INSERT, 0, 0}, 1000, 1), 2048},
        // Each insertion near the last one: the hole follows, whatever the tail holds. The bounds allow for
        // growth (each doubling copies every record and moves the hole back); shifting the tail instead
        // would move tens of millions of records in the middle cases.
        CBufferCase{"MiddleForward", 5000, Repeat({CBufferOp::INSERT, 2500, 0}, 5000, 1), 40000},
        CBufferCase{"MiddleSamePlace", 5000, Repeat({CBufferOp::INSERT, 100, 0}, 5000, 0), 40000},
        CBufferCase{"Front", 10, Repeat({CBufferOp::INSERT, 0, 0}, 100, 0), 600},
        CBufferCase{"AlternatingEnds",
                    4,
                    {{CBufferOp::INSERT, 0, 0},
                     {CBufferOp::INSERT, 5, 0},
                     {CBufferOp::INSERT, 0, 0},
                     {CBufferOp::INSERT, 7, 0}},
                    64},
        CBufferCase{"RemoveRanges", 3000,
                    [] {
                        std::vector<CBufferOp> v;
                        for (size_t i = 0; i < 500; ++i) {
                            v.push_back({CBufferOp::INSERT, 1000 + i, 0});
                            v.push_back({CBufferOp::REMOVE, 1000 + i, 1000 + i + 2});
                        }
                        return v;
                    }(),
                    50000},
        CBufferCase{"RemoveNothingMarked", 20, {{CBufferOp::REMOVE, 30, 40}}, 0},
        CBufferCase{"RemoveRangePastEnd", 20, {{CBufferOp::REMOVE, 15, 100}}, 64},
        CBufferCase{"EmptyThenInsert", 0, {{CBufferOp::INSERT, 0, 0}, {CBufferOp::INSERT, 0, 0}}, 16}),
    CRowName());

TEST(EntryBufferTest, ClearKeepsNothing) {
    CCacheEntryBuffer buffer;
    buffer.reserve(4);
    for (TPos n = 0; n < 10; ++n)
        buffer.insert(0, CCacheEntry{n, nullptr, false, false, false});
    EXPECT_EQ(buffer[0].m_nPos, 9u);
    buffer.clear();
    EXPECT_TRUE(buffer.empty());
}

// ---------------------------------------------------------------------------------------------------------------
// A head full of commented-out scripts, asked the way a page form asks.

TEST(ScalingTest, CommentedScriptsInHeadMoveFewRecords) {
    const int nComments = 20000;
    std::string csPage = "<html><head><title>t</title>\n";
    for (int i = 0; i < nComments; ++i)
        csPage += "<!-- <script src=\"c" + std::to_string(i) + ".js\"></script> -->\n";
    csPage += "<script src=\"real.js\"></script></head><body><p>x</p></body></html>";
    CCommonPointers pointers;
    pointers.m_pDataBegin = csPage.data();
    pointers.m_pDataLast = csPage.data() + csPage.size() - 1;
    CDOMSource source(pointers);
    ASSERT_FALSE(source.isUndefined());
    CDOMElement head = source.getHead();
    ASSERT_FALSE(head.isUndefined() || source.getBody().isUndefined());
    EXPECT_EQ(source.getBody().getBeginPos(), csPage.find("<body>"));
    CDOMStartTagVector scripts = head.getStartTagsByTagName("script");
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts.at(0).getAttribute("src").getValue(), "real.js");

    auto* pCache = static_cast<CCache*>(source.getParserSource()->getCache());
    ASSERT_NE(pCache, nullptr);
    size_t nMoved = pCache->getAllTypesSubCache().getMovedEntryCount();
    for (const CStartTagType* pType : {static_cast<const CStartTagType*>(&StartTagTypes()->m_comment),
                                       static_cast<const CStartTagType*>(&StartTagTypes()->m_cdataSection)})
        nMoved += pCache->getSubCache(pType) ? pCache->getSubCache(pType)->getMovedEntryCount() : 0;
    // Shifting the tail on every insertion moves about nComments^2 / 2 records here.
    EXPECT_LT(nMoved, static_cast<size_t>(20 * nComments));
}

// ---------------------------------------------------------------------------------------------------------------
// Nested tags of one name, some closed.

struct CNestingCase {
    const char* pszName;
    int nOpen;
    int nClosed;
};

class NestedDivTest : public ::testing::TestWithParam<CNestingCase> {};

TEST_P(NestedDivTest, UnclosedTagsAreWalkedOnce) {
    const CNestingCase& c = GetParam();
    const std::string csBody = "<html><head></head><body>";
    const TPos nFirstDiv = csBody.size();
    const std::string csDivs = csBody + Repeated("<div>", c.nOpen) + Repeated("</div>", c.nClosed);
    const TPos nLastClose = csDivs.size();
    CPage page(csDivs + "</body></html>");
    ASSERT_NE(NthStartTag(page.get(), "body"), nullptr);
    CElement* pBodyElement = NthStartTag(page.get(), "body")->getElement();
    ASSERT_NE(pBodyElement, nullptr);
    const size_t nSearchesBefore = page.get()->getRememberedSearchCount();

    // The unclosed outer divs hold nothing; the first div that is closed holds the closed ones.
    const int nUnclosed = c.nOpen - c.nClosed;
    const std::vector<CElement*>& vChildren = pBodyElement->getChildElements();
    ASSERT_EQ(vChildren.size(), static_cast<size_t>(nUnclosed + (c.nClosed > 0 ? 1 : 0)));
    for (int i = 0; i < nUnclosed; ++i) {
        EXPECT_EQ(vChildren[static_cast<size_t>(i)]->getBegin(), nFirstDiv + 5 * static_cast<TPos>(i));
        EXPECT_EQ(vChildren[static_cast<size_t>(i)]->getEndTag(), nullptr);
    }
    if (c.nClosed > 0) {
        CElement* pClosed = vChildren.back();
        EXPECT_EQ(pClosed->getBegin(), nFirstDiv + 5 * static_cast<TPos>(nUnclosed));
        EXPECT_EQ(pClosed->getEnd(), nLastClose);
        EXPECT_EQ(pClosed->getChildElements().size(), c.nClosed > 1 ? 1u : 0u);
    }
    // Walking every later tag again per unclosed div costs about nUnclosed * nOpen searches.
    EXPECT_LT(page.get()->getRememberedSearchCount() - nSearchesBefore,
              static_cast<size_t>(16 * c.nOpen + 64));
}

INSTANTIATE_TEST_SUITE_P(Pages, NestedDivTest,
                         ::testing::Values(CNestingCase{"HalfClosed", 6000, 3000},
                                           CNestingCase{"NoneClosed", 3000, 0},
                                           CNestingCase{"OneClosed", 3000, 1},
                                           CNestingCase{"AllButOneClosed", 3000, 2999},
                                           CNestingCase{"AllClosed", 3000, 3000}),
                         CRowName());

TEST(MalformedPages, ManyUnclosedCommentsAndQuotesStayFast) {
    // Each unclosed construct used to mean a scan to the end of the page; the remembered searches keep the
    // whole walk linear. A quadratic walk over this page would take minutes.
    CPage page(Repeated("<!-- <a b='x < <p <!doctype <!ELEMENT </div ", 20000));
    EXPECT_TRUE(page.get()->getChildElements().empty());
    EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 0, SEARCH_NEXT), nullptr);
}

} // namespace
