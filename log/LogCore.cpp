#include "log/Log.h"

#include "platform/SystemMessage.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// The plain append writer is the sink until the settings choose another.
void LogAppendWriter(const char* pszText);

namespace {
std::atomic<DWORD> g_dwLogLevel{LOG_LEVEL_OFF};
std::atomic<PFN_LOG_SINK> g_pfnLogSink{&LogAppendWriter};

void Deliver(const char* pszText) {
    PFN_LOG_SINK pfnSink = g_pfnLogSink.load(std::memory_order_acquire);
    if (!pfnSink)
        return;
    try {
        pfnSink(pszText);
    } catch (...) {
        ReportLoggingFailure();
    }
}

// The system text with its line ends turned into blanks, as it is quoted inside one log line.
void SystemTextForLog(DWORD dwCode, char* pszBuffer, size_t cbBuffer) {
    pszBuffer[0] = '\0';
    std::string csText;
    if (!GetSystemMessageText(dwCode, csText))
        csText = SystemMessageOrFallback(dwCode);
    std::snprintf(pszBuffer, cbBuffer, "%s", csText.c_str());
    for (char* p = pszBuffer; *p; ++p)
        if (*p == '\r' || *p == '\n')
            *p = ' ';
}
} // namespace

DWORD GetLogLevel() {
    return g_dwLogLevel.load(std::memory_order_relaxed);
}
void SetLogLevel(DWORD dwLevel) {
    g_dwLogLevel.store(dwLevel, std::memory_order_relaxed);
}
PFN_LOG_SINK GetLogSink() {
    return g_pfnLogSink.load(std::memory_order_acquire);
}
void SetLogSink(PFN_LOG_SINK pfnSink) {
    g_pfnLogSink.store(pfnSink, std::memory_order_release);
}

void ReportLoggingFailure() {
    std::fputs("An error occurred while logging\n", stderr);
}

namespace {

// Formats into the fixed buffer; false (and the failure reported) when the format cannot be used.
bool FormatLogText(char* pszBuffer, size_t cbBuffer, const char* pszFormat, va_list args) {
    if (std::vsnprintf(pszBuffer, cbBuffer, pszFormat, args) >= 0)
        return true;
    ReportLoggingFailure();
    return false;
}

} // namespace

void LogMessage(const char* pszFormat, ...) {
    if (g_dwLogLevel.load(std::memory_order_relaxed) == LOG_LEVEL_OFF)
        return;
    char szMessage[LOG_MESSAGE_MAX];
    va_list args;
    va_start(args, pszFormat);
    const bool bFormatted = FormatLogText(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    if (bFormatted)
        Deliver(szMessage);
}

void LogError(DWORD dwCode, const char* pszFormat, ...) {
    if (g_dwLogLevel.load(std::memory_order_relaxed) == LOG_LEVEL_OFF)
        return;
    char szMessage[LOG_ERROR_MESSAGE_MAX];
    va_list args;
    va_start(args, pszFormat);
    const bool bFormatted = FormatLogText(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    if (!bFormatted)
        return;
    char szSystem[LOG_ERROR_SYSTEM_TEXT_MAX];
    SystemTextForLog(dwCode, szSystem, sizeof(szSystem));
    char szLine[LOG_ERROR_LINE_MAX];
    std::snprintf(szLine, sizeof(szLine), "%s   %s", szMessage, szSystem);
    Deliver(szLine);
}
