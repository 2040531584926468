// The outside services of the current operating system. The core reaches every one of them through here,
// so tests can put doubles in place of a service for a scope.
#pragma once

#include "platform/ICacheComponent.h"
#include "platform/ICodePages.h"
#include "platform/IDebugOutput.h"
#include "platform/IDirectoryService.h"
#include "platform/IFileSystem.h"
#include "platform/IModules.h"
#include "platform/IRegistry.h"
#include "platform/ISharedMemory.h"
#include "platform/ISysLog.h"
#include "platform/ISystem.h"

class CPlatform {
public:
    static IDebugOutput& Debug();
    static IFileSystem& Files();
    static ISharedMemory& SharedMemory();
    static IModules& Modules();
    static ISystem& System();
    static ISysLog& SysLog();
    static ICodePages& CodePages();
    static ICacheComponents& CacheComponents();
    static IRegistry& Registry();
    static IDirectoryService& Directory();

    // Replace a service (null restores the operating system's); for tests and hosts. Not thread-safe:
    // call before the services are in use.
    static void SetDebug(IDebugOutput* p);
    static void SetFiles(IFileSystem* p);
    static void SetSharedMemory(ISharedMemory* p);
    static void SetModules(IModules* p);
    static void SetSystem(ISystem* p);
    static void SetSysLog(ISysLog* p);
    static void SetCodePages(ICodePages* p);
    static void SetCacheComponents(ICacheComponents* p);
    static void SetRegistry(IRegistry* p);
    static void SetDirectory(IDirectoryService* p);
};

// Writes to the debugger output channel.
inline void OutputDebugText(const char* pszText) {
    CPlatform::Debug().Write(pszText);
}
