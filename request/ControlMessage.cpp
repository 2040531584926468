#include "request/ControlMessage.h"

const char* ControlMessageWord(const CDLLContext* pContext) {
    return pContext ? ControlMessageWord(pContext->m_dwControlMessage) : "N/A";
}
