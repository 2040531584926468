#include "html/CDOMSource.h"

#include "abi/HostAbi.h"
#include "log/Log.h"

#include <cstdint>
#include <utility>

// ---------------------------------------------------------------------------------------------------------------
// Exceptions

CDOMParserException::CDOMParserException(std::string csMessage, int64_t nCode)
    : m_csMessage(std::move(csMessage)), m_nCode(nCode) {}

CDOMParserException::~CDOMParserException() = default;

CDOMParserUndefinedObjectException::CDOMParserUndefinedObjectException(const std::string& csDetail)
    : CDOMParserException("Undefined DOM object.[" + csDetail + "]", -1) {}

CDOMParserIllegalArgumentException::CDOMParserIllegalArgumentException(const std::string& csDetail,
                                                                       int64_t nCode)
    : CDOMParserException("Illegal argument.[" + csDetail + "]", nCode) {}

// ---------------------------------------------------------------------------------------------------------------
// CDOMSource

namespace {

// The offset of a host address in the response data; none for a missing address or one below the data
// begin. Compared as integers: a wrong address need not point into the buffer at all.
TPos PositionOf(const char* pAddress, const char* pDataBegin) {
    if (!pAddress || !pDataBegin)
        return INVALID_POS;
    const uintptr_t nAddress = reinterpret_cast<uintptr_t>(pAddress);
    const uintptr_t nDataBegin = reinterpret_cast<uintptr_t>(pDataBegin);
    if (nAddress < nDataBegin)
        return INVALID_POS;
    return static_cast<TPos>(nAddress - nDataBegin);
}

const CEndTagType* NormalEndTagType() {
    const CEndTagTypeSingletonData* pTypes = EndTagTypes();
    return pTypes ? &pTypes->m_normal : nullptr;
}

// The normal start tag at a position the host located. The finders' object is preferred when it is that
// same tag, so that the element computed for it is shared with every other search of the page.
CStartTag* NormalStartTagAt(CSource* pSource, TPos nPos) {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    if (!pTypes || !pSource->contains(nPos))
        return nullptr;
    CTag* pKnown = CTag::getTagAt(pSource, nPos);
    if (pKnown && pKnown->isStartTag() && pKnown->getTagType() == &pTypes->m_normal)
        return static_cast<CStartTag*>(pKnown);
    CTag* pTag = pTypes->m_normal.constructTagAt(pSource, nPos);
    return (pTag && pTag->isStartTag()) ? static_cast<CStartTag*>(pTag) : nullptr;
}

CEndTag* NormalEndTagAt(CSource* pSource, TPos nPos) {
    const CEndTagType* pType = NormalEndTagType();
    if (!pType || !pSource->contains(nPos))
        return nullptr;
    CTag* pKnown = CTag::getTagAt(pSource, nPos);
    if (pKnown && !pKnown->isStartTag() && pKnown->getTagType() == pType)
        return static_cast<CEndTag*>(pKnown);
    CTag* pTag = pType->constructTagAt(pSource, nPos);
    return (pTag && !pTag->isStartTag()) ? static_cast<CEndTag*>(pTag) : nullptr;
}

CStartTag* FirstStartTag(CSource* pSource, const char* pszName) {
    if (pSource->getBegin() >= pSource->getEnd())
        return nullptr;
    return CStartTag::findPreviousOrNext(pSource, pSource->getBegin(), pszName, SEARCH_NEXT);
}

// The last end tag with the name whose '<' lies at or before nPos.
CEndTag* LastEndTagAtOrBefore(CSource* pSource, const char* pszName, TPos nPos) {
    const CEndTagType* pType = NormalEndTagType();
    if (!pType || pSource->getBegin() >= pSource->getEnd() || nPos == INVALID_POS ||
        nPos < pSource->getBegin())
        return nullptr;
    if (nPos >= pSource->getEnd())
        nPos = pSource->getEnd() - 1;
    return CEndTag::findPreviousOrNext(pSource, nPos, pszName, pType, SEARCH_PREVIOUS);
}

CEndTag* LastEndTagInSource(CSource* pSource, const char* pszName) {
    return LastEndTagAtOrBefore(pSource, pszName, pSource->getEnd());
}

// The implied end tag at the source end that closes an html element whose end tag is missing.
CEndTag* EmptyEndTagAtSourceEnd(CSource* pSource, const char* pszName) {
    const CEndTagType* pType = NormalEndTagType();
    if (!pType)
        return nullptr;
    return CEndTag::CREATE_NEW_INST(pSource, pSource->getEnd(), pSource->getEnd(), pType, pszName);
}

} // namespace

CDOMSource::CDOMSource(const CCommonPointers& rPointers) {
    try {
        initializeFromHost(rPointers);
    } catch (...) {
        // Out of memory half way: what was built stays usable, the rest is searched lazily or stays
        // undefined. A constructor of the facade must not throw at the form that builds it.
    }
}

void CDOMSource::initializeFromHost(const CCommonPointers& rPointers) {
    const char* pDataBegin = rPointers.m_pDataBegin;
    TPos nBegin = PositionOf(rPointers.m_pHtmlDataBegin, pDataBegin);
    if (nBegin == INVALID_POS)
        nBegin = 0;
    // data last - data begin + 1; a last address one below the begin is an empty page.
    TPos nEnd = INVALID_POS;
    if (pDataBegin && rPointers.m_pDataLast) {
        const uintptr_t nLast = reinterpret_cast<uintptr_t>(rPointers.m_pDataLast);
        const uintptr_t nFirst = reinterpret_cast<uintptr_t>(pDataBegin);
        if (nLast + 1 >= nFirst && nLast != UINTPTR_MAX)
            nEnd = static_cast<TPos>(nLast + 1 - nFirst);
    }
    std::unique_ptr<CSource> pSource;
    if (pDataBegin && nEnd != INVALID_POS)
        pSource = CSource::CREATE_NEW_INST(pDataBegin, nBegin, nEnd);
    if (!pSource) {
        LogMessage("[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d>.",
                   LogPos(nBegin), LogPos(nEnd));
        return;
    }
    m_spSource = CSourcePtr(std::move(pSource));
    CSource* pSrc = m_spSource.get();

    // HTML: from the host's address to the last </html>, or to the source end when there is none.
    TPos nPos = PositionOf(rPointers.m_pHtmlStartTag, pDataBegin);
    if (nPos != INVALID_POS) {
        if (CStartTag* pStartTag = NormalStartTagAt(pSrc, nPos)) {
            CEndTag* pEndTag = LastEndTagInSource(pSrc, HTML_ELEMENT_NAME_HTML);
            if (!pEndTag) {
                pEndTag = EmptyEndTagAtSourceEnd(pSrc, HTML_ELEMENT_NAME_HTML);
                if (!pEndTag)
                    LogMessage(
                        "[CDOMSource::CDOMSource] HTML element initialization: CEndTag::CREATE_NEW_INST() "
                        "failed when creating an empty end tag at the end of the source document. nPos "
                        "<%d> .",
                        LogPos(pSrc->getEnd()));
            }
            m_bHtmlInitialized = true;
            CElement* pElement = pEndTag ? elementFromTags(pStartTag, pEndTag) : nullptr;
            if (pEndTag && !pElement)
                LogMessage(
                    "[CDOMSource::CDOMSource] HTML element initialization: CElement::CREATE_NEW_INST() "
                    "failed.");
            m_html = CDOMElement(m_spSource, pElement);
        }
    }

    // BODY: with the host's </body> the two tags make the element, else the start tag's own element does.
    nPos = PositionOf(rPointers.m_pBodyStartTag, pDataBegin);
    if (nPos != INVALID_POS) {
        if (CStartTag* pStartTag = NormalStartTagAt(pSrc, nPos)) {
            TPos nEndPos = PositionOf(rPointers.m_pBodyEndTag, pDataBegin);
            CEndTag* pEndTag = nEndPos != INVALID_POS ? NormalEndTagAt(pSrc, nEndPos) : nullptr;
            m_bBodyInitialized = true;
            CElement* pElement = nullptr;
            if (pEndTag) {
                pElement = elementFromTags(pStartTag, pEndTag);
                if (!pElement)
                    LogMessage(
                        "[CDOMSource::CDOMSource] BODY element initialization: CElement::CREATE_NEW_INST() "
                        "failed");
            } else {
                pElement = pStartTag->getElement();
                if (!pElement)
                    LogMessage("[CDOMSource::CDOMSource] BODY element initialization: "
                               "CStartTag::getElement() failed.");
            }
            m_body = CDOMElement(m_spSource, pElement);
        }
    }

    // HEAD: the same with the host's head addresses.
    nPos = PositionOf(rPointers.m_pHeadStartTag, pDataBegin);
    if (nPos != INVALID_POS) {
        if (CStartTag* pStartTag = NormalStartTagAt(pSrc, nPos)) {
            TPos nEndPos = PositionOf(rPointers.m_pHeadEndTag, pDataBegin);
            CEndTag* pEndTag = nEndPos != INVALID_POS ? NormalEndTagAt(pSrc, nEndPos) : nullptr;
            m_bHeadInitialized = true;
            CElement* pElement = nullptr;
            if (pEndTag) {
                pElement = elementFromTags(pStartTag, pEndTag);
                if (!pElement)
                    LogMessage(
                        "[CDOMSource::CDOMSource] HEAD element initialization: CElement::CREATE_NEW_INST() "
                        "failed");
            } else {
                pElement = pStartTag->getElement();
                if (!pElement)
                    LogMessage("[CDOMSource::CDOMSource] HEAD element initialization: "
                               "CStartTag::getElement() failed.");
            }
            m_head = CDOMElement(m_spSource, pElement);
        }
    }
}

CElement* CDOMSource::elementFromTags(CStartTag* pStartTag, CEndTag* pEndTag) const {
    return CElement::CREATE_NEW_INST(m_spSource.get(), pStartTag, pEndTag);
}

void CDOMSource::requireSource(const char* pszDetail) const {
    if (!m_spSource)
        throw CDOMParserUndefinedObjectException(pszDetail);
}

CDOMElement CDOMSource::getHtml() {
    requireSource("CDOMSource::getHtml() : m_spSource is 0");
    if (m_bHtmlInitialized)
        return m_html;
    // Set before the search: a page without the element is not searched again.
    m_bHtmlInitialized = true;
    CSource* pSrc = m_spSource.get();
    CStartTag* pStartTag = FirstStartTag(pSrc, HTML_ELEMENT_NAME_HTML);
    if (!pStartTag)
        return m_html;
    CEndTag* pEndTag = LastEndTagInSource(pSrc, HTML_ELEMENT_NAME_HTML);
    if (!pEndTag) {
        pEndTag = EmptyEndTagAtSourceEnd(pSrc, HTML_ELEMENT_NAME_HTML);
        if (!pEndTag) {
            LogMessage(
                "[CDOMSource::getHtml()] HTML element initialization: CEndTag::CREATE_NEW_INST() failed "
                "when creating an end tag at the end of the source document. nPos <%d> .",
                LogPos(pSrc->getEnd()));
            return m_html;
        }
    }
    CElement* pElement = elementFromTags(pStartTag, pEndTag);
    if (!pElement)
        LogMessage("[CDOMSource::getHtml()] HTML element initialization: CElement::CREATE_NEW_INST() failed");
    m_html = CDOMElement(m_spSource, pElement);
    return m_html;
}

CDOMElement CDOMSource::getBody() {
    requireSource("CDOMSource::getBody() : m_spSource is 0");
    if (m_bBodyInitialized)
        return m_body;
    m_bBodyInitialized = true;
    CSource* pSrc = m_spSource.get();
    CStartTag* pStartTag = FirstStartTag(pSrc, HTML_ELEMENT_NAME_BODY);
    if (!pStartTag)
        return m_body;
    CEndTag* pEndTag = LastEndTagInSource(pSrc, HTML_ELEMENT_NAME_BODY);
    CElement* pElement = nullptr;
    if (pEndTag) {
        pElement = elementFromTags(pStartTag, pEndTag);
        if (!pElement)
            LogMessage(
                "[CDOMSource::getBody()] BODY element initialization: CElement::CREATE_NEW_INST() failed");
    } else {
        pElement = pStartTag->getElement();
        if (!pElement)
            LogMessage("[CDOMSource::getBody()] BODY element initialization: CStartTag::getElement() failed");
    }
    m_body = CDOMElement(m_spSource, pElement);
    return m_body;
}

CDOMElement CDOMSource::getHead() {
    requireSource("CDOMSource::getHead() : m_spSource is 0");
    if (m_bHeadInitialized)
        return m_head;
    m_bHeadInitialized = true;
    CSource* pSrc = m_spSource.get();
    CStartTag* pStartTag = FirstStartTag(pSrc, HTML_ELEMENT_NAME_HEAD);
    if (!pStartTag)
        return m_head;
    CEndTag* pEndTag = nullptr;
    if (m_bBodyInitialized && !m_body.isUndefined()) {
        // A </head> after the body's start belongs to some other document (a frame's text, a script).
        TPos nBodyBegin = m_body.getBeginPos();
        if (nBodyBegin > pSrc->getBegin())
            pEndTag = LastEndTagAtOrBefore(pSrc, HTML_ELEMENT_NAME_HEAD, nBodyBegin - 1);
    } else if (const CEndTagType* pType = NormalEndTagType()) {
        pEndTag = CEndTag::findPreviousOrNext(pSrc, pStartTag->getEnd(), HTML_ELEMENT_NAME_HEAD, pType,
                                              SEARCH_NEXT);
    }
    CElement* pElement = nullptr;
    if (pEndTag) {
        pElement = elementFromTags(pStartTag, pEndTag);
        if (!pElement)
            LogMessage(
                "[CDOMSource::getHead] HEAD element initialization: CElement::CREATE_NEW_INST() failed");
    } else {
        pElement = pStartTag->getElement();
        if (!pElement)
            LogMessage("[CDOMSource::getHead] HEAD element initialization: CElement::getElment() failed");
    }
    m_head = CDOMElement(m_spSource, pElement);
    return m_head;
}

TPos CDOMSource::getBeginPos() const {
    requireSource("CDOMSource::getBeginPos() : m_spSource is 0");
    return m_spSource->getBegin();
}

TPos CDOMSource::scanForString(const std::string& csText, TPos nFrom, TPos nLength) const {
    requireSource("CDOMSource::scanForString() : m_spSource is 0");
    const CSource* pSrc = m_spSource.get();
    if (nFrom == INVALID_POS || nFrom >= pSrc->getEnd())
        return INVALID_POS;
    const TPos nStart = nFrom < pSrc->getBegin() ? pSrc->getBegin() : nFrom;
    // A range that would pass the end (or overflow) runs to the end.
    TPos nLimit = pSrc->getEnd();
    if (nLength != INVALID_POS && nLength <= pSrc->getEnd() - nFrom)
        nLimit = nFrom + nLength;
    if (nLimit <= nStart)
        return INVALID_POS;
    return pSrc->findCaseless(csText, nStart, nLimit - nStart);
}

std::string CDOMSource::substringData(TPos nPos, TPos nLength) const {
    requireSource("CDOMSource::substringData() : m_spSource is 0");
    return m_spSource->substring(nPos, nLength);
}
