// The POSIX implementations of the platform services.
#pragma once

#include "platform/CPlatform.h"

IDebugOutput& PosixDebugOutput();
IFileSystem& PosixFileSystem();
ISharedMemory& PosixSharedMemory();
IModules& PosixModules();
ISystem& PosixSystem();
ISysLog& PosixSysLog();
ICodePages& PosixCodePages();
IRegistry& PosixRegistry();
IDirectoryService& PosixDirectory();
// The cache component runs inside the process on every system without the outside server.
ICacheComponents& InProcessCacheComponents();
