// A second process for the log tests.
//   trylock MODULE NAME|-         take the log module's product lock (or with "-" the general one) without
//                                 waiting: exit 0 when taken, 1 when another process holds it, 2 on error
//   write PATH COUNT TAG          write COUNT lines "probe TAG line N" with the shared-memory writer to the
//                                 section of PATH and print the maximum size the writer ended with
//   configure-write INSTALL FOLDER NAME COUNT TAG
//                                 configure the log as the worker does (shared memory, product log NAME
//                                 under FOLDER, log module from INSTALL/bin) and write COUNT lines

#include "log/LogConfig.h"
#include "log/LogModuleAbi.h"
#include "log/LogWriters.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

class CArgsReader : public ILogSettingsReader {
public:
    std::map<DWORD, std::string> m_mapValues;
    bool GetSettingFromID(DWORD dwId, std::string& csValue, DWORD) override {
        auto it = m_mapValues.find(dwId);
        if (it == m_mapValues.end())
            return false;
        csValue = it->second;
        return true;
    }
};

int TryLock(const char* pszModule, const std::string& csName) {
    void* hModule = ::dlopen(pszModule, RTLD_NOW | RTLD_LOCAL);
    if (!hModule)
        return 2;
    CSync* pLock = nullptr;
    BOOL bGot = FALSE;
    if (csName == "-") {
        auto pfn = reinterpret_cast<PFN_GET_GENERAL_CS>(::dlsym(hModule, LOG_MODULE_GET_GENERAL_CS));
        bGot = pfn && pfn(&pLock, 1);
    } else {
        auto pfn = reinterpret_cast<PFN_GET_PRODUCT_CS>(::dlsym(hModule, LOG_MODULE_GET_PRODUCT_CS));
        bGot = pfn && pfn(csName.c_str(), &pLock, 1);
    }
    if (!bGot || !pLock)
        return 2;
    if (!pLock->TryLock())
        return 1;
    pLock->Unlock();
    return 0;
}

void WriteLines(int nCount, const char* pszTag) {
    for (int i = 0; i < nCount; ++i)
        LogMessage("probe %s line %d", pszTag, i);
}

} // namespace

int main(int argc, char** argv) {
    std::string csCommand = argc > 1 ? argv[1] : "";
    if (csCommand == "trylock" && argc == 4)
        return TryLock(argv[2], argv[3]);
    if (csCommand == "write" && argc == 5) {
        SetLogPath(argv[2]);
        SetLogSink(&LogSharedMemoryWriter);
        SetLogLevel(LOG_LEVEL_ON);
        WriteLines(std::atoi(argv[3]), argv[4]);
        std::printf("maxsize=%d\n", static_cast<int>(GetLogMaxSize()));
        return 0;
    }
    if (csCommand == "configure-write" && argc == 7) {
        CArgsReader reader;
        reader.m_mapValues = {{LOG_SETTING_LEVEL, "1"},
                              {LOG_SETTING_MODE, "1"},
                              {LOG_SETTING_MAX_SIZE_KB, "1024"},
                              {LOG_SETTING_FOLDER, argv[3]},
                              {LOG_SETTING_PRODUCT_NAME, argv[4]}};
        CLogEnvironment env;
        env.csInstallFolder = argv[2];
        env.csModuleFileName = "WK_ServiceWorker.so";
        ConfigureLog(reader, env);
        if (!GetLogLock())
            return 2;
        WriteLines(std::atoi(argv[5]), argv[6]);
        // The section stays with the process that created it.
        FlushLog(false);
        return 0;
    }
    std::fprintf(stderr, "usage: see the comment at the top of LogProbe.cpp\n");
    return 2;
}
