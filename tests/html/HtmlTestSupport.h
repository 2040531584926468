// Helpers of the parser tests: a source over a text, fixtures, and pages made of random tag fragments.
#pragma once

#include "host/testing/TestHost.h"
#include "html/CElement.h"

#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace htmltest {

// A page and the source over it; the page text lives as long as the source.
struct CPage {
    explicit CPage(std::string csText, TPos nBegin = 0);
    std::string m_csText;
    std::unique_ptr<CSource> m_pSource;
    CSource* get() const { return m_pSource.get(); }
};

// Reads a file, or a file of tests/data/html.
std::string ReadFile(const std::string& csPath);
std::string ReadFixture(const std::string& csName);

// The n-th start tag with the name (0-based) from the source begin, or null.
CStartTag* NthStartTag(CSource* pSource, const std::string& csName, int n = 0);

// The text nTimes over.
std::string Repeated(const std::string& csText, int nTimes);

// Up to nMaxPieces fragments that mean something to the parser (delimiters, names, quotes, NUL bytes).
std::string FragmentPage(std::mt19937& rng, size_t nMaxPieces);

// A row of a table of tests/data/html (tests/TableFile.h), its fields' escapes decoded.
struct CRow {
    std::vector<std::string> m_vFields;
    const std::string& operator[](size_t n) const { return m_vFields.at(n); }
    // A number; "-" is INVALID_POS.
    TPos pos(size_t n) const;
};
std::vector<CRow> ReadTable(const std::string& csName);

// Names the rows of a table test after their first field or their pszName.
inline std::string RowName(const CRow& row) {
    return row[0];
}
template <class T> std::string RowName(const T& row) {
    return row.pszName;
}
// Prints a row as its name, so that the test listing (and the names ctest takes from it) stays readable. A
// test file whose rows are its own structs brings the template in with "using htmltest::PrintTo;".
inline void PrintTo(const CRow& row, std::ostream* pOut) {
    *pOut << row[0];
}
template <class T>
requires requires(const T& row) {
    row.pszName;
}
void PrintTo(const T& row, std::ostream* pOut) {
    *pOut << row.pszName;
}

struct CRowName {
    template <class T> std::string operator()(const ::testing::TestParamInfo<T>& info) const {
        return tabletest::NameOf(RowName(info.param));
    }
};

} // namespace htmltest
