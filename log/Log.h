// The diagnostic log: one printf-style entry point for every component, and an error variant that appends
// the system's text of an error code. Nothing is formatted or allocated while logging is off.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>

#define WK_PRINTF_FORMAT(nFormat, nFirst) __attribute__((format(printf, nFormat, nFirst)))

typedef void (*PFN_LOG_SINK)(const char* pszText);

// Log level: 0 is off; bit 0x2 means that entries are written.
constexpr DWORD LOG_LEVEL_OFF = 0;
constexpr DWORD LOG_LEVEL_ON = 2;

constexpr size_t LOG_MESSAGE_MAX = 4096;
constexpr size_t LOG_ERROR_MESSAGE_MAX = 512;
constexpr size_t LOG_ERROR_SYSTEM_TEXT_MAX = 512;
constexpr size_t LOG_ERROR_LINE_MAX = 2048;

void LogMessage(const char* pszFormat, ...) WK_PRINTF_FORMAT(1, 2);
void LogError(DWORD dwCode, const char* pszFormat, ...) WK_PRINTF_FORMAT(2, 3);

DWORD GetLogLevel();
void SetLogLevel(DWORD dwLevel);
// True while entries are written: results that are otherwise remembered are worked out, and logged, anew.
inline bool IsLogWriting() {
    return (GetLogLevel() & LOG_LEVEL_ON) != 0;
}
PFN_LOG_SINK GetLogSink();
void SetLogSink(PFN_LOG_SINK pfnSink);

// Called when a formatting step or the sink failed; on POSIX one line on standard error.
void ReportLoggingFailure();
