// Helpers of the parser tests: a source over a text, and a capture of the diagnostic log's lines.
#pragma once

#include "html/CElement.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace htmltest {

// Turns the log on and collects its lines for the life of the object.
class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    const std::vector<std::string>& lines() const;
    // True when some line contains the text.
    bool contains(const std::string& csText) const;
    size_t count(const std::string& csText) const;
    void clear();
};

// A page and the source over it; the page text lives as long as the source.
struct CPage {
    explicit CPage(std::string csText, TPos nBegin = 0);
    std::string m_csText;
    std::unique_ptr<CSource> m_pSource;
    CSource* get() const { return m_pSource.get(); }
};

// Reads a fixture from tests/data/html.
std::string ReadFixture(const std::string& csName);

// The first start tag at or after the position (any name), or null.
CStartTag* FirstStartTag(CSource* pSource, const std::string& csName, TPos nFrom = 0);

} // namespace htmltest
