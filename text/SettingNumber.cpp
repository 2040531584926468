#include "text/SettingNumber.h"

#include <cstdint>

int32_t SettingsAtoi(const std::string& csText) {
    size_t n = 0;
    while (n < csText.size() && (csText[n] == ' ' || (csText[n] >= '\t' && csText[n] <= '\r')))
        ++n;
    bool bNegative = false;
    if (n < csText.size() && (csText[n] == '+' || csText[n] == '-'))
        bNegative = csText[n++] == '-';
    int64_t llValue = 0;
    for (; n < csText.size() && csText[n] >= '0' && csText[n] <= '9'; ++n) {
        llValue = llValue * 10 + (csText[n] - '0');
        if (llValue > static_cast<int64_t>(INT32_MAX) + 1)
            break;
    }
    if (bNegative)
        llValue = -llValue;
    if (llValue > INT32_MAX)
        return INT32_MAX;
    if (llValue < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(llValue);
}
