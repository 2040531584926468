// The identity a request runs under: the host sets it on the calling thread for each notification, the way a
// web server impersonates the request's user. Work that needs the process's own rights drops it for a scope.
#pragma once

#include "platform/WinTypes.h"

#include <memory>
#include <string>
#include <vector>

struct CRequestIdentity {
    std::string csUser;
    std::string csDomain;
    std::vector<BYTE> vUserSid;                // binary SID
    std::vector<std::vector<BYTE>> vGroupSids; // binary SIDs
};

// A handle on a thread's identity: null means none.
typedef std::shared_ptr<const CRequestIdentity> CIdentityToken;

class CThreadIdentity {
public:
    // The host's operation: the identity of the request being served on this thread (null for none).
    static void Impersonate(CIdentityToken spIdentity);
    // The current thread's identity; ERROR_NO_TOKEN when the thread runs as the process.
    static DWORD OpenThreadToken(CIdentityToken& spToken);
    // Drops the thread's identity: the thread runs as the process.
    static bool RevertToSelf();
    // Puts an identity back on the thread (null runs as the process).
    static bool SetThreadToken(const CIdentityToken& spToken);
};

// Runs a scope as the process: saves the thread's identity, reverts, and puts it back at the end.
class CRevertToSelfScope {
public:
    CRevertToSelfScope() { Begin(); }
    ~CRevertToSelfScope() { End(); }
    CRevertToSelfScope(const CRevertToSelfScope&) = delete;
    CRevertToSelfScope& operator=(const CRevertToSelfScope&) = delete;

    void Begin();
    void End();
    bool HasSavedToken() const { return m_bSaved; }
    DWORD GetOpenError() const { return m_dwOpenError; }
    DWORD GetRevertError() const { return m_dwRevertError; }

private:
    CIdentityToken m_spSaved;
    bool m_bSaved = false;
    DWORD m_dwOpenError = ERROR_SUCCESS;
    DWORD m_dwRevertError = ERROR_SUCCESS;
};
