// The numbered settings of "SWSettings.xml" that the worker reads. The group a reader passes:
// SETTINGS_GROUP_GENERAL (installation-wide, general section only), SETTINGS_GROUP_PRODUCT (group 0, then the
// general section) or the request's group resolved from the link criteria.
#pragma once

#include <cstdint>

constexpr int32_t SETTINGS_GROUP_GENERAL = -1;
constexpr int32_t SETTINGS_GROUP_PRODUCT = 0;

constexpr int32_t ID_LOG_OUTPUT = 12;                      // int, -1: log writer, 1 or 2 (default 1)
constexpr int32_t ID_LOG_MAX_SIZE = 13;                    // int KB, -1: log file size limit (10240)
constexpr int32_t ID_LOG_LEVEL = 14;                       // int, -1: 1 or 10 switch logging on (0)
constexpr int32_t ID_CORE_MAX_CACHE_ITEMS = 16;            // int, 0: core cache maximum items (3000)
constexpr int32_t ID_CORE_CACHE_LIFETIME = 17;             // int, 0: core cache lifetime
constexpr int32_t ID_LOG_PRODUCT_NAME = 23;                // text, -1: name of a product log (empty)
constexpr int32_t ID_EWS_URL = 38;                         // text, 0: Exchange Web Services URL
constexpr int32_t ID_LOG_FOLDER = 39;                      // text, -1: folder holding the log folder
constexpr int32_t ID_BYPASS_LIST = 48;                     // text, 0: ";"-separated SIDs (empty)
constexpr int32_t ID_BYPASS_GROUPS = 49;                   // text, 0: appended to ID_BYPASS_LIST (empty)
constexpr int32_t ID_MAX_CACHE_ITEMS = 60;                 // int, 0: "ADUserConfig" cache items (3000)
constexpr int32_t ID_CACHE_LIFETIME = 61;                  // int, 0: "ADUserConfig" cache lifetime
constexpr int32_t ID_COMMONFOLDERID_MAX_CACHE_ITEMS = 62;  // int, 0: "CommonFolderID" cache items (3000)
constexpr int32_t ID_COMMONFOLDERID_CACHE_LIFETIME = 63;   // int, 0: "CommonFolderID" cache lifetime
constexpr int32_t ID_RECIPIENTSMTP_MAX_CACHE_ITEMS = 64;   // int, 0: "RecipientSmtp" cache items (3000)
constexpr int32_t ID_RECIPIENTSMTP_CACHE_LIFETIME = 65;    // int, 0: "RecipientSmtp" cache lifetime
constexpr int32_t ID_REFRESH_ENABLED = 74;                 // int, -1: 0 switches file-date checks off (1)
constexpr int32_t ID_LOG_PRODUCT_SWITCH = 75;              // int, -1: product log named after module (0)
constexpr int32_t ID_LOG_LOCK_OPTION = 76;                 // int, -1: log module lock option (1)
constexpr int32_t ID_REFRESH_INTERVAL = 81;                // int minutes, -1: refresh interval (15)
constexpr int32_t ID_AD_CONFIG_TYPE = 84;                  // int, -1: directory configuration type
constexpr int32_t ID_GUARD_ENABLED = 110;                  // int, request: 0 turns the guard off (1)
constexpr int32_t ID_AUTO_LOGOFF = 111;                    // int, request: non-zero: automatic logoff (0)
constexpr int32_t ID_ALLOW_BROWSER_LIST = 112;             // text, 0: allowed browsers
constexpr int32_t ID_BLOCKED_BROWSERS = 113;               // text, 0 (empty)
constexpr int32_t ID_BLOCKED_BROWSERS_EXCEPTIONS = 114;    // text, 0 (empty)
constexpr int32_t ID_NO_REDIRECT_MODE = 115;               // int 0 or 1, 0 (0)
constexpr int32_t ID_SPECIAL_BROWSERS = 119;               // text, 0 (empty)
constexpr int32_t ID_SPECIAL_BROWSERS_EXCEPTIONS = 120;    // text, 0 (empty)
constexpr int32_t ID_CANCEL_NAV_BROWSERS = 122;            // text, 0 (empty)
constexpr int32_t ID_CANCEL_NAV_BROWSERS_EXCEPTIONS = 123; // text, 0 (empty)
constexpr int32_t ID_ALERT_ON_UNLOAD = 125;                // int, 0 (0)

constexpr int32_t DEFAULT_REFRESH_INTERVAL = 15;
constexpr const char* DEFAULT_ALLOW_BROWSER_LIST =
    "IEWIN/5.0;IEMAC/5.0;Mozilla/1.7;Netscape/7.1;Firefox/1.8;Safari/312";
