// The document facade the page forms edit through: one page's source, its html, head and body elements,
// start tags found by name, attributes found by name, and the two edits (append to an element's content,
// insert into an attribute value) that become buffer instructions for the host. Every position it reports is
// an offset into the response data, counted from the data's first byte.
//
// Facade objects are small values. Each holds the shared source, so the parser objects it points at live as
// long as any facade object of the page does. Operations on an object whose parser object is missing throw
// CDOMParserUndefinedObjectException; lookups that find nothing return an undefined object, the invalid
// position or an empty text.
#pragma once

#include "html/CElement.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

struct CCommonPointers;
class CBufferInstructionList;

class CDOMParserException : public std::exception {
public:
    CDOMParserException(std::string csMessage, int64_t nCode);
    ~CDOMParserException() override;

    const char* what() const noexcept override { return m_csMessage.c_str(); }
    const std::string& getMessage() const { return m_csMessage; }
    int64_t getCode() const { return m_nCode; }

private:
    std::string m_csMessage;
    int64_t m_nCode;
};

// An operation was called on a facade object whose parser object is missing; the code is -1.
class CDOMParserUndefinedObjectException : public CDOMParserException {
public:
    explicit CDOMParserUndefinedObjectException(const std::string& csDetail);
};

// An argument does not fit the object; the code is the begin position of the attribute concerned.
class CDOMParserIllegalArgumentException : public CDOMParserException {
public:
    CDOMParserIllegalArgumentException(const std::string& csDetail, int64_t nCode);
};

typedef std::shared_ptr<CSource> CSourcePtr;

class CDOMAttribute {
public:
    CDOMAttribute() = default;
    CDOMAttribute(CSourcePtr spSource, CAttribute* pAttribute);

    bool isUndefined() const { return !m_spSource || !m_pAttribute; }
    // True when the attribute was written with '='.
    bool hasValue() const;
    // The value exactly as written: no quotes, no entity decoding; empty without a value.
    std::string getValue() const;
    // The value's bounds inside the quotes; INVALID_POS without a value.
    TPos getValueBeginPos() const;
    TPos getValueEndPos() const;
    // Inserts the text into the value at the offset. A valueless attribute (offset 0 only) is rewritten as
    // name="text" followed by one blank. Throws CDOMParserIllegalArgumentException for an offset past the
    // value. Returns the result of the last instruction added (ERROR_INVALID_DATA for a missing argument).
    DWORD insertValueData(uint64_t nOffset, const char* pszText, CBufferInstructionList* pList) const;

    // The parser object behind the facade (null when undefined).
    CAttribute* getParserAttribute() const { return m_pAttribute; }

private:
    void requireDefined(const char* pszDetail) const;

    CSourcePtr m_spSource;
    CAttribute* m_pAttribute = nullptr;
};

class CDOMStartTag {
public:
    CDOMStartTag() = default;
    CDOMStartTag(CSourcePtr spSource, CStartTag* pStartTag);

    bool isUndefined() const { return !m_spSource || !m_pStartTag; }
    // The first attribute whose name equals csName ignoring case; undefined when there is none.
    CDOMAttribute getAttribute(const std::string& csName) const;

    CStartTag* getParserStartTag() const { return m_pStartTag; }

private:
    CSourcePtr m_spSource;
    CStartTag* m_pStartTag = nullptr;
};

class CDOMStartTagVector {
public:
    CDOMStartTagVector() = default;
    CDOMStartTagVector(CSourcePtr spSource, std::shared_ptr<const std::vector<CStartTag*>> spTags);

    size_t size() const { return m_spTags ? m_spTags->size() : 0; }
    // The start tag at the index; undefined when the index is out of range.
    CDOMStartTag at(size_t nIndex) const;

private:
    CSourcePtr m_spSource;
    std::shared_ptr<const std::vector<CStartTag*>> m_spTags;
};

class CDOMElement {
public:
    CDOMElement() = default;
    CDOMElement(CSourcePtr spSource, CElement* pElement);

    bool isUndefined() const { return !m_spSource || !m_pElement; }
    // The '<' of the element's start tag.
    TPos getBeginPos() const;
    // Every start tag with the name (ignoring case) inside the element's content, nested ones included, in
    // document order.
    CDOMStartTagVector getStartTagsByTagName(const std::string& csName) const;
    // Adds an insertion of the text where the element's content ends: before its end tag, or at the
    // element's end when no end tag stands in the text. ERROR_SUCCESS, or ERROR_INVALID_DATA for a missing
    // argument.
    DWORD appendContentData(const char* pszText, CBufferInstructionList* pList) const;

    CElement* getParserElement() const { return m_pElement; }

private:
    CSourcePtr m_spSource;
    CElement* m_pElement = nullptr;
    mutable TPos m_nBeginPos = INVALID_POS;
};

class CDOMSource {
public:
    // An undefined source: every getter throws.
    CDOMSource() = default;
    // Parses nothing yet: creates the source over the page data and the elements the host located. Never
    // throws; a failure is logged and leaves the source (or the element) undefined.
    explicit CDOMSource(const CCommonPointers& rPointers);

    // False when the source could not be created. Never throws.
    bool isUndefined() const { return !m_spSource; }

    // The elements, searched on the first call unless the host located them; undefined when the page has
    // no such start tag.
    CDOMElement getHtml();
    CDOMElement getHead();
    CDOMElement getBody();

    // Where the HTML starts.
    TPos getBeginPos() const;
    // The first occurrence of the text ignoring case in [max(nFrom, begin), nFrom + nLength), or to the
    // source end without a length or when the range would pass it; INVALID_POS when there is none.
    TPos scanForString(const std::string& csText, TPos nFrom, TPos nLength = INVALID_POS) const;
    // At most nLength bytes from nPos, never past the source end; empty when nPos lies outside.
    std::string substringData(TPos nPos, TPos nLength) const;

    CSource* getParserSource() const { return m_spSource.get(); }

private:
    void initializeFromHost(const CCommonPointers& rPointers);
    // False (logged) when the host's addresses make no source.
    bool createSource(const CCommonPointers& rPointers);
    void initializeHtmlFromHost(TPos nStartTag);
    // An element the host located by its start tag and, optionally, its end tag (INVALID_POS: none).
    void initializeFromHostTags(TPos nStartTag, TPos nEndTag, const char* pszWhich, bool& bInitialized,
                                CDOMElement& element);
    void requireSource(const char* pszDetail) const;
    // The element of a start tag and the end tag found for it; without an end tag, the start tag's own
    // element. pszWhich names the caller and the element in the log, "[CDOMSource::getBody()] BODY".
    CElement* elementFromTags(CStartTag* pStartTag, CEndTag* pEndTag, const char* pszWhich) const;
    // The </head> of a page whose head the host did not locate.
    CEndTag* findHeadEndTag(CStartTag* pStartTag);

    CSourcePtr m_spSource;
    bool m_bHtmlInitialized = false;
    CDOMElement m_html;
    bool m_bHeadInitialized = false;
    CDOMElement m_head;
    bool m_bBodyInitialized = false;
    CDOMElement m_body;
};
