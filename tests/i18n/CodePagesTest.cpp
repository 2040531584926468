// The system's code-page conversion: exact bytes of each code page the charset table names, the default
// character for what a code page lacks, broken UTF-16, and many threads at once.
#include "platform/CPlatform.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using tabletest::TRow;

// tests/data/i18n/codepages.txt: name | code page | UTF-16 text | the code page's bytes.
const std::vector<TRow>& ConversionCases() {
    static const std::vector<TRow> s_vCases = tabletest::ReadTable("i18n/codepages.txt");
    return s_vCases;
}

std::optional<std::string> Converted(const TRow& row) {
    std::string csOut = "stale";
    DWORD dwError = 12345;
    if (!CPlatform::CodePages().WideToMultiByte(static_cast<UINT>(tabletest::Number(row.at(1))),
                                                tabletest::Units(row.at(2)), csOut, dwError))
        return std::nullopt;
    return csOut;
}

class CodePageConversion : public ::testing::TestWithParam<TRow> {};

TEST_P(CodePageConversion, GivesTheCodePagesBytes) {
    EXPECT_EQ(Converted(GetParam()), tabletest::Bytes(GetParam().at(3)));
}

INSTANTIATE_TEST_SUITE_P(Cases, CodePageConversion, ::testing::ValuesIn(ConversionCases()),
                         tabletest::RowName);

// Code pages this system has no converter for fail before any byte is written, even for an empty text.
TEST(CodePages, MissingCodePageFailsWithoutOutput) {
    for (UINT nCodePage : {0u, 1u, 10005u, 10004u, 10001u, 10002u, 10008u, 52936u, 20866u, 99999u})
        for (const std::u16string& wsText : {std::u16string(u"Hello \u05E9"), std::u16string()}) {
            std::string csOut = "stale";
            DWORD dwError = 0;
            EXPECT_FALSE(CPlatform::CodePages().WideToMultiByte(nCodePage, wsText, csOut, dwError))
                << nCodePage;
            EXPECT_EQ(dwError, ERROR_INVALID_PARAMETER);
            EXPECT_TRUE(csOut.empty());
        }
}

// A presentation form the converter writes as three bytes: the output outgrows its first estimate.
TEST(CodePages, OutputLongerThanTwoBytesPerUnitGrows) {
    const std::u16string wsText(5000, u'\uFB2C');
    std::string csExpected;
    for (size_t i = 0; i < wsText.size(); ++i)
        csExpected += "\xF9\xCC\xD1";
    std::string csOut;
    DWORD dwError = 0;
    ASSERT_TRUE(CPlatform::CodePages().WideToMultiByte(1255, wsText + u"\u20AC", csOut, dwError));
    EXPECT_EQ(csOut, csExpected + "\x80");
}

// Every thread keeps its own converters; results must not bleed between threads, and the converters of
// ended threads must be released (the sanitizer build reports a leak otherwise).
TEST(CodePages, ConcurrentConversionsGiveTheSameBytes) {
    const std::vector<TRow>& vCases = ConversionCases();
    std::vector<std::thread> vThreads;
    std::vector<int> vMismatches(8, 0);
    for (size_t t = 0; t < vMismatches.size(); ++t)
        vThreads.emplace_back([&, t] {
            for (int nRound = 0; nRound < 200; ++nRound)
                for (size_t i = t % vCases.size(); i < vCases.size(); ++i)
                    vMismatches[t] += Converted(vCases[i]) != tabletest::Bytes(vCases[i].at(3));
        });
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(vMismatches, std::vector<int>(vMismatches.size(), 0));
}

} // namespace
