// The small slice of an XML document object model that the settings files need: load with a readable parse
// error, select by a plain element path, walk children by name, read and write attributes, save. The core
// sees only this; the parser behind it belongs to the platform layer.
#pragma once

#include "platform/WinTypes.h"

#include <memory>
#include <string>
#include <vector>

// A node of one document; valid while that document lives. A default-made node is null.
class CXmlNode {
public:
    CXmlNode() = default;
    explicit CXmlNode(void* pHandle) : m_pHandle(pHandle) {}
    void* Handle() const { return m_pHandle; }
    explicit operator bool() const { return m_pHandle != nullptr; }

private:
    void* m_pHandle = nullptr;
};

// Why a document did not load. Line and position are 1-based, the position counted in characters of the line.
struct CXmlParseError {
    HRESULT hrCode = S_OK;
    std::string csReason;
    long nLine = 0;
    long nLinePos = 0;
    std::string csUrl;
};

// Parse failures fall in the range the Windows XML parser reports them in.
constexpr HRESULT XML_E_PARSE_FIRST = static_cast<HRESULT>(0xC00CE500);
// The file could not be read at all (it vanished or is unreadable) although it existed a moment ago.
constexpr HRESULT XML_E_READ = static_cast<HRESULT>(0x8007001E); // HRESULT_FROM_WIN32(ERROR_READ_FAULT)

class IXmlDocument {
public:
    virtual ~IXmlDocument() = default;
    // Replaces the document with the file's content. S_OK, or the error's code with the details in error.
    virtual HRESULT Load(const std::string& csPath, CXmlParseError& error) = 0;
    // The first element along a "/"-separated path of element names, starting below the context node (null:
    // the document itself). Null when there is none.
    virtual CXmlNode SelectSingleNode(CXmlNode context, const char* pszPath) const = 0;
    // The element children of a node with that name, in document order.
    virtual std::vector<CXmlNode> Children(CXmlNode parent, const char* pszName) const = 0;
    // False when the element has no such attribute.
    virtual bool GetAttribute(CXmlNode element, const char* pszName, std::string& csValue) const = 0;
    // Appends a new element under the parent (null: the document, for the root).
    virtual CXmlNode AppendElement(CXmlNode parent, const char* pszName) = 0;
    virtual bool SetAttribute(CXmlNode element, const char* pszName, const std::string& csValue) = 0;
    // Writes the whole document, UTF-8, indented.
    virtual HRESULT Save(const std::string& csPath) const = 0;
};

std::unique_ptr<IXmlDocument> CreateXmlDocument();
