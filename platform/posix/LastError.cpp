#include "platform/LastError.h"

#include <cerrno>

// errno is the one per-thread error word that every binary of the process shares, as the Windows last error
// is; the host's callbacks set it right before they return.
DWORD PlatformGetLastError() {
    return static_cast<DWORD>(errno);
}

void PlatformSetLastError(DWORD dwError) {
    errno = static_cast<int>(dwError);
}
