// Helpers of the parser tests: a source over a text, fixtures, and pages made of random tag fragments.
#pragma once

#include "abi/HostAbi.h"
#include "host/testing/TestHost.h"
#include "html/CBufferInstruction.h"
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

// A page in its own buffer and the host's record over it; the record points into the buffer, so no copies.
struct CDomPage {
    explicit CDomPage(std::string csText);
    CDomPage(const CDomPage&) = delete;
    std::string m_csText;
    CCommonPointers m_pointers;
    // An address at any offset, also outside the buffer (never dereferenced by the test).
    const char* AddressAt(int64_t nOffset) const;
    // The host's addresses where the tag texts first occur from nFrom on, passing over comments as the host
    // does, or (to give addresses the parser would not find) not.
    CDomPage& Locate(size_t nFrom = 0, bool bPassComments = true);
    uint64_t Base() const { return reinterpret_cast<uintptr_t>(m_csText.data()); }
    // The page as the host edits it.
    std::string Apply(const CBufferInstructionList& list) const;
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

// Prints a row as its name, so that the test listing (and the names ctest takes from it) stays readable.
inline void PrintTo(const CRow& row, std::ostream* pOut) {
    *pOut << row[0];
}

inline std::string RowName(const ::testing::TestParamInfo<CRow>& info) {
    return tabletest::NameOf(info.param[0]);
}

} // namespace htmltest
