// Reads setting values from the installation's settings file, so that the diagnostic log and the other
// early consumers can be configured. It knows the file's general section and its setting groups; reloading
// when the file changes, link criteria and bypass lists belong to the full settings store.
#pragma once

#include "platform/WinTypes.h"

#include <map>
#include <string>

class CGeneralSectionReader {
public:
    // Reads the file; S_OK, HRESULT_FILE_NOT_FOUND when it is missing, E_FAIL when it does not parse (the
    // reason goes to csError). The content is replaced only when the whole file was read.
    HRESULT Load(const std::string& csPath, std::string& csError);
    // The value of a setting in the group, falling back to the general section; the group 0xFFFFFFFF reads
    // the general section only.
    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) const;
    bool IsLoaded() const { return m_bLoaded; }

private:
    typedef std::map<int32_t, std::string> CItems;
    bool m_bLoaded = false;
    CItems m_mapGeneral;
    std::map<int32_t, CItems> m_mapGroups;
};
