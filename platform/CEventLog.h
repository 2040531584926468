// One registered source of the system's event journal. The general settings own one, register it at
// initialisation and deregister it at termination; request threads report through it concurrently.
#pragma once

#include "platform/ISysLog.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// Event types as callers pass them to Report.
constexpr WORD EVENTLOG_ERROR_TYPE = 1;
constexpr WORD EVENTLOG_WARNING_TYPE = 2;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 4;

#if defined(__GNUC__)
// The compiler checks that every call ends its insertions with a null pointer.
#define WK_NULL_TERMINATED __attribute__((sentinel))
#else
#define WK_NULL_TERMINATED
#endif

class CEventLog {
public:
    static constexpr size_t c_cMaxInsertions = 6;
    static constexpr const char* c_pszDefaultSource = "Brindlemark Quillspeck";

    CEventLog() = default;
    // Deregisters a source that is still registered.
    virtual ~CEventLog();
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    // Opens the source (the default source for null). False, and nothing done, when a source is registered
    // already; false when the journal refuses the source.
    bool Register(const char* pszSource);
    // Closes the source; false when there was none or the journal could not close it.
    bool Deregister();
    bool IsRegistered() const;

    // Writes one event: the caller's type (EVENTLOG_*), category, event ID, optional raw data, then the text
    // insertions as const char* ended by a null pointer; only the first six are written. Runs as the process
    // for the duration of the call. Returns 0, ERROR_INVALID_PARAMETER when no source is registered (nothing
    // is written) or raw data is missing, or the journal's error.
    DWORD Report(WORD wType, WORD wCategory, DWORD dwEventId, DWORD cbData, const void* pData,
                 ...) WK_NULL_TERMINATED;
    // The same with the insertions in a list; only the first six are written.
    DWORD Report(WORD wType, WORD wCategory, DWORD dwEventId, DWORD cbData, const void* pData,
                 const std::vector<std::string>& vTexts);

    // The journal's type for a caller's type: 1 error, 2 warning, anything else information.
    static EEventType MapEventType(WORD wType);

private:
    DWORD ReportTexts(WORD wType, WORD wCategory, DWORD dwEventId, DWORD cbData, const void* pData,
                      const std::vector<std::string>& vTexts);

    // A source is never closed under a report. One plain lock: the journal writes one record at a time
    // anyway, and a reader-writer lock would let a stream of reports starve Deregister.
    mutable std::mutex m_lock;
    void* m_hSource = nullptr;
    bool m_bRegistered = false;
};
