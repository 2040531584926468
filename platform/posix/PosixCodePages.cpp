// Placeholder until the iconv backend lands.
#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

namespace {
class CPosixCodePages : public ICodePages {
public:
    bool WideToMultiByte(UINT, const std::u16string&, std::string& csOut, DWORD& dwError) override {
        csOut.clear();
        dwError = ERROR_NOT_SUPPORTED;
        return false;
    }
    UINT GetThreadAnsiCodePage() override { return CP_UTF8_CODE_PAGE; }
};
} // namespace

ICodePages& PosixCodePages() {
    return ImmortalInstance<CPosixCodePages>();
}
