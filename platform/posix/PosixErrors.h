// errno to Win32 code, for the POSIX backends.
#pragma once

#include "platform/WinTypes.h"

DWORD Win32FromErrno(int nErrno);
