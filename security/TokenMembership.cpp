#include "security/TokenMembership.h"

#include "platform/LastError.h"

namespace {

BOOL Fail(DWORD dwError) {
    PlatformSetLastError(dwError);
    return FALSE;
}

} // namespace

BOOL CheckTokenMembership(const CIdentityToken* pToken, const CSid& sid, BOOL& bIsMember) {
    bIsMember = FALSE;
    if (!sid.IsValid())
        return Fail(ERROR_INVALID_SID);
    CIdentityToken spIdentity;
    if (pToken) {
        if (!*pToken)
            return Fail(ERROR_INVALID_HANDLE);
        spIdentity = *pToken;
    } else if (CThreadIdentity::OpenThreadToken(spIdentity) != ERROR_SUCCESS || !spIdentity) {
        return TRUE;
    }
    if (sid == EveryoneSid() || sid == AuthenticatedUsersSid() || sid.Equals(spIdentity->vUserSid)) {
        bIsMember = TRUE;
        return TRUE;
    }
    for (const std::vector<BYTE>& vGroup : spIdentity->vGroupSids) {
        if (sid.Equals(vGroup)) {
            bIsMember = TRUE;
            break;
        }
    }
    return TRUE;
}
