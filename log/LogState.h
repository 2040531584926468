// The log state shared by the writers and the configuration. Internal to the log.
#pragma once

#include "log/LogWriters.h"
#include "platform/CPlatform.h"
#include "platform/CSync.h"

#include <memory>
#include <string>

// Longest line prefix: "[" + a file name of up to 260 characters + "] ".
constexpr size_t LOG_PREFIX_MAX = MAX_PATH + 3;

struct CLogState {
    // Serialises the writers of this process and guards everything below; taken before the log lock.
    CCritSec csWriters;
    CSync* pLogLock = nullptr;
    void* hLogModule = nullptr;

    char szPath[MAX_PATH + 1] = {};
    char szLinePrefix[LOG_PREFIX_MAX + 1] = {};
    size_t cchLinePrefix = 0;
    int32_t nMaxSize = LOG_DEFAULT_MAX_SIZE;
    int32_t nWrapOffset = LOG_DEFAULT_WRAP_OFFSET;
    int32_t nBufferReserve = LOG_DEFAULT_BUFFER_RESERVE;
    bool bBufferedWrites = true;
    bool bProductLog = false;
    bool bAppendWriterStarted = false;

    // Shared-memory writer.
    std::unique_ptr<ISharedSection> spSection;
    bool bSectionCreatedHere = false;
    int32_t nSectionNext = LOG_HEADER_SIZE;
    int32_t nSectionHighest = LOG_HEADER_SIZE;

    // Buffered file writer: the open file, where the next write goes, and the entries not yet written.
    std::unique_ptr<IFile> spFile;
    uint64_t qwFilePos = 0;
    std::string csBuffer;

    CLogState();
};

// The one state of the process; it lives in static storage and is never destroyed, so that writers called
// from other static destructors still find it.
CLogState& LogState();

// Holds the in-process lock and then the log lock for a writer's whole update.
class CLogWriteLock {
public:
    explicit CLogWriteLock(CLogState& state) : m_state(state) {
        m_state.csWriters.Lock();
        m_pLogLock = m_state.pLogLock;
        if (m_pLogLock)
            m_pLogLock->Lock();
    }
    ~CLogWriteLock() {
        if (m_pLogLock)
            m_pLogLock->Unlock();
        m_state.csWriters.Unlock();
    }
    CLogWriteLock(const CLogWriteLock&) = delete;
    CLogWriteLock& operator=(const CLogWriteLock&) = delete;

private:
    CLogState& m_state;
    CSync* m_pLogLock = nullptr;
};

// "\r\nYYYY/MM/DD hh:mm:ss.mmm TTTT " for the current local time and thread; returns its length.
size_t FormatLogTimeStamp(char* pszBuffer, size_t cbBuffer);
// The file name and extension of a path (after the last "/" or "\").
std::string LogFileNameOf(const std::string& csPath);
// Parses up to nCount integers separated by commas and blanks; a missing or unparsable one is 0.
void ParseLogHeader(const char* pchHeader, size_t cbHeader, int32_t* pnValues, int nCount);
// Fills the first 100 bytes with the values joined by ", " (and a trailing "," when asked), padded with
// blanks.
void FormatLogHeader(char* pchHeader, const int32_t* pnValues, int nCount, bool bTrailingComma);

// With the in-process lock held.
void FlushLogLocked(CLogState& state, bool bReleaseView);
void ReleaseLogSectionLocked(CLogState& state);
void CloseLogFileLocked(CLogState& state);
