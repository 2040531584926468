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
};

class ISharedMemory {
public:
    virtual ~ISharedMemory() = default;
    // Opens an existing section mapping its first cbMap bytes. Null and ERROR_FILE_NOT_FOUND when absent.
    virtual std::unique_ptr<ISharedSection> Open(const std::string& csName, size_t cbMap, DWORD& dwError) = 0;
    // Creates a new zero-filled section of cbSize bytes readable and writable by everyone, mapped whole.
    // Fails with ERROR_ALREADY_EXISTS when another process created it first.
    virtual std::unique_ptr<ISharedSection> Create(const std::string& csName, size_t cbSize,
                                                   DWORD& dwError) = 0;
    // Removes the name (existing mappings stay valid).
    virtual bool Unlink(const std::string& csName) = 0;
};
