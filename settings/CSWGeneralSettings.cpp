#include "settings/CSWGeneralSettings.h"

#include "filter/log/Log.h"
#include "platform/ThreadIdentity.h"
#include "settings/SettingIds.h"

DWORD CSWGeneralSettings::Init(const char* pszProductName, const char* pszModuleFileName,
                               const char* pszResourceModuleName, const char* pszRegistryKey,
                               int nFolderLevels) {
    PreInit();
    // Files, the event source and the log belong to the process, not to whoever the calling thread serves.
    CRevertToSelfScope processIdentity;
    DWORD dwResult = CGeneralSettings::Init(pszProductName, pszModuleFileName, pszResourceModuleName,
                                            pszRegistryKey, nFolderLevels);
    if (dwResult)
        dwResult = InitEWSUrl() ? TRUE : FALSE;
    return dwResult;
}

bool CSWGeneralSettings::InitEWSUrl() {
    std::string csUrl;
    // A missing setting keeps the address in force (the lookup logs its failure).
    if (GetSettingFromID(ID_EWS_URL, csUrl, SETTINGS_GROUP_PRODUCT) && !csUrl.empty()) {
        m_handler.SetEwsUrl(csUrl);
        LogMessage("[CSWGeneralSettings::InitEWSUrl] EWS URL is %s", csUrl.c_str());
    }
    return true;
}

bool CSWGeneralSettings::InitLog(const char* pszModuleFileName, DWORD) {
    CLogEnvironment env;
    env.csInstallFolder = m_csModuleFolder;
    env.csModuleFileName = pszModuleFileName ? pszModuleFileName : "";
    env.vReservedNames = m_vReservedNames;
    return ConfigureLog(*this, env);
}
