// The entry points: nothing happens while logging is off, long texts are cut, error texts are joined.

#include "LogTestSupport.h"

#include <gmock/gmock.h>

#include <stdexcept>

using namespace logtest;

namespace {

std::vector<std::string> g_vCaptured;
void CaptureSink(const char* pszText) {
    g_vCaptured.push_back(pszText);
}
void ThrowingSink(const char*) {
    throw std::runtime_error("sink failed");
}

class LogCoreTest : public testing::Test {
protected:
    void SetUp() override { g_vCaptured.clear(); }
    void TearDown() override {
        SetLogLevel(LOG_LEVEL_OFF);
        SetLogSink(&LogAppendWriter);
    }
};

TEST_F(LogCoreTest, LevelZeroCallsNoSinkAndCreatesNoFileOrSection) {
    const PFN_LOG_SINK apfnWriters[] = {&CaptureSink, &LogAppendWriter, &LogSharedMemoryWriter,
                                        &LogFileWriter};
    for (PFN_LOG_SINK pfnWriter : apfnWriters) {
        CTempDir dir;
        CUniqueLog log(dir);
        SetLogPath(log.Path());
        SetLogSink(pfnWriter);
        SetLogLevel(LOG_LEVEL_OFF);
        LogMessage("[LogCoreTest] not written");
        LogError(ERROR_FILE_NOT_FOUND, "[LogCoreTest] not written");
        FlushLog(true);
        EXPECT_FALSE(FileExists(log.Path()));
        EXPECT_FALSE(SectionExists(log.Section()));
    }
    EXPECT_TRUE(g_vCaptured.empty());
}

TEST_F(LogCoreTest, LongMessageIsCutToTheBuffer) {
    SetLogSink(&CaptureSink);
    SetLogLevel(LOG_LEVEL_ON);
    const std::string csLong(5000, 'x');
    LogMessage("%s", csLong.c_str());
    ASSERT_EQ(g_vCaptured.size(), 1u);
    EXPECT_EQ(g_vCaptured[0], std::string(LOG_MESSAGE_MAX - 1, 'x'));
}

struct CErrorCase {
    DWORD dwCode;
    std::string csMessage;
    std::string csExpected;
};

TEST_F(LogCoreTest, LogErrorJoinsMessageAndSystemTextOnOneLine) {
    const std::string csLongMessage(600, 'm');
    const CErrorCase aCases[] = {
        // The system text's line end becomes two blanks.
        {ERROR_ACCESS_DENIED, "open failed", "open failed   Access is denied.  "},
        {0x80070002, "[C::M] load", "[C::M] load   The system cannot find the file specified.  "},
        {0x12345, "odd", "odd   Unknown error 0x00012345"},
        {ERROR_SUCCESS, "", "   The operation completed successfully.  "},
        {ERROR_INVALID_DATA, csLongMessage,
         std::string(LOG_ERROR_MESSAGE_MAX - 1, 'm') + "   The data is invalid.  "},
    };
    SetLogSink(&CaptureSink);
    SetLogLevel(LOG_LEVEL_ON);
    for (const CErrorCase& c : aCases) {
        g_vCaptured.clear();
        LogError(c.dwCode, "%s", c.csMessage.c_str());
        ASSERT_EQ(g_vCaptured.size(), 1u) << c.csMessage;
        EXPECT_EQ(g_vCaptured[0], c.csExpected);
        EXPECT_EQ(g_vCaptured[0].find_first_of("\r\n"), std::string::npos);
    }
}

TEST_F(LogCoreTest, ThrowingSinkNeverReachesTheCaller) {
    SetLogSink(&ThrowingSink);
    SetLogLevel(LOG_LEVEL_ON);
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(LogMessage("[LogCoreTest] %d", 1));
    EXPECT_NO_THROW(LogError(ERROR_ACCESS_DENIED, "[LogCoreTest] %d", 2));
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("An error occurred while logging"));
}

} // namespace
