// mod_wendrake: Apache httpd 2.4 plays the core services for the worker module. Apache's phases become the
// worker's notifications: post_read_request PREPROC_HEADERS, fixups (after every authentication Apache did,
// also where it did none, as behind a reverse proxy) AUTHENTICATION and AUTH_COMPLETE, the output filter
// SEND_RESPONSE and SEND_RAW_DATA, log_transaction (or the request pool's end) END_OF_REQUEST.
#include "host/apache/ApacheRequestState.h"
#include "host/apache/ApacheWorker.h"

#include <apr_strings.h>
#include <http_core.h>
#include <http_log.h>
#include <http_protocol.h>
#include <http_request.h>

#include <new>

APLOG_USE_MODULE(wendrake);

namespace {

const char STATE_KEY[] = "wendrake-request-state";
// apr_palloc aligns to 8 bytes.
static_assert(alignof(CRequestState) <= 8);
ap_filter_rec_t* g_pFilter = nullptr;

apr_status_t EndRequest(void* pvState) {
    auto* pState = static_cast<CRequestState*>(pvState);
    try {
        if (!pState->m_bEndSent) {
            pState->m_bEndSent = true;
            NotifyWorker(*pState, SF_NOTIFY_END_OF_REQUEST,
                         static_cast<DWORD>(pState->m_site.Request()->status));
        }
    } catch (...) {
    }
    pState->~CRequestState();
    return APR_SUCCESS;
}

// The path as Apache will map it: unescaped, without "." and ".." segments and doubled slashes, so that an
// escaped or roundabout address cannot slip past the guarded location.
const char* NormalizedPath(request_rec* r) {
    char* pszPath = apr_pstrdup(r->pool, r->parsed_uri.path ? r->parsed_uri.path : "");
    if (ap_unescape_url_keep2f(pszPath, 1) != OK)
        return nullptr;
    ap_getparents(pszPath);
    ap_no2slash(pszPath);
    return pszPath;
}

int OnPostReadRequest(request_rec* r) {
    try {
        if (r->main || StateOf(r))
            return DECLINED;
        const CWorkerEntryPoints* pWorker = RunningWorker();
        const CWendrakeServerConfig* pConfig = WendrakeConfigOf(r->server);
        const char* pszPath = pWorker ? NormalizedPath(r) : nullptr;
        const char* pszWebmail = pszPath ? FindWebmailLocation(pConfig, pszPath) : nullptr;
        if (!pszWebmail || IsGuardScriptRequest(*pConfig, pszPath))
            return DECLINED;
        const char* pszTarget = r->args ? apr_pstrcat(r->pool, pszPath, "?", r->args, nullptr) : pszPath;
        // In the request's pool: over a kilobyte, which from the heap would cost a consolidation per request.
        void* pvState = apr_palloc(r->pool, sizeof(CRequestState));
        auto* pState = new (pvState)
            CRequestState(r, pConfig, pszWebmail, *pWorker, MatchRule(pConfig->m_pSubscription, pszTarget),
                          MatchRule(pConfig->m_pCriteria, pszTarget));
        apr_pool_cleanup_register(r->pool, pState, EndRequest, apr_pool_cleanup_null);
        apr_pool_userdata_setn(pState, STATE_KEY, nullptr, r->pool);
        ap_set_module_config(r->request_config, &wendrake_module, pState);
        NotifyWorker(*pState, SF_NOTIFY_PREPROC_HEADERS, 0);
        if (pState->m_site.HasAnswer()) {
            pState->m_site.WriteAnswer();
            return DONE;
        }
    } catch (...) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "wendrake: PREPROC_HEADERS failed; the request goes on");
    }
    return DECLINED;
}

int OnFixups(request_rec* r) {
    CRequestState* pState = r->main ? nullptr : StateOf(r);
    if (!pState || pState->m_bAuthSent || !pState->Following())
        return DECLINED;
    try {
        pState->m_bAuthSent = true;
        pState->m_site.SetRequest(r);
        // What authentication and Apache's mapping changed: the request's values and its identity. The
        // worker runs each notification under the record's identity.
        CDLLContext& context = pState->m_driver.Context();
        const CRequestState::CValuesSource source(r);
        if (!(source == pState->m_valuesRead)) {
            context.m_spRequestInfo = pState->m_site.BuildRequestInfo();
            context.m_spExchangeURL = pState->m_site.BuildExchangeUrl();
            pState->m_valuesRead = source;
        }
        context.m_spRequestIdentity = pState->m_site.BuildIdentity();
        if (NotifyWorker(*pState, SF_NOTIFY_AUTHENTICATION, 0))
            NotifyWorker(*pState, SF_NOTIFY_AUTH_COMPLETE, 0);
        if (pState->m_site.HasAnswer()) {
            pState->m_site.WriteAnswer();
            return DONE;
        }
    } catch (...) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "wendrake: AUTH_COMPLETE failed; the request goes on");
    }
    return DECLINED;
}

void OnInsertFilter(request_rec* r) {
    CRequestState* pState = r->main ? nullptr : StateOf(r);
    if (!pState || !pState->Following() || pState->m_bResponseSeen)
        return;
    for (ap_filter_t* pFilter = r->output_filters; pFilter; pFilter = pFilter->next)
        if (pFilter->frec == g_pFilter)
            return;
    pState->m_site.SetRequest(r);
    ap_add_output_filter_handle(g_pFilter, pState, r, r->connection);
}

int OnLogTransaction(request_rec* r) {
    // The request is over, also when the client went away mid-response.
    if (CRequestState* pState = StateOf(r))
        if (!pState->m_bEndSent) {
            pState->m_bEndSent = true;
            try {
                NotifyWorker(*pState, SF_NOTIFY_END_OF_REQUEST, static_cast<DWORD>(r->status));
            } catch (...) {
            }
        }
    return DECLINED;
}

int OnPostConfig(apr_pool_t* pConfPool, apr_pool_t*, apr_pool_t*, server_rec* pServer) {
    // The first of the two configuration passes only tests the files.
    if (ap_state_query(AP_SQ_MAIN_STATE) == AP_SQ_MS_CREATE_PRE_CONFIG)
        return OK;
    const CWendrakeServerConfig* pMain = WendrakeConfigOf(pServer);
    for (server_rec* pHost = pServer; pHost; pHost = pHost->next)
        if (WendrakeConfigOf(pHost)->m_pLocations->nelts > 0 && !pMain->m_pszWorker) {
            ap_log_error(
                APLOG_MARK, APLOG_EMERG, 0, pHost,
                "wendrake: WendrakeWebmail is set (%s:%d) but no WendrakeWorker names the worker module",
                pHost->defn_name ? pHost->defn_name : "?", pHost->defn_line_number);
            return HTTP_INTERNAL_SERVER_ERROR;
        }
    if (!pMain->m_pszWorker)
        return OK;
    std::string csReason;
    if (!CheckWorker(pMain->m_pszWorker, csReason)) {
        ap_log_error(APLOG_MARK, APLOG_EMERG, 0, pServer, "wendrake: the worker %s does not start: %s",
                     pMain->m_pszWorker, csReason.c_str());
        return HTTP_INTERNAL_SERVER_ERROR;
    }
    ap_log_error(APLOG_MARK, APLOG_INFO, 0, pServer, "wendrake: worker %s checked", pMain->m_pszWorker);
    (void)pConfPool;
    return OK;
}

void OnChildInit(apr_pool_t* pChildPool, server_rec* pServer) {
    const CWendrakeServerConfig* pMain = WendrakeConfigOf(pServer);
    if (!pMain->m_pszWorker)
        return;
    std::string csReason;
    try {
        if (StartWorker(pMain->m_pszWorker, pChildPool, csReason))
            return;
    } catch (...) {
        csReason = "an exception left the worker's start";
    }
    ap_log_error(APLOG_MARK, APLOG_CRIT, 0, pServer,
                 "wendrake: the worker %s did not start in this process (%s); its requests pass unguarded",
                 pMain->m_pszWorker, csReason.c_str());
}

void RegisterHooks(apr_pool_t*) {
    ap_hook_post_config(OnPostConfig, nullptr, nullptr, APR_HOOK_MIDDLE);
    ap_hook_child_init(OnChildInit, nullptr, nullptr, APR_HOOK_MIDDLE);
    ap_hook_post_read_request(OnPostReadRequest, nullptr, nullptr, APR_HOOK_MIDDLE);
    ap_hook_translate_name(TranslateGuardScript, nullptr, nullptr, APR_HOOK_FIRST);
    ap_hook_map_to_storage(MapGuardScript, nullptr, nullptr, APR_HOOK_FIRST);
    ap_hook_fixups(OnFixups, nullptr, nullptr, APR_HOOK_REALLY_FIRST);
    ap_hook_handler(ServeGuardScript, nullptr, nullptr, APR_HOOK_FIRST);
    ap_hook_insert_filter(OnInsertFilter, nullptr, nullptr, APR_HOOK_LAST);
    ap_hook_insert_error_filter(OnInsertFilter, nullptr, nullptr, APR_HOOK_LAST);
    ap_hook_log_transaction(OnLogTransaction, nullptr, nullptr, APR_HOOK_FIRST);
    // Before the compression filters, so the worker sees the page as the site made it.
    g_pFilter = ap_register_output_filter(WENDRAKE_FILTER, WendrakeOutputFilter, nullptr,
                                          static_cast<ap_filter_type>(AP_FTYPE_CONTENT_SET - 1));
}

} // namespace

CRequestState::CValuesSource::CValuesSource(request_rec* r)
    : m_pRequest(r), m_pszUri(r->unparsed_uri),
      m_pszArgs(r->args), m_apszHeaders{apr_table_get(r->headers_in, "User-Agent"),
                                        apr_table_get(r->headers_in, "Cookie"),
                                        apr_table_get(r->headers_in, "Accept-Language")} {}

CRequestState* StateOf(request_rec* r) {
    // The request's own configuration is an array slot; the pool's data, a hash lookup by name, is where an
    // internally redirected request (a new record, a new configuration, the same pool) finds the state.
    if (void* pvState = ap_get_module_config(r->request_config, &wendrake_module))
        return static_cast<CRequestState*>(pvState);
    void* pvState = nullptr;
    apr_pool_userdata_get(&pvState, STATE_KEY, r->pool);
    if (pvState)
        ap_set_module_config(r->request_config, &wendrake_module, pvState);
    return static_cast<CRequestState*>(pvState);
}

bool NotifyWorker(CRequestState& state, DWORD dwCode, DWORD dwHttpStatus) {
    if (!state.Wants(dwCode))
        return state.Following();
    CNotificationDriver& driver = state.m_driver;
    if (dwCode == SF_NOTIFY_END_OF_REQUEST)
        driver.EndOfRequest(dwHttpStatus);
    else if (dwCode == SF_NOTIFY_SEND_RAW_DATA)
        driver.SendRawData(state.m_site.RawDataBlock(dwHttpStatus), dwHttpStatus,
                           state.m_site.HeaderBlockSize());
    else
        driver.Send(dwCode, dwHttpStatus);
    const CNotificationOutcome& outcome = driver.LastOutcome();
    request_rec* r = state.m_site.Request();
    if (outcome.m_dwCode == dwCode) {
        if (outcome.m_bException)
            ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                          "wendrake: an exception left the worker in notification 0x%X: %s", dwCode,
                          outcome.m_csException.c_str());
        ap_log_rerror(APLOG_MARK, APLOG_TRACE1, 0, r,
                      "wendrake: notification 0x%X: result %u, control message %u (%s)", dwCode,
                      outcome.m_dwResult, outcome.m_dwControlMessage,
                      ControlMessageWord(outcome.m_dwControlMessage));
    }
    if (dwCode == SF_NOTIFY_END_OF_REQUEST && driver.Context().m_pMyOwnContext)
        ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                      "wendrake: the worker kept its context after END_OF_REQUEST");
    return driver.Following();
}

extern "C" {
__attribute__((visibility("default"))) module AP_MODULE_DECLARE_DATA wendrake_module = {
    STANDARD20_MODULE_STUFF,
    nullptr,
    nullptr,
    CreateWendrakeServerConfig,
    MergeWendrakeServerConfig,
    g_aWendrakeCommands,
    RegisterHooks,
    AP_MODULE_FLAG_NONE,
};
}
