// The product's general settings: the one process-wide settings object of the filter. Adds the machine's
// DNS names and the browser lists that request screening and the guard script read.
#pragma once

#include "settings/CSWGeneralSettings.h"
#include "settings/SettingIds.h"
#include "text/CaselessString.h"

#include <map>
#include <string>

// Browser key to minimum version; keys compare ignoring case.
typedef std::map<CaselessString, std::string> CBrowserVersionMap;

class CWKGeneralSettings : public CSWGeneralSettings {
public:
    DWORD Init(const char* pszProductName, const char* pszModuleFileName, const char* pszResourceModuleName,
               const char* pszRegistryKey, int nFolderLevels) override;

    const std::string& GetDnsHostName() const { return m_csDnsHostName; }
    const std::string& GetDnsFullyQualifiedName() const { return m_csDnsFullyQualifiedName; }
    const CBrowserVersionMap& GetKnownBrowsers() const { return m_mapKnownBrowsers; }
    const CBrowserVersionMap& GetAllowBrowsers() const { return m_mapAllowBrowsers; }
    const std::string& GetBlockedBrowsers() const { return m_csBlockedBrowsers; }
    const std::string& GetBlockedBrowsersExceptions() const { return m_csBlockedBrowsersExceptions; }
    int32_t GetNoRedirectMode() const { return m_nNoRedirectMode; }
    const std::string& GetSpecialBrowsers() const { return m_csSpecialBrowsers; }
    const std::string& GetSpecialBrowsersExceptions() const { return m_csSpecialBrowsersExceptions; }
    const std::string& GetCancelNavBrowsers() const { return m_csCancelNavBrowsers; }
    const std::string& GetCancelNavBrowsersExceptions() const { return m_csCancelNavBrowsersExceptions; }

private:
    // Rebuilds the allow map from the allow-list setting. Request threads read that map without a lock, so
    // it is built only by Init, before any request runs.
    void InitializeAllowBrowserList();
    bool ReadComputerNames();
    void ReadFullyQualifiedName();
    bool ReadHostName();
    void InitializeKnownBrowsers();
    void InitializeProductSettings();
    std::string ReadText(DWORD dwId);

    std::string m_csDnsHostName;
    std::string m_csDnsFullyQualifiedName;
    CBrowserVersionMap m_mapKnownBrowsers;
    CBrowserVersionMap m_mapAllowBrowsers;
    std::string m_csBlockedBrowsers;
    std::string m_csBlockedBrowsersExceptions;
    int32_t m_nNoRedirectMode = 0;
    std::string m_csSpecialBrowsers;
    std::string m_csSpecialBrowsersExceptions;
    std::string m_csCancelNavBrowsers;
    std::string m_csCancelNavBrowsersExceptions;
};
