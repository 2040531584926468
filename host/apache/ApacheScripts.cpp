// The guard's script files: the worker points browsers at <webmail>/BKScripts/<product>/<version>/ with the
// short cached-script prefix in front of each file name; they are served from the configured folder.
#include "host/apache/ApacheRequestState.h"

#include "text/CCachedScriptDecorator.h"

#include <apr_buckets.h>
#include <apr_strings.h>
#include <http_core.h>
#include <http_protocol.h>
#include <http_request.h>

#include <cstring>
#include <string>
#include <strings.h>

namespace {

const char SCRIPT_NOTE[] = "wendrake-guard-script";

// The file below the scripts folder that the address names, or empty when it names none.
std::string ScriptFileOf(const CWendrakeServerConfig& config, const char* pszUri) {
    const char* pszWebmail = FindWebmailLocation(&config, pszUri);
    if (!pszWebmail)
        return std::string();
    // Every request asks, and hardly one is for a script: nothing is built until the address is in the
    // folder.
    static constexpr char FOLDER[] = "/BKScripts/";
    const size_t cbWebmail = std::strcmp(pszWebmail, "/") == 0 ? 0 : std::strlen(pszWebmail);
    if (std::strncmp(pszUri + cbWebmail, FOLDER, sizeof(FOLDER) - 1) != 0)
        return std::string();
    std::string csRest = pszUri + cbWebmail + sizeof(FOLDER) - 1;
    std::string csShort = config.m_pszCsmPrefix ? config.m_pszCsmPrefix : "";
    csShort = csShort.substr(0, CCachedScriptDecorator::SHORT_PREFIX_LENGTH);
    csShort.erase(0, csShort.find_first_not_of('/'));
    const size_t nNameStart = csRest.rfind('/') + 1; // 0 without a folder
    const size_t nPrefix = csShort.empty() ? std::string::npos : csRest.rfind(csShort);
    // The prefix stands at the start of the file name, or (holding a '/' of its own) reaches into it.
    const bool bSpans = csShort.find('/') != std::string::npos && nPrefix < nNameStart &&
                        nPrefix + csShort.size() > nNameStart && (nPrefix == 0 || csRest[nPrefix - 1] == '/');
    if (nPrefix != std::string::npos && (nPrefix == nNameStart || bSpans))
        csRest.erase(nPrefix, csShort.size());
    for (size_t nDouble; (nDouble = csRest.find("//")) != std::string::npos;)
        csRest.erase(nDouble, 1);
    if (csRest.empty() || csRest.back() == '/' || csRest.find("..") != std::string::npos)
        return std::string();
    return std::string(config.m_pszScripts) + "/" + csRest;
}

const char* ContentTypeOf(const char* pszFile) {
    const char* pszDot = std::strrchr(pszFile, '.');
    const std::pair<const char*, const char*> aTypes[] = {{".js", "application/javascript"},
                                                          {".htm", "text/html"},
                                                          {".html", "text/html"},
                                                          {".css", "text/css"},
                                                          {".gif", "image/gif"},
                                                          {".png", "image/png"},
                                                          {".jpg", "image/jpeg"},
                                                          {".svg", "image/svg+xml"}};
    for (const auto& [pszExtension, pszType] : aTypes)
        if (pszDot && strcasecmp(pszDot, pszExtension) == 0)
            return pszType;
    return "application/octet-stream";
}

// The worker puts the whole prefix in front of the webmail's own script names ("...//bkcsm/v1uglobal.js"); as
// a cached-script manager would, the file is served under its own name.
void StripCachedScriptPrefix(const CWendrakeServerConfig& config, request_rec* r) {
    const char* pszPrefix = config.m_pszCsmPrefix ? config.m_pszCsmPrefix : "";
    while (*pszPrefix == '/')
        ++pszPrefix;
    if (!*pszPrefix || !std::strstr(r->uri, pszPrefix) || !FindWebmailLocation(&config, r->uri))
        return;
    const std::string csPrefix = pszPrefix;
    std::string csUri = r->uri;
    const size_t nPrefix = csUri.rfind("/" + csPrefix);
    if (nPrefix == std::string::npos || csUri.find('/', nPrefix + 1 + csPrefix.size()) != std::string::npos ||
        nPrefix + 1 + csPrefix.size() == csUri.size())
        return;
    csUri.erase(nPrefix + 1, csPrefix.size());
    r->uri = apr_pstrdup(r->pool, csUri.c_str());
}

} // namespace

bool IsGuardScriptRequest(const CWendrakeServerConfig& config, const char* pszUri) {
    return config.m_pszScripts && pszUri && !ScriptFileOf(config, pszUri).empty();
}

int TranslateGuardScript(request_rec* r) {
    const CWendrakeServerConfig* pConfig = WendrakeConfigOf(r->server);
    if (!r->uri || r->uri[0] != '/')
        return DECLINED;
    StripCachedScriptPrefix(*pConfig, r);
    if (!pConfig->m_pszScripts)
        return DECLINED;
    const std::string csFile = ScriptFileOf(*pConfig, r->uri);
    if (csFile.empty())
        return DECLINED;
    r->filename = apr_pstrdup(r->pool, csFile.c_str());
    r->handler = SCRIPT_NOTE;
    apr_table_setn(r->notes, SCRIPT_NOTE, r->filename);
    return OK;
}

int MapGuardScript(request_rec* r) {
    // The folder lies outside the document tree: no <Directory> walk, the webmail's <Location> still applies.
    return apr_table_get(r->notes, SCRIPT_NOTE) ? OK : DECLINED;
}

int ServeGuardScript(request_rec* r) {
    const char* pszFile = apr_table_get(r->notes, SCRIPT_NOTE);
    if (!pszFile)
        return DECLINED;
    if (r->method_number != M_GET)
        return HTTP_METHOD_NOT_ALLOWED;
    apr_file_t* pFile = nullptr;
    if (apr_stat(&r->finfo, pszFile, APR_FINFO_NORM, r->pool) != APR_SUCCESS ||
        r->finfo.filetype != APR_REG ||
        apr_file_open(&pFile, pszFile, APR_READ | APR_BINARY, APR_OS_DEFAULT, r->pool) != APR_SUCCESS)
        return HTTP_NOT_FOUND;
    const char* pszType = ContentTypeOf(pszFile);
    ap_set_content_type(r, pszType);
    // The cached-script prefix in the address changes with the installation, so browsers may keep the scripts
    // and images for a year; the blocked-browser page is text an administrator may edit: an hour.
    apr_table_setn(r->headers_out, "Cache-Control",
                   std::strcmp(pszType, "text/html") == 0 ? "public, max-age=3600"
                                                          : "public, max-age=31536000");
    ap_update_mtime(r, r->finfo.mtime);
    ap_set_last_modified(r);
    ap_set_etag(r);
    const int nConditions = ap_meets_conditions(r);
    if (nConditions != OK)
        return nConditions;
    ap_set_content_length(r, r->finfo.size);
    apr_bucket_brigade* pBrigade = apr_brigade_create(r->pool, r->connection->bucket_alloc);
    apr_brigade_insert_file(pBrigade, pFile, 0, r->finfo.size, r->pool);
    APR_BRIGADE_INSERT_TAIL(pBrigade, apr_bucket_eos_create(r->connection->bucket_alloc));
    return ap_pass_brigade(r->output_filters, pBrigade) == APR_SUCCESS ? OK : AP_FILTER_ERROR;
}
