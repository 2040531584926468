// Platform services that fail or answer as told, for tests of what the module does when the system lets it
// down.
#pragma once

#include "platform/IModules.h"
#include "platform/ISysLog.h"
#include "platform/ThreadIdentity.h"
#include "platform/posix/PosixServices.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A dynamic loader with one library, loading from m_csLoadablePath (from any path when m_bLoadsAny) and
// exporting m_mapExports; m_mapLoaded tells where loaded modules lie. Left as it is, it loads nothing.
class CFakeModules : public IModules {
public:
    bool GetModulePathOf(const void*, std::string&) override {
        if (m_bThrow)
            throw std::runtime_error("platform failure");
        return false;
    }
    bool FindLoadedModule(const std::string& csName, std::string& csPath) override {
        auto it = m_mapLoaded.find(csName);
        csPath = it == m_mapLoaded.end() ? std::string() : it->second;
        return !csPath.empty();
    }
    void* LoadLibrary(const std::string& csPath, DWORD& dwError) override {
        m_vLoads.push_back(csPath);
        bool bLoads = m_bLoadsAny || csPath == m_csLoadablePath;
        dwError = bLoads ? ERROR_SUCCESS : ERROR_MOD_NOT_FOUND;
        return bLoads ? &m_nLibrary : nullptr;
    }
    void* GetProcAddress(void* hModule, const char* pszName) override {
        auto it = m_mapExports.find(pszName);
        return hModule == &m_nLibrary && it != m_mapExports.end() ? it->second : nullptr;
    }
    void FreeLibrary(void* hModule) override { m_nFrees += hModule == &m_nLibrary; }
    std::string LibraryFileName(const std::string& csBase) override { return "lib" + csBase + ".so"; }

    std::string m_csLoadablePath;
    bool m_bLoadsAny = false;
    bool m_bThrow = false;
    std::map<std::string, void*> m_mapExports;
    std::map<std::string, std::string> m_mapLoaded;
    std::vector<std::string> m_vLoads;
    int m_nFrees = 0;
    int m_nLibrary = 0;
};

// The operating system's services, with the system log folder and the computer names overridable. While
// m_mapNames is empty and m_dwNameFailure 0, the names are the machine's.
class CFakeSystem : public ISystem {
public:
    CSystemTime GetLocalTime() override { return PosixSystem().GetLocalTime(); }
    CSystemTime FileTimeToUtc(uint64_t ft) override { return PosixSystem().FileTimeToUtc(ft); }
    std::string CTimeNow() override { return PosixSystem().CTimeNow(); }
    DWORD GetCurrentThreadId() override { return PosixSystem().GetCurrentThreadId(); }
    DWORD GetCurrentProcessId() override { return PosixSystem().GetCurrentProcessId(); }
    std::string GetSystemLogRoot() override {
        return m_optLogRoot.value_or(PosixSystem().GetSystemLogRoot());
    }
    std::string GetFallbackLogPath() override { return PosixSystem().GetFallbackLogPath(); }
    char PathSeparator() override { return '/'; }
    std::string GetEnv(const char* psz) override { return PosixSystem().GetEnv(psz); }
    BOOL GetComputerNameEx(EComputerName eKind, char* psz, DWORD& dwSize, DWORD& dwError) override {
        if (m_mapNames.empty() && !m_dwNameFailure)
            return PosixSystem().GetComputerNameEx(eKind, psz, dwSize, dwError);
        const std::string& csName = m_mapNames[eKind];
        dwError = m_dwNameFailure ? m_dwNameFailure : ERROR_MORE_DATA;
        if (m_dwNameFailure || !psz || dwSize < csName.size() + 1) {
            dwSize = m_dwNameFailure ? dwSize : static_cast<DWORD>(csName.size() + 1);
            return FALSE;
        }
        std::copy(csName.begin(), csName.end(), psz);
        psz[csName.size()] = 0;
        dwSize = static_cast<DWORD>(csName.size());
        dwError = 0;
        return TRUE;
    }

    std::optional<std::string> m_optLogRoot;
    std::map<EComputerName, std::string> m_mapNames;
    DWORD m_dwNameFailure = 0; // a Win32 code every name query fails with, or 0
};

// How the in-memory file misbehaves: opening fails with dwOpenError, read number nFailRead since the open
// fails, and Size() claims cbVanished bytes more than the file still holds.
struct CFileFault {
    bool bOpens = true;
    DWORD dwOpenError = ERROR_SUCCESS;
    int nFailRead = -1;
    uint64_t cbVanished = 0;
};

// The file m_csPath (every path while that is empty) holds m_vBytes; other paths are the real file system's.
class CMemoryFiles : public IFileSystem {
public:
    class CMemoryFile : public IFile {
    public:
        explicit CMemoryFile(CMemoryFiles& files) : m_files(files) {}
        bool ReadAt(uint64_t qwOffset, void* pBuffer, size_t cb, size_t& cbRead) override {
            // A failed read claims every byte and delivers none, so that only its result tells it failed.
            const std::vector<BYTE>& vBytes = m_files.m_vBytes;
            cbRead = qwOffset < vBytes.size() ? std::min<size_t>(cb, vBytes.size() - qwOffset) : 0;
            if (m_files.m_cReads++ == m_files.m_fault.nFailRead)
                return false;
            std::memcpy(pBuffer, vBytes.data() + std::min<size_t>(qwOffset, vBytes.size()), cbRead);
            return true;
        }
        bool WriteAt(uint64_t, const void*, size_t) override { return false; }
        bool Append(const void*, size_t) override { return false; }
        bool Flush() override { return false; }
        uint64_t Size() override { return m_files.m_vBytes.size() + m_files.m_fault.cbVanished; }

    private:
        CMemoryFiles& m_files;
    };

    std::unique_ptr<IFile> Open(const std::string& csPath, EFileOpen eMode, DWORD& dwError) override {
        if (!Mine(csPath))
            return PosixFileSystem().Open(csPath, eMode, dwError);
        m_eLastMode = eMode;
        m_cReads = 0;
        dwError = m_fault.dwOpenError;
        return m_fault.bOpens ? std::make_unique<CMemoryFile>(*this) : nullptr;
    }
    bool Exists(const std::string& csPath) override { return Mine(csPath) && m_fault.bOpens; }
    bool GetLastWriteTime(const std::string&, FILETIME64&, DWORD& dwError) override {
        dwError = ERROR_NOT_SUPPORTED;
        return false;
    }
    bool CreateDirectories(const std::string&) override { return false; }
    bool Remove(const std::string&) override { return false; }

    std::string m_csPath;
    std::vector<BYTE> m_vBytes;
    CFileFault m_fault;
    EFileOpen m_eLastMode = EFileOpen::CreateAlways;
    int m_cReads = 0;

private:
    bool Mine(const std::string& csPath) const { return m_csPath.empty() || csPath == m_csPath; }
};

// Records what reaches the journal, and whether the reporting thread still carried a request identity. A
// source's handle is its position in m_vOpened plus one.
class CRecordingSysLog : public ISysLog {
public:
    struct CRecord {
        std::string csSource;
        EEventType eType;
        WORD wCategory;
        DWORD dwEventId;
        std::vector<std::string> vTexts;
        std::vector<BYTE> vData;
        bool bHadIdentity;
    };

    void* Open(const std::string& csSource) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vOpened.push_back(csSource);
        m_vClosed.push_back(false);
        return m_bFailOpen ? nullptr : reinterpret_cast<void*>(m_vOpened.size());
    }
    DWORD Report(void* hSource, EEventType eType, WORD wCategory, DWORD dwEventId,
                 const std::vector<std::string>& vTexts, const void* pData, DWORD cbData) override {
        if (m_bThrow)
            throw std::runtime_error("journal unavailable");
        CIdentityToken spToken;
        bool bHadIdentity = CThreadIdentity::OpenThreadToken(spToken) == ERROR_SUCCESS;
        const BYTE* pb = static_cast<const BYTE*>(pData);
        std::lock_guard<std::mutex> guard(m_lock);
        size_t nSource = reinterpret_cast<size_t>(hSource) - 1;
        m_cClosedUse += m_vClosed[nSource];
        m_vRecords.push_back({m_vOpened[nSource], eType, wCategory, dwEventId, vTexts,
                              pb ? std::vector<BYTE>(pb, pb + cbData) : std::vector<BYTE>(), bHadIdentity});
        return m_dwReportResult;
    }
    bool Close(void* hSource) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vClosed[reinterpret_cast<size_t>(hSource) - 1] = true;
        ++m_cClosed;
        return m_bCloseResult;
    }

    std::mutex m_lock;
    std::vector<std::string> m_vOpened;
    std::vector<bool> m_vClosed;
    std::vector<CRecord> m_vRecords;
    int m_cClosed = 0;
    int m_cClosedUse = 0;
    bool m_bFailOpen = false;
    bool m_bCloseResult = true;
    DWORD m_dwReportResult = ERROR_SUCCESS;
    bool m_bThrow = false;
};
