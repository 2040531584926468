#include "platform/IXmlDocument.h"

#include "platform/CPlatform.h"
#include "platform/ComErrorText.h"

#include <pugixml.hpp>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

// Reads the file through the platform's files (where tests can stand in for them); a Win32 code on failure.
DWORD ReadWholeFile(const std::string& csPath, std::string& csBuffer) {
    DWORD dwError = ERROR_SUCCESS;
    std::unique_ptr<IFile> spFile = CPlatform::Files().Open(csPath, EFileOpen::ReadExisting, dwError);
    if (!spFile)
        return dwError != ERROR_SUCCESS ? dwError : ERROR_READ_FAULT;
    csBuffer.resize(static_cast<size_t>(spFile->Size()));
    size_t cbRead = 0;
    if (!spFile->ReadAt(0, csBuffer.data(), csBuffer.size(), cbRead))
        return ERROR_READ_FAULT;
    csBuffer.resize(cbRead);
    return ERROR_SUCCESS;
}

pugi::xml_node ToPugi(CXmlNode node) {
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node.Handle()));
}

CXmlNode FromPugi(pugi::xml_node node) {
    return CXmlNode(node.internal_object());
}

class CPugiXmlDocument : public IXmlDocument {
public:
    HRESULT Load(const std::string& csPath, CXmlParseError& error) override {
        error = CXmlParseError();
        error.csUrl = csPath;
        m_document.reset();
        // The whole file is read in one go, so a writer replacing it meanwhile gives either version.
        std::string csBuffer;
        const DWORD dwError = ReadWholeFile(csPath, csBuffer);
        if (dwError != ERROR_SUCCESS) {
            // The system's own reason (access denied, not found...) rather than one that hides it.
            error.hrCode = HRESULT_FROM_WIN32(dwError);
            error.csReason = ComErrorMessage(error.hrCode) + "\n";
            return error.hrCode;
        }
        pugi::xml_parse_result result = m_document.load_buffer(csBuffer.data(), csBuffer.size());
        if (result)
            return S_OK;
        m_document.reset();
        error.hrCode = XML_E_PARSE_FIRST | static_cast<HRESULT>(result.status);
        error.csReason = std::string(result.description()) + "\n";
        const size_t cbOffset =
            std::min(static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0)), csBuffer.size());
        std::string_view svBefore(csBuffer.data(), cbOffset);
        error.nLine = 1 + static_cast<long>(std::count(svBefore.begin(), svBefore.end(), '\n'));
        // The position counts characters of the line, as an editor shows them: a byte-order mark is not one,
        // and a multi-byte UTF-8 character is one.
        const size_t nNewline = svBefore.rfind('\n');
        size_t nLineStart = nNewline == std::string_view::npos ? 0 : nNewline + 1;
        if (nLineStart == 0 && svBefore.substr(0, 3) == "\xEF\xBB\xBF")
            nLineStart = 3;
        const std::string_view svLine = svBefore.substr(std::min(nLineStart, svBefore.size()));
        error.nLinePos = 1 + static_cast<long>(std::count_if(svLine.begin(), svLine.end(), [](char ch) {
                             return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
                         }));
        return error.hrCode;
    }

    CXmlNode SelectSingleNode(CXmlNode context, const char* pszPath) const override {
        pugi::xml_node node = context ? ToPugi(context) : static_cast<pugi::xml_node>(m_document);
        std::string_view svPath(pszPath ? pszPath : "");
        while (node && !svPath.empty()) {
            const size_t nSlash = svPath.find('/');
            const std::string csName(svPath.substr(0, nSlash));
            svPath = nSlash == std::string_view::npos ? std::string_view() : svPath.substr(nSlash + 1);
            node = node.child(csName.c_str());
        }
        return FromPugi(node);
    }

    std::vector<CXmlNode> Children(CXmlNode parent, const char* pszName) const override {
        std::vector<CXmlNode> vecNodes;
        pugi::xml_node node = parent ? ToPugi(parent) : static_cast<pugi::xml_node>(m_document);
        for (pugi::xml_node child : node.children(pszName))
            vecNodes.push_back(FromPugi(child));
        return vecNodes;
    }

    bool GetAttribute(CXmlNode element, const char* pszName, std::string& csValue) const override {
        pugi::xml_attribute attribute = ToPugi(element).attribute(pszName);
        if (!attribute)
            return false;
        csValue = attribute.value();
        return true;
    }

    CXmlNode AppendElement(CXmlNode parent, const char* pszName) override {
        pugi::xml_node node = parent ? ToPugi(parent) : static_cast<pugi::xml_node>(m_document);
        return FromPugi(node.append_child(pszName));
    }

    bool SetAttribute(CXmlNode element, const char* pszName, const std::string& csValue) override {
        pugi::xml_node node = ToPugi(element);
        if (!node)
            return false;
        pugi::xml_attribute attribute = node.attribute(pszName);
        if (!attribute)
            attribute = node.append_attribute(pszName);
        return attribute.set_value(csValue.c_str());
    }

    HRESULT Save(const std::string& csPath) const override {
        return m_document.save_file(csPath.c_str(), "  ", pugi::format_default | pugi::format_write_bom,
                                    pugi::encoding_utf8)
                   ? S_OK
                   : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }

private:
    pugi::xml_document m_document;
};

} // namespace

std::unique_ptr<IXmlDocument> CreateXmlDocument() {
    return std::make_unique<CPugiXmlDocument>();
}
