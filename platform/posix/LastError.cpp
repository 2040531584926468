#include "platform/LastError.h"

namespace {

// Plain words without destructors, so that the module can still be unloaded.
thread_local DWORD t_dwOwnWord = ERROR_SUCCESS;
thread_local DWORD* t_pdwBoundWord = nullptr;

} // namespace

DWORD* PlatformThreadErrorWord() {
    return t_pdwBoundWord ? t_pdwBoundWord : &t_dwOwnWord;
}

DWORD PlatformGetLastError() {
    return *PlatformThreadErrorWord();
}

void PlatformSetLastError(DWORD dwError) {
    *PlatformThreadErrorWord() = dwError;
}

CThreadErrorWordScope::CThreadErrorWordScope(DWORD* pdwWord) : m_pdwPrevious(t_pdwBoundWord) {
    if (pdwWord)
        t_pdwBoundWord = pdwWord;
}

CThreadErrorWordScope::~CThreadErrorWordScope() {
    t_pdwBoundWord = m_pdwPrevious;
}
