#include "html/CBufferInstruction.h"
#include "html/CDOMSource.h"

#include <cstdint>
#include <limits>
#include <utility>

namespace {

// Instructions address the response data itself: the page's first byte plus the offset.
uint64_t AddressOf(const CSource* pSource, TPos nPos) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pSource->getData())) + nPos;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// CDOMElement

CDOMElement::CDOMElement(CSourcePtr spSource, CElement* pElement)
    : m_spSource(std::move(spSource)), m_pElement(pElement) {}

TPos CDOMElement::getBeginPos() const {
    if (isUndefined())
        throw CDOMParserUndefinedObjectException("CDOMElement::getBeginPos() : m_pElement is 0");
    if (m_nBeginPos == INVALID_POS)
        m_nBeginPos = m_pElement->getBegin();
    return m_nBeginPos;
}

CDOMStartTagVector CDOMElement::getStartTagsByTagName(const std::string& csName) const {
    if (isUndefined())
        throw CDOMParserUndefinedObjectException("CDOMElement::getStartTagsByTagName() : m_pElement is 0");
    auto spTags = std::make_shared<const std::vector<CStartTag*>>(m_pElement->getStartTagsByTagName(csName));
    return CDOMStartTagVector(m_spSource, std::move(spTags));
}

DWORD CDOMElement::appendContentData(const char* pszText, CBufferInstructionList* pList) const {
    if (isUndefined())
        throw CDOMParserUndefinedObjectException("CDOMElement::appendContentData() : m_pElement is 0");
    return InsertHtmlStringAtPosition(AddressOf(m_spSource.get(), m_pElement->getContentEnd()), pszText,
                                      pList);
}

// ---------------------------------------------------------------------------------------------------------------
// CDOMStartTagVector and CDOMStartTag

CDOMStartTagVector::CDOMStartTagVector(CSourcePtr spSource,
                                       std::shared_ptr<const std::vector<CStartTag*>> spTags)
    : m_spSource(std::move(spSource)), m_spTags(std::move(spTags)) {}

CDOMStartTag CDOMStartTagVector::at(size_t nIndex) const {
    if (!m_spTags || nIndex >= m_spTags->size())
        return CDOMStartTag(m_spSource, nullptr);
    return CDOMStartTag(m_spSource, (*m_spTags)[nIndex]);
}

CDOMStartTag::CDOMStartTag(CSourcePtr spSource, CStartTag* pStartTag)
    : m_spSource(std::move(spSource)), m_pStartTag(pStartTag) {}

CDOMAttribute CDOMStartTag::getAttribute(const std::string& csName) const {
    if (isUndefined())
        throw CDOMParserUndefinedObjectException("CDOMStartTag::getAttribute() : m_pStartTag is 0");
    CAttributes* pAttributes = m_pStartTag->getAttributes();
    return CDOMAttribute(m_spSource, pAttributes ? pAttributes->get(csName) : nullptr);
}

// ---------------------------------------------------------------------------------------------------------------
// CDOMAttribute

CDOMAttribute::CDOMAttribute(CSourcePtr spSource, CAttribute* pAttribute)
    : m_spSource(std::move(spSource)), m_pAttribute(pAttribute) {}

void CDOMAttribute::requireDefined(const char* pszDetail) const {
    if (isUndefined())
        throw CDOMParserUndefinedObjectException(pszDetail);
}

bool CDOMAttribute::hasValue() const {
    requireDefined("CDOMAttribute::hasValue() : m_pAttribute is 0");
    return m_pAttribute->hasValue();
}

std::string CDOMAttribute::getValue() const {
    requireDefined("CDOMAttribute::getValue() : m_pAttribute is 0");
    return m_pAttribute->getValue();
}

TPos CDOMAttribute::getValueBeginPos() const {
    requireDefined("CDOMAttribute::getValueBeginPos() : m_pAttribute is 0");
    const CSegment* pValue = m_pAttribute->getValueSegment();
    return pValue ? pValue->getBegin() : INVALID_POS;
}

TPos CDOMAttribute::getValueEndPos() const {
    requireDefined("CDOMAttribute::getValueEndPos() : m_pAttribute is 0");
    const CSegment* pValue = m_pAttribute->getValueSegment();
    return pValue ? pValue->getEnd() : INVALID_POS;
}

DWORD CDOMAttribute::insertValueData(uint64_t nOffset, const char* pszText,
                                     CBufferInstructionList* pList) const {
    requireDefined("CDOMAttribute::insertValueData() : m_pAttribute is 0");
    const CSource* pSrc = m_spSource.get();
    const int64_t nAttributeBegin = static_cast<int64_t>(m_pAttribute->getBegin());
    if (const CSegment* pValue = m_pAttribute->getValueSegment()) {
        if (nOffset > pValue->getLength())
            throw CDOMParserIllegalArgumentException(
                "CDOMAttribute::insertValueData() : invalid nOffset value", nAttributeBegin);
        return InsertHtmlStringAtPosition(AddressOf(pSrc, pValue->getBegin() + nOffset), pszText, pList);
    }
    if (nOffset != 0)
        throw CDOMParserIllegalArgumentException(
            "CDOMAttribute::insertValueData() : ValueSegment is 0 and nOffset > 0 ", nAttributeBegin);
    const uint64_t qwAttribute = AddressOf(pSrc, m_pAttribute->getBegin());
    // Without a text the rewrite would only delete the name: refuse it before anything is recorded, with the
    // insertion's own check and log line.
    if (!pszText)
        return InsertHtmlStringAtPosition(qwAttribute, pszText, pList);
    const TPos nLength = m_pAttribute->getLength();
    // A delete carries a 32-bit length; a longer name cannot be rewritten and is left as it stands.
    if (nLength > std::numeric_limits<uint32_t>::max())
        return ERROR_INVALID_DATA;
    DWORD dwResult = DeleteHtmlStringAtPosition(qwAttribute, static_cast<uint32_t>(nLength), pList);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    const CSegment* pName = m_pAttribute->getNameSegment();
    std::string csRewritten = pName ? pName->getText() : m_pAttribute->getKey();
    csRewritten += "=\"";
    csRewritten += pszText;
    csRewritten += "\" ";
    return InsertHtmlStringAtPosition(qwAttribute, csRewritten.c_str(), pList);
}
