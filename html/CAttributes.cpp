#include "html/CElement.h"
#include "log/Log.h"

#include <cstring>

CAttributes::CAttributes(CSource* pSource, TPos nBegin, TPos nEnd, std::vector<CAttribute*> vAttributes)
    : CSegment(pSource, nBegin, nEnd), m_vAttributes(std::move(vAttributes)) {}

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

// The attribute-list scanner: one member function per state of the parse, and what it has collected so far.
// Each state looks at the current byte and says whether the scan goes on, is complete or rejects the list.
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
    enum EStep { NEXT, COMPLETE, REJECT };

    CAttributeScanner(CSource* pSource, const char* pszType, TPos nBegin, const CStartTagType* pType,
                      const std::string& csTagName, int nMaxErrorCount, bool bClosingSlashIgnored)
        : m_pSource(pSource), m_pszType(pszType), m_nBegin(nBegin), m_pType(pType), m_csTagName(csTagName),
          m_nMaxErrorCount(nMaxErrorCount), m_bClosingSlashIgnored(bClosingSlashIgnored),
          m_bNormal(StartTagTypes() && pType == &StartTagTypes()->m_normal) {}

    // Scans from nPos in the given state up to the end of the list; false when the list is rejected.
    bool run(int nState, TPos nPos, TPos nEndLimit) {
        m_nState = nState;
        m_nPos = nPos;
        m_nEndLimit = nEndLimit;
        for (;;) {
            if (!readByte())
                return false;
            const EStep eStep = step();
            if (eStep != NEXT)
                return eStep == COMPLETE;
            skipPlainBytes();
        }
    }

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

    std::vector<CAttribute*> m_vAttributes;
    TPos m_nLastEnd = INVALID_POS;

private:
    // Classifies the byte at the scan position; false (logged) when the source ends before the tag does.
    bool readByte() {
        const bool bInQuotes = m_nState == IN_VALUE && m_cQuote != ' ';
        if (m_nEndLimit != INVALID_POS && m_nPos == m_nEndLimit) {
            m_bAtEnd = true;
        } else if (m_nPos >= m_pSource->getEnd() || m_nPos < m_pSource->getBegin()) {
            log("construct", " Rejected because it has no closing '>' character.");
            return false;
        } else {
            // Inside quotes a closing delimiter belongs to the value.
            m_bAtEnd = !bInQuotes && m_pType->atEndOfAttributes(m_pSource, m_nPos, m_bClosingSlashIgnored);
        }
        m_c = m_bAtEnd && m_nPos >= m_pSource->getEnd() ? 0 : m_pSource->byteAt(m_nPos);
        m_bSpace = !m_bAtEnd && IsHtmlWhitespace(m_c);
        return true;
    }

    // Passes the bytes that can only move the scan on, without a state step each: the inside of a quoted
    // value up to its quote, and in a normal tag the rest of a name or of an unquoted value. The scan stops
    // before the limit, the source end and every byte a state would act on.
    void skipPlainBytes() {
        TPos nStop = m_pSource->getEnd();
        if (m_nEndLimit != INVALID_POS && m_nEndLimit < nStop)
            nStop = m_nEndLimit;
        if (m_nPos >= nStop || m_nPos < m_pSource->getBegin())
            return;
        if (m_nState == IN_VALUE && m_cQuote != ' ') {
            const char* pData = m_pSource->getData();
            const void* p = std::memchr(pData + m_nPos, m_cQuote, static_cast<size_t>(nStop - m_nPos));
            m_nPos = p ? static_cast<TPos>(static_cast<const char*>(p) - pData) : nStop;
        } else if (m_bNormal && m_nState == IN_NAME) {
            while (m_nPos < nStop && IsNameChar(m_pSource->byteAt(m_nPos)))
                ++m_nPos;
        } else if (m_bNormal && m_nState == IN_VALUE) {
            while (m_nPos < nStop && !IsUnquotedValueStop(m_pSource->byteAt(m_nPos)))
                ++m_nPos;
        }
    }
    static bool IsUnquotedValueStop(unsigned char c) {
        return c == '>' || c == '/' || c == '<' || IsHtmlWhitespace(c);
    }

    EStep step() {
        switch (m_nState) {
        case AFTER_TAG_NAME:
            return afterTagName();
        case BETWEEN:
            return between();
        case IN_NAME:
            return inName();
        case AFTER_NAME:
            return afterName();
        case AFTER_EQUALS:
            return afterEquals();
        case IN_VALUE:
            return m_cQuote == ' ' ? inUnquotedValue() : inQuotedValue();
        default:
            return reject(" Rejected because name contains invalid character at <", ">.");
        }
    }

    EStep advance() {
        ++m_nPos;
        return NEXT;
    }
    EStep moveTo(EState eState) {
        m_nState = eState;
        return advance();
    }
    EStep reject(const char* pszRest, const char* pszTail) {
        logAt(pszRest, m_nPos, pszTail);
        return REJECT;
    }
    // Completes the list when the attribute could be added.
    EStep addAndComplete(TPos nValueBegin, TPos nValueEnd, TPos nQuotedBegin, TPos nQuotedEnd) {
        return add(nValueBegin, nValueEnd, nQuotedBegin, nQuotedEnd) ? COMPLETE : REJECT;
    }

    EStep afterTagName() {
        if (m_bAtEnd)
            return COMPLETE;
        if (m_bSpace)
            return moveTo(BETWEEN);
        if (!isIgnorableSlash())
            return reject(" Rejected because name contains invalid character at <", ">.");
        return advance();
    }

    EStep between() {
        if (m_bAtEnd)
            return COMPLETE;
        if (m_bSpace) {
            m_cQuote = ' ';
            return advance();
        }
        if (m_cQuote != ' ') {
            logAt(" Has missing whitespace after quoted attribute value at <", m_nPos, ">.");
            m_cQuote = ' ';
        }
        if (!IsNameStartChar(m_c)) {
            if (m_c == '<')
                return reject(" Rejected because of '<' character at <", ">.");
            if (isIgnorableSlash())
                return advance();
            logAt(" Contains attribute name with invalid first character at <", m_nPos, ">.");
            if (countError())
                return REJECT;
        }
        m_nNameBegin = m_nPos;
        return moveTo(IN_NAME);
    }

    EStep inName() {
        if (!m_bAtEnd && IsNameChar(m_c))
            return advance();
        if (m_bAtEnd || m_bSpace || m_c == '=') {
            m_nNameEnd = m_nPos;
            if (m_bAtEnd)
                return addAndComplete(INVALID_POS, INVALID_POS, INVALID_POS, INVALID_POS);
            return moveTo(m_c == '=' ? AFTER_EQUALS : AFTER_NAME);
        }
        if (m_c == '<')
            return reject(" Rejected because of '<' character in attribute name at <", ">.");
        if (isIgnorableSlash()) {
            // The slash ends the name; what follows is the closing '>'.
            m_nNameEnd = m_nPos;
            return moveTo(AFTER_NAME);
        }
        logAt(" Contains attribute name with invalid character at <", m_nPos, ">");
        return countError() ? REJECT : advance();
    }

    EStep afterName() {
        if (!m_bAtEnd && m_c == '=')
            return moveTo(AFTER_EQUALS);
        if (m_bSpace)
            return advance();
        if (!add(INVALID_POS, INVALID_POS, INVALID_POS, INVALID_POS))
            return REJECT;
        if (m_bAtEnd)
            return COMPLETE;
        m_nState = BETWEEN; // the same byte again, between attributes
        return NEXT;
    }

    EStep afterEquals() {
        m_nValueBegin = m_nPos;
        if (m_bAtEnd) {
            logAt(" Has missing attribute value after '=' sign at <", m_nPos, ">.");
            return addAndComplete(m_nPos, m_nPos, m_nPos, m_nPos);
        }
        if (m_bSpace)
            return advance();
        if (m_c == '<')
            return reject(" Rejected because of '<' character at start of attribute value at <", ">.");
        m_cQuote = ' ';
        if (m_c == '\'' || m_c == '"') {
            m_cQuote = static_cast<char>(m_c);
            m_nValueBegin = m_nPos + 1;
        }
        return moveTo(IN_VALUE);
    }

    EStep inUnquotedValue() {
        if (m_bAtEnd || m_bSpace) {
            if (!add(m_nValueBegin, m_nPos, m_nValueBegin, m_nPos))
                return REJECT;
            return m_bAtEnd ? COMPLETE : moveTo(BETWEEN);
        }
        if (m_c == '<')
            return reject(" Rejected because of '<' character in unquoted attribute value at <", ">.");
        return advance();
    }

    EStep inQuotedValue() {
        if (m_bAtEnd) {
            // Only an explicit limit ends the scan inside quotes.
            logAt(". Tag terminated in the middle of a quoted attribute value at <", m_nPos, ">. ");
            if (countError())
                return REJECT;
            return addAndComplete(m_nValueBegin, m_nPos, m_nValueBegin - 1, m_nPos);
        }
        if (m_c == static_cast<unsigned char>(m_cQuote)) {
            if (!add(m_nValueBegin, m_nPos, m_nValueBegin - 1, m_nPos + 1))
                return REJECT;
            m_nState = BETWEEN; // the quote stays pending for the whitespace warning
        }
        return advance();
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
    bool isIgnorableSlash() const {
        const CStartTagTypeSingletonData* pTypes = StartTagTypes();
        if (!m_bClosingSlashIgnored || !pTypes || m_pType != &pTypes->m_normal ||
            !m_pSource->startsWithCaseless(m_nPos, "/>"))
            return false;
        log("isInvalidEmptyElementTag",
            " Contains a '/' character before the closing '>', which is ignored because "
            "tags of this name cannot be empty-element tags.");
        return true;
    }
    // Adds the attribute whose name is pending (a value begin of INVALID_POS: without a value); false
    // (logged) when a segment or the attribute cannot be created.
    bool add(TPos nValueBegin, TPos nValueEnd, TPos nQuotedBegin, TPos nQuotedEnd) {
        CSegment* pName = CSegment::CREATE_NEW_INST(m_pSource, m_nNameBegin, m_nNameEnd);
        CSegment* pValue = nullptr;
        CSegment* pQuoted = nullptr;
        if (pName && nValueBegin != INVALID_POS) {
            pValue = CSegment::CREATE_NEW_INST(m_pSource, nValueBegin, nValueEnd);
            pQuoted = pValue ? CSegment::CREATE_NEW_INST(m_pSource, nQuotedBegin, nQuotedEnd) : nullptr;
        }
        if (!pName || (nValueBegin != INVALID_POS && (!pValue || !pQuoted))) {
            logAt(" Rejected because CSegment::CREATE_NEW_INST() failed at <", m_nPos, ">.");
            return false;
        }
        std::string csKey(m_pSource->view(m_nNameBegin, m_nNameEnd));
        CAttribute* pAttribute = CAttribute::CREATE_NEW_INST(m_pSource, csKey, pName, pValue, pQuoted);
        if (!pAttribute) {
            logAt(" Rejected because CAttribute::CREATE_NEW_INST() failed at <", m_nPos, ">.");
            return false;
        }
        try {
            // Most tags have a few attributes: one allocation for them, none for a tag without.
            if (m_vAttributes.empty())
                m_vAttributes.reserve(4);
            m_vAttributes.push_back(pAttribute);
        } catch (...) {
            logAt(" Rejected because CAttribute::CREATE_NEW_INST() failed at <", m_nPos, ">.");
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
    bool m_bClosingSlashIgnored;
    // The type is the normal one, whose plain bytes (names, unquoted values) the scanner passes itself.
    bool m_bNormal;
    int m_nErrorCount = 0;
    const char* m_pszTail = "";

    int m_nState = AFTER_TAG_NAME;
    TPos m_nPos = INVALID_POS;
    TPos m_nEndLimit = INVALID_POS;
    // The byte at m_nPos: whether it ends the list, the byte itself and whether it is whitespace.
    bool m_bAtEnd = false;
    unsigned char m_c = 0;
    bool m_bSpace = false;
    // ' ' outside quotes, else the quote of the value being scanned (or just closed).
    char m_cQuote = ' ';
    TPos m_nNameBegin = INVALID_POS;
    TPos m_nNameEnd = INVALID_POS;
    TPos m_nValueBegin = INVALID_POS;
};

// A '/' before the closing '>' of a normal tag whose element cannot be an empty-element tag is ignored.
bool IsClosingSlashIgnored(const CStartTagType* pStartTagType, int nNameIndex) {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    const CHTMLElementsSingletonData* pElements = HTMLElements();
    return pTypes && pElements && pStartTagType == &pTypes->m_normal &&
           pElements->m_cannotBeEmptyElementTags.contains(nNameIndex);
}

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
    CAttributeScanner scan(pSource, pszType, nBegin, pStartTagType, csTagName, nMaxErrorCount,
                           IsClosingSlashIgnored(pStartTagType, nNameIndex));
    if (!scan.run(nInitialState, nAttributesBegin, nEndLimit))
        return nullptr;
    TPos nListEnd = scan.m_nLastEnd == INVALID_POS ? nAttributesBegin : scan.m_nLastEnd;
    // The scanner's list moves into the new object instead of being copied.
    CAttributes* pAttributes = nullptr;
    if (checkConstructorArgs(pSource, nAttributesBegin, nListEnd, &scan.m_vAttributes))
        pAttributes = pSource->createOwned<CAttributes>(pSource, nAttributesBegin, nListEnd,
                                                        std::move(scan.m_vAttributes));
    if (!pAttributes) {
        LogMessage("[CAttributes::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d>.",
                   LogPos(nAttributesBegin), LogPos(nListEnd));
        scan.log("construct", " Rejected because CAttributes::CREATE_NEW_INST failed.");
    }
    return pAttributes;
}
