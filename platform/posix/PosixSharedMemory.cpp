#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

class CPosixSection : public ISharedSection {
public:
    CPosixSection(int fd, size_t cbSection) : m_fd(fd), m_cbSection(cbSection) {}
    ~CPosixSection() override {
        Unmap();
        ::close(m_fd);
    }

    char* Data() override { return static_cast<char*>(m_pView); }
    size_t MappedSize() const override { return m_cbMapped; }
    size_t SectionSize() const override { return m_cbSection; }

    bool Remap(size_t cb) override {
        if (cb == 0 || cb > m_cbSection)
            return false;
        void* pView = ::mmap(nullptr, cb, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (pView == MAP_FAILED)
            return false;
        Unmap();
        m_pView = pView;
        m_cbMapped = cb;
        return true;
    }

private:
    void Unmap() {
        if (m_pView)
            ::munmap(m_pView, m_cbMapped);
        m_pView = nullptr;
        m_cbMapped = 0;
    }

    int m_fd;
    size_t m_cbSection;
    void* m_pView = nullptr;
    size_t m_cbMapped = 0;
};

class CPosixSharedMemory : public ISharedMemory {
public:
    std::unique_ptr<ISharedSection> Open(const std::string& csName, size_t cbMap, DWORD& dwError) override {
        int fd = ::shm_open(PosixSectionName(csName).c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0) {
            dwError = Win32FromErrno(errno);
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
            dwError = ERROR_INVALID_DATA;
            ::close(fd);
            return nullptr;
        }
        auto spSection = std::make_unique<CPosixSection>(fd, static_cast<size_t>(st.st_size));
        if (!spSection->Remap(cbMap < spSection->SectionSize() ? cbMap : spSection->SectionSize())) {
            dwError = Win32FromErrno(errno);
            return nullptr;
        }
        dwError = ERROR_SUCCESS;
        return spSection;
    }

    std::unique_ptr<ISharedSection> Create(const std::string& csName, size_t cbSize,
                                           DWORD& dwError) override {
        const std::string csPosixName = PosixSectionName(csName);
        int fd = ::shm_open(csPosixName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            dwError = Win32FromErrno(errno);
            return nullptr;
        }
        // The umask must not narrow the section: writers of every account share it.
        ::fchmod(fd, 0666);
        if (::ftruncate(fd, static_cast<off_t>(cbSize)) != 0) {
            dwError = Win32FromErrno(errno);
            ::close(fd);
            ::shm_unlink(csPosixName.c_str());
            return nullptr;
        }
        auto spSection = std::make_unique<CPosixSection>(fd, cbSize);
        if (!spSection->Remap(cbSize)) {
            dwError = Win32FromErrno(errno);
            ::shm_unlink(csPosixName.c_str());
            return nullptr;
        }
        dwError = ERROR_SUCCESS;
        return spSection;
    }

    bool Unlink(const std::string& csName) override {
        return ::shm_unlink(PosixSectionName(csName).c_str()) == 0;
    }
};

} // namespace

ISharedMemory& PosixSharedMemory() {
    return ImmortalInstance<CPosixSharedMemory>();
}
