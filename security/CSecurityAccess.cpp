#include "security/CSecurityAccess.h"

#include "log/Log.h"
#include "security/CSid.h"

DWORD CSecurityAccess::GetThreadUserInfo(std::string& csUser, std::string& csDomain, std::string& csSid) {
    csUser.clear();
    csDomain.clear();
    csSid.clear();
    const DWORD dwOpen = CThreadIdentity::OpenThreadToken(m_hToken);
    if (dwOpen != ERROR_SUCCESS)
        return dwOpen;
    if (!m_hToken)
        return ERROR_SUCCESS;
    // The account lookup needs the process's rights, not the request user's.
    CRevertToSelfScope processIdentity;
    const DWORD dwResult = GetTokenUser(csUser, csDomain, csSid, m_hToken);
    m_hToken.reset();
    processIdentity.End();
    return dwResult;
}

DWORD CSecurityAccess::GetTokenUser(std::string& csUser, std::string& csDomain, std::string& csSid,
                                    const CIdentityToken& hToken) {
    if (!hToken)
        return ERROR_INVALID_HANDLE;
    CSid sid;
    const DWORD dwSid = CSid::FromBinary(hToken->vUserSid, sid);
    if (dwSid != ERROR_SUCCESS)
        return dwSid;
    std::string csText;
    if (sid.ToString(csText) == ERROR_SUCCESS)
        csSid = csText;
    if (hToken->csUser.empty())
        return ERROR_NONE_MAPPED;
    csUser = hToken->csUser;
    csDomain = hToken->csDomain;
    return ERROR_SUCCESS;
}

DWORD GetThreadUser(std::string& csUser, std::string& csDomain, std::string& csSid) {
    CSecurityAccess access;
    std::string csFoundUser;
    std::string csFoundDomain;
    std::string csFoundSid;
    const DWORD dwResult = access.GetThreadUserInfo(csFoundUser, csFoundDomain, csFoundSid);
    LogError(dwResult, "GetThreadUser Domain/User/Sid %s/%s/%s", csFoundDomain.c_str(), csFoundUser.c_str(),
             csFoundSid.c_str());
    if (dwResult != ERROR_SUCCESS) {
        csFoundUser.clear();
        csFoundDomain.clear();
        csFoundSid.clear();
    }
    csUser = std::move(csFoundUser);
    csDomain = std::move(csFoundDomain);
    csSid = std::move(csFoundSid);
    return dwResult;
}

CHostIdentityScope::CHostIdentityScope(const CIdentityToken& spIdentity) {
    if (!spIdentity)
        return;
    CThreadIdentity::OpenThreadToken(m_spPrevious);
    CThreadIdentity::Impersonate(spIdentity);
    m_bApplied = true;
}

CHostIdentityScope::~CHostIdentityScope() {
    if (m_bApplied)
        CThreadIdentity::SetThreadToken(m_spPrevious);
}
