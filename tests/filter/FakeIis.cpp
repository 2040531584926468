#include "tests/filter/FakeIis.h"

#include <cstring>
#include <stdexcept>

namespace {
thread_local CFakeIis* t_pFake = nullptr;

BOOL Read(const std::map<std::string, std::string>& mapValues, LPSTR pszName, LPVOID pBuffer, LPDWORD pcb) {
    ++t_pFake->nReads;
    auto it = mapValues.find(pszName);
    if (it == mapValues.end()) {
        *pcb = 0;
        PlatformSetLastError(ERROR_INVALID_INDEX);
        return FALSE;
    }
    const DWORD cbNeeded = static_cast<DWORD>(it->second.size() + 1);
    if (!pBuffer || *pcb < cbNeeded) {
        // An empty value fits the empty buffer the first call offers.
        if (it->second.empty() && !pBuffer) {
            *pcb = 0;
            return TRUE;
        }
        *pcb = cbNeeded;
        PlatformSetLastError(t_pFake->dwFirstCallError);
        return FALSE;
    }
    if (t_pFake->bFailSecondRead) {
        PlatformSetLastError(t_pFake->dwSecondReadError);
        return FALSE;
    }
    std::memcpy(pBuffer, it->second.c_str(), cbNeeded);
    *pcb = cbNeeded;
    return TRUE;
}

BOOL GetHeader(HTTP_FILTER_CONTEXT*, LPSTR pszName, LPVOID pBuffer, LPDWORD pcb) {
    return Read(t_pFake->mapHeaders, pszName, pBuffer, pcb);
}

BOOL GetServerVariable(HTTP_FILTER_CONTEXT*, LPSTR pszName, LPVOID pBuffer, LPDWORD pcb) {
    return Read(t_pFake->mapServerVariables, pszName, pBuffer, pcb);
}

BOOL AddHeader(HTTP_FILTER_CONTEXT*, LPSTR pszName, LPSTR pszValue) {
    if (t_pFake->bThrowOnAdd)
        throw std::runtime_error("host callback failed");
    if (static_cast<int>(t_pFake->vAdded.size()) == t_pFake->nAddHeaderFailAt)
        return FALSE;
    t_pFake->vAdded.emplace_back(pszName, pszValue);
    return TRUE;
}

BOOL SetHeader(HTTP_FILTER_CONTEXT*, LPSTR pszName, LPSTR pszValue) {
    t_pFake->vSet.emplace_back(pszName, pszValue);
    return TRUE;
}
} // namespace

CFakeIis::CFakeIis() {
    t_pFake = this;
    filterContext.cbSize = sizeof(filterContext);
    filterContext.GetServerVariable = &GetServerVariable;
    headers.GetHeader = &GetHeader;
    headers.SetHeader = &SetHeader;
    headers.AddHeader = &AddHeader;
}

CFakeIis::~CFakeIis() {
    t_pFake = nullptr;
}

void CFakeIis::Attach(CDLLContext& context, DWORD dwNotification) {
    context.m_dwNotificationType = dwNotification;
    context.m_pFilterContext = &filterContext;
    context.m_pNotification = &headers;
}
