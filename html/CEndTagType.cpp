#include "html/CTagType.h"

#include "html/CElement.h"
#include "log/Log.h"

// ---------------------------------------------------------------------------------------------------------------
// Type objects

CEndTagType::CEndTagType(const char* pszDescription, const char* pszStartDelimiter,
                         const char* pszClosingDelimiter)
    : CTagType(pszDescription, pszStartDelimiter, pszClosingDelimiter, false, true) {}

CEndTagType::~CEndTagType() = default;

CEndTagTypeGenericImplementation::CEndTagTypeGenericImplementation(const char* pszDescription,
                                                                   const char* pszStartDelimiter,
                                                                   const char* pszClosingDelimiter)
    : CEndTagType(pszDescription, pszStartDelimiter, pszClosingDelimiter) {}

CEndTagTypeUnregistered::CEndTagTypeUnregistered() : CEndTagType("/unregistered", "</", ">") {}

CEndTagTypeNormal::CEndTagTypeNormal() : CEndTagTypeGenericImplementation("/normal", "</", ">") {}

const CStartTagType* CEndTagTypeNormal::getCorrespondingStartTagType() const {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    return pTypes ? &pTypes->m_normal : nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// End tag recognition

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
