#include "platform/ThreadIdentity.h"

#include "platform/ThreadSlot.h"

namespace {

void ReleaseIdentity(void* pValue) {
    delete static_cast<CIdentityToken*>(pValue);
}

// The identity is owned by its thread's slot while set, and released when the thread reverts or ends.
CThreadSlot& IdentitySlot() {
    static CThreadSlot s_slot(&ReleaseIdentity);
    return s_slot;
}

CIdentityToken* CurrentIdentity() {
    return static_cast<CIdentityToken*>(IdentitySlot().Get());
}

void SetIdentity(CIdentityToken spIdentity) {
    CIdentityToken* pCurrent = CurrentIdentity();
    if (!spIdentity) {
        IdentitySlot().Set(nullptr);
        delete pCurrent;
    } else if (pCurrent) {
        *pCurrent = std::move(spIdentity);
    } else {
        IdentitySlot().Set(new CIdentityToken(std::move(spIdentity)));
    }
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
