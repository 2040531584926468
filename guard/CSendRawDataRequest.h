// The rewriting of one response block: recognise the webmail page, let its guard form work out the edits,
// and hand them to the host. The module never changes the bytes itself; a page it cannot handle goes out
// as it came.
#pragma once

#include "abi/HostAbi.h"

class CBufferInstructionList;

class CSendRawDataRequest {
public:
    explicit CSendRawDataRequest(CDLLContext* pContext) : m_pContext(pContext) {}

    // 0 when the host took the page's instructions, else a Win32 code with the control message Ignore.
    DWORD Run();

private:
    // The form's result; 0 after an exception, with whatever was collected dropped (nothing to submit).
    DWORD CollectInstructions(CBufferInstructionList* pList);
    DWORD Submit(CBufferInstructionList* pList);

    CDLLContext* m_pContext;
};
