// Configuration of the diagnostic log from the settings, at initialisation and after every reload.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

class ILogSettingsReader {
public:
    virtual ~ILogSettingsReader() = default;
    // A setting's value as text; false when missing or unreadable.
    virtual bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) = 0;
};

struct CLogEnvironment {
    std::string csInstallFolder;  // product folder with trailing "/", e.g. "/opt/bm/Wendrake/"; may be empty
    std::string csModuleFileName; // e.g. "WK_ServiceWorker.so" (on Windows "WK_ServiceWorker.dll")
    std::vector<std::string> vReservedNames; // "AUX","CON","NUL","PRN","CLOCKS$"
};

// Setting IDs of the log, all read in the general section.
constexpr DWORD LOG_SETTING_LEVEL = 14;
constexpr DWORD LOG_SETTING_MODE = 12;
constexpr DWORD LOG_SETTING_MAX_SIZE_KB = 13;
constexpr DWORD LOG_SETTING_FOLDER = 39;
constexpr DWORD LOG_SETTING_PRODUCT_LOG = 75;
constexpr DWORD LOG_SETTING_PRODUCT_NAME = 23;
constexpr DWORD LOG_SETTING_LOCK_OPTION = 76;
constexpr DWORD LOG_SETTING_GROUP = 0xFFFFFFFF;

// Applies the log settings: level, writer, size, file name, folder and the lock from the log module.
// Never fails; a setting that cannot be read keeps its default. Returns true.
bool ConfigureLog(ILogSettingsReader& reader, const CLogEnvironment& env);
// Drops the log module's lock and frees the module; the writers go on with the in-process lock.
void UnloadLogModule();

// A product log name made safe as a file name: a name over 260 characters keeps its last 130, path and
// wildcard characters become "_", and a reserved device name gets the prefix "BK_".
std::string CleanProductLogName(const std::string& csName, const std::vector<std::string>& vReservedNames);
// True for a name the system reserves for a device (see CleanProductLogName).
bool IsReservedDeviceName(const std::string& csName, const std::vector<std::string>& vReservedNames);
