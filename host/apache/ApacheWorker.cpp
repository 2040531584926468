#include "host/apache/ApacheWorker.h"

#include "host/common/HostSession.h"

#include <unixd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct CRunningWorker {
    std::unique_ptr<CHostModule> m_spModule;
    CWorkerEntryPoints m_entry;
    bool m_bRunning = false;
};
CRunningWorker g_worker;

// Registers the worker; false (with the reason) when it refuses or throws.
bool Register(const CModuleEntryPoints& entry, DWORD& dwFlags, std::string& csReason) {
    HTTP_FILTER_VERSION version;
    std::memset(&version, 0, sizeof(version));
    version.dwServerFilterVersion = HOST_SERVER_FILTER_VERSION;
    try {
        if (!entry.pfnGetFilterVersion(&version)) {
            csReason = "GetFilterVersion returned 0";
            return false;
        }
    } catch (...) {
        csReason = "an exception left GetFilterVersion";
        return false;
    }
    dwFlags = version.dwFlags;
    return true;
}

apr_status_t TerminateWorker(void*) {
    if (g_worker.m_bRunning && g_worker.m_spModule) {
        g_worker.m_bRunning = false;
        try {
            g_worker.m_spModule->EntryPoints().pfnTerminateFilter(0);
        } catch (...) {
        }
    }
    return APR_SUCCESS;
}

// The child's verdict: exit status 0 registered, 1 refused, 2 not loadable; its reason on standard error.
[[noreturn]] void CheckInChild(const char* pszPath) {
    // The check runs as the account of the server's children, so that what the worker creates (its log
    // folder and file) belongs to the account that writes it later.
    if (::geteuid() == 0 &&
        (::setgid(ap_unixd_config.group_id) != 0 || ::setuid(ap_unixd_config.user_id) != 0)) {
        std::fprintf(stderr, "cannot take the account of the server's children for the check\n");
        std::fflush(stderr);
        ::_exit(2);
    }
    ::setenv("WENDRAKE_EVENTS_TO_STDERR", "1", 1);
    std::string csReason;
    auto spModule = CHostModule::Load(pszPath, csReason);
    if (!spModule) {
        std::fprintf(stderr, "%s\n", csReason.c_str());
        std::fflush(stderr);
        ::_exit(2);
    }
    DWORD dwFlags = 0;
    if (!Register(spModule->EntryPoints(), dwFlags, csReason)) {
        std::fprintf(stderr, "%s\n", csReason.c_str());
        std::fflush(stderr);
        ::_exit(1);
    }
    // Lets the worker write out and release what it set up (its log, its shared memory).
    spModule->EntryPoints().pfnTerminateFilter(0);
    ::_exit(0);
}

} // namespace

bool CheckWorker(const char* pszPath, std::string& csReason) {
    int aPipe[2];
    if (::pipe(aPipe) != 0) {
        csReason = "cannot create a pipe for the worker check";
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(aPipe[0]);
        ::dup2(aPipe[1], STDERR_FILENO);
        ::dup2(aPipe[1], STDOUT_FILENO);
        CheckInChild(pszPath);
    }
    ::close(aPipe[1]);
    std::string csOutput;
    char aBuffer[4096];
    for (ssize_t cb; (cb = ::read(aPipe[0], aBuffer, sizeof(aBuffer))) != 0;) {
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb < 0)
            break;
        if (csOutput.size() < 16384)
            csOutput.append(aBuffer, static_cast<size_t>(cb));
    }
    ::close(aPipe[0]);
    int nStatus = 0;
    if (pid < 0 || ::waitpid(pid, &nStatus, 0) != pid) {
        csReason = "cannot start a process to check the worker";
        return false;
    }
    if (WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0)
        return true;
    while (!csOutput.empty() && (csOutput.back() == '\n' || csOutput.back() == '\r'))
        csOutput.pop_back();
    for (char& ch : csOutput)
        if (ch == '\n')
            ch = ';';
    csReason = WIFSIGNALED(nStatus)
                   ? "the worker crashed the check (signal " + std::to_string(WTERMSIG(nStatus)) + ")"
                   : std::string();
    csReason += csReason.empty() || csOutput.empty() ? csOutput : ": " + csOutput;
    if (csReason.empty())
        csReason = "the worker refused to start without saying why";
    return false;
}

bool StartWorker(const char* pszPath, apr_pool_t* pProcessPool, std::string& csReason) {
    auto spModule = CHostModule::Load(pszPath, csReason);
    if (!spModule)
        return false;
    DWORD dwFlags = 0;
    if (!Register(spModule->EntryPoints(), dwFlags, csReason))
        return false;
    g_worker.m_entry.pfnHttpFilterProc = spModule->EntryPoints().pfnHttpFilterProc;
    g_worker.m_entry.dwFlags = dwFlags;
    g_worker.m_spModule = std::move(spModule);
    g_worker.m_bRunning = true;
    apr_pool_cleanup_register(pProcessPool, nullptr, TerminateWorker, apr_pool_cleanup_null);
    return true;
}

const CWorkerEntryPoints* RunningWorker() {
    return g_worker.m_bRunning ? &g_worker.m_entry : nullptr;
}
