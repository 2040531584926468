// libFuzzer target: the user-agent parser, the browser recognizers and the whole-string predicates over
// arbitrary header bytes. A browser is only ever named with both a name and a version.
#include "screening/CBrowser.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    const std::string csAgent(reinterpret_cast<const char*>(pData), cbData);
    CBrowserPtr spBrowser;
    const int nFound = CBrowser::CreateBrowser(csAgent, spBrowser);
    if (nFound != (spBrowser ? 1 : 0))
        __builtin_trap();
    if (spBrowser && (spBrowser->GetBrowserName().empty() || spBrowser->GetBrowserVersion().empty()))
        __builtin_trap();
    CUserAgent agent(ToCaseless(csAgent));
    if (agent.GetProductName().size() > agent.GetProductToken().size() ||
        agent.GetComment().size() + agent.GetProductToken().size() > cbData)
        __builtin_trap();
    volatile bool bSink = IsMacPlatform(csAgent) || IsIE6OrLaterOnWindows(csAgent) ||
                          IsIE4OrLaterOnMac(csAgent) || IsOwaAuthOnWindows(csAgent);
    (void)bSink;
    return 0;
}
