#include "platform/ComErrorText.h"

#include "platform/SystemMessage.h"

#include <cstdio>

WORD ComDispatchErrorCode(HRESULT hr) {
    const DWORD dwHr = static_cast<DWORD>(hr);
    const DWORD dwFirst = static_cast<DWORD>(DISP_E_FIRST_DISPATCH_ERROR);
    const DWORD dwLast = static_cast<DWORD>(DISP_E_LAST_DISPATCH_ERROR);
    if (dwHr < dwFirst || dwHr > dwLast)
        return 0;
    return static_cast<WORD>(dwHr - dwFirst);
}

std::string ComErrorMessage(HRESULT hr) {
    std::string csText;
    if (GetSystemMessageText(static_cast<DWORD>(hr), csText)) {
        while (!csText.empty() && (csText.back() == '\n' || csText.back() == '\r'))
            csText.pop_back();
        return csText;
    }
    char szText[48];
    if (WORD wCode = ComDispatchErrorCode(hr))
        std::snprintf(szText, sizeof(szText), "IDispatch error #%d", static_cast<int>(wCode));
    else
        std::snprintf(szText, sizeof(szText), "Unknown error 0x%0lX",
                      static_cast<unsigned long>(static_cast<DWORD>(hr)));
    return szText;
}
