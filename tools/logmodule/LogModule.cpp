// The log module: hands out locks that serialise the writers of one log across threads and processes.
// Each lock is an in-process mutex plus an exclusive flock on a lock file named after the log, so
// every process (of any product or account) that writes the same log takes the same lock.
//
// The folder of the lock files is /dev/shm (else /tmp), or the one named by WK_LOGMODULE_LOCK_DIR.
// An option of 0 asks for a lock that serialises this process only.

#include "log/LogModuleAbi.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#define LOG_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr DWORD LOG_LOCK_PROCESS_ONLY = 0;

std::string LockFolder() {
    const char* pszFolder = std::getenv("WK_LOGMODULE_LOCK_DIR");
    if (pszFolder && *pszFolder)
        return pszFolder;
    struct stat st {};
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return "/tmp";
}

// Only letters, digits, ".", "-" and "_" reach the file name.
std::string LockFileName(const std::string& csName) {
    std::string csFile = "WK_LogLock_";
    for (char ch : csName) {
        bool bPlain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                      ch == '.' || ch == '-' || ch == '_';
        csFile += bPlain ? ch : '_';
    }
    return csFile + ".lock";
}

class CLogFileLock : public CSync {
public:
    CLogFileLock(std::string csPath, bool bCrossProcess)
        : m_csPath(std::move(csPath)), m_bCrossProcess(bCrossProcess) {}
    ~CLogFileLock() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool Open() {
        if (!m_bCrossProcess)
            return true;
        if (m_fd >= 0 && m_pid == ::getpid())
            return true;
        // A child of fork() shares its parent's open file and with it the parent's flock; it needs its own.
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = ::open(m_csPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0)
            return false;
        // Writers of every account share the file, whatever their umask.
        ::fchmod(m_fd, 0666);
        m_pid = ::getpid();
        return true;
    }

    void Lock() override {
        m_mutex.lock();
        if (Open())
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        m_bLocked = true;
    }

    void Unlock() override {
        if (m_bCrossProcess && m_fd >= 0)
            ::flock(m_fd, LOCK_UN);
        m_bLocked = false;
        m_mutex.unlock();
    }

    bool TryLock() override {
        if (!m_mutex.try_lock())
            return false;
        if (m_bCrossProcess) {
            int nResult = -1;
            if (Open())
                while ((nResult = ::flock(m_fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
                }
            if (nResult != 0) {
                m_mutex.unlock();
                return false;
            }
        }
        m_bLocked = true;
        return true;
    }

    bool IsLocked() const override { return m_bLocked; }

private:
    std::mutex m_mutex;
    std::string m_csPath;
    bool m_bCrossProcess;
    int m_fd = -1;
    pid_t m_pid = 0;
    bool m_bLocked = false; // written only by the holder
};

struct CLockRegistry {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<CLogFileLock>> mapLocks;
};

// Freed when the module unloads, after every static destructor of the process that might still log.
CLockRegistry* g_pRegistry = nullptr;
std::once_flag g_registryOnce;

CLockRegistry& Registry() {
    std::call_once(g_registryOnce, [] { g_pRegistry = new CLockRegistry(); });
    return *g_pRegistry;
}

__attribute__((destructor)) void FreeRegistry() {
    delete g_pRegistry;
    g_pRegistry = nullptr;
}

BOOL GetLock(const std::string& csName, CSync** ppLock, DWORD dwOption) {
    if (!ppLock)
        return FALSE;
    *ppLock = nullptr;
    try {
        const bool bCrossProcess = dwOption != LOG_LOCK_PROCESS_ONLY;
        const std::string csKey = (bCrossProcess ? "x:" : "p:") + csName;
        CLockRegistry& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.mutex);
        auto it = registry.mapLocks.find(csKey);
        if (it == registry.mapLocks.end()) {
            auto spLock =
                std::make_unique<CLogFileLock>(LockFolder() + "/" + LockFileName(csName), bCrossProcess);
            // A lock whose file cannot be created would not serialise anything across processes.
            if (!spLock->Open())
                return FALSE;
            it = registry.mapLocks.emplace(csKey, std::move(spLock)).first;
        }
        *ppLock = it->second.get();
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

} // namespace

LOG_MODULE_EXPORT BOOL GetProductCS(const char* pszName, CSync** ppLock, DWORD dwOption) {
    if (!pszName || !*pszName) {
        if (ppLock)
            *ppLock = nullptr;
        return FALSE;
    }
    return GetLock(pszName, ppLock, dwOption);
}

LOG_MODULE_EXPORT BOOL GetGeneralCS(CSync** ppLock, DWORD dwOption) {
    return GetLock("general", ppLock, dwOption);
}

// The signatures the worker expects.
static_assert(std::is_same_v<decltype(&GetProductCS), PFN_GET_PRODUCT_CS>);
static_assert(std::is_same_v<decltype(&GetGeneralCS), PFN_GET_GENERAL_CS>);
