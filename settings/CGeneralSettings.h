// The process-wide general settings: the hub through which the filter reaches its event source, its log
// configuration and (as the settings subsystem grows) its settings files, resources and caches.
#pragma once

#include "i18n/CLanguageDetection.h"
#include "i18n/CResource.h"
#include "log/Log.h"
#include "log/LogConfig.h"
#include "platform/CEventLog.h"
#include "platform/WinTypes.h"
#include "settings/CHandleSWSettings.h"
#include "settings/CRSALoader.h"
#include "settings/SettingIds.h"

#include <string>
#include <vector>

// Event-log types as callers pass them.
constexpr WORD EVENT_TYPE_ERROR = 1;
constexpr WORD EVENT_TYPE_WARNING = 2;
constexpr WORD EVENT_TYPE_INFORMATION = 4;

constexpr size_t EVENT_TEXT_MAX = 2048;

class CGeneralSettings : public ILogSettingsReader {
public:
    CGeneralSettings();
    ~CGeneralSettings() override;
    CGeneralSettings(const CGeneralSettings&) = delete;
    CGeneralSettings& operator=(const CGeneralSettings&) = delete;

    // Initialisation in its fixed order; returns 0 on failure. A second call while initialised returns at
    // once.
    virtual DWORD Init(const char* pszProductName, const char* pszModuleFileName,
                       const char* pszResourceModuleName, const char* pszRegistryKey, int nFolderLevels);
    // Releases what Init acquired; 1 when an event source was deregistered.
    virtual DWORD Terminate();
    // Configures the diagnostic log from the settings of the group.
    virtual bool InitLog(const char* pszModuleFileName, DWORD dwGroup) = 0;
    // Builds the language tables that the detection of a user's language reads.
    virtual void InitLanguageList();

    // A setting as text, or as a number; false (and a log line) when it is missing. The caller's default
    // holds.
    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) override;
    bool GetSettingFromID(DWORD dwId, int32_t& nValue, DWORD dwGroup);

    void SetProductNumber(DWORD dwProduct) {
        m_dwProductNumber = dwProduct;
        m_handler.SetServiceWorkerNumber(dwProduct);
    }

    // Reloads the settings files when they changed (called first at every AUTH_COMPLETE); after a change the
    // log and the EWS address are configured again.
    bool RefreshSettingsIfChanged(bool& bChanged);
    // Re-reads the EWS address (setting 38).
    virtual bool InitEWSUrl() { return true; }
    // What a product starts beside the general settings, before the start is reported; false with the reason
    // in csError refuses the start.
    virtual bool InitProduct(std::string& /*csError*/) { return true; }
    bool GetLinkCriteriaSettingsID(DWORD dwCriteria, DWORD& dwGroup);
    DWORD CheckByPassList(bool& bExcluded);
    std::string GetEwsUrl() { return m_handler.GetEwsUrl(); }
    DWORD GetProductNumber() const { return m_dwProductNumber; }
    void SetEventIds(DWORD dwSuccess, DWORD dwFailure, DWORD dwErrorText);

    // Reports a printf-style text (at most 2048 characters) with the error-text event; empty texts are not
    // reported. The second form appends the system's text for an HRESULT. Never throws.
    void ReportErrorText(WORD wType, const char* pszFormat, ...) WK_PRINTF_FORMAT(3, 4);
    void ReportErrorTextHr(WORD wType, HRESULT hr, const char* pszFormat, ...) WK_PRINTF_FORMAT(4, 5);

    // Chooses a supported language from a ";"-separated list (see CLanguageDetection::DetectLanguage).
    bool DetectLanguage(const std::string& csList, std::string& csLanguage, LANGID& wCultureLangId) const {
        return m_languages.DetectLanguage(csList, csLanguage, wCultureLangId);
    }
    // Reduces "DOMAIN\user", "user@domain" or "DOMAIN/user" to the account name; false for an empty name or
    // one that ends in its separator.
    static bool ExtractUserName(std::string& csUser);

    bool IsInitialized() const { return m_bInitialized; }
    const std::string& GetModuleFileName() const { return m_csModuleFileName; }
    const std::string& GetModuleFolder() const { return m_csModuleFolder; }
    const std::string& GetSettingsPath() const { return m_csSettingsPath; }
    const std::string& GetProductFolderName() const { return m_csProductFolderName; }
    const std::string& GetCommonFolder() const { return m_csCommonFolder; }
    const std::string& GetResourcePath() const { return m_csResourcePath; }
    const std::string& GetRegistryKey() const { return m_csRegistryKey; }
    const std::vector<std::string>& GetReservedNames() const { return m_vReservedNames; }
    CEventLog& GetEventLog() { return m_eventLog; }
    const CResource& GetResource() const { return m_resource; }
    const CLanguageDetection& GetLanguages() const { return m_languages; }
    const CRSALoader& GetRSALoader() const { return m_rsaLoader; }

protected:
    // Logs the module's file and product versions and its last-write time.
    void LogModuleVersion();
    void ReportText(WORD wType, const std::string& csText);
    // Logs the SSL offloading value of the webmail service (a diagnostic only).
    void LogSslOffloading();
    // Makes this object's event source the one that reports the resource and cache components' errors.
    void BecomeErrorReporter();
    static void ReportComponentError(WORD wType, const char* pszText);
    static void LogComponentLine(const char* pszLine);

    // Finds the installation's folders from the module's own path and loads the settings files; on failure
    // csError holds the reason (already reported to the event log where there is one).
    virtual bool LoadSettings(const char* pszModuleFileName, const char* pszResourceModuleName,
                              std::string& csError, int nFolderLevels);

    CEventLog m_eventLog;
    CHandleSWSettings m_handler;
    CResource m_resource;
    CLanguageDetection m_languages;
    CRSALoader m_rsaLoader;
    std::string m_csModuleFileName;
    std::string m_csModuleFolder; // folder of the module's product, ending with the separator
    std::string m_csSettingsPath; // the settings folder, then the full path of "SWSettings.xml"
    std::string m_csProductFolderName;
    std::string m_csCommonFolder;
    std::string m_csResourcePath;
    std::string m_csRegistryKey;
    bool m_bInitialized = false;
    DWORD m_dwProductNumber = 0;
    DWORD m_dwEventSuccess = 0;
    DWORD m_dwEventFailure = 0;
    DWORD m_dwEventErrorText = 0;
    std::vector<std::string> m_vReservedNames;
};
