#include "host/apache/ApacheConfig.h"

#include "abi/HostAbi.h"
#include "text/CCachedScriptDecorator.h"

#include <apr_strings.h>
#include <http_log.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstring>

namespace {

struct CSubscriptionName {
    const char* m_pszName;
    DWORD m_dwType;
};

constexpr CSubscriptionName SUBSCRIPTION_NAMES[] = {
    {"owa", ST_OWA_FOLDER},    {"logoff-cmd", ST_LOGOFF_CMD},
    {"base", ST_BASE_REQUEST}, {"subframe", ST_SUBFRAME_REQUEST},
    {"logon", ST_FBA_LOGON},   {"logoff", ST_LOGOFF},
    {"modurl", ST_MODURL},
};

CWendrakeServerConfig* ConfigOf(cmd_parms* pCmd) {
    return static_cast<CWendrakeServerConfig*>(
        ap_get_module_config(pCmd->server->module_config, &wendrake_module));
}

// Directive errors name the directive and quote the value, so that an administrator finds the line at once.
const char* Refuse(cmd_parms* pCmd, const char* pszValue, const char* pszWhy) {
    return apr_psprintf(pCmd->pool, "%s: '%s' %s", pCmd->cmd->name, pszValue, pszWhy);
}

bool ParseNumber(const char* pszText, apr_int64_t nMax, apr_int64_t& nValue) {
    if (!*pszText)
        return false;
    for (const char* p = pszText; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    if (std::strlen(pszText) > 12)
        return false;
    nValue = apr_atoi64(pszText);
    return nValue <= nMax;
}

// Every guarded request is matched against the rules; PCRE2's machine code matches several times faster than
// its interpreter, and ap_regexec uses it once it is there. Apache keeps the compiled pattern as PCRE2's own
// (from version 10 on; the older PCRE has another type) and frees it with its machine code. Where it cannot
// be made, the interpreter matches as before.
void CompileToMachineCode(const ap_regex_t& regex) {
    const char* pszVersion = ap_pcre_version_string(AP_REG_PCRE_COMPILED);
    if (pszVersion && std::strncmp(pszVersion, "10.", 3) == 0 && regex.re_pcre)
        pcre2_jit_compile(static_cast<pcre2_code*>(regex.re_pcre), PCRE2_JIT_COMPLETE);
}

// "TYPE [PATTERN]" of WendrakeSubscription and WendrakeLinkCriteria.
const char* AddRule(cmd_parms* pCmd, apr_array_header_t* pRules, DWORD dwValue, const char* pszPattern) {
    CWendrakeRule rule{pszPattern, nullptr, dwValue};
    if (pszPattern) {
        rule.m_pRegex = ap_pregcomp(pCmd->pool, pszPattern, AP_REG_EXTENDED);
        if (!rule.m_pRegex)
            return Refuse(pCmd, pszPattern, "is not a valid regular expression");
        CompileToMachineCode(*rule.m_pRegex);
    }
    *static_cast<CWendrakeRule*>(apr_array_push(pRules)) = rule;
    return nullptr;
}

const char* SetWorker(cmd_parms* pCmd, void*, const char* pszPath) {
    if (const char* pszError = ap_check_cmd_context(pCmd, GLOBAL_ONLY))
        return pszError;
    if (*pszPath != '/')
        return Refuse(pCmd, pszPath, "is not an absolute path to the worker module file");
    ConfigOf(pCmd)->m_pszWorker = pszPath;
    return nullptr;
}

const char* AddWebmail(cmd_parms* pCmd, void*, const char* pszPath) {
    if (*pszPath != '/')
        return Refuse(pCmd, pszPath, "is not a URL path (it must start with '/')");
    size_t cbPath = std::strlen(pszPath);
    // "/owa/" and "/owa" guard the same folder; the address the worker builds wants it without the slash.
    while (cbPath > 1 && pszPath[cbPath - 1] == '/')
        --cbPath;
    *static_cast<const char**>(apr_array_push(ConfigOf(pCmd)->m_pLocations)) =
        apr_pstrmemdup(pCmd->pool, pszPath, cbPath);
    return nullptr;
}

const char* AddSubscription(cmd_parms* pCmd, void*, const char* pszType, const char* pszPattern) {
    for (const CSubscriptionName& name : SUBSCRIPTION_NAMES)
        if (std::strcmp(name.m_pszName, pszType) == 0)
            return AddRule(pCmd, ConfigOf(pCmd)->m_pSubscription, name.m_dwType, pszPattern);
    apr_int64_t nType = 0;
    if (!ParseNumber(pszType, 0xFFFFFFFF, nType))
        return Refuse(
            pCmd, pszType,
            "is no subscription type (owa, logoff-cmd, base, subframe, logon, logoff, modurl or a number)");
    return AddRule(pCmd, ConfigOf(pCmd)->m_pSubscription, static_cast<DWORD>(nType), pszPattern);
}

const char* AddCriteria(cmd_parms* pCmd, void*, const char* pszNumber, const char* pszPattern) {
    apr_int64_t nCriteria = 0;
    if (!ParseNumber(pszNumber, 0xFFFFFFFF, nCriteria))
        return Refuse(pCmd, pszNumber, "is no link criteria number (0 to 4294967295)");
    return AddRule(pCmd, ConfigOf(pCmd)->m_pCriteria, static_cast<DWORD>(nCriteria), pszPattern);
}

const char* SetCsmPrefix(cmd_parms* pCmd, void*, const char* pszPrefix) {
    if (std::strlen(pszPrefix) < CCachedScriptDecorator::SHORT_PREFIX_LENGTH)
        return Refuse(pCmd, pszPrefix, "is shorter than the 5 characters the worker needs");
    for (const char* p = pszPrefix; *p; ++p)
        if (static_cast<unsigned char>(*p) <= ' ' || *p == 0x7F || *p == '"' || *p == '<' || *p == '>')
            return Refuse(pCmd, pszPrefix, "holds a blank, a control character or one of \" < >");
    ConfigOf(pCmd)->m_pszCsmPrefix = pszPrefix;
    return nullptr;
}

const char* SetScripts(cmd_parms* pCmd, void*, const char* pszFolder) {
    if (*pszFolder != '/')
        return Refuse(pCmd, pszFolder, "is not an absolute folder path");
    ConfigOf(pCmd)->m_pszScripts = pszFolder;
    return nullptr;
}

const char* SetBodyLimit(cmd_parms* pCmd, void*, const char* pszBytes) {
    apr_int64_t nBytes = 0;
    if (!ParseNumber(pszBytes, WENDRAKE_MAX_BODY_LIMIT, nBytes) || nBytes < 1)
        return Refuse(
            pCmd, pszBytes,
            apr_psprintf(pCmd->pool, "is no byte count from 1 to %" APR_OFF_T_FMT, WENDRAKE_MAX_BODY_LIMIT));
    ConfigOf(pCmd)->m_cbBodyLimit = nBytes;
    return nullptr;
}

const char* SetIdentity(cmd_parms* pCmd, void*, int nArgs, char* const* ppArgs) {
    CWendrakeServerConfig* pConfig = ConfigOf(pCmd);
    const char* pszSource = nArgs > 0 ? ppArgs[0] : "";
    const int nHeaders = nArgs - 1;
    if (std::strcmp(pszSource, "none") == 0 && nHeaders == 0) {
        pConfig->m_eIdentity = IDENTITY_NONE;
        return nullptr;
    }
    if (std::strcmp(pszSource, "user") == 0 && nHeaders <= 2) {
        pConfig->m_eIdentity = IDENTITY_APACHE_USER;
        pConfig->m_pszSidHeader = nHeaders > 0 ? ppArgs[1] : nullptr;
        pConfig->m_pszGroupsHeader = nHeaders > 1 ? ppArgs[2] : nullptr;
        return nullptr;
    }
    if (std::strcmp(pszSource, "header") == 0 && nHeaders >= 1 && nHeaders <= 3) {
        pConfig->m_eIdentity = IDENTITY_HEADER;
        pConfig->m_pszUserHeader = ppArgs[1];
        pConfig->m_pszSidHeader = nHeaders > 1 ? ppArgs[2] : nullptr;
        pConfig->m_pszGroupsHeader = nHeaders > 2 ? ppArgs[3] : nullptr;
        return nullptr;
    }
    return apr_psprintf(pCmd->pool,
                        "%s: expected 'none', 'user [SID-HEADER [GROUP-SIDS-HEADER]]' or 'header USER-HEADER "
                        "[SID-HEADER [GROUP-SIDS-HEADER]]', got %d argument(s) starting with '%s'",
                        pCmd->cmd->name, nArgs, pszSource);
}

// Apache's directive table keeps one function type for every argument shape.
template <class FN> cmd_func AsCommand(FN pfn) {
    return reinterpret_cast<cmd_func>(reinterpret_cast<void (*)()>(pfn));
}

} // namespace

extern const command_rec g_aWendrakeCommands[] = {
    AP_INIT_TAKE1("WendrakeWorker", AsCommand(SetWorker), nullptr, RSRC_CONF,
                  "the worker module file (WK_ServiceWorker.so)"),
    AP_INIT_ITERATE("WendrakeWebmail", AsCommand(AddWebmail), nullptr, RSRC_CONF,
                    "URL paths of the webmail the worker guards, e.g. /owa"),
    AP_INIT_TAKE12(
        "WendrakeSubscription", AsCommand(AddSubscription), nullptr, RSRC_CONF,
        "subscription type (name or number) and the regular expression of 'path?query' it applies to"),
    AP_INIT_TAKE12("WendrakeLinkCriteria", AsCommand(AddCriteria), nullptr, RSRC_CONF,
                   "link criteria number, optionally for 'path?query' matching a regular expression"),
    AP_INIT_TAKE1("WendrakeCsmPrefix", AsCommand(SetCsmPrefix), nullptr, RSRC_CONF,
                  "the cached-script prefix handed to the worker (HEADER_BK_CSMPREFIX)"),
    AP_INIT_TAKE1("WendrakeScripts", AsCommand(SetScripts), nullptr, RSRC_CONF,
                  "the folder of the guard's script files (.../Wendrake/BKScripts)"),
    AP_INIT_TAKE1("WendrakeBodyLimit", AsCommand(SetBodyLimit), nullptr, RSRC_CONF,
                  "largest HTML response body in bytes that is buffered for the worker"),
    AP_INIT_TAKE_ARGV("WendrakeIdentity", AsCommand(SetIdentity), nullptr, RSRC_CONF,
                      "where the request identity comes from: none, user [...], header USER-HEADER [...]"),
    {nullptr, {nullptr}, nullptr, 0, RAW_ARGS, nullptr},
};

void* CreateWendrakeServerConfig(apr_pool_t* pPool, server_rec*) {
    auto* pConfig = static_cast<CWendrakeServerConfig*>(apr_pcalloc(pPool, sizeof(CWendrakeServerConfig)));
    pConfig->m_pLocations = apr_array_make(pPool, 2, sizeof(const char*));
    pConfig->m_pSubscription = apr_array_make(pPool, 8, sizeof(CWendrakeRule));
    pConfig->m_pCriteria = apr_array_make(pPool, 2, sizeof(CWendrakeRule));
    return pConfig;
}

void* MergeWendrakeServerConfig(apr_pool_t* pPool, void* pvBase, void* pvAdd) {
    const auto* pBase = static_cast<const CWendrakeServerConfig*>(pvBase);
    const auto* pAdd = static_cast<const CWendrakeServerConfig*>(pvAdd);
    auto* pMerged =
        static_cast<CWendrakeServerConfig*>(apr_pmemdup(pPool, pAdd, sizeof(CWendrakeServerConfig)));
    // A virtual host inherits what it does not set itself; lists are taken whole, never mixed.
    pMerged->m_pszWorker = pBase->m_pszWorker;
    if (pAdd->m_pLocations->nelts == 0)
        pMerged->m_pLocations = pBase->m_pLocations;
    if (pAdd->m_pSubscription->nelts == 0)
        pMerged->m_pSubscription = pBase->m_pSubscription;
    if (pAdd->m_pCriteria->nelts == 0)
        pMerged->m_pCriteria = pBase->m_pCriteria;
    if (!pAdd->m_pszCsmPrefix)
        pMerged->m_pszCsmPrefix = pBase->m_pszCsmPrefix;
    if (!pAdd->m_pszScripts)
        pMerged->m_pszScripts = pBase->m_pszScripts;
    if (!pAdd->m_cbBodyLimit)
        pMerged->m_cbBodyLimit = pBase->m_cbBodyLimit;
    if (pAdd->m_eIdentity == IDENTITY_UNSET) {
        pMerged->m_eIdentity = pBase->m_eIdentity;
        pMerged->m_pszUserHeader = pBase->m_pszUserHeader;
        pMerged->m_pszSidHeader = pBase->m_pszSidHeader;
        pMerged->m_pszGroupsHeader = pBase->m_pszGroupsHeader;
    }
    return pMerged;
}

const char* FindWebmailLocation(const CWendrakeServerConfig* pConfig, const char* pszPath) {
    const char* pszBest = nullptr;
    size_t cbBest = 0;
    const auto* ppLocations = reinterpret_cast<const char* const*>(pConfig->m_pLocations->elts);
    for (int i = 0; i < pConfig->m_pLocations->nelts; ++i) {
        const char* pszLocation = ppLocations[i];
        const size_t cbLocation = std::strlen(pszLocation);
        const bool bRoot = cbLocation == 1;
        const bool bInside = std::strncmp(pszPath, pszLocation, cbLocation) == 0 &&
                             (bRoot || pszPath[cbLocation] == '\0' || pszPath[cbLocation] == '/');
        if (bInside && cbLocation >= cbBest) {
            pszBest = pszLocation;
            cbBest = cbLocation;
        }
    }
    return pszBest;
}

DWORD MatchRule(const apr_array_header_t* pRules, const char* pszTarget) {
    const auto* pRule = reinterpret_cast<const CWendrakeRule*>(pRules->elts);
    for (int i = 0; i < pRules->nelts; ++i)
        if (!pRule[i].m_pRegex || ap_regexec(pRule[i].m_pRegex, pszTarget, 0, nullptr, 0) == 0)
            return pRule[i].m_dwValue;
    return 0;
}
