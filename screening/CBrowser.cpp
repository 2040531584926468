#include "screening/CBrowser.h"

#include "platform/CPlatform.h"

namespace {

constexpr const char* NOT_MOZILLA = "Not Mozilla or different Mozilla version";

bool IsUsable(const CUserAgentPtr& spUserAgent) {
    return spUserAgent && spUserAgent->IsParsed();
}

CaselessString GetMsiePlatform(const CaselessString& csComment) {
    size_t nStart = csComment.find("Win");
    if (nStart == CaselessString::npos)
        nStart = csComment.find("Mac");
    if (nStart == CaselessString::npos)
        return CaselessString();
    const size_t nEnd = csComment.find(';', nStart);
    CaselessString csPlatform =
        csComment.substr(nStart, nEnd == CaselessString::npos ? CaselessString::npos : nEnd - nStart);
    const size_t nLast = csPlatform.find_last_not_of(' ');
    return nLast == CaselessString::npos ? CaselessString() : csPlatform.substr(0, nLast + 1);
}

bool NotMsie() {
    OutputDebugText("Not MSIE");
    return false;
}

// The MSIE version and platform, read only within the comment.
bool ReadMsie(CUserAgent& agent, CaselessString& csVersion, CaselessString& csPlatform) {
    const CaselessString& csVendor = agent.GetVendorProductToken();
    if (!csVendor.empty() && csVendor.find("Netscape/") == CaselessString::npos)
        return NotMsie();
    if (agent.GetProductToken().empty() || agent.GetComment().empty())
        return NotMsie();
    if (agent.GetProductName() != "Mozilla") {
        OutputDebugText(NOT_MOZILLA);
        return false;
    }
    const CaselessString& csComment = agent.GetComment();
    const CaselessString csMarker = " MSIE ";
    const size_t nMsie = csComment.find(csMarker);
    if (nMsie == CaselessString::npos)
        return NotMsie();
    const size_t nSemicolon = csComment.find(';', nMsie);
    if (nSemicolon == CaselessString::npos)
        return false;
    const size_t nVersion = nMsie + csMarker.size();
    csVersion = nSemicolon > nVersion ? csComment.substr(nVersion, nSemicolon - nVersion) : CaselessString();
    csPlatform = GetMsiePlatform(csComment);
    return !csVersion.empty();
}

} // namespace

int CBrowser::CreateBrowser(std::string_view csUserAgent, CBrowserPtr& spBrowser) {
    if (csUserAgent.empty())
        return 0;
    CUserAgentPtr spAgent = std::make_shared<CUserAgent>(ToCaseless(csUserAgent));
    if (!spAgent->IsParsed() || spAgent->GetProductName() != "Mozilla")
        return 0;
    if (spAgent->GetProductVersion() < "5.0")
        return CBrowserMsie::Create(spAgent, spBrowser) || CBrowserNetscape::Create(spAgent, spBrowser);
    return CBrowserMsie::Create(spAgent, spBrowser) || CBrowserSafari::Create(spAgent, spBrowser) ||
           CBrowserGecko::Create(spAgent, spBrowser);
}

int CBrowserMsie::Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser) {
    CaselessString csVersion, csPlatform;
    if (!IsUsable(spUserAgent) || !ReadMsie(*spUserAgent, csVersion, csPlatform))
        return 0;
    spBrowser = std::make_shared<CBrowserMsie>(spUserAgent, "MSIE", csVersion, csPlatform);
    return 1;
}

int CBrowserNetscape::Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser) {
    if (!IsUsable(spUserAgent))
        return 0;
    CUserAgent& agent = *spUserAgent;
    // A bare "Mozilla/4.0" without a comment names no browser at all.
    if (agent.GetProductName() != "Mozilla" || agent.GetProductVersion().empty() ||
        !(agent.GetProductVersion() < "5.0") || !agent.GetVendorProductToken().empty() ||
        agent.GetComment().empty() || agent.GetComment().find("compatible;") != CaselessString::npos)
        return 0;
    spBrowser = std::make_shared<CBrowserNetscape>(spUserAgent, "Netscape", agent.GetProductVersion(),
                                                   CaselessString());
    return 1;
}

int CBrowserSafari::Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser) {
    if (!IsUsable(spUserAgent))
        return 0;
    CUserAgent& agent = *spUserAgent;
    const CaselessString& csVendor = agent.GetVendorProductToken();
    if (csVendor.empty() || agent.GetProductToken().empty() || agent.GetComment().empty()) {
        OutputDebugText("Empty user agent tokens");
        return 0;
    }
    if (agent.GetProductName() != "Mozilla") {
        OutputDebugText(NOT_MOZILLA);
        return 0;
    }
    const size_t nSafari = csVendor.find("Safari/");
    if (nSafari == CaselessString::npos) {
        OutputDebugText("Not Safari");
        return 0;
    }
    const CaselessString csVersion = GetTextBetween(csVendor, "/", " ", nSafari);
    if (csVersion.empty())
        return 0;
    spBrowser = std::make_shared<CBrowserSafari>(spUserAgent, "Safari", csVersion, CaselessString());
    return 1;
}
