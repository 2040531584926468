// libFuzzer target: the resource compiler's script reader on arbitrary text; an accepted script must
// compile into a module that the reader accepts.
#include "i18n/ResourceModuleData.h"
#include "tools/rescompile/RcScript.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    CRcCompiler compiler;
    std::string csError;
    if (!compiler.AddScript("fuzz.rc", std::string(reinterpret_cast<const char*>(pData), cbData), csError)) {
        if (csError.rfind("fuzz.rc", 0) != 0)
            __builtin_trap(); // every error names the file
        return 0;
    }
    std::string csErrors;
    compiler.CheckConsistency(csErrors);
    DWORD dwError = 0;
    std::string csReason;
    if (!CResourceModuleData::Parse(compiler.Build(), dwError, csReason))
        __builtin_trap();
    return 0;
}
