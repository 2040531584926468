#include "request/SettingsSingleton.h"

#include "platform/MemManager.h"

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

} // namespace

CWKGeneralSettings* GetGeneralSettingsInstance() {
    CAutoLock guard(g_processLock.m_lock);
    // Once the process's exit has destroyed the object, a late caller gets none rather than the dead one.
    if (Mem_Manager::Static_memory<CWKGeneralSettings>::IsDestroyedAtExit())
        return nullptr;
    if (!g_settingsHolder.instance())
        g_settingsHolder.create();
    return g_settingsHolder.instance();
}
