// The worker module's code with a window on the identity it sees: the probe watches the module's own log
// (its own copy of the log state and of the thread identity) and notes whose identity every line was
// written under. Loaded by a host like the module file itself.
#include "log/Log.h"
#include "security/CSecurityAccess.h"

#include <cstdio>
#include <string>

namespace {

std::string g_csSeen;

void NoteThreadUser(const char*) {
    std::string csUser, csDomain, csSid;
    CSecurityAccess access;
    const DWORD dwResult = access.GetThreadUserInfo(csUser, csDomain, csSid);
    const std::string csEntry = dwResult == ERROR_SUCCESS ? csDomain + "\\" + csUser + " " + csSid
                                                          : "error " + std::to_string(dwResult);
    if (g_csSeen.find(csEntry + ";") == std::string::npos)
        g_csSeen += csEntry + ";";
}

} // namespace

extern "C" __attribute__((visibility("default"))) void WkProbeWatch() {
    g_csSeen.clear();
    SetLogLevel(LOG_LEVEL_ON);
    SetLogSink(&NoteThreadUser);
}

// The distinct identities seen since WkProbeWatch, each ending with ";", and the thread's identity now.
extern "C" __attribute__((visibility("default"))) void WkProbeSeen(char* pszSeen, size_t cchSeen) {
    NoteThreadUser(nullptr);
    std::snprintf(pszSeen, cchSeen, "%s", g_csSeen.c_str());
}
