#include "log/LogState.h"

#include <algorithm>
#include <cstring>

namespace {

// The margin kept free in the buffer beyond the entry being added.
constexpr size_t LOG_BUFFER_MARGIN = 259;

// The time stamp line (taken before the lock), the prefix, the message and a blank.
struct CEntry {
    char szStamp[64];
    size_t cchStamp;
    const char* pszText;
};

void AppendEntry(std::string& csTo, const CLogState& state, const CEntry& entry) {
    csTo.append(entry.szStamp, entry.cchStamp);
    csTo.append(state.szLinePrefix, state.cchLinePrefix);
    csTo.append(entry.pszText);
    csTo.push_back(' ');
}

// Writes at the buffered writer's position; past the maximum size it goes on at the wrap offset, keeping
// the oldest entries at the head of the file.
void WriteAtPosition(CLogState& state, const char* pch, size_t cb) {
    if (state.nMaxSize > state.nWrapOffset && state.qwFilePos + cb > static_cast<uint64_t>(state.nMaxSize) &&
        state.qwFilePos > static_cast<uint64_t>(state.nWrapOffset))
        state.qwFilePos = static_cast<uint64_t>(state.nWrapOffset);
    if (state.spFile->WriteAt(state.qwFilePos, pch, cb))
        state.qwFilePos += cb;
}

void WriteBuffered(CLogState& state, const CEntry& entry) {
    if (!state.spFile) {
        DWORD dwError = ERROR_SUCCESS;
        state.spFile = CPlatform::Files().Open(state.szPath, EFileOpen::OpenAlways, dwError);
        if (!state.spFile)
            return;
        // A restart goes on behind what earlier runs wrote.
        state.qwFilePos = state.spFile->Size();
    }
    size_t cbBefore = state.csBuffer.size();
    AppendEntry(state.csBuffer, state, entry);
    size_t cbEntry = state.csBuffer.size() - cbBefore;
    if (cbBefore + cbEntry + LOG_BUFFER_MARGIN <= static_cast<size_t>(std::max(state.nBufferReserve, 0)))
        return;
    // The buffer and then the entry, in one write.
    WriteAtPosition(state, state.csBuffer.data(), state.csBuffer.size());
    state.csBuffer.clear();
}

void WriteUnbuffered(CLogState& state, const CEntry& entry) {
    if (state.spFile)
        FlushLogLocked(state, false);
    CloseLogFileLocked(state);
    if (state.nMaxSize <= state.nWrapOffset)
        return;

    DWORD dwError = ERROR_SUCCESS;
    std::unique_ptr<IFile> spFile = CPlatform::Files().Open(state.szPath, EFileOpen::OpenAlways, dwError);
    if (!spFile)
        return;
    char achHeader[LOG_HEADER_SIZE] = {};
    size_t cbRead = 0;
    int32_t anHeader[2] = {};
    if (spFile->ReadAt(0, achHeader, sizeof(achHeader), cbRead))
        ParseLogHeader(achHeader, cbRead, anHeader, 2);

    const int64_t nMaxSize = state.nMaxSize;
    // Behind the header plus the wrap offset: the first wrap-offset bytes of entries are kept.
    int64_t nResume = static_cast<int64_t>(LOG_HEADER_SIZE) + state.nWrapOffset;
    if (nResume >= nMaxSize)
        nResume = LOG_HEADER_SIZE;
    int64_t nNext = anHeader[0];
    // An offset before the first entry or past the end of the file is not one this writer left.
    if (nNext < LOG_HEADER_SIZE || static_cast<uint64_t>(nNext) > spFile->Size())
        nNext = LOG_HEADER_SIZE;
    else if (nNext >= nMaxSize)
        nNext = nResume;
    int64_t nHighest = std::clamp<int64_t>(anHeader[1], LOG_HEADER_SIZE, nMaxSize);

    std::string csEntry;
    AppendEntry(csEntry, state, entry);
    if (nNext + static_cast<int64_t>(csEntry.size()) > nMaxSize)
        nNext = nResume;
    size_t cbWrite = std::min<size_t>(csEntry.size(), static_cast<size_t>(nMaxSize - nNext));
    if (!spFile->WriteAt(static_cast<uint64_t>(nNext), csEntry.data(), cbWrite))
        return;

    nNext += static_cast<int64_t>(cbWrite);
    nHighest = std::max(nHighest, nNext);
    if (nNext >= nMaxSize)
        nNext = nResume;
    int32_t anNew[2] = {static_cast<int32_t>(nNext), static_cast<int32_t>(nHighest)};
    FormatLogHeader(achHeader, anNew, 2, true);
    spFile->WriteAt(0, achHeader, sizeof(achHeader));
}

} // namespace

void LogFileWriter(const char* pszText) {
    if (!pszText)
        return;
    CEntry entry;
    entry.cchStamp = FormatLogTimeStamp(entry.szStamp, sizeof(entry.szStamp));
    entry.pszText = pszText;
    CLogState& state = LogState();
    CLogWriteLock lock(state);
    if (state.bBufferedWrites)
        WriteBuffered(state, entry);
    else
        WriteUnbuffered(state, entry);
}
