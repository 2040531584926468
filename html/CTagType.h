// Tag types: what opens and closes each kind of tag, how it is recognised at a position, and the registry
// that decides which types are tried at a '<' and in which order.
#pragma once

#include "html/HtmlBase.h"

#include <memory>
#include <string>
#include <vector>

class CSource;
class CTag;
class CStartTag;
class CEndTag;
class CAttributes;
class CEndTagType;

class CTagType {
public:
    virtual ~CTagType();

    // The tag of this type at the position, or null.
    virtual CTag* constructTagAt(CSource* pSource, TPos nPos) const = 0;
    virtual bool isStartTagType() const = 0;

    const std::string& getDescription() const { return m_csDescription; }
    const std::string& getStartDelimiter() const { return m_csStartDelimiter; }
    const std::string& getClosingDelimiter() const { return m_csClosingDelimiter; }
    bool isServerTag() const { return m_bIsServerTag; }
    const std::string& getNamePrefix() const { return m_csNamePrefix; }
    const std::string& getStartDelimiterPrefix() const { return m_csStartDelimiterPrefix; }

    // False inside a comment or CDATA section (except for server tags) and outside the source.
    bool isValidPosition(CSource* pSource, TPos nPos) const;
    // The first tag that a candidate type constructs at the position, or null; no cache involved.
    static CTag* getTagAt(CSource* pSource, TPos nPos, bool bSkipValidityCheck);

    CTagType(const CTagType&) = delete;
    CTagType& operator=(const CTagType&) = delete;

protected:
    CTagType(const char* pszDescription, const char* pszStartDelimiter, const char* pszClosingDelimiter,
             bool bIsServerTag, bool bEmptyNamePrefix);

    std::string m_csDescription;
    std::string m_csStartDelimiter;
    std::string m_csClosingDelimiter;
    bool m_bIsServerTag;
    std::string m_csNamePrefix;
    std::string m_csStartDelimiterPrefix;
};

class CStartTagType : public CTagType {
public:
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override = 0;
    // True when the attributes of a tag of this type end at the position.
    virtual bool atEndOfAttributes(CSource* pSource, TPos nPos, bool bClosingSlashIgnored) const = 0;
    // The position one past the closing delimiter at or after nPos, or INVALID_POS.
    virtual TPos findEnd(CSource* pSource, TPos nPos) const = 0;

    bool isStartTagType() const override { return true; }
    const CEndTagType* getCorrespondingEndTagType() const { return m_pCorrespondingEndTagType; }
    bool hasAttributes() const { return m_bHasAttributes; }
    bool isNameAfterPrefixRequired() const { return m_bIsNameAfterPrefixRequired; }

    // Creates the start tag through CStartTag::CREATE_NEW_INST, logging a failure.
    CStartTag* constructStartTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName,
                                 int nNameIndex, CAttributes* pAttributes) const;

protected:
    CStartTagType(const char* pszDescription, const char* pszStartDelimiter, const char* pszClosingDelimiter,
                  bool bIsServerTag, bool bEmptyNamePrefix, const CEndTagType* pCorrespondingEndTagType,
                  bool bHasAttributes, bool bIsNameAfterPrefixRequired);

    const CEndTagType* m_pCorrespondingEndTagType;
    bool m_bHasAttributes;
    bool m_bIsNameAfterPrefixRequired;
};

class CStartTagTypeGenericImplementation : public CStartTagType {
public:
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override;
    bool atEndOfAttributes(CSource* pSource, TPos nPos, bool bClosingSlashIgnored) const override;
    TPos findEnd(CSource* pSource, TPos nPos) const override;

    bool prefixEndsWithoutLetter() const { return m_bPrefixEndsWithoutLetter; }

protected:
    CStartTagTypeGenericImplementation(const char* pszDescription, const char* pszStartDelimiter,
                                       const char* pszClosingDelimiter, bool bIsServerTag,
                                       bool bEmptyNamePrefix, const CEndTagType* pCorrespondingEndTagType,
                                       bool bHasAttributes, bool bIsNameAfterPrefixRequired);

    bool m_bPrefixEndsWithoutLetter;
};

class CStartTagTypeUnregistered : public CStartTagType {
public:
    CStartTagTypeUnregistered();
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override;
    bool atEndOfAttributes(CSource* pSource, TPos nPos, bool bClosingSlashIgnored) const override;
    TPos findEnd(CSource* pSource, TPos nPos) const override;
};

class CStartTagTypeNormal : public CStartTagTypeGenericImplementation {
public:
    explicit CStartTagTypeNormal(const CEndTagType* pEndTagType);
    bool atEndOfAttributes(CSource* pSource, TPos nPos, bool bClosingSlashIgnored) const override;
};

class CStartTagTypeComment : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeComment();
};

class CStartTagTypeXMLDeclaration : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeXMLDeclaration();
};

class CStartTagTypeXMLProcessingInstruction : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeXMLProcessingInstruction();
};

class CStartTagTypeDoctypeDeclaration : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeDoctypeDeclaration();
    TPos findEnd(CSource* pSource, TPos nPos) const override;
};

class CStartTagTypeMarkupDeclaration : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeMarkupDeclaration();
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override;
    TPos findEnd(CSource* pSource, TPos nPos) const override;
};

class CStartTagTypeCDATASection : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeCDATASection();
};

class CStartTagTypeServerCommon : public CStartTagTypeGenericImplementation {
public:
    CStartTagTypeServerCommon();
};

class CEndTagType : public CTagType {
public:
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override = 0;
    virtual const CStartTagType* getCorrespondingStartTagType() const { return nullptr; }
    ~CEndTagType() override;

    bool isStartTagType() const override { return false; }
    // Creates the end tag through CEndTag::CREATE_NEW_INST, logging a failure.
    CEndTag* constructEndTag(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csName) const;

protected:
    CEndTagType(const char* pszDescription, const char* pszStartDelimiter, const char* pszClosingDelimiter);
};

class CEndTagTypeGenericImplementation : public CEndTagType {
public:
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override;

protected:
    CEndTagTypeGenericImplementation(const char* pszDescription, const char* pszStartDelimiter,
                                     const char* pszClosingDelimiter);
};

class CEndTagTypeUnregistered : public CEndTagType {
public:
    CEndTagTypeUnregistered();
    CTag* constructTagAt(CSource* pSource, TPos nPos) const override;
};

class CEndTagTypeNormal : public CEndTagTypeGenericImplementation {
public:
    CEndTagTypeNormal();
    const CStartTagType* getCorrespondingStartTagType() const override;
};

// A character trie over the start delimiters of the registered types.
class CTagTypeRegister {
public:
    struct CNode {
        CNode* m_pParent = nullptr;
        char m_cKey = 0;
        std::vector<std::unique_ptr<CNode>> m_vChildren; // sorted by key
        std::vector<const CTagType*> m_vTagTypes;        // most recently registered first
        CNode* findChild(char cKey) const;
    };

    CTagTypeRegister();
    // Adds the type at the node of its start delimiter, in front of the types already there.
    void add(const CTagType* pTagType);
    const CNode* getRoot() const { return &m_root; }

private:
    CNode m_root;
};

// The candidate types at a position: the longest matching start delimiter first, then shorter ones.
class CProspectiveTagTypeIterator {
public:
    CProspectiveTagTypeIterator(CSource* pSource, TPos nPos);
    // The next candidate, or null when the iteration is over.
    const CTagType* getNextTagType();
    bool isDone() const { return m_pCursor == nullptr; }

private:
    void moveToNonEmpty(const CTagTypeRegister::CNode* pNode);

    const CTagTypeRegister::CNode* m_pCursor = nullptr;
    const std::vector<const CTagType*>* m_pTagTypes = nullptr;
    size_t m_nCurrent = 0;
};

// The process-wide type objects.
class CEndTagTypeSingletonData {
public:
    CEndTagTypeUnregistered m_unregistered;
    CEndTagTypeNormal m_normal;
};

class CStartTagTypeSingletonData {
public:
    CStartTagTypeSingletonData();
    CStartTagTypeUnregistered m_unregistered;
    CStartTagTypeNormal m_normal;
    CStartTagTypeComment m_comment;
    CStartTagTypeXMLDeclaration m_xmlDeclaration;
    CStartTagTypeXMLProcessingInstruction m_xmlProcessingInstruction;
    CStartTagTypeDoctypeDeclaration m_doctypeDeclaration;
    CStartTagTypeMarkupDeclaration m_markupDeclaration;
    CStartTagTypeCDATASection m_cdataSection;
    CStartTagTypeServerCommon m_serverCommon;
};

// The types whose content hides enclosed markup: comment, then CDATA section.
class CTagTypeSingletonData {
public:
    CTagTypeSingletonData();
    std::vector<const CStartTagType*> m_vEnclosedMarkupTypes;
};

class CTagTypeRegisterSingletonData {
public:
    CTagTypeRegisterSingletonData();
    CTagTypeRegister m_register;
};

// Accessors; each returns null only when the process is out of memory.
const CStartTagTypeSingletonData* StartTagTypes();
const CEndTagTypeSingletonData* EndTagTypes();
const CTagTypeSingletonData* EnclosedMarkupTagTypes();
const CTagTypeRegister* TagTypeRegister();
