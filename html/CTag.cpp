#include "html/CTag.h"

#include "html/CElement.h"
#include "log/Log.h"

#include <algorithm>

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

// ---------------------------------------------------------------------------------------------------------------
// Start tags by name

CStartTag* CStartTag::findPreviousOrNext(CSource* pSource, TPos nPos, const std::string& csSearchName,
                                         bool bNext, TPos nLimit) {
    if (!pSource) {
        LogMessage("[CStartTag::findPreviousOrNext] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    if (csSearchName.empty()) {
        // Any start tag: walk the nearest tags, passing over end tags.
        for (;;) {
            CTag* pTag = (pSource->isAllTypesCacheOn() && pSource->getCache())
                             ? findPreviousOrNextTag(pSource, nPos, bNext)
                             : findPreviousOrNextTagUncached(pSource, nPos, bNext, nLimit);
            if (!pTag)
                return nullptr;
            if (bNext ? (nLimit != INVALID_POS && pTag->getBegin() >= nLimit)
                      : (nLimit != INVALID_POS && pTag->getBegin() < nLimit))
                return nullptr;
            if (pTag->isStartTag())
                return static_cast<CStartTag*>(pTag);
            if (bNext)
                nPos = pTag->getBegin() + 1;
            else if (pTag->getBegin() == pSource->getBegin())
                return nullptr;
            else
                nPos = pTag->getBegin() - 1;
            if (!pSource->contains(nPos))
                return nullptr;
        }
    }
    if (csSearchName[0] == '/') {
        LogMessage(
            "[CStartTag::findPreviousOrNext] csSearchName argument \"%s\" must not start with '/' character.",
            csSearchName.c_str());
        return nullptr;
    }
    std::string csPattern;
    try {
        csPattern = "<" + csSearchName;
    } catch (...) {
        return nullptr;
    }
    const bool bValidName = IsValidName(csSearchName);
    const unsigned char cLast = static_cast<unsigned char>(csSearchName.back());
    const bool bPrefixSearch = cLast == ':' || !IsNameChar(cLast);
    TPos nLower = (nLimit == INVALID_POS || nLimit < pSource->getBegin()) ? pSource->getBegin() : nLimit;
    for (;;) {
        TPos nHit = bNext ? pSource->findCaselessBefore(csPattern, nPos, nLimit)
                          : pSource->findCaselessReverse(csPattern, nPos, nLower);
        if (nHit == INVALID_POS || (bNext && nLimit != INVALID_POS && nHit >= nLimit))
            return nullptr;
        CTag* pTag = getTagAt(pSource, nHit);
        if (pTag && pTag->isStartTag() && !(bValidName && pTag->isUnregistered())) {
            CStartTag* pStart = static_cast<CStartTag*>(pTag);
            if (!pStart->getStartTagType()->isNameAfterPrefixRequired() ||
                pStart->getName().size() <= csSearchName.size() || bPrefixSearch)
                return pStart;
        }
        if (bNext) {
            nPos = nHit + 1;
        } else {
            if (nHit == nLower)
                return nullptr;
            nPos = nHit - 1;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// End tags

CEndTag::CEndTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName, int nNameIndex,
                 const CEndTagType* pEndTagType)
    : CTag(pSource, nBegin, nEnd, csName, nNameIndex), m_pEndTagType(pEndTagType) {}

bool CEndTag::checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd,
                                   const CEndTagType* pEndTagType, const std::string& csName) {
    if (!CTag::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage("[CEndTag::checkConstructorArgs] CTag::checkConstructorArgs() failed. nBegin <%d> nEnd "
                   "<%d> csName "
                   "<%s> .",
                   LogPos(nBegin), LogPos(nEnd), csName.c_str());
        return false;
    }
    if (!pEndTagType) {
        LogMessage("[CEndTag::checkConstructorArgs] pEndTagType is 0. nBegin <%d> nEnd <%d> csName <%s> .",
                   LogPos(nBegin), LogPos(nEnd), csName.c_str());
        return false;
    }
    return true;
}

CEndTag* CEndTag::CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd, const CEndTagType* pEndTagType,
                                  const std::string& csName) {
    CEndTag* pTag = nullptr;
    if (checkConstructorArgs(pSource, nBegin, nEnd, pEndTagType, csName))
        pTag = pSource->createOwned<CEndTag>(pSource, nBegin, nEnd, csName, GetHTMLNameIndex(csName),
                                             pEndTagType);
    if (!pTag)
        LogMessage("[CTag::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d> csName <%s>",
                   LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return pTag;
}

bool CEndTag::isUnregistered() const {
    const CEndTagTypeSingletonData* pTypes = EndTagTypes();
    return pTypes && m_pEndTagType == &pTypes->m_unregistered;
}

CEndTag* CEndTagType::constructEndTag(CSource* pSource, TPos nBegin, TPos nEnd,
                                      const std::string& csName) const {
    CEndTag* pTag = CEndTag::CREATE_NEW_INST(pSource, nBegin, nEnd, this, csName);
    if (!pTag)
        LogMessage(
            "[CEndTagType::constructEndTag] CEndTag::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d>, csName "
            "<%s>.",
            LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return pTag;
}

CTag* CEndTagTypeGenericImplementation::constructTagAt(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CEndTagTypeGenericImplementation::constructTagAt] pSource is 0. nPos <%d>. ",
                   LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos) || !pSource->startsWithCaseless(nPos, m_csStartDelimiter))
        return nullptr;
    TPos nNamePos = nPos + m_csStartDelimiter.size();
    if (nNamePos >= pSource->getEnd() || !IsNameStartChar(pSource->byteAt(nNamePos)))
        return nullptr;
    TPos nNameEnd = nNamePos + 1;
    while (nNameEnd < pSource->getEnd() && IsNameChar(pSource->byteAt(nNameEnd)))
        ++nNameEnd;
    std::string csName(pSource->view(nNamePos, nNameEnd));
    if (!pSource->startsWithCaseless(nNameEnd, m_csClosingDelimiter)) {
        LogMessage(
            "[CEndTagGenericImplementation::constructTagAt] EndTag <%s> at <%d> not recognized as type <%s> "
            "because its closing delimiter does not immediately follow its name.",
            csName.c_str(), LogPos(nPos), m_csDescription.c_str());
        return nullptr;
    }
    TPos nEnd = nNameEnd + m_csClosingDelimiter.size();
    CEndTag* pTag = constructEndTag(pSource, nPos, nEnd, csName);
    if (!pTag)
        LogMessage("[CEndTagGenericImplementation::constructTagAt] constructEndTag failed. nPos <%d> nEnd "
                   "<%d> csName "
                   "<%s>",
                   LogPos(nPos), LogPos(nEnd), csName.c_str());
    return pTag;
}

CTag* CEndTagTypeUnregistered::constructTagAt(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CEndTagTypeUnregistered::constructTagAt] pSource is 0. nPos <%d>. ", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos) || !pSource->startsWithCaseless(nPos, m_csStartDelimiter))
        return nullptr;
    TPos nClose = pSource->findCaselessToEnd(">", nPos + 2);
    if (nClose == INVALID_POS) {
        LogMessage("[CEndTagTypeUnregistered::getTagAt] Tag at <%d> not recognized as type <%s> because it "
                   "has no end "
                   "delimiter.",
                   LogPos(nPos), m_csDescription.c_str());
        return nullptr;
    }
    std::string csName(pSource->view(nPos + 2, nClose));
    CEndTag* pTag = constructEndTag(pSource, nPos, nClose + 1, csName);
    if (pTag)
        LogMessage("[CEndTagTypeUnregistered::constructTagAt] Encountered possible EndTag <%s> at <%d> whose "
                   "content "
                   "does not match a registered EndTagType.",
                   csName.c_str(), LogPos(nPos));
    else
        LogMessage("[CEndTagTypeUnregistered::constructTagAt] Encountered possible EndTag <%s> at <%d> whose "
                   "content "
                   "does not match a registered EndTagType. constructEndTag failed.",
                   csName.c_str(), LogPos(nPos));
    return pTag;
}

CEndTag* CEndTag::findPreviousOrNext(CSource* pSource, TPos nPos, const std::string& csName,
                                     const CEndTagType* pEndTagType, bool bNext, TPos nLimit) {
    if (!pSource || !pEndTagType) {
        LogMessage("[CEndTag::findPreviousOrNext] pSource or pEndTagType is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    TPos nLower = (nLimit == INVALID_POS || nLimit < pSource->getBegin()) ? pSource->getBegin() : nLimit;
    if (csName.empty()) {
        for (;;) {
            CTag* pTag = findPreviousOrNextTag(pSource, nPos, pEndTagType, bNext);
            if (!pTag)
                return nullptr;
            if (bNext ? (nLimit != INVALID_POS && pTag->getBegin() >= nLimit) : pTag->getBegin() < nLower)
                return nullptr;
            if (!pTag->isStartTag() && pTag->getTagType() == pEndTagType)
                return static_cast<CEndTag*>(pTag);
            if (bNext)
                nPos = pTag->getBegin() + 1;
            else if (pTag->getBegin() == nLower)
                return nullptr;
            else
                nPos = pTag->getBegin() - 1;
            if (!pSource->contains(nPos))
                return nullptr;
        }
    }
    std::string csPattern;
    try {
        csPattern = pEndTagType->getStartDelimiter() + csName + pEndTagType->getClosingDelimiter();
    } catch (...) {
        return nullptr;
    }
    for (;;) {
        TPos nHit = bNext ? pSource->findCaselessToEnd(csPattern, nPos)
                          : pSource->findCaselessReverse(csPattern, nPos, nLower);
        if (nHit == INVALID_POS || (bNext && nLimit != INVALID_POS && nHit >= nLimit))
            return nullptr;
        CTag* pTag = getTagAt(pSource, nHit);
        if (pTag && !pTag->isStartTag() && pTag->getTagType() == pEndTagType)
            return static_cast<CEndTag*>(pTag);
        if (bNext) {
            nPos = nHit + 1;
        } else {
            if (nHit == nLower)
                return nullptr;
            nPos = nHit - 1;
        }
    }
}
