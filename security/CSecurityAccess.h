// Who the request's user is, read from the identity the thread runs under.
#pragma once

#include "platform/ThreadIdentity.h"
#include "platform/WinTypes.h"

#include <string>

class CSecurityAccess {
public:
    CSecurityAccess() = default;
    virtual ~CSecurityAccess() = default;
    CSecurityAccess(const CSecurityAccess&) = delete;
    CSecurityAccess& operator=(const CSecurityAccess&) = delete;

    // User, domain and SID text of the thread's identity. ERROR_NO_TOKEN when the thread runs as the
    // process; the outputs are emptied first and stay empty on failure (the SID text excepted, see below).
    DWORD GetThreadUserInfo(std::string& csUser, std::string& csDomain, std::string& csSid);

    // The same for a given identity. ERROR_INVALID_HANDLE for a null identity, ERROR_INVALID_SID when its
    // user SID is not a valid SID, ERROR_NONE_MAPPED when the SID has no account name (the SID text is
    // set by then).
    DWORD GetTokenUser(std::string& csUser, std::string& csDomain, std::string& csSid,
                       const CIdentityToken& hToken);

private:
    CIdentityToken m_hToken;
};

// Logs "GetThreadUser Domain/User/Sid ..." with the result's system text and returns the lookup's result;
// the outputs are empty after a failure.
DWORD GetThreadUser(std::string& csUser, std::string& csDomain, std::string& csSid);

// Runs one notification call under the identity the host handed over: the host's own object goes on the
// thread (shared, never copied: a user in many groups would cost an allocation per SID on every call), and
// the thread's previous identity (or none) comes back at the end. A null identity leaves the thread alone.
class CHostIdentityScope {
public:
    explicit CHostIdentityScope(const CIdentityToken& spIdentity);
    ~CHostIdentityScope();
    CHostIdentityScope(const CHostIdentityScope&) = delete;
    CHostIdentityScope& operator=(const CHostIdentityScope&) = delete;

private:
    CIdentityToken m_spPrevious;
    bool m_bApplied = false;
};
