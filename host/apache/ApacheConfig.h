// The directives of mod_wendrake and the per-server configuration they build. Everything lives in Apache's
// configuration pool as plain data, so that Apache's own merging and lifetime rules apply.
#pragma once

#include "platform/WinTypes.h"

// httpd.h first: Apache's other headers build on it.
#include <httpd.h>

#include <ap_regex.h>
#include <apr_tables.h>
#include <http_config.h>

// A request class: requests whose "path?query" matches the pattern (all requests without one) get the value.
struct CWendrakeRule {
    const char* m_pszPattern;
    ap_regex_t* m_pRegex; // null: every request
    DWORD m_dwValue;
};

enum EWendrakeIdentity { IDENTITY_UNSET = 0, IDENTITY_APACHE_USER, IDENTITY_HEADER, IDENTITY_NONE };

struct CWendrakeServerConfig {
    const char* m_pszWorker;             // WendrakeWorker: the worker module file (main server only)
    apr_array_header_t* m_pLocations;    // WendrakeWebmail: const char* paths the worker guards
    apr_array_header_t* m_pSubscription; // WendrakeSubscription: CWendrakeRule, first match wins
    apr_array_header_t* m_pCriteria;     // WendrakeLinkCriteria: CWendrakeRule, first match wins
    const char* m_pszCsmPrefix;          // WendrakeCsmPrefix: the value of HEADER_BK_CSMPREFIX
    const char* m_pszScripts;            // WendrakeScripts: folder served under <webmail>/BKScripts/
    apr_off_t m_cbBodyLimit;             // WendrakeBodyLimit: largest HTML body buffered (0: unset)
    int m_eIdentity;                     // WendrakeIdentity
    const char* m_pszUserHeader;         // the trusted request header with the user name (IDENTITY_HEADER)
    const char* m_pszSidHeader;          // the trusted request header with the user's SID
    const char* m_pszGroupsHeader; // the trusted request header with group SIDs (separated by ',' or ';')
};

constexpr apr_off_t WENDRAKE_DEFAULT_BODY_LIMIT = 1024 * 1024;
constexpr apr_off_t WENDRAKE_MAX_BODY_LIMIT = 256 * 1024 * 1024;

extern "C" module AP_MODULE_DECLARE_DATA wendrake_module;

extern const command_rec g_aWendrakeCommands[];
void* CreateWendrakeServerConfig(apr_pool_t* pPool, server_rec* pServer);
void* MergeWendrakeServerConfig(apr_pool_t* pPool, void* pBase, void* pAdd);

inline const CWendrakeServerConfig* WendrakeConfigOf(const server_rec* pServer) {
    return static_cast<const CWendrakeServerConfig*>(
        ap_get_module_config(pServer->module_config, &wendrake_module));
}

// The guarded location a path lies in (the longest one that is the path or a folder above it), or null.
const char* FindWebmailLocation(const CWendrakeServerConfig* pConfig, const char* pszPath);
// The value of the first rule that matches "path?query", or 0 when none does.
DWORD MatchRule(const apr_array_header_t* pRules, const char* pszTarget);
