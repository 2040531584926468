#include "platform/CEventLog.h"

#include "platform/CPlatform.h"
#include "platform/ThreadIdentity.h"

#include <cstdarg>
#include <mutex>
#include <new>

CEventLog::~CEventLog() {
    Deregister();
}

bool CEventLog::Register(const char* pszSource) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_hSource || m_bRegistered)
        return false;
    try {
        m_hSource = CPlatform::SysLog().Open(pszSource ? pszSource : c_pszDefaultSource);
    } catch (const std::bad_alloc&) {
        m_hSource = nullptr;
    }
    m_bRegistered = m_hSource != nullptr;
    return m_bRegistered;
}

bool CEventLog::Deregister() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bRegistered = false;
    if (!m_hSource)
        return false;
    bool bClosed = CPlatform::SysLog().Close(m_hSource);
    m_hSource = nullptr;
    return bClosed;
}

bool CEventLog::IsRegistered() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bRegistered;
}

EEventType CEventLog::MapEventType(WORD wType) {
    switch (wType) {
    case EVENTLOG_ERROR_TYPE:
        return EEventType::Error;
    case EVENTLOG_WARNING_TYPE:
        return EEventType::Warning;
    default:
        return EEventType::Information;
    }
}

DWORD CEventLog::Report(WORD wType, WORD wCategory, DWORD dwEventId, DWORD cbData, const void* pData, ...) {
    try {
        std::vector<std::string> vTexts;
        va_list args;
        va_start(args, pData);
        // Arguments past the sixth are never read, whether or not a null follows them.
        while (vTexts.size() < c_cMaxInsertions) {
            const char* pszText = va_arg(args, const char*);
            if (!pszText)
                break;
            vTexts.emplace_back(pszText);
        }
        va_end(args);
        return ReportTexts(wType, wCategory, dwEventId, cbData, pData, vTexts);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CEventLog::Report(WORD wType, WORD wCategory, DWORD dwEventId, DWORD cbData, const void* pData,
                        const std::vector<std::string>& vTexts) {
    try {
        if (vTexts.size() <= c_cMaxInsertions)
            return ReportTexts(wType, wCategory, dwEventId, cbData, pData, vTexts);
        std::vector<std::string> vFirst(vTexts.begin(), vTexts.begin() + c_cMaxInsertions);
        return ReportTexts(wType, wCategory, dwEventId, cbData, pData, vFirst);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CEventLog::ReportTexts(WORD wType, WORD wCategory, DWORD dwEventId, DWORD cbData, const void* pData,
                             const std::vector<std::string>& vTexts) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_hSource)
        return ERROR_INVALID_PARAMETER;
    if (cbData && !pData)
        return ERROR_INVALID_PARAMETER;
    // The journal is written with the process's rights, not the request user's; only this thread reverts.
    CRevertToSelfScope asProcess;
    return CPlatform::SysLog().Report(m_hSource, MapEventType(wType), wCategory, dwEventId, vTexts,
                                      cbData ? pData : nullptr, cbData);
}
