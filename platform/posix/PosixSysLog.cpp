#include "platform/posix/PosixSysLog.h"

#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

struct CSysLogSource {
    std::string csIdent;
};

// Sends each record as one datagram in the local syslog format, with the source's own ident, instead of
// calling openlog: that would change the ident and facility of the host's own syslog lines. Where no system
// log listens (a container without a daemon), the record goes to standard error, so that a start-up failure
// is never lost.
class CPosixSysLog : public ISysLog {
public:
    explicit CPosixSysLog(std::string csSocketPath = "/dev/log") : m_csSocketPath(std::move(csSocketPath)) {}

    void* Open(const std::string& csSource) override { return new CSysLogSource{csSource}; }

    DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                 const std::vector<std::string>& vTexts, const void* pData, DWORD cbData) override {
        if (!hSource)
            return ERROR_INVALID_HANDLE;
        const std::string& csIdent = static_cast<const CSysLogSource*>(hSource)->csIdent;
        const std::string csMessage = FormatSysLogMessage(wCategory, dwEventId, vTexts, pData, cbData);
        const bool bSent = Send(FormatSysLogRecord(LOG_USER | SysLogPriorityOf(eType), csIdent, csMessage));
        if (bSent && !EventsToStandardError())
            return ERROR_SUCCESS;
        const std::string csLine = csIdent + ": " + csMessage + "\n";
        return std::fwrite(csLine.data(), 1, csLine.size(), stderr) == csLine.size() ? ERROR_SUCCESS
                                                                                     : ERROR_WRITE_FAULT;
    }

    bool Close(void* hSource) override {
        delete static_cast<CSysLogSource*>(hSource);
        return hSource != nullptr;
    }

private:
    // A host that shows an administrator what the module did (wkctl) asks for the events on standard error
    // as well, since the module's own copy of this code cannot be reached from the host.
    static bool EventsToStandardError() {
        const char* pszValue = std::getenv(EVENTS_TO_STDERR_VARIABLE);
        return pszValue && *pszValue && std::strcmp(pszValue, "0") != 0;
    }

    bool Send(const std::string& csRecord) const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_csSocketPath.size() >= sizeof(address.sun_path))
            return false;
        std::memcpy(address.sun_path, m_csSocketPath.c_str(), m_csSocketPath.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const bool bSent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                           ::send(fd, csRecord.data(), csRecord.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(csRecord.size());
        ::close(fd);
        return bSent;
    }

    std::string m_csSocketPath;
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

std::string FormatSysLogRecord(int nPriority, const std::string& csIdent, const std::string& csMessage) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char szStamp[32];
    std::strftime(szStamp, sizeof(szStamp), "%b %e %H:%M:%S", &local);
    return "<" + std::to_string(nPriority) + ">" + szStamp + " " + csIdent + "[" +
           std::to_string(::getpid()) + "]: " + csMessage;
}

std::unique_ptr<ISysLog> MakePosixSysLog(const std::string& csSocketPath) {
    return std::make_unique<CPosixSysLog>(csSocketPath);
}

ISysLog& PosixSysLog() {
    return ImmortalInstance<CPosixSysLog>();
}
