// Pages built to make the finders repeat work: many records inserted into the middle of the tag cache, and
// many unclosed tags of one name. The bounds are on counted work, never on time.
#include "HtmlTestSupport.h"

#include "html/CCache.h"
#include "html/CDOMSource.h"

#include <sstream>

using namespace htmltest;

namespace {

// ---------------------------------------------------------------------------------------------------------------
// The record array with a hole, against a plain vector doing the same.

class EntryBufferTest : public ::testing::TestWithParam<CRow> {};

TEST_P(EntryBufferTest, MatchesVectorAndMovesLittle) {
    const CRow& r = GetParam();
    CCacheEntryBuffer buffer;
    std::vector<CCacheEntry> vReference;
    TPos nNextPos = 0;
    for (size_t i = 0; i < r.pos(1); ++i) {
        buffer.push_back(CCacheEntry{nNextPos, nullptr, false, false, false});
        vReference.push_back(CCacheEntry{nNextPos++, nullptr, false, false, false});
    }
    const size_t nMovedBefore = buffer.getMovedCount();
    for (size_t nRun = 0, nStep = 0; nRun < r.pos(3); ++nRun, nStep += r.pos(4)) {
        std::istringstream ops(r[2]);
        for (std::string csOp; ops >> csOp;) {
            const size_t nAt = std::stoul(csOp.substr(1)) + nStep;
            if (csOp[0] == 'i') {
                const CCacheEntry entry{nNextPos++, nullptr, true, false, false};
                buffer.insert(nAt, entry);
                vReference.insert(vReference.begin() + static_cast<std::ptrdiff_t>(nAt), entry);
                continue;
            }
            const size_t nTo = std::stoul(csOp.substr(csOp.find(':') + 1)) + nStep;
            size_t nExpectedFirst = vReference.size();
            for (size_t k = nAt; k <= nTo && k < vReference.size(); ++k) {
                if (k == nAt || k == nTo || (k - nAt) % 3 == 0) {
                    buffer[k].m_bRemove = vReference[k].m_bRemove = true;
                    nExpectedFirst = std::min(nExpectedFirst, k);
                }
            }
            EXPECT_EQ(buffer.removeMarked(nAt, nTo), nExpectedFirst);
            std::erase_if(vReference, [](const CCacheEntry& entry) { return entry.m_bRemove; });
        }
    }
    ASSERT_EQ(buffer.size(), vReference.size());
    for (size_t i = 0; i < vReference.size(); ++i) {
        EXPECT_EQ(buffer[i].m_nPos, vReference[i].m_nPos) << "at " << i;
        EXPECT_EQ(buffer[i].m_bPreviousCompleted, vReference[i].m_bPreviousCompleted) << "at " << i;
        EXPECT_FALSE(buffer[i].m_bRemove) << "at " << i;
    }
    EXPECT_LE(buffer.getMovedCount() - nMovedBefore, r.pos(5));
}

INSTANTIATE_TEST_SUITE_P(Ops, EntryBufferTest, ::testing::ValuesIn(ReadTable("entry-buffer.txt")), RowName);

// ---------------------------------------------------------------------------------------------------------------
// A head full of commented-out scripts, asked the way a page form asks.

TEST(ScalingTest, CommentedScriptsInHeadMoveFewRecords) {
    const int nComments = 20000;
    std::string csPage = "<html><head><title>t</title>\n";
    for (int i = 0; i < nComments; ++i)
        csPage += "<!-- <script src=\"c" + std::to_string(i) + ".js\"></script> -->\n";
    csPage += "<script src=\"real.js\"></script></head><body><p>x</p></body></html>";
    CDomPage page(csPage);
    CDOMSource source(page.m_pointers);
    ASSERT_FALSE(source.isUndefined());
    CDOMStartTagVector scripts = source.getHead().getStartTagsByTagName("script");
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

class NestedDivTest : public ::testing::TestWithParam<CRow> {};

TEST_P(NestedDivTest, UnclosedTagsAreWalkedOnce) {
    const struct { int nOpen, nClosed; } c{std::stoi(GetParam()[1]), std::stoi(GetParam()[2])};
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

INSTANTIATE_TEST_SUITE_P(Pages, NestedDivTest, ::testing::ValuesIn(ReadTable("nested-divs.txt")), RowName);

// The same divs with a comment left open among the start tags, so that the end tags it hides lie between
// every unclosed div and the end tags after it; where the comment opens and how many end tags follow vary.
TEST(NestedDivTest, EndTagsHiddenInACommentAreSearchedOnce) {
    const struct {
        int nBefore, nAfter, nHidden, nShown;
    } rgRows[] = {{1760, 240, 1400, 60}, {200, 1800, 1900, 100}, {1000, 1000, 0, 1500}, {1500, 0, 1500, 0}};
    for (const auto& r : rgRows) {
        const std::string csHead = "<html><head></head><body>";
        CPage page(csHead + Repeated("<div>", r.nBefore) + "<!-- open>" + Repeated("<div>", r.nAfter) +
                   Repeated("</div>", r.nHidden) + "-->" + Repeated("</div>", r.nShown));
        CStartTag* pBody = NthStartTag(page.get(), "body");
        ASSERT_NE(pBody, nullptr);
        ASSERT_NE(pBody->getElement(), nullptr);
        const size_t nSearchesBefore = page.get()->getRememberedSearchCount();
        const std::vector<CElement*>& vChildren = pBody->getElement()->getChildElements();
        ASSERT_FALSE(vChildren.empty());
        EXPECT_EQ(vChildren.front()->getBegin(), csHead.size());
        // Only the divs before the comment are tags. The unclosed ones hold nothing; the last child is the
        // outermost closed div, which holds the comment, or the comment itself when no div is closed.
        const int nClosed = std::min(r.nShown, r.nBefore);
        EXPECT_EQ(vChildren.size(), static_cast<size_t>(r.nBefore - nClosed + 1)) << r.nBefore;
        EXPECT_EQ(vChildren.back()->getName() == "div", nClosed > 0) << r.nBefore;
        const size_t nTags = static_cast<size_t>(r.nBefore + r.nAfter + r.nHidden + r.nShown);
        EXPECT_LT(page.get()->getRememberedSearchCount() - nSearchesBefore, 16 * nTags + 64) << r.nBefore;
    }
}

TEST(MalformedPages, ManyUnclosedCommentsAndQuotesStayFast) {
    // Each unclosed construct used to mean a scan to the end of the page; the remembered searches keep the
    // whole walk linear. A quadratic walk over this page would take minutes.
    CPage page(Repeated("<!-- <a b='x < <p <!doctype <!ELEMENT </div ", 20000));
    EXPECT_TRUE(page.get()->getChildElements().empty());
    EXPECT_EQ(CTag::findPreviousOrNextTag(page.get(), 0, SEARCH_NEXT), nullptr);
}

} // namespace
