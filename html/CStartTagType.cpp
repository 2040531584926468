#include "html/CTagType.h"

#include "html/CElement.h"
#include "log/Log.h"

// ---------------------------------------------------------------------------------------------------------------
// Type objects

CStartTagType::CStartTagType(const char* pszDescription, const char* pszStartDelimiter,
                             const char* pszClosingDelimiter, bool bIsServerTag, bool bEmptyNamePrefix,
                             const CEndTagType* pCorrespondingEndTagType, bool bHasAttributes,
                             bool bIsNameAfterPrefixRequired)
    : CTagType(pszDescription, pszStartDelimiter, pszClosingDelimiter, bIsServerTag, bEmptyNamePrefix),
      m_pCorrespondingEndTagType(pCorrespondingEndTagType), m_bHasAttributes(bHasAttributes),
      m_bIsNameAfterPrefixRequired(bIsNameAfterPrefixRequired) {}

CStartTagTypeGenericImplementation::CStartTagTypeGenericImplementation(
    const char* pszDescription, const char* pszStartDelimiter, const char* pszClosingDelimiter,
    bool bIsServerTag, bool bEmptyNamePrefix, const CEndTagType* pCorrespondingEndTagType,
    bool bHasAttributes, bool bIsNameAfterPrefixRequired)
    : CStartTagType(pszDescription, pszStartDelimiter, pszClosingDelimiter, bIsServerTag, bEmptyNamePrefix,
                    pCorrespondingEndTagType, bHasAttributes, bIsNameAfterPrefixRequired) {
    m_bPrefixEndsWithoutLetter =
        m_csNamePrefix.empty() || !IsAsciiLetter(static_cast<unsigned char>(m_csNamePrefix.back()));
}

CStartTagTypeUnregistered::CStartTagTypeUnregistered()
    : CStartTagType("unregistered", "<", ">", false, true, nullptr, false, false) {}

CStartTagTypeNormal::CStartTagTypeNormal(const CEndTagType* pEndTagType)
    : CStartTagTypeGenericImplementation("normal", "<", ">", false, true, pEndTagType, true, true) {}

CStartTagTypeComment::CStartTagTypeComment()
    : CStartTagTypeGenericImplementation("comment", "<!--", "-->", false, false, nullptr, false, false) {}

CStartTagTypeXMLDeclaration::CStartTagTypeXMLDeclaration()
    : CStartTagTypeGenericImplementation("XML declaration", "<?xml", "?>", false, false, nullptr, true,
                                         false) {}

CStartTagTypeXMLProcessingInstruction::CStartTagTypeXMLProcessingInstruction()
    : CStartTagTypeGenericImplementation("XML processing instruction", "<?", "?>", false, false, nullptr,
                                         false, true) {}

CStartTagTypeDoctypeDeclaration::CStartTagTypeDoctypeDeclaration()
    : CStartTagTypeGenericImplementation("document type declaration", "<!doctype", ">", false, false, nullptr,
                                         false, false) {}

CStartTagTypeMarkupDeclaration::CStartTagTypeMarkupDeclaration()
    : CStartTagTypeGenericImplementation("markup declaration", "<!", ">", false, false, nullptr, false,
                                         true) {}

CStartTagTypeCDATASection::CStartTagTypeCDATASection()
    : CStartTagTypeGenericImplementation("CDATA section", "<![cdata[", "]]>", false, false, nullptr, false,
                                         false) {}

CStartTagTypeServerCommon::CStartTagTypeServerCommon()
    : CStartTagTypeGenericImplementation("common server tag", "<%", "%>", true, false, nullptr, false,
                                         false) {}

// ---------------------------------------------------------------------------------------------------------------
// Start tag recognition

namespace {
// One past the last name character from nPos; nPos itself when no name starts there.
TPos ScanName(const CSource* pSource, TPos nPos) {
    if (nPos >= pSource->getEnd() || !IsNameStartChar(pSource->byteAt(nPos)))
        return nPos;
    TPos i = nPos + 1;
    while (i < pSource->getEnd() && IsNameChar(pSource->byteAt(i)))
        ++i;
    return i;
}
} // namespace

CTag* CStartTagTypeGenericImplementation::constructTagAt(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeGenericImplementation::constructTagAt] pSource is 0. nPos <%d>",
                   LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos) || !pSource->startsWithCaseless(nPos, m_csStartDelimiter))
        return nullptr;
    std::string csName = m_csNamePrefix;
    TPos nNamePos = nPos + 1 + m_csNamePrefix.size();
    if (m_bIsNameAfterPrefixRequired) {
        TPos nNameEnd = ScanName(pSource, nNamePos);
        if (nNameEnd == nNamePos)
            return nullptr;
        csName.assign(pSource->view(nPos + 1, nNameEnd));
    } else if (!m_bPrefixEndsWithoutLetter) {
        // "<?xmlfoo" is not an XML declaration.
        if (nNamePos < pSource->getEnd() && IsNameChar(pSource->byteAt(nNamePos)))
            return nullptr;
    }
    int nNameIndex = GetHTMLNameIndex(csName);
    CAttributes* pAttributes = nullptr;
    TPos nEnd;
    if (m_bHasAttributes) {
        pAttributes = CAttributes::construct(pSource, "StartTag", 0, nPos, nPos + 1 + csName.size(),
                                             INVALID_POS, this, csName, nNameIndex, 2);
        if (!pAttributes) {
            LogMessage("[CStartTagTypeGenericImplementation::constructTagAt] parseAttributes() returned 0. "
                       "Attributes "
                       "are not properly formed. nPos <%d> csName <%s> nNameInd <%d>.",
                       LogPos(nPos), csName.c_str(), nNameIndex);
            return nullptr;
        }
        nEnd = findEnd(pSource, pAttributes->getEnd());
    } else {
        nEnd = findEnd(pSource, nNamePos);
    }
    if (nEnd == INVALID_POS) {
        LogMessage("[CStartTagTypeGenericImplementation::constructTagAt] StartTag <%s> at <%d> not "
                   "recognized as type "
                   "<%s> because it has no closing delimiter.",
                   csName.c_str(), LogPos(nPos), m_csDescription.c_str());
        return nullptr;
    }
    CStartTag* pTag = constructStartTag(pSource, nPos, nEnd, csName, nNameIndex, pAttributes);
    if (!pTag)
        LogMessage("[CStartTagTypeGenericImplementation::constructTagAt] constructStartTag failed. nPos <%d> "
                   "nEnd <%d> "
                   "csName <%s>. ",
                   LogPos(nPos), LogPos(nEnd), csName.c_str());
    return pTag;
}

TPos CStartTagTypeGenericImplementation::findEnd(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeGenericImplementation::findEnd] pSource is 0. nPos <%d>.", LogPos(nPos));
        return INVALID_POS;
    }
    TPos nHit = pSource->findCaselessToEnd(m_csClosingDelimiter, nPos);
    return nHit == INVALID_POS ? INVALID_POS : nHit + m_csClosingDelimiter.size();
}

bool CStartTagTypeGenericImplementation::atEndOfAttributes(CSource* pSource, TPos nPos, bool) const {
    if (!pSource) {
        LogMessage("[CStartTag::atEndOfAttributes] pSource is 0. nPos <%d>.", LogPos(nPos));
        return false;
    }
    return pSource->startsWithCaseless(nPos, m_csClosingDelimiter);
}

bool CStartTagTypeNormal::atEndOfAttributes(CSource* pSource, TPos nPos, bool bClosingSlashIgnored) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeNormal::atEndOfAttributes] pSource is 0. nPos <%d>.", LogPos(nPos));
        return false;
    }
    if (!pSource->contains(nPos))
        return false;
    if (pSource->byteAt(nPos) == '>')
        return true;
    return !bClosingSlashIgnored && pSource->startsWithCaseless(nPos, "/>");
}

TPos CStartTagTypeDoctypeDeclaration::findEnd(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeDoctypeDeclaration::findEnd] pSource is 0. nPos <%d>.", LogPos(nPos));
        return INVALID_POS;
    }
    // Without any '>' ahead there is no end, whatever the quotes say; this keeps pages full of unclosed
    // declarations from being rescanned to the end at every one.
    if (pSource->findCaselessToEnd(">", nPos) == INVALID_POS)
        return INVALID_POS;
    bool bInQuotes = false;
    bool bInInternalSubset = false;
    for (TPos i = std::max(nPos, pSource->getBegin()); i < pSource->getEnd(); ++i) {
        unsigned char c = pSource->byteAt(i);
        if (c == '"')
            bInQuotes = !bInQuotes;
        else if (bInQuotes)
            continue;
        else if (c == '[')
            bInInternalSubset = true;
        else if (c == ']')
            bInInternalSubset = false;
        else if (c == '>' && !bInInternalSubset)
            return i + 1;
    }
    return INVALID_POS;
}

TPos CStartTagTypeMarkupDeclaration::findEnd(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeMarkupDeclaration::findEnd] pSource is 0. nPos <%d>.", LogPos(nPos));
        return INVALID_POS;
    }
    if (pSource->findCaselessToEnd(">", nPos) == INVALID_POS)
        return INVALID_POS;
    bool bInQuotes = false;
    for (TPos i = std::max(nPos, pSource->getBegin()); i < pSource->getEnd(); ++i) {
        unsigned char c = pSource->byteAt(i);
        if (c == '"')
            bInQuotes = !bInQuotes;
        else if (c == '>' && !bInQuotes)
            return i + 1;
    }
    return INVALID_POS;
}

CTag* CStartTagTypeMarkupDeclaration::constructTagAt(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeMarkupDeclaration::constructTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    CTag* pTag = CStartTagTypeGenericImplementation::constructTagAt(pSource, nPos);
    if (!pTag)
        return nullptr;
    static const char* const s_rgDeclarations[] = {"!element", "!attlist", "!entity", "!notation"};
    for (const char* pszName : s_rgDeclarations)
        if (EqualsCaseless(pTag->getName(), pszName))
            return pTag;
    return nullptr;
}

CTag* CStartTagTypeUnregistered::constructTagAt(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CStartTagTypeUnregistered::constructTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos) || pSource->byteAt(nPos) != '<')
        return nullptr;
    TPos nClose = pSource->findCaselessToEnd(">", nPos + 1);
    if (nClose == INVALID_POS)
        return nullptr;
    CStartTag* pTag =
        constructStartTag(pSource, nPos, nClose + 1, std::string(), INVALID_NAME_INDEX, nullptr);
    std::string csText = pSource->substring(nPos, nClose + 1 - nPos);
    if (pTag)
        LogMessage(
            "[CStartTagTypeUnregistered::constructTagAt] Encountered possible StartTag <%s> at <%d> whose "
            "content does not match a registered StartTagType.",
            csText.c_str(), LogPos(nPos));
    else
        LogMessage(
            "[CStartTagTypeUnregistered::constructTagAt] Encountered possible StartTag <%s> at <%d> whose "
            "content does not match a registered StartTagType. CStartTagType::constructStartTag() failed.",
            csText.c_str(), LogPos(nPos));
    return pTag;
}

bool CStartTagTypeUnregistered::atEndOfAttributes(CSource* pSource, TPos nPos, bool) const {
    return pSource && pSource->startsWithCaseless(nPos, m_csClosingDelimiter);
}

TPos CStartTagTypeUnregistered::findEnd(CSource* pSource, TPos nPos) const {
    if (!pSource)
        return INVALID_POS;
    TPos nHit = pSource->findCaselessToEnd(m_csClosingDelimiter, nPos);
    return nHit == INVALID_POS ? INVALID_POS : nHit + 1;
}

CStartTag* CStartTagType::constructStartTag(CSource* pSource, TPos nBegin, TPos nEnd,
                                            const std::string& csName, int nNameIndex,
                                            CAttributes* pAttributes) const {
    CStartTag* pTag =
        CStartTag::CREATE_NEW_INST(pSource, nBegin, nEnd, csName, nNameIndex, pAttributes, this);
    if (!pTag)
        LogMessage(
            "[CStartTagType::constructStartTag] CStartTag::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d> "
            "csName <%s> .",
            LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return pTag;
}
