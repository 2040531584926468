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
