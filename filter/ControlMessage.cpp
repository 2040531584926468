#include "filter/ControlMessage.h"

const char* ControlMessageWord(DWORD dwControlMessage) {
    switch (dwControlMessage) {
    case CM_NONE:
        return "None";
    case CM_IGNORE:
        return "Ignore";
    case CM_HANDLED_REDIRECTED:
        return "Handled/Redirected";
    case CM_REPLACE:
        return "Replace";
    case CM_COMPLETED:
        return "Completed";
    default:
        return "Unknown";
    }
}

const char* ControlMessageWord(const CDLLContext* pContext) {
    return pContext ? ControlMessageWord(pContext->m_dwControlMessage) : "N/A";
}
