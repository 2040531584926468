// Clock, thread identity number, system folders and message texts.
#pragma once

#include "platform/WinTypes.h"

#include <string>

struct CSystemTime {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDayOfWeek = 0;
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
};

// The DNS names a machine has (the kinds of GetComputerNameEx that the settings read).
enum class EComputerName {
    DnsHostname,
    DnsFullyQualified,
};

class ISystem {
public:
    virtual ~ISystem() = default;
    virtual CSystemTime GetLocalTime() = 0;
    virtual CSystemTime FileTimeToUtc(uint64_t ftTime) = 0;
    // The current time in the ctime form, without its trailing line feed.
    virtual std::string CTimeNow() = 0;
    virtual DWORD GetCurrentThreadId() = 0;
    virtual DWORD GetCurrentProcessId() = 0;
    // The folder under which the product log folder "BrindlemarkLogs" lies: "/var/log" here, the system
    // folder's "LogFiles" on Windows.
    virtual std::string GetSystemLogRoot() = 0;
    // The file the log falls back to when no configured path fits.
    virtual std::string GetFallbackLogPath() = 0;
    virtual char PathSeparator() = 0;
    // The value of an environment variable, or empty.
    virtual std::string GetEnv(const char* pszName) = 0;
    // The computer's name of that kind, with the buffer protocol of GetComputerNameEx: dwSize is the room in
    // pszBuffer (characters, with the terminating zero). When the name does not fit, the call fails with
    // ERROR_MORE_DATA and dwSize receives the room needed; on success dwSize receives the name's length.
    // Other failures return FALSE with their Win32 code in dwError.
    virtual BOOL GetComputerNameEx(EComputerName eKind, char* pszBuffer, DWORD& dwSize, DWORD& dwError) = 0;
};
