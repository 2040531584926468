#include "platform/posix/PosixServices.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace {

struct CSysLogSource {
    std::string csIdent;
};

class CPosixSysLog : public ISysLog {
public:
    void* Open(const std::string& csSource) override { return new CSysLogSource{csSource}; }

    DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                 const std::vector<std::string>& vTexts, const void*, DWORD cbData) override {
        if (!hSource)
            return ERROR_INVALID_HANDLE;
        auto* pSource = static_cast<CSysLogSource*>(hSource);
        int nPriority = eType == EEventType::Error     ? LOG_ERR
                        : eType == EEventType::Warning ? LOG_WARNING
                                                       : LOG_INFO;
        std::string csMessage = "event 0x" + ToHex(dwEventId) + " category " + std::to_string(wCategory);
        for (const std::string& csText : vTexts)
            csMessage += ": " + csText;
        if (cbData)
            csMessage += " (" + std::to_string(cbData) + " bytes of data)";
        // openlog's ident is process-wide; sources share it one report at a time.
        std::lock_guard<std::mutex> guard(m_lock);
        ::openlog(pSource->csIdent.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
        ::syslog(nPriority, "%s", csMessage.c_str());
        ::closelog();
        return ERROR_SUCCESS;
    }

    bool Close(void* hSource) override {
        delete static_cast<CSysLogSource*>(hSource);
        return hSource != nullptr;
    }

private:
    static std::string ToHex(DWORD dw) {
        static const char s_szDigits[] = "0123456789ABCDEF";
        std::string cs(8, '0');
        for (int i = 7; i >= 0; --i, dw >>= 4)
            cs[static_cast<size_t>(i)] = s_szDigits[dw & 0xF];
        return cs;
    }

    std::mutex m_lock;
};

} // namespace

ISysLog& PosixSysLog() {
    static CPosixSysLog* s_p = new CPosixSysLog();
    return *s_p;
}
