// Files and recorders shared by the resource tests.
#pragma once

#include "platform/WinTypes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

// A folder of its own for one test, removed with it.
class CTempFolder {
public:
    CTempFolder() {
        const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
        std::string csName =
            std::string("wk_res_") + (pInfo ? pInfo->name() : "test") + "_" + std::to_string(::getpid());
        for (char& ch : csName)
            if (ch == '/')
                ch = '_';
        m_path = std::filesystem::temp_directory_path() / csName;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~CTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string Path(const std::string& csName) const { return (m_path / csName).string(); }

private:
    std::filesystem::path m_path;
};

inline void WriteFileBytes(const std::string& csPath, const std::vector<BYTE>& vBytes) {
    std::ofstream file(csPath, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(vBytes.data()), static_cast<std::streamsize>(vBytes.size()));
    ASSERT_TRUE(file.good()) << csPath;
}

inline void WriteFileText(const std::string& csPath, const std::string& csText) {
    WriteFileBytes(csPath, std::vector<BYTE>(csText.begin(), csText.end()));
}

inline std::vector<BYTE> ReadFileBytes(const std::string& csPath) {
    std::ifstream file(csPath, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What the resource callbacks received, process-wide like the callbacks themselves.
struct CCallbackRecord {
    static inline std::mutex s_lock;
    static inline std::vector<std::string> s_vLogLines;
    static inline std::vector<std::pair<WORD, std::string>> s_vErrors;

    static void OnLog(const char* pszLine) {
        std::lock_guard<std::mutex> guard(s_lock);
        s_vLogLines.emplace_back(pszLine);
    }
    static void OnError(WORD wType, const char* pszText) {
        std::lock_guard<std::mutex> guard(s_lock);
        s_vErrors.emplace_back(wType, pszText);
    }
    static void Clear() {
        std::lock_guard<std::mutex> guard(s_lock);
        s_vLogLines.clear();
        s_vErrors.clear();
    }
};
