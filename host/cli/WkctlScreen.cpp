#include "host/cli/WkctlScreen.h"

#include "host/cli/Wkctl.h"
#include "host/cli/WkctlOptions.h"
#include "host/common/HostSession.h"
#include "host/common/JsonWriter.h"
#include "platform/posix/PosixSysLog.h"
#include "screening/CBrowser.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

// The cached-script prefix the host hands the module: without one it cannot build the redirect's address,
// and a blocked browser would look like a failed request instead.
const char CSM_PREFIX[] = "wkctl/";

struct CScreenResult {
    bool m_bBrowser = false;
    std::string m_csName, m_csVersion, m_csPlatform;
    DWORD m_dwClientFlags = 0;
    bool m_bBlocked = false;
};

struct CScreenCounts {
    size_t m_nAllowed = 0, m_nBlocked = 0, m_nUnknown = 0;
};

// The browser as the module's parser names it; none also when parsing ran out of memory.
void IdentifyBrowser(const std::string& csUserAgent, CScreenResult& result) {
    try {
        CBrowserPtr spBrowser;
        if (!CBrowser::CreateBrowser(csUserAgent, spBrowser) || !spBrowser)
            return;
        result.m_csName = ToPlain(spBrowser->GetBrowserName());
        result.m_csVersion = ToPlain(spBrowser->GetBrowserVersion());
        result.m_csPlatform = ToPlain(spBrowser->GetPlatform());
        result.m_bBrowser = true;
    } catch (const std::exception&) {
        result.m_bBrowser = false;
    }
}

std::string BrowserText(const CScreenResult& result) {
    if (!result.m_bBrowser)
        return "no browser identified";
    std::string csText = ReadableText(result.m_csName);
    if (!result.m_csVersion.empty())
        csText += " " + ReadableText(result.m_csVersion);
    if (!result.m_csPlatform.empty())
        csText += " on " + ReadableText(result.m_csPlatform);
    return csText;
}

void PrintJson(std::ostream& out, const std::string& csUserAgent, const CScreenResult& result) {
    CJsonWriter json(false);
    json.BeginObject().Key("userAgent").String(csUserAgent).Key("browser");
    if (result.m_bBrowser)
        json.BeginObject()
            .Key("name")
            .String(result.m_csName)
            .Key("version")
            .String(result.m_csVersion)
            .Key("platform")
            .String(result.m_csPlatform)
            .EndObject();
    else
        json.Null();
    json.Key("clientFlags").Number(result.m_dwClientFlags).Key("blocked").Bool(result.m_bBlocked).EndObject();
    out << json.Text() << '\n';
}

void PrintText(std::ostream& out, const std::string& csUserAgent, const CScreenResult& result) {
    out << (result.m_bBlocked ? "blocked  " : "allowed  ") << BrowserText(result) << ", client flags "
        << HostHexText(result.m_dwClientFlags) << " (" << HostPolicyFlagsText(result.m_dwClientFlags)
        << "): " << ReadableText(csUserAgent) << '\n';
}

class CScreener {
public:
    CScreener(const CHostSession& session, const CWkctlOptions& options, std::ostream& out, std::ostream& err)
        : m_session(session), m_options(options), m_out(out), m_err(err) {}

    void Screen(const std::string& csUserAgent) {
        CHostRequest request;
        request.Method("GET")
            .Url("/owa/")
            .SubscriptionType(ST_OWA_FOLDER)
            .UserAgent(csUserAgent)
            .ServerVariable("HEADER_BK_CSMPREFIX", CSM_PREFIX);
        const CHostRunRecord record = m_session.Run(request);
        for (const std::string& csAnomaly : record.m_vAnomalies)
            m_err << "wkctl: " << ReadableText(csUserAgent) << ": " << ReadableText(csAnomaly) << '\n';
        const CHostScreening screening = CHostScreening::Of(record);
        CScreenResult result;
        result.m_dwClientFlags = screening.m_dwClientFlags & HOST_POLICY_CLIENT_FLAGS;
        result.m_bBlocked = screening.m_bRedirected;
        IdentifyBrowser(csUserAgent, result);
        ++(result.m_bBlocked ? m_counts.m_nBlocked : m_counts.m_nAllowed);
        m_counts.m_nUnknown += result.m_bBrowser ? 0 : 1;
        if (m_options.m_bJson)
            PrintJson(m_out, csUserAgent, result);
        else
            PrintText(m_out, csUserAgent, result);
    }

    // Every line; a CR before the line end belongs to the line end, and empty lines are no user agents.
    void ScreenLines(std::string_view svText) {
        while (!svText.empty()) {
            const size_t nEnd = std::min(svText.find('\n'), svText.size());
            std::string_view svLine = svText.substr(0, nEnd);
            svText.remove_prefix(std::min(nEnd + 1, svText.size()));
            if (!svLine.empty() && svLine.back() == '\r')
                svLine.remove_suffix(1);
            if (!svLine.empty())
                Screen(std::string(svLine));
        }
    }

    void PrintSummary() const {
        const size_t nTotal = m_counts.m_nAllowed + m_counts.m_nBlocked;
        (m_options.m_bJson ? m_err : m_out)
            << "Screened " << nTotal << " user agent(s): " << m_counts.m_nAllowed << " allowed, "
            << m_counts.m_nBlocked << " blocked, " << m_counts.m_nUnknown
            << " unknown (no browser identified)\n";
    }

private:
    const CHostSession& m_session;
    const CWkctlOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    CScreenCounts m_counts;
};

} // namespace

int RunWkctlScreen(const CWkctlOptions& options, std::ostream& out, std::ostream& err) {
    std::string csUserAgents, csError;
    if (!options.m_bUserAgent && !ReadWholeFile(options.m_csUserAgentsFile, csUserAgents, csError)) {
        err << "wkctl: cannot read the user-agent file '" << options.m_csUserAgentsFile << "': " << csError
            << '\n';
        return WKCTL_EXIT_USAGE;
    }
    // The module's start-up events belong in front of the administrator, as for a run.
    ::setenv(EVENTS_TO_STDERR_VARIABLE, "1", 1);
    const std::string csModule = options.ModulePath();
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(csModule, csError);
    if (!spModule) {
        err << "wkctl: " << csError << '\n';
        return WKCTL_EXIT_MODULE_FAILED;
    }
    CHostSession session(spModule->EntryPoints());
    if (!session.GetFilterVersion()) {
        spModule->Unload();
        err << "wkctl: GetFilterVersion returned 0: the module refused to start (see its event log and "
               "log)\n";
        return WKCTL_EXIT_MODULE_FAILED;
    }
    CScreener screener(session, options, out, err);
    if (options.m_bUserAgent)
        screener.Screen(options.m_csUserAgent);
    else
        screener.ScreenLines(csUserAgents);
    session.TerminateFilter(0);
    spModule->Unload();
    screener.PrintSummary();
    return WKCTL_EXIT_COMPLETED;
}
