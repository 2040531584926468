// The calling thread's last Win32 error: a word of its own, as Windows keeps one per thread, so that the C
// library calls between a failure and its report cannot change it (errno would, and its values collide with
// Win32 codes). The module and its host are separate binaries with a word each; for the length of a call
// the host hands the module its word, so that both report through the same one.
#pragma once

#include "platform/WinTypes.h"

DWORD PlatformGetLastError();
void PlatformSetLastError(DWORD dwError);

// The word the calling thread reports through now: its own, or the one bound by a CThreadErrorWordScope.
DWORD* PlatformThreadErrorWord();

// Binds the calling thread's error word to another one (the host's) for a scope; null keeps the thread's own.
class CThreadErrorWordScope {
public:
    explicit CThreadErrorWordScope(DWORD* pdwWord);
    ~CThreadErrorWordScope();
    CThreadErrorWordScope(const CThreadErrorWordScope&) = delete;
    CThreadErrorWordScope& operator=(const CThreadErrorWordScope&) = delete;

private:
    DWORD* m_pdwPrevious;
};
