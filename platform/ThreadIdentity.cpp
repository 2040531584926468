#include "platform/ThreadIdentity.h"

#include "platform/ThreadSlot.h"

namespace {

void ReleaseIdentity(void* pValue) {
    delete static_cast<CIdentityToken*>(pValue);
}

// The identity is held in its thread's slot; the holder stays for the thread's life (released when the thread
// ends), so that setting and dropping an identity on every request allocates nothing.
CThreadSlot& IdentitySlot() {
    static CThreadSlot s_slot(&ReleaseIdentity);
    return s_slot;
}

CIdentityToken* CurrentHolder() {
    return static_cast<CIdentityToken*>(IdentitySlot().Get());
}

CIdentityToken* CurrentIdentity() {
    CIdentityToken* pHolder = CurrentHolder();
    return pHolder && *pHolder ? pHolder : nullptr;
}

void SetIdentity(CIdentityToken spIdentity) {
    CIdentityToken* pHolder = CurrentHolder();
    if (pHolder)
        *pHolder = std::move(spIdentity);
    else if (spIdentity)
        IdentitySlot().Set(new CIdentityToken(std::move(spIdentity)));
}

} // namespace

void CThreadIdentity::Impersonate(CIdentityToken spIdentity) {
    SetIdentity(std::move(spIdentity));
}

DWORD CThreadIdentity::OpenThreadToken(CIdentityToken& spToken) {
    CIdentityToken* pCurrent = CurrentIdentity();
    if (!pCurrent)
        return ERROR_NO_TOKEN;
    spToken = *pCurrent;
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
