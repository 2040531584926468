// The system log backend: records reach the log socket with their own ident and the pid, never through the
// process's openlog state; with no system log listening they go to standard error.

#include "platform/posix/PosixSysLog.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class CLogSocket {
public:
    explicit CLogSocket(const std::string& csPath) : m_csPath(csPath) {
        ::unlink(m_csPath.c_str());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_csPath.c_str(), sizeof(address.sun_path) - 1);
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        m_bBound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~CLogSocket() {
        ::close(m_fd);
        ::unlink(m_csPath.c_str());
    }
    std::string Receive() {
        char achRecord[2048];
        const ssize_t cb = ::recv(m_fd, achRecord, sizeof(achRecord), MSG_DONTWAIT);
        return cb > 0 ? std::string(achRecord, static_cast<size_t>(cb)) : std::string();
    }
    bool m_bBound = false;

private:
    std::string m_csPath;
    int m_fd = -1;
};

TEST(PosixSysLogRecord, SentWithItsOwnIdentOrWrittenToStandardError) {
    const std::string csPath = "/tmp/wk_syslog_" + std::to_string(::getpid()) + ".sock";
    std::unique_ptr<ISysLog> spSysLog = MakePosixSysLog(csPath);
    void* hSource = spSysLog->Open("Brindlemark Wendrake");
    {
        CLogSocket socket(csPath);
        ASSERT_TRUE(socket.m_bBound);
        const struct {
            EEventType eType;
            const char* pszPriority;
        } aCases[] = {
            {EEventType::Error, "<11>"}, {EEventType::Warning, "<12>"}, {EEventType::Information, "<14>"}};
        for (const auto& c : aCases) {
            EXPECT_EQ(spSysLog->Report(hSource, c.eType, 0, 0x6000006F, {"why"}, nullptr, 0), ERROR_SUCCESS);
            const std::string csRecord = socket.Receive();
            EXPECT_EQ(csRecord.rfind(c.pszPriority, 0), 0u) << csRecord;
            EXPECT_NE(csRecord.find(" Brindlemark Wendrake[" + std::to_string(::getpid()) +
                                    "]: event 0x6000006F category 0: why"),
                      std::string::npos)
                << csRecord;
        }
    }
    // A host may ask for the events on standard error as well while a system log takes them.
    for (const char* pszValue : {"0", "1"}) {
        SCOPED_TRACE(pszValue);
        CLogSocket socket(csPath);
        ::setenv(EVENTS_TO_STDERR_VARIABLE, pszValue, 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(spSysLog->Report(hSource, EEventType::Error, 0, 0x6000006F, {"both"}, nullptr, 0),
                  ERROR_SUCCESS);
        ::unsetenv(EVENTS_TO_STDERR_VARIABLE);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  *pszValue == '1' ? "Brindlemark Wendrake: event 0x6000006F category 0: both\n" : "");
        EXPECT_NE(socket.Receive().find("both"), std::string::npos);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(spSysLog->Report(hSource, EEventType::Error, 0, 0x6000007E, {"no daemon"}, nullptr, 0),
              ERROR_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Brindlemark Wendrake: event 0x6000007E category 0: no daemon\n");
    EXPECT_TRUE(spSysLog->Close(hSource));
}

} // namespace
