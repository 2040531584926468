#include "settings/CWKGeneralSettings.h"

#include "filter/log/Log.h"

DWORD CWKGeneralSettings::Init(const char* pszProductName, const char* pszModuleFileName,
                               const char* pszResourceModuleName, const char* pszRegistryKey,
                               int nFolderLevels) {
    DWORD dwResult = CSWGeneralSettings::Init(pszProductName, pszModuleFileName, pszResourceModuleName,
                                              pszRegistryKey, nFolderLevels);
    if (!dwResult)
        LogMessage("[CWKGeneralSettings::Init] CGeneralSettings::Init() failed.");
    return dwResult;
}
