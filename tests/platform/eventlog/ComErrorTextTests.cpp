#include "platform/ComErrorText.h"

#include <gtest/gtest.h>

namespace {

// The system's text without its line end; else the dispatch error's code, hr - 0x80040200, for the rest of
// that range; else the value.
TEST(ComErrorTextTest, MessageFormsAndDispatchCodes) {
    const struct {
        DWORD dwHr;
        WORD wCode;
        const char* pszExpected;
    } aCases[] = {
        {0x00000000, 0, "The operation completed successfully."},
        {0x80004005, 0, "Unspecified error"},
        {0x80070005, 0, "Access is denied."},
        {0x80040201, 1, "IDispatch error #1"},
        {0x8004FFFF, 0xFDFF, "IDispatch error #65023"},
        // The first value of the range has no code; then just outside the range on both sides.
        {0x80040200, 0, "Unknown error 0x80040200"},
        {0x800401FF, 0, "Unknown error 0x800401FF"},
        {0x80050000, 0, "Unknown error 0x80050000"},
        {0x00040201, 0, "Unknown error 0x40201"},
        {0xFFFFFFFF, 0, "Unknown error 0xFFFFFFFF"},
    };
    for (const auto& c : aCases) {
        EXPECT_EQ(ComErrorMessage(static_cast<HRESULT>(c.dwHr)), c.pszExpected) << std::hex << c.dwHr;
        EXPECT_EQ(ComDispatchErrorCode(static_cast<HRESULT>(c.dwHr)), c.wCode) << std::hex << c.dwHr;
    }
}

} // namespace
