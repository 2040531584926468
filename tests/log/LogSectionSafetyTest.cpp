// The shared-memory log against a hostile or cramped machine: who may open the section, a section shrunk
// under the view, a full /dev/shm, and processes writing at the same time.

#include "LogTestSupport.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using namespace logtest;
using testing::HasSubstr;

namespace {

class LogSectionSafetyTest : public CLogTest {
protected:
    void SetUp() override { StartLog(&LogSharedMemoryWriter, "[WK] "); }
    std::string ShmPath() const {
        return "/dev/shm/" + m_log.Section().substr(std::string("Global\\").size());
    }
};

// Runs fnChild in a forked process; its exit code, or -1 when it died of a signal.
int InChild(const std::function<int()>& fnChild) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(fnChild());
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

TEST_F(LogSectionSafetyTest, SectionIsOwnerOnlyAndForeignOrLooseSectionsAreNotUsed) {
    LogMessage("first");
    struct stat st {};
    ASSERT_EQ(::stat(ShmPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << std::oct << st.st_mode;
    FlushLog(true);

    // One left world-writable (by an older version) is removed and made anew, owner-only.
    ASSERT_EQ(::close(::open(ShmPath().c_str(), O_CREAT | O_RDWR, 0666)), 0);
    ASSERT_EQ(::chmod(ShmPath().c_str(), 0666), 0);
    LogMessage("second");
    ASSERT_EQ(::stat(ShmPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
    EXPECT_THAT(ReadSection(m_log.Section()), HasSubstr("second"));
    FlushLog(true);

    // A link or another account's section is refused: nothing is written through it, nothing replaces it.
    ASSERT_EQ(::symlink("/tmp/wk_not_a_section", ShmPath().c_str()), 0);
    LogMessage("through a link");
    EXPECT_FALSE(IsLogSectionOpen());
    ::unlink(ShmPath().c_str());
    if (::geteuid() != 0)
        GTEST_SKIP() << "another account's section needs root to make";
    ASSERT_EQ(::close(::open(ShmPath().c_str(), O_CREAT | O_RDWR, 0600)), 0);
    ASSERT_EQ(::truncate(ShmPath().c_str(), 65536), 0);
    ASSERT_EQ(::chown(ShmPath().c_str(), 65534, 65534), 0);
    LogMessage("foreign");
    EXPECT_FALSE(IsLogSectionOpen());
    ASSERT_EQ(::stat(ShmPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
}

TEST_F(LogSectionSafetyTest, SectionShrunkUnderTheViewIsLetGo) {
    SetLogMaxSize(1 << 20);
    LogMessage("before");
    ASSERT_TRUE(IsLogSectionOpen());
    ASSERT_EQ(::truncate(ShmPath().c_str(), 0), 0);
    // Without the check this line touches pages past the section's end: SIGBUS.
    EXPECT_EQ(InChild([] {
                  for (int i = 0; i < 3; ++i)
                      LogMessage("after %d", i);
                  return IsLogSectionOpen() ? 1 : 0;
              }),
              0);
    ::unlink(ShmPath().c_str());
}

TEST_F(LogSectionSafetyTest, FullSharedMemoryLeavesTheProcessWithoutASectionLog) {
    const int nResult = InChild([this] {
        // A /dev/shm of 1 MB of this process's own, the rest of the machine untouched.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=1m") != 0)
            return 77;
        SetLogMaxSize(8 << 20);
        for (int i = 0; i < 100; ++i)
            LogMessage("line %d of a log that does not fit", i);
        struct stat st {};
        return IsLogSectionOpen() || ::stat(ShmPath().c_str(), &st) == 0 ? 1 : 0;
    });
    if (nResult == 77)
        GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN)";
    EXPECT_EQ(nResult, 0);
}

// Two processes writing at once: the one that lets go last saves every line of both.
TEST_F(LogSectionSafetyTest, ConcurrentProcessesLoseNoLine) {
    SetLogMaxSize(1 << 20);
    LogMessage("parent start");
    FILE* pProbe = StartProbe({"write", m_log.Path(), "300", "child"});
    for (int i = 0; i < 300; ++i)
        LogMessage("parent line %d ", i);
    ASSERT_EQ(EndProbe(pProbe), 0);
    FlushLog(true);
    const std::string csFile = ReadFile(m_log.Path());
    for (int i = 0; i < 300; ++i) {
        EXPECT_THAT(csFile, HasSubstr("parent line " + std::to_string(i) + " "));
        EXPECT_THAT(csFile, HasSubstr("probe child line " + std::to_string(i) + " "));
    }
    EXPECT_TRUE(ReadSection(m_log.Section()).empty());
}

} // namespace
