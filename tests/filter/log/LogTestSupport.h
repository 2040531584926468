// Helpers shared by the log tests: temporary folders, section names unique to the test process, reading a
// section back, and running the probe program as a second process.
#pragma once

#include "filter/log/Log.h"
#include "filter/log/LogWriters.h"
#include "platform/CPlatform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace logtest {

inline std::string TestName() {
    const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
    std::string csName = pInfo ? pInfo->name() : "none";
    for (char& ch : csName)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return csName.substr(0, 60);
}

class CTempDir {
public:
    CTempDir() {
        static int s_nCount = 0;
        m_csPath = "/tmp/wk_logtest_" + std::to_string(::getpid()) + "_" + std::to_string(++s_nCount);
        std::filesystem::create_directories(m_csPath);
    }
    ~CTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_csPath, ec);
    }
    const std::string& Path() const { return m_csPath; }

private:
    std::string m_csPath;
};

inline std::string ReadFile(const std::string& csPath) {
    std::ifstream in(csPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& csPath, const std::string& csText) {
    std::ofstream(csPath, std::ios::binary) << csText;
}

inline bool FileExists(const std::string& csPath) {
    return std::filesystem::exists(csPath);
}

// The whole section as text, or empty when it does not exist.
inline std::string ReadSection(const std::string& csName) {
    DWORD dwError = 0;
    auto spSection = CPlatform::SharedMemory().Open(csName, 1u << 30, dwError);
    if (!spSection)
        return std::string();
    return std::string(spSection->Data(), spSection->MappedSize());
}

inline bool SectionExists(const std::string& csName) {
    DWORD dwError = 0;
    return CPlatform::SharedMemory().Open(csName, 1, dwError) != nullptr;
}

struct CHeader {
    int nNext = 0;
    int nHighest = 0;
    int nWrap = 0;
    int nSize = 0;
};

inline CHeader ParseHeader(const std::string& csView) {
    CHeader header;
    std::string csText = csView.substr(0, 100);
    std::sscanf(csText.c_str(), "%d, %d, %d, %d", &header.nNext, &header.nHighest, &header.nWrap,
                &header.nSize);
    return header;
}

// The header text "a, b, c, d" padded with blanks to 100 bytes.
inline std::string HeaderText(const std::string& csValues) {
    std::string csHeader = csValues;
    csHeader.resize(100, ' ');
    return csHeader;
}

// "\r\nYYYY/MM/DD hh:mm:ss.mmm TTTT "
inline const std::string& TimeStampPattern() {
    static const std::string s_cs =
        R"(\r\n\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [ 0-9A-F]{3}[0-9A-F]+ )";
    return s_cs;
}

// Section and file names unique to this test process, with the section unlinked and the files removed.
class CUniqueLog {
public:
    explicit CUniqueLog(const CTempDir& dir, const std::string& csStem = "WKLog") {
        m_csFileName = csStem + "_" + std::to_string(::getpid()) + "_" + TestName() + ".log";
        m_csPath = dir.Path() + "/" + m_csFileName;
        m_csSection = "Global\\" + m_csFileName;
    }
    ~CUniqueLog() { CPlatform::SharedMemory().Unlink(m_csSection); }
    const std::string& Path() const { return m_csPath; }
    const std::string& Section() const { return m_csSection; }
    const std::string& FileName() const { return m_csFileName; }

private:
    std::string m_csFileName;
    std::string m_csPath;
    std::string m_csSection;
};

inline pid_t SpawnProbe(const std::vector<std::string>& vArgs, const std::string& csOutputPath) {
    std::vector<std::string> vAll = {WK_LOG_PROBE_PATH};
    vAll.insert(vAll.end(), vArgs.begin(), vArgs.end());
    std::vector<char*> vArgv;
    for (std::string& cs : vAll)
        vArgv.push_back(cs.data());
    vArgv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, csOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    int nSpawn = posix_spawn(&pid, WK_LOG_PROBE_PATH, &actions, nullptr, vArgv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return nSpawn == 0 ? pid : -1;
}

inline int WaitProbe(pid_t pid) {
    int nStatus = 0;
    if (pid <= 0 || ::waitpid(pid, &nStatus, 0) != pid)
        return -1;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// Runs the probe program as a second process; returns its exit code (-1 when it did not run or exit),
// with its standard output in *pcsOutput.
inline int RunProbe(const std::vector<std::string>& vArgs, std::string* pcsOutput = nullptr) {
    std::string csOut = "/tmp/wk_logprobe_" + std::to_string(::getpid()) + ".out";
    int nExit = WaitProbe(SpawnProbe(vArgs, csOut));
    if (pcsOutput)
        *pcsOutput = ReadFile(csOut);
    std::remove(csOut.c_str());
    return nExit;
}

} // namespace logtest
