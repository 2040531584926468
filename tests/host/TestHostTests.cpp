#include "host/testing/TestHost.h"

#include "log/Log.h"
#include "platform/CPlatform.h"
#include "tests/host/FakeModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;

void SomeFunctionOfThisProgram() {}

std::string PathOf(const void* pAddress) {
    std::string csPath;
    EXPECT_TRUE(CPlatform::Modules().GetModulePathOf(pAddress, csPath));
    return csPath;
}

TEST(TempInstallationTest, CreatesTheTreeCopiesFixturesAndRemovesItAgain) {
    std::string csPrefix;
    {
        CTempInstallation installation;
        ASSERT_TRUE(installation.IsValid());
        csPrefix = installation.Prefix();
        for (const std::string& csDir : {installation.BinDir(), installation.SettingsDir(),
                                         installation.ResourceDir(), installation.CommonSettingsDir()})
            EXPECT_TRUE(fs::is_directory(csDir)) << csDir;
        EXPECT_EQ(installation.CommonSettingsDir(), csPrefix + "/Common Files/Settings");
        EXPECT_EQ(installation.ModulePath(), csPrefix + "/Wendrake/bin/WK_ServiceWorker.so");
        EXPECT_NE(CTempInstallation().Prefix(), csPrefix);

        ASSERT_TRUE(installation.CopyFixture("host/sample-page.html", installation.SettingsDir()));
        EXPECT_TRUE(fs::is_regular_file(installation.SettingsDir() + "/sample-page.html"));
        ASSERT_TRUE(
            installation.CopyFixture("host/sample-page.html", installation.CommonSettingsDir(), "R.xml"));
        EXPECT_EQ(fs::file_size(installation.CommonSettingsDir() + "/R.xml"),
                  fs::file_size(CTempInstallation::FixturesDir() + "/host/sample-page.html"));
        EXPECT_FALSE(installation.CopyFixture("host/no-such-fixture.xml", installation.SettingsDir()));
        EXPECT_FALSE(installation.InstallModule("/nonexistent/WK_ServiceWorker.so"));
        EXPECT_FALSE(fs::exists(installation.ModulePath()));
    }
    EXPECT_FALSE(fs::exists(csPrefix));
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

TEST(TestHostTest, RunsAFakeModuleAndCapturesItsLog) {
    CFakeModule::Reset();
    CFakeModule::s_script[SF_NOTIFY_PREPROC_HEADERS] = {
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
