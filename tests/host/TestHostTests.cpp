#include "host/testing/TestHost.h"

#include "host/common/HostSession.h"
#include "log/Log.h"
#include "platform/CPlatform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

void SomeFunctionOfThisProgram() {}

std::string PathOf(const void* pAddress) {
    std::string csPath;
    EXPECT_TRUE(CPlatform::Modules().GetModulePathOf(pAddress, csPath));
    return csPath;
}

TEST(TempInstallationTest, PointsThisProcessAtTheInstallation) {
    const void* pProgram = reinterpret_cast<const void*>(&SomeFunctionOfThisProgram);
    const void* pLibc = reinterpret_cast<const void*>(&std::abort);
    const std::string csProgram = PathOf(pProgram), csLibc = PathOf(pLibc);
    {
        CTempInstallation installation;
        installation.PointProcessHere();
        EXPECT_EQ(PathOf(pProgram), installation.ModulePath());
        EXPECT_EQ(PathOf(pLibc), csLibc); // other binaries keep their own paths
        installation.StopPointing();
        EXPECT_EQ(PathOf(pProgram), csProgram);
        installation.PointProcessHere();
    }
    EXPECT_EQ(PathOf(pProgram), csProgram); // the destructor stops pointing, too
}

void RecordingSink(const char*) {}

TEST(LogCaptureTest, CapturesLinesFromConcurrentWritersAndRestoresTheLog) {
    SetLogSink(&RecordingSink);
    SetLogLevel(LOG_LEVEL_OFF);
    {
        CLogCapture capture;
        EXPECT_EQ(GetLogLevel(), LOG_LEVEL_ON);
        LogMessage("[CTest::Method] %s <%d>", "value", 7);
        LogMessage("%s", "second %d line");
        EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"[CTest::Method] value <7>", "second %d line"}));
        EXPECT_TRUE(capture.Contains("<7>"));
        EXPECT_EQ(capture.Count("line"), 1u);
        capture.Clear();
        EXPECT_TRUE(capture.Lines().empty());

        constexpr int THREADS = 6, LINES = 200;
        std::vector<std::thread> vThreads;
        for (int t = 0; t < THREADS; ++t)
            vThreads.emplace_back([t] {
                for (int i = 0; i < LINES; ++i)
                    LogMessage("[CThread::Run] thread %d line %d", t, i);
            });
        for (auto& thread : vThreads)
            thread.join();
        EXPECT_EQ(capture.Lines().size(), static_cast<size_t>(THREADS * LINES));
        EXPECT_EQ(capture.Count("thread 3 line"), static_cast<size_t>(LINES));
    }
    EXPECT_EQ(GetLogSink(), &RecordingSink);
    EXPECT_EQ(GetLogLevel(), LOG_LEVEL_OFF);
}

std::string ReadText(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Switches the sample installation's log on, into a shared-memory section of a name of this test's own, with
// the log folder inside the installation.
void LogIntoTheInstallation(const CTempInstallation& installation) {
    const std::string csPath = installation.SettingsDir() + "/SWSettings.xml";
    std::string csText = ReadText(csPath);
    const std::pair<const char*, std::string> aValues[] = {
        {"14", "1"},
        {"12", "1"},
        {"23", "teardown-" + std::to_string(::getpid()) + ".log"},
        {"39", installation.Prefix()}};
    for (const auto& [pszId, csValue] : aValues) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(csText, match,
                                      std::regex(std::string("ID=\"") + pszId + "\"[^>]*VALUE=\"([^\"]*)")));
        csText.replace(static_cast<size_t>(match.position(1)), static_cast<size_t>(match.length(1)), csValue);
    }
    std::ofstream(csPath, std::ios::binary | std::ios::trunc) << csText;
}

std::string LogsUnder(const std::string& csFolder) {
    std::string csLogs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(csFolder))
        if (entry.path().extension() == ".log")
            csLogs += ReadText(entry.path());
    return csLogs;
}

// The module built with the finished filter core: loaded from its file as a host loads it (it must export its
// entry points and start in an empty installation), and linked into this program, driven in-process. Its
// log reaches the file at TerminateFilter, while it is still loaded.
TEST(RealModuleTest, RegistersRunsARequestAndTerminates) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_MODULE_PATH)) << WK_MODULE_PATH;
    LogIntoTheInstallation(installation);
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;

    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);
    EXPECT_EQ(session.GetVersionRecord().m_csDescription, "Brindlemark Wendrake");

    CHostRequest request;
    request.Url("/owa/").UserAgent("Mozilla/5.0 (Windows NT 10.0; Win64; x64) Chrome/120.0");
    CHostRunRecord record = session.Run(request.SubscriptionType(ST_OWA_FOLDER));
    const CHostNotificationRecord* pEnd = record.Find(SF_NOTIFY_END_OF_REQUEST);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->m_dwResult, 0u);
    for (const auto& notification : record.m_vNotifications)
        EXPECT_FALSE(notification.m_bException)
            << notification.m_csName << ": " << notification.m_csException;
    EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();

    EXPECT_EQ(LogsUnder(installation.Prefix()).find("NotifyEndOfRequest] finished"), std::string::npos);
    session.TerminateFilter(0);
    EXPECT_TRUE(session.GetTerminateRecord().m_bCalled);
    EXPECT_FALSE(session.GetTerminateRecord().m_bException);
    EXPECT_NE(LogsUnder(installation.Prefix()).find("NotifyEndOfRequest] finished"), std::string::npos);
}

TEST(LinkedModuleTest, RegistersAndRunsARequestInProcess) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    installation.PointProcessHere();
    CTestHost host;
    ASSERT_EQ(host.GetFilterVersion(), TRUE);
    host.Run(CHostRequest().Url("/owa/").UserAgent("Mozilla/5.0 Chrome/120.0"));
    EXPECT_TRUE(
        host.LogContains("[CNotifications::NotifyEndOfRequest] finished.  Win32 RC=0.  Control Message=<"));
    host.TerminateFilter();
}

} // namespace
