#include "platform/ComErrorText.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

namespace {

TEST(ComErrorTextTest, MessageFormsAndDispatchCodes) {
    for (const tabletest::TRow& row : tabletest::ReadTable("platform/com-error-text.txt")) {
        SCOPED_TRACE(row[0]);
        const HRESULT hr = static_cast<HRESULT>(std::stoul(row[0], nullptr, 16));
        EXPECT_EQ(ComErrorMessage(hr), row[2]);
        EXPECT_EQ(ComDispatchErrorCode(hr), std::stoi(row[1]));
    }
}

} // namespace
