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

// The last </html>, else an implied one at the source end: a page may leave the element unclosed.
CEndTag* HtmlEndTag(CSource* pSource, const char* pszCaller) {
    if (CEndTag* pEndTag = LastEndTagInSource(pSource, HTML_ELEMENT_NAME_HTML))
        return pEndTag;
    const CEndTagType* pType = NormalEndTagType();
    CEndTag* pEndTag = pType ? CEndTag::CREATE_NEW_INST(pSource, pSource->getEnd(), pSource->getEnd(), pType,
                                                        HTML_ELEMENT_NAME_HTML)
                             : nullptr;
    if (!pEndTag)
        LogMessage(
            "%s HTML element initialization: CEndTag::CREATE_NEW_INST() failed when creating an empty end "
            "tag at the end of the source document. nPos <%d> .",
            pszCaller, LogPos(pSource->getEnd()));
    return pEndTag;
}

// One past the last byte of the host's data: data last - data begin + 1, a last address one below the
// begin being an empty page; INVALID_POS when the addresses make no range.
TPos DataEnd(const char* pDataBegin, const char* pDataLast) {
    if (!pDataBegin || !pDataLast)
        return INVALID_POS;
    const uintptr_t nLast = reinterpret_cast<uintptr_t>(pDataLast);
    const uintptr_t nFirst = reinterpret_cast<uintptr_t>(pDataBegin);
    if (nLast + 1 < nFirst || nLast == UINTPTR_MAX)
        return INVALID_POS;
    return static_cast<TPos>(nLast + 1 - nFirst);
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
    if (!createSource(rPointers))
        return;
    const char* pDataBegin = rPointers.m_pDataBegin;
    initializeHtmlFromHost(PositionOf(rPointers.m_pHtmlStartTag, pDataBegin));
    initializeFromHostTags(PositionOf(rPointers.m_pBodyStartTag, pDataBegin),
                           PositionOf(rPointers.m_pBodyEndTag, pDataBegin), "[CDOMSource::CDOMSource] BODY",
                           m_bBodyInitialized, m_body);
    initializeFromHostTags(PositionOf(rPointers.m_pHeadStartTag, pDataBegin),
                           PositionOf(rPointers.m_pHeadEndTag, pDataBegin), "[CDOMSource::CDOMSource] HEAD",
                           m_bHeadInitialized, m_head);
}

bool CDOMSource::createSource(const CCommonPointers& rPointers) {
    const char* pDataBegin = rPointers.m_pDataBegin;
    TPos nBegin = PositionOf(rPointers.m_pHtmlDataBegin, pDataBegin);
    if (nBegin == INVALID_POS)
        nBegin = 0;
    const TPos nEnd = DataEnd(pDataBegin, rPointers.m_pDataLast);
    std::unique_ptr<CSource> pSource;
    if (nEnd != INVALID_POS)
        pSource = CSource::CREATE_NEW_INST(pDataBegin, nBegin, nEnd);
    if (!pSource) {
        LogMessage("[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d>.",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    m_spSource = CSourcePtr(std::move(pSource));
    return true;
}

// HTML: from the host's address to the last </html>, or to the source end when there is none.
void CDOMSource::initializeHtmlFromHost(TPos nStartTag) {
    CSource* pSrc = m_spSource.get();
    CStartTag* pStartTag = nStartTag != INVALID_POS ? NormalStartTagAt(pSrc, nStartTag) : nullptr;
    if (!pStartTag)
        return;
    CEndTag* pEndTag = HtmlEndTag(pSrc, "[CDOMSource::CDOMSource]");
    m_bHtmlInitialized = true;
    CElement* pElement =
        pEndTag ? elementFromTags(pStartTag, pEndTag, "[CDOMSource::CDOMSource] HTML") : nullptr;
    m_html = CDOMElement(m_spSource, pElement);
}

void CDOMSource::initializeFromHostTags(TPos nStartTag, TPos nEndTag, const char* pszWhich,
                                        bool& bInitialized, CDOMElement& element) {
    CSource* pSrc = m_spSource.get();
    CStartTag* pStartTag = nStartTag != INVALID_POS ? NormalStartTagAt(pSrc, nStartTag) : nullptr;
    if (!pStartTag)
        return;
    CEndTag* pEndTag = nEndTag != INVALID_POS ? NormalEndTagAt(pSrc, nEndTag) : nullptr;
    bInitialized = true;
    element = CDOMElement(m_spSource, elementFromTags(pStartTag, pEndTag, pszWhich));
}

CElement* CDOMSource::elementFromTags(CStartTag* pStartTag, CEndTag* pEndTag, const char* pszWhich) const {
    CElement* pElement =
        pEndTag ? CElement::CREATE_NEW_INST(m_spSource.get(), pStartTag, pEndTag) : pStartTag->getElement();
    if (!pElement)
        LogMessage("%s element initialization: %s failed", pszWhich,
                   pEndTag ? "CElement::CREATE_NEW_INST()" : "CStartTag::getElement()");
    return pElement;
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
    CEndTag* pEndTag = pStartTag ? HtmlEndTag(pSrc, "[CDOMSource::getHtml()]") : nullptr;
    if (pEndTag)
        m_html = CDOMElement(m_spSource, elementFromTags(pStartTag, pEndTag, "[CDOMSource::getHtml()] HTML"));
    return m_html;
}

CDOMElement CDOMSource::getBody() {
    requireSource("CDOMSource::getBody() : m_spSource is 0");
    if (m_bBodyInitialized)
        return m_body;
    m_bBodyInitialized = true;
    CSource* pSrc = m_spSource.get();
    if (CStartTag* pStartTag = FirstStartTag(pSrc, HTML_ELEMENT_NAME_BODY))
        m_body = CDOMElement(m_spSource,
                             elementFromTags(pStartTag, LastEndTagInSource(pSrc, HTML_ELEMENT_NAME_BODY),
                                             "[CDOMSource::getBody()] BODY"));
    return m_body;
}

CDOMElement CDOMSource::getHead() {
    requireSource("CDOMSource::getHead() : m_spSource is 0");
    if (m_bHeadInitialized)
        return m_head;
    m_bHeadInitialized = true;
    if (CStartTag* pStartTag = FirstStartTag(m_spSource.get(), HTML_ELEMENT_NAME_HEAD))
        m_head = CDOMElement(m_spSource, elementFromTags(pStartTag, findHeadEndTag(pStartTag),
                                                         "[CDOMSource::getHead()] HEAD"));
    return m_head;
}

CEndTag* CDOMSource::findHeadEndTag(CStartTag* pStartTag) {
    CSource* pSrc = m_spSource.get();
    if (m_bBodyInitialized && !m_body.isUndefined()) {
        // A </head> after the body's start belongs to some other document (a frame's text, a script).
        TPos nBodyBegin = m_body.getBeginPos();
        return nBodyBegin > pSrc->getBegin()
                   ? LastEndTagAtOrBefore(pSrc, HTML_ELEMENT_NAME_HEAD, nBodyBegin - 1)
                   : nullptr;
    }
    const CEndTagType* pType = NormalEndTagType();
    return pType ? CEndTag::findPreviousOrNext(pSrc, pStartTag->getEnd(), HTML_ELEMENT_NAME_HEAD, pType,
                                               SEARCH_NEXT)
                 : nullptr;
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
