// libFuzzer target: the document facade over arbitrary bytes (input layout in DomFuzzHarness.h).
#include "fuzz/html/DomFuzzHarness.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    if (!domfuzz::RunInput(pData, cbData))
        __builtin_trap();
    return 0;
}
