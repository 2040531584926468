#include "HtmlTestSupport.h"

#include "fuzz/html/DomFuzzHarness.h"
#include "host/common/BufferApply.h"

#include <fstream>
#include <iterator>

namespace htmltest {

CPage::CPage(std::string csText, TPos nBegin) : m_csText(std::move(csText)) {
    m_pSource = CSource::CREATE_NEW_INST(m_csText.data(), nBegin, m_csText.size());
}

CDomPage::CDomPage(std::string csText) : m_csText(std::move(csText)) {
    m_pointers.m_pDataBegin = m_csText.data();
    m_pointers.m_pDataLast = AddressAt(static_cast<int64_t>(m_csText.size()) - 1);
}

const char* CDomPage::AddressAt(int64_t nOffset) const {
    return domfuzz::AddressAt(m_csText.data(), nOffset);
}

CDomPage& CDomPage::Locate(size_t nFrom, bool bPassComments) {
    for (auto [ppAddress, pszText] : {std::pair{&m_pointers.m_pHtmlStartTag, "<html"},
                                      {&m_pointers.m_pHeadStartTag, "<head"},
                                      {&m_pointers.m_pHeadEndTag, "</head"},
                                      {&m_pointers.m_pBodyStartTag, "<body"},
                                      {&m_pointers.m_pBodyEndTag, "</body"}})
        *ppAddress = domfuzz::Locate(m_csText, m_csText.data(), pszText, nFrom, bPassComments);
    return *this;
}

std::string CDomPage::Apply(const CBufferInstructionList& list) const {
    std::string csOut, csError;
    EXPECT_TRUE(ApplyBufferInstructions(m_csText, Base(), list, csOut, csError)) << csError;
    return csOut;
}

std::string ReadFile(const std::string& csPath) {
    std::ifstream in(csPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFixture(const std::string& csName) {
    return ReadFile(std::string(WK_TEST_DATA_DIR) + "/html/" + csName);
}

TPos CRow::pos(size_t n) const {
    return operator[](n) == "-" ? INVALID_POS : static_cast<TPos>(std::stoull(operator[](n)));
}

std::vector<CRow> ReadTable(const std::string& csName) {
    std::vector<CRow> vRows;
    for (const tabletest::TRow& row : tabletest::ReadTable("html/" + csName)) {
        vRows.emplace_back();
        for (const std::string& csField : row)
            vRows.back().m_vFields.push_back(tabletest::Bytes(csField));
    }
    return vRows;
}

CStartTag* NthStartTag(CSource* pSource, const std::string& csName, int n) {
    CStartTag* pTag = nullptr;
    for (TPos nPos = pSource->getBegin(); n-- >= 0; nPos = pTag->getEnd())
        if (!(pTag = CStartTag::findPreviousOrNext(pSource, nPos, csName, SEARCH_NEXT)))
            return nullptr;
    return pTag;
}

std::string Repeated(const std::string& csText, int nTimes) {
    std::string cs;
    while (nTimes-- > 0)
        cs += csText;
    return cs;
}

std::string FragmentPage(std::mt19937& rng, size_t nMaxPieces) {
    static const std::vector<CRow> s_vFragments = ReadTable("fragments.txt");
    const size_t nFragments = s_vFragments.size();
    std::string csText;
    for (size_t i = 0, nPieces = rng() % (nMaxPieces + 1); i < nPieces; ++i) {
        const size_t k = rng() % (nFragments + 1);
        if (k == nFragments)
            csText.push_back('\0');
        else
            csText += s_vFragments[k][0];
    }
    return csText;
}

} // namespace htmltest
