#include "settings/CHandleSWSettings.h"

#include "log/Log.h"
#include "platform/CPlatform.h"
#include "settings/SettingIds.h"

namespace {
const char g_szSWSettingsFile[] = "SWSettings.xml";
const char g_szLinkCriteriaFile[] = "LinkCriteriaSettings.xml";
constexpr DWORD GROUP_GENERAL = 0xFFFFFFFF;

// Loads a new copy of a live store's file into fresh; the live store goes on serving lookups meanwhile.
template <class TStore> HRESULT LoadFresh(TStore& live, TStore& fresh, std::string* pcsFailure) {
    // A file without its own interval keeps the one in force, as a reload in place would.
    fresh.SetRefreshInterval(live.GetRefreshInterval());
    const HRESULT hr = fresh.LoadSettings(live.GetPath());
    if (FAILED(hr)) {
        LogMessage("[CBasicSettings::Refresh] Refresh failed to load %s HR= 0x%x", live.GetPath().c_str(),
                   static_cast<unsigned>(hr));
        live.HashFileDate();
        if (pcsFailure)
            *pcsFailure =
                fresh.GetLoadFailure().empty() ? "\"" + live.GetPath() + "\"" : fresh.GetLoadFailure();
    }
    return hr;
}
} // namespace

CHandleSWSettings::CHandleSWSettings() {
    m_lock.Init();
}

CHandleSWSettings::~CHandleSWSettings() {
    m_lock.Delete();
}

std::string CHandleSWSettings::LinkCriteriaPath(const std::string& csSettingsFolder, char chSeparator) {
    const std::string csCommon = std::string("Common Files") + chSeparator + "Settings" + chSeparator;
    // Searching from 11 characters before the end skips the trailing "Settings" folder.
    size_t nSep = csSettingsFolder.size() >= 11
                      ? csSettingsFolder.rfind(chSeparator, csSettingsFolder.size() - 11)
                      : std::string::npos;
    if (nSep == std::string::npos) {
        size_t nSlash = csSettingsFolder.find('/');
        if (nSlash < 2)
            nSep = nSlash;
    }
    if (nSep == std::string::npos || csSettingsFolder.empty())
        return csSettingsFolder + g_szLinkCriteriaFile;
    return csSettingsFolder.substr(0, nSep) + csSettingsFolder.back() + csCommon + g_szLinkCriteriaFile;
}

HRESULT CHandleSWSettings::LoadSettings(std::string& csSettingsPath) {
    // The same order as a reload: the date checks' lock, then the lookups' lock.
    std::lock_guard<std::mutex> refreshGuard(m_refreshLock);
    CAutoLock guard(m_lock);
    HRESULT hr = E_FAIL;
    if (csSettingsPath.empty()) {
        LogMessage("HandleSWSettings::LoadSettings got a NULL path to service worker settings");
    } else {
        hr = m_linkCriteria.LoadSettings(
            LinkCriteriaPath(csSettingsPath, CPlatform::System().PathSeparator()));
        csSettingsPath += g_szSWSettingsFile;
        if (SUCCEEDED(hr)) {
            hr = m_swSettings.LoadSettings(csSettingsPath);
            if (FAILED(hr))
                return hr;
            ReadRefreshEnabled(m_swSettings);
            m_linkCriteria.SetRefreshInterval(m_swSettings.GetRefreshInterval());
            return hr;
        }
    }
    LogMessage("HandleSWSettings::LoadSettings failed to load SW settings %s HR 0x%x", csSettingsPath.c_str(),
               static_cast<unsigned>(hr));
    return hr;
}

std::string CHandleSWSettings::GetLoadFailure() const {
    return m_linkCriteria.GetLoadFailure().empty() ? m_swSettings.GetLoadFailure()
                                                   : m_linkCriteria.GetLoadFailure();
}

void CHandleSWSettings::ReadRefreshEnabled(const CSWSettings& settings) {
    // Once switched off the files are not watched again until the process restarts.
    if (!m_bRefreshEnabled)
        return;
    int32_t nEnabled = 1;
    if (!settings.GetSettingFromID(ID_REFRESH_ENABLED, nEnabled, -1))
        nEnabled = 1;
    m_bRefreshEnabled = nEnabled != 0;
}

HRESULT CHandleSWSettings::CheckRefresh(bool& bChanged, std::string* pcsFailure) {
    bChanged = false;
    std::unique_lock<std::mutex> refreshGuard(m_refreshLock, std::try_to_lock);
    if (!refreshGuard.owns_lock())
        return S_OK; // another request is checking right now
    if (!IsRefreshEnabled())
        return S_OK;
    if (m_bReloadPending) {
        bChanged = true;
        return ReloadUnderTryLock(m_bLinkCriteriaPending, pcsFailure);
    }
    bool bSettingsChanged = false;
    HRESULT hr = m_swSettings.CheckFileDate(bSettingsChanged);
    if (FAILED(hr)) {
        LogMessage("Check for SW  Refresh failed 0%x", static_cast<unsigned>(hr));
        return hr;
    }
    if (!bSettingsChanged)
        return S_OK;
    bChanged = true;
    bool bLinksChanged = false;
    hr = m_linkCriteria.CheckFileDate(bLinksChanged);
    if (FAILED(hr)) {
        LogMessage("Check for LinkSettings Refresh failed 0%x", static_cast<unsigned>(hr));
        return hr;
    }
    return ReloadUnderTryLock(bLinksChanged, pcsFailure);
}

HRESULT CHandleSWSettings::ReloadUnderTryLock(bool bLinkCriteriaChanged, std::string* pcsFailure) {
    // A refused file is not retried at every check: the next edit is seen by its date.
    m_bReloadPending = false;
    m_bLinkCriteriaPending = false;
    // A large file takes seconds to parse: that happens here, with lookups going on, and a refused file
    // leaves the stores as they are.
    CSWSettings freshSettings;
    HRESULT hr = LoadFresh(m_swSettings, freshSettings, pcsFailure);
    if (FAILED(hr))
        return hr;
    CLinkCriteria freshLinks;
    HRESULT hrLinks = bLinkCriteriaChanged ? LoadFresh(m_linkCriteria, freshLinks, pcsFailure) : S_OK;
    if (!m_lock.TryLock()) {
        LogMessage("Refresh was necessary but Critical Section was locked decided to skip the Refresh");
        // The stored file times already moved on; remembering the change keeps it from being lost.
        m_bReloadPending = true;
        m_bLinkCriteriaPending = bLinkCriteriaChanged;
        return S_OK;
    }
    m_swSettings.Adopt(freshSettings);
    m_linkCriteria.SetRefreshInterval(m_swSettings.GetRefreshInterval());
    if (bLinkCriteriaChanged && SUCCEEDED(hrLinks))
        m_linkCriteria.Adopt(freshLinks);
    m_lock.Unlock();
    ReadRefreshEnabled(m_swSettings);
    return bLinkCriteriaChanged ? hrLinks : hr;
}

bool CHandleSWSettings::GetSettingFromID(DWORD dwId, int32_t& nValue, DWORD dwGroup) {
    CAutoLock guard(m_lock);
    return m_swSettings.GetSettingFromID(static_cast<int32_t>(dwId), nValue, static_cast<int32_t>(dwGroup));
}

bool CHandleSWSettings::GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) {
    CAutoLock guard(m_lock);
    return m_swSettings.GetSettingFromID(static_cast<int32_t>(dwId), csValue, static_cast<int32_t>(dwGroup));
}

DWORD CHandleSWSettings::CheckByPassList(bool& bExcluded) {
    CAutoLock guard(m_lock);
    return m_swSettings.CheckByPassList(bExcluded);
}

bool CHandleSWSettings::GetLinkCriteriaSettingsID(DWORD dwCriteria, DWORD& dwSettingsId) {
    CAutoLock guard(m_lock);
    return m_linkCriteria.GetLinkCriteriaSettingsID(m_dwServiceWorker, dwCriteria, dwSettingsId);
}

void CHandleSWSettings::SetServiceWorkerNumber(DWORD dwNumber) {
    CAutoLock guard(m_lock);
    m_dwServiceWorker = dwNumber;
}

void CHandleSWSettings::SetRegistryKey(const std::string& csKey) {
    CAutoLock guard(m_lock);
    m_csRegistryKey = csKey;
}

std::string CHandleSWSettings::GetRegistryKey() {
    CAutoLock guard(m_lock);
    return m_csRegistryKey;
}

void CHandleSWSettings::SetEwsUrl(const std::string& csUrl) {
    CAutoLock guard(m_lock);
    m_csEwsUrl = csUrl;
}

std::string CHandleSWSettings::GetEwsUrl() {
    CAutoLock guard(m_lock);
    return m_csEwsUrl;
}

bool CHandleSWSettings::IsRefreshEnabled() {
    return m_bRefreshEnabled.load();
}
