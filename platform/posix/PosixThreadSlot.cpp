#include "platform/ThreadSlot.h"

#include <pthread.h>

static_assert(sizeof(pthread_key_t) <= sizeof(uintptr_t));

CThreadSlot::CThreadSlot(PFN_RELEASE pfnRelease) {
    pthread_key_t key;
    m_bValid = ::pthread_key_create(&key, pfnRelease) == 0;
    m_key = m_bValid ? static_cast<uintptr_t>(key) : 0;
}

CThreadSlot::~CThreadSlot() {
    if (m_bValid)
        ::pthread_key_delete(static_cast<pthread_key_t>(m_key));
}

void* CThreadSlot::Get() const {
    return m_bValid ? ::pthread_getspecific(static_cast<pthread_key_t>(m_key)) : nullptr;
}

void CThreadSlot::Set(void* pValue) {
    if (m_bValid)
        ::pthread_setspecific(static_cast<pthread_key_t>(m_key), pValue);
}
