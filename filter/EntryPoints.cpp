#include "filter/EntryPoints.h"

#include "filter/CNotifications.h"
#include "log/Log.h"
#include "log/LogConfig.h"
#include "log/LogWriters.h"
#include "platform/CPlatform.h"
#include "platform/HResultException.h"
#include "platform/LastError.h"
#include "platform/ModuleNames.h"
#include "request/SettingsSingleton.h"
#include "security/CSecurityAccess.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>

namespace {

// The host must never see an exception: whatever escapes the work is logged and becomes a failure result.
void LogEscapedException(const char* pszEntryPoint) {
    try {
        throw;
    } catch (const CHResultException& e) {
        LogMessage("[%s] Unexpected exception: HRESULT 0x%08X", pszEntryPoint,
                   static_cast<unsigned>(e.Error()));
    } catch (const std::exception& e) {
        LogMessage("[%s] Unexpected exception: %s", pszEntryPoint, e.what());
    } catch (...) {
        LogMessage("[%s] Unexpected exception", pszEntryPoint);
    }
}

// A record of another contract is not read past its size and version: its fields may lie anywhere. The
// host's administrator learns it once, not once per request.
std::atomic<bool> g_bForeignRecordReported{false};

void ReportForeignRecord(DWORD cbSize, DWORD dwVersion) {
    if (g_bForeignRecordReported.exchange(true))
        return;
    const char* pszFormat = "The host passes request records of %u bytes, contract version %u; this module "
                            "needs %u bytes, version %u. The module leaves this host's requests alone.";
    LogMessage(pszFormat, static_cast<unsigned>(cbSize), static_cast<unsigned>(dwVersion),
               static_cast<unsigned>(sizeof(CDLLContext)), static_cast<unsigned>(WK_HOST_ABI_VERSION));
    if (CWKGeneralSettings* pSettings = GetGeneralSettingsInstance())
        pSettings->ReportErrorText(
            EVENT_TYPE_ERROR, pszFormat, static_cast<unsigned>(cbSize), static_cast<unsigned>(dwVersion),
            static_cast<unsigned>(sizeof(CDLLContext)), static_cast<unsigned>(WK_HOST_ABI_VERSION));
}

} // namespace

extern "C" BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    try {
        OutputDebugText("\nInitialize Settings");
        CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
        if (!pSettings)
            return FALSE;
        pSettings->SetProductNumber(WK_PRODUCT_NUMBER);
        pSettings->SetEventIds(WK_EVENT_INIT_SUCCEEDED, WK_EVENT_INIT_FAILED, WK_EVENT_ERROR_TEXT);
        if (!pSettings->Init(WK_PRODUCT_NAME, WK_MODULE_FILE_NAME, WK_RESOURCE_MODULE_NAME, WK_REGISTRY_KEY,
                             1))
            return FALSE;
        if (!pVer)
            return FALSE;
        pVer->dwFilterVersion = WK_FILTER_VERSION;
        pVer->dwFlags = WK_FILTER_FLAGS;
        const size_t cchDescription =
            std::min<size_t>(std::strlen(WK_FILTER_DESCRIPTION), SF_MAX_FILTER_DESC_LEN - 1);
        std::memcpy(pVer->lpszFilterDesc, WK_FILTER_DESCRIPTION, cchDescription);
        pVer->lpszFilterDesc[cchDescription] = '\0';
        return TRUE;
    } catch (...) {
        LogEscapedException("GetFilterVersion");
        return FALSE;
    }
}

extern "C" DWORD HttpFilterProc(CDLLContext* pContext) {
    if (!pContext)
        return WK_HOST_ABI_CONTRACT;
    if (pContext->m_cbSize != sizeof(CDLLContext) || pContext->m_dwAbiVersion != WK_HOST_ABI_VERSION) {
        // Not even the control message is written: it may not be where this module would write it.
        try {
            ReportForeignRecord(pContext->m_cbSize, pContext->m_dwAbiVersion);
        } catch (...) {
        }
        return ERROR_REVISION_MISMATCH;
    }
    try {
        CThreadErrorWordScope errorWord(pContext->m_pdwThreadError);
        CHostIdentityScope requestIdentity(pContext->m_spRequestIdentity);
        if (!GetGeneralSettingsInstance()) {
            // The process is exiting: the request goes on without the module.
            pContext->m_dwControlMessage = CM_IGNORE;
            return ERROR_SUCCESS;
        }
        CNotifications notifications;
        return notifications.Dispatch(pContext);
    } catch (...) {
        LogEscapedException("HttpFilterProc");
        pContext->m_dwControlMessage = CM_IGNORE;
        return ERROR_INVALID_DATA;
    }
}

// The module's work ends here, not in static destructors at exit: by then a host thread may still run, and
// what the module holds must already be written out and let go. The settings object itself stays for the
// process.
extern "C" BOOL TerminateFilter(DWORD) {
    try {
        CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
        const BOOL bResult = pSettings ? static_cast<BOOL>(pSettings->Terminate()) : FALSE;
        CloseLog();
        UnloadLogModule();
        return bResult;
    } catch (...) {
        LogEscapedException("TerminateFilter");
        return FALSE;
    }
}
