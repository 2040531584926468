// The names of server variables, request headers, response headers and host-added values that the host and
// its workers share, in the host's table order. Names ending with ":" are headers as the filter callbacks
// expect them; capitals with underscores are server variables; "BK_" names are values the host adds.
#pragma once

#include <array>
#include <string_view>

inline constexpr std::array<std::string_view, 67> g_aHostNames = {
    "QUERY_STRING",
    "URL",
    "HTTP_URL",
    "INSTANCE_ID",
    "REMOTE_ADDR",
    "REMOTE_USER",
    "LOCAL_ADDR",
    "AUTH_TYPE",
    "HTTP_USER_AGENT",
    "HTTPS",
    "HTTP_HOST",
    "X-BKRequest",
    "HTTP_METHOD",
    "HTTP_VERSION",
    "APP_POOL_ID",
    "HTTP_ACCEPT-LANGUAGE",
    "HTTP_Front-End-HTTPS",
    "AUTH_USER",
    "LOGON_USER",
    "BK_User_Agent",
    "HTTP_X_Remote_Client_IP",
    "HTTP_X_Forwarded_For",
    "X-Forwarded-For",
    "X-Remote-Client-IP",
    "BK_CRITERIA:",
    "HTTP_X_OWA_EXPLICITLOGONUSER",
    "BK_USERNAME",
    "BK_USERSID",
    "HTTP_X_BKTz",
    "X-OWA-EXPLICITLOGONUSER",
    "HTTP_ACCEPT_ENCODING",
    "HTTP_X_OWA_ProxySid",
    "HTTP_X_OWA_ProxyUri",
    "HTTP_VIA",
    "Transfer-Encoding:",
    "Location:",
    "WWW-Authenticate:",
    "Content-Language:",
    "Content-Type:",
    "Content-Length:",
    "Set-Cookie:",
    "X-OWA-EXPLICITLOGONUSER:",
    "ALL_RAW",
    "ALL_HTTP",
    "REMOTE_HOST",
    "SERVER_PORT",
    "SERVER_PORT_SECURE",
    "HTTP_Authorization",
    "HTTP_COOKIE",
    "HTTP_REFERER",
    "SERVER_PROTOCOL",
    "SERVER_NAME",
    "sAMAccountName",
    "BKHTTP",
    "X-OWA-ProxySid",
    "X-OWA-ProxySid:",
    "X-OWA-ProxyUri",
    "BK_CRITERIA",
    "X-BKTz",
    "X-BKTz:",
    "X-Remote-Client-IP:",
    "Accept-Encoding:",
    "Content-Encoding:",
    "X-OWA-ProxyVersion:",
    "BK_LogonUserName:",
    "BK_LogonUserName",
    "BKUserValidation",
};

// The names this module reads or writes itself.
inline constexpr const char* HN_HTTP_URL = "HTTP_URL";
inline constexpr const char* HN_URL = "URL";
inline constexpr const char* HN_QUERY_STRING = "QUERY_STRING";
inline constexpr const char* HN_HTTP_METHOD = "HTTP_METHOD";
inline constexpr const char* HN_HTTP_USER_AGENT = "HTTP_USER_AGENT";
inline constexpr const char* HN_HTTP_COOKIE = "HTTP_COOKIE";
inline constexpr const char* HN_HTTP_ACCEPT_LANGUAGE_VALUE = "HTTP_ACCEPT-LANGUAGE";
inline constexpr const char* HN_HTTP_X_OWA_EXPLICITLOGONUSER = "HTTP_X_OWA_EXPLICITLOGONUSER";
inline constexpr const char* HN_BK_USERNAME = "BK_USERNAME";
inline constexpr const char* HN_SV_HTTP_ACCEPT_LANGUAGE = "HTTP_ACCEPT_LANGUAGE";
inline constexpr const char* HN_SV_LOGON_USER = "LOGON_USER";
inline constexpr const char* HN_SV_HEADER_BK_USER_AGENT = "HEADER_BK_USER-AGENT";
inline constexpr const char* HN_REFERER_HEADER = "Referer:";
inline constexpr const char* HN_SET_COOKIE = "Set-Cookie:";
inline constexpr const char* HN_WORKER_PRODUCT = "X-BKProduct:";
inline constexpr const char* HN_OWA_VIRTUAL_DIR = "/owa";
