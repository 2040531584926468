#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// Every process that uses a section holds a shared lock on it; the one that can turn its lock exclusive
// when it lets go is the last, as the last handle to a Windows section ends it. Sections are owner-only:
// anyone who could shrink one could make every process mapping it fault.

namespace {

// "Global\NAME" names a section visible to every session; POSIX has one namespace, "/NAME".
std::string PosixSectionName(const std::string& csName) {
    std::string csBase = csName;
    const std::string csGlobal = "Global\\";
    if (csBase.compare(0, csGlobal.size(), csGlobal) == 0)
        csBase.erase(0, csGlobal.size());
    for (char& ch : csBase)
        if (ch == '/' || ch == '\\')
            ch = '_';
    return "/" + csBase;
}

DWORD Fail(int fd, DWORD dwError) {
    if (fd >= 0)
        ::close(fd);
    return dwError;
}

class CPosixSection : public ISharedSection {
public:
    CPosixSection(int fd, size_t cbSection, std::string csPosixName)
        : m_fd(fd), m_cbSection(cbSection), m_csPosixName(std::move(csPosixName)) {}
    ~CPosixSection() override {
        Unmap();
        // The name goes only now, after the last user saved what the section held: a process that starts
        // meanwhile waits for the lock and then makes a new section from the saved file.
        if (m_bTakenOver)
            ::shm_unlink(m_csPosixName.c_str());
        ::close(m_fd); // releases this process's lock
    }

    char* Data() override { return static_cast<char*>(m_pView); }
    size_t MappedSize() const override { return m_cbMapped; }
    size_t SectionSize() const override { return m_cbSection; }

    bool Remap(size_t cb) override {
        if (cb == 0 || cb > m_cbSection || !BackedUpTo(cb))
            return false;
        void* pView = ::mmap(nullptr, cb, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (pView == MAP_FAILED)
            return false;
        Unmap();
        m_pView = pView;
        m_cbMapped = cb;
        return true;
    }

    bool IsIntact() const override { return BackedUpTo(m_cbMapped); }

    bool TakeOverIfLast() override {
        // A failed conversion drops the shared lock too; the caller is letting go anyway.
        m_bTakenOver = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
        return m_bTakenOver;
    }

private:
    bool BackedUpTo(size_t cb) const {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 && st.st_size >= 0 && static_cast<size_t>(st.st_size) >= cb;
    }
    void Unmap() {
        if (m_pView)
            ::munmap(m_pView, m_cbMapped);
        m_pView = nullptr;
        m_cbMapped = 0;
    }

    int m_fd;
    size_t m_cbSection;
    std::string m_csPosixName;
    void* m_pView = nullptr;
    size_t m_cbMapped = 0;
    bool m_bTakenOver = false;
};

// Joins the users of the section behind fd. Waits while a last user saves and removes it (briefly), and then
// reports it gone, so that the caller creates a new one rather than writing into a removed one.
DWORD JoinUsers(int fd, struct stat& st) {
    while (::flock(fd, LOCK_SH) != 0)
        if (errno != EINTR)
            return Win32FromErrno(errno);
    if (::fstat(fd, &st) != 0)
        return Win32FromErrno(errno);
    return st.st_nlink == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

class CPosixSharedMemory : public ISharedMemory {
public:
    std::unique_ptr<ISharedSection> Open(const std::string& csName, size_t cbMap, DWORD& dwError) override {
        const std::string csPosixName = PosixSectionName(csName);
        int fd = ::shm_open(csPosixName.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0);
        if (fd < 0) {
            dwError = Win32FromErrno(errno);
            return nullptr;
        }
        struct stat st {};
        if ((dwError = CheckOwnSection(fd, csPosixName)) != ERROR_SUCCESS ||
            (dwError = JoinUsers(fd, st)) != ERROR_SUCCESS) {
            ::close(fd);
            return nullptr;
        }
        if (st.st_size <= 0) {
            dwError = Fail(fd, ERROR_INVALID_DATA);
            return nullptr;
        }
        auto spSection = std::make_unique<CPosixSection>(fd, static_cast<size_t>(st.st_size), csPosixName);
        if (!spSection->Remap(cbMap < spSection->SectionSize() ? cbMap : spSection->SectionSize())) {
            dwError = ERROR_INVALID_DATA;
            return nullptr;
        }
        dwError = ERROR_SUCCESS;
        return spSection;
    }

    std::unique_ptr<ISharedSection> Create(const std::string& csName, size_t cbSize,
                                           DWORD& dwError) override {
        const std::string csPosixName = PosixSectionName(csName);
        int fd = ::shm_open(csPosixName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            dwError = Win32FromErrno(errno);
            return nullptr;
        }
        // Lock before anything else: a process that opens the new section waits for it to be complete.
        ::flock(fd, LOCK_EX);
        // ftruncate alone reserves nothing: on a full /dev/shm the first touch of a page would fault.
        const int nReserve = ::posix_fallocate(fd, 0, static_cast<off_t>(cbSize));
        if (nReserve != 0) {
            ::shm_unlink(csPosixName.c_str());
            dwError = Fail(fd, nReserve == ENOSPC ? ERROR_DISK_FULL : Win32FromErrno(nReserve));
            return nullptr;
        }
        auto spSection = std::make_unique<CPosixSection>(fd, cbSize, csPosixName);
        if (!spSection->Remap(cbSize)) {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
            ::shm_unlink(csPosixName.c_str());
            return nullptr;
        }
        ::flock(fd, LOCK_SH);
        dwError = ERROR_SUCCESS;
        return spSection;
    }

    bool Unlink(const std::string& csName) override {
        return ::shm_unlink(PosixSectionName(csName).c_str()) == 0;
    }

private:
    // A section of another account, or not a plain one, is refused. One of ours that others may write to
    // (left by an older version) is removed: it could be shrunk under us at any time.
    static DWORD CheckOwnSection(int fd, const std::string& csPosixName) {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return Win32FromErrno(errno);
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            return ERROR_ACCESS_DENIED;
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            ::shm_unlink(csPosixName.c_str());
            return ERROR_FILE_NOT_FOUND;
        }
        return ERROR_SUCCESS;
    }
};

} // namespace

ISharedMemory& PosixSharedMemory() {
    return ImmortalInstance<CPosixSharedMemory>();
}
