// Tags (start and end) and the attributes of start tags, with the finders that locate them in a source.
#pragma once

#include "html/CSegment.h"
#include "html/CTagType.h"

#include <string>
#include <vector>

class CElement;
struct COptionalEndTagEntry;

class CTag : public CSegment {
public:
    virtual CElement* getElement() = 0;
    virtual bool isStartTag() const = 0;
    virtual const CTagType* getTagType() const = 0;
    virtual bool isUnregistered() const = 0;

    const std::string& getName() const { return m_csName; }
    int getNameIndex() const { return m_nNameIndex; }

    static bool checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd);

    // The tag at exactly the position: through the source's cache when it has one, else searched directly.
    static CTag* getTagAt(CSource* pSource, TPos nPos);
    static CTag* getTagAtUncached(CSource* pSource, TPos nPos);
    // The nearest registered (not unregistered) tag beginning at or after (bNext) or at or before the
    // position; with a type, the nearest tag of that type.
    static CTag* findPreviousOrNextTag(CSource* pSource, TPos nPos, bool bNext);
    static CTag* findPreviousOrNextTag(CSource* pSource, TPos nPos, const CTagType* pTagType, bool bNext);
    // The same without the cache. nLimit bounds the walk: forward, only tags beginning before it; backward,
    // only tags beginning at or after it (INVALID_POS: the source end or begin).
    static CTag* findPreviousOrNextTagUncached(CSource* pSource, TPos nPos, bool bNext,
                                               TPos nLimit = INVALID_POS);
    static CTag* findPreviousOrNextTagUncached(CSource* pSource, TPos nPos, const CTagType* pTagType,
                                               bool bNext, TPos nLimit = INVALID_POS);

protected:
    CTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName, int nNameIndex);

    std::string m_csName;
    int m_nNameIndex;
    CElement* m_pElement = nullptr;
    bool m_bElementComputed = false;

private:
    static CTag* findHidingTag(CSource* pSource, TPos nPos, const CTagType* pTagType, bool bNext,
                               TPos nLimit);
    static void scanHidingTags(CSource* pSource, TPos nUpTo);
};

class CAttribute : public CSegment {
public:
    static CAttribute* CREATE_NEW_INST(CSource* pSource, const std::string& csKey, CSegment* pNameSegment,
                                       CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes);
    static bool checkConstructorArgs(const CSource* pSource, const CSegment* pNameSegment,
                                     const CSegment* pValueSegment,
                                     const CSegment* pValueSegmentIncludingQuotes);

    const std::string& getKey() const { return m_csKey; }
    CSegment* getNameSegment() const { return m_pNameSegment; }
    // Null when the attribute was written without '='.
    CSegment* getValueSegment() const { return m_pValueSegment; }
    CSegment* getValueSegmentIncludingQuotes() const { return m_pValueSegmentIncludingQuotes; }
    bool hasValue() const { return m_pValueSegment != nullptr; }
    std::string getValue() const { return m_pValueSegment ? m_pValueSegment->getText() : std::string(); }

private:
    CAttribute(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csKey, CSegment* pNameSegment,
               CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes);

    std::string m_csKey;
    CSegment* m_pNameSegment;
    CSegment* m_pValueSegment;
    CSegment* m_pValueSegmentIncludingQuotes;

    friend class CSource;
};

class CAttributes : public CSegment {
public:
    static CAttributes* CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd,
                                        const std::vector<CAttribute*>* pAttributesVec);
    static bool checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd,
                                     const std::vector<CAttribute*>* pAttributesVec);

    // Parses an attribute list; null when it is rejected. nEndLimit INVALID_POS means no limit.
    static CAttributes* construct(CSource* pSource, const char* pszTypeDescription, int nInitialState,
                                  TPos nBegin, TPos nAttributesBegin, TPos nEndLimit,
                                  const CStartTagType* pStartTagType, const std::string& csTagName,
                                  int nNameIndex, int nMaxErrorCount);

    const std::vector<CAttribute*>& getAttributes() const { return m_vAttributes; }
    size_t size() const { return m_vAttributes.size(); }
    // The first attribute whose name equals csName ignoring case, or null.
    CAttribute* get(std::string_view csName) const;

private:
    CAttributes(CSource* pSource, TPos nBegin, TPos nEnd, std::vector<CAttribute*> vAttributes);

    std::vector<CAttribute*> m_vAttributes;

    friend class CSource;
};

class CStartTag : public CTag {
public:
    static CStartTag* CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName,
                                      int nNameIndex, CAttributes* pAttributes,
                                      const CStartTagType* pStartTagType);
    static bool checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd,
                                     const std::string& csName, const CAttributes* pAttributes,
                                     const CStartTagType* pStartTagType);

    CElement* getElement() override;
    bool isStartTag() const override { return true; }
    const CTagType* getTagType() const override { return m_pStartTagType; }
    bool isUnregistered() const override;

    const CStartTagType* getStartTagType() const { return m_pStartTagType; }
    CAttributes* getAttributes() const { return m_pAttributes; }
    // True when the tag's text ends with "/>".
    bool isEmptyElementTag() const;

    // The end tag that closes this start tag: found, implied (zero length) or null.
    CEndTag* findEndTagInternal();
    CEndTag* findOptionalEndTag(const COptionalEndTagEntry& entry);

    // The nearest start tag at or after (bNext) or at or before the position; with a name (not empty), the
    // nearest one with that name. nLimit bounds the walk as for the tag finders.
    static CStartTag* findPreviousOrNext(CSource* pSource, TPos nPos, const std::string& csSearchName,
                                         bool bNext, TPos nLimit = INVALID_POS);

private:
    CStartTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName, int nNameIndex,
              CAttributes* pAttributes, const CStartTagType* pStartTagType);

    struct COptionalSearch;
    // One step of the optional-end-tag walk: true with the result when it is over, false with the start tag
    // whose element the walk needs before it can go on.
    bool stepOptionalSearch(COptionalSearch& search, CEndTag*& pResult, CStartTag*& pNeedElement);
    void completeElement(CEndTag* pEndTag);
    const COptionalEndTagEntry* getOptionalEndTagEntry() const;
    CEndTag* createEmptyEndTag(TPos nPos);
    CEndTag* matchNested(CEndTag* pEndTag, bool bSkipEmptyElementTags);
    CStartTag* nextSameNameStartTag(TPos nFrom, bool bSkipEmptyElementTags);

    CAttributes* m_pAttributes;
    const CStartTagType* m_pStartTagType;
    // Set while matching an enclosing start tag of the same name: the end tag this tag's own matching finds.
    CEndTag* m_pMatchedEndTagHint = nullptr;
    // Set likewise when this tag's own matching is known to run out of end tags: an unclosed tag would
    // otherwise walk every later tag of its name again for each of its unclosed ancestors.
    bool m_bNestedMatchFailed = false;

    friend class CSource;
};

class CEndTag : public CTag {
public:
    static CEndTag* CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd, const CEndTagType* pEndTagType,
                                    const std::string& csName);
    static bool checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd,
                                     const CEndTagType* pEndTagType, const std::string& csName);

    CElement* getElement() override;
    bool isStartTag() const override { return false; }
    const CTagType* getTagType() const override { return m_pEndTagType; }
    bool isUnregistered() const override;

    const CEndTagType* getEndTagType() const { return m_pEndTagType; }
    // An end tag that stands for one HTML implies; it has no text.
    bool isEmpty() const { return m_nBegin == m_nEnd; }
    void setElement(CElement* pElement) {
        m_pElement = pElement;
        m_bElementComputed = true;
    }
    bool hasElement() const { return m_pElement != nullptr; }

    static CEndTag* findPreviousOrNext(CSource* pSource, TPos nPos, const std::string& csName,
                                       const CEndTagType* pEndTagType, bool bNext, TPos nLimit = INVALID_POS);

private:
    CEndTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName, int nNameIndex,
            const CEndTagType* pEndTagType);

    const CEndTagType* m_pEndTagType;

    friend class CSource;
};
