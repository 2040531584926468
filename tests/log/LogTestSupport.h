// Helpers shared by the log tests: a temporary folder with a log and section name unique to the test process,
// reading a section back, a settings reader and a capturing sink, checking that a log holds whole entries
// only, and running the probe program as a second process.
#pragma once

#include "log/Log.h"
#include "log/LogConfig.h"
#include "log/LogModuleAbi.h"
#include "log/LogWriters.h"
#include "platform/CPlatform.h"
#include "platform/CSync.h"
#include "tests/filter/PlatformDoubles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace logtest {

// A temporary folder, and in it a log file whose name, and so its section's, is unique to this test process;
// the folder is removed and the section unlinked at the end.
class CTestLog {
public:
    CTestLog() {
        static int s_nCount = 0;
        const std::string csName =
            "wk_logtest_" + std::to_string(::getpid()) + "_" + std::to_string(++s_nCount);
        m_csDir = "/tmp/" + csName;
        std::filesystem::create_directories(m_csDir);
        m_csPath = m_csDir + "/" + csName + ".log";
        m_csSection = "Global\\" + csName + ".log";
    }
    ~CTestLog() {
        CPlatform::SharedMemory().Unlink(m_csSection);
        std::error_code ec;
        std::filesystem::remove_all(m_csDir, ec);
    }
    const std::string& Dir() const { return m_csDir; }
    const std::string& Path() const { return m_csPath; }
    const std::string& Section() const { return m_csSection; }

private:
    std::string m_csDir;
    std::string m_csPath;
    std::string m_csSection;
};

inline std::string ReadFile(const std::string& csPath) {
    std::ifstream in(csPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The whole section as text, or empty when it does not exist.
inline std::string ReadSection(const std::string& csName) {
    DWORD dwError = 0;
    auto spSection = CPlatform::SharedMemory().Open(csName, 1u << 30, dwError);
    if (!spSection)
        return std::string();
    return std::string(spSection->Data(), spSection->MappedSize());
}

// The text of a section or log file up to its first zero byte, behind the header.
inline std::string EntriesOf(const std::string& csView) {
    return csView.substr(100, csView.find('\0') - 100);
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

// The entries of a log text: each a time stamp line "\r\nYYYY/MM/DD hh:mm:ss.mmm TTTT " followed by the given
// pattern. A failure for any text that is not part of an entry, such as a garbled or interleaved line. The
// matches point into csText.
inline std::vector<std::smatch> WholeEntries(const std::string& csText, const std::string& csPattern) {
    const std::regex entry(R"(\r\n\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [ 0-9A-F]{3}[0-9A-F]+ )" +
                           csPattern);
    std::vector<std::smatch> vEntries;
    size_t nConsumed = 0;
    for (auto it = std::sregex_iterator(csText.begin(), csText.end(), entry); it != std::sregex_iterator();
         ++it) {
        EXPECT_EQ(static_cast<size_t>(it->position()), nConsumed) << "garbled text before " << it->str();
        nConsumed += it->length();
        vEntries.push_back(*it);
    }
    EXPECT_EQ(nConsumed, csText.size());
    return vEntries;
}

// Settings from a map, recording each read with the log level at the time; throws when asked to.
class CMapReader : public ILogSettingsReader {
public:
    struct CRead {
        DWORD dwId;
        DWORD dwGroup;
        DWORD dwLevelDuringRead;
    };
    std::map<DWORD, std::string> m_mapValues;
    std::vector<CRead> m_vReads;
    bool m_bThrow = false;

    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD dwGroup) override {
        m_vReads.push_back({dwId, dwGroup, GetLogLevel()});
        if (m_bThrow)
            throw std::runtime_error("settings store failed");
        auto it = m_mapValues.find(dwId);
        if (it == m_mapValues.end())
            return false;
        csValue = it->second;
        return true;
    }
};

// A sink that keeps every text it is given.
inline std::vector<std::string> g_vCaptured;
inline void CaptureSink(const char* pszText) {
    g_vCaptured.push_back(pszText);
}

// Gives each test a log of its own, and puts the log state and the platform's services back at the end.
class CLogTest : public testing::Test {
protected:
    void TearDown() override {
        SetLogLevel(LOG_LEVEL_OFF);
        FlushLog(true);
        UnloadLogModule();
        SetLogSink(&LogAppendWriter);
        CPlatform::SetFiles(nullptr);
        CPlatform::SetModules(nullptr);
        CPlatform::SetSharedMemory(nullptr);
        CPlatform::SetSystem(nullptr);
    }
    // Logging on, through the writer, to the test's log, with the line prefix.
    void StartLog(PFN_LOG_SINK pfnWriter, const std::string& csPrefix) {
        SetLogPath(m_log.Path());
        SetLogLinePrefix(csPrefix);
        SetLogSink(pfnWriter);
        SetLogMaxSize(LOG_DEFAULT_MAX_SIZE);
        SetLogLevel(LOG_LEVEL_ON);
    }

    CTestLog m_log;
};

// A log module's exports, recording what they were asked (in g_vLockRequests) and granting g_fakeLock when
// g_bGrantLock.
inline std::vector<std::string> g_vLockRequests;
inline BOOL g_bGrantLock = TRUE;
inline CCritSec g_fakeLock;

inline BOOL GrantLock(const std::string& csRequest, CSync** ppLock) {
    g_vLockRequests.push_back(csRequest);
    *ppLock = g_bGrantLock ? &g_fakeLock : nullptr;
    return g_bGrantLock;
}

// Modules seen through the platform where only csLoadablePath loads, as the log module.
inline void LoadableLogModule(CFakeModules& modules, const std::string& csLoadablePath) {
    PFN_GET_PRODUCT_CS pfnProduct = [](const char* pszLog, CSync** ppLock, DWORD dwOption) {
        return GrantLock("GetProductCS " + std::string(pszLog) + " " + std::to_string(dwOption), ppLock);
    };
    PFN_GET_GENERAL_CS pfnGeneral = [](CSync** ppLock, DWORD dwOption) {
        return GrantLock("GetGeneralCS " + std::to_string(dwOption), ppLock);
    };
    modules.m_csLoadablePath = csLoadablePath;
    modules.m_mapExports[LOG_MODULE_GET_PRODUCT_CS] = reinterpret_cast<void*>(pfnProduct);
    modules.m_mapExports[LOG_MODULE_GET_GENERAL_CS] = reinterpret_cast<void*>(pfnGeneral);
}

// Starts the probe program as a second process; the arguments hold no quotes.
inline FILE* StartProbe(const std::vector<std::string>& vArgs) {
    std::string csCommand = WK_LOG_PROBE_PATH;
    for (const std::string& csArg : vArgs)
        csCommand += " '" + csArg + "'";
    return ::popen(csCommand.c_str(), "r");
}

// Waits for the probe; returns its exit code (-1 when it did not run or exit), with its standard output in
// *pcsOutput.
inline int EndProbe(FILE* pProbe, std::string* pcsOutput = nullptr) {
    if (!pProbe)
        return -1;
    std::string csOutput;
    char achBuffer[256];
    for (size_t cb; (cb = std::fread(achBuffer, 1, sizeof(achBuffer), pProbe)) > 0;)
        csOutput.append(achBuffer, cb);
    if (pcsOutput)
        *pcsOutput = csOutput;
    int nStatus = ::pclose(pProbe);
    return nStatus != -1 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

inline int RunProbe(const std::vector<std::string>& vArgs, std::string* pcsOutput = nullptr) {
    return EndProbe(StartProbe(vArgs), pcsOutput);
}

} // namespace logtest
