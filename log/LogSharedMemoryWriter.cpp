#include "log/LogState.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t LOG_SECTION_NAME_MAX = MAX_PATH + 8;
// Room kept for the time stamp line when deciding whether an entry still fits before the end.
constexpr int64_t LOG_ENTRY_MARGIN = 260;

// "Global\" and the log file's name: every process that logs to the same file shares the section.
std::string SectionNameFor(const char* pszPath) {
    return "Global\\" + LogFileNameOf(pszPath);
}

int32_t HeaderSizeOf(ISharedSection& section) {
    if (section.MappedSize() < static_cast<size_t>(LOG_HEADER_SIZE))
        return 0;
    int32_t anHeader[4] = {};
    ParseLogHeader(section.Data(), LOG_HEADER_SIZE, anHeader, 4);
    return anHeader[3];
}

// Opens the section another process created, adopting the size its creator gave it.
bool OpenExistingSection(CLogState& state, const std::string& csName, DWORD& dwError) {
    std::unique_ptr<ISharedSection> spSection =
        CPlatform::SharedMemory().Open(csName, static_cast<size_t>(LOG_HEADER_SIZE), dwError);
    if (!spSection || spSection->MappedSize() < static_cast<size_t>(LOG_HEADER_SIZE))
        return false;
    int64_t nSize = HeaderSizeOf(*spSection);
    // A header that claims more than the section holds is not believed.
    if (nSize <= LOG_HEADER_SIZE || static_cast<uint64_t>(nSize) > spSection->SectionSize())
        nSize = static_cast<int64_t>(std::min<uint64_t>(spSection->SectionSize(), INT32_MAX));
    if (static_cast<size_t>(nSize) != spSection->MappedSize() &&
        !spSection->Remap(static_cast<size_t>(nSize)))
        return false;
    state.nMaxSize = static_cast<int32_t>(nSize);
    state.spSection = std::move(spSection);
    state.bSectionCreatedHere = false;
    return true;
}

// A new section goes on from the log file a previous last user left, so that the lines of processes that ran
// one after another all stay in the file. A file that does not hold the layout is not continued.
void ContinueFromLogFile(CLogState& state, ISharedSection& section) {
    DWORD dwError = ERROR_SUCCESS;
    std::unique_ptr<IFile> spFile = CPlatform::Files().Open(state.szPath, EFileOpen::ReadExisting, dwError);
    size_t cbRead = 0;
    if (!spFile || !spFile->ReadAt(0, section.Data(), static_cast<size_t>(state.nMaxSize), cbRead))
        cbRead = 0;
    int32_t anFile[4] = {};
    if (cbRead > static_cast<size_t>(LOG_HEADER_SIZE))
        ParseLogHeader(section.Data(), LOG_HEADER_SIZE, anFile, 4);
    const int32_t nRead = static_cast<int32_t>(cbRead);
    const bool bLayout =
        anFile[0] >= LOG_HEADER_SIZE && anFile[0] <= nRead && anFile[1] >= anFile[0] && anFile[1] <= nRead;
    if (!bLayout) {
        std::memset(section.Data(), 0, cbRead);
        anFile[0] = anFile[1] = LOG_HEADER_SIZE;
    }
    // The writer moves to the wrap offset when the next entry would not fit.
    int32_t anHeader[4] = {anFile[0], anFile[1], state.nWrapOffset, state.nMaxSize};
    FormatLogHeader(section.Data(), anHeader, 4, false);
}

bool CreateSection(CLogState& state, const std::string& csName, DWORD& dwError) {
    std::unique_ptr<ISharedSection> spSection =
        CPlatform::SharedMemory().Create(csName, static_cast<size_t>(state.nMaxSize), dwError);
    if (!spSection || spSection->MappedSize() < static_cast<size_t>(state.nMaxSize)) {
        if (dwError == ERROR_DISK_FULL)
            OutputDebugText(
                "\nThe log section cannot be reserved (shared memory is full): no shared-memory log");
        return false;
    }
    ContinueFromLogFile(state, *spSection);
    state.spSection = std::move(spSection);
    state.bSectionCreatedHere = true;
    return true;
}

bool EnsureSection(CLogState& state) {
    if (state.spSection)
        return true;
    std::string csName = SectionNameFor(state.szPath);
    if (csName.size() > LOG_SECTION_NAME_MAX)
        return false;
    DWORD dwError = ERROR_SUCCESS;
    for (int nTry = 0; nTry < 2; ++nTry) {
        if (OpenExistingSection(state, csName, dwError))
            return true;
        if (dwError != ERROR_FILE_NOT_FOUND)
            return false;
        if (CreateSection(state, csName, dwError))
            return true;
        // Another process created it between our open and our create, or its last user was saving it: the
        // open after the save finds it gone and creates it anew.
        if (dwError != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// Copies as much of the text as fits before pchLimit; returns the new write position.
char* CopyBounded(char* pchTo, const char* pchLimit, const char* pchFrom, size_t cch) {
    size_t cchRoom = static_cast<size_t>(pchLimit - pchTo);
    size_t cchCopy = std::min(cch, cchRoom);
    std::memcpy(pchTo, pchFrom, cchCopy);
    return pchTo + cchCopy;
}

void WriteEntry(CLogState& state, const char* pszStamp, size_t cchStamp, const char* pszText) {
    ISharedSection& section = *state.spSection;
    // A section shrunk under the view would fault on the first byte past its end: let it go instead (the
    // next line opens it again as it is now).
    if (!section.IsIntact()) {
        ReleaseLogSectionLocked(state);
        return;
    }
    char* pchView = section.Data();
    // Every value read from the header is checked against the mapping: another process may have left it
    // damaged, and a write outside the view would take this process down.
    const int64_t nMapped = static_cast<int64_t>(std::min<size_t>(section.MappedSize(), INT32_MAX));
    int32_t anHeader[4] = {};
    ParseLogHeader(pchView, LOG_HEADER_SIZE, anHeader, 4);

    int64_t nSize =
        anHeader[3] > 0 && anHeader[3] <= nMapped ? anHeader[3] : std::min<int64_t>(state.nMaxSize, nMapped);
    if (nSize <= LOG_HEADER_SIZE)
        return;
    int64_t nWrap = anHeader[2] > 0 ? anHeader[2] : state.nWrapOffset;
    if (nWrap < LOG_HEADER_SIZE || nWrap >= nSize)
        nWrap = state.nWrapOffset >= LOG_HEADER_SIZE && state.nWrapOffset < nSize ? state.nWrapOffset
                                                                                  : LOG_HEADER_SIZE;
    int64_t nNext = anHeader[0] > 0 ? anHeader[0] : state.nSectionNext;
    if (nNext < LOG_HEADER_SIZE || nNext >= nSize)
        nNext = nWrap;
    int64_t nHighest = anHeader[1] > 0 ? anHeader[1] : state.nSectionHighest;
    if (nHighest < LOG_HEADER_SIZE || nHighest > nSize)
        nHighest = std::clamp<int64_t>(state.nSectionHighest, LOG_HEADER_SIZE, nSize);

    const size_t cchMessage = std::strlen(pszText);
    if (nNext + static_cast<int64_t>(state.cchLinePrefix + cchMessage) + LOG_ENTRY_MARGIN >= nSize)
        nNext = nWrap;

    char* pchLimit = pchView + nSize;
    char* pch = pchView + nNext;
    pch = CopyBounded(pch, pchLimit, pszStamp, cchStamp);
    pch = CopyBounded(pch, pchLimit, state.szLinePrefix, state.cchLinePrefix);
    pch = CopyBounded(pch, pchLimit, pszText, cchMessage);
    pch = CopyBounded(pch, pchLimit, " ", 1);

    nNext = pch - pchView;
    nHighest = std::max(nHighest, nNext);
    if (nNext >= nSize)
        nNext = nWrap;
    state.nSectionNext = static_cast<int32_t>(nNext);
    state.nSectionHighest = static_cast<int32_t>(nHighest);

    int32_t anNew[4] = {static_cast<int32_t>(nNext), static_cast<int32_t>(nHighest),
                        static_cast<int32_t>(nWrap), static_cast<int32_t>(nSize)};
    FormatLogHeader(pchView, anNew, 4, false);
}

} // namespace

void LogSharedMemoryWriter(const char* pszText) {
    if (!pszText)
        return;
    // The time stamp is taken before the lock: it is when the line was logged, and the clock and thread
    // number need system calls that other writers should not wait for.
    char szStamp[64];
    size_t cchStamp = FormatLogTimeStamp(szStamp, sizeof(szStamp));
    CLogState& state = LogState();
    CLogWriteLock lock(state);
    if (state.nMaxSize <= state.nWrapOffset)
        return;
    if (!EnsureSection(state))
        return;
    WriteEntry(state, szStamp, cchStamp, pszText);
}
