#include "guard/CSendRawDataRequest.h"

#include "guard/CSWFormContext.h"
#include "guard/CWKForm.h"
#include "html/CBufferInstruction.h"
#include "log/Log.h"
#include "text/CSWFormException.h"

#include <exception>
#include <memory>
#include <stdexcept>

namespace {

const char PREFIX[] = "[CNotifications::NotifySendRawData] ";

DWORD Finish(DWORD dwResult, const char* pszControlMessage) {
    LogMessage("%sfinished.  Win32 RC=%d.  Control Message=<%s>", PREFIX, static_cast<int>(dwResult),
               pszControlMessage);
    return dwResult;
}

} // namespace

DWORD CSendRawDataRequest::Run() {
    std::shared_ptr<CBufferInstructionList> spList;
    try {
        spList = std::make_shared<CBufferInstructionList>();
    } catch (...) {
    }
    if (!m_pContext) {
        LogMessage("%sContext not populated for further activity", PREFIX);
        return Finish(ERROR_INVALID_DATA, "N/A");
    }
    DWORD dwResult = ERROR_INVALID_DATA;
    if (!spList) {
        LogMessage("%snull CBufferInstructionList", PREFIX);
    } else if (!(m_pContext->m_dwClientFlags & CF_ENABLED)) {
        LogMessage("%sWendrake is disabled for this request!", PREFIX);
    } else {
        dwResult = CollectInstructions(spList.get());
        if (dwResult == ERROR_SUCCESS)
            dwResult = Submit(spList.get());
    }
    if (dwResult != ERROR_SUCCESS)
        m_pContext->m_dwControlMessage = CM_IGNORE;
    return Finish(dwResult, ControlMessageWord(m_pContext->m_dwControlMessage));
}

DWORD CSendRawDataRequest::CollectInstructions(CBufferInstructionList* pList) {
    try {
        CSWFormContext formContext(m_pContext, pList);
        std::unique_ptr<CWKForm> spForm = CWKFormFactory::createForm(&formContext);
        if (spForm)
            return spForm->Process();
        LogMessage("%sUnknown form, no need for modification", PREFIX);
        return ERROR_INVALID_DATA;
    } catch (const std::runtime_error& e) {
        LogMessage("%sRuntime exception: %s", PREFIX, e.what());
    } catch (const std::exception& e) {
        // CSWFormException is a runtime error of the module's own, not a std::runtime_error.
        if (dynamic_cast<const CSWFormException*>(&e))
            LogMessage("%sRuntime exception: %s", PREFIX, e.what());
        else
            LogMessage("%sUnexpected exception", PREFIX);
    } catch (...) {
        LogMessage("%sUnexpected exception", PREFIX);
    }
    // A form interrupted half way would leave a page with half a guard (a script block without its dialog):
    // the page goes out as it came instead.
    if (pList->Count() > 0) {
        LogMessage("%sDropping the %d instructions collected before the exception", PREFIX,
                   static_cast<int>(pList->Count()));
        pList->Clear();
    }
    return ERROR_SUCCESS;
}

DWORD CSendRawDataRequest::Submit(CBufferInstructionList* pList) {
    if (pList->Count() == 0) {
        LogMessage("%sm_pcobBufferInstructions is Empty ", PREFIX);
        return ERROR_INVALID_DATA;
    }
    LogMessage("%sSending instructions to core services, number of instructions is %d ", PREFIX,
               static_cast<int>(pList->Count()));
    CCoreServices* pServices = m_pContext->m_pCoreServices;
    if (!pServices || !pServices->SubmitBufferCommands)
        return ERROR_SUCCESS;
    const DWORD dwResult = pServices->SubmitBufferCommands(m_pContext, pList);
    if (dwResult != ERROR_SUCCESS)
        LogMessage("%sSubmitBufferCommands returned error %d", PREFIX, static_cast<int>(dwResult));
    return dwResult;
}
