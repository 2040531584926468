#include "html/CTag.h"

#include "html/CElement.h"
#include "log/Log.h"

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
    auto accept = [pSource, pEndTagType](TPos nHit) -> CTag* {
        CTag* pTag = getTagAt(pSource, nHit);
        return pTag && !pTag->isStartTag() && pTag->getTagType() == pEndTagType ? pTag : nullptr;
    };
    if (bNext)
        return static_cast<CEndTag*>(
            pSource->findNextTagRemembered(pEndTagType, csPattern, nPos, nLimit, accept));
    for (;;) {
        TPos nHit = pSource->findCaselessReverse(csPattern, nPos, nLower);
        if (nHit == INVALID_POS)
            return nullptr;
        if (CTag* pTag = accept(nHit))
            return static_cast<CEndTag*>(pTag);
        if (!StepPastHit(nHit, nLower, bNext, nPos))
            return nullptr;
    }
}

CElement* CEndTag::getElement() {
    if (m_bElementComputed || m_pElement)
        return m_pElement;
    m_bElementComputed = true;
    TPos nPos = m_nBegin;
    while (m_pSource->contains(nPos)) {
        CStartTag* pStart = CStartTag::findPreviousOrNext(m_pSource, nPos, std::string(), SEARCH_PREVIOUS);
        if (!pStart)
            break;
        CElement* pElement = pStart->getElement();
        if (pElement && pElement->getEndTag() == this) {
            m_pElement = pElement;
            return pElement;
        }
        if (pStart->getBegin() == m_pSource->getBegin())
            break;
        nPos = pStart->getBegin() - 1;
    }
    return m_pElement;
}
