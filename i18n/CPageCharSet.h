// The charset a response declares, and the conversion of the filter's wide texts into it.
#pragma once

#include "platform/ICodePages.h"
#include "text/CaselessString.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>

// One process-wide object owned by the general settings: the table is filled once while they initialise and
// only read afterwards, by any number of request threads without a lock.
class CPageCharSet {
public:
    CPageCharSet();
    virtual ~CPageCharSet();
    CPageCharSet(const CPageCharSet&) = delete;
    CPageCharSet& operator=(const CPageCharSet&) = delete;

    // Keeps the installation's names and fills the table (InitCharSetTable).
    void Init(const char* pszProductName, const char* pszModuleFileName, const char* pszResourceModuleName);
    virtual void InitCharSetTable();

    // The text after the first "charset=" (any letter case) up to the next carriage return or the end of
    // the data, as it stands. False when there is none or it is empty. Any bytes, zeros included.
    static bool DetectCharSet(const char* pData, size_t cbData, std::string& csCharSet);

    // The text up to its first zero unit, encoded for the charset: "utf-8" gives escaped UTF-8
    // (EncodeUtf8Escaped), "utf-16" the thread's code page, a table name its code page. False when the
    // charset is none of these, or when this system cannot convert into its code page; csOut is then empty.
    bool ConvertToCharSet(const std::u16string& wsText, const std::string& csCharSet,
                          std::string& csOut) const;

    // The table's code page for a charset name, ignoring letter case.
    bool GetCodePage(const std::string& csCharSet, UINT& nCodePage) const;

    const std::string& GetProductName() const { return m_csProductName; }
    const std::string& GetModuleFileName() const { return m_csModuleFileName; }
    const std::string& GetResourceModuleName() const { return m_csResourceModuleName; }

protected:
    // For a table of a derived class; call only while the table is being filled.
    void AddCharSet(const char* pszCharSet, UINT nCodePage);

private:
    std::string m_csProductName;
    std::string m_csModuleFileName;
    std::string m_csResourceModuleName;
    std::map<CaselessString, UINT, std::less<>> m_mapCharSets;
};

// UTF-8 for an HTML page, each 16-bit unit on its own up to the first zero unit: '"', '<' and '>' become
// entities ('&' stays as it is), and a surrogate pair becomes two three-byte sequences.
std::string EncodeUtf8Escaped(const std::u16string& wsText);
