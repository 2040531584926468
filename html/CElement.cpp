#include "html/CElement.h"

#include "log/Log.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------------------------
// Element names and sets

const char* const CHTMLElementNameSingletonData::s_rgNames[NAME_COUNT] = {
    "a",        "abbr",   "acronym",    "address",  "applet",   "area",   "b",        "base",     "basefont",
    "bdo",      "big",    "blockquote", "body",     "br",       "button", "caption",  "center",   "cite",
    "code",     "col",    "colgroup",   "dd",       "del",      "dfn",    "dir",      "div",      "dl",
    "dt",       "em",     "fieldset",   "font",     "form",     "frame",  "frameset", "h1",       "h2",
    "h3",       "h4",     "h5",         "h6",       "head",     "hr",     "html",     "i",        "iframe",
    "img",      "input",  "ins",        "isindex",  "kbd",      "label",  "legend",   "li",       "link",
    "map",      "menu",   "meta",       "noframes", "noscript", "object", "ol",       "optgroup", "option",
    "p",        "param",  "pre",        "q",        "s",        "samp",   "script",   "select",   "small",
    "span",     "strike", "strong",     "style",    "sub",      "sup",    "table",    "tbody",    "td",
    "textarea", "tfoot",  "th",         "thead",    "title",    "tr",     "tt",       "u",        "ul",
    "var"};

const char* const HTML_ELEMENT_NAME_HTML = "html";
const char* const HTML_ELEMENT_NAME_HEAD = "head";
const char* const HTML_ELEMENT_NAME_BODY = "body";

namespace {
// Orders a name (any case) against a list name (lower case), as the list is sorted.
int CompareFolded(std::string_view csName, const char* pszListName) {
    size_t n = std::strlen(pszListName);
    for (size_t i = 0; i < csName.size() && i < n; ++i) {
        unsigned char a = static_cast<unsigned char>(csName[i]);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a - 'A' + 'a');
        unsigned char b = static_cast<unsigned char>(pszListName[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return csName.size() < n ? -1 : (csName.size() > n ? 1 : 0);
}
} // namespace

int CHTMLElementNameSingletonData::getIndex(std::string_view csName) const {
    int nLow = 0;
    int nHigh = NAME_COUNT - 1;
    while (nLow <= nHigh) {
        int nMid = (nLow + nHigh) / 2;
        int nCmp = CompareFolded(csName, s_rgNames[nMid]);
        if (nCmp == 0)
            return nMid;
        if (nCmp < 0)
            nHigh = nMid - 1;
        else
            nLow = nMid + 1;
    }
    return INVALID_NAME_INDEX;
}

const char* CHTMLElementNameSingletonData::getName(int nIndex) const {
    return (nIndex >= 0 && nIndex < NAME_COUNT) ? s_rgNames[nIndex] : nullptr;
}

const CHTMLElementNameSingletonData* HTMLElementNames() {
    return CParserSingleton<CHTMLElementNameSingletonData>::get();
}

int GetHTMLNameIndex(std::string_view csName) {
    const CHTMLElementNameSingletonData* pNames = HTMLElementNames();
    return pNames ? pNames->getIndex(csName) : INVALID_NAME_INDEX;
}

CHTMLElementSet::CHTMLElementSet(std::initializer_list<const char*> names) {
    for (const char* pszName : names)
        add(GetHTMLNameIndex(pszName));
}

void CHTMLElementSet::add(int nIndex) {
    if (nIndex < 0)
        return;
    size_t nWord = static_cast<size_t>(nIndex) / 64;
    if (nWord >= m_vBits.size())
        m_vBits.resize(nWord + 1, 0);
    m_vBits[nWord] |= uint64_t(1) << (nIndex % 64);
}

void CHTMLElementSet::add(const CHTMLElementSet& other) {
    if (other.m_vBits.size() > m_vBits.size())
        m_vBits.resize(other.m_vBits.size(), 0);
    for (size_t i = 0; i < other.m_vBits.size(); ++i)
        m_vBits[i] |= other.m_vBits[i];
}

void CHTMLElementSet::remove(int nIndex) {
    if (nIndex < 0 || static_cast<size_t>(nIndex) / 64 >= m_vBits.size())
        return;
    m_vBits[static_cast<size_t>(nIndex) / 64] &= ~(uint64_t(1) << (nIndex % 64));
}

bool CHTMLElementSet::contains(int nIndex) const {
    if (nIndex < 0 || static_cast<size_t>(nIndex) / 64 >= m_vBits.size())
        return false;
    return (m_vBits[static_cast<size_t>(nIndex) / 64] >> (nIndex % 64)) & 1;
}

size_t CHTMLElementSet::count() const {
    size_t n = 0;
    for (uint64_t w : m_vBits)
        n += static_cast<size_t>(__builtin_popcountll(w));
    return n;
}

CHTMLElementsSingletonData::CHTMLElementsSingletonData()
    : m_endTagForbidden{"area", "base",  "basefont", "br",   "col",  "frame", "hr",
                        "img",  "input", "isindex",  "link", "meta", "param"},
      m_nonNesting{"a",      "address",  "applet", "button", "caption", "form",     "iframe", "label",
                   "legend", "optgroup", "script", "select", "style",   "textarea", "title"},
      m_block{"p",        "h1",         "h2",   "h3",      "h4", "h5",    "h6",       "ul",
              "ol",       "dir",        "menu", "pre",     "dl", "div",   "center",   "noscript",
              "noframes", "blockquote", "form", "isindex", "hr", "table", "fieldset", "address"} {
    std::fill(std::begin(m_rgEntryOf), std::end(m_rgEntryOf), -1);
    auto addEntry = [this](const char* pszName, CHTMLElementSet start, CHTMLElementSet end,
                           CHTMLElementSet nonterminating) {
        int nIndex = GetHTMLNameIndex(pszName);
        m_rgEntryOf[nIndex] = static_cast<int>(m_vEntries.size());
        m_vEntries.push_back(COptionalEndTagEntry{start, end, nonterminating});
        m_optionalEndTag.add(nIndex);
    };
    m_vEntries.reserve(15);
    addEntry("body", {}, {"body", "html"}, {"html"});
    addEntry("colgroup", {"colgroup", "tbody", "tfoot", "thead", "tr"}, {"colgroup", "table"}, {"table"});
    addEntry("dd", {"dd", "dt"}, {"dd", "dl"}, {"dl"});
    addEntry("dt", {"dd", "dt"}, {"dl", "dt"}, {"dl"});
    addEntry("head", {"body", "frameset"}, {"head", "html"}, {});
    addEntry("html", {}, {"html"}, {"html"});
    addEntry("li", {"li"}, {"li", "ol", "ul"}, {"ol", "ul"});
    addEntry("option", {"optgroup", "option"}, {"option", "select"}, {});
    CHTMLElementSet pStart = m_block;
    pStart.add(CHTMLElementSet{"dd", "dt", "li", "td", "th"});
    CHTMLElementSet pEnd = m_block;
    pEnd.add(CHTMLElementSet{"dd", "dt", "body", "html", "tbody", "td", "tfoot", "th", "thead", "tr",
                             "caption", "legend"});
    addEntry("p", pStart, pEnd, {});
    addEntry("tbody", {"tbody", "tfoot", "thead"}, {"table", "tbody"}, {"table"});
    addEntry("td", {"tbody", "td", "tfoot", "th", "thead", "tr"},
             {"table", "tbody", "td", "tfoot", "thead", "tr"}, {"table"});
    addEntry("tfoot", {"tbody", "tfoot", "thead"}, {"table", "tfoot"}, {"table"});
    addEntry("th", {"tbody", "td", "tfoot", "th", "thead", "tr"},
             {"table", "tbody", "tfoot", "th", "thead", "tr"}, {"table"});
    addEntry("thead", {"tbody", "tfoot", "thead"}, {"table", "thead"}, {"table"});
    addEntry("tr", {"tbody", "tfoot", "thead", "tr"}, {"table", "tbody", "tfoot", "thead", "tr"}, {"table"});

    for (int i = 0; i < CHTMLElementNameSingletonData::NAME_COUNT; ++i) {
        if (!m_endTagForbidden.contains(i) && !m_optionalEndTag.contains(i))
            m_endTagRequired.add(i);
        if (!m_endTagForbidden.contains(i))
            m_cannotBeEmptyElementTags.add(i);
    }
}

const COptionalEndTagEntry* CHTMLElementsSingletonData::getOptionalEndTagEntry(int nIndex) const {
    if (nIndex < 0 || nIndex >= CHTMLElementNameSingletonData::NAME_COUNT || m_rgEntryOf[nIndex] < 0)
        return nullptr;
    return &m_vEntries[static_cast<size_t>(m_rgEntryOf[nIndex])];
}

const CHTMLElementsSingletonData* HTMLElements() {
    return CParserSingleton<CHTMLElementsSingletonData>::get();
}

// ---------------------------------------------------------------------------------------------------------------
// CElement

CElement::CElement(CSource* pSource, TPos nBegin, TPos nEnd, CStartTag* pStartTag, CEndTag* pEndTag)
    : CSegment(pSource, nBegin, nEnd), m_pStartTag(pStartTag), m_pEndTag(pEndTag) {}

bool CElement::checkConstructorArgs(const CSource* pSource, const CStartTag* pStartTag,
                                    const CEndTag* pEndTag) {
    if (!pStartTag) {
        LogMessage("[CElement::checkConstructorArgs] pStartTag is 0");
        return false;
    }
    TPos nBegin = pStartTag->getBegin();
    TPos nEnd = pEndTag ? pEndTag->getEnd() : pStartTag->getEnd();
    if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage("[CElement::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <%d> "
                   "nEnd <%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pStartTag->getSource() != pSource) {
        LogMessage("[CElement::checkConstructorArgs] pStartTag's source differs from pSource. nBegin <%d> "
                   "nEnd <%d>.",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pEndTag && pEndTag->getSource() != pSource) {
        LogMessage(
            "[CElement::checkConstructorArgs] pEndTag's source differs from pSource. nBegin <%d> nEnd <%d>.",
            LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    return true;
}

CElement* CElement::CREATE_NEW_INST(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag) {
    CElement* pElement = nullptr;
    if (checkConstructorArgs(pSource, pStartTag, pEndTag)) {
        TPos nEnd = pEndTag ? pEndTag->getEnd() : pStartTag->getEnd();
        // An implied end tag fixes where the element ends but is not kept as its end tag.
        CEndTag* pStored = (pEndTag && !pEndTag->isEmpty()) ? pEndTag : nullptr;
        pElement = pSource->createOwned<CElement>(pSource, pStartTag->getBegin(), nEnd, pStartTag, pStored);
    }
    if (!pElement)
        LogMessage("[CElement::CREATE_NEW_INST] checkConstructorArgs failed.");
    return pElement;
}

void CElement::setParentElement(CElement* pParent) {
    if (pParent && pParent->getSource() != m_pSource) {
        LogMessage(
            "[CElement::setParentElement] Parent element's source differs from this element's source. csName "
            "<%s> nBegin <%d> nEnd <%d>. Parent element name <%s> nBegin <%d> nEnd <%d>. ",
            getName().c_str(), LogPos(m_nBegin), LogPos(m_nEnd), pParent->getName().c_str(),
            LogPos(pParent->getBegin()), LogPos(pParent->getEnd()));
        return;
    }
    m_pParentElement = pParent;
    m_bParentComputed = true;
}

const std::vector<CElement*>& CElement::getChildElements() {
    return getChildElements(-1);
}

// Depth first with an explicit stack, in the order a recursive walk would take: a child's children are
// computed before the walk goes on after the child, so deeply nested pages cannot exhaust the call stack.
const std::vector<CElement*>& CElement::getChildElements(int nDepth) {
    if (nDepth != -1)
        m_nDepth = nDepth;
    if (m_bChildElementsComputed)
        return m_vChildElements;
    m_bChildElementsComputed = true;

    struct CFrame {
        CElement* pElement;
        TPos nPos;
    };
    std::vector<CFrame> vStack;
    try {
        vStack.push_back(CFrame{this, m_pStartTag->getEnd()});
        while (!vStack.empty()) {
            CElement* pElement = vStack.back().pElement;
            TPos nPos = vStack.back().nPos;
            TPos nContentEnd = pElement->getContentEnd();
            if (pElement->m_nEnd == pElement->m_pStartTag->getEnd() || nPos >= nContentEnd) {
                vStack.pop_back();
                continue;
            }
            CStartTag* pTag =
                CStartTag::findPreviousOrNext(m_pSource, nPos, std::string(), SEARCH_NEXT, nContentEnd);
            if (!pTag || pTag->getBegin() >= nContentEnd) {
                vStack.pop_back();
                continue;
            }
            if (pTag->getStartTagType()->isServerTag()) {
                vStack.back().nPos = pTag->getEnd();
                continue;
            }
            CElement* pChild = pTag->getElement();
            if (!pChild) {
                vStack.back().nPos = pTag->getEnd();
                continue;
            }
            pChild->setParentElement(pElement);
            if (pChild->getEnd() > pElement->getEnd())
                LogMessage("[CElement::getChildElements] ChildElement <%s> (ends at <%d>) extends beyond end "
                           "of parent "
                           "<%s> (ending at <%d>).",
                           pChild->getName().c_str(), LogPos(pChild->getEnd()), pElement->getName().c_str(),
                           LogPos(pElement->getEnd()));
            pElement->m_vChildElements.push_back(pChild);
            vStack.back().nPos = pChild->getEnd();
            pChild->m_nDepth = pElement->m_nDepth == -1 ? -1 : pElement->m_nDepth + 1;
            if (!pChild->m_bChildElementsComputed) {
                pChild->m_bChildElementsComputed = true;
                vStack.push_back(CFrame{pChild, pChild->m_pStartTag->getEnd()});
            }
        }
    } catch (...) {
        // Out of memory: the lists keep what was found so far.
    }
    return m_vChildElements;
}

std::vector<CStartTag*> CElement::getStartTagsByTagName(const std::string& csName) const {
    std::vector<CStartTag*> vTags;
    TPos nContentEnd = getContentEnd();
    TPos nPos = m_pStartTag->getEnd();
    try {
        while (nPos < nContentEnd) {
            CStartTag* pTag =
                CStartTag::findPreviousOrNext(m_pSource, nPos, csName, SEARCH_NEXT, nContentEnd);
            if (!pTag || pTag->getBegin() >= nContentEnd)
                break;
            if (!pTag->getStartTagType()->isServerTag())
                vTags.push_back(pTag);
            nPos = pTag->getEnd();
        }
    } catch (...) {
    }
    return vTags;
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
