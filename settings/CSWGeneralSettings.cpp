#include "settings/CSWGeneralSettings.h"

#include "platform/ThreadIdentity.h"

DWORD CSWGeneralSettings::Init(const char* pszProductName, const char* pszModuleFileName,
                               const char* pszResourceModuleName, const char* pszRegistryKey,
                               int nFolderLevels) {
    PreInit();
    // Files, the event source and the log belong to the process, not to whoever the calling thread serves.
    CRevertToSelfScope processIdentity;
    return CGeneralSettings::Init(pszProductName, pszModuleFileName, pszResourceModuleName, pszRegistryKey,
                                  nFolderLevels);
}

bool CSWGeneralSettings::InitLog(const char* pszModuleFileName, DWORD) {
    CLogEnvironment env;
    env.csInstallFolder = m_csModuleFolder;
    env.csModuleFileName = pszModuleFileName ? pszModuleFileName : "";
    env.vReservedNames = m_vReservedNames;
    return ConfigureLog(*this, env);
}
