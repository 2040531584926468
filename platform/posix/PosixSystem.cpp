#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include <netdb.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

std::atomic<unsigned> g_nForkGeneration{1};
thread_local DWORD t_dwThreadId = 0;
thread_local unsigned t_nThreadIdGeneration = 0;

void OnForkChild() {
    g_nForkGeneration.fetch_add(1, std::memory_order_relaxed);
}

CSystemTime FromTm(const struct tm& tmTime, unsigned nMilliseconds) {
    CSystemTime st;
    st.wYear = static_cast<WORD>(tmTime.tm_year + 1900);
    st.wMonth = static_cast<WORD>(tmTime.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(tmTime.tm_wday);
    st.wDay = static_cast<WORD>(tmTime.tm_mday);
    st.wHour = static_cast<WORD>(tmTime.tm_hour);
    st.wMinute = static_cast<WORD>(tmTime.tm_min);
    st.wSecond = static_cast<WORD>(tmTime.tm_sec);
    st.wMilliseconds = static_cast<WORD>(nMilliseconds);
    return st;
}

class CPosixSystem : public ISystem {
public:
    CSystemTime GetLocalTime() override {
        struct timeval tv {};
        ::gettimeofday(&tv, nullptr);
        struct tm tmLocal {};
        ::localtime_r(&tv.tv_sec, &tmLocal);
        return FromTm(tmLocal, static_cast<unsigned>(tv.tv_usec / 1000));
    }

    CSystemTime FileTimeToUtc(uint64_t ftTime) override {
        constexpr uint64_t qwEpochDelta = 11644473600ull;
        uint64_t qwSeconds = ftTime / 10000000ull;
        time_t tSeconds = static_cast<time_t>(qwSeconds >= qwEpochDelta ? qwSeconds - qwEpochDelta : 0);
        struct tm tmUtc {};
        ::gmtime_r(&tSeconds, &tmUtc);
        return FromTm(tmUtc, static_cast<unsigned>((ftTime / 10000ull) % 1000ull));
    }

    std::string CTimeNow() override {
        time_t tNow = ::time(nullptr);
        char szTime[32] = {};
        ::ctime_r(&tNow, szTime);
        std::string csTime = szTime;
        while (!csTime.empty() && (csTime.back() == '\n' || csTime.back() == '\r'))
            csTime.pop_back();
        return csTime;
    }

    // The number is asked of the kernel once per thread (every log line needs it); a forked child starts a
    // new generation, so its thread does not report the parent's number.
    DWORD GetCurrentThreadId() override {
        static const int s_nAtFork = ::pthread_atfork(nullptr, nullptr, &OnForkChild);
        (void)s_nAtFork;
        const unsigned nGeneration = g_nForkGeneration.load(std::memory_order_relaxed);
        if (t_nThreadIdGeneration != nGeneration) {
            t_dwThreadId = static_cast<DWORD>(::syscall(SYS_gettid));
            t_nThreadIdGeneration = nGeneration;
        }
        return t_dwThreadId;
    }
    DWORD GetCurrentProcessId() override { return static_cast<DWORD>(::getpid()); }
    std::string GetSystemLogRoot() override { return "/var/log"; }
    std::string GetFallbackLogPath() override { return "/tmp/LogError.txt"; }
    char PathSeparator() override { return '/'; }

    std::string GetEnv(const char* pszName) override {
        const char* pszValue = std::getenv(pszName);
        return pszValue ? pszValue : "";
    }

    BOOL GetComputerNameEx(EComputerName eKind, char* pszBuffer, DWORD& dwSize, DWORD& dwError) override {
        std::string csName;
        if (!ReadName(eKind, csName)) {
            dwError = ERROR_NOT_SUPPORTED;
            return FALSE;
        }
        if (!pszBuffer || dwSize < csName.size() + 1) {
            dwSize = static_cast<DWORD>(csName.size() + 1);
            dwError = ERROR_MORE_DATA;
            return FALSE;
        }
        std::memcpy(pszBuffer, csName.c_str(), csName.size() + 1);
        dwSize = static_cast<DWORD>(csName.size());
        dwError = ERROR_SUCCESS;
        return TRUE;
    }

private:
    // The host name is the first label of the kernel's name; the fully qualified name is the resolver's
    // canonical name for it, or the kernel's name when the resolver knows none.
    static bool ReadName(EComputerName eKind, std::string& csName) {
        char szHost[256] = {};
        if (::gethostname(szHost, sizeof(szHost) - 1) != 0 || szHost[0] == 0)
            return false;
        csName = szHost;
        if (eKind == EComputerName::DnsHostname) {
            csName.erase(std::min(csName.find('.'), csName.size()));
            return true;
        }
        struct addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_flags = AI_CANONNAME;
        struct addrinfo* pResult = nullptr;
        if (::getaddrinfo(szHost, nullptr, &hints, &pResult) == 0 && pResult) {
            if (pResult->ai_canonname && pResult->ai_canonname[0])
                csName = pResult->ai_canonname;
            ::freeaddrinfo(pResult);
        }
        return true;
    }
};

class CPosixDebugOutput : public IDebugOutput {
public:
    // Silent unless WK_DEBUG_OUTPUT is set, so that hosts and tests stay quiet by default.
    void Write(const char* pszText) override {
        static const bool s_bEnabled = std::getenv("WK_DEBUG_OUTPUT") != nullptr;
        if (s_bEnabled && pszText)
            std::fputs(pszText, stderr);
    }
};

} // namespace

ISystem& PosixSystem() {
    return ImmortalInstance<CPosixSystem>();
}

IDebugOutput& PosixDebugOutput() {
    return ImmortalInstance<CPosixDebugOutput>();
}
