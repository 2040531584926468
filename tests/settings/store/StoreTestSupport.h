// Helpers shared by the settings store tests: fixture paths, files in a throwaway folder, and stores whose
// clock the test sets.
#pragma once

#include "host/testing/TestHost.h"
#include "settings/CLinkCriteria.h"
#include "settings/CSWSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string StoreFixture(const std::string& csName) {
    return std::string(WK_TEST_DATA_DIR) + "/settings/" + csName;
}

inline void WriteText(const std::string& csPath, const std::string& csText) {
    std::ofstream file(csPath, std::ios::binary | std::ios::trunc);
    file << csText;
}

inline std::string ReadText(const std::string& csPath) {
    std::ifstream file(csPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Windows file time of a calendar second (seconds since 1970).
constexpr FILETIME64 FileTimeOfUnixSeconds(int64_t llSeconds) {
    return (static_cast<FILETIME64>(llSeconds) + 11644473600ull) * 10000000ull;
}

inline void SetFileTimeOfUnixSeconds(const std::string& csPath, int64_t llSeconds) {
    using namespace std::chrono;
    const auto tp = std::filesystem::file_time_type::clock::from_sys(sys_seconds(seconds(llSeconds)));
    std::filesystem::last_write_time(csPath, tp);
}

// A store whose clock stands still until the test moves it (0: the real clock).
template <class TStore> class CClockedStore : public TStore {
public:
    FILETIME64 m_ftNow = 0;

protected:
    FILETIME64 GetSystemTimeAsFileTime() const override {
        return m_ftNow ? m_ftNow : TStore::GetSystemTimeAsFileTime();
    }
};

// SWSettings.xml in a throwaway installation, and a store of it whose clock the test sets.
class CStoreFileTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.IsValid()); }
    // Writes the file (the small fixture's content unless told), dates it llFileTime when given, and loads it
    // with the clock at llNow.
    void LoadAt(int64_t llNow, int64_t llFileTime = 0, const std::string& csText = std::string()) {
        WriteText(m_csPath, csText.empty() ? ReadText(StoreFixture("SWSettingsSmall.xml")) : csText);
        if (llFileTime)
            SetFileTimeOfUnixSeconds(m_csPath, llFileTime);
        m_settings.m_ftNow = llNow ? FileTimeOfUnixSeconds(llNow) : 0;
        ASSERT_EQ(S_OK, m_settings.LoadSettings(m_csPath));
    }

    CTempInstallation m_temp;
    const std::string m_csPath = m_temp.SettingsDir() + "/SWSettings.xml";
    CClockedStore<CSWSettings> m_settings;
};
