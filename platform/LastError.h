// The calling thread's last Win32 error, shared by the module and the host that calls it (the IIS callbacks
// report their failures through it).
#pragma once

#include "platform/WinTypes.h"

DWORD PlatformGetLastError();
void PlatformSetLastError(DWORD dwError);
