#include "HtmlTestSupport.h"

#include "log/Log.h"

#include <fstream>
#include <mutex>
#include <sstream>

namespace htmltest {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_vLines;

void CaptureSink(const char* pszText) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_vLines.emplace_back(pszText ? pszText : "");
}

PFN_LOG_SINK g_pfnPreviousSink = nullptr;
DWORD g_dwPreviousLevel = 0;
} // namespace

CLogCapture::CLogCapture() {
    g_pfnPreviousSink = GetLogSink();
    g_dwPreviousLevel = GetLogLevel();
    clear();
    SetLogSink(&CaptureSink);
    SetLogLevel(LOG_LEVEL_ON);
}

CLogCapture::~CLogCapture() {
    SetLogLevel(g_dwPreviousLevel);
    SetLogSink(g_pfnPreviousSink);
}

const std::vector<std::string>& CLogCapture::lines() const {
    return g_vLines;
}

bool CLogCapture::contains(const std::string& csText) const {
    return count(csText) > 0;
}

size_t CLogCapture::count(const std::string& csText) const {
    std::lock_guard<std::mutex> guard(g_mutex);
    size_t n = 0;
    for (const std::string& csLine : g_vLines)
        if (csLine.find(csText) != std::string::npos)
            ++n;
    return n;
}

void CLogCapture::clear() {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_vLines.clear();
}

CPage::CPage(std::string csText, TPos nBegin) : m_csText(std::move(csText)) {
    m_pSource = CSource::CREATE_NEW_INST(m_csText.data(), nBegin, m_csText.size());
}

std::string ReadFixture(const std::string& csName) {
    std::ifstream in(std::string(WK_TEST_DATA_DIR) + "/html/" + csName, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

CStartTag* FirstStartTag(CSource* pSource, const std::string& csName, TPos nFrom) {
    return CStartTag::findPreviousOrNext(pSource, nFrom, csName, SEARCH_NEXT);
}

} // namespace htmltest
