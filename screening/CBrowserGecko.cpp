#include "screening/CBrowser.h"

#include "platform/CPlatform.h"

#include <vector>

namespace {

bool IsVersionedProductToken(const CaselessString& csItem) {
    if (csItem.size() >= 2 && csItem.front() == '(' && csItem.back() == ')')
        return false;
    const size_t nSlash = csItem.find('/');
    if (nSlash == CaselessString::npos || nSlash == 0 || nSlash + 1 >= csItem.size())
        return false;
    return CaselessString("0123456789.").find(csItem[nSlash + 1]) != CaselessString::npos;
}

bool IsNetscapeFamilyName(const CaselessString& csName) {
    return csName == "Firefox" || csName == "Netscape" || csName == "Netscape6" || csName == "Firebird" ||
           csName == "Phoenix";
}

// The family product (Firefox, Netscape...) among the vendor items after the leading Gecko one.
bool FindFamilyProduct(const std::vector<CaselessString>& vItems, CaselessString& csName,
                       CaselessString& csVersion) {
    for (size_t n = 1; n < vItems.size(); ++n) {
        if (!IsVersionedProductToken(vItems[n]))
            continue;
        OutputDebugText("Get browser name and version");
        const size_t nSlash = vItems[n].find('/');
        if (IsNetscapeFamilyName(vItems[n].substr(0, nSlash))) {
            csName = vItems[n].substr(0, nSlash);
            csVersion = vItems[n].substr(nSlash + 1);
            return true;
        }
    }
    return false;
}

SGeckoComment ReadGeckoComment(const CaselessString& csComment) {
    OutputDebugText("Parse comment");
    std::vector<CaselessString> vItems;
    SGeckoComment comment;
    if (!SplitTokens(csComment, ";", vItems, &StripLeadingBlanks) || vItems.size() < 5)
        return comment;
    comment = SGeckoComment{vItems[0], vItems[1], vItems[2], vItems[3], vItems[4]};
    const size_t nRv = comment.csRevision.find("rv:");
    if (nRv != CaselessString::npos)
        comment.csRevision.erase(0, nRv + 3);
    return comment;
}

} // namespace

int CBrowserGecko::Create(const CUserAgentPtr& spUserAgent, CBrowserPtr& spBrowser) {
    if (!spUserAgent || !spUserAgent->IsParsed())
        return 0;
    CUserAgent& agent = *spUserAgent;
    if (agent.GetVendorProductToken().empty() || agent.GetProductToken().empty() ||
        agent.GetComment().empty()) {
        OutputDebugText("Empty user agent tokens");
        return 0;
    }
    if (agent.GetProductName() != "Mozilla" || agent.GetProductVersion() != "5.0") {
        OutputDebugText("Not Mozilla or different Mozilla version");
        return 0;
    }
    std::vector<CaselessString> vItems;
    SplitTokens(agent.GetVendorProductToken(), " ", vItems, &StripLeadingBlanks);
    if (vItems.empty() || vItems[0].compare(0, 5, "Gecko") != 0)
        return 0;
    CaselessString csName, csVersion;
    const bool bFamily = FindFamilyProduct(vItems, csName, csVersion);
    if (!bFamily)
        csName = "Mozilla";
    const SGeckoComment comment = ReadGeckoComment(agent.GetComment());
    if (!bFamily && !comment.csRevision.empty()) {
        OutputDebugText("Get version for Mozilla browser");
        csVersion = comment.csRevision;
    }
    if (csName.empty() || csVersion.empty())
        return 0;
    spBrowser = std::make_shared<CBrowserGecko>(spUserAgent, csName, csVersion, comment);
    return 1;
}
