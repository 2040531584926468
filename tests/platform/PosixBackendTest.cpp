#include "platform/CPlatform.h"
#include "platform/LastError.h"
#include "platform/SystemMessage.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

std::string TempPath(const char* pszName) {
    return ::testing::TempDir() + pszName + std::to_string(::getpid());
}

TEST(PosixFiles, OpenModesAndErrors) {
    IFileSystem& files = CPlatform::Files();
    const std::string csPath = TempPath("wk_file_");
    std::remove(csPath.c_str());
    DWORD dwError = 0;
    EXPECT_EQ(files.Open(csPath, EFileOpen::OpenExisting, dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(files.Exists(csPath));
    {
        auto spFile = files.Open(csPath, EFileOpen::OpenAlways, dwError);
        ASSERT_NE(spFile, nullptr);
        EXPECT_TRUE(spFile->WriteAt(0, "hello", 5));
        EXPECT_TRUE(spFile->Append(" world", 6));
        EXPECT_TRUE(spFile->WriteAt(20, "!", 1)); // a gap reads back as zeros
        EXPECT_EQ(spFile->Size(), 21u);
        char szBuffer[32] = {};
        size_t cbRead = 0;
        EXPECT_TRUE(spFile->ReadAt(0, szBuffer, sizeof(szBuffer), cbRead));
        EXPECT_EQ(cbRead, 21u);
        EXPECT_STREQ(szBuffer, "hello world");
        EXPECT_TRUE(spFile->ReadAt(100, szBuffer, 4, cbRead));
        EXPECT_EQ(cbRead, 0u);
    }
    EXPECT_EQ(files.Open(csPath, EFileOpen::OpenAlways, dwError)->Size(), 21u);
    {
        // A file the worker may only read (the module's own file, say) still opens for reading.
        auto spFile = files.Open(csPath, EFileOpen::ReadExisting, dwError);
        ASSERT_NE(spFile, nullptr);
        EXPECT_FALSE(spFile->WriteAt(0, "x", 1));
        char ch = 0;
        size_t cbRead = 0;
        EXPECT_TRUE(spFile->ReadAt(0, &ch, 1, cbRead));
        EXPECT_EQ(ch, 'h');
    }
    EXPECT_EQ(files.Open(csPath, EFileOpen::CreateAlways, dwError)->Size(), 0u);
    EXPECT_EQ(files.Open("/nonexistent-folder-wk/x", EFileOpen::OpenAlways, dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(files.Remove(csPath));
}

TEST(PosixFiles, LastWriteTimeIsAWindowsFileTime) {
    const std::string csPath = TempPath("wk_time_");
    DWORD dwError = 0;
    {
        auto spFile = CPlatform::Files().Open(csPath, EFileOpen::CreateAlways, dwError);
        ASSERT_NE(spFile, nullptr);
    }
    FILETIME64 ftWrite = 0;
    ASSERT_TRUE(CPlatform::Files().GetLastWriteTime(csPath, ftWrite, dwError));
    const uint64_t qwNow = (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ull) * 10000000ull;
    EXPECT_LT(ftWrite > qwNow ? ftWrite - qwNow : qwNow - ftWrite, 600ull * 10000000ull);
    CSystemTime st = CPlatform::System().FileTimeToUtc(ftWrite);
    EXPECT_GE(st.wYear, 2024);
    EXPECT_FALSE(CPlatform::Files().GetLastWriteTime(csPath + ".none", ftWrite, dwError));
    EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND);
    std::remove(csPath.c_str());
    // 1601-01-01 is file time zero; 1970-01-01 is the POSIX epoch.
    st = CPlatform::System().FileTimeToUtc(11644473600ull * 10000000ull + 1234 * 10000ull);
    EXPECT_EQ(std::tie(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds),
              std::make_tuple(1970, 1, 1, 0, 0, 1, 234));
}

TEST(PosixSharedMemory, CreateOpenAndRaceForTheName) {
    ISharedMemory& shm = CPlatform::SharedMemory();
    const std::string csName = "Global\\wk_test_section_" + std::to_string(::getpid());
    shm.Unlink(csName);
    DWORD dwError = 0;
    EXPECT_EQ(shm.Open(csName, 100, dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND);
    auto spCreated = shm.Create(csName, 8192, dwError);
    ASSERT_NE(spCreated, nullptr);
    EXPECT_EQ(spCreated->MappedSize(), 8192u);
    std::snprintf(spCreated->Data(), 100, "shared text");
    EXPECT_EQ(shm.Create(csName, 8192, dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_ALREADY_EXISTS);
    auto spOpened = shm.Open(csName, 100, dwError);
    ASSERT_NE(spOpened, nullptr);
    EXPECT_EQ(spOpened->MappedSize(), 100u);
    EXPECT_EQ(spOpened->SectionSize(), 8192u);
    EXPECT_STREQ(spOpened->Data(), "shared text");
    EXPECT_TRUE(spOpened->Remap(8192));
    EXPECT_FALSE(spOpened->Remap(8193));
    EXPECT_EQ(spOpened->MappedSize(), 8192u);
    EXPECT_TRUE(shm.Unlink(csName));
}

TEST(PosixModules, OwnPathLoadedModulesAndLibraries) {
    IModules& modules = CPlatform::Modules();
    std::string csPath;
    ASSERT_TRUE(modules.GetModulePathOf(reinterpret_cast<const void*>(&PlatformGetLastError), csPath));
    EXPECT_EQ(csPath.front(), '/');
    EXPECT_TRUE(modules.FindLoadedModule("C", csPath)); // libc
    EXPECT_FALSE(modules.FindLoadedModule("Convert", csPath));
    EXPECT_EQ(modules.LibraryFileName("LogModule"), "libLogModule.so");
    DWORD dwError = 0;
    EXPECT_EQ(modules.LoadLibrary("/nonexistent/libnothing.so", dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_MOD_NOT_FOUND);
    void* hModule = modules.LoadLibrary(WK_MODULE_PATH, dwError);
    ASSERT_NE(hModule, nullptr);
    EXPECT_NE(modules.GetProcAddress(hModule, "HttpFilterProc"), nullptr);
    EXPECT_EQ(modules.GetProcAddress(hModule, "LogMessage"), nullptr); // hidden
    EXPECT_EQ(modules.GetProcAddress(nullptr, "HttpFilterProc"), nullptr);
    modules.FreeLibrary(hModule);
}

TEST(PosixSystem, ThreadNumbersAreTheKernelsPerThreadAndAfterFork) {
    ISystem& system = CPlatform::System();
    const DWORD dwMain = system.GetCurrentThreadId();
    EXPECT_EQ(dwMain, static_cast<DWORD>(::getpid())); // the main thread's number is the process's
    EXPECT_EQ(system.GetCurrentThreadId(), dwMain);
    DWORD dwOther = 0;
    std::thread other([&] { dwOther = CPlatform::System().GetCurrentThreadId(); });
    other.join();
    EXPECT_NE(dwOther, dwMain);
    EXPECT_NE(dwOther, 0u);
    // A forked child is a new process: its thread reports its own number, not the parent's.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        DWORD dwChild = CPlatform::System().GetCurrentThreadId();
        ssize_t n = ::write(fds[1], &dwChild, sizeof(dwChild));
        ::_exit(n == sizeof(dwChild) ? 0 : 1);
    }
    DWORD dwChild = 0;
    ASSERT_EQ(::read(fds[0], &dwChild, sizeof(dwChild)), static_cast<ssize_t>(sizeof(dwChild)));
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(dwChild, static_cast<DWORD>(pid));
}

TEST(SystemMessage, KnownCodesAndFallback) {
    for (const tabletest::TRow& row : tabletest::ReadTable("platform/system-messages.txt")) {
        std::string csText;
        EXPECT_TRUE(GetSystemMessageText(static_cast<DWORD>(std::stoul(row[0], nullptr, 16)), csText))
            << row[0];
        EXPECT_EQ(csText, tabletest::Bytes(row[1]));
    }
    std::string csText = "untouched";
    EXPECT_FALSE(GetSystemMessageText(0xDEAD, csText));
    EXPECT_EQ(csText, "untouched");
    EXPECT_EQ(SystemMessageOrFallback(0xDEAD), "Unknown error 0x0000DEAD");
}

} // namespace
