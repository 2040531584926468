// The POSIX implementations of the platform services.
#pragma once

#include "platform/CPlatform.h"

IDebugOutput& PosixDebugOutput();
IFileSystem& PosixFileSystem();
ISharedMemory& PosixSharedMemory();
IModules& PosixModules();
ISystem& PosixSystem();
ISysLog& PosixSysLog();
