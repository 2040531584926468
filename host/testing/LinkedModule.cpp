// The entry points of the core linked into the test program. Kept apart from the rest of the test host so
// that tests of the host itself, which bring their own fake module, do not need them.
#include "host/testing/TestHost.h"

extern "C" {
BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
DWORD HttpFilterProc(CDLLContext* pContext);
BOOL TerminateFilter(DWORD dwFlags);
}

CModuleEntryPoints CTestHost::LinkedEntryPoints() {
    CModuleEntryPoints entryPoints;
    entryPoints.pfnGetFilterVersion = &::GetFilterVersion;
    entryPoints.pfnHttpFilterProc = &::HttpFilterProc;
    entryPoints.pfnTerminateFilter = &::TerminateFilter;
    return entryPoints;
}

CTestHost::CTestHost() : m_session(LinkedEntryPoints()) {}
