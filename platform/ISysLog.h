// The system's event journal behind the event log.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

enum class EEventType { Error, Warning, Information };

class ISysLog {
public:
    virtual ~ISysLog() = default;
    // Opens a source; returns an opaque handle or null.
    virtual void* Open(const std::string& csSource) = 0;
    // Writes one record; returns a Win32 code.
    virtual DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                         const std::vector<std::string>& vTexts, const void* pData, DWORD cbData) = 0;
    virtual bool Close(void* hSource) = 0;
};
