// The response side: SEND_RESPONSE on the filter's first call, then the whole body of an HTML response,
// held back up to the body limit, to SEND_RAW_DATA. Anything else, and anything that goes wrong, lets the
// original bytes through.
#include "host/apache/ApacheRequestState.h"

#include <apr_strings.h>
#include <http_log.h>
#include <http_protocol.h>
#include <zlib.h>

#include <strings.h>

APLOG_USE_MODULE(wendrake);

extern const char WENDRAKE_FILTER[] = "WENDRAKE";

namespace {

enum class EEncoding { Identity, Gzip, Deflate, Other };

EEncoding EncodingOf(request_rec* r) {
    const char* pszEncoding = apr_table_get(r->headers_out, "Content-Encoding");
    if (!pszEncoding || !*pszEncoding || strcasecmp(pszEncoding, "identity") == 0)
        return EEncoding::Identity;
    if (strcasecmp(pszEncoding, "gzip") == 0 || strcasecmp(pszEncoding, "x-gzip") == 0)
        return EEncoding::Gzip;
    return strcasecmp(pszEncoding, "deflate") == 0 ? EEncoding::Deflate : EEncoding::Other;
}

// Inflates a gzip or zlib stream; false for a damaged one, trailing bytes, or a result above the limit.
bool Inflate(const std::string& csIn, int nWindowBits, size_t cbLimit, std::string& csOut) {
    z_stream stream{};
    if (inflateInit2(&stream, nWindowBits) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(csIn.data()));
    stream.avail_in = static_cast<uInt>(csIn.size());
    char aChunk[16384];
    int nResult = Z_OK;
    while (nResult == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(aChunk);
        stream.avail_out = sizeof(aChunk);
        nResult = inflate(&stream, Z_NO_FLUSH);
        csOut.append(aChunk, sizeof(aChunk) - stream.avail_out);
        if (csOut.size() > cbLimit || (nResult == Z_BUF_ERROR && stream.avail_in == 0))
            break;
    }
    const bool bComplete = nResult == Z_STREAM_END && stream.avail_in == 0 && csOut.size() <= cbLimit;
    inflateEnd(&stream);
    return bComplete;
}

bool IsHtml(request_rec* r) {
    return r->content_type && strncasecmp(r->content_type, "text/html", 9) == 0;
}

apr_off_t BodyLimit(const CRequestState& state) {
    const apr_off_t cbLimit = state.m_site.Config()->m_cbBodyLimit;
    return cbLimit ? cbLimit : WENDRAKE_DEFAULT_BODY_LIMIT;
}

// SEND_RESPONSE, and whether the body is held for SEND_RAW_DATA.
CRequestState::EBody OnResponseStart(CRequestState& state, request_rec* r) {
    state.m_bResponseSeen = true;
    state.m_site.SetRequest(r);
    if (!NotifyWorker(state, SF_NOTIFY_SEND_RESPONSE, static_cast<DWORD>(r->status)))
        return CRequestState::EBody::Pass;
    const bool bHold = state.Wants(SF_NOTIFY_SEND_RAW_DATA) && !r->header_only && IsHtml(r) &&
                       EncodingOf(r) != EEncoding::Other;
    return bHold ? CRequestState::EBody::Buffer : CRequestState::EBody::Pass;
}

bool Flatten(apr_bucket_brigade* pBrigade, std::string& csOut) {
    for (apr_bucket* pBucket = APR_BRIGADE_FIRST(pBrigade); pBucket != APR_BRIGADE_SENTINEL(pBrigade);
         pBucket = APR_BUCKET_NEXT(pBucket)) {
        if (APR_BUCKET_IS_METADATA(pBucket))
            continue;
        const char* pData = nullptr;
        apr_size_t cbData = 0;
        if (apr_bucket_read(pBucket, &pData, &cbData, APR_BLOCK_READ) != APR_SUCCESS)
            return false;
        csOut.append(pData, cbData);
    }
    return true;
}

// The held body as the worker sees it (decoded); false when it cannot be had, so the original goes out.
bool ReadHeldBody(CRequestState& state, request_rec* r, bool& bDecoded) {
    std::string csRaw;
    if (!Flatten(state.m_pHeld, csRaw))
        return false;
    const EEncoding eEncoding = EncodingOf(r);
    bDecoded = eEncoding != EEncoding::Identity;
    if (!bDecoded) {
        state.m_site.Body() = std::move(csRaw);
        return true;
    }
    const size_t cbLimit = static_cast<size_t>(BodyLimit(state));
    std::string& csBody = state.m_site.Body();
    if (Inflate(csRaw, eEncoding == EEncoding::Gzip ? 15 + 16 : 15, cbLimit, csBody))
        return true;
    csBody.clear();
    // Many servers send "deflate" as a raw stream without the zlib wrapper.
    if (eEncoding == EEncoding::Deflate && Inflate(csRaw, -15, cbLimit, csBody))
        return true;
    ap_log_rerror(APLOG_MARK, APLOG_INFO, 0, r,
                  "wendrake: the %s body cannot be decoded; it goes out as it came",
                  eEncoding == EEncoding::Gzip ? "gzip" : "deflate");
    return false;
}

// The end of the body: SEND_RAW_DATA, then the edited page or the original bytes.
apr_status_t FinishBody(ap_filter_t* f, CRequestState& state) {
    request_rec* r = f->r;
    apr_bucket_brigade* pHeld = state.m_pHeld;
    bool bDecoded = false;
    if (ReadHeldBody(state, r, bDecoded) && !state.m_site.Body().empty())
        NotifyWorker(state, SF_NOTIFY_SEND_RAW_DATA, static_cast<DWORD>(r->status));
    ap_remove_output_filter(f);
    if (!state.m_site.IsBodyEdited())
        return ap_pass_brigade(f->next, pHeld);
    const std::string& csEdited = state.m_site.EditedBody();
    apr_bucket_brigade* pOut = apr_brigade_create(r->pool, f->c->bucket_alloc);
    APR_BRIGADE_INSERT_TAIL(
        pOut, apr_bucket_heap_create(csEdited.data(), csEdited.size(), nullptr, f->c->bucket_alloc));
    APR_BRIGADE_INSERT_TAIL(pOut, apr_bucket_eos_create(f->c->bucket_alloc));
    apr_brigade_cleanup(pHeld);
    if (bDecoded)
        apr_table_unset(r->headers_out, "Content-Encoding");
    apr_table_unset(r->headers_out, "Content-MD5");
    apr_table_unset(r->headers_out, "ETag");
    ap_set_content_length(r, static_cast<apr_off_t>(csEdited.size()));
    return ap_pass_brigade(f->next, pOut);
}

apr_status_t HoldBody(ap_filter_t* f, CRequestState& state, apr_bucket_brigade* pBrigade) {
    request_rec* r = f->r;
    if (!state.m_pHeld)
        state.m_pHeld = apr_brigade_create(r->pool, f->c->bucket_alloc);
    bool bEnd = false;
    for (apr_bucket* pBucket = APR_BRIGADE_FIRST(pBrigade); pBucket != APR_BRIGADE_SENTINEL(pBrigade);
         pBucket = APR_BUCKET_NEXT(pBucket)) {
        bEnd = bEnd || APR_BUCKET_IS_EOS(pBucket);
        // The held body is copied out anyway: reading the file costs less than mapping it, faulting its pages
        // in and unmapping it again (which interrupts every other thread of the process).
        if (APR_BUCKET_IS_FILE(pBucket))
            apr_bucket_file_enable_mmap(pBucket, 0);
    }
    apr_status_t nStatus = ap_save_brigade(f, &state.m_pHeld, &pBrigade, r->pool);
    apr_brigade_cleanup(pBrigade);
    apr_off_t cbHeld = 0;
    if (nStatus == APR_SUCCESS)
        nStatus = apr_brigade_length(state.m_pHeld, 1, &cbHeld);
    if (nStatus != APR_SUCCESS || cbHeld > BodyLimit(state)) {
        // Too large to hold, or unreadable: what is held goes on, the rest streams through untouched.
        ap_log_rerror(APLOG_MARK, APLOG_DEBUG, nStatus, r,
                      "wendrake: the HTML body passes untouched (held %" APR_OFF_T_FMT " bytes)", cbHeld);
        state.m_eBody = CRequestState::EBody::Pass;
        ap_remove_output_filter(f);
        return ap_pass_brigade(f->next, state.m_pHeld);
    }
    return bEnd ? FinishBody(f, state) : APR_SUCCESS;
}

} // namespace

apr_status_t WendrakeOutputFilter(ap_filter_t* f, apr_bucket_brigade* pBrigade) {
    auto* pState = static_cast<CRequestState*>(f->ctx);
    try {
        if (pState && pState->m_eBody == CRequestState::EBody::Undecided)
            pState->m_eBody = OnResponseStart(*pState, f->r);
        if (pState && pState->m_eBody == CRequestState::EBody::Buffer)
            return HoldBody(f, *pState, pBrigade);
    } catch (...) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, f->r,
                      "wendrake: the response filter failed; the response goes on");
        if (pState && pState->m_pHeld && !APR_BRIGADE_EMPTY(pState->m_pHeld)) {
            pState->m_eBody = CRequestState::EBody::Pass;
            APR_BRIGADE_PREPEND(pBrigade, pState->m_pHeld);
        }
    }
    ap_remove_output_filter(f);
    return ap_pass_brigade(f->next, pBrigade);
}
