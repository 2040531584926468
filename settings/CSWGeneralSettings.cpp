#include "settings/CSWGeneralSettings.h"

#include "directory/CADUserConfig.h"
#include "directory/UserSession.h"
#include "log/Log.h"
#include "platform/CPlatform.h"
#include "platform/ThreadIdentity.h"
#include "settings/SettingIds.h"

#include <algorithm>
#include <cstdio>

// The log texts of one cache's initialisation.
struct CSWGeneralSettings::CCacheTexts {
    const char* pszMaxItemsMissing; // formats may hold one %d: the setting ID
    const char* pszLifetimeMissing;
    const char* pszInstantiateFailed;
    const char* pszCreateFailed;
};

namespace {

const char* const CORE_MAX_ITEMS_MISSING =
    "CCoreGeneralSettings::Init could find ID_MAX_CACHE_ITEMS use 3000 as default";
const char* const CORE_LIFETIME_MISSING =
    "CCoreGeneralSettings::Init could find ID_CACHE_LIFETIME use 30 minutes as default";
const char* const CORE_INSTANTIATE_FAILED =
    "CSWGeneralSettings::InitializeCache failed to instantiate the Cache Object";
const char* const CORE_CREATE_FAILED = "CSWGeneralSettings::InitializeCache CreateCache failed";

} // namespace

CSWGeneralSettings::CSWGeneralSettings() = default;

DWORD CSWGeneralSettings::Init(const char* pszProductName, const char* pszModuleFileName,
                               const char* pszResourceModuleName, const char* pszRegistryKey,
                               int nFolderLevels) {
    NextLoadGeneration();
    m_pageCharSet.Init(pszProductName, pszModuleFileName, pszResourceModuleName);
    // Files, the event source, the caches and the log belong to the process, not to whoever the calling
    // thread serves.
    CRevertToSelfScope processIdentity;
    const DWORD dwResult = CGeneralSettings::Init(pszProductName, pszModuleFileName, pszResourceModuleName,
                                                  pszRegistryKey, nFolderLevels);
    NextLoadGeneration();
    return dwResult;
}

void CSWGeneralSettings::NextLoadGeneration() {
    DWORD dwNext = m_dwLoadGeneration.load(std::memory_order_relaxed) + 1;
    m_dwLoadGeneration.store(dwNext ? dwNext : 1, std::memory_order_release);
}

bool CSWGeneralSettings::InitProduct(std::string& csError) {
    return InitEWSUrl() && InitializeCaches(csError);
}

DWORD CSWGeneralSettings::Terminate() {
    const DWORD dwResult = CGeneralSettings::Terminate();
    CPlatform::CacheComponents().ReleaseCaches();
    NextLoadGeneration();
    return dwResult;
}

bool CSWGeneralSettings::InitializeCaches(std::string& csError) {
    static const CCacheTexts s_core = {CORE_MAX_ITEMS_MISSING, CORE_LIFETIME_MISSING, CORE_INSTANTIATE_FAILED,
                                       CORE_CREATE_FAILED};
    static const CCacheTexts s_commonFolderId = {
        "[CSWGeneralSettings::InitializeCommonFolderIdCache] could find ID_COMMONFOLDERID_MAX_CACHE_ITEMS "
        "(%d) use "
        "3000 as default",
        "[CSWGeneralSettings::InitializeCommonFolderIdCache] could find ID_COMMONFOLDERID_CACHE_LIFETIME "
        "(%d) use 30 "
        "minutes as default",
        "[CSWGeneralSettings::InitializeCommonFolderIdCache] failed to instantiate the Cache Object",
        "[CSWGeneralSettings::InitializeCommonFolderIdCache] CreateCache failed"};
    static const CCacheTexts s_recipientSmtp = {
        "[CSWGeneralSettings::InitializeRecipientSmtpCache] could find ID_COMMONFOLDERID_MAX_CACHE_ITEMS "
        "(%d) use "
        "3000 as default",
        "[CSWGeneralSettings::InitializeRecipientSmtpCache] could find ID_COMMONFOLDERID_CACHE_LIFETIME (%d) "
        "use 30 "
        "minutes as default",
        "[CSWGeneralSettings::InitializeCommonFolderIdCache] failed to instantiate the Cache Object",
        "[CSWGeneralSettings::InitializeRecipientSmtpCache] CreateCache failed"};

    return InitializeCache(m_coreCache, m_csCoreCacheName.c_str(), ID_CORE_MAX_CACHE_ITEMS,
                           ID_CORE_CACHE_LIFETIME, s_core, csError) &&
           InitializeCache(m_adUserConfigCache, AD_USER_CONFIG_CACHE_NAME, ID_MAX_CACHE_ITEMS,
                           ID_CACHE_LIFETIME, s_core, csError) &&
           InitializeCache(m_commonFolderIdCache, COMMON_FOLDER_ID_CACHE_NAME,
                           ID_COMMONFOLDERID_MAX_CACHE_ITEMS, ID_COMMONFOLDERID_CACHE_LIFETIME,
                           s_commonFolderId, csError) &&
           InitializeCache(m_recipientSmtpCache, RECIPIENT_SMTP_CACHE_NAME, ID_RECIPIENTSMTP_MAX_CACHE_ITEMS,
                           ID_RECIPIENTSMTP_CACHE_LIFETIME, s_recipientSmtp, csError);
}

bool CSWGeneralSettings::InitializeCache(CBKCache& cache, const char* pszCacheName, DWORD dwMaxItemsId,
                                         DWORD dwLifetimeId, const CCacheTexts& texts, std::string& csError) {
    if (!cache.Init()) {
        LogMessage("%s", texts.pszInstantiateFailed);
        csError = std::string("The cache ") + pszCacheName + " cannot be instantiated";
        return false;
    }
    int32_t nMaxItems = BKCACHE_DEFAULT_MAX_ITEMS;
    int32_t nLifetime = BKCACHE_DEFAULT_LIFETIME_MINUTES;
    if (!GetSettingFromID(dwMaxItemsId, nMaxItems, SETTINGS_GROUP_PRODUCT))
        LogMessage(texts.pszMaxItemsMissing, static_cast<int>(dwMaxItemsId));
    if (!GetSettingFromID(dwLifetimeId, nLifetime, SETTINGS_GROUP_PRODUCT))
        LogMessage(texts.pszLifetimeMissing, static_cast<int>(dwLifetimeId));
    if (!cache.CreateCache(pszCacheName, nMaxItems, nLifetime)) {
        LogMessage("%s", texts.pszCreateFailed);
        char szReason[256];
        std::snprintf(szReason, sizeof(szReason),
                      "The cache %s cannot be created with setting %u (maximum items) = %d and setting %u "
                      "(lifetime in minutes) = %d: both must be 1 or more",
                      pszCacheName, static_cast<unsigned>(dwMaxItemsId), static_cast<int>(nMaxItems),
                      static_cast<unsigned>(dwLifetimeId), static_cast<int>(nLifetime));
        csError = szReason;
        return false;
    }
    return true;
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

HRESULT CSWGeneralSettings::GetADProperty(const std::string& csUser, const std::string& csCookies,
                                          const std::string& csAttribute, std::string& csValue,
                                          const std::string& csMailbox, const std::string& csSid) {
    try {
        if (IUserPropertyLookup* pLookup = m_pUserPropertyLookup.load())
            return pLookup->GetADProperty(csUser, csCookies, csAttribute, csValue, csMailbox, csSid);
        return GetADPropertyCached(csUser, csCookies, csAttribute, csValue, csMailbox, csSid);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CSWGeneralSettings::GetADPropertyCached(const std::string& csUser, const std::string& csCookies,
                                                const std::string& csAttribute, std::string& csValue,
                                                const std::string& csMailbox, const std::string& csSid) {
    std::string csAccount = csUser;
    std::string csSession;
    if (!csUser.empty()) {
        const bool bReduced = ExtractUserName(csAccount);
        LogMessage("[CSWGeneralSettings::GetADProperty] Get property from cache, User: %s, SessionId: %s, "
                   "Parameter Name: %s, Mailbox: %s",
                   csAccount.c_str(), csSession.c_str(), csAttribute.c_str(), csMailbox.c_str());
        if (!bReduced)
            return E_INVALIDARG;
        if (!GetSessionId(csAccount, csCookies, csSession) || csSession.empty())
            LogMessage(
                "[CSWGeneralSettings::GetADProperty] Warning!: got an invalid Session id format %s for "
                "Prop: %s, continue anyway",
                csSession.c_str(), csAttribute.c_str());
        std::string csCached;
        if (m_adUserConfigCache.GetItem(AD_USER_CONFIG_CACHE_NAME, csAccount, csCached, csSession,
                                        csAttribute, BKCACHE_MODE_PROPERTY)) {
            csValue = csCached;
            LogMessage("[CSWGeneralSettings::GetADProperty] Get property from cache successfull, Value: %s !",
                       csValue.c_str());
            return S_OK;
        }
    } else if (csMailbox.empty() || csAttribute != "sAMAccountName") {
        return E_INVALIDARG;
    }
    return GetADPropertyFromDirectory(csAccount, csSession, csAttribute, csValue, csMailbox, csSid);
}

HRESULT CSWGeneralSettings::GetADPropertyFromDirectory(const std::string& csAccount,
                                                       const std::string& csSession,
                                                       const std::string& csAttribute, std::string& csValue,
                                                       const std::string& csMailbox,
                                                       const std::string& csSid) {
    int32_t nConfigType = 0;
    if (!GetSettingFromID(ID_AD_CONFIG_TYPE, nConfigType, SETTINGS_GROUP_PRODUCT))
        LogMessage("GetSettingFromID string failed ID %d, Criteria %d", static_cast<int>(ID_AD_CONFIG_TYPE),
                   -1);
    CADUserConfig userConfig(static_cast<DWORD>(nConfigType));
    const bool bByAccount = csMailbox.empty() && csSid.empty();
    if (!csMailbox.empty())
        userConfig.SetIdentity(csMailbox, AD_IDENTITY_SMTP_ADDRESS);
    else if (!csSid.empty())
        userConfig.SetIdentity(csSid, AD_IDENTITY_SID_OR_MASTER_SID);
    else
        userConfig.SetIdentity(csAccount, AD_IDENTITY_ACCOUNT_NAME);
    std::string csRead;
    const HRESULT hr = userConfig.ReadProperty(csAttribute, csRead);
    if (FAILED(hr)) {
        LogMessage(
            "[CSWGeneralSettings::GetADProperty] Getting property %s for user %s from AD failed. Session %s  "
            "Mailbox %s hr: 0x%x",
            csAttribute.c_str(), csAccount.c_str(), csSession.c_str(), csMailbox.c_str(),
            static_cast<unsigned>(hr));
        // Most users have no culture: its absence is not worth an event.
        if (csAttribute != USER_CULTURE_ATTRIBUTE)
            ReportErrorText(
                EVENT_TYPE_ERROR,
                "CSWGeneralSettings::GetADProperty failed to get %s for sUser %s sSession %s Mailbox %s",
                csAttribute.c_str(), csAccount.c_str(), csSession.c_str(), csMailbox.c_str());
        return hr;
    }
    csValue = csRead;
    LogMessage(
        "[CSWGeneralSettings::GetADProperty] Get property from AD successfull, Value: %s.! Add to cache.",
        csValue.c_str());
    if (bByAccount && !m_adUserConfigCache.AddItem(AD_USER_CONFIG_CACHE_NAME, csAccount, csValue, csSession,
                                                   csAttribute, BKCACHE_MODE_PROPERTY))
        ReportErrorText(
            EVENT_TYPE_ERROR,
            "CSWGeneralSettings::GetADProperty failed to add Item to cache Prop %s for sUser %s, val %s, "
            "Session %s",
            csAttribute.c_str(), csAccount.c_str(), csValue.c_str(), csSession.c_str());
    return S_OK;
}

bool CSWGeneralSettings::DetectUserLanguage(const std::string& csUser, const std::string& csCookies,
                                            const std::string& csAcceptLanguage, std::string& csLanguage,
                                            LANGID& wLangId, const std::string& csSid,
                                            ELanguageSource* peSource) {
    std::string csList;
    std::string csCulture;
    ELanguageSource eSource = ELanguageSource::Directory;
    if (SUCCEEDED(
            GetADProperty(csUser, csCookies, USER_CULTURE_ATTRIBUTE, csCulture, std::string(), csSid))) {
        csList = csCulture;
        std::replace(csList.begin(), csList.end(), ',', ';');
        LogMessage("[CSWGeneralSettings::DetectUserLanguage] Languages from the directory: %s",
                   csList.c_str());
    } else {
        LogMessage("[CSWGeneralSettings::DetectUserLanguage] failed and goes with Browser language");
        csList = csAcceptLanguage;
        eSource = ELanguageSource::Browser;
    }

    LANGID wCultureLangId = 0;
    bool bSupported = false;
    if (m_languages.DetectLanguage(csList, csLanguage, wCultureLangId)) {
        bSupported = m_resource.DetectLanguage(csLanguage, wLangId);
    } else {
        wLangId = LANGID_RESOURCE_ENGLISH;
    }
    if (!bSupported) {
        LogMessage(
            "[CSWGeneralSettings::DetectUserLanguage] Languages: %s not supported. Set english as default",
            csList.c_str());
        eSource = ELanguageSource::Default;
    }
    if (peSource)
        *peSource = eSource;
    LogMessage("CSWGeneralSettings User: %s langid: %d, language: %s", csUser.c_str(),
               static_cast<int>(wLangId), csLanguage.c_str());
    return true;
}

bool CSWGeneralSettings::GetResourceString(UINT nId, std::u16string& wsText, LANGID wLangId) {
    wsText.clear();
    if (m_resource.LoadString(nId, wsText, wLangId))
        return true;
    const bool bEnglish = m_resource.LoadString(nId, wsText, LANGID_RESOURCE_ENGLISH);
    LogMessage("GetResourceString didn't find res ID %d LANGID %d, it looked for English version %d",
               static_cast<int>(nId), static_cast<int>(wLangId), bEnglish ? 1 : 0);
    if (!bEnglish)
        LogMessage("GetResourceString LoadString failed  ID %d, LANGID %d", static_cast<int>(nId),
                   static_cast<int>(wLangId));
    return bEnglish;
}

bool CSWGeneralSettings::GetResources(const std::vector<UINT>& vIds, std::map<UINT, std::string>& mapTexts,
                                      LANGID wLangId, const std::string& csCharSet) {
    bool bAll = true;
    for (UINT nId : vIds) {
        std::u16string wsText;
        bool bFound = m_resource.LoadString(nId, wsText, wLangId);
        if (!bFound) {
            bFound = m_resource.LoadString(nId, wsText, LANGID_RESOURCE_ENGLISH);
            LogMessage("GetResource didn't find res ID %d LANGID %d, it looked for English version %d",
                       static_cast<int>(nId), static_cast<int>(wLangId), bFound ? 1 : 0);
            if (!bFound)
                LogMessage("GetResource can not get res ID %d for LANGID %d.", static_cast<int>(nId),
                           static_cast<int>(wLangId));
        }
        std::string csConverted;
        bool bConverted = false;
        if (bFound) {
            bConverted = m_pageCharSet.ConvertToCharSet(wsText, csCharSet, csConverted);
            if (!bConverted)
                LogMessage("GetResource can not translate the res ID %d LANGID %d, CharSet %s",
                           static_cast<int>(nId), static_cast<int>(wLangId), csCharSet.c_str());
        }
        if (!bConverted) {
            LogMessage("GetResources can not get res ID %d for LANGID %d.", static_cast<int>(nId),
                       static_cast<int>(wLangId));
            bAll = false;
            continue;
        }
        if (!csConverted.empty())
            mapTexts[nId] = csConverted;
    }
    return bAll;
}
