// Everything mod_wendrake keeps for one request, in the request's pool (internal redirects share it;
// subrequests never get one). Apache may run a request's hooks on different threads, so nothing of a request
// lives anywhere else.
#pragma once

#include "host/apache/IsapiPlumbing.h"

#include <httpd.h>
#include <util_filter.h>

struct CRequestState {
    CRequestState(request_rec* pRequest, const CWendrakeServerConfig* pConfig, const char* pszWebmail,
                  const CWorkerEntryPoints& worker)
        : m_site(pRequest, pConfig, pszWebmail), m_isapi(m_site, worker) {}

    enum class EBody { Undecided, Buffer, Pass };

    CApacheRequestSite m_site;
    CIsapiRequest m_isapi;
    bool m_bFollowing = true; // the worker has not ended its interest (Ignore, Completed, an exception)
    bool m_bAuthSent = false;
    bool m_bResponseSeen = false;
    bool m_bEndSent = false;
    EBody m_eBody = EBody::Undecided;
    apr_bucket_brigade* m_pHeld = nullptr;
};

// The request's state, or null when mod_wendrake does not follow it.
CRequestState* StateOf(request_rec* pRequest);

// Sends a notification the worker registered and logs what came of it; false when the worker stopped
// following (then also m_bFollowing is false).
bool NotifyWorker(CRequestState& state, DWORD dwCode, DWORD dwHttpStatus);

// The output filter's name, and its function (SEND_RESPONSE, then SEND_RAW_DATA for an HTML body).
extern const char WENDRAKE_FILTER[];
apr_status_t WendrakeOutputFilter(ap_filter_t* pFilter, apr_bucket_brigade* pBrigade);

// The guard's script files under <webmail>/BKScripts/: translate_name, map_to_storage and the handler.
int TranslateGuardScript(request_rec* pRequest);
int MapGuardScript(request_rec* pRequest);
int ServeGuardScript(request_rec* pRequest);
