#include "html/CTag.h"

#include "html/CElement.h"
#include "log/Log.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------------------------
// Creation

CTag::CTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName, int nNameIndex)
    : CSegment(pSource, nBegin, nEnd), m_csName(csName), m_nNameIndex(nNameIndex) {}

bool CTag::checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd) {
    if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage(
            "[CTag::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> .",
            LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Tag at a position

CTag* CTag::getTagAt(CSource* pSource, TPos nPos) {
    if (!pSource) {
        LogMessage("[CTag::getTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    if (pSource->isAllTypesCacheOn() && pSource->getCache())
        return pSource->getCache()->getTagAt(nPos);
    // Without a cache, one object per position: the answer at a position never changes.
    auto it = pSource->m_mapTagAt.find(nPos);
    if (it != pSource->m_mapTagAt.end())
        return it->second;
    CTag* pTag = getTagAtUncached(pSource, nPos);
    try {
        pSource->m_mapTagAt.emplace(nPos, pTag);
    } catch (...) {
    }
    return pTag;
}

CTag* CTag::getTagAtUncached(CSource* pSource, TPos nPos) {
    if (!pSource) {
        LogMessage("[CTag::getTagAtUncached] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    return CTagType::getTagAt(pSource, nPos, false);
}

// ---------------------------------------------------------------------------------------------------------------
// Nearest tag

CTag* CTag::findPreviousOrNextTag(CSource* pSource, TPos nPos, bool bNext) {
    if (!pSource) {
        LogMessage("[CTag::findPreviousOrNextTag] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    if (pSource->isAllTypesCacheOn() && pSource->getCache())
        return pSource->getCache()->findPreviousOrNextTag(nPos, nullptr, bNext);
    return findPreviousOrNextTagUncached(pSource, nPos, bNext);
}

CTag* CTag::findPreviousOrNextTag(CSource* pSource, TPos nPos, const CTagType* pTagType, bool bNext) {
    if (!pSource) {
        LogMessage("[CTag::findPreviousOrNextTag] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pTagType)
        return findPreviousOrNextTag(pSource, nPos, bNext);
    if (!pSource->contains(nPos))
        return nullptr;
    ITagCache* pCache = pSource->getCache();
    if (pSource->isTypedCacheOn() && pCache && pCache->hasSubCacheFor(pTagType))
        return pCache->findPreviousOrNextTag(nPos, pTagType, bNext);
    return findPreviousOrNextTagUncached(pSource, nPos, pTagType, bNext);
}

CTag* CTag::findPreviousOrNextTagUncached(CSource* pSource, TPos nPos, bool bNext, TPos nLimit) {
    if (!pSource) {
        LogMessage("[CTag::findPreviousOrNextTagUncached] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    if (bNext) {
        TPos nEnd = (nLimit == INVALID_POS || nLimit > pSource->getEnd()) ? pSource->getEnd() : nLimit;
        while (nPos < nEnd) {
            TPos nHit = pSource->findChar('<', nPos, nEnd);
            if (nHit == INVALID_POS)
                return nullptr;
            CTag* pTag = getTagAt(pSource, nHit);
            if (pTag && !pTag->isUnregistered())
                return pTag;
            nPos = nHit + 1;
        }
        return nullptr;
    }
    TPos nLower = (nLimit == INVALID_POS || nLimit < pSource->getBegin()) ? pSource->getBegin() : nLimit;
    for (;;) {
        TPos nHit = pSource->findCharReverse('<', nPos, nLower);
        if (nHit == INVALID_POS)
            return nullptr;
        CTag* pTag = getTagAt(pSource, nHit);
        if (pTag && !pTag->isUnregistered())
            return pTag;
        if (nHit == nLower)
            return nullptr;
        nPos = nHit - 1;
    }
}

CTag* CTag::findPreviousOrNextTagUncached(CSource* pSource, TPos nPos, const CTagType* pTagType, bool bNext,
                                          TPos nLimit) {
    if (!pSource) {
        LogMessage("[CTag::findPreviousOrNextTagUncached] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pTagType)
        return findPreviousOrNextTagUncached(pSource, nPos, bNext, nLimit);
    if (!pSource->contains(nPos))
        return nullptr;
    const CTagTypeSingletonData* pEnclosing = EnclosedMarkupTagTypes();
    if (pEnclosing) {
        const auto& vTypes = pEnclosing->m_vEnclosedMarkupTypes;
        if (std::find(vTypes.begin(), vTypes.end(), pTagType) != vTypes.end())
            return findHidingTag(pSource, nPos, pTagType, bNext, nLimit);
    }
    const std::string& csDelimiter = pTagType->getStartDelimiter();
    if (bNext) {
        TPos nEnd = (nLimit == INVALID_POS || nLimit > pSource->getEnd()) ? pSource->getEnd() : nLimit;
        while (nPos < nEnd) {
            TPos nHit = pSource->findCaselessToEnd(csDelimiter, nPos);
            if (nHit == INVALID_POS || nHit >= nEnd)
                return nullptr;
            CTag* pTag = getTagAt(pSource, nHit);
            if (pTag && pTag->getTagType() == pTagType)
                return pTag;
            nPos = nHit + 1;
        }
        return nullptr;
    }
    TPos nLower = (nLimit == INVALID_POS || nLimit < pSource->getBegin()) ? pSource->getBegin() : nLimit;
    for (;;) {
        TPos nHit = pSource->findCaselessReverse(csDelimiter, nPos, nLower);
        if (nHit == INVALID_POS)
            return nullptr;
        CTag* pTag = getTagAt(pSource, nHit);
        if (pTag && pTag->getTagType() == pTagType)
            return pTag;
        if (nHit == nLower)
            return nullptr;
        nPos = nHit - 1;
    }
}

// The tags that hide markup (comments and CDATA sections) never overlap: one starting inside another is not
// recognised. So a single forward walk finds all of them, and the nearest one before or after a position is a
// binary search. Answering from that walk, instead of searching backward for a delimiter and asking whether
// each hit itself lies inside an earlier one, keeps position checks free of recursion and linear over a page.
void CTag::scanHidingTags(CSource* pSource, TPos nUpTo) {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    if (!pTypes)
        return;
    while (pSource->m_nHidingScanPos <= nUpTo && pSource->m_nHidingScanPos < pSource->getEnd()) {
        TPos nHit = pSource->findCaselessToEnd("<!", pSource->m_nHidingScanPos);
        if (nHit == INVALID_POS) {
            pSource->m_nHidingScanPos = pSource->getEnd();
            return;
        }
        pSource->m_nHidingScanPos = nHit + 1;
        if (nHit < pSource->m_nHidingLastEnd)
            continue; // inside the previous comment or CDATA section
        // The candidate walk compares bytes exactly, so only these spellings start the two types.
        const CStartTagType* pType = nullptr;
        int nKind = 0;
        std::string_view rest = pSource->view(nHit, std::min<TPos>(nHit + 9, pSource->getEnd()));
        if (rest.substr(0, 4) == "<!--") {
            pType = &pTypes->m_comment;
            nKind = 0;
        } else if (rest == "<![cdata[") {
            pType = &pTypes->m_cdataSection;
            nKind = 1;
        } else {
            continue;
        }
        // The position check inside asks only about tags before nHit, which the walk has already found.
        CTag* pTag = getTagAt(pSource, nHit);
        if (!pTag || pTag->getTagType() != pType)
            continue;
        try {
            pSource->m_vHidingTags[nKind].push_back(static_cast<CStartTag*>(pTag));
        } catch (...) {
            return;
        }
        pSource->m_nHidingLastEnd = pTag->getEnd();
    }
}

CTag* CTag::findHidingTag(CSource* pSource, TPos nPos, const CTagType* pTagType, bool bNext, TPos nLimit) {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    if (!pTypes)
        return nullptr;
    int nKind = pTagType == &pTypes->m_comment ? 0 : 1;
    const std::vector<CStartTag*>& vTags = pSource->m_vHidingTags[nKind];
    if (bNext) {
        TPos nEnd = (nLimit == INVALID_POS || nLimit > pSource->getEnd()) ? pSource->getEnd() : nLimit;
        // Walk until a tag of the kind at or after nPos is known, or the walk passed the limit.
        for (;;) {
            auto it = std::lower_bound(vTags.begin(), vTags.end(), nPos,
                                       [](const CStartTag* p, TPos n) { return p->getBegin() < n; });
            if (it != vTags.end())
                return (*it)->getBegin() < nEnd ? *it : nullptr;
            if (pSource->m_nHidingScanPos >= nEnd)
                return nullptr;
            scanHidingTags(pSource, std::max(nPos, pSource->m_nHidingScanPos));
        }
    }
    scanHidingTags(pSource, nPos);
    auto it = std::upper_bound(vTags.begin(), vTags.end(), nPos,
                               [](TPos n, const CStartTag* p) { return n < p->getBegin(); });
    if (it == vTags.begin())
        return nullptr;
    CStartTag* pTag = *(it - 1);
    TPos nLower = (nLimit == INVALID_POS) ? pSource->getBegin() : nLimit;
    return pTag->getBegin() >= nLower ? pTag : nullptr;
}
