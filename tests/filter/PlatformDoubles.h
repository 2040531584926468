// Platform services that fail, for tests of what the module does when the system lets it down.
#pragma once

#include "platform/IModules.h"
#include "platform/ISysLog.h"
#include "platform/ThreadIdentity.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// A platform that cannot tell where any module lies, and loads nothing.
class CNoModules : public IModules {
public:
    bool GetModulePathOf(const void*, std::string&) override { return false; }
    bool FindLoadedModule(const std::string&, std::string&) override { return false; }
    void* LoadLibrary(const std::string&, DWORD& dwError) override {
        dwError = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    void* GetProcAddress(void*, const char*) override { return nullptr; }
    void FreeLibrary(void*) override {}
    std::string LibraryFileName(const std::string& cs) override { return cs; }
};

// The same, throwing when asked for a module path.
class CThrowingModules : public CNoModules {
public:
    bool GetModulePathOf(const void*, std::string&) override { throw std::runtime_error("platform failure"); }
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
