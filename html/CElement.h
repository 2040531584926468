// Elements (a start tag and the end tag that closes it) and the fixed knowledge of HTML they are built from:
// the element names, the element sets and the optional-end-tag rules.
#pragma once

#include "html/CTag.h"

#include <cstdint>
#include <string_view>
#include <vector>

class CElement : public CSegment {
public:
    static CElement* CREATE_NEW_INST(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag);
    static bool checkConstructorArgs(const CSource* pSource, const CStartTag* pStartTag,
                                     const CEndTag* pEndTag);

    const std::vector<CElement*>& getChildElements() override;
    // Children at the given nesting depth of this element (-1: unknown, keep what is stored).
    const std::vector<CElement*>& getChildElements(int nDepth);

    CStartTag* getStartTag() const { return m_pStartTag; }
    // Null when the element has no end tag or only an implied one.
    CEndTag* getEndTag() const { return m_pEndTag; }
    CElement* getParentElement() const { return m_pParentElement; }
    bool isParentComputed() const { return m_bParentComputed; }
    void setParentElement(CElement* pParent);
    void setNoParent() {
        m_pParentElement = nullptr;
        m_bParentComputed = true;
    }
    int getDepth() const { return m_nDepth; }
    const std::string& getName() const { return m_pStartTag->getName(); }
    // Where the content ends: the begin of the stored end tag, or the element's end.
    TPos getContentEnd() const { return m_pEndTag ? m_pEndTag->getBegin() : m_nEnd; }

    // The start tags with the name inside the content, nested ones included, in document order.
    std::vector<CStartTag*> getStartTagsByTagName(const std::string& csName) const;

private:
    CElement(CSource* pSource, TPos nBegin, TPos nEnd, CStartTag* pStartTag, CEndTag* pEndTag);

    CStartTag* m_pStartTag;
    CEndTag* m_pEndTag;
    CElement* m_pParentElement = nullptr;
    bool m_bParentComputed = false;
    int m_nDepth = -1;

    friend class CSource;
};

// A growable bit set over element name indices; the invalid index is never a member.
class CHTMLElementSet {
public:
    CHTMLElementSet() = default;
    CHTMLElementSet(std::initializer_list<const char*> names);
    void add(int nIndex);
    void add(const CHTMLElementSet& other);
    void remove(int nIndex);
    bool contains(int nIndex) const;
    size_t count() const;

private:
    std::vector<uint64_t> m_vBits;
};

// The HTML element names in alphabetical order; a name's index is its place in the list.
class CHTMLElementNameSingletonData {
public:
    static constexpr int NAME_COUNT = 91;
    static constexpr int INDEX_BODY = 12;
    static constexpr int INDEX_HEAD = 40;
    static constexpr int INDEX_HTML = 42;
    static const char* const s_rgNames[NAME_COUNT];

    // The index of the name compared without case, or INVALID_NAME_INDEX.
    int getIndex(std::string_view csName) const;
    const char* getName(int nIndex) const;
};

// What ends an element whose end tag may be omitted.
struct COptionalEndTagEntry {
    CHTMLElementSet m_terminatingStartTags;
    CHTMLElementSet m_terminatingEndTags;
    CHTMLElementSet m_nonterminatingElements;
};

class CHTMLElementsSingletonData {
public:
    CHTMLElementsSingletonData();

    CHTMLElementSet m_endTagForbidden;
    CHTMLElementSet m_nonNesting;
    CHTMLElementSet m_optionalEndTag;
    CHTMLElementSet m_endTagRequired;
    CHTMLElementSet m_cannotBeEmptyElementTags;
    CHTMLElementSet m_block;

    // The entry of the element, or null when its end tag is not optional.
    const COptionalEndTagEntry* getOptionalEndTagEntry(int nIndex) const;

private:
    std::vector<COptionalEndTagEntry> m_vEntries;
    int m_rgEntryOf[CHTMLElementNameSingletonData::NAME_COUNT];
};

const CHTMLElementNameSingletonData* HTMLElementNames();
const CHTMLElementsSingletonData* HTMLElements();
// The name index of a name, or INVALID_NAME_INDEX (also when the name list cannot be created).
int GetHTMLNameIndex(std::string_view csName);

extern const char* const HTML_ELEMENT_NAME_HTML;
extern const char* const HTML_ELEMENT_NAME_HEAD;
extern const char* const HTML_ELEMENT_NAME_BODY;
