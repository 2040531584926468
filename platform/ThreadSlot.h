// A per-thread pointer whose value is released when its thread ends. (A thread-local object with a
// destructor would do the same, but it would keep the module from ever being unloaded.)
#pragma once

#include <cstdint>

class CThreadSlot {
public:
    typedef void (*PFN_RELEASE)(void* pValue);

    explicit CThreadSlot(PFN_RELEASE pfnRelease);
    ~CThreadSlot();
    CThreadSlot(const CThreadSlot&) = delete;
    CThreadSlot& operator=(const CThreadSlot&) = delete;

    void* Get() const;
    void Set(void* pValue);

private:
    uintptr_t m_key = 0;
    bool m_bValid = false;
};
