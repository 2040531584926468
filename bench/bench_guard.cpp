// The guard's requests through the entry point, with a minimal host of plain callbacks: a base request
// answered with the base page (PREPROC_HEADERS, AUTH_COMPLETE, END_OF_REQUEST), and a followed page's four
// notifications (PREPROC_HEADERS, AUTH_COMPLETE, SEND_RESPONSE, END_OF_REQUEST; no page rewrite). Each with
// logging off, and beside it the same request with logging on to the shared-memory log.

#include "filter/EntryPoints.h"
#include "host/testing/TestHost.h"
#include "log/Log.h"
#include "log/LogWriters.h"
#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

const std::map<std::string, std::string, CCaselessLess> g_mapServerVariables = {
    {"HEADER_BK_CSMPREFIX", "abcde/"},
    {"HTTP_ACCEPT_LANGUAGE", "fr-CA,fr;q=0.8,en;q=0.6"},
    {"LOGON_USER", "EXAMPLE\\alice"}};

BOOL ReadValue(const std::map<std::string, std::string, CCaselessLess>& mapValues, LPSTR pszName,
               LPVOID pvBuffer, LPDWORD pcbSize) {
    auto it = mapValues.find(pszName);
    if (it == mapValues.end()) {
        *pcbSize = 0;
        PlatformSetLastError(ERROR_INVALID_INDEX);
        return FALSE;
    }
    const DWORD cbNeeded = static_cast<DWORD>(it->second.size() + 1);
    if (!pvBuffer || *pcbSize < cbNeeded) {
        *pcbSize = cbNeeded;
        PlatformSetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(pvBuffer, it->second.c_str(), cbNeeded);
    *pcbSize = cbNeeded;
    return TRUE;
}

BOOL GetServerVariable(HTTP_FILTER_CONTEXT*, LPSTR pszName, LPVOID pvBuffer, LPDWORD pcbSize) {
    return ReadValue(g_mapServerVariables, pszName, pvBuffer, pcbSize);
}
BOOL GetHeader(HTTP_FILTER_CONTEXT*, LPSTR pszName, LPVOID pvBuffer, LPDWORD pcbSize) {
    static const std::map<std::string, std::string, CCaselessLess> s_mapHeaders;
    return ReadValue(s_mapHeaders, pszName, pvBuffer, pcbSize);
}
BOOL AcceptHeader(HTTP_FILTER_CONTEXT*, LPSTR, LPSTR) {
    return TRUE;
}
DWORD TakeResponse(CDLLContext*, const char* pszResponse, DWORD* pcbResponse, CCoreServices*) {
    benchmark::DoNotOptimize(pszResponse[*pcbResponse - 1]);
    return 0;
}

class CBenchRequest {
public:
    CBenchRequest(DWORD dwType, const char* pszUrl, const char* pszQuery) {
        m_filterContext.GetServerVariable = &GetServerVariable;
        m_headers = {&GetHeader, &AcceptHeader, &AcceptHeader, 0, 0};
        m_auth = {&GetHeader, &AcceptHeader, &AcceptHeader, nullptr, 0, FALSE, 0};
        m_services.SendResponse = &TakeResponse;
        auto spInfo = std::make_shared<CRequestInfo>();
        spInfo->m_mapRequestValues = {
            {"HTTP_URL", std::string(pszUrl) + (*pszQuery ? "?" : "") + pszQuery},
            {"URL", pszUrl},
            {"QUERY_STRING", pszQuery},
            {"HTTP_METHOD", "GET"},
            {"HTTP_USER_AGENT", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)"},
            {"HTTP_COOKIE", "sessionid=1; UserContext=abc"},
            {"HTTP_ACCEPT-LANGUAGE", "fr-CA,fr;q=0.8,en;q=0.6"}};
        if (*pszQuery)
            spInfo->m_mapQueryParameters.emplace("modurl", "0");
        m_context.m_spRequestInfo = spInfo;
        m_context.m_spExchangeURL = std::make_shared<CExchangeURL>(
            CExchangeURL{"https://mail.example.com", "/owa", std::string(pszUrl)});
        m_context.m_spOutboundContext = std::make_shared<COutboundContext>(COutboundContext{200, nullptr});
        m_context.m_pCoreServices = &m_services;
        m_context.m_pFilterContext = &m_filterContext;
        m_context.m_dwSubscriptionType = dwType;
        auto spIdentity = std::make_shared<CRequestIdentity>();
        spIdentity->csUser = "alice";
        spIdentity->csDomain = "EXAMPLE";
        spIdentity->vUserSid = {1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0};
        m_context.m_spRequestIdentity = spIdentity;
    }

    // One notification of the request; the host's structure of that notification goes with it.
    DWORD Notify(DWORD dwType) {
        m_context.m_dwNotificationType = dwType;
        m_context.m_pNotification =
            dwType == SF_NOTIFY_AUTH_COMPLETE ? static_cast<void*>(&m_auth) : static_cast<void*>(&m_headers);
        return HttpFilterProc(&m_context);
    }
    void Restart() { m_context.m_dwControlMessage = CM_NONE; }
    const CDLLContext& Context() const { return m_context; }

private:
    HTTP_FILTER_CONTEXT m_filterContext{};
    HTTP_FILTER_PREPROC_HEADERS m_headers{};
    HTTP_FILTER_AUTH_COMPLETE_INFO m_auth{};
    CCoreServices m_services;
    CDLLContext m_context;
};

void SetLogging(bool bOn) {
    if (bOn)
        SetLogSink(&LogSharedMemoryWriter);
    SetLogLevel(bOn ? LOG_LEVEL_ON : LOG_LEVEL_OFF);
}

void RunRequest(benchmark::State& state, CBenchRequest& request, std::initializer_list<DWORD> notifications,
                DWORD dwExpectedControl) {
    SetLogging(state.range(0) != 0);
    for (auto _ : state) {
        request.Restart();
        for (DWORD dwType : notifications)
            benchmark::DoNotOptimize(request.Notify(dwType));
    }
    SetLogging(false);
    if (request.Context().m_dwControlMessage != dwExpectedControl)
        state.SkipWithError("the request did not end as expected");
}

void BM_BaseRequestAnswered(benchmark::State& state) {
    CBenchRequest request(ST_OWA_FOLDER, "/owa/", "");
    // END_OF_REQUEST frees the worker context that AUTH_COMPLETE attached; it leaves "Completed".
    RunRequest(state, request, {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE, SF_NOTIFY_END_OF_REQUEST},
               CM_COMPLETED);
}
BENCHMARK(BM_BaseRequestAnswered)->ArgName("log")->Arg(0)->Arg(1);

void BM_FollowedPageFourNotifications(benchmark::State& state) {
    CBenchRequest request(ST_MODURL, "/owa/", "modurl=0");
    RunRequest(state, request,
               {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE, SF_NOTIFY_SEND_RESPONSE,
                SF_NOTIFY_END_OF_REQUEST},
               CM_NONE);
}
BENCHMARK(BM_FollowedPageFourNotifications)->ArgName("log")->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    CTempInstallation installation;
    if (!installation.CopySampleInstallation())
        return 1;
    installation.PointProcessHere();
    HTTP_FILTER_VERSION version{};
    version.dwServerFilterVersion = 0x60000;
    if (!GetFilterVersion(&version))
        return 1;
    // The shared-memory log of the logging-on runs lives in a folder of this run.
    const std::string csFolder = "/tmp/wk_bench_guard_" + std::to_string(::getpid());
    std::filesystem::create_directories(csFolder);
    SetLogPath(csFolder + "/WKBenchGuard.log");
    benchmark::RunSpecifiedBenchmarks();
    TerminateFilter(0);
    installation.StopPointing();
    std::error_code ec;
    std::filesystem::remove_all(csFolder, ec);
    benchmark::Shutdown();
    return 0;
}
