// The worker's general settings: adds the log configuration (and, as the module grows, caches, the EWS
// address, user properties and language detection).
#pragma once

#include "settings/CGeneralSettings.h"

class CSWGeneralSettings : public CGeneralSettings {
public:
    DWORD Init(const char* pszProductName, const char* pszModuleFileName, const char* pszResourceModuleName,
               const char* pszRegistryKey, int nFolderLevels) override;
    bool InitLog(const char* pszModuleFileName, DWORD dwGroup) override;
    bool InitEWSUrl() override;

protected:
    // Called first by Init; a point for derived settings to prepare themselves.
    virtual void PreInit() {}
};
