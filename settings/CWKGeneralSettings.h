// The product's general settings: the one process-wide settings object of the filter.
#pragma once

#include "settings/CSWGeneralSettings.h"

class CWKGeneralSettings : public CSWGeneralSettings {
public:
    DWORD Init(const char* pszProductName, const char* pszModuleFileName, const char* pszResourceModuleName,
               const char* pszRegistryKey, int nFolderLevels) override;
};
