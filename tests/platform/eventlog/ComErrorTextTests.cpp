#include "platform/ComErrorText.h"

#include <gtest/gtest.h>

namespace {

TEST(ComErrorTextTest, MessageForms) {
    const struct {
        DWORD dwHr;
        const char* pszExpected;
    } aCases[] = {
        // The system's texts, without their line end.
        {0x00000000, "The operation completed successfully."},
        {0x80004005, "Unspecified error"},
        {0x80070005, "Access is denied."},
        {0x8007000E, "Not enough memory resources are available to complete this operation."},
        {0x80070057, "The parameter is incorrect."},
        // Dispatch errors carry their code: hr - 0x80040200.
        {0x80040201, "IDispatch error #1"},
        {0x800403E8, "IDispatch error #488"},
        {0x8004FFFF, "IDispatch error #65023"},
        // The first value of the range has no code.
        {0x80040200, "Unknown error 0x80040200"},
        // Just outside the range on both sides.
        {0x800401FF, "Unknown error 0x800401FF"},
        {0x80050000, "Unknown error 0x80050000"},
        {0x8007ABCD, "Unknown error 0x8007ABCD"},
        {0x00000ABC, "Unknown error 0xABC"},
        {0xFFFFFFFF, "Unknown error 0xFFFFFFFF"},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(ComErrorMessage(static_cast<HRESULT>(c.dwHr)), c.pszExpected) << std::hex << c.dwHr;
}

TEST(ComErrorTextTest, DispatchCodes) {
    const struct {
        DWORD dwHr;
        WORD wCode;
    } aCases[] = {{0x80040200, 0}, {0x80040201, 1}, {0x8004FFFF, 0xFDFF}, {0x800401FF, 0},
                  {0x80050000, 0}, {0x00040201, 0}, {0x80070005, 0}};
    for (const auto& c : aCases)
        EXPECT_EQ(ComDispatchErrorCode(static_cast<HRESULT>(c.dwHr)), c.wCode) << std::hex << c.dwHr;
}

} // namespace
