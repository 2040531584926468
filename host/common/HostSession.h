// The host side of one loaded module: registration, requests through the notifications in the host's order,
// and termination. The module comes either as three function pointers (linked into the same program) or
// from a file (CHostModule).
#pragma once

#include "abi/HostAbi.h"
#include "host/common/HostRecord.h"
#include "host/common/HostRequest.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// The server filter version the host announces in HTTP_FILTER_VERSION (6.0).
constexpr DWORD HOST_SERVER_FILTER_VERSION = 0x00060000;

struct CModuleEntryPoints {
    PFN_GET_FILTER_VERSION pfnGetFilterVersion = nullptr;
    PFN_HTTP_FILTER_PROC pfnHttpFilterProc = nullptr;
    PFN_TERMINATE_FILTER pfnTerminateFilter = nullptr;
};

// What a host does with a submitted instruction list; its result goes back to the module.
typedef std::function<DWORD(CDLLContext* pContext, CBufferInstructionList* pInstructions)> FN_BUFFER_COMMANDS;

// Thrown by a host callback told to throw (CHostRequest::ThrowFrom).
class CHostCallbackException : public std::runtime_error {
public:
    explicit CHostCallbackException(const std::string& csCallback)
        : std::runtime_error("host callback " + csCallback + " failed on purpose") {}
};

class CHostSession {
public:
    explicit CHostSession(const CModuleEntryPoints& entryPoints) : m_entryPoints(entryPoints) {}

    const CModuleEntryPoints& EntryPoints() const { return m_entryPoints; }

    // Calls GetFilterVersion with a version structure the host pre-fills (server version, nothing else) and
    // records what the module wrote. FALSE also when the entry point is missing or threw.
    BOOL GetFilterVersion();
    const CFilterVersionRecord& GetVersionRecord() const { return m_version; }

    // Runs one request through the notifications. Runs share nothing but the entry points and the handler,
    // so several threads may run requests at once.
    CHostRunRecord Run(const CHostRequest& request) const;

    BOOL TerminateFilter(DWORD dwFlags = 0);
    const CTerminateRecord& GetTerminateRecord() const { return m_terminate; }

    // Set before any run.
    void SetBufferCommandsHandler(FN_BUFFER_COMMANDS fnHandler) { m_fnBufferCommands = std::move(fnHandler); }

private:
    CModuleEntryPoints m_entryPoints;
    CFilterVersionRecord m_version;
    CTerminateRecord m_terminate;
    FN_BUFFER_COMMANDS m_fnBufferCommands;
};

// A module loaded from a file. It stays loaded until Unload() or process exit: the module keeps process-wide
// state (its settings) that must outlive every request.
class CHostModule {
public:
    // Null and a readable reason ("module file not found: ...", the loader's message, a missing entry point,
    // another host contract).
    static std::unique_ptr<CHostModule> Load(const std::string& csPath, std::string& csError);
    ~CHostModule() = default;
    CHostModule(const CHostModule&) = delete;
    CHostModule& operator=(const CHostModule&) = delete;

    const CModuleEntryPoints& EntryPoints() const { return m_entryPoints; }
    const std::string& Path() const { return m_csPath; }
    // Whether the module speaks this host's contract (HttpFilterProc asked with a null record); false and a
    // readable reason when not.
    static bool CheckContract(PFN_HTTP_FILTER_PROC pfnHttpFilterProc, const std::string& csPath,
                              std::string& csError);
    // Unloads the module, running its static destructors (which flush its buffered log). The entry points
    // are unusable afterwards. True when the library is gone from the process.
    bool Unload();

private:
    CHostModule() = default;
    void* m_hModule = nullptr;
    std::string m_csPath;
    CModuleEntryPoints m_entryPoints;
};
