#include "log/LogState.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

CLogState::CLogState() {
    std::snprintf(szPath, sizeof(szPath), "%s", CPlatform::System().GetFallbackLogPath().c_str());
    csBuffer.reserve(static_cast<size_t>(nBufferReserve));
}

CLogState& LogState() {
    // The union keeps the state in static storage without a destructor: writers may still run while
    // other static objects are torn down.
    union CStorage {
        CLogState state;
        CStorage() { ::new (&state) CLogState(); }
        ~CStorage() {}
    };
    static CStorage s_storage;
    return s_storage.state;
}

namespace {

// Writes out what the writers hold, closes the file and frees the writers' memory; the state stays, and a
// line logged later opens and allocates again.
void ReleaseLogLocked(CLogState& state) {
    FlushLogLocked(state, true);
    CloseLogFileLocked(state);
    state.spSection.reset();
    std::string().swap(state.csBuffer);
}

// The holder of the log file handle: when the module unloads without a TerminateFilter, what the writers hold
// still reaches the file, and the writers' memory does not outlive the module.
class CLogFileHolder {
public:
    CLogFileHolder() { LogState(); }
    ~CLogFileHolder() {
        CLogState& state = LogState();
        // Only the in-process lock: at exit the log module may already have torn down its locks.
        CAutoLock lock(state.csWriters);
        ReleaseLogLocked(state);
    }
};
CLogFileHolder g_logFileHolder;

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

} // namespace

size_t FormatLogTimeStamp(char* pszBuffer, size_t cbBuffer) {
    CSystemTime st = CPlatform::System().GetLocalTime();
    int n = std::snprintf(pszBuffer, cbBuffer, "\r\n%04u/%02u/%02u %02u:%02u:%02u.%03u %4X ",
                          unsigned{st.wYear}, unsigned{st.wMonth}, unsigned{st.wDay}, unsigned{st.wHour},
                          unsigned{st.wMinute}, unsigned{st.wSecond}, unsigned{st.wMilliseconds},
                          static_cast<unsigned>(CPlatform::System().GetCurrentThreadId()));
    if (n < 0)
        return 0;
    return std::min(static_cast<size_t>(n), cbBuffer - 1);
}

std::string LogFileNameOf(const std::string& csPath) {
    size_t nSep = csPath.find_last_of("/\\");
    return nSep == std::string::npos ? csPath : csPath.substr(nSep + 1);
}

void ParseLogHeader(const char* pchHeader, size_t cbHeader, int32_t* pnValues, int nCount) {
    const char* p = pchHeader;
    const char* pEnd = pchHeader + cbHeader;
    for (int i = 0; i < nCount; ++i) {
        pnValues[i] = 0;
        while (p < pEnd && IsBlank(*p))
            ++p;
        const char* pNumber = p;
        if (p < pEnd && (*p == '+'))
            ++pNumber;
        int32_t nValue = 0;
        auto [pNext, ec] = std::from_chars(pNumber, pEnd, nValue);
        if (ec != std::errc() || pNext == pNumber)
            return; // a damaged header: the rest stays 0, which the writers treat as unknown
        pnValues[i] = nValue;
        p = pNext;
        while (p < pEnd && IsBlank(*p))
            ++p;
        if (p >= pEnd || *p != ',')
            return;
        ++p;
    }
}

void FormatLogHeader(char* pchHeader, const int32_t* pnValues, int nCount, bool bTrailingComma) {
    // Four numbers of at most 11 characters and their separators always fit in the 99 bytes of text, so
    // the last byte stays a blank and the header never ends in a terminator.
    std::memset(pchHeader, ' ', LOG_HEADER_SIZE);
    char* pch = pchHeader;
    char* const pchEnd = pchHeader + LOG_HEADER_SIZE - 1;
    for (int i = 0; i < nCount && pch < pchEnd; ++i) {
        auto [pNext, ec] = std::to_chars(pch, pchEnd, pnValues[i]);
        if (ec != std::errc())
            break;
        pch = pNext;
        if ((i + 1 < nCount || bTrailingComma) && pch < pchEnd)
            *pch++ = ',';
        // The blank after a comma is already there.
        if (i + 1 < nCount)
            ++pch;
    }
}

void ReleaseLogSectionLocked(CLogState& state) {
    state.spSection.reset();
    state.bSectionCreatedHere = false;
    state.nSectionNext = LOG_HEADER_SIZE;
    state.nSectionHighest = LOG_HEADER_SIZE;
}

void CloseLogFileLocked(CLogState& state) {
    state.spFile.reset();
    state.qwFilePos = 0;
}

namespace {

void WriteSectionToFile(CLogState& state) {
    const char* pchView = state.spSection->Data();
    size_t cbView = state.spSection->MappedSize();
    size_t cbText = pchView && state.spSection->IsIntact() ? ::strnlen(pchView, cbView) : 0;
    DWORD dwError = ERROR_SUCCESS;
    std::unique_ptr<IFile> spFile = CPlatform::Files().Open(state.szPath, EFileOpen::CreateAlways, dwError);
    if (spFile && cbText > 0)
        spFile->WriteAt(0, pchView, cbText);
}

} // namespace

void FlushLogLocked(CLogState& state, bool bReleaseView) {
    if (state.spSection) {
        // Letting go, the last user saves the section and removes it, as a Windows section ends with its last
        // handle; a flush that keeps the view writes what the section holds so far.
        const bool bSave = bReleaseView ? state.spSection->TakeOverIfLast() || state.bProductLog
                                        : state.bSectionCreatedHere || state.bProductLog;
        if (bSave)
            WriteSectionToFile(state);
        if (bReleaseView)
            ReleaseLogSectionLocked(state);
        return;
    }
    if (state.bBufferedWrites && state.spFile) {
        if (!state.csBuffer.empty() &&
            state.spFile->WriteAt(state.qwFilePos, state.csBuffer.data(), state.csBuffer.size()))
            state.qwFilePos += state.csBuffer.size();
        state.spFile->Flush();
        state.csBuffer.clear();
    }
}

void FlushLog(bool bReleaseView) {
    CLogState& state = LogState();
    CLogWriteLock lock(state);
    FlushLogLocked(state, bReleaseView);
}

void CloseLog() {
    CLogState& state = LogState();
    CLogWriteLock lock(state);
    ReleaseLogLocked(state);
}

namespace {

// Runs an accessor on the state under the in-process writers' lock.
template <class F> auto WithLockedLogState(F fnAccess) {
    CLogState& state = LogState();
    CAutoLock lock(state.csWriters);
    return fnAccess(state);
}

} // namespace

std::string GetLogPath() {
    return WithLockedLogState([](CLogState& state) { return std::string(state.szPath); });
}

void SetLogPath(const std::string& csPath) {
    return WithLockedLogState(
        [&](CLogState& state) { std::snprintf(state.szPath, sizeof(state.szPath), "%s", csPath.c_str()); });
}

int32_t GetLogMaxSize() {
    return WithLockedLogState([&](CLogState& state) { return state.nMaxSize; });
}

void SetLogMaxSize(int32_t nMaxSize) {
    return WithLockedLogState([&](CLogState& state) { state.nMaxSize = nMaxSize; });
}

int32_t GetLogWrapOffset() {
    return WithLockedLogState([&](CLogState& state) { return state.nWrapOffset; });
}

bool GetLogBufferedWrites() {
    return WithLockedLogState([&](CLogState& state) { return state.bBufferedWrites; });
}

void SetLogBufferedWrites(bool bBuffered) {
    return WithLockedLogState([&](CLogState& state) { state.bBufferedWrites = bBuffered; });
}

std::string GetLogLinePrefix() {
    return WithLockedLogState(
        [&](CLogState& state) { return std::string(state.szLinePrefix, state.cchLinePrefix); });
}

void SetLogLinePrefix(const std::string& csPrefix) {
    return WithLockedLogState([&](CLogState& state) {
        state.cchLinePrefix = std::min(csPrefix.size(), LOG_PREFIX_MAX);
        std::memcpy(state.szLinePrefix, csPrefix.data(), state.cchLinePrefix);
        state.szLinePrefix[state.cchLinePrefix] = '\0';
    });
}

bool IsLogProductLog() {
    return WithLockedLogState([&](CLogState& state) { return state.bProductLog; });
}

CSync* GetLogLock() {
    return WithLockedLogState([&](CLogState& state) { return state.pLogLock; });
}

bool IsLogSectionCreatedHere() {
    return WithLockedLogState([&](CLogState& state) { return state.bSectionCreatedHere; });
}

bool IsLogSectionOpen() {
    return WithLockedLogState([&](CLogState& state) { return state.spSection != nullptr; });
}

size_t GetLogBufferedBytes() {
    return WithLockedLogState([&](CLogState& state) { return state.csBuffer.size(); });
}
