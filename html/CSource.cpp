#include "html/CCache.h"
#include "html/CElement.h"
#include "log/Log.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define WK_PAIR_SCAN_AVX2 1
#endif

// ---------------------------------------------------------------------------------------------------------------
// CSegment

CSegment::CSegment(CSource* pSource, TPos nBegin, TPos nEnd)
    : m_nBegin(nBegin), m_nEnd(nEnd), m_pSource(pSource) {}

CSegment::~CSegment() = default;

std::string CSegment::getText() const {
    if (!m_pSource || m_nEnd <= m_nBegin)
        return std::string();
    return std::string(m_pSource->view(m_nBegin, m_nEnd));
}

bool CSegment::checkConstructorArgs(TPos nBegin, TPos nEnd) {
    if (nBegin == INVALID_POS || nEnd == INVALID_POS || nBegin > nEnd) {
        LogMessage("[CSegment::checkConstructorArgs] invalid nBegin <%d>, nEnd <%d> values", LogPos(nBegin),
                   LogPos(nEnd));
        return false;
    }
    return true;
}

bool CSegment::checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd) {
    if (!pSource) {
        LogMessage("[CSegment::checkConstructorArgs] pSource is 0.");
        return false;
    }
    if (!checkConstructorArgs(nBegin, nEnd))
        return false;
    if (nBegin < pSource->getBegin() || nEnd > pSource->getEnd()) {
        LogMessage(
            "[CSegment::checkConstructorArgs] pSource doesn't enclose this segment. nBegin <%d>, nEnd <%d> ",
            LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    return true;
}

CSegment* CSegment::CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd) {
    if (!checkConstructorArgs(pSource, nBegin, nEnd))
        return nullptr;
    return pSource->createOwned<CSegment>(pSource, nBegin, nEnd);
}

CAttributes* CSegment::parseAttributes() {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    return CAttributes::construct(m_pSource, "Attributes", 1, m_nBegin, m_nBegin, m_nEnd,
                                  pTypes ? &pTypes->m_normal : nullptr, std::string(), INVALID_NAME_INDEX, 2);
}

const std::vector<CElement*>& CSegment::getChildElements() {
    if (m_bChildElementsComputed || !m_pSource)
        return m_vChildElements;
    m_bChildElementsComputed = true;
    TPos nPos = m_nBegin;
    while (nPos < m_nEnd) {
        CStartTag* pTag = CStartTag::findPreviousOrNext(m_pSource, nPos, std::string(), SEARCH_NEXT, m_nEnd);
        if (!pTag || pTag->getBegin() >= m_nEnd)
            break;
        if (pTag->getStartTagType()->isServerTag()) {
            nPos = pTag->getEnd();
            continue;
        }
        CElement* pElement = pTag->getElement();
        if (!pElement) {
            nPos = pTag->getEnd();
            continue;
        }
        m_vChildElements.push_back(pElement);
        pElement->getChildElements(0);
        nPos = pElement->getEnd();
    }
    return m_vChildElements;
}

// ---------------------------------------------------------------------------------------------------------------
// CSource

namespace {
// The first arena block: enough for the tags, attributes and elements of a small page, so that one
// allocation serves it; larger pages grow the arena geometrically.
constexpr size_t ARENA_FIRST_BLOCK = 16 * 1024;
} // namespace

CSource::CSource(const char* pData, TPos nHtmlDataBeginPos, TPos nDataLength)
    : CSegment(this, nHtmlDataBeginPos, nDataLength), m_pData(pData), m_arena(ARENA_FIRST_BLOCK),
      m_nHidingScanPos(nHtmlDataBeginPos), m_nHidingLastEnd(nHtmlDataBeginPos) {
    m_vOwnedSegments.reserve(128);
}

CSource::~CSource() {
    for (CSegment* pSegment : m_vOwnedSegments)
        pSegment->~CSegment();
}

bool CSource::checkConstructorArgs(const char* pData, TPos nHtmlDataBeginPos, TPos nDataLength) {
    if (!CSegment::checkConstructorArgs(nHtmlDataBeginPos, nDataLength) || (!pData && nDataLength > 0)) {
        LogMessage(
            "[CSource::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nHtmlDataBeginPos <%d> "
            "nDataLength <%d>",
            LogPos(nHtmlDataBeginPos), LogPos(nDataLength));
        return false;
    }
    return true;
}

std::unique_ptr<CSource> CSource::CREATE_NEW_INST(const char* pData, TPos nHtmlDataBeginPos,
                                                  TPos nDataLength) {
    if (!checkConstructorArgs(pData, nHtmlDataBeginPos, nDataLength)) {
        LogMessage("[CSource::CREATE_NEW_INT] checkConstructorArgs() failed. nHtmlDataBeginPos <%d> "
                   "nDataLength <%d>.",
                   LogPos(nHtmlDataBeginPos), LogPos(nDataLength));
        return nullptr;
    }
    std::unique_ptr<CSource> pSource;
    try {
        pSource.reset(new CSource(pData, nHtmlDataBeginPos, nDataLength));
    } catch (...) {
        return nullptr;
    }
    // Without its cache (memory was short) the source still answers every question, only more slowly.
    pSource->setCache(CCache::CREATE_NEW_INST(pSource.get()));
    return pSource;
}

std::string CSource::substring(TPos nPos, TPos nLength) const {
    if (!contains(nPos)) {
        LogMessage("[CSource::substring] Invalid nPos <%d> value. nBegin <%d> nEnd <%d>. ", LogPos(nPos),
                   LogPos(m_nBegin), LogPos(m_nEnd));
        return std::string();
    }
    TPos nEnd = (nLength > m_nEnd - nPos) ? m_nEnd : nPos + nLength;
    return std::string(view(nPos, nEnd));
}

const std::vector<CElement*>& CSource::getChildElements() {
    if (m_bChildElementsComputed)
        return m_vChildElements;
    m_bChildElementsComputed = true;
    if (m_nBegin == m_nEnd)
        return m_vChildElements;
    if (m_vFullParseTags.empty())
        LogMessage(
            "[CSource::getChildElements] NOTE: Calling CSource.fullSequentialParse() can significantly "
            "improve the performance of this operation.");
    TPos nPos = m_nBegin;
    for (;;) {
        CStartTag* pTag = CStartTag::findPreviousOrNext(this, nPos, std::string(), SEARCH_NEXT);
        if (!pTag)
            break;
        if (pTag->getStartTagType()->isServerTag()) {
            nPos = pTag->getEnd();
            continue;
        }
        CElement* pElement = pTag->getElement();
        if (!pElement) {
            nPos = pTag->getEnd();
            continue;
        }
        pElement->setNoParent();
        m_vChildElements.push_back(pElement);
        pElement->getChildElements(0);
        nPos = pElement->getEnd();
    }
    return m_vChildElements;
}

// ---------------------------------------------------------------------------------------------------------------
// Caseless searches. Forward, a text of two bytes or more is found by its first two bytes, many places at a
// time. Backward, short texts get a routine specialised on their length, whose failure table lives on the
// stack; longer ones the general routine.

namespace {

// Failure table of the pattern (folded): fail[i] = length of the longest proper border of pattern[0..i].
template <class TTable> void BuildFailureTable(const unsigned char* pPattern, size_t n, TTable& fail) {
    fail[0] = 0;
    size_t k = 0;
    for (size_t i = 1; i < n; ++i) {
        while (k > 0 && pPattern[i] != pPattern[k])
            k = fail[k - 1];
        if (pPattern[i] == pPattern[k])
            ++k;
        fail[i] = k;
    }
}

// Last match starting in [nLowerLimit, nStartMax]; pReversed is the folded pattern reversed, scanned from the
// right so that the first complete match is the last occurrence.
template <class TTable>
TPos KmpReverse(const char* pData, TPos nLowerLimit, TPos nStartMax, TPos nTextEnd,
                const unsigned char* pReversed, size_t n, const TTable& fail) {
    TPos nLast = std::min<TPos>(nStartMax + n, nTextEnd); // one past the last byte a match may use
    size_t j = 0;
    for (TPos i = nLast; i > nLowerLimit;) {
        --i;
        unsigned char c = FoldCase(static_cast<unsigned char>(pData[i]));
        while (j > 0 && c != pReversed[j])
            j = fail[j - 1];
        if (c == pReversed[j])
            ++j;
        if (j == n)
            return i; // i is the first byte of the occurrence
    }
    return INVALID_POS;
}

// The last start in [nLower, nStartMax] of csText, ignoring case.
template <size_t N>
TPos FindFixedReverse(const char* pData, std::string_view csText, TPos nLower, TPos nStartMax,
                      TPos nTextEnd) {
    std::array<unsigned char, N> pattern;
    std::array<size_t, N> fail;
    for (size_t i = 0; i < N; ++i)
        pattern[i] = FoldCase(static_cast<unsigned char>(csText[N - 1 - i]));
    BuildFailureTable(pattern.data(), N, fail);
    return KmpReverse(pData, nLower, nStartMax, nTextEnd, pattern.data(), N, fail);
}

TPos FindGeneralReverse(const char* pData, std::string_view csText, TPos nLower, TPos nStartMax,
                        TPos nTextEnd) {
    size_t n = csText.size();
    std::vector<unsigned char> pattern(n);
    std::vector<size_t> fail(n);
    for (size_t i = 0; i < n; ++i)
        pattern[i] = FoldCase(static_cast<unsigned char>(csText[n - 1 - i]));
    BuildFailureTable(pattern.data(), n, fail);
    return KmpReverse(pData, nLower, nStartMax, nTextEnd, pattern.data(), n, fail);
}

TPos FindReverseDispatch(const char* pData, std::string_view csText, TPos nLower, TPos nStartMax,
                         TPos nTextEnd) {
    switch (csText.size()) {
    case 1:
        return FindFixedReverse<1>(pData, csText, nLower, nStartMax, nTextEnd);
    case 2:
        return FindFixedReverse<2>(pData, csText, nLower, nStartMax, nTextEnd);
    case 3:
        return FindFixedReverse<3>(pData, csText, nLower, nStartMax, nTextEnd);
    case 4:
        return FindFixedReverse<4>(pData, csText, nLower, nStartMax, nTextEnd);
    case 5:
        return FindFixedReverse<5>(pData, csText, nLower, nStartMax, nTextEnd);
    case 6:
        return FindFixedReverse<6>(pData, csText, nLower, nStartMax, nTextEnd);
    default:
        return FindGeneralReverse(pData, csText, nLower, nStartMax, nTextEnd);
    }
}

// True when the text at p holds csText from its third byte on, ignoring case.
bool RestMatches(const char* p, std::string_view csText) {
    for (size_t k = 2; k < csText.size(); ++k)
        if (FoldCase(static_cast<unsigned char>(p[k])) != FoldCase(static_cast<unsigned char>(csText[k])))
            return false;
    return true;
}

// The bytes a candidate start must hold at its first two places, each as the filter compares it: with bit
// 0x20 set for a letter, which makes an upper-case letter lower case and turns nothing else into a letter; as
// it is for any other byte, which must match itself.
struct CFirstPair {
    unsigned char cCase0, cWant0, cCase1, cWant1;
    explicit CFirstPair(std::string_view csText) {
        const unsigned char c0 = static_cast<unsigned char>(csText[0]);
        const unsigned char c1 = static_cast<unsigned char>(csText[1]);
        cCase0 = IsAsciiLetter(c0) ? 0x20 : 0;
        cCase1 = IsAsciiLetter(c1) ? 0x20 : 0;
        cWant0 = static_cast<unsigned char>(c0 | cCase0);
        cWant1 = static_cast<unsigned char>(c1 | cCase1);
    }
};

#if defined(WK_PAIR_SCAN_AVX2)
// The filter thirty-two starts at a time, on processors that have the wider instructions; i moves past the
// blocks looked at. The last start of a block is at most nLastStart, so its second byte is inside the data.
__attribute__((target("avx2"))) TPos FindFirstPairAvx2(const char* pData, std::string_view csText, TPos& i,
                                                       TPos nLastStart, const CFirstPair& pair) {
    const __m256i vCase0 = _mm256_set1_epi8(static_cast<char>(pair.cCase0));
    const __m256i vCase1 = _mm256_set1_epi8(static_cast<char>(pair.cCase1));
    const __m256i vWant0 = _mm256_set1_epi8(static_cast<char>(pair.cWant0));
    const __m256i vWant1 = _mm256_set1_epi8(static_cast<char>(pair.cWant1));
    for (; i <= nLastStart && nLastStart - i >= 31; i += 32) {
        const __m256i vFirst = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pData + i));
        const __m256i vSecond = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pData + i + 1));
        unsigned nMask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(vFirst, vCase0), vWant0),
                             _mm256_cmpeq_epi8(_mm256_or_si256(vSecond, vCase1), vWant1))));
        for (; nMask != 0; nMask &= nMask - 1) {
            const TPos nStart = i + static_cast<TPos>(__builtin_ctz(nMask));
            if (RestMatches(pData + nStart, csText))
                return nStart;
        }
    }
    return INVALID_POS;
}

bool HasAvx2() {
    static const bool s_bAvx2 = __builtin_cpu_supports("avx2");
    return s_bAvx2;
}
#endif

#if defined(__SSE2__)
// The filter sixteen starts at a time, as above.
TPos FindFirstPairSse2(const char* pData, std::string_view csText, TPos& i, TPos nLastStart,
                       const CFirstPair& pair) {
    const __m128i vCase0 = _mm_set1_epi8(static_cast<char>(pair.cCase0));
    const __m128i vCase1 = _mm_set1_epi8(static_cast<char>(pair.cCase1));
    const __m128i vWant0 = _mm_set1_epi8(static_cast<char>(pair.cWant0));
    const __m128i vWant1 = _mm_set1_epi8(static_cast<char>(pair.cWant1));
    for (; i <= nLastStart && nLastStart - i >= 15; i += 16) {
        const __m128i vFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + i));
        const __m128i vSecond = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + i + 1));
        unsigned nMask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(vFirst, vCase0), vWant0),
                                            _mm_cmpeq_epi8(_mm_or_si128(vSecond, vCase1), vWant1))));
        for (; nMask != 0; nMask &= nMask - 1) {
            const TPos nStart = i + static_cast<TPos>(__builtin_ctz(nMask));
            if (RestMatches(pData + nStart, csText))
                return nStart;
        }
    }
    return INVALID_POS;
}
#endif

// The first start in [nFrom, nLastStart] of csText (two bytes at least, all of it before the data end),
// ignoring case: the places where its first two bytes stand are found many at a time, and only those are
// compared further. Tags are so dense in a page that a search for '<' alone would stop every few bytes.
TPos FindByFirstPair(const char* pData, std::string_view csText, TPos nFrom, TPos nLastStart) {
    const CFirstPair pair(csText);
    TPos i = nFrom;
#if defined(WK_PAIR_SCAN_AVX2)
    if (HasAvx2())
        if (TPos nHit = FindFirstPairAvx2(pData, csText, i, nLastStart, pair); nHit != INVALID_POS)
            return nHit;
#endif
#if defined(__SSE2__)
    if (TPos nHit = FindFirstPairSse2(pData, csText, i, nLastStart, pair); nHit != INVALID_POS)
        return nHit;
#endif
    for (; i <= nLastStart; ++i) {
        const unsigned char a = static_cast<unsigned char>(pData[i]);
        const unsigned char b = static_cast<unsigned char>(pData[i + 1]);
        if ((a | pair.cCase0) == pair.cWant0 && (b | pair.cCase1) == pair.cWant1 &&
            RestMatches(pData + i, csText))
            return i;
    }
    return INVALID_POS;
}

} // namespace

TPos CSource::findCaseless(std::string_view csText, TPos nFrom, TPos nLength) const {
    if (csText.empty() || nFrom == INVALID_POS || nFrom >= m_nEnd)
        return INVALID_POS;
    if (nFrom < m_nBegin)
        nFrom = m_nBegin;
    TPos nStartLimit = (nLength == INVALID_POS || nLength > m_nEnd - nFrom) ? m_nEnd : nFrom + nLength;
    if (csText.size() > m_nEnd - nFrom)
        return INVALID_POS;
    if (nStartLimit <= nFrom)
        return INVALID_POS;
    if (csText.size() >= 2)
        return FindByFirstPair(m_pData, csText, nFrom,
                               std::min<TPos>(nStartLimit - 1, m_nEnd - csText.size()));
    // One byte: memchr, or for a letter either case.
    const unsigned char c = static_cast<unsigned char>(csText[0]);
    if (!IsAsciiLetter(c)) {
        const void* p = std::memchr(m_pData + nFrom, c, static_cast<size_t>(nStartLimit - nFrom));
        return p ? static_cast<TPos>(static_cast<const char*>(p) - m_pData) : INVALID_POS;
    }
    for (TPos i = nFrom; i < nStartLimit; ++i)
        if ((byteAt(i) | 0x20) == (c | 0x20))
            return i;
    return INVALID_POS;
}

TPos CSource::findCaselessReverse(std::string_view csText, TPos nPos, TPos nLowerLimit) const {
    if (csText.empty() || nPos == INVALID_POS || m_nBegin == m_nEnd)
        return INVALID_POS;
    TPos nLower = (nLowerLimit == INVALID_POS || nLowerLimit < m_nBegin) ? m_nBegin : nLowerLimit;
    if (csText.size() > m_nEnd - nLower)
        return INVALID_POS;
    TPos nStartMax = std::min<TPos>(nPos, m_nEnd - csText.size());
    if (nStartMax < nLower)
        return INVALID_POS;
    return FindReverseDispatch(m_pData, csText, nLower, nStartMax, m_nEnd);
}

bool CSource::startsWithCaseless(TPos nPos, std::string_view csText) const {
    if (nPos < m_nBegin || nPos > m_nEnd || csText.size() > m_nEnd - nPos)
        return false;
    return EqualsCaseless(view(nPos, nPos + csText.size()), csText);
}

TPos CSource::findChar(char c, TPos nFrom, TPos nLimit) const {
    if (nFrom == INVALID_POS)
        return INVALID_POS;
    if (nFrom < m_nBegin)
        nFrom = m_nBegin;
    TPos nEnd = (nLimit == INVALID_POS || nLimit > m_nEnd) ? m_nEnd : nLimit;
    unsigned char cFolded = FoldCase(static_cast<unsigned char>(c));
    if (!IsAsciiLetter(static_cast<unsigned char>(c))) {
        if (nFrom >= nEnd)
            return INVALID_POS;
        const void* p = std::memchr(m_pData + nFrom, c, static_cast<size_t>(nEnd - nFrom));
        return p ? static_cast<TPos>(static_cast<const char*>(p) - m_pData) : INVALID_POS;
    }
    for (TPos i = nFrom; i < nEnd; ++i)
        if (FoldCase(byteAt(i)) == cFolded)
            return i;
    return INVALID_POS;
}

TPos CSource::findCharReverse(char c, TPos nFrom, TPos nLowerLimit) const {
    if (nFrom == INVALID_POS || m_nBegin == m_nEnd)
        return INVALID_POS;
    TPos nLower = (nLowerLimit == INVALID_POS || nLowerLimit < m_nBegin) ? m_nBegin : nLowerLimit;
    if (nFrom >= m_nEnd)
        nFrom = m_nEnd - 1;
    unsigned char cFolded = FoldCase(static_cast<unsigned char>(c));
    for (TPos i = nFrom + 1; i > nLower;) {
        --i;
        if (FoldCase(byteAt(i)) == cFolded)
            return i;
    }
    return INVALID_POS;
}

TPos CSource::findCaselessToEnd(std::string_view csText, TPos nFrom) {
    ++m_nRememberedSearches;
    if (csText.empty() || nFrom == INVALID_POS || nFrom >= m_nEnd)
        return INVALID_POS;
    if (nFrom < m_nBegin)
        nFrom = m_nBegin;
    try {
        auto it = m_mapSearchMemo.find(csText);
        if (it != m_mapSearchMemo.end() && nFrom >= it->second.nFrom &&
            (it->second.nResult == INVALID_POS || nFrom <= it->second.nResult))
            return it->second.nResult;
        TPos nResult = findCaseless(csText, nFrom);
        if (it != m_mapSearchMemo.end())
            it->second = CSearchMemo{nFrom, nResult};
        else
            m_mapSearchMemo.emplace(std::pmr::string(csText, &m_arena), CSearchMemo{nFrom, nResult});
        return nResult;
    } catch (...) {
        return findCaseless(csText, nFrom);
    }
}

bool CSource::CStretchKeyLess::less(const void* pA, std::string_view a, const void* pB,
                                    std::string_view b) noexcept {
    if (pA != pB)
        return std::less<const void*>()(pA, pB);
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char cA = FoldCase(static_cast<unsigned char>(a[i]));
        const unsigned char cB = FoldCase(static_cast<unsigned char>(b[i]));
        if (cA != cB)
            return cA < cB;
    }
    return a.size() < b.size();
}

CSource::CTagStretches* CSource::getTagStretches(const void* pFinder, std::string_view csPattern) noexcept {
    try {
        auto it = m_mapTagStretches.find(CStretchKey{pFinder, csPattern});
        if (it == m_mapTagStretches.end())
            it = m_mapTagStretches
                     .emplace(std::piecewise_construct,
                              std::forward_as_tuple(pFinder, std::pmr::string(csPattern, &m_arena)),
                              std::forward_as_tuple())
                     .first;
        return &it->second;
    } catch (...) {
        return nullptr;
    }
}

// Stretches never overlap unless they end at the same hit (a hit inside another stretch would have been its
// answer), so a stretch joins the one with its hit or stands alone.
void CSource::rememberTagStretch(CTagStretches* pStretches, TPos nFrom, TPos nHit, CTag* pTag) noexcept {
    if (!pStretches)
        return;
    try {
        auto [it, bNew] = pStretches->try_emplace(nHit, CTagStretch{nFrom, pTag});
        if (!bNew && nFrom < it->second.nFrom)
            it->second.nFrom = nFrom;
    } catch (...) {
    }
}

TPos CSource::findCaselessBefore(std::string_view csText, TPos nFrom, TPos nLimit) {
    if (nLimit == INVALID_POS || nLimit >= m_nEnd)
        return findCaselessToEnd(csText, nFrom);
    ++m_nRememberedSearches;
    if (csText.empty() || nFrom == INVALID_POS || nFrom >= nLimit)
        return INVALID_POS;
    if (nFrom < m_nBegin)
        nFrom = m_nBegin;
    try {
        auto it = m_mapSearchMemo.find(csText);
        if (it != m_mapSearchMemo.end() && nFrom >= it->second.nFrom &&
            (it->second.nResult == INVALID_POS || nFrom <= it->second.nResult))
            return it->second.nResult < nLimit ? it->second.nResult : INVALID_POS;
        TPos nResult = findCaseless(csText, nFrom, nLimit - nFrom);
        // Only a hit is worth remembering: a miss says nothing about the text beyond the limit.
        if (nResult != INVALID_POS) {
            if (it != m_mapSearchMemo.end())
                it->second = CSearchMemo{nFrom, nResult};
            else
                m_mapSearchMemo.emplace(std::pmr::string(csText, &m_arena), CSearchMemo{nFrom, nResult});
        }
        return nResult;
    } catch (...) {
        return findCaseless(csText, nFrom, nLimit - nFrom);
    }
}
