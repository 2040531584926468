// The word of a context's control message for the handlers' closing log lines.
#pragma once

#include "abi/HostAbi.h"

// The word for a context, "N/A" when there is none.
const char* ControlMessageWord(const CDLLContext* pContext);
