// libFuzzer target: the input's first line is a pattern (or a "|" list), the rest the user agent. A pattern
// without wildcards matches exactly its own text, ignoring case; a single pattern matches as its list does.
#include "text/CWildCharParser.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    const std::string_view svInput(reinterpret_cast<const char*>(pData), cbData);
    const size_t nBreak = svInput.find('\n');
    const std::string_view svPattern = svInput.substr(0, nBreak);
    const std::string_view svText =
        nBreak == std::string_view::npos ? std::string_view() : svInput.substr(nBreak + 1);
    const bool bMatch = CWildCharParser(ToCaseless(svPattern)).Match(ToCaseless(svText));
    const int nListMatch = MatchWildcardList(svText, svPattern);
    if (svPattern.find('|') == std::string_view::npos && nListMatch != (bMatch ? 1 : 0))
        __builtin_trap();
    if (!svPattern.empty() && svPattern.find_first_of("*?|") == std::string_view::npos &&
        bMatch != EqualsCaseless(svPattern, svText))
        __builtin_trap();
    return 0;
}
