// The whole browser screening of one request (client flags, the browser behind the user agent, the allow
// list, a blocked list of 20 wildcard patterns and its exceptions) with the settings of a real installation
// and logging off, over the user agents of the test corpus. Beside it, one std::regex_search of the blocked
// list written as a single case-insensitive ECMAScript alternation over the same agents.

#include "filter/EntryPoints.h"
#include "log/Log.h"
#include "request/SettingsSingleton.h"
#include "screening/CPreProcHeadersHelper.h"
#include "tests/TableFile.h"
#include "tests/settings/SettingsTestSupport.h"
#include "text/CWildCharParser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

// Patterns administrators write for clients they do not want on webmail: robots, scripts, old or small-screen
// browsers.
const char* const BLOCKED_PATTERNS[] = {
    "*Opera*",
    "*Konqueror*",
    "Mozilla/4.0 (compatible; MSIE 4.?*",
    "*Lynx*",
    "*Wget*",
    "*curl/*",
    "*Googlebot*",
    "*bingbot*",
    "*Java/1.?*",
    "*python-requests*",
    "*libwww-perl*",
    "*NetFront*",
    "*BlackBerry*",
    "*SymbianOS*",
    "*Windows CE*",
    "*Nintendo*",
    "*PlayStation*",
    "Mozilla/3.0*",
    "*MSIE 5.0?;*",
    "*Trident/?.0*Touch*",
};
const char* const EXCEPTION_PATTERNS = "*Opera/9.80*Version/12.1?*|*BlackBerry9700*|*MSIE 6.0*owaauth*";

std::string Joined(const char* pszSeparator) {
    std::string cs;
    for (const char* psz : BLOCKED_PATTERNS)
        cs += (cs.empty() ? "" : pszSeparator) + std::string(psz);
    return cs;
}

// "*" any run, "?" one character, everything else literal; anchored at both ends like the wildcard lists.
std::string AsRegex(const std::string& csPattern) {
    std::string cs;
    for (char ch : csPattern) {
        if (ch == '*')
            cs += ".*";
        else if (ch == '?')
            cs += '.';
        else if (std::string_view("\\^$.|+()[]{}").find(ch) != std::string_view::npos)
            cs += std::string("\\") + ch;
        else
            cs += ch;
    }
    return cs;
}

std::vector<CaselessString> UserAgents() {
    std::vector<CaselessString> vAgents;
    for (const tabletest::TRow& row : tabletest::ReadTable("screening/user-agents.txt"))
        vAgents.push_back(ToCaseless(tabletest::Bytes(row.at(1))));
    return vAgents;
}

// The sample installation with the lists above, started the way the host starts the module.
class CScreeningInstallation {
public:
    CScreeningInstallation() {
        m_bReady = m_installation.CopySampleInstallation() &&
                   SetInstallationSetting(m_installation, 113, Joined("|").c_str()) &&
                   SetInstallationSetting(m_installation, 114, EXCEPTION_PATTERNS);
        if (!m_bReady)
            return;
        m_installation.PointProcessHere();
        HTTP_FILTER_VERSION version{};
        version.dwServerFilterVersion = WK_FILTER_VERSION;
        m_bReady = GetFilterVersion(&version) && GetLogLevel() == LOG_LEVEL_OFF &&
                   GetGeneralSettingsInstance()->GetBlockedBrowsers() == Joined("|");
    }
    ~CScreeningInstallation() {
        if (m_bReady)
            TerminateFilter(0);
    }
    bool IsReady() const { return m_bReady; }

private:
    CTempInstallation m_installation;
    bool m_bReady = false;
};

void BM_ScreenOneRequest(benchmark::State& state) {
    static const CScreeningInstallation s_installation;
    const std::vector<CaselessString> vAgents = UserAgents();
    if (!s_installation.IsReady() || vAgents.size() < 2) {
        state.SkipWithError("the installation did not start, or the user-agent corpus is missing");
        return;
    }
    CDLLContext context;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    size_t nAgent = 0, cBlocked = 0;
    for (auto _ : state) {
        context.m_dwClientFlags = 0;
        DWORD dwBlock = 0;
        benchmark::DoNotOptimize(CPreProcHeadersHelper::SetClientFlags_BlockBrowserIfNecessary(
            &context, vAgents[nAgent], dwBlock));
        cBlocked += dwBlock;
        nAgent = nAgent + 1 == vAgents.size() ? 0 : nAgent + 1;
    }
    state.counters["blocked_share"] = static_cast<double>(cBlocked) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ScreenOneRequest);

void BM_BaselineOneRegexSearch(benchmark::State& state) {
    std::string csAlternation;
    for (const char* psz : BLOCKED_PATTERNS)
        csAlternation += (csAlternation.empty() ? "" : "|") + AsRegex(psz);
    const std::regex re("^(?:" + csAlternation + ")$", std::regex::ECMAScript | std::regex::icase);
    std::vector<std::string> vAgents;
    for (const CaselessString& csAgent : UserAgents())
        vAgents.push_back(ToPlain(csAgent));
    if (vAgents.size() < 2) {
        state.SkipWithError("the user-agent corpus is missing");
        return;
    }
    // The two lists should refuse the same agents; the count shows where their semantics part on this corpus.
    size_t cDisagreeing = 0;
    for (const std::string& csAgent : vAgents)
        cDisagreeing += std::regex_search(csAgent, re) != (MatchWildcardList(csAgent, Joined("|")) != 0);
    state.counters["agents_disagreeing"] = static_cast<double>(cDisagreeing);
    size_t nAgent = 0, cMatched = 0;
    for (auto _ : state) {
        cMatched += std::regex_search(vAgents[nAgent], re) ? 1 : 0;
        nAgent = nAgent + 1 == vAgents.size() ? 0 : nAgent + 1;
    }
    state.counters["blocked_share"] = static_cast<double>(cMatched) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BaselineOneRegexSearch);

} // namespace

BENCHMARK_MAIN();
