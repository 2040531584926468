#include "request/SettingsSingleton.h"

#include "platform/MemManager.h"

#include <atomic>

namespace {

// Initialised when the module is loaded, deleted when it is unloaded.
class CProcessLock {
public:
    CProcessLock() { m_lock.Init(); }
    ~CProcessLock() { m_lock.Delete(); }
    CCritSec m_lock;
};

CProcessLock g_processLock;
Mem_Manager::Static_memory<CWKGeneralSettings> g_settingsHolder;
std::atomic<CWKGeneralSettings*> g_pMade{nullptr};

} // namespace

CWKGeneralSettings* GetGeneralSettingsInstance() {
    // Every notification asks several times: once made, the object is handed out without the lock.
    if (CWKGeneralSettings* pMade = g_pMade.load(std::memory_order_acquire))
        if (!Mem_Manager::Static_memory<CWKGeneralSettings>::IsDestroyedAtExit())
            return pMade;
    CAutoLock guard(g_processLock.m_lock);
    // Once the process's exit has destroyed the object, a late caller gets none rather than the dead one.
    if (Mem_Manager::Static_memory<CWKGeneralSettings>::IsDestroyedAtExit())
        return nullptr;
    if (!g_settingsHolder.instance())
        g_settingsHolder.create();
    g_pMade.store(g_settingsHolder.instance(), std::memory_order_release);
    return g_settingsHolder.instance();
}
