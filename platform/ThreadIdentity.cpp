#include "platform/ThreadIdentity.h"

namespace {

// A plain pointer, not a shared pointer: a thread-local object with a destructor would pin the module in
// memory (the loader cannot unload code that exiting threads may still call), and the log is flushed when the
// module unloads. The identity is owned here while set and freed when the thread reverts.
thread_local CIdentityToken* t_pspIdentity = nullptr;

void SetIdentity(CIdentityToken spIdentity) {
    if (!spIdentity) {
        delete t_pspIdentity;
        t_pspIdentity = nullptr;
    } else if (t_pspIdentity) {
        *t_pspIdentity = std::move(spIdentity);
    } else {
        t_pspIdentity = new CIdentityToken(std::move(spIdentity));
    }
}

} // namespace

void CThreadIdentity::Impersonate(CIdentityToken spIdentity) {
    SetIdentity(std::move(spIdentity));
}

DWORD CThreadIdentity::OpenThreadToken(CIdentityToken& spToken) {
    if (!t_pspIdentity)
        return ERROR_NO_TOKEN;
    spToken = *t_pspIdentity;
    return ERROR_SUCCESS;
}

bool CThreadIdentity::RevertToSelf() {
    SetIdentity(nullptr);
    return true;
}

bool CThreadIdentity::SetThreadToken(const CIdentityToken& spToken) {
    SetIdentity(spToken);
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
