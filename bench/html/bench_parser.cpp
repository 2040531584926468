// The page parser on generated webmail-like pages of 100 KB, 300 KB and 1 MB, beside libxml2's HTML push
// parser (start-element callbacks only), gumbo's full parse, and a bare memchr('<') pass as the floor.
//
// "Ours" is the work a page form does through the document facade: find the template comment, the html, head
// and body elements, the SCRIPT and LINK start tags of the head with their src and href values, then record
// two appends (before </head>, before </body>) and one attribute insert. Before timing anything the program
// checks that the head and body start positions it finds are the ones gumbo finds, on every page.
#include "abi/HostAbi.h"
#include "html/CBufferInstruction.h"
#include "html/CDOMSource.h"

#include <benchmark/benchmark.h>
#include <gumbo.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Pages

const size_t g_rgPageSizes[] = {100 * 1024, 300 * 1024, 1024 * 1024};

std::string MakeHead(std::mt19937& rng) {
    std::string cs;
    cs += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n";
    cs += "<!-- OwaPage = ASP.templates_premium_startpage_aspx -->\r\n";
    cs += "<html dir=\"ltr\">\r\n<head>\r\n";
    cs += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n";
    cs += "<meta name=\"Robots\" content=\"NOINDEX, NOFOLLOW\">\r\n<title>Outlook Web Access</title>\r\n";
    for (int i = 0; i < 24; ++i) {
        cs += "<link type=\"text/css\" rel=\"stylesheet\" href=\"8.3.83/themes/base/premium" +
              std::to_string(i) + ".css\">\r\n";
        if (i % 6 == 0)
            cs += "<!-- theme part " + std::to_string(i) + " -->\r\n";
    }
    for (int i = 0; i < 40; ++i) {
        cs += "<script type=\"text/javascript\" src=\"8.3.83/scripts/premium/uglobal" + std::to_string(i) +
              ".js\"></script>\r\n";
        if (i % 8 == 3) {
            cs += "<script type=\"text/javascript\">\r\nvar a_sUrl = \"?ae=Folder&t=IPF.Note&id=";
            for (int k = 0; k < 48; ++k)
                cs.push_back(static_cast<char>('A' + rng() % 26));
            cs += "\";\r\nfunction chk(n) { if (n < 3 && n > 0) { return \"<b>\" + n + \"</b>\"; } return "
                  "\"\"; "
                  "}\r\nvar g_fRtl = 0, g_iCnt = " +
                  std::to_string(rng() % 1000) + ";\r\n</script>\r\n";
        }
    }
    cs += "<style type=\"text/css\">\r\n.lnkBar { color: #3a5e8c; }\r\n</style>\r\n";
    cs += "</head>\r\n";
    return cs;
}

// One message-list row block: nested divs, a table with spans and links, the odd comment and inline script.
void AppendBodyBlock(std::string& cs, std::mt19937& rng, int nBlock) {
    const std::string csId = std::to_string(nBlock);
    cs += "<div class=\"lvRow\" id=\"row" + csId + "\" style=\"height:22px\" onclick=\"sel(this)\">\r\n";
    cs += "<div class=\"lvCell\"><table cellpadding=0 cellspacing=0 class=\"lvTbl\" width=\"100%\"><tr>";
    cs += "<td class=\"ic\" nowrap><img src=\"8.3.83/themes/base/msg-" + std::to_string(rng() % 5) +
          ".gif\" alt=\"\"></td>";
    cs +=
        "<td class=\"frm\"><span class=\"nm\" title=\"Sender " + csId + "\">Sender " + csId + "</span></td>";
    cs += "<td class=\"sbj\"><a href=\"?ae=Item&t=IPM.Note&id=RgAAAA" + csId + "\" target=\"_blank\">";
    cs += "<span>Re: quarterly figures &amp; plans " + std::to_string(rng() % 100000) + "</span></a></td>";
    cs += "<td class=\"dt\" nowrap><span>" + std::to_string(1 + rng() % 28) + "/11/2026</span></td>";
    cs += "</tr></table></div>\r\n";
    if (nBlock % 7 == 0)
        cs += "<!-- row separator " + csId + " <div> hidden </div> -->\r\n";
    if (nBlock % 11 == 5)
        cs += "<script type=\"text/javascript\">rw[" + csId +
              "] = { u: \"<i>\", s: " + std::to_string(rng() % 9) + " < 5 };</script>\r\n";
    cs += "<div class=\"pv\"><p>Preview text of message " + csId + "<br>second line</p></div>\r\n</div>\r\n";
}

std::string MakePage(size_t nSize) {
    std::mt19937 rng(static_cast<unsigned>(nSize));
    std::string cs = MakeHead(rng);
    cs += "<body class=\"owaBdy\" onload=\"init()\" scroll=\"no\">\r\n<div id=\"divMain\">\r\n";
    const std::string csTail = "</div>\r\n</body>\r\n</html>\r\n";
    for (int nBlock = 0; cs.size() + csTail.size() < nSize; ++nBlock)
        AppendBodyBlock(cs, rng, nBlock);
    cs += csTail;
    return cs;
}

const std::string& Page(size_t nIndex) {
    static std::vector<std::string> s_vPages = [] {
        std::vector<std::string> v;
        for (size_t nSize : g_rgPageSizes)
            v.push_back(MakePage(nSize));
        return v;
    }();
    return s_vPages[nIndex];
}

// ---------------------------------------------------------------------------------------------------------------
// Ours

struct COursResult {
    TPos nTemplate = INVALID_POS;
    TPos nHead = INVALID_POS;
    TPos nBody = INVALID_POS;
    size_t nScripts = 0;
    size_t nLinks = 0;
    uint64_t nInstructions = 0;
    size_t nValueBytes = 0;
};

COursResult RunOurs(const std::string& csPage) {
    COursResult result;
    CCommonPointers pointers;
    pointers.m_pDataBegin = csPage.data();
    pointers.m_pDataLast = csPage.data() + csPage.size() - 1;
    CDOMSource source(pointers);
    if (source.isUndefined())
        return result;
    result.nTemplate = source.scanForString("OwaPage = ASP.templates_premium", source.getBeginPos());
    CDOMElement html = source.getHtml();
    CDOMElement head = source.getHead();
    CDOMElement body = source.getBody();
    if (html.isUndefined() || head.isUndefined() || body.isUndefined())
        return result;
    result.nHead = head.getBeginPos();
    result.nBody = body.getBeginPos();
    CDOMStartTagVector scripts = head.getStartTagsByTagName("script");
    CDOMStartTagVector links = head.getStartTagsByTagName("link");
    result.nScripts = scripts.size();
    result.nLinks = links.size();
    for (size_t i = 0; i < scripts.size(); ++i) {
        CDOMAttribute src = scripts.at(i).getAttribute("src");
        if (!src.isUndefined())
            result.nValueBytes += src.getValue().size();
    }
    CDOMAttribute firstHref;
    for (size_t i = 0; i < links.size(); ++i) {
        CDOMAttribute href = links.at(i).getAttribute("href");
        if (href.isUndefined())
            continue;
        result.nValueBytes += href.getValue().size();
        if (firstHref.isUndefined())
            firstHref = href;
    }
    CBufferInstructionList list;
    head.appendContentData("<script type=\"text/javascript\" src=\"/guard/1.2/guard.js\"></script>", &list);
    body.appendContentData("<div id=\"divGuardWarn\" style=\"display:none\"></div>", &list);
    if (!firstHref.isUndefined())
        firstHref.insertValueData(0, "/guard/", &list);
    result.nInstructions = list.Count();
    return result;
}

// Not what a form does, but what the finders cost over a whole page: every element of the page, with its
// children, found through the tag finders (with the tag cache, or with the source's own memos only).
size_t RunOursFullParse(const std::string& csPage, bool bCache) {
    std::unique_ptr<CSource> pSource = CSource::CREATE_NEW_INST(csPage.data(), 0, csPage.size());
    if (!pSource)
        return 0;
    if (!bCache)
        pSource->setCache(nullptr);
    std::vector<CElement*> vStack(pSource->getChildElements().begin(), pSource->getChildElements().end());
    size_t nElements = 0;
    while (!vStack.empty()) {
        CElement* pElement = vStack.back();
        vStack.pop_back();
        ++nElements;
        for (CElement* pChild : pElement->getChildElements())
            vStack.push_back(pChild);
    }
    return nElements;
}

// The fuzzer's worst case grown to size: nested divs of which about three in four are closed, with a comment
// left open among the start tags, so that most end tags lie hidden in it and every unclosed div searches past
// them.
std::string MakeHalfClosedDivPage(size_t nDivs) {
    std::string cs = "<html><head><script src=1></script></head><body>";
    for (size_t i = 0; i < nDivs; ++i) {
        if (i == nDivs * 88 / 100)
            cs += "<!-- OwaPage = a -->\n<!-- owapage = b>";
        cs += "<div>";
    }
    for (size_t i = 0; i < nDivs * 70 / 100; ++i)
        cs += "</div>";
    cs += "c -->";
    for (size_t i = 0; i < nDivs * 3 / 100; ++i)
        cs += "</div>";
    return cs;
}

const size_t g_rgHalfClosedDivs[] = {10000, 50000, 100000};

// What a form asks first on such a page: head, body and the body's children, from a fresh source.
size_t RunOursHalfClosed(const std::string& csPage) {
    CCommonPointers pointers;
    pointers.m_pDataBegin = csPage.data();
    pointers.m_pDataLast = csPage.data() + csPage.size() - 1;
    CDOMSource source(pointers);
    CDOMElement head = source.getHead();
    CDOMElement body = source.getBody();
    if (head.isUndefined() || body.isUndefined())
        return 0;
    return body.getParserElement()->getChildElements().size();
}

// ---------------------------------------------------------------------------------------------------------------
// Peers

void IgnoreXmlError(void*, const char*, ...) {}

struct CXmlCount {
    size_t nElements = 0;
};

void XmlStartElement(void* pContext, const xmlChar*, const xmlChar**) {
    ++static_cast<CXmlCount*>(pContext)->nElements;
}

size_t RunLibXml2(const std::string& csPage) {
    htmlSAXHandler sax;
    std::memset(&sax, 0, sizeof(sax));
    sax.startElement = &XmlStartElement;
    sax.error = &IgnoreXmlError;
    sax.warning = &IgnoreXmlError;
    CXmlCount count;
    htmlParserCtxtPtr pContext =
        htmlCreatePushParserCtxt(&sax, &count, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
    if (!pContext)
        return 0;
    htmlCtxtUseOptions(pContext, HTML_PARSE_NONET | HTML_PARSE_NOBLANKS);
    htmlParseChunk(pContext, csPage.data(), static_cast<int>(csPage.size()), 0);
    htmlParseChunk(pContext, nullptr, 0, 1);
    htmlFreeParserCtxt(pContext);
    return count.nElements;
}

// The first element with the tag at or below the node, depth first.
const GumboNode* FindGumboElement(const GumboNode* pNode, GumboTag eTag) {
    if (pNode->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    if (pNode->v.element.tag == eTag)
        return pNode;
    const GumboVector& children = pNode->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        if (const GumboNode* pFound = FindGumboElement(static_cast<const GumboNode*>(children.data[i]), eTag))
            return pFound;
    return nullptr;
}

size_t CountLessThan(const std::string& csPage) {
    size_t n = 0;
    const char* p = csPage.data();
    const char* pEnd = p + csPage.size();
    while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(pEnd - p)))) != nullptr) {
        ++n;
        ++p;
    }
    return n;
}

// ---------------------------------------------------------------------------------------------------------------
// Gate: ours and gumbo agree on where head and body start.

bool CheckAgainstGumbo() {
    bool bOk = true;
    for (size_t i = 0; i < std::size(g_rgPageSizes); ++i) {
        const std::string& csPage = Page(i);
        COursResult ours = RunOurs(csPage);
        GumboOutput* pOutput = gumbo_parse_with_options(&kGumboDefaultOptions, csPage.data(), csPage.size());
        const GumboNode* pHead = FindGumboElement(pOutput->root, GUMBO_TAG_HEAD);
        const GumboNode* pBody = FindGumboElement(pOutput->root, GUMBO_TAG_BODY);
        auto offset = [&](const GumboNode* pNode) {
            return pNode && pNode->v.element.original_tag.data
                       ? static_cast<TPos>(pNode->v.element.original_tag.data - csPage.data())
                       : INVALID_POS;
        };
        TPos nGumboHead = offset(pHead);
        TPos nGumboBody = offset(pBody);
        gumbo_destroy_output(&kGumboDefaultOptions, pOutput);
        if (ours.nHead != nGumboHead || ours.nBody != nGumboBody || ours.nHead == INVALID_POS) {
            std::fprintf(
                stderr,
                "page %zu (%zu bytes): head at %lld (gumbo %lld), body at %lld (gumbo %lld): MISMATCH\n", i,
                csPage.size(), static_cast<long long>(ours.nHead), static_cast<long long>(nGumboHead),
                static_cast<long long>(ours.nBody), static_cast<long long>(nGumboBody));
            bOk = false;
        }
        if (ours.nTemplate == INVALID_POS || ours.nScripts != 45 || ours.nLinks != 24 ||
            ours.nInstructions != 3) {
            std::fprintf(
                stderr, "page %zu: template at %lld, %zu scripts, %zu links, %llu instructions: unexpected\n",
                i, static_cast<long long>(ours.nTemplate), ours.nScripts, ours.nLinks,
                static_cast<unsigned long long>(ours.nInstructions));
            bOk = false;
        }
    }
    return bOk;
}

// ---------------------------------------------------------------------------------------------------------------
// Benchmarks; the argument is the page index.

void SetBytes(benchmark::State& state, const std::string& csPage) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(csPage.size()));
    state.SetLabel(std::to_string(csPage.size() / 1024) + " KB");
}

void BM_Ours(benchmark::State& state) {
    const std::string& csPage = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RunOurs(csPage));
    SetBytes(state, csPage);
}

void BM_OursFullParse(benchmark::State& state) {
    const std::string& csPage = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RunOursFullParse(csPage, true));
    SetBytes(state, csPage);
}

void BM_OursFullParseNoCache(benchmark::State& state) {
    const std::string& csPage = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RunOursFullParse(csPage, false));
    SetBytes(state, csPage);
}

void BM_LibXml2Sax(benchmark::State& state) {
    const std::string& csPage = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RunLibXml2(csPage));
    SetBytes(state, csPage);
}

void BM_Gumbo(benchmark::State& state) {
    const std::string& csPage = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        GumboOutput* pOutput = gumbo_parse_with_options(&kGumboDefaultOptions, csPage.data(), csPage.size());
        benchmark::DoNotOptimize(pOutput);
        gumbo_destroy_output(&kGumboDefaultOptions, pOutput);
    }
    SetBytes(state, csPage);
}

void BM_MemchrFloor(benchmark::State& state) {
    const std::string& csPage = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(CountLessThan(csPage));
    SetBytes(state, csPage);
}

void BM_OursHalfClosedDivs(benchmark::State& state) {
    const size_t nDivs = g_rgHalfClosedDivs[static_cast<size_t>(state.range(0))];
    const std::string csPage = MakeHalfClosedDivPage(nDivs);
    for (auto _ : state)
        benchmark::DoNotOptimize(RunOursHalfClosed(csPage));
    SetBytes(state, csPage);
    state.SetLabel(std::to_string(nDivs / 1000) + "k divs");
}

BENCHMARK(BM_Ours)->DenseRange(0, 2);
BENCHMARK(BM_OursHalfClosedDivs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursFullParse)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursFullParseNoCache)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibXml2Sax)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gumbo)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemchrFloor)->DenseRange(0, 2);

class CRatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> m_mapRates;
    void ReportRuns(const std::vector<Run>& vRuns) override {
        for (const Run& run : vRuns) {
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
                m_mapRates[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(vRuns);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    xmlSetGenericErrorFunc(nullptr, &IgnoreXmlError);
    if (!CheckAgainstGumbo()) {
        std::fprintf(stderr, "bench_parser: our head/body positions differ from gumbo's; not timing.\n");
        return 1;
    }
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (size_t i = 0; i < std::size(g_rgPageSizes); ++i) {
        const std::string csArg = "/" + std::to_string(i);
        for (const char* pszOurs : {"BM_Ours", "BM_OursFullParse", "BM_OursFullParseNoCache"}) {
            double dOurs = reporter.m_mapRates[pszOurs + csArg];
            if (dOurs <= 0)
                continue;
            std::printf("%4zu KB page: %s %.1f MB/s", Page(i).size() / 1024, pszOurs + 3, dOurs / 1e6);
            for (const char* pszPeer : {"BM_LibXml2Sax", "BM_Gumbo", "BM_MemchrFloor"}) {
                double dPeer = reporter.m_mapRates[pszPeer + csArg];
                if (dPeer > 0)
                    std::printf(", /%s %.2f", pszPeer + 3, dOurs / dPeer);
            }
            std::printf("\n");
        }
    }
    benchmark::Shutdown();
    return 0;
}
