// The system's code-page conversion: exact bytes of each code page the charset table names, the default
// character for what a code page lacks, broken UTF-16, and many threads at once.
#include "platform/CPlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;

namespace {

struct CConversionCase {
    UINT nCodePage;
    std::u16string wsText;
    std::string csExpected;
};

std::ostream& operator<<(std::ostream& os, const CConversionCase& c) {
    return os << "code page " << c.nCodePage << ", " << c.wsText.size() << " units";
}

const std::vector<CConversionCase>& ConversionCases() {
    static const std::vector<CConversionCase> s_vCases = {
        {1252, u"", ""},
        {1252, u"a\0b"s, "a\0b"s}, // the whole text, zero units included
        // Where the Windows tables differ from the plain standards: the euro, Microsoft's Shift_JIS rows.
        {28597, u"\u20AC\u20AF\u037A", "\xA4\xA5\xAA"},
        {936, u"\u20AC", "\x80"},
        {950, u"\u20AC\u2027\uFE51", "\xA3\xE1\xA1\x45\xA1\x4E"},
        {932, u"\uFF5E\u2460\u2170\uFF0D", "\x81\x60\x87\x40\xFA\x40\x81\x7C"},
        // What the code page lacks becomes its default character; a surrogate pair is one character.
        {28592, u"a\u20ACb", "a?b"},
        {1252, u"\u65E5\u672C", "??"},
        {1252, u"x\xD83D\xDE00y", "x?y"},
        {932, u"\u0E01\uD55C", "??"},
        {936, u"\u4E2D\uD55C\u6587", "\xD6\xD0?\xCE\xC4"},
        {950, u"\u0E01\u4E2D", "?\xA4\xA4"},
        // Surrogates without their partner, in every position.
        {1252, u"a\xD800\x62", "a?b"},
        {1252, u"a\xDC00\x62", "a?b"},
        {1252, u"ab\xD800", "ab?"},
        {1252, u"\xDC00\xD800", "??"},
        {932, u"\u65E5\xD800\u672C", "\x93\xFA?\x96\x7B"},
        {936, u"\xDBFF", "?"},
        {950, u"\xDFFF\u4E2D", "?\xA4\xA4"},
        // UTF-8, written directly: the boundaries of each sequence length, and U+FFFD for a lone surrogate.
        {CP_UTF8_CODE_PAGE, u"a<\"&", "a<\"&"},
        {CP_UTF8_CODE_PAGE, u"\x7F\x80", "\x7F\xC2\x80"},
        {CP_UTF8_CODE_PAGE, u"\x7FF\x800", "\xDF\xBF\xE0\xA0\x80"},
        {CP_UTF8_CODE_PAGE, u"\xFFFF", "\xEF\xBF\xBF"},
        {CP_UTF8_CODE_PAGE, u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {CP_UTF8_CODE_PAGE, u"\xD83D", "\xEF\xBF\xBD"},
        {CP_UTF8_CODE_PAGE, u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {CP_UTF8_CODE_PAGE, u"x\0y"s, "x\0y"s},
    };
    return s_vCases;
}

class CodePageConversion : public ::testing::TestWithParam<CConversionCase> {};

TEST_P(CodePageConversion, GivesTheCodePagesBytes) {
    std::string csOut = "stale";
    DWORD dwError = 12345;
    EXPECT_TRUE(
        CPlatform::CodePages().WideToMultiByte(GetParam().nCodePage, GetParam().wsText, csOut, dwError));
    EXPECT_EQ(csOut, GetParam().csExpected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CodePageConversion, ::testing::ValuesIn(ConversionCases()));

class MissingCodePage : public ::testing::TestWithParam<UINT> {};

// Code pages this system has no converter for fail before any byte is written, even for an empty text.
TEST_P(MissingCodePage, FailsWithoutOutput) {
    for (const std::u16string& wsText : {std::u16string(u"Hello \u05E9"), std::u16string()}) {
        std::string csOut = "stale";
        DWORD dwError = 0;
        EXPECT_FALSE(CPlatform::CodePages().WideToMultiByte(GetParam(), wsText, csOut, dwError));
        EXPECT_EQ(dwError, ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(csOut.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MissingCodePage,
                         ::testing::Values(0u, 1u, 10005u, 10004u, 10001u, 10002u, 10008u, 52936u, 20866u,
                                           99999u));

TEST(CodePages, ThreadCodePageIsUtf8) {
    EXPECT_EQ(CPlatform::CodePages().GetThreadAnsiCodePage(), CP_UTF8_CODE_PAGE);
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
    const std::vector<CConversionCase>& vCases = ConversionCases();
    std::vector<std::thread> vThreads;
    std::vector<int> vMismatches(8, 0);
    for (size_t t = 0; t < vMismatches.size(); ++t)
        vThreads.emplace_back([&, t] {
            for (int nRound = 0; nRound < 200; ++nRound)
                for (size_t i = t % vCases.size(); i < vCases.size(); ++i) {
                    std::string csOut;
                    DWORD dwError = 0;
                    if (!CPlatform::CodePages().WideToMultiByte(vCases[i].nCodePage, vCases[i].wsText, csOut,
                                                                dwError) ||
                        csOut != vCases[i].csExpected)
                        ++vMismatches[t];
                }
        });
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(vMismatches, std::vector<int>(vMismatches.size(), 0));
}

} // namespace
