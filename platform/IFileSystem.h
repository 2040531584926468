// Files as the log, settings and version readers need them.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Windows file time: 100-nanosecond intervals since 1601-01-01 UTC.
typedef uint64_t FILETIME64;

enum class EFileOpen {
    ReadExisting, // read only (writes fail); fail when missing
    OpenExisting, // fail when missing
    OpenAlways,   // create when missing, keep the content
    CreateAlways, // create or truncate
};

class IFile {
public:
    virtual ~IFile() = default;
    // Reads up to cb bytes at the offset; dwRead receives the count. False on an I/O error.
    virtual bool ReadAt(uint64_t qwOffset, void* pBuffer, size_t cb, size_t& cbRead) = 0;
    // Writes all cb bytes at the offset.
    virtual bool WriteAt(uint64_t qwOffset, const void* pBuffer, size_t cb) = 0;
    // Writes all cb bytes at the end of the file.
    virtual bool Append(const void* pBuffer, size_t cb) = 0;
    virtual bool Flush() = 0;
    virtual uint64_t Size() = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // Opens for reading and writing (ReadExisting: reading only), shared for reading. On failure returns null
    // and a Win32 code.
    virtual std::unique_ptr<IFile> Open(const std::string& csPath, EFileOpen eMode, DWORD& dwError) = 0;
    virtual bool Exists(const std::string& csPath) = 0;
    virtual bool GetLastWriteTime(const std::string& csPath, FILETIME64& ftTime, DWORD& dwError) = 0;
    // Creates the folder and its missing parents.
    virtual bool CreateDirectories(const std::string& csPath) = 0;
    virtual bool Remove(const std::string& csPath) = 0;
};
