// The language tables of the general settings: which browser or directory language tags map to which of
// the resource module's languages, and the culture names the directory may hold with their LANGIDs.
#pragma once

#include "platform/WinTypes.h"
#include "text/CaselessString.h"

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The primary English language id that detection reports before it has found anything.
constexpr LANGID LANGID_PRIMARY_ENGLISH = 9;

class CLanguageDetection {
public:
    CLanguageDetection();

    // Builds the culture table; the prefix list exists from construction. Idempotent.
    void InitCultureTable();

    // Chooses a supported language from a list of tags separated by ";" (an empty item ends the list).
    // The outputs start as "en" and 9; wCultureLangId is the culture table's LANGID of the first item's
    // first tag (0 when unknown). True when a prefix matched at the start of an item.
    bool DetectLanguage(const std::string& csList, std::string& csLanguage, LANGID& wCultureLangId) const;

    // The culture's LANGID (caseless name), or 0.
    LANGID GetCultureLangId(std::string_view svCulture) const;

    const std::vector<std::pair<std::string, std::string>>& GetPrefixes() const { return m_vPrefixes; }
    size_t GetCultureCount() const { return m_mapCultures.size(); }

private:
    std::vector<std::pair<std::string, std::string>> m_vPrefixes; // (prefix, language name), tried in order
    std::map<std::string, LANGID, CCaselessLess> m_mapCultures;
};
