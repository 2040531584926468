// libFuzzer target over the whole page pipeline: random pages and request flags through every notification of
// a followed request, against the core linked into the target and a temporary sample installation.
#include "fuzz/guard/PageFuzzHarness.h"
#include "host/testing/TestHost.h"

#include <cstdio>
#include <cstdlib>

namespace {

CHostSession* Session() {
    static CTempInstallation s_installation;
    static CHostSession s_session(CTestHost::LinkedEntryPoints());
    static const bool s_bStarted = s_installation.CopySampleInstallation() &&
                                   (s_installation.PointProcessHere(), s_session.GetFilterVersion() == TRUE);
    return s_bStarted ? &s_session : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!Session()) {
        std::fprintf(stderr, "fuzz_page: the sample installation did not start\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    const CHostRunRecord record = Session()->Run(pagefuzz::BuildRequest(pData, cbData));
    const std::string csBroken = pagefuzz::CheckRun(record);
    if (!csBroken.empty()) {
        std::fprintf(stderr, "fuzz_page: %s\n", csBroken.c_str());
        std::abort();
    }
    return 0;
}
