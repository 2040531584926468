#include "html/CCache.h"

#include "html/CTag.h"
#include "log/Log.h"

#include <algorithm>

// The finders re-enter the cache: looking up the tag at a position asks whether the position lies inside a
// comment, which walks the comment records, whose gap search looks up tags again. So no walk keeps an index
// or a reference to a record across a call that may reach the text; it keeps positions and locates its
// records again afterwards. Whatever a nested call recorded is true of the text, so it can only shorten the
// outer walk.

namespace {
constexpr size_t INITIAL_ENTRY_CAPACITY = 64;
} // namespace

// ---------------------------------------------------------------------------------------------------------------
// CCacheEntryBuffer

void CCacheEntryBuffer::reserve(size_t nCapacity) {
    if (nCapacity <= m_vSlots.size())
        return;
    moveGap(size());
    size_t nGrow = nCapacity - m_vSlots.size();
    m_vSlots.resize(nCapacity);
    m_nGapEnd += nGrow;
}

void CCacheEntryBuffer::clear() {
    m_nGapBegin = 0;
    m_nGapEnd = m_vSlots.size();
}

void CCacheEntryBuffer::moveGap(size_t nIndex) {
    const size_t nGap = gapLength();
    m_nMoved += nIndex < m_nGapBegin ? m_nGapBegin - nIndex : nIndex - m_nGapBegin;
    if (nIndex < m_nGapBegin) {
        std::move_backward(m_vSlots.begin() + static_cast<std::ptrdiff_t>(nIndex),
                           m_vSlots.begin() + static_cast<std::ptrdiff_t>(m_nGapBegin),
                           m_vSlots.begin() + static_cast<std::ptrdiff_t>(m_nGapEnd));
    } else if (nIndex > m_nGapBegin) {
        std::move(m_vSlots.begin() + static_cast<std::ptrdiff_t>(m_nGapEnd),
                  m_vSlots.begin() + static_cast<std::ptrdiff_t>(nIndex + nGap),
                  m_vSlots.begin() + static_cast<std::ptrdiff_t>(m_nGapBegin));
    }
    m_nGapBegin = nIndex;
    m_nGapEnd = nIndex + nGap;
}

void CCacheEntryBuffer::insert(size_t nIndex, const CCacheEntry& entry) {
    if (gapLength() == 0) {
        // Doubling keeps growth amortised constant; the new slots become the hole, at the end.
        const size_t nOld = m_vSlots.size();
        m_vSlots.resize(nOld < 8 ? 16 : nOld * 2);
        m_nMoved += nOld;
        m_nGapBegin = nOld;
        m_nGapEnd = m_vSlots.size();
    }
    moveGap(nIndex);
    m_vSlots[m_nGapBegin++] = entry;
}

size_t CCacheEntryBuffer::removeMarked(size_t nFrom, size_t nTo) {
    const size_t nSize = size();
    if (nFrom >= nSize)
        return nSize;
    if (nTo >= nSize)
        nTo = nSize - 1;
    // With the hole right behind the range, the kept records close up in place and the removed ones join
    // the hole; nothing outside the range moves.
    moveGap(nTo + 1);
    size_t nFirst = nSize;
    size_t nOut = nFrom;
    for (size_t i = nFrom; i <= nTo; ++i) {
        if (m_vSlots[i].m_bRemove) {
            if (nFirst == nSize)
                nFirst = i;
            continue;
        }
        if (nOut != i) {
            m_vSlots[nOut] = m_vSlots[i];
            ++m_nMoved;
        }
        ++nOut;
    }
    m_nGapBegin = nOut;
    return nFirst;
}

// ---------------------------------------------------------------------------------------------------------------
// CSubCache

CSubCache::CSubCache(CCache* pCache, const CTagType* pTagType)
    : m_pCache(pCache), m_pSource(pCache->getSource()), m_pTagType(pTagType) {
    // The typed records hold comments and CDATA sections, few on most pages: they grow from the bookends'
    // first slots instead.
    if (!pTagType)
        m_vEntries.reserve(INITIAL_ENTRY_CAPACITY);
    addBookends();
}

void CSubCache::addBookends() {
    // begin - 1 wraps to the invalid position for a source that starts at 0, and + 1 wraps back, so the
    // adjacency test below needs no special case.
    TPos nFirst = m_pSource->getBegin() - 1;
    TPos nLast = m_pSource->getEnd();
    bool bEmpty = nFirst + 1 == nLast;
    m_vEntries.push_back(CCacheEntry{nFirst, nullptr, false, bEmpty, false});
    m_vEntries.push_back(CCacheEntry{nLast, nullptr, bEmpty, false, false});
}

void CSubCache::clear() {
    if (!m_pTagType)
        m_pCache->rescueTags(m_vEntries);
    m_vEntries.clear();
    addBookends();
}

size_t CSubCache::locate(TPos nPos) const {
    // Finders mostly ask about the neighbourhood of their last question; try there before bisecting.
    const size_t nSize = m_vEntries.size();
    for (size_t i = m_nLocateHint; i < nSize && i <= m_nLocateHint + 1; ++i) {
        if (i >= 1 && (i == 1 || m_vEntries[i - 1].m_nPos < nPos) && m_vEntries[i].m_nPos >= nPos) {
            m_nLocateHint = i;
            return i;
        }
    }
    size_t nLow = 1;
    size_t nCount = nSize - 1;
    while (nCount > 0) {
        size_t nHalf = nCount / 2;
        if (m_vEntries[nLow + nHalf].m_nPos < nPos) {
            nLow += nHalf + 1;
            nCount -= nHalf + 1;
        } else {
            nCount = nHalf;
        }
    }
    m_nLocateHint = nLow;
    return m_nLocateHint;
}

size_t CSubCache::locateAtOrBefore(TPos nPos) const {
    size_t i = locate(nPos);
    return (i < m_vEntries.size() && m_vEntries[i].m_nPos == nPos) ? i : i - 1;
}

bool CSubCache::holdsRegisteredTag(const CCacheEntry& entry) const {
    return entry.m_pTag && !entry.m_pTag->isUnregistered();
}

void CSubCache::insertAt(size_t nIndex, TPos nPos, CTag* pTag, bool bPreviousCompleted, bool bNextCompleted) {
    m_vEntries.insert(nIndex, CCacheEntry{nPos, pTag, bPreviousCompleted, bNextCompleted, false});
}

void CSubCache::removeMarked(size_t nFrom, size_t nTo) {
    m_vEntries.removeMarked(nFrom, nTo);
}

bool CSubCache::insertEntryUnchecked(TPos nPos, CTag* pTag, bool bPreviousCompleted, bool bNextCompleted) {
    if (!m_pSource->contains(nPos))
        return false;
    size_t i = locate(nPos);
    try {
        if (m_vEntries[i].m_nPos == nPos) {
            m_vEntries[i].m_pTag = pTag;
            m_vEntries[i].m_bPreviousCompleted = bPreviousCompleted;
            m_vEntries[i].m_bNextCompleted = bNextCompleted;
        } else {
            insertAt(i, nPos, pTag, bPreviousCompleted, bNextCompleted);
        }
    } catch (...) {
        return false;
    }
    return true;
}

CTag* CSubCache::addTagAt(TPos nPos, CTag* pTag) {
    if (!m_pSource->contains(nPos))
        return pTag;
    size_t i = locate(nPos);
    CCacheEntry& next = m_vEntries[i];
    if (next.m_nPos == nPos) {
        // A nested lookup got here first; its object is the one every finder has seen.
        if (!next.m_pTag && pTag)
            next.m_pTag = pTag;
        return next.m_pTag;
    }
    CCacheEntry& prev = m_vEntries[i - 1];
    bool bGapCompleted = next.m_bPreviousCompleted;
    bool bPreviousCompleted = prev.m_nPos + 1 == nPos || bGapCompleted;
    bool bNextCompleted = nPos + 1 == next.m_nPos || bGapCompleted;
    if (pTag && bGapCompleted) {
        // The text holds a tag where the records claim none: trust the text and forget the claim.
        prev.m_bNextCompleted = false;
        next.m_bPreviousCompleted = false;
        bPreviousCompleted = prev.m_nPos + 1 == nPos;
        bNextCompleted = nPos + 1 == next.m_nPos;
    }
    if (!pTag && bPreviousCompleted && bNextCompleted)
        return nullptr;
    try {
        insertAt(i, nPos, pTag, bPreviousCompleted, bNextCompleted);
    } catch (...) {
        return pTag; // unrecorded: the next question about the position asks the text again
    }
    // Closing a neighbour's gap may leave a tagless neighbour with nothing to tell.
    bool bRemove = false;
    if (bPreviousCompleted) {
        CCacheEntry& left = m_vEntries[i - 1];
        left.m_bNextCompleted = true;
        if (i - 1 > 0 && !left.m_pTag && left.m_bPreviousCompleted)
            bRemove = left.m_bRemove = true;
    }
    if (bNextCompleted) {
        CCacheEntry& right = m_vEntries[i + 1];
        right.m_bPreviousCompleted = true;
        if (i + 1 < m_vEntries.size() - 1 && !right.m_pTag && right.m_bNextCompleted)
            bRemove = right.m_bRemove = true;
    }
    if (bRemove)
        removeMarked(i - 1, i + 1);
    return pTag;
}

CTag* CSubCache::getTagAt(TPos nPos) {
    if (!m_pSource->contains(nPos))
        return nullptr;
    size_t i = locate(nPos);
    const CCacheEntry& entry = m_vEntries[i];
    if (entry.m_nPos == nPos)
        return entry.m_pTag;
    if (entry.m_bPreviousCompleted)
        return nullptr;
    CTag* pTag = addTagAt(nPos, m_pCache->lookUpUncached(nPos));
    if (pTag && !m_pTagType) {
        if (CSubCache* pTyped = m_pCache->getSubCache(pTag->getTagType()))
            pTyped->addTagAt(nPos, pTag);
    }
    return pTag;
}

CTag* CSubCache::searchGap(TPos nFrom, bool bNext, TPos nLimit) {
    ++m_pCache->m_nUncachedSearches;
    CTag* pTag = m_pTagType ? CTag::findPreviousOrNextTagUncached(m_pSource, nFrom, m_pTagType, bNext, nLimit)
                            : CTag::findPreviousOrNextTagUncached(m_pSource, nFrom, bNext, nLimit);
    // The gap search reports what it found; recording it here keeps the marking independent of whether the
    // lookups on the way went through this record.
    if (pTag)
        return addTagAt(pTag->getBegin(), pTag);
    return nullptr;
}

CTag* CSubCache::walk(TPos nPos, bool bNext) {
    TPos nCur = nPos;
    if (bNext) {
        // Every position below nCur (from nPos on) is known to hold no registered tag.
        for (;;) {
            size_t i = locate(nCur);
            const CCacheEntry& entry = m_vEntries[i];
            if (i == m_vEntries.size() - 1 && entry.m_nPos == nCur)
                return nullptr; // the bookend at the source end
            if (entry.m_nPos == nCur) {
                if (holdsRegisteredTag(entry))
                    return entry.m_pTag;
                nCur = entry.m_nPos + 1;
                continue;
            }
            TPos nFar = entry.m_nPos;
            if (entry.m_bPreviousCompleted || m_vEntries[i - 1].m_bNextCompleted) {
                nCur = nFar;
                continue;
            }
            if (CTag* pTag = searchGap(nCur, true, nFar))
                return pTag;
            nCur = nFar;
        }
    }
    // Every position above nCur (up to nPos) is known to hold no registered tag.
    const TPos nBegin = m_pSource->getBegin();
    for (;;) {
        size_t i = locateAtOrBefore(nCur);
        const CCacheEntry& entry = m_vEntries[i];
        if (i > 0 && entry.m_nPos == nCur) {
            if (holdsRegisteredTag(entry))
                return entry.m_pTag;
            if (nCur == nBegin)
                return nullptr;
            nCur = nCur - 1;
            continue;
        }
        bool bFarIsBookend = i == 0;
        TPos nFar = entry.m_nPos;
        if (entry.m_bNextCompleted || m_vEntries[i + 1].m_bPreviousCompleted) {
            if (bFarIsBookend)
                return nullptr;
            nCur = nFar;
            continue;
        }
        if (CTag* pTag = searchGap(nCur, false, nFar + 1))
            return pTag;
        if (bFarIsBookend)
            return nullptr;
        nCur = nFar;
    }
}

bool CSubCache::markTraversed(TPos nPos, CTag* pTag, bool bNext) {
    const char* pszMethod = bNext ? "[CSubCache::addNextTag]" : "[CSubCache::addPreviousTag]";
    // The start position needs a record of its own only when the stretch behind it (against the search
    // direction) is not known to be empty. The walk has just looked at the start itself: had a tag stood
    // there, it would have been recorded on the way, so a start without a record holds none.
    size_t nStart = locate(nPos);
    if (m_vEntries[nStart].m_nPos != nPos) {
        size_t nPrev = nStart - 1;
        bool bGapCompleted = m_vEntries[nStart].m_bPreviousCompleted;
        bool bBehindEmpty = bGapCompleted || (bNext ? m_vEntries[nPrev].m_nPos + 1 == nPos
                                                    : nPos + 1 == m_vEntries[nStart].m_nPos);
        if (bBehindEmpty) {
            if (bNext)
                nStart = nPrev;
        } else {
            addTagAt(nPos, nullptr);
            nStart = locate(nPos);
            if (m_vEntries[nStart].m_nPos != nPos)
                return true; // memory was short: claim nothing
        }
    }
    size_t nFound;
    if (!pTag) {
        nFound = bNext ? m_vEntries.size() - 1 : 0;
    } else {
        nFound = locate(pTag->getBegin());
        bool bInRange = bNext ? pTag->getBegin() >= nPos : pTag->getBegin() <= nPos;
        if (!bInRange || nFound >= m_vEntries.size() || m_vEntries[nFound].m_nPos != pTag->getBegin() ||
            m_vEntries[nFound].m_pTag != pTag) {
            LogMessage("%s INTERNAL ERROR: Missing cache entry for found tag.", pszMethod);
            return false;
        }
    }
    size_t nLow = bNext ? nStart : nFound;
    size_t nHigh = bNext ? nFound : nStart;
    if (nLow >= nHigh)
        return true; // the tag was found at the start position
    for (size_t k = nLow + 1; k < nHigh; ++k) {
        if (holdsRegisteredTag(m_vEntries[k])) {
            LogMessage("%s INTERNAL ERROR: Cache entry no longer found in source.", pszMethod);
            return false;
        }
    }
    bool bRemove = false;
    for (size_t k = nLow; k < nHigh; ++k) {
        m_vEntries[k].m_bNextCompleted = true;
        m_vEntries[k + 1].m_bPreviousCompleted = true;
        if (k > nLow && !m_vEntries[k].m_pTag)
            bRemove = m_vEntries[k].m_bRemove = true;
    }
    // The start record, now completed on both sides, tells nothing more either (bookends stay).
    CCacheEntry& start = m_vEntries[nStart];
    if (nStart > 0 && nStart < m_vEntries.size() - 1 && !start.m_pTag && start.m_bPreviousCompleted &&
        start.m_bNextCompleted)
        bRemove = start.m_bRemove = true;
    if (bRemove)
        removeMarked(nLow, nHigh);
    return true;
}

bool CSubCache::addPreviousTag(TPos nPos, CTag* pTag) {
    if (!m_pSource->contains(nPos))
        return false;
    return markTraversed(nPos, pTag, false);
}

bool CSubCache::addNextTag(TPos nPos, CTag* pTag) {
    if (!m_pSource->contains(nPos))
        return false;
    return markTraversed(nPos, pTag, true);
}

CTag* CSubCache::findPreviousOrNextTag(TPos nPos, bool bNext) {
    const TPos nBegin = m_pSource->getBegin();
    const TPos nEnd = m_pSource->getEnd();
    if (nBegin == nEnd || nPos == INVALID_POS)
        return nullptr;
    if (bNext) {
        if (nPos < nBegin)
            nPos = nBegin;
        if (nPos >= nEnd)
            return nullptr;
    } else {
        if (nPos >= nEnd)
            nPos = nEnd - 1;
        if (nPos < nBegin)
            return nullptr;
    }
    const CCacheEntry& entry = m_vEntries[locate(nPos)];
    if (entry.m_nPos == nPos && holdsRegisteredTag(entry))
        return entry.m_pTag;
    CTag* pFound = walk(nPos, bNext);
    bool bMarked = bNext ? addNextTag(nPos, pFound) : addPreviousTag(nPos, pFound);
    if (!bMarked) {
        const char* pszMarker = bNext ? "addNextTag()" : "addPreviousTag()";
        LogMessage("[CSubCache::findPreviousOrNextTag] %s failed. nPos <%d>. Clear cache and resume.",
                   pszMarker, LogPos(nPos));
        // The records that misled the walk are gone; walking again over the text alone records every tag on
        // the way, so the marking cannot claim a stretch whose tags nobody looked at.
        clear();
        pFound = walk(nPos, bNext);
        bMarked = bNext ? addNextTag(nPos, pFound) : addPreviousTag(nPos, pFound);
        if (!bMarked)
            LogMessage("[CSubCache::findPreviousOrNextTag] %s failed. nPos <%d>.", pszMarker, LogPos(nPos));
    }
    return pFound;
}

// ---------------------------------------------------------------------------------------------------------------
// CCache

CCache::CCache(CSource* pSource) : m_pSource(pSource) {
    m_vSubCaches.push_back(std::make_unique<CSubCache>(this, nullptr));
    if (const CTagTypeSingletonData* pEnclosing = EnclosedMarkupTagTypes())
        for (const CStartTagType* pType : pEnclosing->m_vEnclosedMarkupTypes)
            m_vSubCaches.push_back(std::make_unique<CSubCache>(this, pType));
}

std::unique_ptr<CCache> CCache::CREATE_NEW_INST(CSource* pSource) {
    if (!pSource) {
        LogMessage("[CCache::CREATE_NEW_INST] pSource is 0.");
        return nullptr;
    }
    try {
        return std::unique_ptr<CCache>(new CCache(pSource));
    } catch (...) {
        return nullptr;
    }
}

CSubCache* CCache::getSubCache(const CTagType* pTagType) {
    if (!pTagType)
        return nullptr;
    for (size_t i = 1; i < m_vSubCaches.size(); ++i)
        if (m_vSubCaches[i]->getTagType() == pTagType)
            return m_vSubCaches[i].get();
    return nullptr;
}

bool CCache::hasSubCacheFor(const CTagType* pTagType) const {
    if (!pTagType)
        return false;
    for (size_t i = 1; i < m_vSubCaches.size(); ++i)
        if (m_vSubCaches[i]->getTagType() == pTagType)
            return true;
    return false;
}

CTag* CCache::getTagAt(TPos nPos) {
    return getAllTypesSubCache().getTagAt(nPos);
}

CTag* CCache::findPreviousOrNextTag(TPos nPos, const CTagType* pTagType, bool bNext) {
    if (!pTagType)
        return getAllTypesSubCache().findPreviousOrNextTag(nPos, bNext);
    if (CSubCache* pSubCache = getSubCache(pTagType))
        return pSubCache->findPreviousOrNextTag(nPos, bNext);
    return CTag::findPreviousOrNextTagUncached(m_pSource, nPos, pTagType, bNext);
}

CTag* CCache::lookUpUncached(TPos nPos) {
    ++m_nUncachedLookups;
    if (!m_mapRescuedTags.empty()) {
        auto it = m_mapRescuedTags.find(nPos);
        if (it != m_mapRescuedTags.end())
            return it->second;
    }
    return CTag::getTagAtUncached(m_pSource, nPos);
}

void CCache::rescueTags(const CCacheEntryBuffer& vEntries) {
    try {
        for (size_t i = 0; i < vEntries.size(); ++i)
            if (CTag* pTag = vEntries[i].m_pTag)
                m_mapRescuedTags.emplace(pTag->getBegin(), pTag);
    } catch (...) {
        // Without the map a later lookup builds a second object for a position; answers stay the same.
    }
}
