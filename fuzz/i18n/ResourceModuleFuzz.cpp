// libFuzzer target: the resource module reader must reject any damaged image cleanly, and every image it
// accepts must answer every lookup within its bounds.
#include "i18n/ResourceModuleData.h"

#include <cstddef>
#include <cstdint>

namespace {

void ParseAndLookUp(std::vector<BYTE> vImage) {
    DWORD dwError = 0;
    std::string csReason;
    auto spModule = CResourceModuleData::Parse(std::move(vImage), dwError, csReason);
    if (!spModule) {
        if (dwError != ERROR_BAD_FORMAT && dwError != ERROR_INVALID_DATA)
            __builtin_trap();
        return;
    }
    std::u16string wsText;
    for (LANGID wLangId : spModule->GetLanguages())
        for (uint32_t nId = 0; nId < 0x20000; nId += 7)
            spModule->FindString(wLangId, nId, wsText);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    std::vector<BYTE> vImage(pData, pData + cbData);
    ParseAndLookUp(vImage);
    // Again with a matching checksum, so that the fuzzer reaches the checks behind it.
    constexpr size_t cbChecksum = ResourceModuleFormat::c_cbChecksum;
    if (vImage.size() >= cbChecksum) {
        const uint64_t qw = ResourceModuleChecksum(vImage.data(), vImage.size() - cbChecksum);
        for (size_t i = 0; i < cbChecksum; ++i)
            vImage[vImage.size() - cbChecksum + i] = static_cast<BYTE>(qw >> (8 * i));
        ParseAndLookUp(std::move(vImage));
    }
    return 0;
}
