// The worker's general settings: the log configuration, the page charset, the four caches, the EWS address,
// the user's language and the localized texts.
#pragma once

#include "directory/CBKCache.h"
#include "i18n/CPageCharSet.h"
#include "settings/CGeneralSettings.h"
#include "settings/IUserPropertyLookup.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

constexpr const char* CORE_CACHE_NAME = "HiddenMessage";
constexpr const char* AD_USER_CONFIG_CACHE_NAME = "ADUserConfig";
constexpr const char* COMMON_FOLDER_ID_CACHE_NAME = "CommonFolderID";
constexpr const char* RECIPIENT_SMTP_CACHE_NAME = "RecipientSmtp";
constexpr const char* USER_CULTURE_ATTRIBUTE = "msExchUserCulture";

// Where a user's language came from.
enum class ELanguageSource { Directory, Browser, Default };

class CSWGeneralSettings : public CGeneralSettings {
public:
    CSWGeneralSettings();

    DWORD Init(const char* pszProductName, const char* pszModuleFileName, const char* pszResourceModuleName,
               const char* pszRegistryKey, int nFolderLevels) override;
    bool InitLog(const char* pszModuleFileName, DWORD dwGroup) override;
    bool InitEWSUrl() override;
    // The EWS address and the four caches.
    bool InitProduct(std::string& csError) override;
    // Also lets go of the caches' contents.
    DWORD Terminate() override;
    // Changes whenever the settings are loaded or let go of: results memoized from them are stale once it
    // differs. Never 0, so that a memo that never saw a load cannot match.
    DWORD GetLoadGeneration() const { return m_dwLoadGeneration.load(std::memory_order_acquire); }

    // The user's language: the directory's culture for the user when it can be read, else the browser's
    // Accept-Language; English when neither names a supported language. Always true; outputs always set.
    bool DetectUserLanguage(const std::string& csUser, const std::string& csCookies,
                            const std::string& csAcceptLanguage, std::string& csLanguage, LANGID& wLangId,
                            const std::string& csSid = std::string(), ELanguageSource* peSource = nullptr);

    // One directory attribute of the user: from the "ADUserConfig" cache under the account, the session and
    // the attribute, else from the directory (by mailbox, else by SID, else by account name; only the last
    // is cached). An installed lookup replaces both.
    HRESULT GetADProperty(const std::string& csUser, const std::string& csCookies,
                          const std::string& csAttribute, std::string& csValue, const std::string& csMailbox,
                          const std::string& csSid);
    // Installs a lookup in place of the cache and the directory (null: the cache and the directory). Set
    // before requests run.
    void SetUserPropertyLookup(IUserPropertyLookup* pLookup) { m_pUserPropertyLookup.store(pLookup); }

    // A text of the resource module for the language, else its English text.
    bool GetResourceString(UINT nId, std::u16string& wsText, LANGID wLangId);
    // Several texts converted into the charset; true when every one was found and converted. Empty texts are
    // left out of the map.
    bool GetResources(const std::vector<UINT>& vIds, std::map<UINT, std::string>& mapTexts, LANGID wLangId,
                      const std::string& csCharSet);

    const CPageCharSet& GetPageCharSet() const { return m_pageCharSet; }
    CBKCache& GetCoreCache() { return m_coreCache; }
    CBKCache& GetADUserConfigCache() { return m_adUserConfigCache; }
    CBKCache& GetCommonFolderIdCache() { return m_commonFolderIdCache; }
    CBKCache& GetRecipientSmtpCache() { return m_recipientSmtpCache; }
    const std::string& GetCoreCacheName() const { return m_csCoreCacheName; }

private:
    void NextLoadGeneration();

    std::atomic<DWORD> m_dwLoadGeneration{1};
    struct CCacheTexts;
    bool InitializeCache(CBKCache& cache, const char* pszCacheName, DWORD dwMaxItemsId, DWORD dwLifetimeId,
                         const CCacheTexts& texts, std::string& csError);
    bool InitializeCaches(std::string& csError);
    HRESULT GetADPropertyCached(const std::string& csUser, const std::string& csCookies,
                                const std::string& csAttribute, std::string& csValue,
                                const std::string& csMailbox, const std::string& csSid);
    HRESULT GetADPropertyFromDirectory(const std::string& csAccount, const std::string& csSession,
                                       const std::string& csAttribute, std::string& csValue,
                                       const std::string& csMailbox, const std::string& csSid);

    CPageCharSet m_pageCharSet;
    std::string m_csCoreCacheName = CORE_CACHE_NAME;
    CBKCache m_coreCache;
    CBKCache m_adUserConfigCache;
    CBKCache m_commonFolderIdCache;
    CBKCache m_recipientSmtpCache;
    std::atomic<IUserPropertyLookup*> m_pUserPropertyLookup{nullptr};
};
