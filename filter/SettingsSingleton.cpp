#include "filter/SettingsSingleton.h"

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

CCritSec& GetProcessLock() {
    return g_processLock.m_lock;
}

CWKGeneralSettings* GetGeneralSettingsInstance() {
    CAutoLock guard(g_processLock.m_lock);
    if (!g_settingsHolder.instance())
        g_settingsHolder.create();
    return g_settingsHolder.instance();
}

void ReportProcessErrorText(WORD wType, const char* pszText) {
    try {
        if (CWKGeneralSettings* pSettings = GetGeneralSettingsInstance())
            pSettings->ReportErrorText(wType, "%s", pszText ? pszText : "");
    } catch (...) {
    }
}
