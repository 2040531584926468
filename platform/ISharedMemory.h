// Named shared-memory sections, as the diagnostic log's circular writer uses them.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <memory>
#include <string>

class ISharedSection {
public:
    virtual ~ISharedSection() = default;
    virtual char* Data() = 0;
    virtual size_t MappedSize() const = 0;
    // Maps the first cb bytes of the section (cb may exceed the current mapping, up to the section size).
    virtual bool Remap(size_t cb) = 0;
    virtual size_t SectionSize() const = 0;
    // False once the section no longer backs the whole view (something shrank it): touching the view then
    // would fault, so the caller lets the section go instead.
    virtual bool IsIntact() const = 0;
    // Called just before letting go: true when no other process holds the section. The caller then saves
    // what it holds; the name is removed when this object goes, and until then no other process joins.
    virtual bool TakeOverIfLast() = 0;
};

class ISharedMemory {
public:
    virtual ~ISharedMemory() = default;
    // Opens an existing section mapping its first cbMap bytes. Null and ERROR_FILE_NOT_FOUND when absent;
    // ERROR_ACCESS_DENIED for a section another account owns or that is not a plain section.
    virtual std::unique_ptr<ISharedSection> Open(const std::string& csName, size_t cbMap, DWORD& dwError) = 0;
    // Creates a new zero-filled section of cbSize bytes that only this account can open, with its memory
    // reserved (ERROR_DISK_FULL when it cannot be), mapped whole. Fails with ERROR_ALREADY_EXISTS when
    // another process created it first.
    virtual std::unique_ptr<ISharedSection> Create(const std::string& csName, size_t cbSize,
                                                   DWORD& dwError) = 0;
    // Removes the name (existing mappings stay valid).
    virtual bool Unlink(const std::string& csName) = 0;
};
