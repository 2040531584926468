#include "log/LogConfig.h"

#include "log/LogModuleAbi.h"
#include "log/LogState.h"
#include "text/CaselessString.h"
#include "text/SettingNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr int64_t LOG_DEFAULT_LEVEL_VALUE = 0;
constexpr int64_t LOG_DEFAULT_MODE_VALUE = 1;
constexpr int64_t LOG_DEFAULT_SIZE_KB = 10240;
constexpr DWORD LOG_DEFAULT_LOCK_OPTION = 1;
constexpr const char* LOG_FOLDER_NAME = "BrindlemarkLogs";
constexpr const char* LOG_COMMON_FILE_NAME = "BKCommonLog.log";
// Longest paths accepted under a configured folder and under the system's log folder.
constexpr size_t LOG_FOLDER_PATH_LIMIT = 243;
constexpr size_t LOG_SYSTEM_PATH_LIMIT = 234;
constexpr size_t LOG_NAME_LONG = 260;
constexpr size_t LOG_NAME_KEPT = 130;

const std::vector<std::string>& DefaultReservedNames() {
    static const std::vector<std::string> s_vNames = {"AUX", "CON", "NUL", "PRN", "CLOCKS$"};
    return s_vNames;
}

// "COM1", "LPT3.log": a port name followed by one digit that ends the name or its stem.
bool IsPortName(const std::string& csName, const char* pszPort) {
    size_t nPos = FindCaseless(csName, pszPort);
    if (nPos == std::string::npos)
        return false;
    size_t nDigit = nPos + 3;
    if (nDigit >= csName.size() || !std::isdigit(static_cast<unsigned char>(csName[nDigit])))
        return false;
    return nDigit + 1 == csName.size() || csName[nDigit + 1] == '.';
}

// The reader reports a missing setting itself ("GetSettingFromID string failed ..."), as it does for every
// other consumer; a reader that throws counts as a missing setting.
bool ReadSetting(ILogSettingsReader& reader, DWORD dwId, std::string& csValue) {
    bool bRead = false;
    try {
        bRead = reader.GetSettingFromID(dwId, csValue, LOG_SETTING_GROUP);
    } catch (...) {
        bRead = false;
    }
    if (!bRead)
        csValue.clear();
    return bRead;
}

std::string Trimmed(const std::string& csValue) {
    size_t nFirst = csValue.find_first_not_of(" \t\r\n");
    if (nFirst == std::string::npos)
        return std::string();
    size_t nLast = csValue.find_last_not_of(" \t\r\n");
    return csValue.substr(nFirst, nLast - nFirst + 1);
}

// A missing setting keeps its default; a present one reads as the settings store reads numbers.
int64_t ReadInteger(ILogSettingsReader& reader, DWORD dwId, int64_t nDefault) {
    std::string csValue;
    return ReadSetting(reader, dwId, csValue) ? SettingsAtoi(csValue) : nDefault;
}

bool ReadSwitch(ILogSettingsReader& reader, DWORD dwId) {
    std::string csValue;
    if (!ReadSetting(reader, dwId, csValue))
        return false;
    const std::string csText = Trimmed(csValue);
    for (const char* pszOn : {"TRUE", "YES", "ON", "Y"})
        if (EqualsCaseless(csText, pszOn))
            return true;
    return SettingsAtoi(csValue) != 0;
}

std::string ModuleFileName(const CLogEnvironment& env) {
    if (!env.csModuleFileName.empty())
        return env.csModuleFileName;
    std::string csPath;
    if (CPlatform::Modules().GetModulePathOf(reinterpret_cast<const void*>(&ConfigureLog), csPath))
        return LogFileNameOf(csPath);
    return std::string();
}

// "WK_ServiceWorker.so" gives "WK_ServiceWorker.log".
std::string ProductLogFileName(const std::string& csModuleFileName) {
    size_t nDot = csModuleFileName.find_last_of('.');
    std::string csStem = nDot == std::string::npos ? csModuleFileName : csModuleFileName.substr(0, nDot);
    return csStem + ".log";
}

void LoadLogModule(CLogState& state, const CLogEnvironment& env) {
    {
        CAutoLock lock(state.csWriters);
        if (state.hLogModule)
            return;
    }
    IModules& modules = CPlatform::Modules();
    const std::string csLibrary = modules.LibraryFileName(LOG_MODULE_BASE_NAME);
    const char chSep = CPlatform::System().PathSeparator();
    void* hModule = nullptr;
    DWORD dwError = ERROR_SUCCESS;
    if (!env.csInstallFolder.empty()) {
        std::string csFolder = env.csInstallFolder;
        if (csFolder.back() != '/' && csFolder.back() != '\\')
            csFolder += chSep;
        hModule = modules.LoadLibrary(csFolder + "bin" + chSep + csLibrary, dwError);
    }
    if (!hModule)
        hModule = modules.LoadLibrary(csLibrary, dwError);
    CAutoLock lock(state.csWriters);
    state.hLogModule = hModule;
}

// An export of the loaded log module, or null without the module or the export.
void* LogModuleProc(CLogState& state, const char* pszName) {
    void* hModule = nullptr;
    {
        CAutoLock lock(state.csWriters);
        hModule = state.hLogModule;
    }
    return hModule ? CPlatform::Modules().GetProcAddress(hModule, pszName) : nullptr;
}

CSync* GetProductLock(CLogState& state, const std::string& csName, DWORD dwOption) {
    auto pfnGet = reinterpret_cast<PFN_GET_PRODUCT_CS>(LogModuleProc(state, LOG_MODULE_GET_PRODUCT_CS));
    CSync* pLock = nullptr;
    return pfnGet && pfnGet(csName.c_str(), &pLock, dwOption) ? pLock : nullptr;
}

CSync* GetGeneralLock(CLogState& state, DWORD dwOption) {
    auto pfnGet = reinterpret_cast<PFN_GET_GENERAL_CS>(LogModuleProc(state, LOG_MODULE_GET_GENERAL_CS));
    CSync* pLock = nullptr;
    return pfnGet && pfnGet(&pLock, dwOption) ? pLock : nullptr;
}

// The full path of the log file, or the fallback path when it would be too long.
std::string BuildLogPath(const std::string& csFolder, const std::string& csFileName, bool& bConfigured) {
    ISystem& system = CPlatform::System();
    const char chSep = system.PathSeparator();
    std::string csPath;
    size_t nLimit = 0;
    if (!csFolder.empty()) {
        csPath = csFolder + chSep + LOG_FOLDER_NAME + chSep + csFileName;
        nLimit = LOG_FOLDER_PATH_LIMIT;
    } else {
        csPath = system.GetSystemLogRoot() + chSep + LOG_FOLDER_NAME + chSep + csFileName;
        nLimit = LOG_SYSTEM_PATH_LIMIT;
    }
    bConfigured = csPath.size() < nLimit;
    if (!bConfigured)
        csPath = system.GetFallbackLogPath();
    if (csPath.size() > MAX_PATH)
        csPath.resize(MAX_PATH);
    return csPath;
}

} // namespace

bool IsReservedDeviceName(const std::string& csName, const std::vector<std::string>& vReservedNames) {
    const std::vector<std::string>& vNames = vReservedNames.empty() ? DefaultReservedNames() : vReservedNames;
    for (const std::string& csReserved : vNames)
        if (EqualsCaseless(csName, csReserved))
            return true;
    return IsPortName(csName, "COM") || IsPortName(csName, "LPT");
}

std::string CleanProductLogName(const std::string& csName, const std::vector<std::string>& vReservedNames) {
    std::string csClean =
        csName.size() > LOG_NAME_LONG ? csName.substr(csName.size() - LOG_NAME_KEPT) : csName;
    for (char& ch : csClean)
        if (std::string_view("\\/:\"?*<>|").find(ch) != std::string_view::npos)
            ch = '_';
    if (IsReservedDeviceName(csClean, vReservedNames))
        csClean = "BK_" + csClean;
    return csClean;
}

bool ConfigureLog(ILogSettingsReader& reader, const CLogEnvironment& env) {
    CLogState& state = LogState();

    // Level, writer and size. With level value 10 logging comes on but the writer and size stay as they were.
    const int64_t nLevel = ReadInteger(reader, LOG_SETTING_LEVEL, LOG_DEFAULT_LEVEL_VALUE);
    const int64_t nMode = ReadInteger(reader, LOG_SETTING_MODE, LOG_DEFAULT_MODE_VALUE);
    const int64_t nSizeKB = ReadInteger(reader, LOG_SETTING_MAX_SIZE_KB, LOG_DEFAULT_SIZE_KB);
    bool bSizeRaised = false;
    SetLogLevel(nLevel == 1 || nLevel == 10 ? LOG_LEVEL_ON : LOG_LEVEL_OFF);
    if (nLevel != 10) {
        if (nMode == 1)
            SetLogSink(&LogSharedMemoryWriter);
        else if (nMode == 2)
            SetLogSink(&LogFileWriter);
        // A size that does not fit the 32-bit maximum is ignored rather than cut; one too small for the
        // layout is raised, or the file would grow without bound and the section hold nothing.
        if (nSizeKB > 0 && nSizeKB <= INT32_MAX / 1024) {
            bSizeRaised = nSizeKB * 1024 < LOG_MIN_MAX_SIZE;
            CAutoLock lock(state.csWriters);
            state.nMaxSize = std::max(static_cast<int32_t>(nSizeKB * 1024), LOG_MIN_MAX_SIZE);
        }
    }

    // Nothing is logged while the file and lock change under the writers.
    const DWORD dwKeptLevel = GetLogLevel();
    SetLogLevel(LOG_LEVEL_OFF);

    LoadLogModule(state, env);

    std::string csFolder;
    ReadSetting(reader, LOG_SETTING_FOLDER, csFolder);
    const bool bProductLog = ReadSwitch(reader, LOG_SETTING_PRODUCT_LOG);
    std::string csProductName;
    ReadSetting(reader, LOG_SETTING_PRODUCT_NAME, csProductName);
    const int64_t nOption = ReadInteger(reader, LOG_SETTING_LOCK_OPTION, LOG_DEFAULT_LOCK_OPTION);
    const DWORD dwOption = static_cast<DWORD>(nOption);

    const std::string csModuleFileName = ModuleFileName(env);
    std::string csFileName;
    std::string csPrefix;
    CSync* pLock = nullptr;
    if (bProductLog) {
        csFileName = ProductLogFileName(csModuleFileName);
        pLock = GetProductLock(state, csFileName, dwOption);
    } else if (!csProductName.empty()) {
        csPrefix = "[" + csModuleFileName + "] ";
        csFileName = CleanProductLogName(csProductName, env.vReservedNames);
        // The lock is named after the file it guards, so every product writing this log shares it.
        pLock = GetProductLock(state, csFileName, dwOption);
    } else {
        csPrefix = "[" + csModuleFileName + "] ";
        csFileName = LOG_COMMON_FILE_NAME;
        pLock = GetGeneralLock(state, dwOption);
    }

    bool bConfigured = false;
    const std::string csPath = BuildLogPath(csFolder, csFileName, bConfigured);
    if (bConfigured)
        CPlatform::Files().CreateDirectories(csPath.substr(0, csPath.find_last_of("/\\")));

    {
        CAutoLock lock(state.csWriters);
        if (csPath != state.szPath) {
            // What the old log holds goes to its own file before the writers move to the new one.
            FlushLogLocked(state, true);
            FlushLogLocked(state, false);
            CloseLogFileLocked(state);
            std::snprintf(state.szPath, sizeof(state.szPath), "%s", csPath.c_str());
        }
        state.bProductLog = bProductLog;
        state.cchLinePrefix = std::min(csPrefix.size(), LOG_PREFIX_MAX);
        std::memcpy(state.szLinePrefix, csPrefix.data(), state.cchLinePrefix);
        state.szLinePrefix[state.cchLinePrefix] = '\0';
        state.pLogLock = pLock;
    }

    SetLogLevel(dwKeptLevel);
    if (bSizeRaised)
        LogMessage(
            "[ConfigureLog] Log maximum size %lld KB is below the least the log works with; using %d KB",
            static_cast<long long>(nSizeKB), LOG_MIN_MAX_SIZE / 1024);
    return true;
}

void UnloadLogModule() {
    CLogState& state = LogState();
    void* hModule = nullptr;
    {
        CAutoLock lock(state.csWriters);
        state.pLogLock = nullptr;
        hModule = state.hLogModule;
        state.hLogModule = nullptr;
    }
    if (hModule)
        CPlatform::Modules().FreeLibrary(hModule);
}
