#include "platform/CPlatform.h"

#include "platform/posix/PosixServices.h"

#include <atomic>

namespace {
std::atomic<IDebugOutput*> g_pDebug{nullptr};
std::atomic<IFileSystem*> g_pFiles{nullptr};
std::atomic<ISharedMemory*> g_pSharedMemory{nullptr};
std::atomic<IModules*> g_pModules{nullptr};
std::atomic<ISystem*> g_pSystem{nullptr};
std::atomic<ISysLog*> g_pSysLog{nullptr};
std::atomic<ICodePages*> g_pCodePages{nullptr};
std::atomic<ICacheComponents*> g_pCacheComponents{nullptr};
std::atomic<IRegistry*> g_pRegistry{nullptr};
std::atomic<IDirectoryService*> g_pDirectory{nullptr};

template <class T> T& Pick(const std::atomic<T*>& override, T& (*pfnDefault)()) {
    T* p = override.load(std::memory_order_acquire);
    return p ? *p : pfnDefault();
}
} // namespace

IDebugOutput& CPlatform::Debug() {
    return Pick(g_pDebug, &PosixDebugOutput);
}
IFileSystem& CPlatform::Files() {
    return Pick(g_pFiles, &PosixFileSystem);
}
ISharedMemory& CPlatform::SharedMemory() {
    return Pick(g_pSharedMemory, &PosixSharedMemory);
}
IModules& CPlatform::Modules() {
    return Pick(g_pModules, &PosixModules);
}
ISystem& CPlatform::System() {
    return Pick(g_pSystem, &PosixSystem);
}
ISysLog& CPlatform::SysLog() {
    return Pick(g_pSysLog, &PosixSysLog);
}
ICodePages& CPlatform::CodePages() {
    return Pick(g_pCodePages, &PosixCodePages);
}
ICacheComponents& CPlatform::CacheComponents() {
    return Pick(g_pCacheComponents, &InProcessCacheComponents);
}
IRegistry& CPlatform::Registry() {
    return Pick(g_pRegistry, &PosixRegistry);
}
IDirectoryService& CPlatform::Directory() {
    return Pick(g_pDirectory, &PosixDirectory);
}

void CPlatform::SetDebug(IDebugOutput* p) {
    g_pDebug.store(p, std::memory_order_release);
}
void CPlatform::SetFiles(IFileSystem* p) {
    g_pFiles.store(p, std::memory_order_release);
}
void CPlatform::SetSharedMemory(ISharedMemory* p) {
    g_pSharedMemory.store(p, std::memory_order_release);
}
void CPlatform::SetModules(IModules* p) {
    g_pModules.store(p, std::memory_order_release);
}
void CPlatform::SetSystem(ISystem* p) {
    g_pSystem.store(p, std::memory_order_release);
}
void CPlatform::SetSysLog(ISysLog* p) {
    g_pSysLog.store(p, std::memory_order_release);
}
void CPlatform::SetCodePages(ICodePages* p) {
    g_pCodePages.store(p, std::memory_order_release);
}
void CPlatform::SetCacheComponents(ICacheComponents* p) {
    g_pCacheComponents.store(p, std::memory_order_release);
}
void CPlatform::SetRegistry(IRegistry* p) {
    g_pRegistry.store(p, std::memory_order_release);
}
void CPlatform::SetDirectory(IDirectoryService* p) {
    g_pDirectory.store(p, std::memory_order_release);
}
