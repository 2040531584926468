#include "html/CTag.h"

#include "html/CElement.h"
#include "log/Log.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------------------------
// Creation

CStartTag::CStartTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName, int nNameIndex,
                     CAttributes* pAttributes, const CStartTagType* pStartTagType)
    : CTag(pSource, nBegin, nEnd, csName, nNameIndex), m_pAttributes(pAttributes),
      m_pStartTagType(pStartTagType) {}

bool CStartTag::checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd,
                                     const std::string& csName, const CAttributes* pAttributes,
                                     const CStartTagType* pStartTagType) {
    if (!CTag::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage(
            "[CStartTag::checkConstructorArgs] CTag::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> "
            "csName <%s>.",
            LogPos(nBegin), LogPos(nEnd), csName.c_str());
        return false;
    }
    if (pAttributes && pAttributes->getSource() != pSource) {
        LogMessage(
            "[CStartTag::checkConstructorArgs] pAttributes's source differs from pSource. nBegin <%d> nEnd "
            "<%d> csName <%s>.",
            LogPos(nBegin), LogPos(nEnd), csName.c_str());
        return false;
    }
    if (!pStartTagType) {
        LogMessage(
            "[CStartTag::checkConstructorArgs] pStartTagTypes is 0. nBegin <%d> nEnd <%d> csName <%s> . ",
            LogPos(nBegin), LogPos(nEnd), csName.c_str());
        return false;
    }
    return true;
}

CStartTag* CStartTag::CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName,
                                      int nNameIndex, CAttributes* pAttributes,
                                      const CStartTagType* pStartTagType) {
    CStartTag* pTag = nullptr;
    if (checkConstructorArgs(pSource, nBegin, nEnd, csName, pAttributes, pStartTagType))
        pTag = pSource->createOwned<CStartTag>(pSource, nBegin, nEnd, csName, nNameIndex, pAttributes,
                                               pStartTagType);
    if (!pTag)
        LogMessage(
            "[CStartTag::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d> csName <%s> .",
            LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return pTag;
}

bool CStartTag::isUnregistered() const {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    return pTypes && m_pStartTagType == &pTypes->m_unregistered;
}

bool CStartTag::isEmptyElementTag() const {
    return getLength() >= 2 && m_pSource->byteAt(m_nEnd - 2) == '/' && m_pSource->byteAt(m_nEnd - 1) == '>';
}

// ---------------------------------------------------------------------------------------------------------------
// Start tags by name

namespace {

// The nearest start tag of any name: walks the nearest tags, passing over end tags.
CStartTag* FindAnyStartTag(CSource* pSource, TPos nPos, bool bNext, TPos nLimit) {
    for (;;) {
        CTag* pTag = (pSource->isAllTypesCacheOn() && pSource->getCache())
                         ? CTag::findPreviousOrNextTag(pSource, nPos, bNext)
                         : CTag::findPreviousOrNextTagUncached(pSource, nPos, bNext, nLimit);
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

// Its address keys the stretches the finder below remembers in a source.
const char s_namedStartTagFinder = 0;

// The nearest start tag whose text begins with '<' and the name: a name that ends in ':' or a character that
// no name holds is a prefix, any other must be the tag's whole name unless the tag type does not demand one.
CStartTag* FindNamedStartTag(CSource* pSource, TPos nPos, const std::string& csSearchName, bool bNext,
                             TPos nLimit) {
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
    auto accept = [&](TPos nHit) -> CTag* {
        CTag* pTag = CTag::getTagAt(pSource, nHit);
        if (pTag && pTag->isStartTag() && !(bValidName && pTag->isUnregistered())) {
            CStartTag* pStart = static_cast<CStartTag*>(pTag);
            if (!pStart->getStartTagType()->isNameAfterPrefixRequired() ||
                pStart->getName().size() <= csSearchName.size() || bPrefixSearch)
                return pStart;
        }
        return nullptr;
    };
    if (bNext)
        return static_cast<CStartTag*>(
            pSource->findNextTagRemembered(&s_namedStartTagFinder, csPattern, nPos, nLimit, accept));
    for (;;) {
        TPos nHit = pSource->findCaselessReverse(csPattern, nPos, nLower);
        if (nHit == INVALID_POS)
            return nullptr;
        if (CTag* pTag = accept(nHit))
            return static_cast<CStartTag*>(pTag);
        if (!StepPastHit(nHit, nLower, bNext, nPos))
            return nullptr;
    }
}

} // namespace

CStartTag* CStartTag::findPreviousOrNext(CSource* pSource, TPos nPos, const std::string& csSearchName,
                                         bool bNext, TPos nLimit) {
    if (!pSource) {
        LogMessage("[CStartTag::findPreviousOrNext] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    if (csSearchName.empty())
        return FindAnyStartTag(pSource, nPos, bNext, nLimit);
    if (csSearchName[0] == '/') {
        LogMessage(
            "[CStartTag::findPreviousOrNext] csSearchName argument \"%s\" must not start with '/' character.",
            csSearchName.c_str());
        return nullptr;
    }
    return FindNamedStartTag(pSource, nPos, csSearchName, bNext, nLimit);
}

// ---------------------------------------------------------------------------------------------------------------
// End tag of a start tag

struct CStartTag::COptionalSearch {
    CStartTag* pStartTag;
    const COptionalEndTagEntry* pEntry;
    TPos nPos;
};

const COptionalEndTagEntry* CStartTag::getOptionalEndTagEntry() const {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    const CHTMLElementsSingletonData* pElements = HTMLElements();
    if (!pTypes || !pElements || m_pStartTagType != &pTypes->m_normal)
        return nullptr;
    return pElements->getOptionalEndTagEntry(m_nNameIndex);
}

CEndTag* CStartTag::createEmptyEndTag(TPos nPos) {
    const CEndTagTypeSingletonData* pEndTypes = EndTagTypes();
    if (!pEndTypes)
        return nullptr;
    return CEndTag::CREATE_NEW_INST(m_pSource, nPos, nPos, &pEndTypes->m_normal, m_csName);
}

bool CStartTag::stepOptionalSearch(COptionalSearch& search, CEndTag*& pResult, CStartTag*& pNeedElement) {
    const COptionalEndTagEntry& entry = *search.pEntry;
    for (;;) {
        CTag* pTag = m_pSource->contains(search.nPos)
                         ? findPreviousOrNextTag(m_pSource, search.nPos, SEARCH_NEXT)
                         : nullptr;
        if (!pTag) {
            pResult = createEmptyEndTag(m_pSource->getEnd());
            if (!pResult)
                LogMessage(
                    "[CStartTag::findOptionalEndTag] CEndTag::CREATE_NEW_INST() failed when creating an "
                    "empty "
                    "end tag at the end of the source document. Start tag <%s> nBegin <%d> nEnd <%d> .",
                    m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
            return true;
        }
        bool bTerminates;
        if (pTag->isStartTag()) {
            if (entry.m_nonterminatingElements.contains(pTag->getNameIndex())) {
                CStartTag* pNested = static_cast<CStartTag*>(pTag);
                if (!pNested->m_bElementComputed) {
                    pNeedElement = pNested;
                    return false;
                }
                search.nPos = pNested->m_pElement ? pNested->m_pElement->getEnd() : pNested->getEnd();
                continue;
            }
            bTerminates = entry.m_terminatingStartTags.contains(pTag->getNameIndex());
        } else {
            bool bSameName = m_nNameIndex != INVALID_NAME_INDEX ? pTag->getNameIndex() == m_nNameIndex
                                                                : EqualsCaseless(pTag->getName(), m_csName);
            if (bSameName) {
                pResult = static_cast<CEndTag*>(pTag);
                return true;
            }
            bTerminates = entry.m_terminatingEndTags.contains(pTag->getNameIndex());
        }
        if (bTerminates) {
            pResult = createEmptyEndTag(pTag->getBegin());
            if (!pResult)
                LogMessage("[CStartTag::findOptionalEndTag] CEndTag::CREATE_NEW_INST() failed when creating "
                           "an empty "
                           "end tag at <%d>. Start tag <%s> nBegin <%d> nEnd <%d>",
                           LogPos(pTag->getBegin()), m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
            return true;
        }
        search.nPos = pTag->getBegin() + 1;
    }
}

CEndTag* CStartTag::findOptionalEndTag(const COptionalEndTagEntry& entry) {
    COptionalSearch search{this, &entry, m_nEnd};
    for (;;) {
        CEndTag* pResult = nullptr;
        CStartTag* pNeed = nullptr;
        if (stepOptionalSearch(search, pResult, pNeed))
            return pResult;
        CElement* pElement = pNeed->getElement();
        search.nPos = pElement ? pElement->getEnd() : pNeed->getEnd();
    }
}

CStartTag* CStartTag::nextSameNameStartTag(TPos nFrom, bool bSkipEmptyElementTags) {
    for (;;) {
        if (!m_pSource->contains(nFrom))
            return nullptr;
        CStartTag* pTag = findPreviousOrNext(m_pSource, nFrom, m_csName, SEARCH_NEXT);
        if (!pTag || !(bSkipEmptyElementTags && pTag->isEmptyElementTag()))
            return pTag;
        nFrom = pTag->getEnd();
    }
}

// Pairs start and end tags of one name as nesting implies, with an explicit stack: each frame is a start tag
// still waiting for its end tag, together with the candidate end tag and the next start tag of the name.
CEndTag* CStartTag::matchNested(CEndTag* pEndTag, bool bSkipEmptyElementTags) {
    struct CFrame {
        CStartTag* pStart;
        CEndTag* pEnd;
        CStartTag* pNext;
        // The candidate the frame started from: the first end tag after the start tag, unless one lies
        // inside the start tag, when the tag's own matching would start elsewhere.
        CEndTag* pFirstEnd;
    };
    const CEndTagType* pEndType = m_pStartTagType->getCorrespondingEndTagType();
    std::vector<CFrame> vStack;
    try {
        vStack.push_back(CFrame{this, pEndTag, nextSameNameStartTag(m_nEnd, bSkipEmptyElementTags), pEndTag});
        for (;;) {
            CFrame& top = vStack.back();
            if (top.pNext && top.pNext->getBegin() <= top.pEnd->getBegin()) {
                CStartTag* pNested = top.pNext;
                CEndTag* pCandidate = top.pEnd;
                vStack.push_back(CFrame{pNested, pCandidate,
                                        nextSameNameStartTag(pNested->getEnd(), bSkipEmptyElementTags),
                                        pCandidate});
                continue;
            }
            CFrame done = top;
            vStack.pop_back();
            if (vStack.empty())
                return done.pEnd;
            // The nested tag's own matching would start from the same candidate and take the same steps, so
            // its answer is kept for when its element is asked for.
            if (done.pEnd->getBegin() >= done.pStart->getEnd() && !done.pStart->m_pMatchedEndTagHint)
                done.pStart->m_pMatchedEndTagHint = done.pEnd;
            CFrame& parent = vStack.back();
            parent.pNext = done.pNext;
            parent.pEnd = m_pSource->contains(done.pEnd->getEnd())
                              ? CEndTag::findPreviousOrNext(m_pSource, done.pEnd->getEnd(), m_csName,
                                                            pEndType, SEARCH_NEXT)
                              : nullptr;
            if (!parent.pEnd) {
                // Every tag still waiting would, matched on its own, take the same steps from its frame on
                // and run out of end tags here as well.
                for (const CFrame& frame : vStack)
                    if (frame.pStart->m_pStartTagType == m_pStartTagType &&
                        frame.pFirstEnd->getBegin() >= frame.pStart->getEnd())
                        frame.pStart->m_bNestedMatchFailed = true;
                return nullptr;
            }
        }
    } catch (...) {
        return nullptr;
    }
}

CEndTag* CStartTag::findEndTagInternal() {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    const CHTMLElementsSingletonData* pElements = HTMLElements();
    if (!pTypes || !pElements)
        return nullptr;
    const bool bNormal = m_pStartTagType == &pTypes->m_normal;
    if (bNormal) {
        if (const COptionalEndTagEntry* pEntry = pElements->getOptionalEndTagEntry(m_nNameIndex)) {
            CEndTag* pEnd = findOptionalEndTag(*pEntry);
            if (!pEnd)
                LogMessage(
                    "[CStartTag::findEndTagInternal] findOptionalEndTag failed. Start tag <%s> nBegin <%d> "
                    "nEnd <%d>.",
                    m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
            return pEnd;
        }
        if (pElements->m_endTagForbidden.contains(m_nNameIndex))
            return nullptr;
        if (!pElements->m_endTagRequired.contains(m_nNameIndex) && isEmptyElementTag())
            return nullptr;
    }
    const CEndTagType* pEndType = m_pStartTagType->getCorrespondingEndTagType();
    if (!pEndType)
        return nullptr;
    CEndTag* pEnd = m_pSource->contains(m_nEnd)
                        ? CEndTag::findPreviousOrNext(m_pSource, m_nEnd, m_csName, pEndType, SEARCH_NEXT)
                        : nullptr;
    if (pEnd && pElements->m_nonNesting.contains(m_nNameIndex)) {
        CStartTag* pNext = nextSameNameStartTag(m_nEnd, false);
        if (!pNext || pNext->getBegin() > pEnd->getBegin())
            return pEnd;
        LogMessage(
            "[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag - invalid nested "
            "start tag encountered before and tag.",
            m_csName.c_str(), LogPos(m_nBegin));
        CEndTag* pEmpty = createEmptyEndTag(pNext->getBegin());
        if (!pEmpty)
            LogMessage("[CStartTag::findEndTagInternal] CEndTag::CREATE_NEW_INST() failed when creating an "
                       "empty end "
                       "tag at <%d>. Start tag <%s> nBegin <%d> nEnd <%d>.",
                       LogPos(pNext->getBegin()), m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
        return pEmpty;
    }
    if (pEnd) {
        if (m_pMatchedEndTagHint)
            return m_pMatchedEndTagHint;
        const bool bSkip = !bNormal || !pElements->m_endTagRequired.contains(m_nNameIndex);
        if (!m_bNestedMatchFailed)
            if (CEndTag* pMatch = matchNested(pEnd, bSkip))
                return pMatch;
    }
    LogMessage("[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag.",
               m_csName.c_str(), LogPos(m_nBegin));
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// Element of a tag

void CStartTag::completeElement(CEndTag* pEndTag) {
    CElement* pElement = CElement::CREATE_NEW_INST(m_pSource, this, pEndTag);
    if (!pElement)
        LogMessage("[CStartTag::getElement] CElement::CREATE_NEW_INST() failed. Start tag <%s> nBegin <%d> "
                   "nEnd <%d>.",
                   m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
    m_pElement = pElement;
    m_bElementComputed = true;
    if (pElement && pEndTag && !pEndTag->isEmpty()) {
        if (pEndTag->hasElement())
            LogMessage("[CStartTag::getElement] EndTag <%s> at pos <%d> terminates more than one element.",
                       pEndTag->getName().c_str(), LogPos(pEndTag->getBegin()));
        pEndTag->setElement(pElement);
    }
}

// Optional end tags are searched with a stack of suspended searches: a search that meets a nested element it
// must skip whole (an <html> inside <body>, say) computes that element first, which may itself be such a
// search.
CElement* CStartTag::getElement() {
    if (m_bElementComputed)
        return m_pElement;
    std::vector<COptionalSearch> vStack;
    CStartTag* pTag = this;
    try {
        for (;;) {
            if (const COptionalEndTagEntry* pEntry = pTag->getOptionalEndTagEntry()) {
                vStack.push_back(COptionalSearch{pTag, pEntry, pTag->m_nEnd});
            } else {
                pTag->completeElement(pTag->findEndTagInternal());
                if (!vStack.empty())
                    vStack.back().nPos = pTag->m_pElement ? pTag->m_pElement->getEnd() : pTag->getEnd();
            }
            CStartTag* pNeed = nullptr;
            while (!vStack.empty()) {
                COptionalSearch& search = vStack.back();
                CEndTag* pResult = nullptr;
                if (!search.pStartTag->stepOptionalSearch(search, pResult, pNeed))
                    break;
                CStartTag* pDone = search.pStartTag;
                if (!pResult)
                    LogMessage("[CStartTag::findEndTagInternal] findOptionalEndTag failed. Start tag <%s> "
                               "nBegin <%d> "
                               "nEnd <%d>.",
                               pDone->m_csName.c_str(), LogPos(pDone->m_nBegin), LogPos(pDone->m_nEnd));
                pDone->completeElement(pResult);
                vStack.pop_back();
                if (!vStack.empty())
                    vStack.back().nPos = pDone->m_pElement ? pDone->m_pElement->getEnd() : pDone->getEnd();
            }
            if (vStack.empty())
                break;
            pTag = pNeed;
        }
    } catch (...) {
        // Out of memory: whatever is unfinished gets no element.
        if (!m_bElementComputed)
            m_bElementComputed = true;
    }
    return m_pElement;
}
