// The lock interface and its critical-section implementation.
#pragma once

#include "platform/WinTypes.h"

#include <atomic>
#include <mutex>
#include <thread>

class CSync {
public:
    virtual ~CSync() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    virtual bool TryLock() = 0;
    virtual bool IsLocked() const { return false; }
};

// A recursive lock with an ownership flag. The flag records which thread holds the lock (not just that some
// thread does): a per-object boolean would let TryLock on a second thread report success for a lock it does
// not hold, and its Unlock would then release another thread's lock.
class CCritSec : public CSync {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    ~CCritSec() override;

    void Lock() override;
    void Unlock() override;
    bool TryLock() override;
    // True while some thread holds the lock.
    bool IsLocked() const override;
    // True while the calling thread holds the lock.
    bool IsLockedByCaller() const;
    // A spin count below 1 gives a plain lock; otherwise the count is kept as a hint. Returns a Win32 code.
    virtual DWORD Init(LONG lSpinCount);
    virtual DWORD Init();
    virtual void Delete();

    LONG GetSpinCount() const { return m_lSpinCount; }
    bool IsInitialized() const { return m_bInitialized.load(std::memory_order_acquire); }

private:
    std::recursive_mutex m_cs;
    std::atomic<std::thread::id> m_owner{};
    unsigned m_nDepth = 0; // touched only by the owning thread
    LONG m_lSpinCount = 0;
    std::atomic<bool> m_bInitialized{false};
};

// Holds a CSync for a scope.
class CAutoLock {
public:
    explicit CAutoLock(CSync& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CAutoLock() { m_lock.Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CSync& m_lock;
};
