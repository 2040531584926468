#include "platform/ThreadIdentity.h"

namespace {
thread_local CIdentityToken t_spIdentity;
}

void CThreadIdentity::Impersonate(CIdentityToken spIdentity) {
    t_spIdentity = std::move(spIdentity);
}

DWORD CThreadIdentity::OpenThreadToken(CIdentityToken& spToken) {
    if (!t_spIdentity)
        return ERROR_NO_TOKEN;
    spToken = t_spIdentity;
    return ERROR_SUCCESS;
}

bool CThreadIdentity::RevertToSelf() {
    t_spIdentity.reset();
    return true;
}

bool CThreadIdentity::SetThreadToken(const CIdentityToken& spToken) {
    t_spIdentity = spToken;
    return true;
}

void CRevertToSelfScope::Begin() {
    if (m_bSaved)
        return;
    m_dwOpenError = CThreadIdentity::OpenThreadToken(m_spSaved);
    if (m_dwOpenError != ERROR_SUCCESS)
        return;
    m_bSaved = true;
    m_dwRevertError = CThreadIdentity::RevertToSelf() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

void CRevertToSelfScope::End() {
    if (!m_bSaved)
        return;
    CThreadIdentity::SetThreadToken(m_spSaved);
    m_spSaved.reset();
    m_bSaved = false;
}
