#include "settings/CWKGeneralSettings.h"

#include "log/Log.h"
#include "platform/CPlatform.h"
#include "settings/SettingIds.h"

#include <vector>

namespace {

CaselessString TrimBlanks(const CaselessString& csText) {
    size_t nBegin = csText.find_first_not_of(' ');
    if (nBegin == CaselessString::npos)
        return CaselessString();
    return csText.substr(nBegin, csText.find_last_not_of(' ') - nBegin + 1);
}

} // namespace

DWORD CWKGeneralSettings::Init(const char* pszProductName, const char* pszModuleFileName,
                               const char* pszResourceModuleName, const char* pszRegistryKey,
                               int nFolderLevels) {
    if (!ReadComputerNames())
        LogMessage("GetComputerName failed");
    DWORD dwResult = CSWGeneralSettings::Init(pszProductName, pszModuleFileName, pszResourceModuleName,
                                              pszRegistryKey, nFolderLevels);
    if (dwResult)
        InitializeProductSettings();
    else
        LogMessage("[CWKGeneralSettings::Init] CGeneralSettings::Init() failed.");
    return dwResult;
}

bool CWKGeneralSettings::ReadComputerNames() {
    ReadFullyQualifiedName();
    return ReadHostName();
}

void CWKGeneralSettings::ReadFullyQualifiedName() {
    ISystem& system = CPlatform::System();
    DWORD dwSize = 0;
    DWORD dwError = 0;
    BOOL bRet = system.GetComputerNameEx(EComputerName::DnsFullyQualified, nullptr, dwSize, dwError);
    if (bRet || dwError != ERROR_MORE_DATA) {
        LogMessage("Failed to get the size for computer name  Error: %d Ret %d", static_cast<int>(dwError),
                   static_cast<int>(bRet));
        return;
    }
    std::vector<char> vBuffer(static_cast<size_t>(dwSize) + 1, 0);
    DWORD dwRoom = dwSize + 1;
    if (system.GetComputerNameEx(EComputerName::DnsFullyQualified, vBuffer.data(), dwRoom, dwError)) {
        m_csDnsFullyQualifiedName = vBuffer.data();
        LogMessage("GetComputerName ComputerNameDnsFullyQualified %s", m_csDnsFullyQualifiedName.c_str());
    } else {
        LogMessage("Failed to get computer name ComputerNameDnsFullyQualified Error: %d",
                   static_cast<int>(dwError));
    }
}

bool CWKGeneralSettings::ReadHostName() {
    ISystem& system = CPlatform::System();
    std::vector<char> vBuffer(64, 0);
    DWORD dwSize = static_cast<DWORD>(vBuffer.size());
    DWORD dwError = 0;
    BOOL bRet = system.GetComputerNameEx(EComputerName::DnsHostname, vBuffer.data(), dwSize, dwError);
    if (!bRet && dwError == ERROR_MORE_DATA) {
        vBuffer.assign(static_cast<size_t>(dwSize) + 1, 0);
        dwSize = static_cast<DWORD>(vBuffer.size());
        if (system.GetComputerNameEx(EComputerName::DnsHostname, vBuffer.data(), dwSize, dwError)) {
            m_csDnsHostName = vBuffer.data();
            LogMessage("GetComputerName ComputerNameDnsHostname %s", m_csDnsHostName.c_str());
        } else {
            LogMessage("Failed to get computer name ComputerNameDnsHostname Error: %d",
                       static_cast<int>(dwError));
        }
    } else if (bRet && vBuffer[0] != 0) {
        m_csDnsHostName = vBuffer.data();
        LogMessage("GetComputerName ComputerNameDnsHostname %s Err: %d", m_csDnsHostName.c_str(),
                   static_cast<int>(dwError));
    } else {
        LogMessage("Failed to get the size for computer name ComputerNameDnsHostname Error: %d Ret %d",
                   static_cast<int>(dwError), static_cast<int>(bRet));
    }
    return !m_csDnsHostName.empty();
}

void CWKGeneralSettings::InitializeKnownBrowsers() {
    m_mapKnownBrowsers.clear();
    static const char* const s_aKnown[][2] = {{"IEWin", "5.0"},   {"IEMac", "5.0"},    {"Firefox", "1.8"},
                                              {"Mozilla", "1.8"}, {"Netscape", "7.1"}, {"Safari", "312"}};
    for (const auto& known : s_aKnown)
        m_mapKnownBrowsers.emplace(known[0], known[1]);
}

void CWKGeneralSettings::InitializeAllowBrowserList() {
    m_mapAllowBrowsers.clear();
    std::string csList;
    if (!GetSettingFromID(ID_ALLOW_BROWSER_LIST, csList, SETTINGS_GROUP_PRODUCT)) {
        LogMessage("[CWKGeneralSettings::InitializeAllowBrowserList] Failed!: Read browser allow list from "
                   "settings, "
                   "use default");
        csList = DEFAULT_ALLOW_BROWSER_LIST;
    }
    LogMessage("[CWKGeneralSettings::InitializeAllowBrowserList] Browser allow list: %s", csList.c_str());
    if (csList.empty())
        csList = DEFAULT_ALLOW_BROWSER_LIST;

    std::vector<CaselessString> vItems;
    SplitTokens(ToCaseless(csList), ";", vItems, &StripLeadingBlanks);
    if (vItems.empty())
        LogMessage("[CWKGeneralSettings::InitializeAllowBrowserList] empty allow list");
    for (const CaselessString& csItem : vItems) {
        size_t nSlash = csItem.find('/');
        CaselessString csKey = TrimBlanks(csItem.substr(0, nSlash));
        CaselessString csVersion =
            nSlash == CaselessString::npos ? CaselessString() : TrimBlanks(csItem.substr(nSlash + 1));
        auto itKnown = m_mapKnownBrowsers.find(csKey);
        if (itKnown == m_mapKnownBrowsers.end()) {
            LogMessage("[CWKGeneralSettings::InitializeAllowBrowserList] unsupported browser: %s",
                       ToPlain(csKey).c_str());
            continue;
        }
        // An existing key keeps its first version.
        m_mapAllowBrowsers.emplace(csKey, csVersion.empty() ? itKnown->second : ToPlain(csVersion));
    }
    LogMessage("[CWKGeneralSettings::InitializeAllowBrowserList] returned.");
}

std::string CWKGeneralSettings::ReadText(DWORD dwId) {
    std::string csValue;
    if (!GetSettingFromID(dwId, csValue, SETTINGS_GROUP_PRODUCT))
        csValue.clear();
    return csValue;
}

void CWKGeneralSettings::InitializeProductSettings() {
    InitializeKnownBrowsers();
    InitializeAllowBrowserList();
    m_csBlockedBrowsers = ReadText(ID_BLOCKED_BROWSERS);
    m_csBlockedBrowsersExceptions = ReadText(ID_BLOCKED_BROWSERS_EXCEPTIONS);
    int32_t nMode = 0;
    if (!GetSettingFromID(ID_NO_REDIRECT_MODE, nMode, SETTINGS_GROUP_PRODUCT) || (nMode != 0 && nMode != 1))
        nMode = 0;
    m_nNoRedirectMode = nMode;
    m_csSpecialBrowsers = ReadText(ID_SPECIAL_BROWSERS);
    m_csSpecialBrowsersExceptions = ReadText(ID_SPECIAL_BROWSERS_EXCEPTIONS);
    m_csCancelNavBrowsers = ReadText(ID_CANCEL_NAV_BROWSERS);
    m_csCancelNavBrowsersExceptions = ReadText(ID_CANCEL_NAV_BROWSERS_EXCEPTIONS);
}
