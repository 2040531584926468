// Whether a request identity belongs to a user or group SID.
#pragma once

#include "platform/ThreadIdentity.h"
#include "platform/WinTypes.h"
#include "security/CSid.h"

// pToken null: the calling thread's identity. A thread without identity runs as the process, which is no
// request user: not a member, and the check succeeds. FALSE (with the platform last error set) for an
// invalid SID (ERROR_INVALID_SID) or a given but empty identity (ERROR_INVALID_HANDLE).
// Everyone (S-1-1-0) and Authenticated Users (S-1-5-11) hold every request identity.
BOOL CheckTokenMembership(const CIdentityToken* pToken, const CSid& sid, BOOL& bIsMember);
