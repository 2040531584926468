#include "html/CTagType.h"

#include "html/CElement.h"
#include "log/Log.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------------------------
// Type objects

CTagType::CTagType(const char* pszDescription, const char* pszStartDelimiter, const char* pszClosingDelimiter,
                   bool bIsServerTag, bool bEmptyNamePrefix)
    : m_csDescription(pszDescription), m_csStartDelimiter(pszStartDelimiter),
      m_csClosingDelimiter(pszClosingDelimiter), m_bIsServerTag(bIsServerTag),
      m_csNamePrefix(bEmptyNamePrefix ? std::string() : m_csStartDelimiter.substr(1)),
      m_csStartDelimiterPrefix("<") {}

CTagType::~CTagType() = default;

// ---------------------------------------------------------------------------------------------------------------
// Singletons

CStartTagTypeSingletonData::CStartTagTypeSingletonData()
    : m_normal(EndTagTypes() ? &EndTagTypes()->m_normal : nullptr) {}

CTagTypeSingletonData::CTagTypeSingletonData() {
    const CStartTagTypeSingletonData* pTypes = StartTagTypes();
    if (pTypes) {
        m_vEnclosedMarkupTypes.push_back(&pTypes->m_comment);
        m_vEnclosedMarkupTypes.push_back(&pTypes->m_cdataSection);
    }
}

namespace {
class CTagTypeRegisterBuilder {
public:
    // Registration order decides the order of equal delimiters: the later type is tried first.
    static void Fill(CTagTypeRegister& reg) {
        const CStartTagTypeSingletonData* pStart = StartTagTypes();
        const CEndTagTypeSingletonData* pEnd = EndTagTypes();
        if (!pStart || !pEnd)
            return;
        reg.add(&pStart->m_unregistered);
        reg.add(&pStart->m_normal);
        reg.add(&pStart->m_comment);
        reg.add(&pStart->m_markupDeclaration);
        reg.add(&pStart->m_doctypeDeclaration);
        reg.add(&pStart->m_cdataSection);
        reg.add(&pStart->m_xmlProcessingInstruction);
        reg.add(&pStart->m_xmlDeclaration);
        reg.add(&pStart->m_serverCommon);
        reg.add(&pEnd->m_unregistered);
        reg.add(&pEnd->m_normal);
    }
};
} // namespace

CTagTypeRegister::CTagTypeRegister() {}

const CStartTagTypeSingletonData* StartTagTypes() {
    return CParserSingleton<CStartTagTypeSingletonData>::get();
}
const CEndTagTypeSingletonData* EndTagTypes() {
    return CParserSingleton<CEndTagTypeSingletonData>::get();
}
const CTagTypeSingletonData* EnclosedMarkupTagTypes() {
    return CParserSingleton<CTagTypeSingletonData>::get();
}

CTagTypeRegisterSingletonData::CTagTypeRegisterSingletonData() {
    CTagTypeRegisterBuilder::Fill(m_register);
}

const CTagTypeRegister* TagTypeRegister() {
    CTagTypeRegisterSingletonData* p = CParserSingleton<CTagTypeRegisterSingletonData>::get();
    return p ? &p->m_register : nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// Register and candidate iterator

CTagTypeRegister::CNode* CTagTypeRegister::CNode::findChild(char cKey) const {
    auto it = std::lower_bound(
        m_vChildren.begin(), m_vChildren.end(), cKey, [](const std::unique_ptr<CNode>& p, char c) {
            return static_cast<unsigned char>(p->m_cKey) < static_cast<unsigned char>(c);
        });
    return (it != m_vChildren.end() && (*it)->m_cKey == cKey) ? it->get() : nullptr;
}

void CTagTypeRegister::add(const CTagType* pTagType) {
    CNode* pNode = &m_root;
    for (char c : pTagType->getStartDelimiter()) {
        CNode* pChild = pNode->findChild(c);
        if (!pChild) {
            auto pNew = std::make_unique<CNode>();
            pNew->m_pParent = pNode;
            pNew->m_cKey = c;
            pNew->m_vChildren.reserve(4);
            pChild = pNew.get();
            auto it = std::lower_bound(pNode->m_vChildren.begin(), pNode->m_vChildren.end(), c,
                                       [](const std::unique_ptr<CNode>& p, char k) {
                                           return static_cast<unsigned char>(p->m_cKey) <
                                                  static_cast<unsigned char>(k);
                                       });
            pNode->m_vChildren.insert(it, std::move(pNew));
        }
        pNode = pChild;
    }
    auto& vTypes = pNode->m_vTagTypes;
    vTypes.erase(std::remove(vTypes.begin(), vTypes.end(), pTagType), vTypes.end());
    vTypes.insert(vTypes.begin(), pTagType);
}

CProspectiveTagTypeIterator::CProspectiveTagTypeIterator(CSource* pSource, TPos nPos) {
    if (!pSource) {
        LogMessage("[CProspectiveTagTypeIterator::CProspectiveTagTypeIterator] pSource is 0. nPos <%d>.",
                   LogPos(nPos));
        return;
    }
    const CTagTypeRegister* pRegister = TagTypeRegister();
    if (!pRegister || !pSource->contains(nPos))
        return;
    // Bytes are compared as they stand: lower-case delimiters only match lower-case text.
    const CTagTypeRegister::CNode* pNode = pRegister->getRoot();
    for (TPos i = nPos; i < pSource->getEnd(); ++i) {
        const CTagTypeRegister::CNode* pChild = pNode->findChild(static_cast<char>(pSource->byteAt(i)));
        if (!pChild)
            break;
        pNode = pChild;
    }
    moveToNonEmpty(pNode);
}

void CProspectiveTagTypeIterator::moveToNonEmpty(const CTagTypeRegister::CNode* pNode) {
    while (pNode && pNode->m_vTagTypes.empty())
        pNode = pNode->m_pParent;
    m_pCursor = pNode;
    m_pTagTypes = pNode ? &pNode->m_vTagTypes : nullptr;
    m_nCurrent = 0;
}

const CTagType* CProspectiveTagTypeIterator::getNextTagType() {
    if (!m_pCursor) {
        LogMessage("[CProspectiveTagTypeIterator::getNextTagType] m_pCursor is 0.");
        return nullptr;
    }
    const CTagType* pType = (*m_pTagTypes)[m_nCurrent++];
    if (m_nCurrent >= m_pTagTypes->size())
        moveToNonEmpty(m_pCursor->m_pParent);
    return pType;
}

// ---------------------------------------------------------------------------------------------------------------
// Tag at a position and position validity

CTag* CTagType::getTagAt(CSource* pSource, TPos nPos, bool bSkipValidityCheck) {
    if (!pSource) {
        LogMessage("[CTagType::getTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
        return nullptr;
    }
    if (!pSource->contains(nPos))
        return nullptr;
    CProspectiveTagTypeIterator it(pSource, nPos);
    while (!it.isDone()) {
        const CTagType* pType = it.getNextTagType();
        if (!pType)
            break;
        if (!bSkipValidityCheck && !pType->isValidPosition(pSource, nPos))
            continue;
        if (CTag* pTag = pType->constructTagAt(pSource, nPos))
            return pTag;
    }
    return nullptr;
}

bool CTagType::isValidPosition(CSource* pSource, TPos nPos) const {
    if (!pSource) {
        LogMessage("[CTagType::isValidPosition] pSource is 0. nPos <%d>.", LogPos(nPos));
        return false;
    }
    if (!pSource->contains(nPos))
        return false;
    if (m_bIsServerTag)
        return true;
    if (nPos == 0)
        return true;
    const CTagTypeSingletonData* pEnclosing = EnclosedMarkupTagTypes();
    if (!pEnclosing)
        return true;
    for (const CStartTagType* pType : pEnclosing->m_vEnclosedMarkupTypes) {
        // Asked directly, not through the typed records: the direct search of these types answers from one
        // forward walk that finds them all, and recording each answer would cost more than it saves.
        CTag* pTag = CTag::findPreviousOrNextTagUncached(pSource, nPos - 1, pType, SEARCH_PREVIOUS);
        if (pTag && pTag->getEnd() > nPos - 1 && pTag->getEnd() != nPos)
            return false;
    }
    return true;
}
