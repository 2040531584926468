#include "host/testing/TestHost.h"

#include "log/Log.h"
#include "platform/CPlatform.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

} // namespace
