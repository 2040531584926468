// The words under which control messages appear in the handlers' closing log lines.
#pragma once

#include "abi/HostAbi.h"

const char* ControlMessageWord(DWORD dwControlMessage);
// The word for a context, "N/A" when there is none.
const char* ControlMessageWord(const CDLLContext* pContext);
