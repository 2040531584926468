#include "platform/CSync.h"

CCritSec::~CCritSec() = default;

void CCritSec::Lock() {
    m_cs.lock();
    m_owner.store(std::this_thread::get_id(), std::memory_order_release);
    ++m_nDepth;
}

void CCritSec::Unlock() {
    if (!IsLockedByCaller())
        return;
    if (--m_nDepth == 0)
        m_owner.store(std::thread::id(), std::memory_order_release);
    m_cs.unlock();
}

bool CCritSec::TryLock() {
    if (!m_cs.try_lock())
        return false;
    m_owner.store(std::this_thread::get_id(), std::memory_order_release);
    ++m_nDepth;
    return true;
}

bool CCritSec::IsLocked() const {
    return m_owner.load(std::memory_order_acquire) != std::thread::id();
}

bool CCritSec::IsLockedByCaller() const {
    return m_owner.load(std::memory_order_acquire) == std::this_thread::get_id();
}

DWORD CCritSec::Init(LONG lSpinCount) {
    m_lSpinCount = lSpinCount < 1 ? 0 : lSpinCount;
    m_bInitialized.store(true, std::memory_order_release);
    return ERROR_SUCCESS;
}

DWORD CCritSec::Init() {
    return Init(0);
}

void CCritSec::Delete() {
    m_bInitialized.store(false, std::memory_order_release);
}
