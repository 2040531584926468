#include "settings/CGeneralSectionReader.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstdlib>

namespace {

bool ParseId(const char* pszText, int32_t& nId) {
    if (!pszText || !*pszText)
        return false;
    errno = 0;
    char* pszEnd = nullptr;
    long lValue = std::strtol(pszText, &pszEnd, 10);
    if (*pszEnd != '\0' || errno == ERANGE || lValue < INT32_MIN || lValue > INT32_MAX)
        return false;
    nId = static_cast<int32_t>(lValue);
    return true;
}

// Items of one section; an item whose ID does not read as a number is skipped, a later ID wins.
void ReadItems(const pugi::xml_node& section, std::map<int32_t, std::string>& mapItems) {
    for (pugi::xml_node item : section.children("ITEM")) {
        int32_t nId = 0;
        pugi::xml_attribute value = item.attribute("VALUE");
        if (ParseId(item.attribute("ID").value(), nId) && value)
            mapItems[nId] = value.value();
    }
}

} // namespace

HRESULT CGeneralSectionReader::Load(const std::string& csPath, std::string& csError) {
    pugi::xml_document document;
    pugi::xml_parse_result result = document.load_file(csPath.c_str());
    if (result.status == pugi::status_file_not_found) {
        csError = "Settings file not found: " + csPath;
        return HRESULT_FILE_NOT_FOUND;
    }
    if (!result) {
        csError = std::string(result.description()) + " at offset " + std::to_string(result.offset) + " in " +
                  csPath;
        return E_FAIL;
    }
    pugi::xml_node root = document.child("SETTINGS");
    if (!root) {
        csError = "No SETTINGS element in " + csPath;
        return E_FAIL;
    }
    CItems mapGeneral;
    std::map<int32_t, CItems> mapGroups;
    ReadItems(root.child("GENERALSETTINGS"), mapGeneral);
    for (pugi::xml_node group : root.children("SETTING")) {
        int32_t nGroup = 0;
        if (ParseId(group.attribute("ID").value(), nGroup))
            ReadItems(group.child("ITEMS"), mapGroups[nGroup]);
    }
    m_mapGeneral.swap(mapGeneral);
    m_mapGroups.swap(mapGroups);
    m_bLoaded = true;
    return S_OK;
}

bool CGeneralSectionReader::GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) const {
    const int32_t nId = static_cast<int32_t>(dwId);
    if (dwGroup != 0xFFFFFFFF) {
        auto itGroup = m_mapGroups.find(static_cast<int32_t>(dwGroup));
        if (itGroup != m_mapGroups.end()) {
            auto it = itGroup->second.find(nId);
            if (it != itGroup->second.end()) {
                csValue = it->second;
                return true;
            }
        }
    }
    auto it = m_mapGeneral.find(nId);
    if (it == m_mapGeneral.end())
        return false;
    csValue = it->second;
    return true;
}
