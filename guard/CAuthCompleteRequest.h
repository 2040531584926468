// The authentication-complete handling of one request: the first point at which the user is known. It
// decides whether the guard follows the request (criteria, bypass lists, the per-criteria switches), keeps
// the user's language in the worker's context and answers a base request with the base page.
#pragma once

#include "abi/HostAbi.h"

#include <string>

class CWKGeneralSettings;

class CAuthCompleteRequest {
public:
    explicit CAuthCompleteRequest(CDLLContext* pContext) : m_pContext(pContext) {}

    // 0 or a Win32 code; the control message tells the host how to go on.
    DWORD Run();

private:
    // Each step is false when the request ends there; dwResult holds its result then.
    bool ApplyCriteria(CWKGeneralSettings& settings, DWORD& dwResult);
    bool ReadRequestValues(DWORD& dwResult);
    bool AttachWorkerContext(CWKGeneralSettings& settings, DWORD& dwResult);
    DWORD AnswerBaseRequest();

    CDLLContext* m_pContext;
    std::string m_csCookie;
    bool m_bIgnore = true; // a request that ends early is dropped, unless its step says otherwise
};
