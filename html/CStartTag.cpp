#include "html/CElement.h"
#include "log/Log.h"

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

// ---------------------------------------------------------------------------------------------------------------
// CStartTag creation

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
// Attributes

CAttribute::CAttribute(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csKey,
                       CSegment* pNameSegment, CSegment* pValueSegment,
                       CSegment* pValueSegmentIncludingQuotes)
    : CSegment(pSource, nBegin, nEnd), m_csKey(csKey), m_pNameSegment(pNameSegment),
      m_pValueSegment(pValueSegment), m_pValueSegmentIncludingQuotes(pValueSegmentIncludingQuotes) {}

namespace {
TPos AttributeEnd(const CSegment* pNameSegment, const CSegment* pValueSegment,
                  const CSegment* pValueSegmentIncludingQuotes) {
    if (pValueSegmentIncludingQuotes)
        return pValueSegmentIncludingQuotes->getEnd();
    if (pValueSegment)
        return pValueSegment->getEnd();
    return pNameSegment->getEnd();
}
} // namespace

bool CAttribute::checkConstructorArgs(const CSource* pSource, const CSegment* pNameSegment,
                                      const CSegment* pValueSegment,
                                      const CSegment* pValueSegmentIncludingQuotes) {
    if (!pNameSegment) {
        LogMessage("[CAttribute::checkConstructorArgs] pNameSegment is 0");
        return false;
    }
    TPos nBegin = pNameSegment->getBegin();
    TPos nEnd = AttributeEnd(pNameSegment, pValueSegment, pValueSegmentIncludingQuotes);
    if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage("[CAttribute::checkConstructorArgs] CSegment::checkConstructorArgs failed. nBegin <%d> "
                   "nEnd <%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pNameSegment->getSource() != pSource) {
        LogMessage("[CAttribute::checkConstructorArgs] Source of pNameSegment differs from pSource. nBegin "
                   "<%d> nEnd "
                   "<%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pValueSegment && pValueSegment->getSource() != pSource) {
        LogMessage("[CAttribute::checkConstructorArgs] Source of pValueSegment differs from pSource. nBegin "
                   "<%d> nEnd "
                   "<%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pValueSegmentIncludingQuotes && pValueSegmentIncludingQuotes->getSource() != pSource) {
        LogMessage(
            "[CAttribute::checkConstructorArgs] Source of pValueSegmentIncludingQuotes differs from pSource. "
            "nBegin <%d> nEnd <%d> .",
            LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    return true;
}

CAttribute* CAttribute::CREATE_NEW_INST(CSource* pSource, const std::string& csKey, CSegment* pNameSegment,
                                        CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes) {
    CAttribute* pAttribute = nullptr;
    if (checkConstructorArgs(pSource, pNameSegment, pValueSegment, pValueSegmentIncludingQuotes))
        pAttribute = pSource->createOwned<CAttribute>(
            pSource, pNameSegment->getBegin(),
            AttributeEnd(pNameSegment, pValueSegment, pValueSegmentIncludingQuotes), csKey, pNameSegment,
            pValueSegment, pValueSegmentIncludingQuotes);
    if (!pAttribute)
        LogMessage("[CAttribute::CREATE_NEW_INST] checkConstructorArgs() failed.");
    return pAttribute;
}

CAttributes::CAttributes(CSource* pSource, TPos nBegin, TPos nEnd,
                         const std::vector<CAttribute*>& vAttributes)
    : CSegment(pSource, nBegin, nEnd), m_vAttributes(vAttributes) {}

bool CAttributes::checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd,
                                       const std::vector<CAttribute*>* pAttributesVec) {
    if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage("[CAttribute::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <%d> "
                   "nEnd <%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (!pAttributesVec) {
        LogMessage("[CAttribute::checkConstructorArgs] pAttributesVec is 0. nBegin <%d> nEnd <%d>. ",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    return true;
}

CAttributes* CAttributes::CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd,
                                          const std::vector<CAttribute*>* pAttributesVec) {
    CAttributes* pAttributes = nullptr;
    if (checkConstructorArgs(pSource, nBegin, nEnd, pAttributesVec))
        pAttributes = pSource->createOwned<CAttributes>(pSource, nBegin, nEnd, *pAttributesVec);
    if (!pAttributes)
        LogMessage("[CAttributes::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d>.",
                   LogPos(nBegin), LogPos(nEnd));
    return pAttributes;
}

CAttribute* CAttributes::get(std::string_view csName) const {
    for (CAttribute* pAttribute : m_vAttributes)
        if (EqualsCaseless(pAttribute->getKey(), csName))
            return pAttribute;
    return nullptr;
}

namespace {

// The attribute-list scanner: the states of the parse and what it has collected so far.
class CAttributeScanner {
public:
    enum EState {
        AFTER_TAG_NAME = 0,
        BETWEEN = 1,
        IN_NAME = 2,
        AFTER_NAME = 3,
        AFTER_EQUALS = 4,
        IN_VALUE = 5
    };

    CAttributeScanner(CSource* pSource, const char* pszType, TPos nBegin, const CStartTagType* pType,
                      const std::string& csTagName, int nMaxErrorCount)
        : m_pSource(pSource), m_pszType(pszType), m_nBegin(nBegin), m_pType(pType), m_csTagName(csTagName),
          m_nMaxErrorCount(nMaxErrorCount) {}

    // "[CAttributes::construct] Type <..> Tag name <..> Begin pos <..>" followed by the rest.
    void log(const char* pszMethod, const char* pszRest, TPos nPos = INVALID_POS,
             bool bWithPos = false) const {
        if (bWithPos)
            LogMessage("[CAttributes::%s] Type <%s> Tag name <%s> Begin pos <%d>%s%d%s", pszMethod, m_pszType,
                       m_csTagName.c_str(), LogPos(m_nBegin), pszRest, LogPos(nPos), m_pszTail);
        else
            LogMessage("[CAttributes::%s] Type <%s> Tag name <%s> Begin pos <%d>%s", pszMethod, m_pszType,
                       m_csTagName.c_str(), LogPos(m_nBegin), pszRest);
    }
    void logAt(const char* pszRest, TPos nPos, const char* pszTail) {
        m_pszTail = pszTail;
        log("construct", pszRest, nPos, true);
    }
    // Counts an error; true when the list must be rejected for too many.
    bool countError() {
        ++m_nErrorCount;
        if (m_nErrorCount > m_nMaxErrorCount) {
            log("reachedMaxErrorCount", " Rejected because it contains too many errors.");
            return true;
        }
        return false;
    }
    bool isIgnorableSlash(TPos nPos, bool bClosingSlashIgnored) const {
        const CStartTagTypeSingletonData* pTypes = StartTagTypes();
        if (!bClosingSlashIgnored || !pTypes || m_pType != &pTypes->m_normal ||
            !m_pSource->startsWithCaseless(nPos, "/>"))
            return false;
        log("isInvalidEmptyElementTag",
            " Contains a '/' character before the closing '>', which is ignored because "
            "tags of this name cannot be empty-element tags.");
        return true;
    }
    // Adds an attribute; false (logged) when a segment or the attribute cannot be created.
    bool add(TPos nNameBegin, TPos nNameEnd, TPos nValueBegin, TPos nValueEnd, TPos nQuotedBegin,
             TPos nQuotedEnd, TPos nPos) {
        CSegment* pName = CSegment::CREATE_NEW_INST(m_pSource, nNameBegin, nNameEnd);
        CSegment* pValue = nullptr;
        CSegment* pQuoted = nullptr;
        if (pName && nValueBegin != INVALID_POS) {
            pValue = CSegment::CREATE_NEW_INST(m_pSource, nValueBegin, nValueEnd);
            pQuoted = pValue ? CSegment::CREATE_NEW_INST(m_pSource, nQuotedBegin, nQuotedEnd) : nullptr;
        }
        if (!pName || (nValueBegin != INVALID_POS && (!pValue || !pQuoted))) {
            logAt(" Rejected because CSegment::CREATE_NEW_INST() failed at <", nPos, ">.");
            return false;
        }
        std::string csKey(m_pSource->view(nNameBegin, nNameEnd));
        CAttribute* pAttribute = CAttribute::CREATE_NEW_INST(m_pSource, csKey, pName, pValue, pQuoted);
        if (!pAttribute) {
            logAt(" Rejected because CAttribute::CREATE_NEW_INST() failed at <", nPos, ">.");
            return false;
        }
        try {
            m_vAttributes.push_back(pAttribute);
        } catch (...) {
            logAt(" Rejected because CAttribute::CREATE_NEW_INST() failed at <", nPos, ">.");
            return false;
        }
        m_nLastEnd = pAttribute->getEnd();
        return true;
    }

    CSource* m_pSource;
    const char* m_pszType;
    TPos m_nBegin;
    const CStartTagType* m_pType;
    const std::string& m_csTagName;
    int m_nMaxErrorCount;
    int m_nErrorCount = 0;
    const char* m_pszTail = "";
    std::vector<CAttribute*> m_vAttributes;
    TPos m_nLastEnd = INVALID_POS;
};

} // namespace

CAttributes* CAttributes::construct(CSource* pSource, const char* pszTypeDescription, int nInitialState,
                                    TPos nBegin, TPos nAttributesBegin, TPos nEndLimit,
                                    const CStartTagType* pStartTagType, const std::string& csTagName,
                                    int nNameIndex, int nMaxErrorCount) {
    const char* pszType = pszTypeDescription ? pszTypeDescription : "";
    if (!pSource || !pStartTagType) {
        LogMessage(
            "[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> pSource or pStartTagType is 0.",
            pszType, csTagName.c_str(), LogPos(nBegin));
        return nullptr;
    }
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    const CHTMLElementsSingletonData* pElements = HTMLElements();
    const bool bClosingSlashIgnored = pTypes && pElements && pStartTagType == &pTypes->m_normal &&
                                      pElements->m_cannotBeEmptyElementTags.contains(nNameIndex);

    CAttributeScanner scan(pSource, pszType, nBegin, pStartTagType, csTagName, nMaxErrorCount);
    int nState = nInitialState;
    TPos nPos = nAttributesBegin;
    char cQuote = ' ';
    TPos nNameBegin = INVALID_POS;
    TPos nNameEnd = INVALID_POS;
    TPos nValueBegin = INVALID_POS;

    for (;;) {
        bool bAtEnd;
        bool bInQuotes = nState == CAttributeScanner::IN_VALUE && cQuote != ' ';
        if (nEndLimit != INVALID_POS && nPos == nEndLimit) {
            bAtEnd = true;
        } else if (nPos >= pSource->getEnd() || nPos < pSource->getBegin()) {
            scan.log("construct", " Rejected because it has no closing '>' character.");
            return nullptr;
        } else {
            // Inside quotes a closing delimiter belongs to the value.
            bAtEnd = !bInQuotes && pStartTagType->atEndOfAttributes(pSource, nPos, bClosingSlashIgnored);
        }
        const unsigned char c = bAtEnd && nPos >= pSource->getEnd() ? 0 : pSource->byteAt(nPos);
        const bool bSpace = !bAtEnd && IsHtmlWhitespace(c);

        switch (nState) {
        case CAttributeScanner::AFTER_TAG_NAME:
            if (bAtEnd)
                goto complete;
            if (bSpace) {
                nState = CAttributeScanner::BETWEEN;
            } else if (!scan.isIgnorableSlash(nPos, bClosingSlashIgnored)) {
                scan.logAt(" Rejected because name contains invalid character at <", nPos, ">.");
                return nullptr;
            }
            ++nPos;
            break;

        case CAttributeScanner::BETWEEN:
            if (bAtEnd)
                goto complete;
            if (bSpace) {
                cQuote = ' ';
                ++nPos;
                break;
            }
            if (cQuote != ' ') {
                scan.logAt(" Has missing whitespace after quoted attribute value at <", nPos, ">.");
                cQuote = ' ';
            }
            if (IsNameStartChar(c)) {
                nNameBegin = nPos;
                nState = CAttributeScanner::IN_NAME;
            } else if (c == '<') {
                scan.logAt(" Rejected because of '<' character at <", nPos, ">.");
                return nullptr;
            } else if (scan.isIgnorableSlash(nPos, bClosingSlashIgnored)) {
                // skipped
            } else {
                scan.logAt(" Contains attribute name with invalid first character at <", nPos, ">.");
                if (scan.countError())
                    return nullptr;
                nNameBegin = nPos;
                nState = CAttributeScanner::IN_NAME;
            }
            ++nPos;
            break;

        case CAttributeScanner::IN_NAME:
            if (!bAtEnd && IsNameChar(c)) {
                ++nPos;
                break;
            }
            if (bAtEnd || bSpace || c == '=') {
                nNameEnd = nPos;
                if (bAtEnd) {
                    if (!scan.add(nNameBegin, nNameEnd, INVALID_POS, INVALID_POS, INVALID_POS, INVALID_POS,
                                  nPos))
                        return nullptr;
                    goto complete;
                }
                nState = c == '=' ? CAttributeScanner::AFTER_EQUALS : CAttributeScanner::AFTER_NAME;
                ++nPos;
                break;
            }
            if (c == '<') {
                scan.logAt(" Rejected because of '<' character in attribute name at <", nPos, ">.");
                return nullptr;
            }
            if (scan.isIgnorableSlash(nPos, bClosingSlashIgnored)) {
                // The slash ends the name; what follows is the closing '>'.
                nNameEnd = nPos;
                nState = CAttributeScanner::AFTER_NAME;
                ++nPos;
                break;
            }
            scan.logAt(" Contains attribute name with invalid character at <", nPos, ">");
            if (scan.countError())
                return nullptr;
            ++nPos;
            break;

        case CAttributeScanner::AFTER_NAME:
            if (!bAtEnd && c == '=') {
                nState = CAttributeScanner::AFTER_EQUALS;
                ++nPos;
                break;
            }
            if (bSpace) {
                ++nPos;
                break;
            }
            if (!scan.add(nNameBegin, nNameEnd, INVALID_POS, INVALID_POS, INVALID_POS, INVALID_POS, nPos))
                return nullptr;
            if (bAtEnd)
                goto complete;
            nState = CAttributeScanner::BETWEEN; // the same byte again, between attributes
            break;

        case CAttributeScanner::AFTER_EQUALS:
            nValueBegin = nPos;
            if (bAtEnd) {
                scan.logAt(" Has missing attribute value after '=' sign at <", nPos, ">.");
                if (!scan.add(nNameBegin, nNameEnd, nPos, nPos, nPos, nPos, nPos))
                    return nullptr;
                goto complete;
            }
            if (bSpace) {
                ++nPos;
                break;
            }
            if (c == '<') {
                scan.logAt(" Rejected because of '<' character at start of attribute value at <", nPos, ">.");
                return nullptr;
            }
            if (c == '\'' || c == '"') {
                cQuote = static_cast<char>(c);
                nValueBegin = nPos + 1;
            } else {
                cQuote = ' ';
            }
            nState = CAttributeScanner::IN_VALUE;
            ++nPos;
            break;

        case CAttributeScanner::IN_VALUE:
            if (cQuote == ' ') {
                if (bAtEnd || bSpace) {
                    if (!scan.add(nNameBegin, nNameEnd, nValueBegin, nPos, nValueBegin, nPos, nPos))
                        return nullptr;
                    if (bAtEnd)
                        goto complete;
                    nState = CAttributeScanner::BETWEEN;
                    ++nPos;
                    break;
                }
                if (c == '<') {
                    scan.logAt(" Rejected because of '<' character in unquoted attribute value at <", nPos,
                               ">.");
                    return nullptr;
                }
                ++nPos;
                break;
            }
            if (bAtEnd) {
                // Only an explicit limit ends the scan inside quotes.
                scan.logAt(". Tag terminated in the middle of a quoted attribute value at <", nPos, ">. ");
                if (scan.countError())
                    return nullptr;
                if (!scan.add(nNameBegin, nNameEnd, nValueBegin, nPos, nValueBegin - 1, nPos, nPos))
                    return nullptr;
                goto complete;
            }
            if (c == static_cast<unsigned char>(cQuote)) {
                if (!scan.add(nNameBegin, nNameEnd, nValueBegin, nPos, nValueBegin - 1, nPos + 1, nPos))
                    return nullptr;
                nState = CAttributeScanner::BETWEEN; // the quote stays pending for the whitespace warning
            }
            ++nPos;
            break;

        default:
            scan.logAt(" Rejected because name contains invalid character at <", nPos, ">.");
            return nullptr;
        }
    }

complete:
    TPos nListEnd = scan.m_nLastEnd == INVALID_POS ? nAttributesBegin : scan.m_nLastEnd;
    CAttributes* pAttributes =
        CAttributes::CREATE_NEW_INST(pSource, nAttributesBegin, nListEnd, &scan.m_vAttributes);
    if (!pAttributes)
        scan.log("construct", " Rejected because CAttributes::CREATE_NEW_INST failed.");
    return pAttributes;
}
