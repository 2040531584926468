// Case tables kept as data under tests/data: one row a line, fields separated by " | ", blank lines and lines
// starting with '#' skipped. Fields keep their C escapes (\n \r \t \0 \\ \| \xHH, and \uHHHH for UTF-16)
// until a test decodes them, so that control bytes and broken encodings stay readable in the file.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

namespace tabletest {

typedef std::vector<std::string> TRow;

// A missing file gives one row naming it, whose fields the test cannot find (at() throws: the test fails).
inline std::vector<TRow> ReadTable(const std::string& csName) {
    std::ifstream file(std::string(WK_TEST_DATA_DIR) + "/" + csName, std::ios::binary);
    if (!file)
        return {TRow{"MissingTable"}};
    std::vector<TRow> vRows;
    for (std::string csLine; std::getline(file, csLine);) {
        if (csLine.empty() || csLine[0] == '#')
            continue;
        TRow row(1);
        for (size_t n = 0; n < csLine.size(); ++n) {
            if (csLine.compare(n, 3, " | ") == 0) {
                row.emplace_back();
                n += 2;
            } else {
                row.back() += csLine[n];
                if (csLine[n] == '\\' && n + 1 < csLine.size())
                    row.back() += csLine[++n];
            }
        }
        vRows.push_back(row);
    }
    return vRows;
}

template <class TChar> std::basic_string<TChar> Unescape(const std::string& cs) {
    std::basic_string<TChar> out;
    for (size_t n = 0; n < cs.size(); ++n) {
        if (cs[n] != '\\' || n + 1 == cs.size()) {
            out += static_cast<TChar>(static_cast<unsigned char>(cs[n]));
            continue;
        }
        const char ch = cs[++n];
        const size_t cDigits = ch == 'x' ? 2 : ch == 'u' ? 4 : 0;
        if (cDigits) {
            out += static_cast<TChar>(std::stoul(cs.substr(n + 1, cDigits), nullptr, 16));
            n += cDigits;
        } else {
            out += static_cast<TChar>(ch == 'n'   ? '\n'
                                      : ch == 'r' ? '\r'
                                      : ch == 't' ? '\t'
                                      : ch == '0' ? 0
                                                  : ch);
        }
    }
    return out;
}

inline std::string Bytes(const std::string& cs) {
    return Unescape<char>(cs);
}
inline std::u16string Units(const std::string& cs) {
    return Unescape<char16_t>(cs);
}
// Decimal, or hexadecimal with 0x; negative numbers allowed.
inline long Number(const std::string& cs) {
    return std::stol(cs, nullptr, 0);
}

// A row's first field as a test name.
inline std::string NameOf(const std::string& cs) {
    std::string csName = cs;
    for (char& ch : csName)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return csName;
}
inline std::string RowName(const testing::TestParamInfo<TRow>& info) {
    return NameOf(info.param.at(0));
}

} // namespace tabletest
