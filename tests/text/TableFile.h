// Test tables kept as data under WK_TEST_DATA_DIR: one row a line, fields separated by tabs (a run of tabs
// counts as one, so that columns can line up), '#' lines and blank lines skipped. A field may be quoted (""
// is the empty field) and may hold the escapes \\ \" \t \n \r \0 and \xHH.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testtable {

using CRow = std::vector<std::string>;

inline std::string Unescape(std::string cs) {
    if (cs.size() >= 2 && cs.front() == '"' && cs.back() == '"')
        cs = cs.substr(1, cs.size() - 2);
    std::string csOut;
    for (size_t i = 0; i < cs.size(); ++i) {
        if (cs[i] != '\\' || i + 1 == cs.size()) {
            csOut += cs[i];
            continue;
        }
        const char ch = cs[++i];
        if (ch == 'x') {
            csOut += static_cast<char>(std::stoi(cs.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            csOut += ch == 'n' ? '\n' : ch == 'r' ? '\r' : ch == 't' ? '\t' : ch == '0' ? '\0' : ch;
        }
    }
    return csOut;
}

// Throws when the file is missing or holds no row, so that a lost table fails its test (or its program).
// Without escapes every line is one field, as it stands.
inline std::vector<CRow> ReadTable(const std::string& csFile, bool bEscapes = true) {
    std::ifstream in(std::string(WK_TEST_DATA_DIR) + "/" + csFile);
    std::vector<CRow> vRows;
    for (std::string csLine; std::getline(in, csLine);) {
        if (csLine.find_first_not_of('\t') == std::string::npos || csLine[0] == '#')
            continue;
        CRow row;
        for (size_t nStart = bEscapes ? 0 : std::string::npos; nStart != std::string::npos;) {
            const size_t nTab = csLine.find('\t', nStart);
            row.push_back(Unescape(csLine.substr(nStart, nTab - nStart)));
            nStart = nTab == std::string::npos ? nTab : csLine.find_first_not_of('\t', nTab);
        }
        vRows.push_back(bEscapes ? row : CRow{csLine});
    }
    if (vRows.empty())
        throw std::runtime_error("no test table " + csFile);
    return vRows;
}

// Names parameterised tests after the first field of their row.
inline std::string RowName(const testing::TestParamInfo<CRow>& info) {
    return info.param[0];
}

} // namespace testtable
