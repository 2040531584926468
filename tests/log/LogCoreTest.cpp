// The entry points: nothing happens while logging is off, long texts are cut, error texts are joined.

#include "LogTestSupport.h"

#include <gmock/gmock.h>

#include <stdexcept>

using namespace logtest;

namespace {

class LogCoreTest : public CLogTest {
protected:
    void SetUp() override {
        g_vCaptured.clear();
        StartLog(&CaptureSink, "");
    }
};

TEST_F(LogCoreTest, LevelZeroCallsNoSinkAndCreatesNoFileOrSection) {
    for (PFN_LOG_SINK pfnWriter : {&CaptureSink, &LogAppendWriter, &LogSharedMemoryWriter, &LogFileWriter}) {
        CTestLog log;
        SetLogPath(log.Path());
        SetLogSink(pfnWriter);
        SetLogLevel(LOG_LEVEL_OFF);
        LogMessage("[LogCoreTest] not written");
        LogError(ERROR_FILE_NOT_FOUND, "[LogCoreTest] not written");
        FlushLog(true);
        EXPECT_FALSE(std::filesystem::exists(log.Path()));
        EXPECT_TRUE(ReadSection(log.Section()).empty());
    }
    EXPECT_TRUE(g_vCaptured.empty());
}

TEST_F(LogCoreTest, LongMessageIsCutToTheBuffer) {
    LogMessage("%s", std::string(5000, 'x').c_str());
    EXPECT_THAT(g_vCaptured, testing::ElementsAre(std::string(LOG_MESSAGE_MAX - 1, 'x')));
}

// The system text's line end becomes two blanks; a long message is cut before the text is added.
TEST_F(LogCoreTest, LogErrorJoinsMessageAndSystemTextOnOneLine) {
    const struct {
        DWORD dwCode;
        std::string csMessage;
        std::string csExpected;
    } aCases[] = {
        {ERROR_ACCESS_DENIED, "open failed", "open failed   Access is denied.  "},
        {0x80070002, "[C::M] load", "[C::M] load   The system cannot find the file specified.  "},
        {0x12345, "odd", "odd   Unknown error 0x00012345"},
        {ERROR_SUCCESS, "", "   The operation completed successfully.  "},
        {ERROR_INVALID_DATA, std::string(600, 'm'),
         std::string(LOG_ERROR_MESSAGE_MAX - 1, 'm') + "   The data is invalid.  "},
    };
    for (const auto& c : aCases) {
        g_vCaptured.clear();
        LogError(c.dwCode, "%s", c.csMessage.c_str());
        EXPECT_THAT(g_vCaptured, testing::ElementsAre(c.csExpected));
    }
}

TEST_F(LogCoreTest, ThrowingSinkNeverReachesTheCaller) {
    SetLogSink([](const char*) { throw std::runtime_error("sink failed"); });
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(LogMessage("[LogCoreTest] %d", 1));
    EXPECT_NO_THROW(LogError(ERROR_ACCESS_DENIED, "[LogCoreTest] %d", 2));
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("An error occurred while logging"));
}

} // namespace
