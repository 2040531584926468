// The string tables of a Windows resource script, read from UTF-8 text, and their compilation into a
// resource module (i18n/ResourceModuleData.h). The subset read here is what the product's tables use:
//
//   #pragma code_page(65001)            optional; any other code page is refused, the files are UTF-8
//   LANGUAGE 0x09, 0x04                 primary language (0 to 0x3FF), sublanguage (0 to 0x3F), as numbers:
//                                       LANGID = (sub << 10) | primary
//   STRINGTABLE [options]               options: LANGUAGE p, s (this table only), CHARACTERISTICS n,
//   BEGIN                               VERSION n, and the memory flags DISCARDABLE, MOVEABLE, FIXED, PURE,
//       102 "text"                      IMPURE, PRELOAD, LOADONCALL, SHARED, NONSHARED, all ignored
//       103, L"text"                    ID 0 to 65535, an optional comma, one string (optionally L"...")
//   END                                 BEGIN/END or { }; keywords in any case
//
// Numbers are decimal or 0x hexadecimal, with an optional L or U suffix. Comments are // to the end of the
// line and /* */. Inside a string: "" is a quote, and the escapes \n \t \r \\ \" \xH (1 to 4 hex digits, one
// UTF-16 code unit) and \o (1 to 3 octal digits); a string ends on its line. Every error names the file and
// the line, in the form "FILE:LINE: message".
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct CRcString {
    LANGID wLangId;
    uint32_t nId;
    std::u16string wsText;
    std::string csFile;
    int nLine; // the line of the ID
};

// Appends the strings of one script. False with the first error; the strings of a failed script are not
// appended.
bool ParseResourceScript(const std::string& csFile, const std::string& csText,
                         std::vector<CRcString>& vStrings, std::string& csError);

// The printf conversions of a text in order ("%s", "%-5d", ...); "%%" is not one.
std::vector<std::string> FormatConversions(const std::u16string& wsText);

// Collects the scripts of every language and builds one module.
class CRcCompiler {
public:
    // Parses a script and adds its strings. False on a parse error, or when an ID is defined twice for one
    // language (in this script or an earlier one); nothing of the script is added then.
    bool AddScript(const std::string& csFile, const std::string& csText, std::string& csError);
    // Every language must define the IDs of the reference language (that of the first string added), no
    // others, and with the same printf conversions in the same order. False with one line per violation.
    bool CheckConsistency(std::string& csErrors) const;
    std::vector<BYTE> Build() const;
    size_t GetStringCount() const { return m_mapStrings.size(); }

private:
    std::map<std::pair<LANGID, uint32_t>, CRcString> m_mapStrings;
    bool m_bHasReference = false;
    LANGID m_wReference = 0;
};
