// The door to the two settings files: finds and loads them, reloads them when they change, and serialises
// every lookup with one lock. A reload only ever tries that lock, so no request waits for it.
#pragma once

#include "platform/CSync.h"
#include "settings/CLinkCriteria.h"
#include "settings/CSWSettings.h"

#include <atomic>
#include <mutex>
#include <string>

class CHandleSWSettings {
public:
    CHandleSWSettings();
    virtual ~CHandleSWSettings();
    CHandleSWSettings(const CHandleSWSettings&) = delete;
    CHandleSWSettings& operator=(const CHandleSWSettings&) = delete;

    // Loads the link criteria and then "SWSettings.xml" from the settings folder; csSettingsPath (the folder,
    // ending with the separator) becomes the full path of "SWSettings.xml".
    HRESULT LoadSettings(std::string& csSettingsPath);
    // Why the last load of either file was refused (the file, the line and position of a parse error, the
    // reason); empty when it was not.
    std::string GetLoadFailure() const;
    // Reloads the files when "SWSettings.xml" changed; bChanged tells whether a change was found. The files
    // are read and parsed without the lookups' lock, which is only tried for putting the new content in
    // place. A refused file's reason (file, line, position, parser's text) lands in pcsFailure.
    HRESULT CheckRefresh(bool& bChanged, std::string* pcsFailure = nullptr);

    bool GetSettingFromID(DWORD dwId, int32_t& nValue, DWORD dwGroup);
    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup);
    DWORD CheckByPassList(bool& bExcluded);
    bool GetLinkCriteriaSettingsID(DWORD dwCriteria, DWORD& dwSettingsId);

    void SetServiceWorkerNumber(DWORD dwNumber);
    void SetRegistryKey(const std::string& csKey);
    std::string GetRegistryKey();
    void SetEwsUrl(const std::string& csUrl);
    std::string GetEwsUrl();
    bool IsRefreshEnabled();

    // "SWSettings.xml"'s folder to the link criteria file: the "Common Files/Settings/" folder beside the
    // product folder ("/A/B/Settings/" gives "/A/Common Files/Settings/LinkCriteriaSettings.xml").
    static std::string LinkCriteriaPath(const std::string& csSettingsFolder, char chSeparator);

    // The lookups' lock, for tests that hold it to meet a busy reload.
    CCritSec& LockForTest() { return m_lock; }

protected:
    // Both stores; reachable for tests of the reload.
    CSWSettings m_swSettings;
    CLinkCriteria m_linkCriteria;

private:
    void ReadRefreshEnabled(const CSWSettings& settings);
    HRESULT ReloadUnderTryLock(bool bLinkCriteriaChanged, std::string* pcsFailure);

    CCritSec m_lock;
    // Serialises the date checks and the reload they lead to. Request threads only try it: a thread that
    // finds a check already running goes on with the current settings.
    std::mutex m_refreshLock;
    // A change found while the lock was busy; the next check reloads it instead of losing it.
    bool m_bReloadPending = false;
    bool m_bLinkCriteriaPending = false;
    // Read by the date checks without the lookups' lock, so that they never wait for a reader.
    std::atomic<bool> m_bRefreshEnabled{true};
    DWORD m_dwServiceWorker = 0;
    std::string m_csRegistryKey;
    std::string m_csEwsUrl;
};
