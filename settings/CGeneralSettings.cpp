#include "settings/CGeneralSettings.h"

#include "directory/CBKCache.h"
#include "log/Log.h"
#include "platform/CFileVersionInfo.h"
#include "platform/CPlatform.h"
#include "platform/ComErrorText.h"
#include "platform/ThreadIdentity.h"
#include "settings/ModulePath.h"
#include "text/SettingNumber.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

// The settings object that reports the errors of the resource and cache components (there is one per
// process; tests may create more, and the last initialised one reports).
std::atomic<CGeneralSettings*> g_pErrorReporter{nullptr};

constexpr const char* SSL_OFFLOADING_KEY = "SYSTEM\\CurrentControlSet\\Services\\MSExchange OWA";
constexpr const char* SSL_OFFLOADING_VALUE = "SSLOffloaded";

} // namespace

CGeneralSettings::CGeneralSettings() : m_vReservedNames{"AUX", "CON", "NUL", "PRN", "CLOCKS$"} {}

CGeneralSettings::~CGeneralSettings() {
    CGeneralSettings* pThis = this;
    g_pErrorReporter.compare_exchange_strong(pThis, nullptr);
}

void CGeneralSettings::BecomeErrorReporter() {
    g_pErrorReporter.store(this);
    CResource::SetLogCallback(&CGeneralSettings::LogComponentLine);
    CResource::SetErrorCallback(&CGeneralSettings::ReportComponentError);
    CBKCache::SetErrorCallback(&CGeneralSettings::ReportComponentError);
}

void CGeneralSettings::ReportComponentError(WORD wType, const char* pszText) {
    CGeneralSettings* pReporter = g_pErrorReporter.load();
    if (pReporter && pszText)
        pReporter->ReportText(wType, pszText);
}

void CGeneralSettings::LogComponentLine(const char* pszLine) {
    if (pszLine)
        LogMessage("%s", pszLine);
}

void CGeneralSettings::InitLanguageList() {
    m_languages.InitCultureTable();
}

void CGeneralSettings::SetEventIds(DWORD dwSuccess, DWORD dwFailure, DWORD dwErrorText) {
    m_dwEventSuccess = dwSuccess;
    m_dwEventFailure = dwFailure;
    m_dwEventErrorText = dwErrorText;
}

DWORD CGeneralSettings::Init(const char* pszProductName, const char* pszModuleFileName,
                             const char* pszResourceModuleName, const char* pszRegistryKey,
                             int nFolderLevels) {
    InitLanguageList();
    if (m_bInitialized)
        return TRUE;
    BecomeErrorReporter();
    m_eventLog.Register(pszProductName);
    m_csRegistryKey = pszRegistryKey ? pszRegistryKey : "";
    m_handler.SetRegistryKey(m_csRegistryKey);

    std::string csError;
    const bool bLoaded = LoadSettings(pszModuleFileName, pszResourceModuleName, csError, nFolderLevels);
    if (bLoaded) {
        m_csModuleFileName = pszModuleFileName;
        InitLog(pszModuleFileName, SETTINGS_GROUP_GENERAL);
        DWORD dwRsaError = m_rsaLoader.Load();
        if (dwRsaError != ERROR_SUCCESS)
            LogMessage("Load RSA BK_RSALoad.dll failed with error %d", static_cast<int>(dwRsaError));
        else
            LogMessage("RSA loaded");
        LogModuleVersion();
        LogSslOffloading();
    }
    const bool bSucceeded = bLoaded && InitProduct(csError);

    m_bInitialized = bSucceeded;
    LogMessage("General Settings %s initialization %s", bSucceeded ? "successful" : "failed",
               csError.c_str());
    if (bSucceeded) {
        m_eventLog.Report(EVENT_TYPE_INFORMATION, 0, m_dwEventSuccess, 0, nullptr, nullptr);
    } else {
        if (!csError.empty())
            m_eventLog.Report(EVENT_TYPE_ERROR, 0, m_dwEventErrorText, 0, nullptr, csError.c_str(), nullptr);
        m_eventLog.Report(EVENT_TYPE_ERROR, 0, m_dwEventFailure, 0, nullptr, nullptr);
    }
    return bSucceeded ? TRUE : FALSE;
}

DWORD CGeneralSettings::Terminate() {
    m_bInitialized = false;
    m_resource.UnloadModule();
    DWORD dwResult = m_eventLog.Deregister() ? 1 : 0;
    m_rsaLoader.Unload();
    return dwResult;
}

bool CGeneralSettings::LoadSettings(const char* pszModuleFileName, const char* pszResourceModuleName,
                                    std::string& csError, int nFolderLevels) {
    if (!pszModuleFileName) {
        LogMessage("LoadSettings has NULL ModuleName");
        return false;
    }
    std::string csModulePath;
    if (!GetOwnModulePath(csModulePath)) {
        csError = std::string("Can not get module path ") + pszModuleFileName;
        LogMessage("GetModulePath didn't find the module %s", pszModuleFileName);
        ReportErrorText(EVENT_TYPE_ERROR, "%s", csError.c_str());
        return false;
    }
    const char chSep = CPlatform::System().PathSeparator();
    m_csModuleFolder = ModuleFolderFromPath(csModulePath, nFolderLevels, chSep);
    if (m_csModuleFolder.empty()) {
        LogMessage("Can not get ModulePath %s", pszModuleFileName);
        return false;
    }
    if (m_csModuleFolder.size() > 2) {
        // The product folder is the module folder's last name; "Common Files" lies beside it.
        size_t nSep = m_csModuleFolder.find_last_of("/\\", m_csModuleFolder.size() - 2);
        if (nSep != std::string::npos) {
            m_csProductFolderName = m_csModuleFolder.substr(nSep + 1, m_csModuleFolder.size() - nSep - 2);
            m_csCommonFolder = m_csModuleFolder.substr(0, nSep + 1) + "Common Files" + chSep;
        }
    }
    m_csResourcePath =
        m_csModuleFolder + "Resource" + chSep + (pszResourceModuleName ? pszResourceModuleName : "");
    m_csSettingsPath = m_csModuleFolder + "Settings" + chSep;
    if (m_csSettingsPath.empty() || m_csSettingsPath.size() > MAX_PATH) {
        csError = "Path length exceeded MAX_PATH ";
        LogMessage(" LoadSettings incorrect path %s", m_csSettingsPath.c_str());
        return false;
    }
    HRESULT hr = m_handler.LoadSettings(m_csSettingsPath);
    if (hr != S_OK) {
        LogMessage("Failed to load settings from  %s HR 0x%x", m_csSettingsPath.c_str(),
                   static_cast<unsigned>(hr));
        // Where a file was refused (the line and position of a parse error) is what an administrator needs.
        const std::string csFailure = m_handler.GetLoadFailure();
        const std::string csWhat = csFailure.empty() ? m_csSettingsPath : csFailure;
        csError = "Loading Settings failed " + csWhat + " " + ComErrorMessage(hr);
        ReportErrorTextHr(EVENT_TYPE_ERROR, hr, "Loading Settings failed %s", csWhat.c_str());
        return false;
    }
    bool bSucceeded = true;
    if (!m_resource.LoadModule(m_csResourcePath)) {
        // The remaining steps still run, so the log shows everything that is wrong at once.
        csError = "Load resource file failed " + m_csResourcePath;
        ReportErrorText(EVENT_TYPE_ERROR, "%s", csError.c_str());
        bSucceeded = false;
    }
    DWORD dwRsaError = m_rsaLoader.Load();
    if (dwRsaError != ERROR_SUCCESS)
        LogMessage("Load RSA failed with error %d", static_cast<int>(dwRsaError));
    else
        LogMessage("RSA loaded");
    return bSucceeded;
}

void CGeneralSettings::LogSslOffloading() {
    DWORD dwValue = 0;
    LONG lError =
        CPlatform::Registry().QueryLocalMachineDword(SSL_OFFLOADING_KEY, SSL_OFFLOADING_VALUE, dwValue);
    if (lError != static_cast<LONG>(ERROR_SUCCESS)) {
        LogMessage("GetRegistryInfo can not read SSLOffloaded error %d", static_cast<int>(lError));
        return;
    }
    LogMessage("GetRegistryInfo SSLOffloaded %d", static_cast<int>(dwValue));
}

bool CGeneralSettings::ExtractUserName(std::string& csUser) {
    if (csUser.empty()) {
        LogMessage("[CGeneralSettings::ExtractUserName] Username is empty.");
        return false;
    }
    size_t nSep = csUser.find('\\');
    if (nSep == std::string::npos) {
        size_t nAt = csUser.find('@');
        if (nAt != std::string::npos) {
            if (nAt + 1 < csUser.size())
                csUser.erase(nAt);
            return true;
        }
        nSep = csUser.find('/');
        if (nSep == std::string::npos)
            return true;
    }
    if (nSep + 1 == csUser.size()) {
        LogMessage("CGeneralSettings::ExtractUserName got an invalid Username format %s ", csUser.c_str());
        return false;
    }
    csUser.erase(0, nSep + 1);
    return true;
}

bool CGeneralSettings::RefreshSettingsIfChanged(bool& bChanged) {
    // The files are read with the process's rights, not the request user's.
    CRevertToSelfScope processIdentity;
    std::string csFailure;
    const HRESULT hr = m_handler.CheckRefresh(bChanged, &csFailure);
    // An edit that does not load is an error an administrator has to see; the settings in force stay.
    if (FAILED(hr) && !csFailure.empty())
        ReportErrorTextHr(EVENT_TYPE_ERROR, hr,
                          "Reloading the settings failed, the previous ones stay in force: %s",
                          csFailure.c_str());
    if (bChanged) {
        InitLog(m_csModuleFileName.c_str(), SETTINGS_GROUP_GENERAL);
        InitEWSUrl();
    }
    return bChanged;
}

bool CGeneralSettings::GetLinkCriteriaSettingsID(DWORD dwCriteria, DWORD& dwGroup) {
    return m_handler.GetLinkCriteriaSettingsID(dwCriteria, dwGroup);
}

DWORD CGeneralSettings::CheckByPassList(bool& bExcluded) {
    return m_handler.CheckByPassList(bExcluded);
}

bool CGeneralSettings::GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) {
    if (m_handler.GetSettingFromID(dwId, csValue, dwGroup))
        return true;
    LogMessage("GetSettingFromID string failed ID %d, Criteria %d", static_cast<int>(dwId),
               static_cast<int>(dwGroup));
    return false;
}

bool CGeneralSettings::GetSettingFromID(DWORD dwId, int32_t& nValue, DWORD dwGroup) {
    std::string csValue;
    if (!GetSettingFromID(dwId, csValue, dwGroup))
        return false;
    nValue = SettingsAtoi(csValue);
    return true;
}

void CGeneralSettings::ReportText(WORD wType, const std::string& csText) {
    if (csText.empty())
        return;
    try {
        m_eventLog.Report(wType, 0, m_dwEventErrorText, 0, nullptr, csText.c_str(), nullptr);
    } catch (...) {
        // An event that cannot be written must not take its caller down.
    }
}

void CGeneralSettings::ReportErrorText(WORD wType, const char* pszFormat, ...) {
    char szText[EVENT_TEXT_MAX + 1] = {};
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    ReportText(wType, szText);
}

void CGeneralSettings::ReportErrorTextHr(WORD wType, HRESULT hr, const char* pszFormat, ...) {
    char szText[EVENT_TEXT_MAX + 1] = {};
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    try {
        std::string csText = szText;
        csText += " ";
        csText += ComErrorMessage(hr);
        if (csText.size() > EVENT_TEXT_MAX)
            csText.resize(EVENT_TEXT_MAX);
        ReportText(wType, csText);
    } catch (...) {
    }
}

void CGeneralSettings::LogModuleVersion() {
    std::string csModulePath;
    if (!GetOwnModulePath(csModulePath))
        return;
    CFileVersionInfo versionInfo;
    if (!versionInfo.Open(csModulePath)) {
        LogMessage("Can not open to read FileVer for %s", m_csModuleFileName.c_str());
        return;
    }
    std::string csFileVersion = versionInfo.GetString("FileVersion", 0);
    std::string csProductVersion = versionInfo.GetString("ProductVersion", 0);
    FILETIME64 ftWrite = 0;
    DWORD dwError = 0;
    char szTime[96] = {};
    if (CPlatform::Files().GetLastWriteTime(csModulePath, ftWrite, dwError)) {
        CSystemTime st = CPlatform::System().FileTimeToUtc(ftWrite);
        std::snprintf(szTime, sizeof(szTime), "DD.MM.YYY H:MM:S:MS %u.%u.%u %u:%u:%u:%u", st.wDay, st.wMonth,
                      st.wYear, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    }
    LogMessage("%s FileVer: %s, Product Ver: %s  %s", m_csModuleFileName.c_str(), csFileVersion.c_str(),
               csProductVersion.c_str(), szTime);
}
