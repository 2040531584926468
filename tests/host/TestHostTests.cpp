#include "host/testing/TestHost.h"

#include "filter/log/Log.h"
#include "platform/CPlatform.h"
#include "tests/host/FakeModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

void SomeFunctionOfThisProgram() {}

TEST(TempInstallationTest, CreatesTheFoldersAndRemovesThemAgain) {
    std::string csPrefix;
    {
        CTempInstallation installation;
        ASSERT_TRUE(installation.IsValid());
        csPrefix = installation.Prefix();
        for (const std::string& csDir : {installation.BinDir(), installation.SettingsDir(),
                                         installation.ResourceDir(), installation.CommonSettingsDir()})
            EXPECT_TRUE(fs::is_directory(csDir)) << csDir;
        EXPECT_EQ(installation.BinDir(), csPrefix + "/Wendrake/bin");
        EXPECT_EQ(installation.CommonSettingsDir(), csPrefix + "/Common Files/Settings");
        EXPECT_EQ(installation.ModulePath(), csPrefix + "/Wendrake/bin/WK_ServiceWorker.so");
        CTempInstallation other;
        EXPECT_NE(other.Prefix(), csPrefix);
    }
    EXPECT_FALSE(fs::exists(csPrefix));
}

TEST(TempInstallationTest, CopiesFixtures) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.CopyFixture("host/sample-page.html", installation.SettingsDir()));
    EXPECT_TRUE(fs::is_regular_file(installation.SettingsDir() + "/sample-page.html"));
    ASSERT_TRUE(
        installation.CopyFixture("host/sample-page.html", installation.CommonSettingsDir(), "Renamed.xml"));
    EXPECT_EQ(fs::file_size(installation.CommonSettingsDir() + "/Renamed.xml"),
              fs::file_size(CTempInstallation::FixturesDir() + "/host/sample-page.html"));
    EXPECT_FALSE(installation.CopyFixture("host/no-such-fixture.xml", installation.SettingsDir()));
    EXPECT_FALSE(installation.InstallModule("/nonexistent/WK_ServiceWorker.so"));
    EXPECT_FALSE(fs::exists(installation.ModulePath()));
}

TEST(TempInstallationTest, PointsThisProcessAtTheInstallation) {
    std::string csProgram;
    ASSERT_TRUE(CPlatform::Modules().GetModulePathOf(
        reinterpret_cast<const void*>(&SomeFunctionOfThisProgram), csProgram));
    std::string csLibc;
    ASSERT_TRUE(CPlatform::Modules().GetModulePathOf(reinterpret_cast<const void*>(&std::abort), csLibc));
    {
        CTempInstallation installation;
        installation.PointProcessHere();
        std::string csPath;
        ASSERT_TRUE(CPlatform::Modules().GetModulePathOf(
            reinterpret_cast<const void*>(&SomeFunctionOfThisProgram), csPath));
        EXPECT_EQ(csPath, installation.ModulePath());
        // Other binaries keep their own paths.
        ASSERT_TRUE(CPlatform::Modules().GetModulePathOf(reinterpret_cast<const void*>(&std::abort), csPath));
        EXPECT_EQ(csPath, csLibc);
        installation.StopPointing();
        ASSERT_TRUE(CPlatform::Modules().GetModulePathOf(
            reinterpret_cast<const void*>(&SomeFunctionOfThisProgram), csPath));
        EXPECT_EQ(csPath, csProgram);
        installation.PointProcessHere();
    }
    // The destructor stops pointing, too.
    std::string csAfter;
    ASSERT_TRUE(CPlatform::Modules().GetModulePathOf(
        reinterpret_cast<const void*>(&SomeFunctionOfThisProgram), csAfter));
    EXPECT_EQ(csAfter, csProgram);
}

void RecordingSink(const char*) {}

TEST(LogCaptureTest, CapturesLinesAndRestoresTheLog) {
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
    }
    EXPECT_EQ(GetLogSink(), &RecordingSink);
    EXPECT_EQ(GetLogLevel(), LOG_LEVEL_OFF);
}

TEST(LogCaptureTest, CapturesConcurrentWriters) {
    CLogCapture capture;
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

TEST(TestHostTest, RunsAFakeModuleAndCapturesItsLog) {
    CFakeModule::Reset();
    CFakeModule::Script()[SF_NOTIFY_PREPROC_HEADERS] = {
        0, CM_IGNORE, [](CDLLContext* p) {
            LogMessage("[CFake::Preproc] URL <%s>",
                       p->m_spRequestInfo->m_mapRequestValues.at("HTTP_URL").c_str());
        }};
    CTestHost host(CFakeModule::EntryPoints());
    EXPECT_EQ(host.GetFilterVersion(), TRUE);
    CHostRunRecord record = host.Run(CHostRequest().Url("/owa/%s%n"));
    EXPECT_EQ(record.SentCodes(), (std::vector<DWORD>{SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_END_OF_REQUEST}));
    EXPECT_TRUE(host.LogContains("[CFake::Preproc] URL </owa/%s%n>"));
    EXPECT_EQ(host.TerminateFilter(), TRUE);
    CFakeModule::Reset();
}

} // namespace
