#include "platform/CSync.h"
#include "platform/LastError.h"
#include "platform/MemManager.h"
#include "platform/ThreadIdentity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <tuple>
#include <vector>

namespace {

TEST(CCritSec, FlagFollowsLockUnlockAndTryLock) {
    CCritSec lock;
    EXPECT_EQ(lock.Init(), 0u);
    EXPECT_FALSE(lock.IsLocked());
    lock.Lock();
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.TryLock()); // the holder may enter again
    lock.Unlock();
    EXPECT_TRUE(lock.IsLocked());
    lock.Unlock();
    EXPECT_FALSE(lock.IsLocked());
    // Unlock without holding the lock does nothing.
    lock.Unlock();
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
    lock.Delete();
    EXPECT_FALSE(lock.IsInitialized());
    // A negative spin count is kept as zero.
    for (auto [lSpin, lKept] : {std::pair<LONG, LONG>(-5, 0), {0, 0}, {1, 1}, {4000, 4000}}) {
        CCritSec spun;
        EXPECT_EQ(spun.Init(lSpin), 0u);
        EXPECT_EQ(spun.GetSpinCount(), lKept);
        spun.Delete();
    }
}

TEST(CCritSec, TryLockFailsWhileAnotherThreadHoldsIt) {
    CCritSec lock;
    lock.Init();
    std::atomic<bool> bHeld{false}, bRelease{false};
    std::thread holder([&] {
        lock.Lock();
        bHeld = true;
        while (!bRelease) {
        }
        lock.Unlock();
    });
    while (!bHeld) {
    }
    EXPECT_FALSE(lock.TryLock());
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_FALSE(lock.IsLockedByCaller());
    // Unlock from a thread that does not hold it must not release the holder's lock.
    lock.Unlock();
    EXPECT_TRUE(lock.IsLocked());
    bRelease = true;
    holder.join();
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

TEST(CCritSec, SerialisesCounterUpdates) {
    CCritSec lock;
    lock.Init(100);
    long nCounter = 0;
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 4; ++t)
        vThreads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CAutoLock guard(lock);
                ++nCounter;
            }
        });
    for (auto& t : vThreads)
        t.join();
    EXPECT_EQ(nCounter, 80000);
}

struct CCounted {
    static inline std::atomic<int> s_nConstructed{0};
    CCounted() { ++s_nConstructed; }
};

TEST(StaticMemory, RacingCreatorsUnderALockConstructOnce) {
    Mem_Manager::Static_memory<CCounted> holder;
    CCritSec lock;
    lock.Init();
    constexpr int nThreads = 12;
    std::vector<CCounted*> vSeen(nThreads);
    std::atomic<int> nReady{0};
    std::vector<std::thread> vThreads;
    for (int i = 0; i < nThreads; ++i)
        vThreads.emplace_back([&, i] {
            ++nReady;
            while (nReady.load() < nThreads) {
            }
            CAutoLock guard(lock);
            vSeen[i] = holder.create();
        });
    for (auto& t : vThreads)
        t.join();
    EXPECT_EQ(CCounted::s_nConstructed.load(), 1);
    for (CCounted* p : vSeen)
        EXPECT_EQ(p, vSeen[0]);
    // A second holder of the same type shares the one instance.
    Mem_Manager::Static_memory<CCounted> other;
    EXPECT_EQ(other.create(), vSeen[0]);
    EXPECT_EQ(CCounted::s_nConstructed.load(), 1);
}

struct CThrowsOnce {
    static inline int s_nAttempts = 0;
    CThrowsOnce() {
        if (s_nAttempts++ == 0)
            throw std::runtime_error("first construction fails");
    }
};

TEST(StaticMemory, FailedConstructionCanBeRetried) {
    Mem_Manager::Static_memory<CThrowsOnce> holder;
    EXPECT_THROW(holder.create(), std::runtime_error);
    EXPECT_FALSE(Mem_Manager::Static_memory<CThrowsOnce>::IsConstructed());
    EXPECT_NE(holder.create(), nullptr);
    EXPECT_TRUE(Mem_Manager::Static_memory<CThrowsOnce>::IsConstructed());
}

struct CZeroChecked {
    int m_nUntouched; // not initialised by the constructor: the holder's zero fill shows through
    CZeroChecked() {}
    virtual ~CZeroChecked() { ++s_nDestroyed; }
    static inline int s_nDestroyed = 0;
};

TEST(GlobalMemory, ZeroFilledCreateAndDestroy) {
    Mem_Manager::Global_memory<CZeroChecked> holder;
    CZeroChecked* p = holder.create();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->m_nUntouched, 0);
    EXPECT_EQ(holder.create(), p);
    holder.destroy();
    EXPECT_EQ(CZeroChecked::s_nDestroyed, 1);
    EXPECT_EQ(holder.instance(), nullptr);
    holder.destroy();
    EXPECT_EQ(CZeroChecked::s_nDestroyed, 1);
}

// The last error is the thread's own word: C library calls in between (errno) leave it, a bound word (the
// host's) takes the reports for a scope, nested scopes unwind, and other threads keep theirs.
TEST(LastError, ThreadWordOutlivesErrnoAndFollowsItsBinding) {
    PlatformSetLastError(ERROR_INSUFFICIENT_BUFFER);
    errno = EBADF;
    EXPECT_EQ(PlatformGetLastError(), ERROR_INSUFFICIENT_BUFFER);
    DWORD dwHost = 0, dwInner = 0;
    {
        CThreadErrorWordScope bound(&dwHost);
        PlatformSetLastError(ERROR_ACCESS_DENIED);
        {
            CThreadErrorWordScope inner(&dwInner);
            CThreadErrorWordScope keep(nullptr);
            PlatformSetLastError(ERROR_INVALID_SID);
        }
        EXPECT_EQ(PlatformGetLastError(), ERROR_ACCESS_DENIED);
        std::thread([] { EXPECT_EQ(PlatformGetLastError(), 0u); }).join();
    }
    EXPECT_EQ(std::make_tuple(dwHost, dwInner, PlatformGetLastError()),
              std::make_tuple(DWORD(ERROR_ACCESS_DENIED), DWORD(ERROR_INVALID_SID),
                              DWORD(ERROR_INSUFFICIENT_BUFFER)));
}

TEST(ThreadIdentity, RevertScopeRestoresTheSameIdentity) {
    auto spUser = std::make_shared<CRequestIdentity>();
    spUser->csUser = "alice";
    CThreadIdentity::Impersonate(spUser);
    {
        CRevertToSelfScope scope;
        EXPECT_TRUE(scope.HasSavedToken());
        CIdentityToken spInside;
        EXPECT_EQ(CThreadIdentity::OpenThreadToken(spInside), ERROR_NO_TOKEN);
    }
    CIdentityToken spAfter;
    ASSERT_EQ(CThreadIdentity::OpenThreadToken(spAfter), 0u);
    EXPECT_EQ(spAfter->csUser, "alice");
    // Identities are per thread.
    std::thread other([] {
        CIdentityToken sp;
        EXPECT_EQ(CThreadIdentity::OpenThreadToken(sp), ERROR_NO_TOKEN);
        CRevertToSelfScope scope;
        EXPECT_FALSE(scope.HasSavedToken());
        EXPECT_EQ(scope.GetOpenError(), ERROR_NO_TOKEN);
    });
    other.join();
    CThreadIdentity::RevertToSelf();
}

TEST(ThreadIdentity, ThreadsThatEndImpersonatingReleaseTheirIdentity) {
    auto spUser = std::make_shared<CRequestIdentity>();
    std::weak_ptr<CRequestIdentity> wpUser = spUser;
    std::vector<std::thread> vThreads;
    for (int i = 0; i < 4; ++i)
        vThreads.emplace_back([spUser] { CThreadIdentity::Impersonate(spUser); });
    for (auto& t : vThreads)
        t.join();
    spUser.reset();
    // Only the ended threads held it: their slots let go of it when they ended.
    EXPECT_TRUE(wpUser.expired());
}

} // namespace
