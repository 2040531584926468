#include "platform/posix/PosixSysLog.h"

#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

struct CSysLogSource {
    std::string csIdent;
    // An empty name takes the program's name, as syslog does for no ident.
    const char* Ident() const { return csIdent.empty() ? nullptr : csIdent.c_str(); }
};

class CPosixSysLog : public ISysLog {
public:
    void* Open(const std::string& csSource) override { return new CSysLogSource{csSource}; }

    DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                 const std::vector<std::string>& vTexts, const void* pData, DWORD cbData) override {
        if (!hSource)
            return ERROR_INVALID_HANDLE;
        const auto* pSource = static_cast<const CSysLogSource*>(hSource);
        std::string csMessage = FormatSysLogMessage(wCategory, dwEventId, vTexts, pData, cbData);
        // The ident is process-wide state and openlog keeps only the pointer, so reports take turns. closelog
        // forgets the pointer (a syslog() call by the host waits for it inside the C library), so the source
        // may be closed and its name freed afterwards; it also puts the host back on the default ident
        // instead of leaving ours on its lines. A source is never closed during its own report (the event
        // log's lock).
        std::lock_guard<std::mutex> guard(m_lock);
        ::openlog(pSource->Ident(), LOG_PID, LOG_USER);
        ::syslog(SysLogPriorityOf(eType), "%s", csMessage.c_str());
        ::closelog();
        return ERROR_SUCCESS;
    }

    bool Close(void* hSource) override {
        delete static_cast<CSysLogSource*>(hSource);
        return hSource != nullptr;
    }

private:
    std::mutex m_lock;
};

} // namespace

std::string FormatSysLogMessage(WORD wCategory, DWORD dwEventId, const std::vector<std::string>& vTexts,
                                const void* pData, DWORD cbData) {
    char szHead[64];
    std::snprintf(szHead, sizeof(szHead), "event 0x%08X category %u", static_cast<unsigned>(dwEventId),
                  static_cast<unsigned>(wCategory));
    std::string csMessage = szHead;
    for (const std::string& csText : vTexts) {
        csMessage += ": ";
        csMessage += csText;
    }
    if (cbData && pData) {
        csMessage += " data (" + std::to_string(cbData) + " bytes): ";
        static const char s_szDigits[] = "0123456789ABCDEF";
        const auto* pb = static_cast<const unsigned char*>(pData);
        size_t cbShown = cbData < SYSLOG_MAX_DATA_BYTES ? cbData : SYSLOG_MAX_DATA_BYTES;
        for (size_t i = 0; i < cbShown; ++i) {
            csMessage += s_szDigits[pb[i] >> 4];
            csMessage += s_szDigits[pb[i] & 0xF];
        }
        if (cbShown < cbData)
            csMessage += "...";
    }
    return csMessage;
}

int SysLogPriorityOf(EEventType eType) {
    switch (eType) {
    case EEventType::Error:
        return LOG_ERR;
    case EEventType::Warning:
        return LOG_WARNING;
    default:
        return LOG_INFO;
    }
}

ISysLog& PosixSysLog() {
    return ImmortalInstance<CPosixSysLog>();
}
