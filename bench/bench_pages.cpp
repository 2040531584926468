// Baselines for the page rewrite: what reading a whole webmail page costs other parsers, and a bare memchr
// pass, over the premium start page sample padded with message-list rows to 100 KB, 300 KB and 1 MB, beside
// the module's SEND_RAW_DATA notification on the same bytes (alone, and as part of a whole request).

#ifdef WK_WITH_MODULE
#include "host/common/NotificationDriver.h"
#include "host/testing/TestHost.h"
#include "html/CBufferInstruction.h"
#include "text/CaselessString.h"
#endif

#include <benchmark/benchmark.h>
#include <gumbo.h>
#include <libxml/HTMLparser.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The sample page with message-list rows added before the end of its list until it has cbSize bytes.
std::string PaddedPage(size_t cbSize) {
    std::ifstream in(WK_PAGES_DIR "/premium-startpage.utf-8.html", std::ios::binary);
    std::string csPage((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t nListEnd = csPage.find("\t</table>");
    if (csPage.empty() || nListEnd == std::string::npos)
        throw std::runtime_error("the premium start page sample is missing or has no message list");
    std::string csRows;
    for (unsigned n = 0; csPage.size() + csRows.size() < cbSize; ++n) {
        char szRow[512];
        std::snprintf(
            szRow, sizeof(szRow),
            "\t<tr class=\"lvRw\" id=\"r%u\"><td class=\"ic\"><img src=\"/owa/8.1.240.5/themes/base/"
            "msg-rd.gif\"></td><td class=\"frm\">Sender %u</td><td class=\"sbj\">Re: quarterly "
            "figures &amp; plans (%u)</td><td class=\"dt\">%02u:%02u</td></tr>\r\n",
            n, n % 97, n, n % 24, n % 60);
        csRows += szRow;
    }
    csPage.insert(nListEnd, csRows);
    return csPage;
}

// Size 0 is the sample page as it is (1.5 KB), as the demo site serves it.
const std::string& Page(int64_t cbSize) {
    static std::string s_aPages[4] = {PaddedPage(0), PaddedPage(100 << 10), PaddedPage(300 << 10),
                                      PaddedPage(1 << 20)};
    return cbSize == 0             ? s_aPages[0]
           : cbSize <= (100 << 10) ? s_aPages[1]
           : cbSize <= (300 << 10) ? s_aPages[2]
                                   : s_aPages[3];
}

void CountElement(void* pContext, const xmlChar*, const xmlChar**) {
    ++*static_cast<size_t*>(pContext);
}

void BM_Libxml2SaxPush(benchmark::State& state) {
    const std::string& csPage = Page(state.range(0));
    htmlSAXHandler sax;
    std::memset(&sax, 0, sizeof(sax));
    sax.startElement = &CountElement;
    size_t nElements = 0;
    for (auto _ : state) {
        nElements = 0;
        htmlParserCtxtPtr pContext =
            htmlCreatePushParserCtxt(&sax, &nElements, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
        htmlCtxtUseOptions(pContext, HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
        htmlParseChunk(pContext, csPage.data(), static_cast<int>(csPage.size()), 0);
        htmlParseChunk(pContext, nullptr, 0, 1);
        htmlFreeParserCtxt(pContext);
        benchmark::DoNotOptimize(nElements);
    }
    state.counters["elements"] = static_cast<double>(nElements);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * csPage.size()));
}

void BM_GumboFullParse(benchmark::State& state) {
    const std::string& csPage = Page(state.range(0));
    for (auto _ : state) {
        GumboOutput* pOutput = gumbo_parse_with_options(&kGumboDefaultOptions, csPage.data(), csPage.size());
        benchmark::DoNotOptimize(pOutput->root);
        gumbo_destroy_output(&kGumboDefaultOptions, pOutput);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * csPage.size()));
}

void BM_MemchrTagStarts(benchmark::State& state) {
    const std::string& csPage = Page(state.range(0));
    size_t nTags = 0;
    for (auto _ : state) {
        nTags = 0;
        const char* p = csPage.data();
        const char* pEnd = p + csPage.size();
        while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(pEnd - p)))) !=
               nullptr) {
            ++nTags;
            ++p;
        }
        benchmark::DoNotOptimize(nTags);
    }
    state.counters["tags"] = static_cast<double>(nTags);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * csPage.size()));
}

#ifdef WK_WITH_MODULE
// The module on the same bytes: a whole show-warning request of a premium client for the start page, through
// the test host against the linked core, with logging off. The same request without a body runs beside it,
// so the difference is what the page costs: SEND_RAW_DATA (template scan, form, instructions, submit) and
// the host's own copy and application of the edits.
// The host session alone: the test host would capture the log, which switches writing on.
CHostSession& Session() {
    static CHostSession s_host(CTestHost::LinkedEntryPoints());
    return s_host;
}

bool ModuleStarted() {
    static CTempInstallation s_installation;
    static const bool s_bStarted = s_installation.CopySampleInstallation() &&
                                   (s_installation.PointProcessHere(), Session().GetFilterVersion() == TRUE);
    return s_bStarted;
}

CHostRequest PremiumRequest() {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "jane";
    spIdentity->csDomain = "EXAMPLE";
    spIdentity->vUserSid = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,   0, 1, 0,
                            0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 233, 3, 0, 0};
    CHostRequest request;
    request.Url("/owa/?bkwksubfr=2").SubscriptionType(ST_SUBFRAME_REQUEST).AcceptLanguage("de");
    request.UserAgent("Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0)").Identity(spIdentity);
    request.ServerVariable("HEADER_BK_CSMPREFIX", "/bkcsm/v1");
    return request;
}

void RunModule(benchmark::State& state, bool bWithPage) {
    const std::string& csPage = Page(state.range(0));
    if (!ModuleStarted()) {
        state.SkipWithError("the sample installation did not start");
        return;
    }
    CHostRequest request = PremiumRequest();
    if (bWithPage)
        request.ResponseBody(csPage);
    for (auto _ : state) {
        const CHostRunRecord record = Session().Run(request);
        benchmark::DoNotOptimize(record.m_vNotifications.size());
    }
    if (bWithPage) {
        const CHostRunRecord record = Session().Run(request);
        const CHostNotificationRecord* pRaw = record.Find(SF_NOTIFY_SEND_RAW_DATA);
        state.counters["edited"] = pRaw && !pRaw->m_vBufferSubmissions.empty() ? 1 : 0;
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * csPage.size()));
    }
}

// The least a host does for a request: answers from the request's values, takes every change and the
// instructions without recording or applying anything.
class CBareSite : public IHostRequestSite {
public:
    explicit CBareSite(const CHostRequest& request)
        : m_vHeaders(request.BuildHeaders()), m_mapVariables(request.BuildServerVariables()),
          m_csUrl(request.GetUrl()) {}
    CSiteValue GetHeader(DWORD, std::string_view svName, bool) override {
        if (EqualsCaseless(std::string(svName), "url"))
            return CSiteValue::Of(m_csUrl);
        for (const auto& [csName, csValue] : m_vHeaders)
            if (EqualsCaseless(csName, std::string(svName)))
                return CSiteValue::Of(csValue);
        return CSiteValue::Absent();
    }
    DWORD SetHeader(DWORD, std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    DWORD AddHeader(DWORD, std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    CSiteValue GetServerVariable(std::string_view svName, bool) override {
        auto it = m_mapVariables.find(std::string(svName));
        return it == m_mapVariables.end() ? CSiteValue::Absent() : CSiteValue::Of(it->second);
    }
    DWORD SendResponseHeader(std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    DWORD SendResponse(std::string_view) override { return ERROR_SUCCESS; }
    DWORD SubmitBufferCommands(const CBufferInstructionList* pList) override {
        m_qwInstructions = pList ? pList->Count() : 0;
        return ERROR_SUCCESS;
    }
    void* AllocMem(DWORD cbSize) override {
        m_vAllocations.push_back(std::make_unique<char[]>(cbSize ? cbSize : 1));
        return m_vAllocations.back().get();
    }
    uint64_t m_qwInstructions = 0;

private:
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::map<std::string, std::string, CCaselessLess> m_mapVariables;
    std::string m_csUrl;
    std::vector<std::unique_ptr<char[]>> m_vAllocations;
};

// SEND_RAW_DATA alone (template scan, form, instructions, submit), sent again and again within one request
// that the module follows: the notifications before it run once, outside the timing.
void BM_ModuleSendRawDataAlone(benchmark::State& state) {
    const std::string& csPage = Page(state.range(0));
    if (!ModuleStarted()) {
        state.SkipWithError("the sample installation did not start");
        return;
    }
    const CHostRequest request = PremiumRequest();
    CBareSite site(request);
    CDriverSetup setup;
    setup.m_dwSubscriptionType = request.GetSubscriptionType();
    setup.m_spIdentity = request.GetIdentity();
    setup.m_spRequestInfo = request.BuildRequestInfo();
    setup.m_spExchangeURL = request.BuildExchangeURL();
    CNotificationDriver driver(CTestHost::LinkedEntryPoints().pfnHttpFilterProc, site, setup);
    driver.Send(SF_NOTIFY_PREPROC_HEADERS, 0);
    driver.Send(SF_NOTIFY_AUTH_COMPLETE, 0);
    driver.Send(SF_NOTIFY_SEND_RESPONSE, 200);
    for (auto _ : state)
        if (!driver.SendRawData(csPage, 200)) {
            state.SkipWithError(("the module let go of the request: " + driver.StopReason()).c_str());
            break;
        }
    state.counters["instructions"] = static_cast<double>(site.m_qwInstructions);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * csPage.size()));
    driver.EndOfRequest(200);
}

// One whole request as a server host drives it: a new driver over a bare site per request, every
// notification the module registered, a Firefox client. Arg 0: a style sheet (no page); 1: the 1.5 KB start
// page. This is the module's share of a request in the Apache load test, without Apache.
void BM_ModuleBareRequest(benchmark::State& state) {
    if (!ModuleStarted()) {
        state.SkipWithError("the sample installation did not start");
        return;
    }
    const bool bPage = state.range(0) != 0;
    CHostRequest request = PremiumRequest();
    request.UserAgent("Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:128.0) Gecko/20100101 Firefox/128.0");
    if (!bPage)
        request.Url("/owa/8.1.240.5/themes/base/owafont.css").SubscriptionType(ST_OWA_FOLDER);
    CBareSite site(request);
    CDriverSetup setup;
    setup.m_dwSubscriptionType = request.GetSubscriptionType();
    setup.m_spIdentity = request.GetIdentity();
    for (auto _ : state) {
        setup.m_spRequestInfo = request.BuildRequestInfo();
        setup.m_spExchangeURL = request.BuildExchangeURL();
        CNotificationDriver driver(CTestHost::LinkedEntryPoints().pfnHttpFilterProc, site, setup);
        driver.Send(SF_NOTIFY_PREPROC_HEADERS, 0);
        driver.Send(SF_NOTIFY_AUTHENTICATION, 0);
        driver.Send(SF_NOTIFY_AUTH_COMPLETE, 0);
        driver.Send(SF_NOTIFY_SEND_RESPONSE, 200);
        if (bPage)
            driver.SendRawData(Page(0), 200);
        driver.EndOfRequest(200);
    }
    state.counters["instructions"] = static_cast<double>(site.m_qwInstructions);
}

void BM_ModuleRequestWithThePage(benchmark::State& state) {
    RunModule(state, true);
}
void BM_ModuleRequestWithoutAPage(benchmark::State& state) {
    RunModule(state, false);
}
#endif

#define WK_PAGE_SIZES ->Arg(100 << 10)->Arg(300 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Libxml2SaxPush) WK_PAGE_SIZES;
BENCHMARK(BM_GumboFullParse) WK_PAGE_SIZES;
BENCHMARK(BM_MemchrTagStarts) WK_PAGE_SIZES;
#ifdef WK_WITH_MODULE
BENCHMARK(BM_ModuleSendRawDataAlone)->Arg(0) WK_PAGE_SIZES;
BENCHMARK(BM_ModuleRequestWithThePage) WK_PAGE_SIZES;
BENCHMARK(BM_ModuleRequestWithoutAPage)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModuleBareRequest)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
#endif

} // namespace

BENCHMARK_MAIN();
