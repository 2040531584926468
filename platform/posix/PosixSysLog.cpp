#include "platform/posix/PosixSysLog.h"

#include "platform/posix/PosixServices.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace {

struct CSysLogSource {
    const char* pszIdent; // interned: lives as long as the process
};

class CPosixSysLog : public ISysLog {
public:
    void* Open(const std::string& csSource) override {
        std::lock_guard<std::mutex> guard(m_lock);
        return new CSysLogSource{Intern(csSource)};
    }

    DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                 const std::vector<std::string>& vTexts, const void* pData, DWORD cbData) override {
        if (!hSource)
            return ERROR_INVALID_HANDLE;
        const auto* pSource = static_cast<const CSysLogSource*>(hSource);
        std::string csMessage = FormatSysLogMessage(wCategory, dwEventId, vTexts, pData, cbData);
        // The ident is process-wide state and openlog keeps only the pointer, so reports take turns, and
        // idents are interned for the life of the process: a closed source, or a syslog() call by the host
        // between our openlog and closelog, never reads freed memory. closelog puts the host back on the
        // default ident instead of leaving ours on its lines.
        std::lock_guard<std::mutex> guard(m_lock);
        ::openlog(pSource->pszIdent, LOG_PID, LOG_USER);
        ::syslog(SysLogPriorityOf(eType), "%s", csMessage.c_str());
        ::closelog();
        return ERROR_SUCCESS;
    }

    bool Close(void* hSource) override {
        delete static_cast<CSysLogSource*>(hSource);
        return hSource != nullptr;
    }

private:
    // Called with m_lock held. An empty name takes the program's name, as syslog does for no ident.
    const char* Intern(const std::string& csSource) {
        if (csSource.empty())
            return nullptr;
        return m_setIdents.insert(csSource).first->c_str();
    }

    std::mutex m_lock;
    std::set<std::string> m_setIdents; // node-based: an element's text never moves
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
    // Never destroyed: events may still be reported while static objects are torn down.
    static CPosixSysLog* s_p = new CPosixSysLog();
    return *s_p;
}
