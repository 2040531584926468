#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

class CPosixFile : public IFile {
public:
    explicit CPosixFile(int fd) : m_fd(fd) {}
    ~CPosixFile() override { ::close(m_fd); }

    bool ReadAt(uint64_t qwOffset, void* pBuffer, size_t cb, size_t& cbRead) override {
        cbRead = 0;
        char* p = static_cast<char*>(pBuffer);
        while (cbRead < cb) {
            ssize_t n = ::pread(m_fd, p + cbRead, cb - cbRead, static_cast<off_t>(qwOffset + cbRead));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break;
            cbRead += static_cast<size_t>(n);
        }
        return true;
    }

    bool WriteAt(uint64_t qwOffset, const void* pBuffer, size_t cb) override {
        const char* p = static_cast<const char*>(pBuffer);
        size_t cbDone = 0;
        while (cbDone < cb) {
            ssize_t n = ::pwrite(m_fd, p + cbDone, cb - cbDone, static_cast<off_t>(qwOffset + cbDone));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            cbDone += static_cast<size_t>(n);
        }
        return true;
    }

    bool Append(const void* pBuffer, size_t cb) override { return WriteAt(Size(), pBuffer, cb); }

    bool Flush() override { return ::fsync(m_fd) == 0; }

    uint64_t Size() override {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }

private:
    int m_fd;
};

class CPosixFileSystem : public IFileSystem {
public:
    std::unique_ptr<IFile> Open(const std::string& csPath, EFileOpen eMode, DWORD& dwError) override {
        int nFlags = (eMode == EFileOpen::ReadExisting ? O_RDONLY : O_RDWR) | O_CLOEXEC;
        if (eMode == EFileOpen::OpenAlways)
            nFlags |= O_CREAT;
        else if (eMode == EFileOpen::CreateAlways)
            nFlags |= O_CREAT | O_TRUNC;
        int fd = ::open(csPath.c_str(), nFlags, 0644);
        if (fd < 0) {
            dwError = Win32FromErrno(errno);
            return nullptr;
        }
        dwError = ERROR_SUCCESS;
        return std::make_unique<CPosixFile>(fd);
    }

    bool Exists(const std::string& csPath) override { return ::access(csPath.c_str(), F_OK) == 0; }

    bool GetLastWriteTime(const std::string& csPath, FILETIME64& ftTime, DWORD& dwError) override {
        struct stat st {};
        if (::stat(csPath.c_str(), &st) != 0) {
            dwError = Win32FromErrno(errno);
            return false;
        }
        // Seconds between 1601-01-01 and 1970-01-01.
        constexpr uint64_t qwEpochDelta = 11644473600ull;
        ftTime = (static_cast<uint64_t>(st.st_mtim.tv_sec) + qwEpochDelta) * 10000000ull +
                 static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
        dwError = ERROR_SUCCESS;
        return true;
    }

    bool CreateDirectories(const std::string& csPath) override {
        std::error_code ec;
        std::filesystem::create_directories(csPath, ec);
        return !ec && std::filesystem::is_directory(csPath, ec);
    }

    bool Remove(const std::string& csPath) override { return ::unlink(csPath.c_str()) == 0; }
};

} // namespace

IFileSystem& PosixFileSystem() {
    return ImmortalInstance<CPosixFileSystem>();
}
